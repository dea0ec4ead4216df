# The Debian package: `cmake --build build --target package` makes
# build/vistrel_<version>_<arch>.deb of everything install() names, with
# the project version, the one `vistrel --version` prints. Its dependencies
# are the shared libraries the binary links, found by dpkg-shlibdeps (from
# dpkg-dev).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "vistrel")
# The maintainer: the project's role address, no one person's.
set(CPACK_PACKAGE_CONTACT "The vistrel developers <developers@vistrel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "static web gallery generator for photo albums")
# One element a line of the extended description, each within 80 columns
# once dpkg has indented it.
set(CPACK_PACKAGE_DESCRIPTION
  "vistrel turns a directory of photo albums into a static web gallery: scaled"
  "images, thumbnails, a page per photograph, thumbnail index pages and a"
  "gallery index page, plain HTML and JPEG files that any web server can serve."
  "A rerun redoes only what changed, and the photographs are only read."
  "It reads JPEG photographs, and HEIF and AVIF ones on request, keeps their"
  "colour profiles and shows them upright. A gallery too large for one machine"
  "is made in parts on a cluster: the Slurm submission script is included.")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vistrel.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
