// The engine's file: one open file at a time, its format record, and reads
// of its samples. A WAV in the player's own format (8 or 16-bit PCM, mono or
// stereo, up to 48 kHz) is read by the WAV reader below, byte for byte as it
// lies in the file; everything else goes to FFmpeg's decoder (a module,
// loaded when a file first needs it), whose 16-bit frames are read like the
// PCM of such a file.
//
// The format fields are taken from their places in the canonical 44-byte
// header (channels at 22 ... bits per sample at 34) and the data chunk is the
// first "data" tag in the first 4096 bytes; the chunk structure is not walked.
// Many files in the wild depend on exactly this tolerance.
#pragma once

#include "decoder/DecodedFile.h"
#include "platform/files/File.h"
#include "platform/audio/WaveFormat.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// SetEndFrame's "the file ends where it ends".
constexpr uint64_t kNoEndFrame = UINT64_MAX;

// Why the last Open failed, most precise first. The player only needs
// success or failure; the command-line tool tells the user the reason.
enum class EOpenError {
    None,
    AlreadyOpen,       // Close the open file first
    CannotOpen,        // the system refused; see the errno kept with it
    NotRegularFile,    // a directory, FIFO or device
    TooShort,          // empty, or too short to hold the format fields
    NoDataChunk,       // no complete "data" tag in the first 4096 bytes
    UnsupportedLayout, // block alignment 0, or not 8/16-bit mono/stereo
    UnsupportedRate,   // 0, below 155 Hz, or too high for the buffers at this speed
    NotDecodable,      // FFmpeg cannot play it; the decoder's words say why
};

const char* DescribeOpenError(EOpenError eError);

class CWaveFile : public CFile {
public:
    static constexpr uint32_t kHeaderProbeBytes = 4096;
    // Bytes 0 to 35 hold the fields up to bits per sample.
    static constexpr uint32_t kMinimumHeaderBytes = 36;

    bool Open(const std::string& strPath);
    bool Close();

    // Reads at the current position; bytes past the end of the data are not
    // counted (the position still moves as if they had been read).
    uint32_t Read(void* pBuffer, uint32_t nCount) override;

    // Clamps into the data, then rounds down to a whole block counted from the
    // start of the file.
    void Seek(uint64_t nPosition);
    uint32_t GetLengthSec() const;
    uint32_t GetPositionSec() const;
    uint64_t GetPosition() const { return m_bOpen ? CFile::GetPosition() : 0; }

    const WAVEFORMATEX& GetFormat() const { return m_wfx; }
    EOpenError GetLastError() const { return m_eLastError; }
    int GetLastErrno() const { return GetOpenErrno(); }

    // The format tag the file declares, at offset 20; for an extensible
    // header (0xFFFE) the one its subformat names, at offset 44.
    uint16_t DeclaredFormatTag() const { return m_wDeclaredTag; }

    uint32_t DataOffset() const { return m_dwDataOffset; }
    uint32_t DataSize() const { return m_dwDataSize; }
    // 32-bit unsigned, as the reader has always computed it, unless the size
    // field says nothing: streaming writers, which cannot know the size when
    // they write the header, leave 0xFFFFFFFF there (any size reaching 4 GiB
    // past the data's start counts), and a recorder that died before closing
    // the file leaves 0. Such data runs to the end of the file (as it grows),
    // as the ffmpeg program reads it.
    uint64_t DataEnd() const
    {
        return DataRunsToEnd() ? std::max<uint64_t>(GetLength(), m_dwDataOffset) : m_dwDataOffset + m_dwDataSize;
    }
    bool DataRunsToEnd() const { return m_dwDataSize == 0 || uint64_t{m_dwDataOffset} + m_dwDataSize > UINT32_MAX; }

private:
    bool Refuse(EOpenError eError);

    WAVEFORMATEX m_wfx{};
    int32_t m_bOpen = 0;
    uint32_t m_dwDataOffset = 0;
    uint32_t m_dwDataSize = 0;
    uint16_t m_wDeclaredTag = 0;
    EOpenError m_eLastError = EOpenError::None;
};

// Whether a file of this name goes to the decoder module whatever it holds:
// a name that does not end in ".wav" (a WAV may still go there once read).
bool TakesDecodedRoad(const std::string& strPath);

