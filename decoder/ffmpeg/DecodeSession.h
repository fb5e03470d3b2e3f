// CDecodeSession: one file inside FFmpeg, from its file descriptor to 16-bit
// interleaved frames, with exact seeking. Private to the decoder module:
// the module's decoded file wraps it and keeps it parked across Close and Open.
//
// Positions count output frames from the first sample a full decode gives.
// A timestamp is only used to place the decoder after a demuxer seek, and
// only from a frame whose packet duration matches its sample count (the Ogg
// Vorbis demuxer's guesses fail that test); after that, frames are counted.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include "ChapterList.h"
#include "FileInput.h"
#include "SeekIndex.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

class CDecodeSession {
public:
    CDecodeSession() = default;
    CDecodeSession(const CDecodeSession&) = delete;
    CDecodeSession& operator=(const CDecodeSession&) = delete;
    ~CDecodeSession();

    // Takes hFile (an open regular file, described by st) in all cases and
    // decodes its first frame; false with a user's reason in strError.
    bool Open(int hFile, const struct stat& st, const std::string& strPath, std::string& strError);
    // True when strPath with st is the very file this session decodes.
    bool IsSameFile(const std::string& strPath, const struct stat& st) const;

    // Up to nFrames whole frames; 0 at the end or after an error part-way.
    uint32_t Read(int16_t* pOut, uint32_t nFrames);
    // The next Read starts at output frame nFrame, or at the end if sooner.
    void Seek(uint64_t nFrame);

    uint64_t GetPosition() const { return m_nBufferStart + m_nBufferOffset; }
    uint64_t GetLength() const { return m_nLength; }
    uint32_t GetSampleRate() const { return static_cast<uint32_t>(m_nOutRate); }
    uint16_t GetChannels() const { return static_cast<uint16_t>(m_outLayout.nb_channels); }
    const std::string& GetFormatName() const { return m_strFormatName; }
    // Why reading stopped early; empty while all is well.
    const std::string& GetError() const { return m_strError; }
    // The tags of the container and of the audio stream (where Ogg keeps them).
    const AVDictionary* GetContainerTags() const { return m_pFormat ? m_pFormat->metadata : nullptr; }
    const AVDictionary* GetStreamTags() const
    {
        return m_pFormat && m_nStream >= 0 && static_cast<unsigned>(m_nStream) < m_pFormat->nb_streams
            ? m_pFormat->streams[m_nStream]->metadata
            : nullptr;
    }

    // The first picture the file carries (an MP3's APIC, an MP4's covr, a
    // FLAC or Ogg picture): its bytes and "jpg" or "png" (else "img"), or
    // nothing when it has none.
    bool GetCover(std::string& strBytes, std::string& strExtension) const;
    const std::vector<SChapter>& GetChapters() const { return m_vChapters; }

private:
    bool OpenDemuxer(std::string& strError);
    void FreeDemuxer();
    bool Restart();
    bool SeekDemuxer(int64_t nInput);
    bool PlaceAfterSeek(int64_t nLatestInput);
    void DropTo(uint64_t nFrame);

    bool Refill();
    int ReceiveFrame();
    bool IsTrusted(const AVFrame* pFrame) const;
    int64_t InputIndexOf(int64_t nPts) const;
    bool Convert(const AVFrame* pFrame, int nSkip);
    bool Resample(const uint8_t** ppIn, int nIn);
    bool MakeResampler(const AVFrame* pFrame);
    void Fail(const std::string& strWhat, int nErr);
    void EstimateLength();

    // What is open: each is freed in FreeDemuxer (the file in the destructor).
    SFileCursor m_file; // what FFmpeg's read and seek callbacks are handed
    AVIOContext* m_pIo = nullptr;
    AVFormatContext* m_pFormat = nullptr;
    AVCodecContext* m_pCodec = nullptr;
    SwrContext* m_pResampler = nullptr;
    AVPacket* m_pPacket = nullptr;
    AVFrame* m_pFrame = nullptr;

    std::string m_strPath;
    struct stat m_stat {};
    std::string m_strFormatName;
    std::string m_strError;
    int m_nStream = -1;
    AVRational m_timeBase { 0, 1 };
    int m_nPrerollMs = 0;
    int64_t m_nPreroll = 0; // input frames decoded ahead of a seek target
    std::vector<const uint8_t*> m_vInPlanes;

    // The resampler's input as last made, and the output, fixed by the first frame.
    int m_nInFormat = -1;
    int m_nInRate = 0;
    AVChannelLayout m_inLayout {};
    int m_nSourceRate = 0; // the first frame's, which input positions count in
    int m_nOutRate = 0;
    AVChannelLayout m_outLayout {};
    int64_t m_nRateIn = 1;  // every m_nRateIn input frames make
    int64_t m_nRateOut = 1; // exactly m_nRateOut output frames

    // Where the decoder is: m_nNextInput is the input frame the next decoded
    // frame starts at, known once placed; input before m_nFeedFrom is dropped.
    bool m_bPlaced = false;
    int64_t m_nNextInput = 0;
    int64_t m_nFeedFrom = 0;
    bool m_bOriginKnown = false;
    int64_t m_nOriginPts = 0; // the stream timestamp of input frame 0
    bool m_bInputEnded = false;
    bool m_bEnded = false;
    bool m_bLengthExact = false;
    uint64_t m_nLength = 0;
    // The file's chapters as read, and as the length cuts them.
    std::vector<SChapter> m_vAllChapters;
    std::vector<SChapter> m_vChapters;

    // Converted frames not yet read; m_nBufferStart is the first one's position.
    std::vector<int16_t> m_vBuffer;
    uint32_t m_nBufferFrames = 0;
    uint32_t m_nBufferOffset = 0;
    uint64_t m_nBufferStart = 0;

    // Made from the first seek on; m_bIndexHanded once this demuxer has
    // been given what it had found.
    CSeekIndex m_seekIndex;
    bool m_bIndexHanded = false;
};
