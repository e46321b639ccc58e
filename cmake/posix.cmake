# The POSIX build: the horalin command, the unit and end-to-end tests, benchmarks.

set(HORALIN_POSIX_HOST_SOURCES hosts/posix/host_functions.cpp hosts/posix/main.cpp)
add_executable(horalin ${HORALIN_POSIX_HOST_SOURCES})
target_include_directories(horalin PRIVATE ${HORALIN_HOSTS_ROOT})
target_link_libraries(horalin PRIVATE horalin_plugin horalin_hostkit)
target_link_options(horalin PRIVATE -static-libstdc++ -static-libgcc)

enable_testing()
find_package(GTest REQUIRED)

# Unit tests: the engine through the platform seam, output captured by a test host.
set(HORALIN_UNIT_SOURCES
    tests/unit/calendar_test.cpp tests/unit/codepage_test.cpp tests/unit/datefmt_lines_test.cpp
    tests/unit/datefmt_test.cpp tests/unit/encoding_test.cpp tests/unit/errors_test.cpp tests/unit/escapes_test.cpp
    tests/unit/expand_test.cpp tests/unit/format_test.cpp tests/unit/help_test.cpp
    tests/unit/line_framer_test.cpp tests/unit/output_test.cpp tests/unit/parser_test.cpp tests/unit/plugin_test.cpp
    tests/unit/reader_test.cpp tests/unit/scans_test.cpp tests/unit/stamp_forms_test.cpp tests/unit/stamp_test.cpp
    tests/unit/text_test.cpp tests/unit/tokenizer_test.cpp tests/unit/ts_test.cpp tests/unit/words_test.cpp
    tests/unit/zone_locale_test.cpp tests/support/code_page_property.cpp tests/support/test_host.cpp
    tests/support/ts_feed.cpp)
add_executable(horalin_unit_tests ${HORALIN_UNIT_SOURCES})
target_include_directories(horalin_unit_tests PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(horalin_unit_tests PRIVATE horalin_plugin horalin_hostkit GTest::gtest GTest::gtest_main)
add_test(NAME unit COMMAND horalin_unit_tests)
set_tests_properties(unit PROPERTIES ENVIRONMENT "TZ=UTC;LC_ALL=C.UTF-8")

# End-to-end tests: the horalin program run as a user runs it, with its own pipes.
set(HORALIN_E2E_SOURCES
    tests/e2e/datefmt_test.cpp tests/e2e/faults_test.cpp tests/e2e/foundation_test.cpp tests/e2e/help_test.cpp
    tests/e2e/process.cpp tests/e2e/restamp_test.cpp tests/e2e/run_test.cpp tests/e2e/ts_test.cpp
    tests/e2e/windows_tables_test.cpp)
add_executable(horalin_e2e_tests ${HORALIN_E2E_SOURCES})
target_include_directories(horalin_e2e_tests PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(horalin_e2e_tests PRIVATE GTest::gtest GTest::gtest_main)
# The command that the tests of `horalin run` run.
add_executable(horalin_talker tests/fakes/talker.cpp)
set_target_properties(horalin_talker PROPERTIES OUTPUT_NAME talker RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_dependencies(horalin_e2e_tests horalin_talker)
add_test(NAME e2e-posix COMMAND horalin_e2e_tests)
set_tests_properties(e2e-posix PROPERTIES
  ENVIRONMENT "HORALIN_HOST=posix;HORALIN_PROGRAM=$<TARGET_FILE:horalin>;HORALIN_TALKER=$<TARGET_FILE:horalin_talker>;TZ=UTC;LC_ALL=C.UTF-8")

# The program under valgrind's memory checker, on the cases where it reads a pipe and
# writes its output (TS and run, the datefmt line reader, failing outputs): the
# code that the shipped build runs and the sanitizer build replaces or checks otherwise.
# The tables of arguments and messages, one process per row, stay with e2e-posix (the
# sanitizer build runs them too); each row costs valgrind a start of its own. A test
# added to these suites is checked unless it is named in the exclusions.
find_program(HORALIN_VALGRIND valgrind)
if(HORALIN_VALGRIND AND NOT HORALIN_SANITIZE)
  # The wrapper stands beside the program, where the tests look for its help pages.
  configure_file(tests/e2e/valgrind.sh ${CMAKE_BINARY_DIR}/horalin-valgrind COPYONLY)
  set(HORALIN_VALGRIND_FILTER "Ts.*:Run.*:DatefmtLines.*:Faults.*")
  string(APPEND HORALIN_VALGRIND_FILTER "-Ts.DateAndTimeOptionsChooseTheDefaultFormat:Ts.LocalTimeOrUtc"
         ":Ts.ArgumentErrors:Ts.ArgumentsArePassedAsGiven:Ts.ErrorsInsideABatchFileShowItsLocation:Ts.AcceptedOptions"
         ":Ts.UsageAndVersionLines")
  add_test(NAME e2e-valgrind COMMAND horalin_e2e_tests --gtest_filter=${HORALIN_VALGRIND_FILTER})
  set_tests_properties(e2e-valgrind PROPERTIES
    ENVIRONMENT "HORALIN_HOST=posix;HORALIN_PROGRAM=${CMAKE_BINARY_DIR}/horalin-valgrind;HORALIN_VALGRIND_PROGRAM=$<TARGET_FILE:horalin>;HORALIN_VALGRIND=${HORALIN_VALGRIND};HORALIN_TALKER=$<TARGET_FILE:horalin_talker>;TZ=UTC;LC_ALL=C.UTF-8"
    FAIL_REGULAR_EXPRESSION "\\] 0 tests from"  # a filter that no longer matches anything
    TIMEOUT 900)
endif()

# The Windows build under Wine, when a Windows build directory is named.
set(HORALIN_WINDOWS_BUILD "" CACHE PATH "Build directory of the Windows build, for the Wine tests")
if(HORALIN_WINDOWS_BUILD)
  add_test(NAME e2e-wine COMMAND horalin_e2e_tests)
  set_tests_properties(e2e-wine PROPERTIES
    ENVIRONMENT "HORALIN_HOST=wine;HORALIN_PROGRAM=${HORALIN_WINDOWS_BUILD}/horalin.exe;HORALIN_POSIX_PROGRAM=$<TARGET_FILE:horalin>;HORALIN_WINDOWS_BUILD=${HORALIN_WINDOWS_BUILD};HORALIN_TALKER=${HORALIN_WINDOWS_BUILD}/tests/talker.exe;TZ=UTC;LC_ALL=C.UTF-8"
    TIMEOUT 1200)
endif()

if(HORALIN_BENCH)
  find_package(benchmark QUIET)
  set(HORALIN_BENCH_SOURCES bench/format_bench.cpp)
  if(benchmark_FOUND AND HORALIN_BENCH_SOURCES)
    add_executable(horalin_bench ${HORALIN_BENCH_SOURCES} tests/support/test_host.cpp
)
    target_include_directories(horalin_bench PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
    target_link_libraries(horalin_bench PRIVATE horalin_plugin horalin_hostkit benchmark::benchmark)
  endif()
endif()
