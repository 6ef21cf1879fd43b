# SPDX-License-Identifier: Apache-2.0
# The Debian package (./run package): everything `cmake --install` puts
# under /usr, stripped, with the run-time dependencies that dpkg-shlibdeps
# reads from the binaries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "server-side web components: mail, Base64, upload, whois, files")
set(CPACK_PACKAGE_DESCRIPTION
    "Corvane is a suite of server-side web components that page scripts and
C++ programs create by ProgID: Penrill sends mail over SMTP with MIME
attachments, Tallowin encodes Base64 (a C library), Cargane stores uploaded
files, Namewell queries whois servers and parses their replies, Vantry
manages files and directories, and Wharfpost is a CGI program that stores
uploads for a web server. The package holds the corvane and wharfpost
programs, the component libraries and their registry, and the headers,
CMake package and pkg-config file for building against them.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Corvane developers <corvane@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)
