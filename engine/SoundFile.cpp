#include "SoundFile.h"

#include "decoder/DecoderModule.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t kALawTag = 6;
constexpr uint16_t kMuLawTag = 7;
constexpr uint16_t kExtensibleTag = 0xFFFE;
// The first two bytes of an extensible header's subformat GUID are the tag.
constexpr uint32_t kSubformatTagOffset = 44;

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
    case EOpenError::AlreadyOpen: return "another file is still open";
    case EOpenError::CannotOpen: return "cannot be opened";
    case EOpenError::NotRegularFile: return "not a regular file";
    case EOpenError::TooShort: return "too short for a WAV header";
    case EOpenError::NoDataChunk: return "no data chunk in the first 4096 bytes";
    case EOpenError::UnsupportedLayout: return "unsupported layout (only 8 or 16-bit, mono or stereo PCM)";
    case EOpenError::UnsupportedRate: return "unsupported sample rate";
    case EOpenError::NotDecodable: return "not an audio file FFmpeg can read";
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
    m_wDeclaredTag = LoadU16(abHeader + 20);
    if (m_wDeclaredTag == kExtensibleTag && nRead >= kSubformatTagOffset + 2)
        m_wDeclaredTag = LoadU16(abHeader + kSubformatTagOffset);
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

void CWaveFile::Seek(uint64_t nPosition)
{
    if (!m_bOpen)
        return;
    uint64_t nTarget = std::max<uint64_t>(nPosition, m_dwDataOffset);
    // 16 bytes back from the end, but not in front of the data: with less
    // data than that (or none) the header would play as sound.
    const uint64_t nEnd = DataEnd();
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
    if (IsWaveOpen() || IsDecodedOpen()) {
        m_eLastError = EOpenError::AlreadyOpen;
        return false;
    }
    m_strDecoderError.clear();
    m_nEndFrame = kNoEndFrame;
    if (TakesDecodedRoad(strPath))
        return OpenDecoded(strPath);
    // What the reader says against the file, should FFmpeg refuse it too: it
    // says more precisely what is wrong with a WAV than FFmpeg's "cannot read".
    EOpenError eWaveError = EOpenError::None;
    if (m_WaveFile.Open(strPath)) {
        const uint32_t nRate = m_WaveFile.GetFormat().nSamplesPerSec;
        if (nRate >= kLowestRate && IsOwnFormat()) {
            m_nType = kTypeWave;
            m_wfx = m_WaveFile.GetFormat();
            m_eLastError = EOpenError::None;
            return true;
        }
        m_WaveFile.Close();
        if (nRate < kLowestRate) {
            m_eLastError = EOpenError::UnsupportedRate;
            return false;
        }
        eWaveError = nRate > kHighestOwnRate ? EOpenError::UnsupportedRate : EOpenError::UnsupportedLayout;
    } else {
        eWaveError = m_WaveFile.GetLastError();
        // A file that is missing, unreadable or no file at all is that for FFmpeg too.
        if (eWaveError == EOpenError::CannotOpen || eWaveError == EOpenError::NotRegularFile) {
            m_eLastError = eWaveError;
            return false;
        }
    }
    if (OpenDecoded(strPath))
        return true;
    // Without the module, its absence is what the user must learn.
    if (m_pDecodedFile) {
        m_eLastError = eWaveError;
        m_strDecoderError.clear();
    }
    return false;
}

bool CSoundFile::IsOwnFormat() const
{
    const WAVEFORMATEX& wfx = m_WaveFile.GetFormat();
    const uint16_t wTag = m_WaveFile.DeclaredFormatTag();
    // a-law and µ-law bytes are no unsigned PCM, though their layout is the same.
    return FormatKindOf(wfx) != FMT_NONE && wTag != kALawTag && wTag != kMuLawTag
        && wfx.nSamplesPerSec <= kHighestOwnRate;
}

bool CSoundFile::OpenDecoded(const std::string& strPath)
{
    if (!m_pDecodedFile)
        m_pDecodedFile = NewDecodedFile(m_strDecoderError);
    if (!m_pDecodedFile || !m_pDecodedFile->Open(strPath)) {
        m_eLastError = EOpenError::NotDecodable;
        if (m_pDecodedFile)
            m_strDecoderError = m_pDecodedFile->GetError();
        return false;
    }
    const uint16_t nChannels = m_pDecodedFile->GetChannels();
    m_nType = kTypeDecoded;
    m_wfx = WAVEFORMATEX{};
    m_wfx.wFormatTag = WAVE_FORMAT_PCM;
    m_wfx.nChannels = nChannels;
    m_wfx.nSamplesPerSec = m_pDecodedFile->GetSampleRate();
    m_wfx.nBlockAlign = static_cast<uint16_t>(2 * nChannels);
    m_wfx.nAvgBytesPerSec = m_wfx.nSamplesPerSec * m_wfx.nBlockAlign;
    m_wfx.wBitsPerSample = 16;
    m_eLastError = EOpenError::None;
    return true;
}

