# `make package` (or `cpack -G DEB` in the build folder): one Debian package
# with the application, the development ad server and the library with its
# headers, CMake package and pkg-config file.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nimbra)
set(CPACK_PACKAGE_VENDOR "The Nimbra developers")
set(CPACK_PACKAGE_CONTACT "The Nimbra developers <maintainers@nimbra.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Mensajes, the Nimbra banner-ad component and its development ad server")
set(CPACK_PACKAGE_DESCRIPTION
  "Mensajes is a four-tab phone-style application for sending text messages from web
forms; two of its screens carry banner ads. Nimbra, the banner-ad component it
uses, is included as the shared library libnimbra with headers, a CMake package
and a pkg-config file. nimbra-adserver is a small loopback HTTP ad server for
demos and tests.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Run-time needs the libraries do not show: the web engine's sandbox for ad
# pages and TLS for libsoup.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "bubblewrap, xdg-dbus-proxy, glib-networking")
include(CPack)
