# The Debian packages (make deb), two of them:
#   tessel   the windowed monitor: /usr/bin/tessel, the desktop entry with the icon in the theme's
#            sizes, AppStream metadata, its manual page;
#   tesseld  the service for servers and gateways: /usr/bin/tesseld and tessel-sim, the systemd
#            units (tessel.service, and tessel@.service for one instance per bus), manual pages.
#            It links no Qt at all, so it pulls no GUI, X11 or GL library onto a server.
# Each carries the copyright and changelog. Run-time dependencies come from the libraries the
# programs link (dpkg-shlibdeps), plus what no library names: the window's CJK font, Qt's platform
# plugins and Qt's own translations.

set(PKG_STAGE ${CMAKE_BINARY_DIR}/package-files)

# Files made at build time: the icon theme's pictures, compressed manual pages and changelog.
set(PKG_MADE ${PKG_STAGE}/icons/hicolor/scalable/apps/tessel.svg)
add_custom_command(OUTPUT ${PKG_STAGE}/icons/hicolor/scalable/apps/tessel.svg
  COMMAND tessel-icon ${PKG_STAGE}/icons
  DEPENDS tessel-icon
  COMMENT "Drawing the icon")
foreach(src tessel.1 tessel-sim.1 tesseld.8 changelog.Debian)
  add_custom_command(OUTPUT ${PKG_STAGE}/${src}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PKG_STAGE}
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/${src} > ${PKG_STAGE}/${src}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${src})
  list(APPEND PKG_MADE ${PKG_STAGE}/${src}.gz)
endforeach()
add_custom_target(package_files DEPENDS ${PKG_MADE} tessel tesseld tessel-sim)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS tessel RUNTIME DESTINATION bin COMPONENT tessel)
install(FILES packaging/tessel.desktop DESTINATION share/applications COMPONENT tessel)
install(FILES packaging/tessel.metainfo.xml DESTINATION share/metainfo COMPONENT tessel)
install(DIRECTORY ${PKG_STAGE}/icons/ DESTINATION share/icons COMPONENT tessel)
install(FILES ${PKG_STAGE}/tessel.1.gz DESTINATION share/man/man1 COMPONENT tessel)

install(TARGETS tesseld tessel-sim RUNTIME DESTINATION bin COMPONENT tesseld)
install(FILES ${PKG_STAGE}/tessel-sim.1.gz DESTINATION share/man/man1 COMPONENT tesseld)
install(FILES ${PKG_STAGE}/tesseld.8.gz DESTINATION share/man/man8 COMPONENT tesseld)
install(FILES packaging/tessel.service packaging/tessel@.service
  DESTINATION /lib/systemd/system COMPONENT tesseld)

foreach(component tessel tesseld)
  install(FILES packaging/copyright ${PKG_STAGE}/changelog.Debian.gz
    DESTINATION share/doc/${component} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tessel tesseld)
set(CPACK_PACKAGE_NAME tessel)
set(CPACK_PACKAGE_VENDOR "The Tessel developers")
set(CPACK_PACKAGE_CONTACT "Tessel developers <tessel-dev@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Release 2 moved tessel-sim and the service out of the tessel package into tesseld.
set(CPACK_DEBIAN_PACKAGE_RELEASE 2)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_TESSEL_PACKAGE_NAME tessel)
set(CPACK_DEBIAN_TESSEL_PACKAGE_DEPENDS "fonts-wqy-microhei, qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_DEBIAN_TESSEL_PACKAGE_SUGGESTS tesseld)
set(CPACK_COMPONENT_TESSEL_DESCRIPTION "monitor for UPS and inverter units on a serial port
Tessel watches UPS and inverter units wired to one serial port: RS-232 to a
single unit, or an RS-485 bus with up to 252 addressed units. It polls them
with two telecom ASCII protocols, Modbus RTU or a Modbus variant, shows live
values, gauges, charts and alarms, keeps an event log and monthly data logs,
writes unit parameters behind a password, switches units on and off and
starts battery self-tests, in Chinese and English.
.
This package holds the windowed monitor, with its tray icon and desktop entry.
The service for machines without a screen is in the package tesseld.")

set(CPACK_DEBIAN_TESSELD_PACKAGE_NAME tesseld)
set(CPACK_DEBIAN_TESSELD_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_TESSELD_PACKAGE_REPLACES "tessel (<< 0.1.0-2)")
set(CPACK_DEBIAN_TESSELD_PACKAGE_BREAKS "tessel (<< 0.1.0-2)")
set(CPACK_COMPONENT_TESSELD_DESCRIPTION "UPS and inverter monitor service, without windows
tesseld watches UPS and inverter units wired to one serial port (RS-232, or an
RS-485 bus with up to 252 addressed units) with two telecom ASCII protocols,
Modbus RTU or a Modbus variant. It keeps the same event log and monthly data
logs as the windowed monitor, prints each event as it is logged, and can serve
its units to network UPS clients, so that they shut machines down in time.
.
It needs no display and no graphics libraries. The package holds the service
with its systemd units (one for a single bus, a template for more) and
tessel-sim, a simulator of the units for every protocol choice.")
include(CPack)
