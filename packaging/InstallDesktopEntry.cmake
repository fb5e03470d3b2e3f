# SPDX-License-Identifier: GPL-3.0-or-later
# Runs at install time: writes the desktop entry for the prefix being
# installed to and installs it (so that it is listed for uninstall too).
set(BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
set(applicationsFolder "${CMAKE_INSTALL_PREFIX}/share/applications")
configure_file("${VELOFON_DESKTOP_TEMPLATE}" "${VELOFON_DESKTOP_STAGING}" @ONLY)
file(INSTALL "${VELOFON_DESKTOP_STAGING}" DESTINATION "${applicationsFolder}")
# The player is offered for the sound files it plays. A staged install
# (DESTDIR, as cpack and package builds make) refreshes no cache: the
# package's triggers do, on the machine it is installed on.
if("$ENV{DESTDIR}" STREQUAL "")
    include("${CMAKE_CURRENT_LIST_DIR}/DesktopDatabase.cmake")
    update_desktop_database("${applicationsFolder}")
endif()
