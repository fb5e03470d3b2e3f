// The PNG files built into the executable (app/res), as EmbedFiles.cmake
// writes them: one row per image id. Images.h makes pictures of them.
#pragma once

#include <cstddef>

struct SEmbeddedImage {
    unsigned nId;
    const unsigned char* pData;
    size_t nSize;
};

extern const SEmbeddedImage kEmbeddedImages[];
extern const size_t kEmbeddedImageCount;
