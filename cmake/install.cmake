# What `cmake --install` and the packages put where. On Linux the usual tree under the prefix;
# for Windows one flat folder: the program and its texts.
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS ofb2bmp RUNTIME DESTINATION .)
  # Notepad and other Windows editors want CR LF line ends. README.txt is a plain text of its
  # own: README.md is Markdown, written for building on Linux, and shows a picture not shipped.
  function(install_windows_text source name)
    file(READ ${PROJECT_SOURCE_DIR}/${source} content)
    string(REPLACE "\n" "\r\n" content "${content}")
    file(WRITE ${PROJECT_BINARY_DIR}/windows-texts/${name} "${content}")
    install(FILES ${PROJECT_BINARY_DIR}/windows-texts/${name} DESTINATION .)
  endfunction()
  install_windows_text(packaging/README-windows.txt README.txt)
  install_windows_text(LICENSE LICENSE.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/README-windows.txt
    LICENSE)
  return()
endif()

install(TARGETS ofb2bmp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A copy running from there saves into the current folder; the one in the build folder saves
# beside itself. Installing elsewhere than the prefix configured makes a copy of the second kind.
target_compile_definitions(ofb2bmp PRIVATE OFB2BMP_INSTALLED_FOLDER="${CMAKE_INSTALL_FULL_BINDIR}")

# The manual page carries the project's version, and goes in gzipped as Debian wants it
# (-n: no name or time stamp inside, so the same page gives the same bytes).
find_program(GZIP_PROGRAM gzip REQUIRED)
configure_file(docs/ofb2bmp.1 man/ofb2bmp.1 @ONLY)
add_custom_command(OUTPUT man/ofb2bmp.1.gz
  COMMAND ${GZIP_PROGRAM} -9nkf ofb2bmp.1
  # gzip gives the result the page's own time; the build wants it newer than its input.
  COMMAND ${CMAKE_COMMAND} -E touch ofb2bmp.1.gz
  DEPENDS ${PROJECT_BINARY_DIR}/man/ofb2bmp.1
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/man
  VERBATIM)
add_custom_target(man_page ALL DEPENDS man/ofb2bmp.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/man/ofb2bmp.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
install(FILES packaging/ofb2bmp.bash
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME ofb2bmp)
