# The installed layout: GNU folders under the prefix (make install: ~/.local, or PREFIX=...),
# and a Debian package of the same files (make package). The build tree holds the same layout
# under bin/ and share/, so the app finds its neighbours the same way in both.

set(LUMENOR_APP_ID "com.corvata.lumenor")

if(TARGET lumenor-app)
  install(TARGETS lumenor-app RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

  # Exec= must name the installed app wherever the prefix is decided (make install, CPack):
  # the entry is written at install time, from the prefix of that install.
  set(desktop_entry "${CMAKE_BINARY_DIR}/install/${LUMENOR_APP_ID}.desktop")
  install(CODE "
    set(LUMENOR_TEMPLATE \"${CMAKE_SOURCE_DIR}/Resources/${LUMENOR_APP_ID}.desktop\")
    set(LUMENOR_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/lumenor-app\")
    set(LUMENOR_OUTPUT \"${desktop_entry}\")
    include(\"${CMAKE_SOURCE_DIR}/cmake/DesktopEntry.cmake\")
  ")
  install(FILES "${desktop_entry}" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
  install(FILES "${CMAKE_SOURCE_DIR}/Resources/${LUMENOR_APP_ID}.svg"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
  install(DIRECTORY "${CMAKE_SOURCE_DIR}/Resources/icons/"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/status")
  install(FILES "${CMAKE_SOURCE_DIR}/Resources/SKILL.md"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/lumenor")
endif()

if(TARGET lumenor)
  install(TARGETS lumenor RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

# make package: a .deb for Debian 12 whose dependencies are found from the binaries' libraries
# (dpkg-shlibdeps), plus what Qt loads at run time.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "lumenor")
set(CPACK_PACKAGE_VENDOR "Lumenor")
set(CPACK_PACKAGE_CONTACT "Lumenor maintainers <lumenor@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps the computer awake on request, or puts it to sleep")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "A tray icon and panel, and the lumenor command for scripts and coding agents, that keep "
       "the computer awake for a while, while an app or process runs, or while a file downloads.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The platform plugins (xcb, offscreen) and the symbolic icons the panel draws.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, adwaita-icon-theme")
# The administrator prompt for the lid helper; the app works without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec, qt6-wayland")
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/package")
include(CPack)
