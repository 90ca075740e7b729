# The Debian package (make deb): tessel and tessel-sim under /usr/bin, the desktop entry with the
# icon in the theme's sizes, AppStream metadata, manual pages, the service of the headless monitor
# and the package's copyright and changelog. Run-time dependencies come from the libraries the
# programs link (dpkg-shlibdeps), plus what no library names: the CJK font and Qt's platform
# plugins.

set(PKG_STAGE ${CMAKE_BINARY_DIR}/package-files)

# Files made at build time: the icon theme's pictures, compressed manual pages and changelog.
set(PKG_MADE ${PKG_STAGE}/icons/hicolor/scalable/apps/tessel.svg)
add_custom_command(OUTPUT ${PKG_STAGE}/icons/hicolor/scalable/apps/tessel.svg
  COMMAND tessel-icon ${PKG_STAGE}/icons
  DEPENDS tessel-icon
  COMMENT "Drawing the icon")
foreach(src tessel.1 tessel-sim.1 changelog.Debian)
  add_custom_command(OUTPUT ${PKG_STAGE}/${src}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PKG_STAGE}
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/${src} > ${PKG_STAGE}/${src}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${src})
  list(APPEND PKG_MADE ${PKG_STAGE}/${src}.gz)
endforeach()
add_custom_target(package_files DEPENDS ${PKG_MADE} tessel tessel-sim)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS tessel tessel-sim RUNTIME DESTINATION bin COMPONENT tessel)
install(FILES packaging/tessel.desktop DESTINATION share/applications COMPONENT tessel)
install(FILES packaging/tessel.metainfo.xml DESTINATION share/metainfo COMPONENT tessel)
install(DIRECTORY ${PKG_STAGE}/icons/ DESTINATION share/icons COMPONENT tessel)
install(FILES ${PKG_STAGE}/tessel.1.gz ${PKG_STAGE}/tessel-sim.1.gz
  DESTINATION share/man/man1 COMPONENT tessel)
install(FILES packaging/copyright ${PKG_STAGE}/changelog.Debian.gz
  DESTINATION share/doc/tessel COMPONENT tessel)
install(FILES packaging/tessel.service DESTINATION /lib/systemd/system COMPONENT tessel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessel)
set(CPACK_PACKAGE_VENDOR "The Tessel developers")
set(CPACK_PACKAGE_CONTACT "Tessel developers <tessel-dev@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "monitor for UPS and inverter units on a serial port
Tessel watches UPS and inverter units wired to one serial port: RS-232 to a
single unit, or an RS-485 bus with up to 252 addressed units. It polls them
with two telecom ASCII protocols, Modbus RTU or a Modbus variant, shows live
values, gauges, charts and alarms, keeps an event log and monthly data logs,
writes unit parameters behind a password, switches units on and off and
starts battery self-tests, in Chinese and English.
.
The package holds the monitor (with a headless mode and a service for it)
and tessel-sim, a simulator of the units for every protocol choice.")
include(CPack)
