# The Debian package (make deb): everything `cmake --install` puts under
# /usr, with Depends worked out by dpkg-shlibdeps from the libraries the
# programs actually link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR "Quorvane developers")
set(CPACK_PACKAGE_CONTACT "Quorvane developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn a photograph into a painted-looking picture")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quorvane repaints a photograph with one of three methods: Original smooths
along the picture's flow lines, flattens areas and sharpens borders; Smudge
smears colours along the structure of the picture; Redraw draws pen strokes
over softly smoothed colours. A live preview follows the sliders, and the
result keeps the original file's metadata, colour profile and transparency.

The package holds the desktop program quorvane and quorvane-cli, which
repaints files in batch.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its window-system plugins at run time, out of dpkg-shlibdeps' sight.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
include(CPack)
