#include "XvfbDisplay.h"

#include <X11/Xlib.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
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

} // namespace

CXvfbDisplay::CXvfbDisplay(int nWidth, int nHeight)
{
    int ahPipe[2];
    if (::pipe2(ahPipe, O_CLOEXEC) != 0)
        return;
    // Xvfb gets the write end as descriptor 3 (dup2 clears close-on-exec);
    // everything else of ours stays closed to it.
    constexpr int kChildFd = 3;
    const std::string strScreen = std::to_string(nWidth) + "x" + std::to_string(nHeight) + "x24";
    const std::string strFd = std::to_string(kChildFd);
    // -noreset: the server would otherwise reset whenever its last client
    // leaves, e.g. between our probe below and the test's first connection.
    const char* const astrArgs[] = {"Xvfb", "-displayfd", strFd.c_str(), "-screen", "0", strScreen.c_str(), "-nolisten",
        "tcp", "-noreset", nullptr};
    const pid_t nParent = ::getpid();
    const pid_t nPid = ::fork();
    if (nPid == 0) {
        // The server goes with the test, even when the test crashes, and
        // keeps none of the test's output pipes open.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != nParent)
            ::_exit(127);
        const int hNull = ::open("/dev/null", O_RDWR);
        ::dup2(hNull, STDIN_FILENO);
        ::dup2(hNull, STDOUT_FILENO);
        ::dup2(hNull, STDERR_FILENO);
        ::dup2(ahPipe[1], kChildFd);
        ::execvp("Xvfb", const_cast<char* const*>(astrArgs));
        ::_exit(127);
    }
    const int nResult = nPid > 0 ? 0 : -1;
    ::close(ahPipe[1]);
    if (nResult != 0) {
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
}

CXvfbDisplay::~CXvfbDisplay()
{
    if (m_nPid <= 0)
        return;
    Stop(m_nPid);
    if (m_bHadDisplay)
        ::setenv("DISPLAY", m_strOldDisplay.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
}
