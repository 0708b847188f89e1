# `cpack` (or scripts/package) makes a Debian package of what `cmake --install`
# installs: the three programs side by side in bin/ (the window and
# brindleway-batch start the worker from their own folder), the desktop
# entry, the icons and the man page.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brindleway)
set(CPACK_PACKAGE_VENDOR "Brindleway")
set(CPACK_PACKAGE_CONTACT "Brindleway developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write IPTC and XMP metadata into batches of images from a data file")
set(CPACK_PACKAGE_DESCRIPTION
  "Brindleway reads a tab-delimited data file, one line per image, and writes\n"
  "the IPTC fields a parsing scheme maps from its columns, with their XMP\n"
  "counterparts, into tagged copies of the images. It comes as a window and\n"
  "as the command brindleway-batch.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The library packages the programs link (Qt, Exiv2, libtiff, the C++
# runtime) come from dpkg-shlibdeps; the window also needs Qt's platform plugins.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# FreeImage is opened at run time, by re-encoding alone.
if(FreeImage_FOUND)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libfreeimage3")
endif()
include(CPack)
