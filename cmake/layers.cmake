# The layers. Each folder of the program is a library of its own that links the layers it
# may use, and is compiled with an include root of its own (layers/FOLDER in the build)
# that holds only its folder and those layers: an include against the layers does not
# compile. Of platform/, the layers above see only the seam (HORALIN_PLATFORM_SEAM), not a
# backend's own headers. host/ is declarations only, and has no library.

set(HORALIN_PLATFORM_SEAM platform.h help.h)

# Makes the include root of `folder`, which may use the folders `uses`, into `root_var`.
function(horalin_layer_root root_var folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(used ${folder} ${ARGN})
    if(used STREQUAL "platform" AND NOT folder STREQUAL "platform")
      file(MAKE_DIRECTORY ${root}/platform)
      foreach(header ${HORALIN_PLATFORM_SEAM})
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/platform/${header} ${root}/platform/${header} SYMBOLIC)
      endforeach()
    else()
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${used} ${root}/${used} SYMBOLIC)
    endif()
  endforeach()
  set(${root_var} ${root} ${CMAKE_BINARY_DIR}/generated PARENT_SCOPE)
endfunction()

# A static library horalin_FOLDER of `SOURCES`, which may include and link the layers of `USES`.
function(horalin_layer folder)
  cmake_parse_arguments(PARSE_ARGV 1 layer "" "" "SOURCES;USES")
  horalin_layer_root(root ${folder} ${layer_USES})
  add_library(horalin_${folder} STATIC ${layer_SOURCES})
  target_include_directories(horalin_${folder} PRIVATE ${root})
  set(libraries ${layer_USES})
  list(REMOVE_ITEM libraries host)
  list(TRANSFORM libraries PREPEND horalin_)
  target_link_libraries(horalin_${folder} PUBLIC ${libraries})
endfunction()
