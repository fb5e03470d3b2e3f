// CDecodedFile: opens the file itself (regular files only), keeps one
// decoding session, parks it on Close and takes it back on an Open of the
// same file, so that a speed change never moves the decoder.
#include "DecodedFile.h"

#include "DecodeSession.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// O_NONBLOCK keeps the open of a FIFO without a writer from hanging; fstat
// then refuses it, and a device or directory, before anything is read.
int OpenRegularFile(const std::string& strPath, struct stat& st, std::string& strError)
{
    const int hFile = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (hFile < 0) {
        strError = std::string("cannot be opened (") + std::strerror(errno) + ")";
        return -1;
    }
    if (::fstat(hFile, &st) != 0) {
        strError = std::string("cannot be opened (") + std::strerror(errno) + ")";
        ::close(hFile);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        strError = "not a regular file";
        ::close(hFile);
        return -1;
    }
    return hFile;
}

} // namespace

CDecodedFile::CDecodedFile() = default;
CDecodedFile::~CDecodedFile() = default;

bool CDecodedFile::Open(const std::string& strPath)
{
    Close();
    m_strError.clear();
    struct stat st {};
    const int hFile = OpenRegularFile(strPath, st, m_strError);
    if (hFile >= 0 && m_pSession && m_pSession->IsSameFile(strPath, st)) {
        ::close(hFile);
        m_bOpen = true;
        m_bRewindPending = m_pSession->GetPosition() != 0;
        return true;
    }
    m_pSession.reset();
    if (hFile < 0)
        return false;
    auto pSession = std::make_unique<CDecodeSession>();
    if (!pSession->Open(hFile, st, strPath, m_strError))
        return false;
    m_pSession = std::move(pSession);
    m_bOpen = true;
    return true;
}

uint32_t CDecodedFile::Read(void* pBuffer, uint32_t nBytes)
{
    if (!m_bOpen)
        return 0;
    if (m_bRewindPending) {
        m_bRewindPending = false;
        m_pSession->Seek(0);
    }
    const uint32_t nFrameBytes = 2u * m_pSession->GetChannels();
    const uint32_t nFrames = m_pSession->Read(static_cast<int16_t*>(pBuffer), nBytes / nFrameBytes);
    return nFrames * nFrameBytes;
}

void CDecodedFile::Seek(uint64_t nFrame)
{
    if (!m_bOpen)
        return;
    m_bRewindPending = false;
    m_pSession->Seek(nFrame);
}

uint64_t CDecodedFile::GetPositionFrames() const
{
    return m_bOpen && !m_bRewindPending ? m_pSession->GetPosition() : 0;
}

uint64_t CDecodedFile::GetLengthFrames() const
{
    return m_bOpen ? m_pSession->GetLength() : 0;
}

uint32_t CDecodedFile::GetSampleRate() const
{
    return m_bOpen ? m_pSession->GetSampleRate() : 0;
}

uint16_t CDecodedFile::GetChannels() const
{
    return m_bOpen ? m_pSession->GetChannels() : 0;
}

std::string CDecodedFile::GetFormatName() const
{
    return m_bOpen ? m_pSession->GetFormatName() : std::string();
}

std::string CDecodedFile::GetTag(const char* strKey) const
{
    if (!m_pSession)
        return std::string();
    for (const AVDictionary* pTags : { m_pSession->GetContainerTags(), m_pSession->GetStreamTags() }) {
        const AVDictionaryEntry* pTag = av_dict_get(pTags, strKey, nullptr, 0);
        if (pTag && *pTag->value)
            return pTag->value;
    }
    return std::string();
}

bool CDecodedFile::GetCover(std::string& strBytes, std::string& strExtension) const
{
    return m_pSession && m_pSession->GetCover(strBytes, strExtension);
}

const std::string& CDecodedFile::GetError() const
{
    return m_bOpen && !m_pSession->GetError().empty() ? m_pSession->GetError() : m_strError;
}

bool CDecodedFile::Close()
{
    const bool bWasOpen = m_bOpen;
    m_bOpen = false;
    m_bRewindPending = false;
    return bWasOpen;
}
