# Runs at install time: writes the desktop entry for the prefix being
# installed to and installs it (so that it is listed for uninstall too).
set(BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
configure_file("${VELOFON_DESKTOP_TEMPLATE}" "${VELOFON_DESKTOP_STAGING}/velofonpocket.desktop" @ONLY)
file(INSTALL "${VELOFON_DESKTOP_STAGING}/velofonpocket.desktop" DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications")
