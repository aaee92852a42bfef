# libFuzzer targets: every tests/fuzz/NAME_fuzz.cc becomes the executable NAME_fuzz, whose seed
# corpus lives in tests/fuzz/corpus/NAME_fuzz/.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "TWTRIM_FUZZ needs clang (libFuzzer); use the 'fuzz' preset")
endif()
if(NOT TWTRIM_SANITIZE)
  message(FATAL_ERROR "TWTRIM_FUZZ needs TWTRIM_SANITIZE=ON: the fuzzers hunt memory errors")
endif()

# Coverage feedback must reach into the code under test, not just the entry points.
set(TWTRIM_FUZZ_INSTRUMENTED twtrim_core twtrim_board twtrim_test_support)
foreach(lib IN LISTS TWTRIM_FUZZ_INSTRUMENTED)
  target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
endforeach()

file(GLOB TWTRIM_FUZZ_SOURCES CONFIGURE_DEPENDS tests/fuzz/*_fuzz.cc)
set(TWTRIM_FUZZ_TARGETS "")
foreach(source IN LISTS TWTRIM_FUZZ_SOURCES)
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  # The shared in-memory Os and fault injector of the tests.
  target_link_libraries(${name} PRIVATE twtrim_test_support)
  twtrim_warnings(${name})
  list(APPEND TWTRIM_FUZZ_TARGETS ${name})
endforeach()

# One target that builds them all.
add_custom_target(fuzzers)
add_dependencies(fuzzers ${TWTRIM_FUZZ_TARGETS})
