#include "SettingsFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The kernel's own limit of links in one path.
constexpr int kMaxLinks = 40;
// What mkostemp puts after the temporary file's prefix.
const char kTempSuffix[] = "XXXXXX";
// Temporary files that a start removing leftovers took away before they
// were locked are made anew, up to this many times.
constexpr int kTempAttempts = 8;

std::string Describe(const std::string& strPath, int nError)
{
    return strPath + ": " + g_strerror(nError);
}

// The file a save replaces: the end of a chain of links, else the path
// itself; empty for a loop.
std::string FollowLinks(std::string strPath)
{
    for (int i = 0; i < kMaxLinks; ++i) {
        gchar* pTarget = g_file_read_link(strPath.c_str(), nullptr);
        if (!pTarget)
            return strPath;
        if (pTarget[0] == '/') {
            strPath = pTarget;
        } else {
            gchar* pFolder = g_path_get_dirname(strPath.c_str());
            strPath = std::string(pFolder) + "/" + pTarget;
            g_free(pFolder);
        }
        g_free(pTarget);
    }
    return {};
}

// The folder part and ".<name>.tmp-": a name no file of the user's shares.
std::string TempPrefix(const std::string& strTarget)
{
    const size_t nNameStart = strTarget.rfind('/') + 1;
    return strTarget.substr(0, nNameStart) + "." + strTarget.substr(nNameStart) + ".tmp-";
}

bool TryLock(int hFile)
{
    return ::flock(hFile, LOCK_EX | LOCK_NB) == 0;
}

// The open file is still the one the path leads to: not removed or replaced.
bool IsStillNamed(int hFile, const std::string& strPath)
{
    struct stat stOpen {};
    struct stat stNamed {};
    return ::fstat(hFile, &stOpen) == 0 && ::lstat(strPath.c_str(), &stNamed) == 0 &&
        stOpen.st_dev == stNamed.st_dev && stOpen.st_ino == stNamed.st_ino;
}

