#include "RenderOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kBufferBytes = 1 << 20;

void StoreU16(unsigned char* p, uint16_t n)
{
    p[0] = static_cast<unsigned char>(n);
    p[1] = static_cast<unsigned char>(n >> 8);
}

void StoreU32(unsigned char* p, uint32_t n)
{
    StoreU16(p, static_cast<uint16_t>(n));
    StoreU16(p + 2, static_cast<uint16_t>(n >> 16));
}

} // namespace

CRenderOutput::CRenderOutput(bool bRaw, uint32_t nDefaultRate)
    : m_bRaw(bRaw)
    , m_nRate(nDefaultRate)
    , m_abBuffer(kBufferBytes)
{
}

CRenderOutput::~CRenderOutput()
{
    Abort();
}

// Every failure is the target's, whichever file or step it was: the user
// never sees the temporary file.
bool CRenderOutput::Fail()
{
    m_strError = "cannot write " + m_strTarget + ": " + std::strerror(errno);
    return false;
}

bool CRenderOutput::Open(const std::string& strPath)
{
    m_strTarget = strPath;
    struct stat stTarget {};
    if (strPath == "-") {
        m_hFile = STDOUT_FILENO;
    } else if (::stat(strPath.c_str(), &stTarget) == 0 && !S_ISREG(stTarget.st_mode)) {
        // A device or a FIFO (/dev/null, /dev/stdout, a pipe) is written in
        // place: a file renamed over it would replace it.
        m_hFile = ::open(strPath.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (m_hFile < 0)
            return Fail();
        m_bOwnsFile = true;
    } else {
        const size_t nSlash = strPath.rfind('/');
        const std::string strDir = nSlash == std::string::npos ? "" : strPath.substr(0, nSlash + 1);
        const std::string strBase = nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
        std::string strTemplate = strDir + "." + strBase + ".XXXXXX";
        m_hFile = ::mkstemp(strTemplate.data());
        if (m_hFile < 0)
            return Fail();
        m_bOwnsFile = true;
        m_strTemp = strTemplate;
        // mkstemp makes the file private; give it the permissions a new file normally gets.
        const mode_t nMask = ::umask(0);
        ::umask(nMask);
        ::fchmod(m_hFile, 0666 & ~nMask);
    }
    // Only a regular file can have its header completed afterwards.
    struct stat st {};
    m_nHeaderOffset = ::fstat(m_hFile, &st) == 0 && S_ISREG(st.st_mode) ? ::lseek(m_hFile, 0, SEEK_CUR) : -1;
    return true;
}

void CRenderOutput::SetSampleRate(uint32_t nRate)
{
    if (!m_bRateSet) {
        m_nRate = nRate;
        m_bRateSet = true;
    }
}

void CRenderOutput::BuildHeader(unsigned char* pHeader) const
{
    // Sizes beyond 32 bits (or not yet known on a pipe) are given as the largest.
    const uint64_t nRiffBytes = m_nHeaderOffset >= 0 ? m_nDataBytes + kHeaderBytes - 8 : UINT32_MAX;
    const uint64_t nDataBytes = m_nHeaderOffset >= 0 ? m_nDataBytes : UINT32_MAX;
    std::memcpy(pHeader, "RIFF", 4);
    StoreU32(pHeader + 4, static_cast<uint32_t>(std::min<uint64_t>(nRiffBytes, UINT32_MAX)));
    std::memcpy(pHeader + 8, "WAVEfmt ", 8);
    StoreU32(pHeader + 16, 16);
    StoreU16(pHeader + 20, 1);
    StoreU16(pHeader + 22, 2);
    StoreU32(pHeader + 24, m_nRate);
    StoreU32(pHeader + 28, m_nRate * 4);
    StoreU16(pHeader + 32, 4);
    StoreU16(pHeader + 34, 16);
    std::memcpy(pHeader + 36, "data", 4);
    StoreU32(pHeader + 40, static_cast<uint32_t>(std::min<uint64_t>(nDataBytes, UINT32_MAX)));
}

// The header goes out before the first frame; on a pipe it cannot be completed later.
bool CRenderOutput::EnsureHeader()
{
    if (m_bRaw || m_bHeaderWritten)
        return true;
    unsigned char abHeader[kHeaderBytes];
    BuildHeader(abHeader);
    m_bHeaderWritten = true;
    return Append(abHeader, kHeaderBytes);
}

bool CRenderOutput::Write(const void* pData, uint32_t nBytes)
{
    if (!EnsureHeader())
        return false;
    m_nDataBytes += nBytes;
    return Append(static_cast<const unsigned char*>(pData), nBytes);
}

bool CRenderOutput::Append(const unsigned char* pData, size_t nBytes)
{
    while (nBytes > 0) {
        const size_t nTake = std::min(nBytes, m_abBuffer.size() - m_nBuffered);
        std::memcpy(m_abBuffer.data() + m_nBuffered, pData, nTake);
        m_nBuffered += nTake;
        pData += nTake;
        nBytes -= nTake;
        if (m_nBuffered == m_abBuffer.size() && !Flush())
            return false;
    }
    return true;
}

bool CRenderOutput::WriteAll(const unsigned char* pData, size_t nBytes)
{
    while (nBytes > 0) {
        const ssize_t nWritten = ::write(m_hFile, pData, nBytes);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0)
            return Fail();
        pData += nWritten;
        nBytes -= static_cast<size_t>(nWritten);
    }
    return true;
}

bool CRenderOutput::Flush()
{
    const bool bOk = WriteAll(m_abBuffer.data(), m_nBuffered);
    m_nBuffered = 0;
    return bOk;
}

bool CRenderOutput::Commit()
{
    if (!EnsureHeader() || !Flush())
        return false;
    if (!m_bRaw && m_nHeaderOffset >= 0) {
        unsigned char abHeader[kHeaderBytes];
        BuildHeader(abHeader);
        if (::pwrite(m_hFile, abHeader, kHeaderBytes, m_nHeaderOffset) != static_cast<ssize_t>(kHeaderBytes))
            return Fail();
    }
    if (!m_bOwnsFile)
        return true;
    if (::close(m_hFile) != 0) {
        m_hFile = -1;
        return Fail();
    }
    m_hFile = -1;
    if (m_strTemp.empty())
        return true;
    if (::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0)
        return Fail();
    m_strTemp.clear();
    return true;
}

void CRenderOutput::Abort()
{
    if (m_bOwnsFile && m_hFile >= 0)
        ::close(m_hFile);
    m_hFile = -1;
    if (!m_strTemp.empty())
        ::unlink(m_strTemp.c_str());
    m_strTemp.clear();
}
