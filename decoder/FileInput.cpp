// FFmpeg reads the player's file through these callbacks, with pread at a
// position of our own, so that nothing but the descriptor we opened (a
// regular file, checked) is ever read.
#include "FileInput.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}
