# Settings shared by every target of the project's own code.
#
# Sources are UTF-8 and so are narrow literals: UTF-8 is the one text form of
# the program (see src/utf8_literals.h). Code page 932 appears only where
# stored bytes depend on it, converted by the text library (text/text_encoding.h).
#
# A few programs use narrow Japanese literals as data bytes in code page 932:
# the engine and large-input tests (their inputs) and the sample corpus. They
# keep code page 932 literals and include cp932.h, whose static_assert stops
# a build that lacks the flag.
set(KURVANE_CP932_LITERAL_TARGETS
  kurvane_engine_tests large_input_tests kurvane_corpus)

function(kurvane_target_options target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wshadow -Wconversion -finput-charset=UTF-8)
  # Clang knows no execution character set but UTF-8; it builds only the
  # fuzzers, which hold no code page 932 literals.
  if(target IN_LIST KURVANE_CP932_LITERAL_TARGETS)
    target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-fexec-charset=CP932>)
  endif()
  # windows.h without its rarely used parts, and without the min and max
  # macros that would shadow std::min and std::max.
  if(WIN32)
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  endif()
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
