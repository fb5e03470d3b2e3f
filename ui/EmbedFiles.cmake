# Turns files into a C++ source of byte arrays, so that the program carries
# its images inside the executable. Run with -P and these variables:
#   OUTPUT  the .cpp to write
#   INPUTS  id=path pairs separated by '|'
# The source defines the table of EmbeddedImages.h, one row per file.
set(body "")
set(rows "")
string(REPLACE "|" ";" inputList "${INPUTS}")
foreach(pair IN LISTS inputList)
    string(REPLACE "=" ";" parts "${pair}")
    list(GET parts 0 id)
    list(GET parts 1 path)
    file(READ "${path}" hex HEX)
    string(LENGTH "${hex}" hexLength)
    math(EXPR size "${hexLength} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
    string(APPEND body "const unsigned char kImage${id}[${size}] = {\n${bytes}};\n\n")
    string(APPEND rows "    {${id}, kImage${id}, sizeof kImage${id}},\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Made by EmbedFiles.cmake from the images in app/res; do not edit.\n#include \"ui/EmbeddedImages.h\"\n\nnamespace {\n\n${body}} // namespace\n\nconst SEmbeddedImage kEmbeddedImages[] = {\n${rows}};\n\nconst size_t kEmbeddedImageCount = sizeof kEmbeddedImages / sizeof kEmbeddedImages[0];\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
file(REMOVE "${OUTPUT}.tmp")
