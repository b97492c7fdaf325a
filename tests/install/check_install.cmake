# Installs the build in BUILD_DIR into the scratch directory PREFIX and checks
# the installed files (see CMakeLists.txt). GROFF is empty when groff is not
# installed: the manual page is then only checked for its version.
function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

# Runs a command; stores its standard output and error in <var>_out and
# <var>_err, and fails unless it exits 0.
function(run var)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(JOIN " " command ${ARGN})
    fail("${command}: exit ${rc}\n${out}${err}")
  endif()
  set(${var}_out "${out}" PARENT_SCOPE)
  set(${var}_err "${err}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${PREFIX}")
# A DESTDIR from the caller's environment would send the files elsewhere.
unset(ENV{DESTDIR})
run(install "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}")

set(program "${PREFIX}/${BINDIR}/kurvane")
if(NOT EXISTS "${program}")
  fail("cmake --install put no program at ${program}:\n${install_out}")
endif()
run(version "${program}" --version)
if(NOT version_out STREQUAL "kurvane ${VERSION}\n")
  fail("${program} --version printed '${version_out}', expected 'kurvane ${VERSION}'")
endif()

set(page "${PREFIX}/${MANDIR}/man1/kurvane.1")
if(NOT EXISTS "${page}")
  fail("cmake --install put no manual page at ${page}:\n${install_out}")
endif()
file(STRINGS "${page}" title REGEX "^\\.TH ")
if(NOT title MATCHES "\"Kurvane ${VERSION}\"" OR title MATCHES "@")
  fail("${page}: the title line '${title}' does not carry version ${VERSION}")
endif()

if(NOT GROFF)
  message("groff is not installed: the manual page's roff was not checked")
  return()
endif()
# Every warning enabled; -z formats without output.
run(lint "${GROFF}" -man -Tutf8 -ww -z "${page}")
if(NOT lint_err STREQUAL "")
  fail("groff warns about ${page}:\n${lint_err}")
endif()

# The options of --help, each looked up in the page as a reader sees it: plain
# ASCII, lines long enough and hyphenation off so no option is split.
set(ENV{LC_ALL} C)
run(help "${program}" --help)
run(text "${GROFF}" -man -Tascii -P-cbou -rLL=300n -rHY=0 "${page}")
string(REGEX MATCHALL "--[a-z][a-z0-9-]*" options "${help_out}")
list(REMOVE_DUPLICATES options)
if(options STREQUAL "")
  fail("${program} --help names no long options:\n${help_out}")
endif()
foreach(option IN LISTS options)
  # Whole words only: --output must not be found inside --output-dir.
  if(NOT text_out MATCHES "${option}([^a-z0-9-]|$)")
    fail("${page} does not document ${option}, which --help names")
  endif()
endforeach()
