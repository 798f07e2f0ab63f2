# What an installed Krepiks is made of. Included last, when every program is defined.
include(GNUInstallDirs)
set(here ${PROJECT_SOURCE_DIR}/install)
set(made ${PROJECT_BINARY_DIR}/install)

install(TARGETS krepiks krepiks-cad krepiks-freecad krepiks-catalogue krepiks-register-cad
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS krepiks-jet-reader RUNTIME DESTINATION ${KREPIKS_INSTALL_HELPERDIR})

# Started from the desktop menu, Krepiks runs in the user's own catalogue folder.
set(KREPIKS_FULL_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
set(KREPIKS_FULL_HELPERDIR ${CMAKE_INSTALL_PREFIX}/${KREPIKS_INSTALL_HELPERDIR})
configure_file(${here}/krepiks-launcher.in ${made}/krepiks-launcher @ONLY)
install(PROGRAMS ${made}/krepiks-launcher DESTINATION ${KREPIKS_INSTALL_HELPERDIR})
configure_file(${PROJECT_SOURCE_DIR}/resources/krepiks.desktop.in ${made}/krepiks.desktop @ONLY)
install(FILES ${made}/krepiks.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/org.krepiks.Krepiks.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/resources/mainicon.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME krepiks.png)
foreach(size 16 22 24 32 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/krepiks-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME krepiks.png)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/resources/templates/part.kprt
              ${PROJECT_SOURCE_DIR}/resources/sample_catalogue.sql
        DESTINATION ${KREPIKS_INSTALL_DATADIR})

# The session bus starts the CAD program on the first build, as desktops start services.
configure_file(${here}/krepiks-cad.service.in
               ${made}/org.krepiks.Automation.sldworks_application.service @ONLY)
install(FILES ${made}/org.krepiks.Automation.sldworks_application.service
        DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/services)

install(FILES ${here}/man/krepiks.1 ${here}/man/krepiks-cad.1 ${here}/man/krepiks-freecad.1
              ${here}/man/krepiks-catalogue.1 ${here}/man/krepiks-register-cad.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
