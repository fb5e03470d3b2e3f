#include "Interrupt.h"

#include <initializer_list>

namespace {

volatile std::sig_atomic_t g_nSignal = 0;

void OnInterrupt(int nSignal)
{
    g_nSignal = nSignal;
}

} // namespace

void CatchInterrupts()
{
    for (int nSignal : { SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM })
        std::signal(nSignal, OnInterrupt);
}

bool WasInterrupted()
{
    return g_nSignal != 0;
}

int InterruptedExitStatus()
{
    return 128 + (g_nSignal != 0 ? g_nSignal : SIGINT);
}
