find_package(GTest REQUIRED)
include(GoogleTest)

# One GoogleTest executable per source folder. Its tests carry the LABEL given
# here; suites whose name ends in "Net" are network tests and carry "net"
# instead, so `ctest -L unit` stays free of sockets.
function(lumo_add_gtest target)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  # Where the tests find the tree and the build (a compile definition: the
  # test properties carry one environment value reliably, not a list).
  target_compile_definitions(${target} PRIVATE
    LUMO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" LUMO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  set(env "QT_QPA_PLATFORM=offscreen")
  gtest_discover_tests(${target}
    TEST_FILTER "-*Net.*"
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 300 ENVIRONMENT "${env}")
  gtest_discover_tests(${target}
    TEST_FILTER "*Net.*"
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    TEST_SUFFIX ""
    PROPERTIES LABELS net TIMEOUT 300 ENVIRONMENT "${env}")
endfunction()

# A libFuzzer target, built only with LUMO_FUZZ (the sanitizer preset), and run
# for a few seconds as a test.
function(lumo_add_fuzzer target)
  cmake_parse_arguments(ARG "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT LUMO_FUZZ)
    return()
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 5)
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  add_test(NAME ${target} COMMAND ${target} -max_total_time=${ARG_SECONDS} -rss_limit_mb=2048 -timeout=10)
  set_tests_properties(${target} PROPERTIES LABELS unit TIMEOUT 120)
endfunction()
