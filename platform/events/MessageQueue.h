// The program's message queue: the one road by which anything reaches the
// player. It stands in for the handheld platform's thread message queue.
//
// Contract (who calls what, on which thread):
// - PostMessage may be called from any thread (the audio thread posts
//   MM_WOM_DONE, toolkit callbacks post WM_COMMAND). It never runs a handler.
// - Everything else runs on the user-interface thread, which is the thread
//   that dispatches. A handler may call PumpMessage itself; the message it
//   dispatches then runs nested inside the first one. The player relies on
//   that instead of threads.
// - A message for a target that no longer exists is dropped at dispatch.
#pragma once

#include <cstddef>
#include <cstdint>

using UINT = unsigned int;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;

struct HWND__;
using HWND = HWND__*;

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// Something that receives posted messages: a window of the program, or the
// command-line player. Its handle is given out at construction and never
// reused, so a message posted to a destroyed target finds nobody.
class CMessageTarget {
public:
    CMessageTarget();
    CMessageTarget(const CMessageTarget&) = delete;
    CMessageTarget& operator=(const CMessageTarget&) = delete;
    virtual ~CMessageTarget();

    HWND GetSafeHwnd() const { return m_hWnd; }

    // Runs on the user-interface thread for each message dispatched to it.
    virtual void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;

private:
    HWND m_hWnd;
};

// Queues a message for hWnd; false when hWnd is not a live target.
bool PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Lets the toolkit gather pending input without blocking (the hook below), then
// removes and dispatches at most one queued message. True when it dispatched one.
bool PumpMessage();

// Dispatches at most one queued message without gathering toolkit input
// first; for the toolkit's own wake-up path. True when it dispatched one.
bool DispatchOneMessage();

// Blocks until a message is queued or nTimeoutMs milliseconds have passed;
// for loops that have no toolkit to wait in. True when a message is queued.
bool WaitMessage(int nTimeoutMs);

// Messages queued and not yet dispatched.
size_t GetQueuedMessageCount();

// Hooks of the toolkit: gatherInput runs at the start of every PumpMessage on
// the user-interface thread; wake runs after every post, on the posting thread,
// so that a toolkit blocked in its own wait returns. Either may be null.
void SetMessageQueueHooks(void (*gatherInput)(), void (*wake)());

// Called on the user-interface thread right before a message of this number is
// dispatched, so that the service that posted it can bring its records up to
// date on the right thread first. One hook per message number; null removes it.
void SetBeforeDispatchHook(UINT message, void (*hook)(const MSG&));
