#include "Desktop.h"
#include "XConnection.h"

#include "common/Program.h"

#include <X11/Xresource.h>
#include <glib.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <locale>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

std::string GetModuleFileName()
{
    std::vector<char> achPath(256);
    for (;;) {
        const ssize_t nLength = ::readlink("/proc/self/exe", achPath.data(), achPath.size());
        if (nLength < 0)
            return std::string();
        if (static_cast<size_t>(nLength) < achPath.size())
            return std::string(achPath.data(), static_cast<size_t>(nLength));
        achPath.resize(achPath.size() * 2); // possibly cut: try a larger buffer
    }
}

bool ShellOpen(const std::string& strPathOrUrl)
{
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0)
        return false;
    // The opened program starts with default signal handling and its own
    // session, independent of the player's terminal and signal settings.
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    short nFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    nFlags |= POSIX_SPAWN_SETSID;
#endif
    posix_spawnattr_setflags(&attributes, nFlags);

    char strProgram[] = "xdg-open";
    std::string strArgument = strPathOrUrl;
    // xdg-open takes whatever starts with a dash for an option; the same
    // file by another name gets through.
    if (!strArgument.empty() && strArgument[0] == '-')
        strArgument.insert(0, "./");
    char* astrArgs[] = {strProgram, strArgument.data(), nullptr};
    pid_t nPid = -1;
    const int nResult = posix_spawnp(&nPid, strProgram, nullptr, &attributes, astrArgs, environ);
    posix_spawnattr_destroy(&attributes);
    if (nResult != 0)
        return false;
    // Reaped aside so that the caller never waits and no zombie stays.
    try {
        std::thread([nPid] {
            int nStatus = 0;
            while (::waitpid(nPid, &nStatus, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays a zombie until the player ends.
    }
    return true;
}

void KeepDisplayAwake()
{
    Display* pDisplay = TheXConnection().Get();
    if (!pDisplay)
        return;
    CXErrorTrap trap(pDisplay); // a server gone meanwhile must not end the player
    XResetScreenSaver(pDisplay);
}

double GetXftDpi()
{
    Display* pDisplay = TheXConnection().Get();
    if (!pDisplay)
        return 0;
    // The resources as the server held them when the connection was opened;
    // that is what every program of the session started with.
    const char* strResources = XResourceManagerString(pDisplay);
    if (!strResources)
        return 0;
    XrmInitialize();
    XrmDatabase database = XrmGetStringDatabase(strResources);
    char* strType = nullptr;
    XrmValue value {};
    double dDpi = 0;
    if (database && XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &strType, &value) && value.addr) {
        // The resource is written with a full stop whatever the locale.
        std::istringstream stream(value.addr);
        stream.imbue(std::locale::classic());
        if (!(stream >> dDpi) || dDpi < 0)
            dDpi = 0;
    }
    if (database)
        XrmDestroyDatabase(database);
    return dDpi;
}

void UseComposeCache()
{
    if (std::getenv("XCOMPOSECACHE") || ::geteuid() == 0)
        return;
    gchar* strFolder = g_build_filename(g_get_user_cache_dir(), kProgramName, "compose", nullptr);
    // libX11 uses only a folder of the user's own that nobody else may write to.
    if (g_mkdir_with_parents(strFolder, 0700) == 0)
        ::setenv("XCOMPOSECACHE", strFolder, 0);
    g_free(strFolder);
}
