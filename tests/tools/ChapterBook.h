// A short book with chapters, made at test time by the ffmpeg program from
// one FFMETADATA file, in the containers listeners have: the chapter list of
// an M4B, an MP3's CHAP frames, and CHAPTERnnn tags in Ogg and FLAC.
#pragma once

#include "../WavBytes.h"

#include <cstdint>
#include <string>

// 6.144 s at 48 kHz: whole AAC and MP3 frames, so that no encoder pads the
// end, and a whole number of frames in each millisecond.
constexpr uint32_t kBookRate = 48000;
constexpr uint64_t kBookFrames = 294912;

struct SBookChapter {
    uint64_t nStartFrame;
    const char* strTitle;
};
// As the metadata lists them; the last ends with the book.
constexpr SBookChapter kBookChapters[] = {
    { 0, "Opening" },
    { 1234 * kBookRate / 1000, "\u7B2C\u4E8C\u7AE0 The Middle" },
    { 3500 * kBookRate / 1000, "Ending" },
};

// The book as strName in dir; the extension chooses the format (m4b, mp3,
// ogg, flac; wav is the mono 16-bit source, without chapters).
std::string MakeChapterBook(const CTempDir& dir, const std::string& strName);

// What the ffmpeg program decodes strPath to: 16-bit frames, as the decoder promises.
Bytes DecodedFrames(const std::string& strPath);
