# Fuzz targets (libFuzzer, clang): the engine under AddressSanitizer and
# UndefinedBehaviorSanitizer with coverage for the fuzzer, one program per target in
# fuzz/, each linked with the tests' capturing host (tests/support/test_host.cpp), which
# keeps what the plug-in writes and counts its error reports. Included instead of the POSIX
# build when HORALIN_FUZZ is on.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz targets need clang (cmake --preset fuzz)")
endif()

add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g
                    -fsanitize-coverage-ignorelist=${CMAKE_SOURCE_DIR}/fuzz/coverage_ignorelist.txt)

set(HORALIN_FUZZ_TARGETS fuzz/datefmt_fuzz.cpp fuzz/format_fuzz.cpp fuzz/reader_fuzz.cpp fuzz/restamp_fuzz.cpp
    fuzz/tokenizer_fuzz.cpp fuzz/ts_fuzz.cpp)
foreach(source ${HORALIN_FUZZ_TARGETS})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source} fuzz/fuzz_support.cpp tests/support/test_host.cpp)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(${name} PRIVATE horalin_plugin horalin_hostkit)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
endforeach()
