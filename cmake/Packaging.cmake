# What `cmake --install` puts under the prefix, and the Debian package that
# `cpack -G DEB` makes of it: bin/ferret and share/man/man1/ferret.1.
include(GNUInstallDirs)

if(TARGET ferret)
  install(TARGETS ferret RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${CMAKE_SOURCE_DIR}/doc/ferret.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(FERRET_MAINTAINER "Ferret developers <ferret@localhost>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferret)
set(CPACK_PACKAGE_VENDOR "Ferret developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
"Ferret fetches a start URL over HTTP or HTTPS, tests every line of each HTML
page against a keyword pattern, collects the links that match a file pattern,
prints and/or saves what qualifies, and follows the links depth-first down to
a chosen depth. Every pattern runs on its own regular-expression engine.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${FERRET_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${FERRET_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The dependencies are the packages of the shared libraries the binary links
# (the C++ runtime, OpenSSL, ...), as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
