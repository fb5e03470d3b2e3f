# SPDX-License-Identifier: GPL-3.0-or-later
# Removes what the last install listed, then the program's folder when it is
# left empty, and brings the desktop's record of file types up to date.
# Run as: cmake -DMANIFEST=<build>/install_manifest.txt -P Uninstall.cmake
if(NOT EXISTS "${MANIFEST}")
    message(FATAL_ERROR "Nothing to uninstall: ${MANIFEST} does not exist (install first).")
endif()
file(STRINGS "${MANIFEST}" installedFiles)
set(applicationsFolder "")
foreach(installedFile IN LISTS installedFiles)
    if(EXISTS "${installedFile}" OR IS_SYMLINK "${installedFile}")
        message(STATUS "Removing ${installedFile}")
        file(REMOVE "${installedFile}")
        get_filename_component(folder "${installedFile}" DIRECTORY)
        if(installedFile MATCHES "/share/applications/[^/]*\\.desktop$")
            set(applicationsFolder "${folder}")
        endif()
        get_filename_component(folderName "${folder}" NAME)
        if(folderName STREQUAL "VelofonPocket")
            file(GLOB leftOver "${folder}/*")
            if(NOT leftOver)
                file(REMOVE_RECURSE "${folder}")
            endif()
        endif()
    endif()
endforeach()

# The desktop's record of which program opens which type of file forgets the
# player: made anew from the entries left, or removed with the last of them.
if(applicationsFolder)
    file(GLOB_RECURSE entriesLeft "${applicationsFolder}/*.desktop")
    if(entriesLeft)
        include("${CMAKE_CURRENT_LIST_DIR}/DesktopDatabase.cmake")
        update_desktop_database("${applicationsFolder}")
    else()
        file(REMOVE "${applicationsFolder}/mimeinfo.cache")
    endif()
endif()