void RemoveInterruptedSaves(const std::string& strTarget)
{
    if (strTarget.empty())
        return;
    const std::string strPrefix = TempPrefix(strTarget);
    const size_t nNameStart = strPrefix.rfind('/') + 1;
    const std::string strFolder = strPrefix.substr(0, nNameStart);
    const std::string strNamePrefix = strPrefix.substr(nNameStart);
    DIR* pFolder = ::opendir(strFolder.c_str());
    if (!pFolder)
        return;
    while (const dirent* pEntry = ::readdir(pFolder)) {
        const std::string strName = pEntry->d_name;
        if (strName.size() != strNamePrefix.size() + sizeof kTempSuffix - 1 ||
            strName.compare(0, strNamePrefix.size(), strNamePrefix) != 0)
            continue;
        const std::string strTemp = strFolder + strName;
        const int hTemp = ::open(strTemp.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (hTemp < 0)
            continue;
        // A save under way holds the lock; once it is free, the file is a
        // leftover only while its name still leads to it.
        if (TryLock(hTemp) && IsStillNamed(hTemp, strTemp))
            ::unlink(strTemp.c_str());
        ::close(hTemp);
    }
    ::closedir(pFolder);
}

bool WriteAll(int hFile, const std::string& strContent)
{
    for (size_t nDone = 0; nDone < strContent.size();) {
        const ssize_t nWritten = ::write(hFile, strContent.data() + nDone, strContent.size() - nDone);
        if (nWritten < 0 && errno != EINTR)
            return false;
        nDone += nWritten > 0 ? static_cast<size_t>(nWritten) : 0;
    }
    return true;
}

// Writes strContent to a locked temporary file beside strTarget, flushes it
// and renames it over strTarget: 0, or the error that stopped it.
int WriteAndRename(const std::string& strTarget, const std::string& strContent, mode_t nMode)
{
    for (int nAttempt = 0; nAttempt < kTempAttempts; ++nAttempt) {
        std::string strTemp = TempPrefix(strTarget) + kTempSuffix;
        const int hTemp = ::mkostemp(strTemp.data(), O_CLOEXEC);
        if (hTemp < 0)
            return errno;
        // A start that removes leftovers may take the file in the moment
        // before it is locked. Where files cannot be locked, nothing removes
        // them either.
        if ((!TryLock(hTemp) && errno == EWOULDBLOCK) || !IsStillNamed(hTemp, strTemp)) {
            ::close(hTemp);
            continue;
        }
        int nError = 0;
        if (::fchmod(hTemp, nMode) != 0 || !WriteAll(hTemp, strContent) || ::fsync(hTemp) != 0 ||
            ::rename(strTemp.c_str(), strTarget.c_str()) != 0) {
            nError = errno;
            ::unlink(strTemp.c_str());
        }
        ::close(hTemp);
        return nError;
    }
    return EAGAIN;
}

// The first of <file>.damaged, .damaged.2, .damaged.3, ... that is free.
std::string FreeDamagedName(const std::string& strTarget)
{
    for (int n = 1;; ++n) {
        const std::string strName = strTarget + ".damaged" + (n > 1 ? "." + std::to_string(n) : "");
        struct stat st {};
        if (::lstat(strName.c_str(), &st) != 0)
            return strName;
    }
}

// 0, or the error that stopped the rename; never over an existing file.
int RenameNoReplace(const std::string& strFrom, const std::string& strTo)
{
    if (::renameat2(AT_FDCWD, strFrom.c_str(), AT_FDCWD, strTo.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    // A file system without the flag: the name was free a moment ago.
    if (errno == EINVAL && ::rename(strFrom.c_str(), strTo.c_str()) == 0)
        return 0;
    return errno;
}

// 0 when strContent holds the whole file, EFBIG when it is larger than
// nMaxSize, else the read's error.
int ReadAll(int hFile, size_t nMaxSize, std::string& strContent)
{
    char achBuffer[8192];
    for (;;) {
        const ssize_t nGot = ::read(hFile, achBuffer, sizeof achBuffer);
        if (nGot < 0 && errno == EINTR)
            continue;
        if (nGot <= 0)
            return nGot == 0 ? 0 : errno;
        strContent.append(achBuffer, static_cast<size_t>(nGot));
        if (strContent.size() > nMaxSize)
            return EFBIG;
    }
}

void AppendHexEscape(std::string& strOut, unsigned char c)
{
    static const char achDigits[] = "0123456789abcdef";
    strOut += "\\x";
    strOut += achDigits[c >> 4];
    strOut += achDigits[c & 0xf];
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string CSettingsFile::Open(const std::string& strPath, size_t nMaxSize)
{
    m_strPath = strPath;
    m_strDamagedCopy.clear();
    m_strUnreadable.clear();
    m_strError.clear();
    std::string strContent;
    if (strPath.empty())
        return strContent;
    // O_NONBLOCK keeps a FIFO in the file's place from blocking the open.
    const int hFile = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    int nError = hFile < 0 ? errno : 0;
    struct stat st {};
    if (hFile >= 0 && ::fstat(hFile, &st) == 0 && S_ISREG(st.st_mode))
        nError = static_cast<uint64_t>(st.st_size) > nMaxSize ? EFBIG : ReadAll(hFile, nMaxSize, strContent);
    if (hFile >= 0)
        ::close(hFile);
    // A half-read file would be a mix: it reads as nothing.
    if (nError != 0)
        strContent.clear();
    // Nothing there, or a file where a folder should be, reads as empty.
    if (nError == EFBIG)
        SetDamaged();
    else if (nError != 0 && nError != ENOENT && nError != ENOTDIR)
        m_strUnreadable = Describe(strPath, nError);
    if (GetReadOnlyReason().empty())
        RemoveInterruptedSaves(FollowLinks(strPath));
    return strContent;
}

void CSettingsFile::SetDamaged()
{
    const std::string strTarget = FollowLinks(m_strPath);
    m_strDamagedCopy = FreeDamagedName(strTarget.empty() ? m_strPath : strTarget);
}

const std::string& CSettingsFile::GetReadOnlyReason() const
{
    return m_strSessionReadOnly.empty() ? m_strUnreadable : m_strSessionReadOnly;
}

bool CSettingsFile::Replace(const std::string& strContent)
{
    if (!GetReadOnlyReason().empty())
        return Fail(GetReadOnlyReason());
    if (m_strPath.empty())
        return Fail(Describe("", ENOENT));
    gchar* pFolder = g_path_get_dirname(m_strPath.c_str());
    const std::string strFolder = pFolder;
    g_free(pFolder);
    if (g_mkdir_with_parents(strFolder.c_str(), 0700) != 0)
        return Fail(Describe(strFolder, errno));
    const std::string strTarget = FollowLinks(m_strPath);
    if (strTarget.empty())
        return Fail(Describe(m_strPath, ELOOP));
    mode_t nMode = 0600;
    struct stat st {};
    if (::stat(strTarget.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        // Whoever took the write permission away meant it, for root too.
        const int nDenied = (st.st_mode & 0222) == 0 ? EACCES
            : ::faccessat(AT_FDCWD, strTarget.c_str(), W_OK, AT_EACCESS) != 0 ? errno : 0;
        if (nDenied != 0)
            return Fail(Describe(strTarget, nDenied));
        nMode = st.st_mode & 0777;
    }
    if (!m_strDamagedCopy.empty()) {
        const int nError = RenameNoReplace(strTarget, FreeDamagedName(strTarget));
        if (nError != 0 && nError != ENOENT)
            return Fail(Describe(strTarget, nError));
        m_strDamagedCopy.clear();
    }
    const int nError = WriteAndRename(strTarget, strContent, nMode);
    if (nError != 0)
        return Fail(Describe(strTarget, nError));
    m_strError.clear();
    return true;
}

std::string MoveAsideAsDamaged(const std::string& strPath)
{
    const std::string strCopy = FreeDamagedName(strPath);
    return RenameNoReplace(strPath, strCopy) == 0 ? strCopy : std::string();
}

bool CSettingsFile::Fail(const std::string& strError)
{
    m_strError = strError;
    return false;
}

std::string EscapeBytes(const std::string& str)
{
    const size_t nFirst = str.find_first_not_of(' ');
    const size_t nLast = str.find_last_not_of(' ');
    std::string strOut;
    const char* const pBegin = str.data();
    const char* const pEnd = pBegin + str.size();
    const char* p = pBegin;
    while (p < pEnd) {
        const gchar* pValidEnd = nullptr;
        g_utf8_validate(p, pEnd - p, &pValidEnd);
        for (; p < pValidEnd; ++p) {
            const auto c = static_cast<unsigned char>(*p);
            const size_t i = static_cast<size_t>(p - pBegin);
            if (c == ' ' && (nFirst == std::string::npos || i < nFirst || i > nLast))
                strOut += "\\s";
            else if (c == '\\')
                strOut += "\\\\";
            else if (c == '\n')
                strOut += "\\n";
            else if (c == '\r')
                strOut += "\\r";
            else if (c == '\t')
                strOut += "\\t";
            else if (c < 0x20 || c == 0x7f)
                AppendHexEscape(strOut, c);
            else
                strOut += static_cast<char>(c);
        }
        if (p < pEnd)
            AppendHexEscape(strOut, static_cast<unsigned char>(*p++));
    }
    return strOut;
}

bool UnescapeBytes(const char* p, std::string& strOut)
{
    for (; *p != '\0'; ++p) {
        if (*p != '\\') {
            strOut += *p;
            continue;
        }
        switch (*++p) {
        case 's':
            strOut += ' ';
            break;
        case 'n':
            strOut += '\n';
            break;
        case 'r':
            strOut += '\r';
            break;
        case 't':
            strOut += '\t';
            break;
        case '\\':
            strOut += '\\';
            break;
        case 'x': {
            const int nHigh = HexDigit(p[1]);
            const int nLow = nHigh < 0 ? -1 : HexDigit(p[2]);
            if (nLow < 0)
                return false;
            strOut += static_cast<char>(nHigh * 16 + nLow);
            p += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}
