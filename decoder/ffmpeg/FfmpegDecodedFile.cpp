// The decoder module's decoded file: it opens the file itself (regular
// files only), keeps one decoding session, parks it on Close and takes it
// back on an Open of the same file, so that a speed change never moves the
// decoder. The module's one exported symbol makes it.
#include "decoder/DecodedFile.h"

#include "DecodeSession.h"

#include <cerrno>
#include <cstring>
#include <memory>
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

class CFfmpegDecodedFile final : public IDecodedFile {
public:
    bool Open(const std::string& strPath) override;
    uint32_t Read(void* pBuffer, uint32_t nBytes) override;
    void Seek(uint64_t nFrame) override;
    uint64_t GetPositionFrames() const override;
    uint64_t GetLengthFrames() const override;
    uint32_t GetSampleRate() const override;
    uint16_t GetChannels() const override;
    std::string GetFormatName() const override;
    std::string GetTag(const char* strKey) const override;
    bool GetCover(std::string& strBytes, std::string& strExtension) const override;
    const std::vector<SChapter>& GetChapters() const override;
    const std::string& GetError() const override;
    bool Close() override;
    bool IsOpen() const override { return m_bOpen; }

private:
    std::unique_ptr<CDecodeSession> m_pSession;
    bool m_bOpen = false;
    // A parked decoder taken back stands where it stood; Open promises frame 0,
    // so the first Read seeks there unless a Seek comes first.
    bool m_bRewindPending = false;
    std::string m_strError; // Open's; the session keeps its own
};

} // namespace

bool CFfmpegDecodedFile::Open(const std::string& strPath)
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

uint32_t CFfmpegDecodedFile::Read(void* pBuffer, uint32_t nBytes)
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

void CFfmpegDecodedFile::Seek(uint64_t nFrame)
{
    if (!m_bOpen)
        return;
    m_bRewindPending = false;
    m_pSession->Seek(nFrame);
}

uint64_t CFfmpegDecodedFile::GetPositionFrames() const
{
    return m_bOpen && !m_bRewindPending ? m_pSession->GetPosition() : 0;
}

uint64_t CFfmpegDecodedFile::GetLengthFrames() const
{
    return m_bOpen ? m_pSession->GetLength() : 0;
}

uint32_t CFfmpegDecodedFile::GetSampleRate() const
{
    return m_bOpen ? m_pSession->GetSampleRate() : 0;
}

uint16_t CFfmpegDecodedFile::GetChannels() const
{
    return m_bOpen ? m_pSession->GetChannels() : 0;
}

std::string CFfmpegDecodedFile::GetFormatName() const
{
    return m_bOpen ? m_pSession->GetFormatName() : std::string();
}

std::string CFfmpegDecodedFile::GetTag(const char* strKey) const
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

bool CFfmpegDecodedFile::GetCover(std::string& strBytes, std::string& strExtension) const
{
    return m_pSession && m_pSession->GetCover(strBytes, strExtension);
}

const std::vector<SChapter>& CFfmpegDecodedFile::GetChapters() const
{
    static const std::vector<SChapter> kNone;
    return m_pSession ? m_pSession->GetChapters() : kNone;
}

const std::string& CFfmpegDecodedFile::GetError() const
{
    return m_bOpen && !m_pSession->GetError().empty() ? m_pSession->GetError() : m_strError;
}

bool CFfmpegDecodedFile::Close()
{
    const bool bWasOpen = m_bOpen;
    m_bOpen = false;
    m_bRewindPending = false;
    return bWasOpen;
}

extern "C" __attribute__((visibility("default"))) IDecodedFile* VelofonNewDecodedFile(int nInterfaceVersion)
{
    return nInterfaceVersion == kDecodedFileInterfaceVersion ? new CFfmpegDecodedFile : nullptr;
}
