# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, made from the install above by `cpack -G DEB` in the
# build folder: velofonpocket_VERSION_ARCH.deb, installing under /usr. Its
# dependencies are those of the programs and the decoder module, as
# dpkg-shlibdeps finds them (PackageDepends.cmake), and what they use without
# linking: SDL, loaded when sound is first wanted, the Japanese font the
# window draws with, and the desktop's database of file types that the
# entry's types go into. The desktop's caches
# are refreshed by the triggers of the packages that own them, so the package
# has no scripts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VELOFON_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VELOFON_MAINTAINER})
set(CPACK_PACKAGE_VENDOR "The VelofonPocket developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "speed-listening audio player that keeps the pitch")
set(CPACK_PACKAGE_DESCRIPTION [[
VelofonPocket plays lectures, audiobooks and language lessons at 1.0x
to 4.0x, in steps of 0.1, without the pitch rising. It plays MP3, M4B,
Opus, Ogg, FLAC and WAV files, remembers the place and speed of each
book, knows their chapters and has a sleep timer.

The package holds the player, VelofonPocket, and the command-line tool
velofon, which writes sped-up sound to a WAV file or plays it.]])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VELOFON_HOMEPAGE})
# CPack's own CPACK_DEBIAN_PACKAGE_SHLIBDEPS would take the decoder module
# in /usr/lib/VelofonPocket/ for a library of the system's search path and
# give the package scripts that run ldconfig; the module is the programs'
# own, found by its full path, so dpkg-shlibdeps is run here instead.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsdl2-2.0-0, fonts-ipafont-gothic, desktop-file-utils")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/PackageDepends.cmake)
file(GENERATE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} INPUT ${CMAKE_CURRENT_SOURCE_DIR}/PackageDepends.cmake.in)
# ヘルプ opens the help page with xdg-open; velofon's completion needs bash-completion to load.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
