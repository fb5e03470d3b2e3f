#include "XvfbDisplay.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using CClock = std::chrono::steady_clock;

// Xvfb answers within a second on an idle machine; a loaded one under the
// sanitizers may take a few.
constexpr auto kStartTimeout = std::chrono::seconds(15);
constexpr auto kStopTimeout = std::chrono::seconds(5);

// Reads the line "N\n" that Xvfb writes to -displayfd once it accepts
// clients; empty on end of file or timeout.
std::string ReadDisplayNumber(int hPipe)
{
    std::string strNumber;
    const CClock::time_point deadline = CClock::now() + kStartTimeout;
    for (;;) {
        const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - CClock::now()).count();
        if (nLeft <= 0)
            return std::string();
        pollfd poll {hPipe, POLLIN, 0};
        const int nReady = ::poll(&poll, 1, static_cast<int>(nLeft));
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady <= 0)
            return std::string();
        char ch = 0;
        const ssize_t nRead = ::read(hPipe, &ch, 1);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead <= 0)
            return std::string();
        if (ch == '\n')
            return strNumber;
        if (ch < '0' || ch > '9' || strNumber.size() > 8)
            return std::string();
        strNumber += ch;
    }
}

// Waits for the child to end; true when it did within the timeout.
bool WaitForExit(pid_t nPid, std::chrono::milliseconds timeout)
{
    const CClock::time_point deadline = CClock::now() + timeout;
    for (;;) {
        int nStatus = 0;
        const pid_t nDone = ::waitpid(nPid, &nStatus, WNOHANG);
        if (nDone == nPid || (nDone < 0 && errno == ECHILD))
            return true;
        if (CClock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void Stop(pid_t nPid)
{
    ::kill(nPid, SIGTERM);
    if (!WaitForExit(nPid, kStopTimeout)) {
        ::kill(nPid, SIGKILL);
        while (::waitpid(nPid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

// Starts a program that goes with the test, even when the test crashes, and
// keeps none of the test's output pipes open; hPassed (unless -1) becomes its
// descriptor kPassedFd. -1 when it cannot be started.
constexpr int kPassedFd = 3;

pid_t StartChild(const char* const astrArgs[], int hPassed)
{
    const pid_t nParent = ::getpid();
    const pid_t nPid = ::fork();
    if (nPid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != nParent)
            ::_exit(127);
        const int hNull = ::open("/dev/null", O_RDWR);
        ::dup2(hNull, STDIN_FILENO);
        ::dup2(hNull, STDOUT_FILENO);
        ::dup2(hNull, STDERR_FILENO);
        if (hPassed >= 0)
            ::dup2(hPassed, kPassedFd); // clears close-on-exec
        ::execvp(astrArgs[0], const_cast<char* const*>(astrArgs));
        ::_exit(127);
    }
    return nPid;
}

// A window manager that follows the extended hints announces itself by a
// check window on the root.
bool HasWindowManager(Display* pDisplay)
{
    const Atom nCheck = XInternAtom(pDisplay, "_NET_SUPPORTING_WM_CHECK", False);
    Atom nType = None;
    int nFormat = 0;
    unsigned long nItems = 0;
    unsigned long nAfter = 0;
    unsigned char* pData = nullptr;
    const bool bRead = XGetWindowProperty(pDisplay, DefaultRootWindow(pDisplay), nCheck, 0, 1, False, XA_WINDOW,
                                          &nType, &nFormat, &nItems, &nAfter, &pData) == Success;
    const bool bThere = bRead && pData && nItems == 1;
    if (pData)
        XFree(pData);
    return bThere;
}

} // namespace

bool CXvfbDisplay::IsInstalled()
{
    const char* strPath = std::getenv("PATH");
    std::istringstream stream(strPath ? strPath : "");
    std::string strDir;
    while (std::getline(stream, strDir, ':')) {
        if (!strDir.empty() && ::access((strDir + "/Xvfb").c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

CXvfbDisplay::CXvfbDisplay(int nWidth, int nHeight, EWindowManager eWindowManager)
{
    int ahPipe[2];
    if (::pipe2(ahPipe, O_CLOEXEC) != 0)
        return;
    // Xvfb gets the write end; everything else of ours stays closed to it.
    const std::string strScreen = std::to_string(nWidth) + "x" + std::to_string(nHeight) + "x24";
    const std::string strFd = std::to_string(kPassedFd);
    // -noreset: the server would otherwise reset whenever its last client
    // leaves, e.g. between our probe below and the test's first connection.
    const char* const astrArgs[] = {"Xvfb", "-displayfd", strFd.c_str(), "-screen", "0", strScreen.c_str(), "-nolisten",
        "tcp", "-noreset", nullptr};
    const pid_t nPid = StartChild(astrArgs, ahPipe[1]);
    ::close(ahPipe[1]);
    if (nPid <= 0) {
        ::close(ahPipe[0]);
        return;
    }
    const std::string strNumber = ReadDisplayNumber(ahPipe[0]);
    ::close(ahPipe[0]);
    if (strNumber.empty()) {
        Stop(nPid);
        return;
    }
    const std::string strDisplay = ":" + strNumber;

    // -displayfd reports readiness already; the probe makes sure of it.
    bool bConnected = false;
    const CClock::time_point deadline = CClock::now() + kStartTimeout;
    while (!bConnected && CClock::now() < deadline) {
        if (Display* pDisplay = XOpenDisplay(strDisplay.c_str())) {
            XCloseDisplay(pDisplay);
            bConnected = true;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (!bConnected) {
        Stop(nPid);
        return;
    }

    if (const char* strOld = std::getenv("DISPLAY")) {
        m_bHadDisplay = true;
        m_strOldDisplay = strOld;
    }
    ::setenv("DISPLAY", strDisplay.c_str(), 1);
    m_nPid = nPid;
    m_strDisplay = strDisplay;
    if (eWindowManager == EWindowManager::Openbox)
        StartOpenbox();
}

void CXvfbDisplay::StartOpenbox()
{
    m_bWindowManagerReady = false;
    const char* const astrArgs[] = {"openbox", "--sm-disable", nullptr};
    m_nWindowManagerPid = StartChild(astrArgs, -1);
    Display* pDisplay = XOpenDisplay(m_strDisplay.c_str());
    if (m_nWindowManagerPid <= 0 || !pDisplay) {
        if (pDisplay)
            XCloseDisplay(pDisplay);
        return;
    }
    const CClock::time_point deadline = CClock::now() + kStartTimeout;
    while (!(m_bWindowManagerReady = HasWindowManager(pDisplay)) && CClock::now() < deadline) {
        if (WaitForExit(m_nWindowManagerPid, std::chrono::milliseconds(20))) {
            m_nWindowManagerPid = -1; // ended and reaped: its pid is no longer ours
            break;
        }
    }
    XCloseDisplay(pDisplay);
}

CXvfbDisplay::~CXvfbDisplay()
{
    if (m_nPid <= 0)
        return;
    if (m_nWindowManagerPid > 0)
        Stop(m_nWindowManagerPid);
    Stop(m_nPid);
    if (m_bHadDisplay)
        ::setenv("DISPLAY", m_strOldDisplay.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
}
