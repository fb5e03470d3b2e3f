// CSeekIndex: where each second of an audio stream begins in its file, for
// the demuxers that find a time only by reading every packet up to it from
// the last place they know (FFmpeg's generic index, as for MP3): a jump far
// into a long file would read hundreds of megabytes first. The index is
// built once, on a thread of its own, by a second demuxer over the same
// descriptor (read with pread, so the two never share a position), and
// handed to the playing demuxer before each seek. (For a demuxer whose own
// seek works, such as one with a table of contents, it is merely unused.)
//
// Its size is bounded: past kMaxEntries the spacing doubles. Private to the
// decoder module; the playing session's thread calls AddTo, and destruction
// waits for the scan's thread.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CSeekIndex {
public:
    static constexpr size_t kMaxEntries = 32768;

    CSeekIndex() = default;
    ~CSeekIndex();
    CSeekIndex(const CSeekIndex&) = delete;
    CSeekIndex& operator=(const CSeekIndex&) = delete;

    // Whether the demuxer may seek by reading forward from its index.
    static bool IsNeeded(const AVFormatContext* pFormat);
    // Starts scanning the file open at hFile (which must stay open until
    // Stop) with the demuxer pFormat, for stream nStream; once only.
    void Start(int hFile, const std::string& strPath, const AVInputFormat* pFormat, int nStream);
    // Ends the scan and waits for its thread.
    void Stop();
    // Gives the stream the places found since the last call (all of them
    // when bFromStart, for a stream opened anew).
    void AddTo(AVStream* pStream, bool bFromStart);

private:
    struct SEntry {
        int64_t nPos;
        int64_t nTimestamp;
        int nSize;
    };
    void Scan(int hFile, std::string strPath, const AVInputFormat* pFormat, int nStream);

    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::vector<SEntry> m_aEntries;
    size_t m_nGiven = 0; // the places the stream has; 0 again once they are thinned
};
