// The chapters FFmpeg's demuxers find (MP4 chapter lists and tracks, ID3
// CHAP frames, Ogg and FLAC CHAPTERnnn tags, Matroska's chapters), placed on
// the frames the decoder delivers. Private to the decoder module.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include "decoder/DecodedFile.h"

#include <cstdint>
#include <vector>

// pFormat's chapters at nRate frames per second, counted from the first frame
// a full decode gives, sorted by start and one per start frame; their ends
// are CutChapters' to set.
std::vector<SChapter> ReadChapters(const AVFormatContext* pFormat, int nRate);

// The chapters of vAll that a stream of nLength frames holds: those starting
// at or past its end left out, each ending where the next starts, the last
// at nLength. Reuses vChapters' storage.
void CutChapters(const std::vector<SChapter>& vAll, uint64_t nLength, std::vector<SChapter>& vChapters);
