// IDecodedFile: any audio file FFmpeg can read (MP3, AAC, Opus, Vorbis, FLAC,
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
// is the object's own).
//
// FFmpeg lives in a module of its own (decoder/ffmpeg/), loaded the first
// time a file needs it (DecoderModule.h), so that a program which plays only
// WAVs never maps FFmpeg's many libraries. This interface, and the module's
// one entry point that makes such objects, hold no FFmpeg type. Both sides
// come from the same build, so C++ types may cross.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A chapter of a file (an M4B's chapter list, an MP3's CHAP frames, Ogg and
// FLAC CHAPTERnnn tags, Matroska's chapters), in frames of what Read delivers.
struct SChapter {
    uint64_t nStartFrame = 0; // first frame, in frames of the decoded stream
    uint64_t nEndFrame = 0;   // exclusive: the next chapter's start; the last one's is the file's end
    std::string strTitle;     // its "title" metadata, empty when none
};

class IDecodedFile {
public:
    virtual ~IDecodedFile() = default;

    // Opens the path for decoding from its first frame. Only a regular file is
    // opened (a FIFO or device is refused before any read) and only it: FFmpeg
    // may open nothing else (no playlist, no reference), and a ":" in the name
    // means nothing special. False with GetError telling why in words for the
    // user: "cannot be opened (...)", "not a regular file", "not an audio file
    // FFmpeg can read", "no audio stream", or the decoder's own error text.
    virtual bool Open(const std::string& strPath) = 0;

    // Copies up to nBytes of whole frames into pBuffer; returns the bytes.
    // 0 at the end, or once a decode error part-way has been reached: what was
    // decoded before it comes first, and then the file ends as at its end.
    virtual uint32_t Read(void* pBuffer, uint32_t nBytes) = 0;

    // The next Read starts at frame nFrame of the decoded stream, or at its end
    // if that comes sooner. Seeking to the current position does nothing.
    // The first far seek in a file whose format has no table to seek by (an
    // MP3) reads its way there, under a second in a 10-hour file, and starts
    // a scan of the file on a thread of its own; from then on a seek anywhere
    // the scan has passed takes milliseconds.
    virtual void Seek(uint64_t nFrame) = 0;

    // The frame the next Read delivers first.
    virtual uint64_t GetPositionFrames() const = 0;
    // The length in frames: the container's duration until the end has been
    // read, exact from then on.
    virtual uint64_t GetLengthFrames() const = 0;
    virtual uint32_t GetSampleRate() const = 0; // of the frames delivered
    virtual uint16_t GetChannels() const = 0;   // 1 or 2
    // The codec's name as a user knows it, e.g. "MP3", "AAC", "Opus".
    virtual std::string GetFormatName() const = 0;
    // A tag of the file last opened, also once closed: "title", "album",
    // "artist" (in any case), as the container or else the audio stream
    // holds it; empty when it has none.
    virtual std::string GetTag(const char* strKey) const = 0;
    // The first picture the file carries (an MP3's APIC, an MP4's covr, a
    // FLAC or Ogg picture): its bytes and "jpg" or "png" (else "img");
    // false when it has none.
    virtual bool GetCover(std::string& strBytes, std::string& strExtension) const = 0;
    // The chapters of the file last opened, also once closed (like GetTag);
    // empty when it has none. Sorted by start, each start a distinct frame
    // before the end; the last one ends with the length, which becomes exact
    // once the end has been read.
    virtual const std::vector<SChapter>& GetChapters() const = 0;
    // Why Open failed, or why reading stopped part-way; empty otherwise.
    virtual const std::string& GetError() const = 0;

    // Closes the file for the caller (parking the decoder, see above); false
    // when nothing was open.
    virtual bool Close() = 0;
    virtual bool IsOpen() const = 0;
};

// The module's entry point: a new decoded file, or nullptr when the module
// was built for another nInterfaceVersion than the caller's.
constexpr int kDecodedFileInterfaceVersion = 2;
constexpr const char* kNewDecodedFileSymbol = "VelofonNewDecodedFile";
extern "C" {
typedef IDecodedFile* (*PNewDecodedFile)(int nInterfaceVersion);
}
