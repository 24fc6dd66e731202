# The shell as a Debian package: `cpack -G DEB` in a build folder writes
# corvane_<version>_<arch>.deb (the shell, corvane-kit, the web-process
# extension, the image codec, the agent helper with its D-Bus service file,
# the plug-in header and the shared data, installed under /usr) and
# corvane-dbgsym_<version>_<arch>.ddeb with the debug symbols split off the
# binaries. Depends is computed from the binaries by dpkg-shlibdeps.
#
# What ships is what `install()` rules name: test-only code must never have
# one (the package tests check the package for it).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "The Corvane developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop application shell whose interface is an HTML page")
set(CPACK_PACKAGE_DESCRIPTION
"Corvane runs applications made of an HTML page and JSON configuration in an
application bundle. It opens the main window with a web view (WebKitGTK),
loads the page from the bundle or from an HTTP server of its own, and gives
page scripts one native bridge object for files, dialogs, the window and
menu bar, notifications, sounds, fonts, the clipboard, user defaults,
plug-ins and helper processes.
.
corvane-kit, the developer's command, packages an application bundle as a
Debian package or a Flatpak manifest.")

set(CORVANE_PACKAGE_MAINTAINER "The Corvane developers <maintainers@corvane.app>" CACHE STRING
  "Maintainer field of the shell's Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CORVANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://corvane.app")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the SVG loader of
# GdkPixbuf (bundle icons), the HTTP server library (server mode),
# GStreamer's plug-ins (sounds) and Avahi's client (announcing a server on
# the local network; without it the server runs unannounced). Standalone
# application packages (corvane-kit) name the same. The kit itself strips
# and scans binaries with binutils and dpkg-shlibdeps; the desktop portal
# serves the dialogs inside a sandbox.
set(CORVANE_RUNTIME_DEPENDS "librsvg2-common, libmicrohttpd12")
set(CORVANE_RUNTIME_RECOMMENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, libavahi-client3")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CORVANE_RUNTIME_DEPENDS}")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "${CORVANE_RUNTIME_RECOMMENDS}, dpkg-dev, binutils, xdg-desktop-portal-gtk | xdg-desktop-portal-backend")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Debug symbols go to corvane-dbgsym; the binaries in the package are
# stripped (CPack splits them itself: CPACK_STRIP_FILES would leave no
# symbols for the dbgsym package).
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)

# The D-Bus service file names the agent helper where the package puts it,
# not where CPack stages it (CPack installs with DESTDIR set to its staging
# folder). The variable is read by the service file's install code.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CorvanePackagingProject.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
  "set(ENV{CORVANE_SERVICE_EXEC_IGNORES_DESTDIR} 1)\n")

# What Debian asks of every package: the copyright file, a changelog
# (gzip -9n, reproducible) and manual pages for the programs in /usr/bin.
string(TIMESTAMP CORVANE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(_pkg ${CMAKE_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${_pkg}/changelog @ONLY)
set(_gz_outputs "")
macro(_corvane_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND _gz_outputs ${output})
endmacro()
_corvane_gzip(${_pkg}/changelog ${_pkg}/changelog.gz)
foreach(page corvane corvane-kit)
  set(VERSION ${PROJECT_VERSION})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/man/${page}.1 ${_pkg}/${page}.1 @ONLY)
  _corvane_gzip(${_pkg}/${page}.1 ${_pkg}/${page}.1.gz)
  install(FILES ${_pkg}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(corvane_package_files ALL DEPENDS ${_gz_outputs})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${_pkg}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
