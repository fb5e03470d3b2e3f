// Where `velofon render` writes: a canonical 16-bit stereo WAV or raw frames,
// to standard output or to a temporary file beside the target that is renamed
// over it only when the run completes, so a failed run never leaves half a file.
// A target that is there and is no regular file (a device, a FIFO) is written
// in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CRenderOutput {
public:
    static constexpr uint32_t kHeaderBytes = 44;

    CRenderOutput(bool bRaw, uint32_t nDefaultRate);
    CRenderOutput(const CRenderOutput&) = delete;
    CRenderOutput& operator=(const CRenderOutput&) = delete;
    ~CRenderOutput();

    // "-" means standard output. False with GetError() on failure.
    bool Open(const std::string& strPath);
    // The header carries the rate of the first rendered input.
    void SetSampleRate(uint32_t nRate);
    bool HasSampleRate() const { return m_bRateSet; }
    uint32_t GetSampleRate() const { return m_nRate; }
    bool Write(const void* pData, uint32_t nBytes);
    // Completes the header and moves the file into place.
    bool Commit();
    // Removes the temporary file; used on failure and interruption.
    void Abort();

    const std::string& GetError() const { return m_strError; }
    // True once a WAV file's sizes no longer fit its header's 32-bit fields,
    // which are then capped.
    bool ExceedsHeaderSizes() const { return !m_bRaw && m_nDataBytes + kHeaderBytes - 8 > UINT32_MAX; }

private:
    bool EnsureHeader();
    bool Append(const unsigned char* pData, size_t nBytes);
    bool Flush();
    bool WriteAll(const unsigned char* pData, size_t nBytes);
    bool Fail();
    void BuildHeader(unsigned char* pHeader) const;

    bool m_bRaw;
    uint32_t m_nRate;
    bool m_bRateSet = false;
    bool m_bHeaderWritten = false;
    int m_hFile = -1;
    bool m_bOwnsFile = false;
    int64_t m_nHeaderOffset = -1; // where the header can be patched, -1 when unseekable
    uint64_t m_nDataBytes = 0;
    std::string m_strTarget;
    std::string m_strTemp;
    std::vector<unsigned char> m_abBuffer;
    size_t m_nBuffered = 0;
    std::string m_strError;
};
