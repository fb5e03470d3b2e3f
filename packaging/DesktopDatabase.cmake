# SPDX-License-Identifier: GPL-3.0-or-later
# Brings the desktop's record of which program opens which type of file
# (mimeinfo.cache) up to date for one applications folder, where the program
# that does it is installed; quietly nothing elsewhere.
function(update_desktop_database applicationsFolder)
    find_program(UPDATE_DESKTOP_DATABASE update-desktop-database)
    if(UPDATE_DESKTOP_DATABASE)
        execute_process(COMMAND "${UPDATE_DESKTOP_DATABASE}" -q "${applicationsFolder}" OUTPUT_QUIET ERROR_QUIET)
    endif()
endfunction()
