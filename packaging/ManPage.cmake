# SPDX-License-Identifier: GPL-3.0-or-later
# Writes a man page with the program's version after its source in the title
# line (.TH NAME 1 "" "VelofonPocket" ...), compressed as Debian ships pages.
# Run as: cmake -DPAGE=velofon.1 -DOUTPUT=velofon.1.gz -DVERSION=1.1.0 -DGZIP=gzip -P ManPage.cmake
file(READ "${PAGE}" text)
string(REGEX REPLACE "(\n\\.TH [^\n]* \"VelofonPocket)\"" "\\1 ${VERSION}\"" versioned "\n${text}")
if(versioned STREQUAL "\n${text}")
    message(FATAL_ERROR "${PAGE}: no title line .TH ... \"VelofonPocket\" to give the version")
endif()
string(SUBSTRING "${versioned}" 1 -1 versioned)
get_filename_component(name "${OUTPUT}" NAME_WLE)
set(plain "${OUTPUT}.tmp/${name}")
file(WRITE "${plain}" "${versioned}")
execute_process(COMMAND "${GZIP}" -9nf "${plain}" RESULT_VARIABLE compressed)
if(NOT compressed EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${plain}")
endif()
file(RENAME "${plain}.gz" "${OUTPUT}")
file(REMOVE_RECURSE "${OUTPUT}.tmp")
