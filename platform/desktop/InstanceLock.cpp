// The single-instance lock: a file held with flock for the life of the process.
#include "Desktop.h"

#include <cerrno>
#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

EInstanceLock LockSingleInstance(const std::string& strPath, int& nError)
{
    gchar* pFolder = g_path_get_dirname(strPath.c_str());
    const std::string strFolder = pFolder;
    g_free(pFolder);
    errno = ENOENT;
    // O_NOFOLLOW: a link must not make us create or lock a file elsewhere.
    // O_NONBLOCK: a FIFO must not hang us.
    const int hFile = !strPath.empty() && g_mkdir_with_parents(strFolder.c_str(), 0700) == 0
        ? ::open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600)
        : -1;
    nError = errno;
    if (hFile < 0)
        return EInstanceLock::Unavailable;
    struct stat st {};
    int nResult = -1;
    nError = ENOLCK;
    if (::fstat(hFile, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
        do {
            nResult = ::flock(hFile, LOCK_EX | LOCK_NB);
        } while (nResult != 0 && errno == EINTR);
        nError = nResult == 0 ? 0 : errno;
    }
    if (nResult != 0) {
        ::close(hFile); // nothing held through it
        return nError == EWOULDBLOCK ? EInstanceLock::HeldByAnother : EInstanceLock::Unavailable;
    }
    // Deliberately never closed: the lock lasts as long as the process and
    // the kernel drops it when the process ends, however it ends.
    return EInstanceLock::Ours;
}
