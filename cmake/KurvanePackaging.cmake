# The files installed beside the programs, and the packages cpack makes from
# the install tree: a .deb natively, a .zip in the Windows build.
set(CPACK_PACKAGE_NAME kurvane)
set(CPACK_PACKAGE_VENDOR "Kurvane developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "extract Shift-JIS (code page 932) text from binary data files")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The readmes are stored with LF line ends and written with CR LF, which
  # Notepad needs; the Japanese one is UTF-8 with a byte order mark.
  foreach(readme readme-en.txt readme-ja.txt)
    configure_file(packaging/${readme}.in ${readme} @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${PROJECT_BINARY_DIR}/${readme} DESTINATION .)
  endforeach()
  set(CPACK_GENERATOR ZIP)
  # The two programs and the readmes at the top of the archive.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGE_FILE_NAME kurvane-${PROJECT_VERSION}-win64)
else()
  configure_file(doc/kurvane.1.in kurvane.1 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/kurvane.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/compress-man-pages.cmake)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kurvane developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_PACKAGE_DESCRIPTION
    "kurvane reads files as raw bytes and writes the runs of Shift-JIS text found
in them, one run per line, to .txt files beside them. The character classes
that count as text, a minimum run length and a one-byte XOR are chosen on the
command line or in setting.dat.")
  # The library dependencies are read from the binary where dpkg-dev is
  # installed; otherwise those of a g++ build are named.
  find_program(KURVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(KURVANE_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  endif()
endif()

include(CPack)
