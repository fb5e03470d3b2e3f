// CDecodedFile: any audio file FFmpeg can read (MP3, AAC, Opus, Vorbis, FLAC,
// WAV that is not 8/16-bit PCM, ...) as 16-bit signed interleaved frames that
// the engine reads like the PCM of its own WAV files.
//
// What Read delivers is exactly what "ffmpeg -i IN -map 0:a:0 -c:a pcm_s16le
// -f wav OUT" writes with the same FFmpeg build: the first audio stream, one
// or two channels kept (more are mixed to stereo as "-ac 2" does), rates up to
// 48 kHz kept (higher ones converted as "-ar 48000" does), with the codec's
// start and end padding removed as FFmpeg removes it. After Seek(p), Read
// delivers the samples the full decode has from frame p on; this holds
// exactly for PCM, FLAC, MP3 and Vorbis, and for the position (not each
// sample) with AAC and Opus, whose decoders do not forget what came before.
//
// A speed change never changes a sample: the engine then Closes and Opens the
// same file and Seeks to where it stopped reading. Close therefore only parks
// the decoder; an Open of the same path (same device, inode, size and
// modification time) takes it back where it stood, so that Seek needs no seek
// at all. An Open of another path, or destruction, frees the parked decoder.
//
// Memory stays flat in a file's length. One thread only (the scan's thread
// is the object's own). The header holds no FFmpeg type, so the engine can
// include it without FFmpeg's headers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CDecodeSession;

class CDecodedFile {
public:
    CDecodedFile();
    CDecodedFile(const CDecodedFile&) = delete;
    CDecodedFile& operator=(const CDecodedFile&) = delete;
    ~CDecodedFile();

    // Opens the path for decoding from its first frame. Only a regular file is
    // opened (a FIFO or device is refused before any read) and only it: FFmpeg
    // may open nothing else (no playlist, no reference), and a ":" in the name
    // means nothing special. False with GetError telling why in words for the
    // user: "cannot be opened (...)", "not a regular file", "not an audio file
    // FFmpeg can read", "no audio stream", or the decoder's own error text.
    bool Open(const std::string& strPath);

    // Copies up to nBytes of whole frames into pBuffer; returns the bytes.
    // 0 at the end, or once a decode error part-way has been reached: what was
    // decoded before it comes first, and then the file ends as at its end.
    uint32_t Read(void* pBuffer, uint32_t nBytes);

    // The next Read starts at frame nFrame of the decoded stream, or at its end
    // if that comes sooner. Seeking to the current position does nothing.
    // The first far seek in a file whose format has no table to seek by (an
    // MP3) reads its way there, under a second in a 10-hour file, and starts
    // a scan of the file on a thread of its own; from then on a seek anywhere
    // the scan has passed takes milliseconds.
    void Seek(uint64_t nFrame);

    // The frame the next Read delivers first.
    uint64_t GetPositionFrames() const;
    // The length in frames: the container's duration until the end has been
    // read, exact from then on.
    uint64_t GetLengthFrames() const;
    uint32_t GetSampleRate() const; // of the frames delivered
    uint16_t GetChannels() const;   // 1 or 2
    // The codec's name as a user knows it, e.g. "MP3", "AAC", "Opus".
    std::string GetFormatName() const;
    // A tag of the file last opened, also once closed: "title", "album",
    // "artist" (in any case), as the container or else the audio stream
    // holds it; empty when it has none.
    std::string GetTag(const char* strKey) const;
    // The file's cover picture (see CDecodeSession::GetCover); false for none.
    bool GetCover(std::string& strBytes, std::string& strExtension) const;
    // Why Open failed, or why reading stopped part-way; empty otherwise.
    const std::string& GetError() const;

    // Closes the file for the caller (parking the decoder, see above); false
    // when nothing was open.
    bool Close();
    bool IsOpen() const { return m_bOpen; }

private:
    std::unique_ptr<CDecodeSession> m_pSession;
    bool m_bOpen = false;
    // A parked decoder taken back stands where it stood; Open promises frame 0,
    // so the first Read seeks there unless a Seek comes first.
    bool m_bRewindPending = false;
    std::string m_strError; // Open's; the session keeps its own
};