uint32_t CSoundFile::Read(void* pBuffer, uint32_t nCount)
{
    if (IsWaveOpen()) {
        // The bytes a copy whose data chunk stops at the end frame would give.
        if (m_nEndFrame != kNoEndFrame) {
            const uint64_t nEndFrames = std::min(m_nEndFrame, (UINT64_MAX - m_WaveFile.DataOffset()) / m_wfx.nBlockAlign);
            const uint64_t nEnd = m_WaveFile.DataOffset() + nEndFrames * m_wfx.nBlockAlign;
            const uint64_t nPosition = m_WaveFile.GetPosition();
            nCount = static_cast<uint32_t>(std::min<uint64_t>(nCount, nEnd > nPosition ? nEnd - nPosition : 0));
        }
        return m_WaveFile.Read(pBuffer, nCount);
    }
    if (IsDecodedOpen()) {
        if (m_nEndFrame != kNoEndFrame) {
            const uint64_t nPosition = m_pDecodedFile->GetPositionFrames();
            const uint64_t nFrames = m_nEndFrame > nPosition ? m_nEndFrame - nPosition : 0;
            nCount = static_cast<uint32_t>(std::min<uint64_t>(nCount / m_wfx.nBlockAlign, nFrames) * m_wfx.nBlockAlign);
        }
        return m_pDecodedFile->Read(pBuffer, nCount);
    }
    return 0;
}

const std::vector<SChapter>& CSoundFile::GetChapters() const
{
    static const std::vector<SChapter> kNone;
    return m_nType == kTypeDecoded ? m_pDecodedFile->GetChapters() : kNone;
}

bool CSoundFile::Close()
{
    if (m_nType == kTypeDecoded)
        return m_pDecodedFile->Close();
    return m_nType == kTypeWave && m_WaveFile.Close();
}

uint32_t CSoundFile::GetLengthSec() const
{
    if (IsDecodedOpen())
        return static_cast<uint32_t>(m_pDecodedFile->GetLengthFrames() / m_wfx.nSamplesPerSec);
    return IsWaveOpen() ? m_WaveFile.GetLengthSec() : 0;
}

uint32_t CSoundFile::GetPositionSec() const
{
    if (IsDecodedOpen())
        return static_cast<uint32_t>(m_pDecodedFile->GetPositionFrames() / m_wfx.nSamplesPerSec);
    return IsWaveOpen() ? m_WaveFile.GetPositionSec() : 0;
}

uint64_t CSoundFile::GetPosition() const
{
    if (IsDecodedOpen())
        return m_pDecodedFile->GetPositionFrames() * m_wfx.nBlockAlign;
    return IsWaveOpen() ? m_WaveFile.GetPosition() : 0;
}

uint64_t CSoundFile::GetLengthFrames() const
{
    if (IsDecodedOpen())
        return m_pDecodedFile->GetLengthFrames();
    if (!IsWaveOpen())
        return 0;
    // A file cut short ends before its data chunk says it does.
    const uint64_t nEnd = std::min<uint64_t>(m_WaveFile.DataEnd(), m_WaveFile.GetLength());
    const uint64_t nStart = m_WaveFile.DataOffset();
    return nEnd > nStart ? (nEnd - nStart) / m_wfx.nBlockAlign : 0;
}

uint64_t CSoundFile::GetPositionFrames() const
{
    if (IsDecodedOpen())
        return m_pDecodedFile->GetPositionFrames();
    if (!IsWaveOpen())
        return 0;
    const uint64_t nPosition = m_WaveFile.GetPosition();
    const uint64_t nStart = m_WaveFile.DataOffset();
    return nPosition > nStart ? (nPosition - nStart) / m_wfx.nBlockAlign : 0;
}

void CSoundFile::Seek(uint64_t nPosition)
{
    if (IsDecodedOpen())
        m_pDecodedFile->Seek(nPosition / m_wfx.nBlockAlign);
    else if (IsWaveOpen())
        m_WaveFile.Seek(nPosition);
}

void CSoundFile::SeekFrame(uint64_t nFrame)
{
    if (IsDecodedOpen())
        m_pDecodedFile->Seek(nFrame);
    else if (IsWaveOpen())
        m_WaveFile.Seek(m_WaveFile.DataOffset() + std::min(nFrame, GetLengthFrames()) * m_wfx.nBlockAlign);
}

std::string CSoundFile::GetLastErrorText() const
{
    if (m_eLastError == EOpenError::NotDecodable && !m_strDecoderError.empty())
        return m_strDecoderError;
    std::string strText = DescribeOpenError(m_eLastError);
    if (m_eLastError == EOpenError::CannotOpen && GetLastErrno() != 0)
        strText += std::string(" (") + std::strerror(GetLastErrno()) + ")";
    return strText;
}

bool TakesDecodedRoad(const std::string& strPath)
{
    return !HasWaveExtension(strPath);
}

std::string CSoundFile::GetFormatName() const
{
    return m_nType == kTypeDecoded ? m_pDecodedFile->GetFormatName() : "WAV";
}

EFormatKind FormatKindOf(const WAVEFORMATEX& wfx)
{
    if (wfx.nChannels == 1 && wfx.nBlockAlign == 1)
        return FMT_MONO8;
    if (wfx.nChannels == 1 && wfx.nBlockAlign == 2)
        return FMT_MONO16;
    if (wfx.nChannels == 2 && wfx.nBlockAlign == 2)
        return FMT_STEREO8;
    if (wfx.nChannels == 2 && wfx.nBlockAlign == 4)
        return FMT_STEREO16;
    return FMT_NONE;
}
