# The Windows build: Horalin.dll for the shell, and horalin.exe with a stand-in for the
# shell's host library in host/TakeCmd.dll.

enable_language(RC)
set(HORALIN_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# The import library for the host's TakeCmd.dll, made from our own declarations.
set(TAKECMD_DEF ${CMAKE_SOURCE_DIR}/host/TakeCmd.def)
set(TAKECMD_IMPLIB ${CMAKE_BINARY_DIR}/libtakecmd.a)
add_custom_command(OUTPUT ${TAKECMD_IMPLIB}
  COMMAND ${CMAKE_DLLTOOL} -d ${TAKECMD_DEF} -D TakeCmd.dll -l ${TAKECMD_IMPLIB}
  DEPENDS ${TAKECMD_DEF} VERBATIM)
add_custom_target(takecmd_implib DEPENDS ${TAKECMD_IMPLIB})

# Build stamp for the version resource.
string(TIMESTAMP HORALIN_BUILD_TIME "%Y-%m-%d %H:%M:%S")
cmake_host_system_information(RESULT HORALIN_BUILD_HOST QUERY HOSTNAME)
configure_file(plugin/build_stamp.h.in ${CMAKE_BINARY_DIR}/generated/build_stamp.h @ONLY)

add_library(Horalin SHARED plugin/Horalin.def plugin/Horalin.rc)
set_target_properties(Horalin PROPERTIES PREFIX "" OUTPUT_NAME Horalin)
target_include_directories(Horalin PRIVATE ${CMAKE_BINARY_DIR}/generated ${CMAKE_SOURCE_DIR}/plugin)
add_dependencies(Horalin takecmd_implib)
# Every object of the shell-facing layer, whose exports nothing in the library calls; the
# layers below come in as it needs them.
target_link_libraries(Horalin PRIVATE $<LINK_LIBRARY:WHOLE_ARCHIVE,horalin_plugin> ${TAKECMD_IMPLIB} advapi32 user32)
target_link_options(Horalin PRIVATE ${HORALIN_STATIC_RUNTIME} -Wl,--no-insert-timestamp)

# The stand-in host library, in its own folder so that it is never taken for the shell's.
set(TAKECMD_SOURCES hosts/windows/takecmd/takecmd.cpp)
add_library(TakeCmd SHARED ${TAKECMD_SOURCES} ${TAKECMD_DEF})
set_target_properties(TakeCmd PROPERTIES PREFIX "" OUTPUT_NAME TakeCmd
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/host)
target_include_directories(TakeCmd PRIVATE ${HORALIN_HOSTS_ROOT})
target_link_libraries(TakeCmd PRIVATE horalin_hostkit)
target_link_options(TakeCmd PRIVATE ${HORALIN_STATIC_RUNTIME})

set(HORALIN_WINDOWS_HOST_SOURCES hosts/windows/main.cpp)
add_executable(horalin_exe ${HORALIN_WINDOWS_HOST_SOURCES})
set_target_properties(horalin_exe PROPERTIES OUTPUT_NAME horalin)
target_include_directories(horalin_exe PRIVATE ${HORALIN_HOSTS_ROOT})
target_link_libraries(horalin_exe PRIVATE horalin_hostkit horalin_platform)
target_link_options(horalin_exe PRIVATE ${HORALIN_STATIC_RUNTIME} -municode)
add_dependencies(horalin_exe Horalin TakeCmd)

# The reader's property over every code page that the build accepts, as a program that the
# end-to-end tests run under Wine (the unit tests check it in the POSIX build).
add_executable(code_page_property tests/support/code_page_property.cpp tests/support/code_page_property_main.cpp)
set_target_properties(code_page_property PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_include_directories(code_page_property PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(code_page_property PRIVATE horalin_lines)
target_link_options(code_page_property PRIVATE ${HORALIN_STATIC_RUNTIME})
