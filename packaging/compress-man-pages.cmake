# Run by cpack on the staged install tree before it builds the .deb: Debian
# ships manual pages compressed with gzip (without a name or time stamp, so
# the package is the same from one build to the next).
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
foreach(page IN LISTS pages)
  get_filename_component(directory "${page}" DIRECTORY)
  get_filename_component(name "${page}" NAME)
  execute_process(COMMAND gzip -9n "${name}" WORKING_DIRECTORY "${directory}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${page}: exit ${rc}")
  endif()
endforeach()
