# `cpack` (or scripts/package) makes a Debian package of what `cmake --install`
# installs: the two programs in bin/, the worker they start in
# libexec/brindleway/, the desktop entry, the AppStream metadata, the icons,
# the man pages, and the copyright and changelog Debian asks for.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brindleway)
set(CPACK_PACKAGE_VENDOR "Brindleway")
set(CPACK_PACKAGE_CONTACT "Brindleway developers <brindleway@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/brindleway/brindleway")
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
# runtime) come from dpkg-shlibdeps, so a package built on a distribution
# depends on that distribution's own; the window also needs Qt's platform plugins.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# FreeImage is opened at run time, by re-encoding alone.
if(FreeImage_FOUND)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libfreeimage3")
endif()

set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/brindleway)
install(FILES ${PROJECT_SOURCE_DIR}/debian/copyright DESTINATION ${doc})
# A version without a Debian revision is a native package's: its changelog is changelog.gz.
set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND sh -c "gzip -9n <\"$1\" >\"$2\"" sh ${PROJECT_SOURCE_DIR}/debian/changelog ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/debian/changelog
  VERBATIM)
add_custom_target(brindleway-changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${doc})

include(CPack)
