#include "EndSignals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_nEndSignal = 0;
int g_ahPipe[2] = {-1, -1};

// Runs on whichever thread the signal lands: async-signal-safe calls only.
void OnEndSignal(int nSignal)
{
    const int nSavedErrno = errno;
    if (g_nEndSignal == 0)
        g_nEndSignal = nSignal;
    const char chSignal = static_cast<char>(nSignal);
    // A full pipe already wakes the loop; the byte is not needed then.
    [[maybe_unused]] const ssize_t nWritten = ::write(g_ahPipe[1], &chSignal, 1);
    errno = nSavedErrno;
}

} // namespace

int CatchEndSignals()
{
    if (g_ahPipe[0] < 0 && ::pipe2(g_ahPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_ahPipe[0] = g_ahPipe[1] = -1;
        return -1;
    }
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int nSignal : {SIGTERM, SIGHUP, SIGINT}) {
        // Started under nohup, the hang-up stays ignored, as it was asked.
        struct sigaction inherited {};
        if (nSignal == SIGHUP && ::sigaction(nSignal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        ::sigaction(nSignal, &action, nullptr);
    }
    return g_ahPipe[0];
}

int TakeEndSignal()
{
    char achDrain[64];
    while (g_ahPipe[0] >= 0 && ::read(g_ahPipe[0], achDrain, sizeof achDrain) > 0) {
    }
    return g_nEndSignal;
}
