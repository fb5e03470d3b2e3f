// The named mutex: a lock file held with flock for the life of the process.
#include "Desktop.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint32_t g_nMutexLastError = 0;

bool IsAbsoluteDir(const char* strDir)
{
    return strDir && strDir[0] == '/';
}

} // namespace

std::string GetNamedMutexPath(const std::string& strName)
{
    // A slash would lead out of the folder; every other byte is a valid name.
    std::string strFile = strName;
    for (char& c : strFile) {
        if (c == '/')
            c = '_';
    }
    const char* strRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (IsAbsoluteDir(strRuntime))
        return std::string(strRuntime) + "/" + strFile + ".lock";
    // The temporary folder is shared by all users: the uid keeps them apart.
    const char* strTemp = std::getenv("TMPDIR");
    std::string strDir = IsAbsoluteDir(strTemp) ? strTemp : "/tmp";
    return strDir + "/" + strFile + "-" + std::to_string(static_cast<unsigned long>(::geteuid())) + ".lock";
}

bool CreateNamedMutex(const std::string& strName)
{
    g_nMutexLastError = 0;
    if (strName.empty())
        return true; // an unnamed mutex: nobody else can ask for it
    const std::string strPath = GetNamedMutexPath(strName);
    // O_NOFOLLOW: a link planted in a shared folder must not make us create
    // or lock a file elsewhere. O_NONBLOCK: a planted FIFO must not hang us.
    int hFile = ::open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    if (hFile < 0)
        return false;
    struct stat st {};
    if (::fstat(hFile, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(hFile);
        return false;
    }
    int nResult;
    do {
        nResult = ::flock(hFile, LOCK_EX | LOCK_NB);
    } while (nResult != 0 && errno == EINTR);
    if (nResult != 0) {
        const bool bHeld = errno == EWOULDBLOCK;
        ::close(hFile); // nothing held through it
        if (!bHeld)
            return false;
        g_nMutexLastError = ERROR_ALREADY_EXISTS;
        return true;
    }
    // Deliberately never closed: the lock lasts as long as the process and
    // the kernel drops it when the process ends, however it ends.
    return true;
}

uint32_t GetLastErrorOfMutex()
{
    return g_nMutexLastError;
}
