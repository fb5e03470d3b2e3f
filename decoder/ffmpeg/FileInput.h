// The file as FFmpeg reads it: an AVIOContext over a descriptor we opened,
// and the refusal of every other open FFmpeg would make by name. Private to
// the decoder module.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdint>

// Where FFmpeg's read and seek callbacks find the file and their position.
struct SFileCursor {
    int hFile = -1;
    int64_t nPos = 0;
};

// An AVIOContext reading pCursor's file; nullptr when out of memory. The
// cursor must outlive it; FreeFileInput frees it and its buffer.
AVIOContext* AllocFileInput(SFileCursor* pCursor);
void FreeFileInput(AVIOContext** ppIo);

// A demuxer context reading pIo's file as the decoder reads every file, to
// be opened with avformat_open_input; nullptr when out of memory.
AVFormatContext* AllocFileDemuxer(AVIOContext* pIo);

// For AVFormatContext::io_open: FFmpeg opens further files for playlists
// (HLS, DASH) and references, but the player plays the one file it was
// given, so every such open fails with EPERM.
int RefuseNestedOpen(AVFormatContext* pFormat, AVIOContext** ppIo, const char* pszUrl, int nFlags,
    AVDictionary** ppOptions);
