# What `cmake --install` (and so the Debian package) puts on the system: the command on the
# PATH, the application where the command looks for it, and the desktop's files for the id
# com.vurin.app (menu entry, the application's and the tray's icons, AppStream data), the manual
# page and the local-models installer for users who run it by hand.
include(GNUInstallDirs)
install(TARGETS vurin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS vurin_app RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vurin)
install(FILES data/com.vurin.app.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/com.vurin.app.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${VURIN_STATUS_ICONS}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/status)
install(FILES data/com.vurin.app.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/vurin.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(PROGRAMS scripts/install-local-models DESTINATION ${CMAKE_INSTALL_DATADIR}/vurin)
