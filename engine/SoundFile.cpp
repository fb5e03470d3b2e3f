#include "SoundFile.h"

#include <algorithm>
#include <cstring>

namespace {

uint16_t LoadU16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t LoadU32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16)
        | (static_cast<uint32_t>(p[3]) << 24);
}

bool HasWaveExtension(const std::string& strPath)
{
    static const char kExtension[] = ".wav";
    std::string strTail = strPath.size() < 4 ? strPath : strPath.substr(strPath.size() - 4);
    std::transform(strTail.begin(), strTail.end(), strTail.begin(),
        [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
    return strTail == kExtension;
}

} // namespace

const char* DescribeOpenError(EOpenError eError)
{
    switch (eError) {
    case EOpenError::None: return "no error";
    case EOpenError::BadExtension: return "not a .wav file name";
    case EOpenError::AlreadyOpen: return "another file is still open";
    case EOpenError::CannotOpen: return "cannot be opened";
    case EOpenError::NotRegularFile: return "not a regular file";
    case EOpenError::TooShort: return "too short for a WAV header";
    case EOpenError::NoDataChunk: return "no data chunk in the first 4096 bytes";
    case EOpenError::UnsupportedLayout: return "unsupported layout (only 8 or 16-bit, mono or stereo PCM)";
    case EOpenError::UnsupportedRate: return "unsupported sample rate";
    }
    return "unknown error";
}

bool CWaveFile::Refuse(EOpenError eError)
{
    m_eLastError = eError;
    m_bOpen = 0;
    CFile::Close();
    return false;
}

bool CWaveFile::Open(const std::string& strPath)
{
    if (m_bOpen) {
        m_eLastError = EOpenError::AlreadyOpen;
        return false;
    }
    switch (CFile::Open(strPath)) {
    case EOpenResult::Ok: break;
    case EOpenResult::CannotOpen: return Refuse(EOpenError::CannotOpen);
    case EOpenResult::NotRegularFile: return Refuse(EOpenError::NotRegularFile);
    }
    m_bOpen = 1;

    unsigned char abHeader[kHeaderProbeBytes];
    const uint32_t nRead = CFile::Read(abHeader, sizeof abHeader);
    if (nRead < kMinimumHeaderBytes)
        return Refuse(EOpenError::TooShort);

    WAVEFORMATEX wfx;
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = LoadU16(abHeader + 22);
    wfx.nSamplesPerSec = LoadU32(abHeader + 24);
    wfx.nAvgBytesPerSec = LoadU32(abHeader + 28);
    wfx.nBlockAlign = LoadU16(abHeader + 32);
    wfx.wBitsPerSample = LoadU16(abHeader + 34);
    wfx.cbSize = 0;
    if (wfx.nSamplesPerSec == 0)
        return Refuse(EOpenError::UnsupportedRate);
    if (wfx.nBlockAlign == 0)
        return Refuse(EOpenError::UnsupportedLayout);

    // The first tag wins, even inside another chunk's payload; its size field
    // must be complete.
    static const unsigned char kDataTag[4] = { 'd', 'a', 't', 'a' };
    const unsigned char* pTag = std::search(abHeader, abHeader + nRead - 1, kDataTag, kDataTag + 4);
    const uint32_t nTag = static_cast<uint32_t>(pTag - abHeader);
    if (nTag + 8 > nRead)
        return Refuse(EOpenError::NoDataChunk);

    m_wfx = wfx;
    m_dwDataSize = LoadU32(abHeader + nTag + 4);
    m_dwDataOffset = nTag + 8;
    m_eLastError = EOpenError::None;
    SeekFromStart(m_dwDataOffset);
    return true;
}

bool CWaveFile::Close()
{
    if (!m_bOpen)
        return false;
    m_bOpen = 0;
    CFile::Close();
    return true;
}

uint32_t CWaveFile::Read(void* pBuffer, uint32_t nCount)
{
    if (!m_bOpen || nCount == 0)
        return 0;
    const uint64_t nStart = CFile::GetPosition();
    const uint64_t nEnd = DataEnd();
    const uint32_t nWanted = nStart < nEnd ? static_cast<uint32_t>(std::min<uint64_t>(nCount, nEnd - nStart)) : 0;
    const uint32_t nGot = CFile::Read(pBuffer, nWanted);
    if (nGot == nWanted && nWanted < nCount) {
        // A plain read would have gone on into whatever follows the data; the
        // position moves as far, but those bytes are never fetched.
        SeekFromStart(std::min(nStart + nCount, std::max(GetLength(), nStart + nGot)));
    }
    return nGot;
}

void CWaveFile::Seek(uint32_t nPosition)
{
    if (!m_bOpen)
        return;
    if (nPosition < m_dwDataOffset)
        nPosition = m_dwDataOffset;
    // 16 bytes back from the end, but not in front of the data: with less
    // data than that (or none) the header would play as sound.
    const uint64_t nEnd = DataEnd();
    uint64_t nTarget = nPosition;
    if (nEnd < nTarget)
        nTarget = nEnd - std::min<uint64_t>(16, nEnd - m_dwDataOffset);
    nTarget -= nTarget % m_wfx.nBlockAlign;
    SeekFromStart(nTarget);
}

uint32_t CWaveFile::GetLengthSec() const
{
    if (!m_bOpen)
        return 0;
    return static_cast<uint32_t>(GetLength() / m_wfx.nSamplesPerSec / m_wfx.nBlockAlign);
}

uint32_t CWaveFile::GetPositionSec() const
{
    if (!m_bOpen)
        return 0;
    return static_cast<uint32_t>(CFile::GetPosition() / m_wfx.nSamplesPerSec / m_wfx.nBlockAlign);
}

bool CSoundFile::Open(const std::string& strPath)
{
    if (!HasWaveExtension(strPath)) {
        m_eLastError = EOpenError::BadExtension;
        return false;
    }
    m_nType = kTypeWave;
    const bool bOpened = m_WaveFile.Open(strPath);
    m_eLastError = m_WaveFile.GetLastError();
    return bOpened;
}
