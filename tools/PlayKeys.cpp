#include "PlayKeys.h"

#include <csignal>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr char kEscape = '\033';
// The parameter and intermediate bytes of an escape sequence lie in this
// range; its final byte follows them.
constexpr char kFirstInnerByte = 0x20;
constexpr char kLastInnerByte = 0x3F;
// The Shift and Ctrl modifiers of an arrow key.
const char kShiftParameters[] = "1;2";
const char kCtrlParameters[] = "1;5";

// The signals whose default action ends the process without the command
// winding down (those Interrupt.h catches do wind down).
constexpr int kFatalSignals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGPIPE, SIGSYS, SIGTRAP, SIGXCPU, SIGXFSZ};

termios g_savedTerminal {};
volatile std::sig_atomic_t g_bSingleKeys = 0;
struct sigaction g_aSavedActions[NSIG] {};
bool g_abHandled[NSIG] = {};

// A process outside the foreground of its controlling terminal is stopped
// when it reads from it or changes its settings. A terminal that is not this
// process's controlling one (-1) is free to use.
bool InForeground()
{
    const pid_t nGroup = ::tcgetpgrp(STDIN_FILENO);
    return nGroup == -1 || nGroup == ::getpgrp();
}

void SetSingleKeys()
{
    if (!InForeground())
        return;
    termios keys = g_savedTerminal;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keys.c_cc[VMIN] = 0;
    keys.c_cc[VTIME] = 0;
    // Set first, so that a signal arriving in between still restores.
    g_bSingleKeys = 1;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &keys) != 0)
        g_bSingleKeys = 0;
}

// Safe in a signal handler. Done even from the background: a terminal left
// without echo is worse than the stop SIGTTOU would bring, so it is held off.
void RestoreTerminal()
{
    if (!g_bSingleKeys)
        return;
    sigset_t ttou;
    sigset_t previous;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    ::sigprocmask(SIG_BLOCK, &ttou, &previous);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    g_bSingleKeys = 0;
}

void Handle(int nSignal, void (*pHandler)(int), int nFlags)
{
    struct sigaction action {};
    action.sa_handler = pHandler;
    action.sa_flags = nFlags;
    sigemptyset(&action.sa_mask);
    ::sigaction(nSignal, &action, nullptr);
}

// The handler was reset on entry; the signal, raised again, takes its
// default course once the handler returns.
void OnFatalSignal(int nSignal)
{
    RestoreTerminal();
    std::raise(nSignal);
}

// Ctrl+Z: the shell gets the terminal as it was, and the process stops
// within the handler; once it goes on, the next look for keys takes them
// single again if it is in the foreground.
void OnStop(int)
{
    RestoreTerminal();
    Handle(SIGTSTP, SIG_DFL, 0);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    std::raise(SIGTSTP);
    Handle(SIGTSTP, OnStop, SA_RESTART);
}

// Takes over the signal only where nobody else has (an inherited SIG_IGN
// stays, as do a sanitizer's handlers).
void TakeOver(int nSignal, void (*pHandler)(int), int nFlags)
{
    ::sigaction(nSignal, nullptr, &g_aSavedActions[nSignal]);
    if (g_aSavedActions[nSignal].sa_handler != SIG_DFL)
        return;
    Handle(nSignal, pHandler, nFlags);
    g_abHandled[nSignal] = true;
}

} // namespace

SKeyPress DecodeKey(const std::string& strBytes)
{
    if (strBytes.empty())
        return {EPlayKey::None, 0};
    switch (strBytes[0]) {
    case ' ':
        return {EPlayKey::PauseResume, 1};
    case '<':
        return {EPlayKey::PreviousInput, 1};
    case '>':
        return {EPlayKey::NextInput, 1};
    case kEscape:
        break;
    default:
        return {EPlayKey::None, 1};
    }
    if (strBytes.size() < 2)
        return {EPlayKey::None, 0};
    auto arrow = [](char cFinal, EPlayKey eRight, EPlayKey eLeft) {
        return cFinal == 'C' ? eRight : cFinal == 'D' ? eLeft : EPlayKey::None;
    };
    if (strBytes[1] == 'O') {
        if (strBytes.size() < 3)
            return {EPlayKey::None, 0};
        return {arrow(strBytes[2], EPlayKey::Forward, EPlayKey::Back), 3};
    }
    // Alt with a key.
    if (strBytes[1] != '[')
        return {EPlayKey::None, 2};
    size_t nFinal = 2;
    while (nFinal < strBytes.size() && strBytes[nFinal] >= kFirstInnerByte && strBytes[nFinal] <= kLastInnerByte)
        ++nFinal;
    if (nFinal == strBytes.size())
        return {EPlayKey::None, 0};
    const std::string strParameters = strBytes.substr(2, nFinal - 2);
    EPlayKey eKey = EPlayKey::None;
    if (strParameters.empty() || strParameters == "1")
        eKey = arrow(strBytes[nFinal], EPlayKey::Forward, EPlayKey::Back);
    else if (strParameters == kShiftParameters)
        eKey = arrow(strBytes[nFinal], EPlayKey::ForwardFar, EPlayKey::BackFar);
    else if (strParameters == kCtrlParameters)
        eKey = arrow(strBytes[nFinal], EPlayKey::NextChapter, EPlayKey::PreviousChapter);
    return {eKey, nFinal + 1};
}

CTerminalKeys::CTerminalKeys()
    : m_bActive(::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0)
{
    if (!m_bActive)
        return;
    for (int nSignal : kFatalSignals)
        TakeOver(nSignal, OnFatalSignal, SA_RESETHAND);
    TakeOver(SIGTSTP, OnStop, SA_RESTART);
    SetSingleKeys();
}

CTerminalKeys::~CTerminalKeys()
{
    if (!m_bActive)
        return;
    RestoreTerminal();
    for (int nSignal = 1; nSignal < NSIG; ++nSignal) {
        if (g_abHandled[nSignal])
            ::sigaction(nSignal, &g_aSavedActions[nSignal], nullptr);
        g_abHandled[nSignal] = false;
    }
}

EPlayKey CTerminalKeys::Next()
{
    // Reading from the background would stop the process. Put in the
    // foreground (again), the terminal hands over single keys.
    if (!m_bActive || !InForeground())
        return EPlayKey::None;
    if (!g_bSingleKeys)
        SetSingleKeys();
    pollfd poll {STDIN_FILENO, POLLIN, 0};
    char abBytes[64];
    ssize_t nRead = 0;
    if (::poll(&poll, 1, 0) > 0 && (nRead = ::read(STDIN_FILENO, abBytes, sizeof abBytes)) > 0)
        m_strPending.append(abBytes, static_cast<size_t>(nRead));
    while (!m_strPending.empty()) {
        SKeyPress press = DecodeKey(m_strPending);
        if (press.nBytes == 0) {
            // A terminal sends a key's sequence at once: the rest of one that
            // has not come with this read nor the one before never will (a
            // lone Escape).
            if (nRead > 0)
                return EPlayKey::None;
            press.nBytes = m_strPending.size();
        }
        m_strPending.erase(0, press.nBytes);
        if (press.eKey != EPlayKey::None)
            return press.eKey;
    }
    return EPlayKey::None;
}