// The sample layouts the engine reads itself, from channels and block
// alignment alone (bits per sample and the format tag are not consulted).
enum EFormatKind { FMT_NONE = 0, FMT_MONO8 = 1, FMT_MONO16 = 2, FMT_STEREO8 = 3, FMT_STEREO16 = 4 };
EFormatKind FormatKindOf(const WAVEFORMATEX& wfx);

// The engine's file object. A name ending in ".wav" (any case) whose header
// the reader accepts in the player's own format is read by CWaveFile; any
// other file, and a WAV in another format (a-law, µ-law, 24-bit, float, more
// channels, above 48 kHz, or a header the reader refuses), by the decoder module (loaded then).
// Positions are bytes: of the file on the first road, of the decoded 16-bit
// stream (frames x block alignment) on the second.
class CSoundFile {
public:
    // The rates the player's own road reads directly; a WAV above it is
    // resampled by FFmpeg, one below it plays on no road.
    static constexpr uint32_t kHighestOwnRate = 48000;
    static constexpr uint32_t kLowestRate = 155;

    virtual ~CSoundFile() = default;

    bool Open(const std::string& strPath);
    uint32_t Read(void* pBuffer, uint32_t nCount);
    bool Close();
    // The last file's record stays readable after Close; null before any open.
    const WAVEFORMATEX* GetFormat() const { return m_nType == kTypeNone ? nullptr : &m_wfx; }
    uint32_t GetLengthSec() const;
    uint32_t GetPositionSec() const;
    uint64_t GetPosition() const;
    void Seek(uint64_t nPosition);
    // Moves the reader to frame nFrame of the sound (clamped like Seek).
    void SeekFrame(uint64_t nFrame);
    // The frames of sound the open file holds (of a WAV, as far as it really
    // reaches), and the frame the reader stands at; for progress displays.
    uint64_t GetLengthFrames() const;
    uint64_t GetPositionFrames() const;
    bool IsDecoded() const { return m_nType == kTypeDecoded; }
    // Reads from now on end at frame nFrame (exclusive), as if the file ended
    // there; lengths and seeks are unchanged. Each Open sets kNoEndFrame.
    void SetEndFrame(uint64_t nFrame) { m_nEndFrame = nFrame; }
    uint64_t GetEndFrame() const { return m_nEndFrame; }

    EOpenError GetLastError() const { return m_eLastError; }
    int GetLastErrno() const { return m_WaveFile.GetLastErrno(); }
    // Why the last Open failed, in the words a user reads.
    std::string GetLastErrorText() const;
    // "WAV", or the codec FFmpeg decodes ("MP3", "AAC", ...).
    std::string GetFormatName() const;
    // A tag of the last file opened ("title", "album", "artist"); empty for
    // a WAV that the own reader plays, whose tags it does not read.
    std::string GetTag(const char* strKey) const
    {
        return m_nType == kTypeDecoded ? m_pDecodedFile->GetTag(strKey) : std::string();
    }
    // The last file's cover picture, its bytes and "jpg", "png" or "img";
    // false for none (a WAV that the own reader plays has none).
    bool GetCover(std::string& strBytes, std::string& strExtension) const
    {
        return m_nType == kTypeDecoded && m_pDecodedFile->GetCover(strBytes, strExtension);
    }
    // The last file's chapters (see IDecodedFile); none for a WAV that the
    // own reader plays.
    const std::vector<SChapter>& GetChapters() const;
    const CWaveFile& WaveFile() const { return m_WaveFile; }

private:
    bool IsOwnFormat() const;
    bool OpenDecoded(const std::string& strPath);
    bool IsWaveOpen() const { return m_nType == kTypeWave && m_WaveFile.IsOpen(); }
    bool IsDecodedOpen() const { return m_nType == kTypeDecoded && m_pDecodedFile->IsOpen(); }

    static constexpr int32_t kTypeNone = 0;
    static constexpr int32_t kTypeWave = 1;
    static constexpr int32_t kTypeDecoded = 2;
    int32_t m_nType = kTypeNone;
    WAVEFORMATEX m_wfx{};
    CWaveFile m_WaveFile;
    // Made from the decoder module by the first file that needs it, so that
    // only such a file loads FFmpeg; kept from then on.
    std::unique_ptr<IDecodedFile> m_pDecodedFile;
    EOpenError m_eLastError = EOpenError::None;
    std::string m_strDecoderError;
    uint64_t m_nEndFrame = kNoEndFrame;
};
