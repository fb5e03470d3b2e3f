#include "File.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CFile::~CFile()
{
    Close();
}

CFile::EOpenResult CFile::Open(const std::string& strPath)
{
    Close();
    m_nOpenErrno = 0;
    // O_NONBLOCK keeps open() of a FIFO without writer from blocking; it has no
    // effect on the regular files that are all we accept.
    int hFile = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (hFile < 0) {
        m_nOpenErrno = errno;
        return EOpenResult::CannotOpen;
    }
    struct stat st {};
    if (::fstat(hFile, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_nOpenErrno = errno;
        ::close(hFile);
        return EOpenResult::NotRegularFile;
    }
    ::posix_fadvise(hFile, 0, 0, POSIX_FADV_SEQUENTIAL);
    m_hFile = hFile;
    m_nPosition = 0;
    SetFilePath(strPath);
    return EOpenResult::Ok;
}

uint32_t CFile::Read(void* pBuffer, uint32_t nCount)
{
    if (m_hFile < 0)
        return 0;
    auto* pOut = static_cast<unsigned char*>(pBuffer);
    uint32_t nDone = 0;
    while (nDone < nCount) {
        ssize_t nGot = ::pread(m_hFile, pOut + nDone, nCount - nDone, static_cast<off_t>(m_nPosition));
        if (nGot < 0 && errno == EINTR)
            continue;
        if (nGot <= 0)
            break;
        nDone += static_cast<uint32_t>(nGot);
        m_nPosition += static_cast<uint64_t>(nGot);
    }
    return nDone;
}

uint64_t CFile::SeekFromStart(uint64_t nOffset)
{
    if (m_hFile >= 0)
        m_nPosition = nOffset;
    return m_nPosition;
}

uint64_t CFile::GetLength() const
{
    struct stat st {};
    if (m_hFile < 0 || ::fstat(m_hFile, &st) != 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

void CFile::Close()
{
    if (m_hFile >= 0)
        ::close(m_hFile);
    m_hFile = -1;
    m_nPosition = 0;
}
