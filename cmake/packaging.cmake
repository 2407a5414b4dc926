# Packages for users who do not build: a .deb on Linux, a zip of the .exe and its texts for
# Windows. Name and version come from project(); `cpack` in a build folder makes them.
set(CPACK_PACKAGE_VENDOR "the ofb2bmp developers")
set(CPACK_PACKAGE_CONTACT "the ofb2bmp developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "save the pictures of OFB index and BIN archive pairs as BMP or PNG files")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  # The package installs where the build was configured to (the package preset: /usr), so that
  # the program it installs knows its folder as the installed one and saves into the current
  # folder. The zip stays one flat folder.
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
endif()
# A new shell completes the options and index files only with bash-completion.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)

# ofb2bmp_1.2.3_amd64.deb; the libraries it needs are read off the binary by dpkg-shlibdeps
# (dpkg-dev), which also needs `file`.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION
  "ofb2bmp takes apart pairs of picture archives from old game discs: an index
file (NAME.OFB) and its archive (NAME.BIN). It saves every picture inside as a
BMP or PNG file, lists what an archive holds, and puts edited pictures back
into a new pair.")

include(CPack)
