#include "RenderOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kBufferBytes = 1 << 20;
// The random part of a hidden name, as long as mkstemp's.
constexpr size_t kRandomChars = 6;
constexpr int kLinkTries = 100;

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

// Whether the file open as hFile still has the name strPath.
bool HasName(int hFile, const std::string& strPath)
{
    struct stat stOpen {};
    struct stat stNamed {};
    return ::fstat(hFile, &stOpen) == 0 && ::lstat(strPath.c_str(), &stNamed) == 0 && IsSameFile(stOpen, stNamed);
}

std::string RandomChars()
{
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
    std::string str;
    for (size_t i = 0; i < kRandomChars; ++i)
        str += kChars[pick(random)];
    return str;
}

} // namespace

bool IsSameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool CPendingFile::Open(const std::string& strFolder, const std::string& strName, bool bAllowUnnamed)
{
    Discard();
    m_strFolder = strFolder.empty() || strFolder.back() == '/' ? strFolder : strFolder + "/";
    m_strName = strName;
    RemoveLeftovers();
    if (bAllowUnnamed) {
        m_hFile = ::open(FolderToOpen().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        // Locked like a hidden file, for the moment it has a name in Commit.
        if (m_hFile >= 0)
            ::flock(m_hFile, LOCK_EX);
        // Some file systems (older ones, some FUSE ones) have no unnamed files.
        if (m_hFile >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
            return m_hFile >= 0;
    }
    return OpenNamed();
}

bool CPendingFile::OpenNamed()
{
    for (;;) {
        std::string strTemplate = m_strFolder + TempPrefix() + std::string(kRandomChars, 'X');
        m_hFile = ::mkostemp(strTemplate.data(), O_CLOEXEC);
        if (m_hFile < 0)
            return false;
        m_strTemp = strTemplate;
        // Until it is locked another run may take it for a leftover and remove
        // it; it is kept only if it still has its name once locked. Where the
        // file system has no locks, no run can take a lock to remove it either.
        ::flock(m_hFile, LOCK_EX);
        if (HasName(m_hFile, m_strTemp))
            break;
        ::close(m_hFile);
        m_hFile = -1;
        m_strTemp.clear();
    }
    // mkstemp makes the file private; give it the permissions a new file normally gets.
    const mode_t nMask = ::umask(0);
    ::umask(nMask);
    ::fchmod(m_hFile, 0666 & ~nMask);
    return true;
}

// Hidden files of this target whose lock can be taken were left by runs that
// died; a run under way holds its lock to the end.
void CPendingFile::RemoveLeftovers() const
{
    DIR* pFolder = ::opendir(FolderToOpen().c_str());
    if (!pFolder)
        return;
    const std::string strPrefix = TempPrefix();
    while (const dirent* pEntry = ::readdir(pFolder)) {
        const std::string strEntry = pEntry->d_name;
        if (strEntry.size() != strPrefix.size() + kRandomChars || strEntry.compare(0, strPrefix.size(), strPrefix) != 0)
            continue;
        const std::string strPath = m_strFolder + strEntry;
        const int hLeftover = ::open(strPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (hLeftover < 0)
            continue;
        struct stat st {};
        // Once locked the name is checked again: its run may have just moved
        // it into place, and another run taken the name.
        if (::fstat(hLeftover, &st) == 0 && S_ISREG(st.st_mode) && ::flock(hLeftover, LOCK_EX | LOCK_NB) == 0
            && HasName(hLeftover, strPath))
            ::unlink(strPath.c_str());
        ::close(hLeftover);
    }
    ::closedir(pFolder);
}

// The unnamed file gets a hidden name beside the target, which rename then
// moves over the target: a link cannot replace a file.
bool CPendingFile::LinkUnnamed()
{
    // linkat with AT_EMPTY_PATH would link the file itself, but needs a
    // privilege (CAP_DAC_READ_SEARCH) ordinary users lack; the file's entry in
    // /proc needs none. Without /proc, AT_EMPTY_PATH is what is left.
    const std::string strSelf = "/proc/self/fd/" + std::to_string(m_hFile);
    for (int nTry = 0; nTry < kLinkTries; ++nTry) {
        const std::string strTemp = m_strFolder + TempPrefix() + RandomChars();
        int nLinked = ::linkat(AT_FDCWD, strSelf.c_str(), AT_FDCWD, strTemp.c_str(), AT_SYMLINK_FOLLOW);
        if (nLinked != 0 && errno == ENOENT)
            nLinked = ::linkat(m_hFile, "", AT_FDCWD, strTemp.c_str(), AT_EMPTY_PATH);
        if (nLinked == 0) {
            m_strTemp = strTemp;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Without it a power cut could undo the rename: the old file would be back.
bool CPendingFile::SyncFolder() const
{
    const int hFolder = ::open(FolderToOpen().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (hFolder < 0)
        return false;
    // Some file systems cannot sync a folder, and need not.
    const bool bSynced = ::fsync(hFolder) == 0 || errno == EINVAL;
    const int nError = errno;
    ::close(hFolder);
    errno = nError;
    return bSynced;
}

bool CPendingFile::Commit()
{
    if (::fsync(m_hFile) != 0 || (m_strTemp.empty() && !LinkUnnamed())
        || ::rename(m_strTemp.c_str(), (m_strFolder + m_strName).c_str()) != 0)
        return FailAndDiscard();
    m_strTemp.clear();
    // Closed only now: the lock guards the hidden name up to the rename. The
    // data is on disk, so closing can report nothing new.
    ::close(m_hFile);
    m_hFile = -1;
    return SyncFolder();
}

bool CPendingFile::FailAndDiscard()
{
    const int nError = errno;
    Discard();
    errno = nError;
    return false;
}

// The name goes before the lock.
void CPendingFile::Discard()
{
    if (!m_strTemp.empty())
        ::unlink(m_strTemp.c_str());
    m_strTemp.clear();
    if (m_hFile >= 0)
        ::close(m_hFile);
    m_hFile = -1;
}

CBlockWriter::~CBlockWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bQuit = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool CBlockWriter::WaitUntilIdle(std::unique_lock<std::mutex>& lock)
{
    m_changed.wait(lock, [this] { return !m_bPending; });
    errno = m_nErrno;
    return m_nErrno == 0;
}

bool CBlockWriter::Post(int hFile, std::vector<unsigned char>& abBlock, size_t nBytes, uint64_t nOffset, bool bWriteback)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!WaitUntilIdle(lock))
        return false;
    if (nBytes == 0)
        return true;
    m_abBlock.swap(abBlock);
    m_nBytes = nBytes;
    m_hFile = hFile;
    m_nOffset = nOffset;
    m_bWriteback = bWriteback;
    m_bPending = true;
    if (!m_thread.joinable())
        m_thread = std::thread(&CBlockWriter::Run, this);
    lock.unlock();
    m_changed.notify_all();
    return true;
}

bool CBlockWriter::Finish()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return WaitUntilIdle(lock);
}

void CBlockWriter::Run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_bPending || m_bQuit; });
        if (!m_bPending)
            return;
        lock.unlock();
        const unsigned char* pData = m_abBlock.data();
        size_t nLeft = m_nBytes;
        int nErrno = 0;
        while (nLeft > 0) {
            const ssize_t nWritten = ::write(m_hFile, pData, nLeft);
            if (nWritten < 0 && errno == EINTR)
                continue;
            if (nWritten <= 0) {
                nErrno = nWritten < 0 ? errno : EIO;
                break;
            }
            pData += nWritten;
            nLeft -= static_cast<size_t>(nWritten);
        }
        if (nErrno == 0 && m_bWriteback)
            ::sync_file_range(m_hFile, static_cast<off64_t>(m_nOffset), static_cast<off64_t>(m_nBytes),
                              SYNC_FILE_RANGE_WRITE);
        lock.lock();
        m_nErrno = nErrno;
        m_bPending = false;
        m_changed.notify_all();
    }
}

