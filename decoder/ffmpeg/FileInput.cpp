// FFmpeg reads the player's file through these callbacks, with pread at a
// position of our own, so that nothing but the descriptor we opened (a
// regular file, checked) is ever read.
#include "FileInput.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Probing reads what the ffmpeg program reads by default (5 MB, 5 s): the
// decoder is then set up from the same stream parameters that the decode is
// compared with, and an MP3's ID3 tag with cover art ahead of the first frame
// is still passed. A file that is no audio costs at most this much reading.
constexpr int64_t kProbeBytes = 5'000'000;
constexpr int64_t kAnalyzeMicroseconds = 5 * int64_t { AV_TIME_BASE };

// Large enough that FFmpeg's small reads do not each become a system call.
constexpr int kBufferBytes = 64 * 1024;

int ReadFile(void* pOpaque, uint8_t* pBuffer, int nSize)
{
    auto* pFile = static_cast<SFileCursor*>(pOpaque);
    for (;;) {
        const ssize_t nGot = ::pread(pFile->hFile, pBuffer, static_cast<size_t>(nSize), static_cast<off_t>(pFile->nPos));
        if (nGot < 0 && errno == EINTR)
            continue;
        if (nGot < 0)
            return AVERROR(errno);
        if (nGot == 0)
            return AVERROR_EOF;
        pFile->nPos += nGot;
        return static_cast<int>(nGot);
    }
}

int64_t SeekFile(void* pOpaque, int64_t nOffset, int nWhence)
{
    auto* pFile = static_cast<SFileCursor*>(pOpaque);
    struct stat st {};
    switch (nWhence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return ::fstat(pFile->hFile, &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
    case SEEK_SET:
        break;
    case SEEK_CUR:
        nOffset += pFile->nPos;
        break;
    case SEEK_END:
        if (::fstat(pFile->hFile, &st) != 0)
            return AVERROR(errno);
        nOffset += st.st_size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (nOffset < 0)
        return AVERROR(EINVAL);
    pFile->nPos = nOffset;
    return nOffset;
}

} // namespace

AVIOContext* AllocFileInput(SFileCursor* pCursor)
{
    auto* pBuffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (!pBuffer)
        return nullptr;
    AVIOContext* pIo = avio_alloc_context(pBuffer, kBufferBytes, 0, pCursor, ReadFile, nullptr, SeekFile);
    if (!pIo)
        av_free(pBuffer);
    return pIo;
}

void FreeFileInput(AVIOContext** ppIo)
{
    // FFmpeg may have replaced the buffer; the context holds the current one.
    if (*ppIo)
        av_freep(&(*ppIo)->buffer);
    avio_context_free(ppIo);
}

AVFormatContext* AllocFileDemuxer(AVIOContext* pIo)
{
    AVFormatContext* pFormat = avformat_alloc_context();
    if (!pFormat)
        return nullptr;
    // Not every demuxer opens through io_open: the concat demuxer opens its
    // entries, the SDP demuxer network sockets, by protocol. The protocols
    // allowed are none, so those opens fail too. (Set before pb, which a
    // context never opened would otherwise close on the way out.)
    pFormat->protocol_whitelist = av_strdup("none");
    if (!pFormat->protocol_whitelist) {
        avformat_free_context(pFormat);
        return nullptr;
    }
    pFormat->pb = pIo;
    pFormat->io_open = RefuseNestedOpen;
    pFormat->probesize = kProbeBytes;
    pFormat->max_analyze_duration = kAnalyzeMicroseconds;
    return pFormat;
}

int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}
