# GoogleTest from the Debian source package, compiled with this build's own
# compiler and flags, so the native, sanitizer and MinGW builds all link it.
set(TWTRIM_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${TWTRIM_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

enable_testing()

# Each test program is registered as TWTRIM_TEST_SHARDS CTest tests NAME.1,
# NAME.2, ..., each running its share of the cases (GoogleTest sharding), so
# `ctest -j` keeps every core busy: the fault sweeps are single-threaded, and
# more shards than cores even out their unequal lengths.
set(TWTRIM_TEST_SHARDS 8 CACHE STRING "CTest tests each test program is split into")
function(twtrim_add_sharded_test name program)
  foreach(shard RANGE 1 ${TWTRIM_TEST_SHARDS})
    math(EXPR index "${shard} - 1")
    add_test(NAME ${name}.${shard} COMMAND ${program})
    set_tests_properties(${name}.${shard} PROPERTIES ENVIRONMENT
      "GTEST_TOTAL_SHARDS=${TWTRIM_TEST_SHARDS};GTEST_SHARD_INDEX=${index};${ARGN}")
  endforeach()
endfunction()

# The fake operating systems, board helpers and process runner the tests share.
file(GLOB TWTRIM_TEST_SUPPORT CONFIGURE_DEPENDS tests/support/*.cc)
add_library(twtrim_test_support STATIC ${TWTRIM_TEST_SUPPORT})
twtrim_warnings(twtrim_test_support)
target_include_directories(twtrim_test_support PUBLIC tests src tools)
target_link_libraries(twtrim_test_support PUBLIC twtrim_core twtrim_board GTest::gtest)

# Unit and in-process tests: one binary.
file(GLOB_RECURSE TWTRIM_UNIT_TESTS CONFIGURE_DEPENDS tests/*_test.cc)
list(FILTER TWTRIM_UNIT_TESTS EXCLUDE REGEX "tests/e2e/")
add_executable(twtrim_tests ${TWTRIM_UNIT_TESTS})
target_link_libraries(twtrim_tests PRIVATE twtrim_test_support GTest::gtest_main)
twtrim_warnings(twtrim_tests)
twtrim_add_sharded_test(unit twtrim_tests)

# End-to-end tests: run the real program as a separate process.
file(GLOB TWTRIM_E2E_TESTS CONFIGURE_DEPENDS tests/e2e/*_test.cc)
add_executable(twtrim_e2e_tests ${TWTRIM_E2E_TESTS})
target_link_libraries(twtrim_e2e_tests PRIVATE twtrim_test_support GTest::gtest_main)
twtrim_warnings(twtrim_e2e_tests)
add_dependencies(twtrim_e2e_tests twtrim32)
target_compile_definitions(twtrim_e2e_tests PRIVATE
  TWTRIM_GOLDEN_DIR="${CMAKE_SOURCE_DIR}/tests/golden")
twtrim_add_sharded_test(e2e twtrim_e2e_tests "TWTRIM32_BIN=$<TARGET_FILE:twtrim32>")

# Build time is mostly spent compiling the test files themselves, so they
# are compiled without optimisation (the code they test and the harness the
# sweeps run on keep the build's own flags), and the GoogleTest and standard
# headers every test includes are parsed once per build.
target_compile_options(twtrim_tests PRIVATE -O0)
target_precompile_headers(twtrim_tests PRIVATE
  <gtest/gtest.h> <cstdint> <functional> <map> <memory> <optional> <string> <vector>)
target_compile_options(twtrim_e2e_tests PRIVATE -O0)
target_precompile_headers(twtrim_e2e_tests REUSE_FROM twtrim_tests)
