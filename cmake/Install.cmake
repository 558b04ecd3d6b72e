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

  # A user service for logins with a user manager; its socket starts the app on first use.
  set(service_unit "${CMAKE_BINARY_DIR}/install/lumenor.service")
  install(CODE "
    set(LUMENOR_TEMPLATE \"${CMAKE_SOURCE_DIR}/Resources/lumenor.service\")
    set(LUMENOR_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/lumenor-app\")
    set(LUMENOR_OUTPUT \"${service_unit}\")
    include(\"${CMAKE_SOURCE_DIR}/cmake/SystemdUnit.cmake\")
  ")
  install(FILES "${service_unit}" "${CMAKE_SOURCE_DIR}/Resources/lumenor.socket"
          DESTINATION "lib/systemd/user") # not multiarch: where systemd looks
endif()

if(TARGET lumenor)
  install(TARGETS lumenor RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

# What a distribution expects beside the programs: the licence in machine-readable form, the
# changelog compressed reproducibly (no name or time stamp in the gzip header), the AppStream
# metadata that software centres list. The changelog names the version, so it must be this one.
file(STRINGS "${CMAKE_SOURCE_DIR}/packaging/changelog" lumenor_changelog_top LIMIT_COUNT 1)
if(NOT lumenor_changelog_top MATCHES "^lumenor \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog does not start with version ${PROJECT_VERSION}")
endif()
set(lumenor_docdir "${CMAKE_INSTALL_DATADIR}/doc/lumenor")
set(lumenor_changelog "${CMAKE_BINARY_DIR}/packaging/changelog.gz")
add_custom_command(OUTPUT "${lumenor_changelog}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/packaging"
  COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh "${CMAKE_SOURCE_DIR}/packaging/changelog"
          "${lumenor_changelog}"
  DEPENDS "${CMAKE_SOURCE_DIR}/packaging/changelog"
  VERBATIM)
add_custom_target(lumenor-changelog ALL DEPENDS "${lumenor_changelog}")
install(FILES "${CMAKE_SOURCE_DIR}/packaging/copyright" "${lumenor_changelog}"
        DESTINATION "${lumenor_docdir}")
file(READ "${CMAKE_SOURCE_DIR}/Resources/${LUMENOR_APP_ID}.metainfo.xml" lumenor_metainfo)
if(NOT lumenor_metainfo MATCHES "<release version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "The metainfo's newest release is not ${PROJECT_VERSION}")
endif()
if(TARGET lumenor-app)
  install(FILES "${CMAKE_SOURCE_DIR}/Resources/${LUMENOR_APP_ID}.metainfo.xml"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
endif()

# A stripped install (CPack strips) also drops the compiler's notes, which nothing reads at run
# time; `strip` alone keeps them.
string(CONFIGURE [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program lumenor lumenor-app)
      set(file "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@/${program}")
      if(EXISTS "${file}")
        execute_process(COMMAND objcopy --remove-section=.comment --remove-section=.note "${file}"
                        COMMAND_ERROR_IS_FATAL ANY)
      endif()
    endforeach()
  endif()
]] lumenor_strip_notes @ONLY)
install(CODE "${lumenor_strip_notes}")

# make package: a .deb for Debian 12 whose dependencies are found from the binaries' libraries
# (dpkg-shlibdeps), plus what Qt loads at run time.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "lumenor")
set(CPACK_PACKAGE_VENDOR "Lumenor")
set(CPACK_PACKAGE_CONTACT "Lumenor maintainers <maintainers@lumenor.corvata.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps the computer awake on request, or puts it to sleep")
# Debian wants the long description in lines of at most 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "A tray icon and panel, and the lumenor command for scripts and coding\n"
       "agents, that keep the computer awake for a while, while an app or process\n"
       "runs, or while a file downloads.")
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
