// The message queue: posts from any thread, one dispatch per pump, handlers
// that pump again, and messages for targets that are gone.
#include "platform/events/MessageQueue.h"

#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

struct CRecorder : CMessageTarget {
    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        aMessages.push_back(MSG{GetSafeHwnd(), message, wParam, lParam});
        if (onMessage)
            onMessage(message);
    }

    std::vector<MSG> aMessages;
    std::function<void(UINT)> onMessage;
};

void DrainQueue()
{
    while (PumpMessage()) {
    }
}

class MessageQueueTest : public ::testing::Test {
protected:
    void SetUp() override { DrainQueue(); }
    void TearDown() override { DrainQueue(); }
};

TEST_F(MessageQueueTest, PostsFromOtherThreadsArriveInEachThreadsOrder)
{
    CRecorder target;
    constexpr int kThreads = 4;
    constexpr int kPosts = 2000;
    std::vector<std::thread> aThreads;
    for (int t = 0; t < kThreads; ++t) {
        aThreads.emplace_back([&target, t] {
            for (int i = 0; i < kPosts; ++i)
                ASSERT_TRUE(PostMessage(target.GetSafeHwnd(), 0x400 + t, static_cast<WPARAM>(i), 0));
        });
    }
    for (std::thread& thread : aThreads)
        thread.join();

    EXPECT_TRUE(WaitMessage(0));
    DrainQueue();
    ASSERT_EQ(target.aMessages.size(), static_cast<size_t>(kThreads * kPosts));
    std::vector<WPARAM> anNext(kThreads, 0);
    for (const MSG& msg : target.aMessages) {
        const int t = static_cast<int>(msg.message - 0x400);
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(msg.wParam, anNext[t]++);
    }
}

TEST_F(MessageQueueTest, EachPumpDispatchesAtMostOneMessage)
{
    CRecorder target;
    EXPECT_FALSE(PumpMessage());
    for (int i = 0; i < 3; ++i)
        PostMessage(target.GetSafeHwnd(), 0x401, static_cast<WPARAM>(i), -i);
    EXPECT_EQ(GetQueuedMessageCount(), 3u);
    EXPECT_TRUE(PumpMessage());
    ASSERT_EQ(target.aMessages.size(), 1u);
    EXPECT_EQ(target.aMessages[0].wParam, 0u);
    EXPECT_EQ(target.aMessages[0].lParam, 0);
    EXPECT_TRUE(PumpMessage());
    EXPECT_TRUE(PumpMessage());
    EXPECT_FALSE(PumpMessage());
    ASSERT_EQ(target.aMessages.size(), 3u);
    EXPECT_EQ(target.aMessages[2].lParam, -2);
}

TEST_F(MessageQueueTest, AHandlerThatPumpsRunsTheNextMessageInsideItself)
{
    CRecorder target;
    std::vector<std::string> astrEvents;
    target.onMessage = [&](UINT message) {
        astrEvents.push_back("enter " + std::to_string(message));
        if (message == 1) {
            PostMessage(target.GetSafeHwnd(), 3, 0, 0);
            PumpMessage(); // dispatches 2, which was queued before 3
            PumpMessage(); // dispatches 3
        }
        astrEvents.push_back("leave " + std::to_string(message));
    };
    PostMessage(target.GetSafeHwnd(), 1, 0, 0);
    PostMessage(target.GetSafeHwnd(), 2, 0, 0);
    DrainQueue();
    const std::vector<std::string> astrExpected {"enter 1", "enter 2", "leave 2", "enter 3", "leave 3", "leave 1"};
    EXPECT_EQ(astrEvents, astrExpected);
}

TEST_F(MessageQueueTest, MessagesForAGoneTargetAreDroppedAndHandlesAreNotReused)
{
    HWND hGone;
    {
        CRecorder target;
        hGone = target.GetSafeHwnd();
        EXPECT_TRUE(PostMessage(hGone, 7, 0, 0));
    }
    EXPECT_FALSE(PostMessage(hGone, 7, 0, 0));
    CRecorder other;
    EXPECT_NE(other.GetSafeHwnd(), hGone);
    EXPECT_TRUE(PumpMessage()); // the orphan is taken off the queue
    EXPECT_TRUE(other.aMessages.empty());
    EXPECT_FALSE(PumpMessage());
}

int g_nGathered = 0;
int g_nWoken = 0;
std::vector<UINT> g_anHooked;

TEST_F(MessageQueueTest, HooksRunAroundPostsAndDispatches)
{
    CRecorder target;
    g_nGathered = g_nWoken = 0;
    g_anHooked.clear();
    SetMessageQueueHooks([] { ++g_nGathered; }, [] { ++g_nWoken; });
    SetBeforeDispatchHook(9, [](const MSG& msg) { g_anHooked.push_back(msg.message); });
    target.onMessage = [](UINT message) { g_anHooked.push_back(message + 100); };

    PostMessage(target.GetSafeHwnd(), 8, 0, 0);
    PostMessage(target.GetSafeHwnd(), 9, 0, 0);
    EXPECT_EQ(g_nWoken, 2);
    DrainQueue();
    EXPECT_EQ(g_nGathered, 3); // the last pump finds nothing but still gathers input
    const std::vector<UINT> anExpected {108, 9, 109};
    EXPECT_EQ(g_anHooked, anExpected);

    SetMessageQueueHooks(nullptr, nullptr);
    SetBeforeDispatchHook(9, nullptr);
    PostMessage(target.GetSafeHwnd(), 9, 0, 0);
    DrainQueue();
    EXPECT_EQ(g_nWoken, 2);
    EXPECT_EQ(g_anHooked.back(), 109u);
}

TEST_F(MessageQueueTest, WaitMessageReturnsWhenAnotherThreadPosts)
{
    CRecorder target;
    EXPECT_FALSE(WaitMessage(1));
    std::thread poster([&target] { PostMessage(target.GetSafeHwnd(), 5, 0, 0); });
    EXPECT_TRUE(WaitMessage(10000));
    poster.join();
    DrainQueue();
    EXPECT_EQ(target.aMessages.size(), 1u);
}

} // namespace
