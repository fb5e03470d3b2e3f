# What the package and the metadata say of the releases, made from
# CHANGELOG.md at configure time: the package's changelog in Debian's format
# and the metadata's <releases>, in the build folder's release/. The newest
# entry must be this version, or the build stops here.
set(VELOFON_PACKAGE_NAME velofonpocket)
set(VELOFON_MAINTAINER "VelofonPocket developers <velofonpocket@users.noreply.github.com>")
set(VELOFON_HOMEPAGE https://github.com/velofonpocket/VelofonPocket)
set(VELOFON_RELEASE_FOLDER ${PROJECT_BINARY_DIR}/release)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
execute_process(
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/packaging/release-notes.py ${PROJECT_SOURCE_DIR}/CHANGELOG.md
            ${VELOFON_RELEASE_FOLDER} ${VELOFON_PACKAGE_NAME} ${VELOFON_MAINTAINER}
    OUTPUT_VARIABLE newestVersion OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE notesRead)
if(NOT notesRead EQUAL 0)
    message(FATAL_ERROR "CHANGELOG.md could not be read as a changelog (see above)")
endif()
if(NOT newestVersion STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "CHANGELOG.md's newest entry is ${newestVersion}, the project's version ${PROJECT_VERSION}: "
                        "give the release an entry, or the project the changelog's version")
endif()
