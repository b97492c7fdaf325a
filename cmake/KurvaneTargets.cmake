# Settings shared by every target of the project's own code.
#
# Sources are UTF-8; narrow literals are compiled to code page 932 bytes, the
# encoding every text of the program is handled in (see src/cp932.h).
function(kurvane_target_options target)
  # Clang knows no execution character set but UTF-8. It builds only the
  # fuzzers (engine and settings code, which hold no Japanese literals); a unit
  # that needs code page 932 literals includes cp932.h, whose static_assert
  # stops such a build.
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wshadow -Wconversion
    -finput-charset=UTF-8 $<$<CXX_COMPILER_ID:GNU>:-fexec-charset=CP932>)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# One helper to add a GoogleTest suite: kurvane_add_test(name SOURCES... LIBS...)
function(kurvane_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  kurvane_target_options(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "KURVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