CRenderOutput::CRenderOutput(bool bRaw, uint32_t nDefaultRate)
    : m_bRaw(bRaw)
    , m_nRate(nDefaultRate)
    , m_abBuffer(kBufferBytes)
    , m_writer(kBufferBytes)
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
        const std::string strFolder = nSlash == std::string::npos ? "" : strPath.substr(0, nSlash + 1);
        if (!m_pending.Open(strFolder, strPath.substr(strFolder.size())))
            return Fail();
        m_hFile = m_pending.GetHandle();
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

bool CRenderOutput::Flush()
{
    // The file is synced before it takes the target's name; its writeback
    // starts block by block, so that the sync waits for little more than the
    // last one.
    const bool bPosted = m_writer.Post(m_hFile, m_abBuffer, m_nBuffered, m_nFlushedBytes, m_pending.IsOpen());
    m_nFlushedBytes += m_nBuffered;
    m_nBuffered = 0;
    return bPosted || Fail();
}

bool CRenderOutput::Commit()
{
    if (!EnsureHeader() || !Flush())
        return false;
    if (!m_writer.Finish())
        return Fail();
    if (!m_bRaw && m_nHeaderOffset >= 0) {
        unsigned char abHeader[kHeaderBytes];
        BuildHeader(abHeader);
        if (::pwrite(m_hFile, abHeader, kHeaderBytes, m_nHeaderOffset) != static_cast<ssize_t>(kHeaderBytes))
            return Fail();
    }
    if (m_pending.IsOpen()) {
        m_hFile = -1;
        return m_pending.Commit() || Fail();
    }
    if (!m_bOwnsFile)
        return true;
    const bool bClosed = ::close(m_hFile) == 0;
    m_hFile = -1;
    return bClosed || Fail();
}

void CRenderOutput::Abort()
{
    m_writer.Finish();
    m_pending.Discard();
    if (m_bOwnsFile && m_hFile >= 0)
        ::close(m_hFile);
    m_hFile = -1;
}
