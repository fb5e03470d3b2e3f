#include "MessageQueue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_map>

namespace {

using BeforeDispatchHook = void (*)(const MSG&);

struct SQueue {
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<MSG> messages;
    std::unordered_map<HWND, CMessageTarget*> targets;
    uintptr_t nLastHandle = 0;
    std::atomic<void (*)()> gatherInput{nullptr};
    std::atomic<void (*)()> wake{nullptr};
    // Only the user-interface thread reads or writes these.
    std::map<UINT, BeforeDispatchHook> beforeDispatch;
};

// Built on first use, so that static objects of other files can post and
// register in their constructors; never destroyed, so that they can also
// unregister in their destructors.
SQueue& Queue()
{
    static SQueue* const pQueue = new SQueue;
    return *pQueue;
}

} // namespace

CMessageTarget::CMessageTarget()
{
    SQueue& queue = Queue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    m_hWnd = reinterpret_cast<HWND>(++queue.nLastHandle);
    queue.targets[m_hWnd] = this;
}

CMessageTarget::~CMessageTarget()
{
    SQueue& queue = Queue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    queue.targets.erase(m_hWnd);
}

bool PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    SQueue& queue = Queue();
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        if (queue.targets.count(hWnd) == 0)
            return false;
        queue.messages.push_back(MSG{hWnd, message, wParam, lParam});
    }
    queue.posted.notify_one();
    if (void (*wake)() = queue.wake.load())
        wake();
    return true;
}

bool PumpMessage()
{
    if (void (*gatherInput)() = Queue().gatherInput.load())
        gatherInput();
    return DispatchOneMessage();
}

bool DispatchOneMessage()
{
    SQueue& queue = Queue();
    MSG msg;
    CMessageTarget* pTarget = nullptr;
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        if (queue.messages.empty())
            return false;
        msg = queue.messages.front();
        queue.messages.pop_front();
        const auto found = queue.targets.find(msg.hwnd);
        if (found != queue.targets.end())
            pTarget = found->second;
    }
    const auto hook = queue.beforeDispatch.find(msg.message);
    if (hook != queue.beforeDispatch.end())
        hook->second(msg);
    if (pTarget)
        pTarget->WindowProc(msg.message, msg.wParam, msg.lParam);
    return true;
}

bool WaitMessage(int nTimeoutMs)
{
    SQueue& queue = Queue();
    std::unique_lock<std::mutex> lock(queue.mutex);
    return queue.posted.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&queue] { return !queue.messages.empty(); });
}

size_t GetQueuedMessageCount()
{
    SQueue& queue = Queue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    return queue.messages.size();
}

void SetMessageQueueHooks(void (*gatherInput)(), void (*wake)())
{
    Queue().gatherInput = gatherInput;
    Queue().wake = wake;
}

void SetBeforeDispatchHook(UINT message, void (*hook)(const MSG&))
{
    if (hook)
        Queue().beforeDispatch[message] = hook;
    else
        Queue().beforeDispatch.erase(message);
}
