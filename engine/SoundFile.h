// The WAV reader: one open file at a time, its format record, and reads that
// never deliver a byte outside the data chunk.
//
// The format fields are taken from their places in the canonical 44-byte
// header (channels at 22 ... bits per sample at 34) and the data chunk is the
// first "data" tag in the first 4096 bytes; the chunk structure is not walked.
// Many files in the wild depend on exactly this tolerance.
#pragma once

#include "platform/File.h"
#include "platform/WaveFormat.h"

#include <algorithm>
#include <cstdint>
#include <string>

// Why the last Open failed, most precise first. The player only needs
// success or failure; the command-line tool tells the user the reason.
enum class EOpenError {
    None,
    BadExtension,      // the name does not end in ".wav"
    AlreadyOpen,       // Close the open file first
    CannotOpen,        // the system refused; see the errno kept with it
    NotRegularFile,    // a directory, FIFO or device
    TooShort,          // empty, or too short to hold the format fields
    NoDataChunk,       // no complete "data" tag in the first 4096 bytes
    UnsupportedLayout, // block alignment 0, or not 8/16-bit mono/stereo
    UnsupportedRate,   // 0, below 155 Hz, or too high for the buffers at this speed
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
    void Seek(uint32_t nPosition);
    uint32_t GetLengthSec() const;
    uint32_t GetPositionSec() const;
    uint64_t GetPosition() const { return m_bOpen ? CFile::GetPosition() : 0; }

    const WAVEFORMATEX& GetFormat() const { return m_wfx; }
    EOpenError GetLastError() const { return m_eLastError; }
    int GetLastErrno() const { return GetOpenErrno(); }

    uint32_t DataOffset() const { return m_dwDataOffset; }
    uint32_t DataSize() const { return m_dwDataSize; }
    // 32-bit unsigned, as the reader has always computed it, unless the size
    // field reaches 4 GiB past the data's start: streaming writers, which
    // cannot know the size when they write the header, leave 0xFFFFFFFF
    // there, and such data runs to the end of the file (as it grows).
    uint64_t DataEnd() const
    {
        return DataSizeWraps() ? std::max<uint64_t>(GetLength(), m_dwDataOffset) : m_dwDataOffset + m_dwDataSize;
    }
    bool DataSizeWraps() const { return uint64_t{m_dwDataOffset} + m_dwDataSize > UINT32_MAX; }

private:
    bool Refuse(EOpenError eError);

    WAVEFORMATEX m_wfx{};
    int32_t m_bOpen = 0;
    uint32_t m_dwDataOffset = 0;
    uint32_t m_dwDataSize = 0;
    EOpenError m_eLastError = EOpenError::None;
};

// The engine's file object: accepts names ending in ".wav" (any case) and
// forwards everything to its CWaveFile.
class CSoundFile {
public:
    virtual ~CSoundFile() = default;

    bool Open(const std::string& strPath);
    uint32_t Read(void* pBuffer, uint32_t nCount) { return IsWave() ? m_WaveFile.Read(pBuffer, nCount) : 0; }
    bool Close() { return IsWave() && m_WaveFile.Close(); }
    // The last file's record stays readable after Close; null before any WAV name.
    const WAVEFORMATEX* GetFormat() const { return IsWave() ? &m_WaveFile.GetFormat() : nullptr; }
    uint32_t GetLengthSec() const { return IsWave() ? m_WaveFile.GetLengthSec() : 0; }
    uint32_t GetPositionSec() const { return IsWave() ? m_WaveFile.GetPositionSec() : 0; }
    uint64_t GetPosition() const { return IsWave() ? m_WaveFile.GetPosition() : 0; }
    void Seek(uint32_t nPosition)
    {
        if (IsWave())
            m_WaveFile.Seek(nPosition);
    }

    EOpenError GetLastError() const { return m_eLastError; }
    int GetLastErrno() const { return m_WaveFile.GetLastErrno(); }
    const CWaveFile& WaveFile() const { return m_WaveFile; }

private:
    bool IsWave() const { return m_nType == kTypeWave; }

    static constexpr int32_t kTypeWave = 1;
    int32_t m_nType = 0;
    CWaveFile m_WaveFile;
    EOpenError m_eLastError = EOpenError::None;
};
