// The inhibition of idle suspend against a portal and a logind of the test's
// own, each a GDBus service of this process on a bus of the test's own (the
// session bus and the system bus). They answer as the test dispatches the
// buses' calls, in the thread that also runs the inhibitor's replies.
#include "../CaseName.h"
#include "../EnvironmentOverride.h"
#include "../FakeBusServices.h"
#include "../PrivateBus.h"

#include "platform/media/IdleInhibitor.h"
#include "platform/media/SessionBus.h"

#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

const char kWho[] = "VelofonPocket";
const char kWhy[] = "Playing a recording";
const char kLogindXml[] = R"(<node>
  <interface name="org.freedesktop.login1.Manager">
    <method name="Inhibit">
      <arg direction="in" type="s"/><arg direction="in" type="s"/><arg direction="in" type="s"/>
      <arg direction="in" type="s"/><arg direction="out" type="h"/>
    </method>
  </interface>
</node>)";

class IdleInhibitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_session.Start() && m_system.Start()) << "dbus-daemon did not start";
        m_sessionAddress.Set(m_session.Address().c_str());
        m_systemAddress.Set(m_system.Address().c_str());
    }
    ~IdleInhibitorTest() override
    {
        for (const int hLock : m_ahLocks)
            ::close(hLock);
    }

    // bAnswers false: the portal keeps its Inhibit calls unanswered.
    void StartPortal(bool bAnswers)
    {
        m_pPortal = std::make_unique<CFakePortal>(m_session.Address(), bAnswers);
        ASSERT_TRUE(m_pPortal->IsOwner());
    }

    // Each lock is a pipe: the test keeps the end to read, logind's caller the
    // end to write, whose closing the read end shows.
    void StartLogind()
    {
        m_pLogind = std::make_unique<CFakeService>(m_system.Address(), "org.freedesktop.login1", kLogindXml,
            [this](GDBusMethodInvocation* pInvocation) {
                const gchar* astrArgs[4] = {};
                g_variant_get(g_dbus_method_invocation_get_parameters(pInvocation), "(&s&s&s&s)", &astrArgs[0],
                    &astrArgs[1], &astrArgs[2], &astrArgs[3]);
                m_astrLogindCalls.push_back(std::string(astrArgs[0]) + " " + astrArgs[1] + " / " + astrArgs[2] +
                    " / " + astrArgs[3]);
                int ahPipe[2] = { -1, -1 };
                ASSERT_EQ(::pipe(ahPipe), 0);
                m_ahLocks.push_back(ahPipe[0]);
                GUnixFDList* pDescriptors = g_unix_fd_list_new_from_array(&ahPipe[1], 1);
                g_dbus_method_invocation_return_value_with_unix_fd_list(
                    pInvocation, g_variant_new("(h)", 0), pDescriptors);
                g_object_unref(pDescriptors);
            });
        m_pLogind->Serve("/org/freedesktop/login1", 0);
        ASSERT_TRUE(m_pLogind->IsOwner());
    }
    bool LastLockReleased() const
    {
        pollfd poll = { m_ahLocks.back(), POLLIN, 0 };
        return ::poll(&poll, 1, 0) == 1 && (poll.revents & POLLHUP);
    }

    // Runs the buses' calls until pfnDone holds; false when it does not come.
    static bool DispatchUntil(const std::function<bool()>& pfnDone)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!pfnDone()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            DispatchBusCalls();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // Play, then pause once the portal has the request.
    void PlayAndPause()
    {
        const size_t nBefore = Inhibits().size();
        m_inhibitor.SetPlaying(true);
        ASSERT_TRUE(DispatchUntil([&] { return Inhibits().size() == nBefore + 1; }));
        m_inhibitor.SetPlaying(false);
        ASSERT_TRUE(DispatchUntil([&] { return Closed().size() == nBefore + 1; }));
        EXPECT_EQ(Closed().back(), Inhibits().back().strHandle);
    }
    const std::vector<SPortalInhibit>& Inhibits() const { return m_pPortal->Inhibits(); }
    const std::vector<std::string>& Closed() const { return m_pPortal->Closed(); }

    CPrivateBus m_session;
    CPrivateBus m_system;
    CEnvironmentOverride m_sessionAddress { "DBUS_SESSION_BUS_ADDRESS", nullptr };
    CEnvironmentOverride m_systemAddress { "DBUS_SYSTEM_BUS_ADDRESS", nullptr };
    std::unique_ptr<CFakePortal> m_pPortal;
    std::unique_ptr<CFakeService> m_pLogind;
    std::vector<std::string> m_astrLogindCalls;
    std::vector<int> m_ahLocks;
    // Goes first, while the buses and the services stand.
    CIdleInhibitor m_inhibitor { kWho, kWhy };
};

TEST_F(IdleInhibitorTest, PlayInhibitsSuspendThroughThePortalAndPauseClosesTheRequest)
{
    StartPortal(true);
    ASSERT_FALSE(HasFatalFailure());
    for (int nRound = 0; nRound < 2; ++nRound)
        PlayAndPause();
    ASSERT_EQ(Inhibits().size(), 2u);
    for (const SPortalInhibit& inhibit : Inhibits()) {
        EXPECT_EQ(inhibit.strWindow, "");
        EXPECT_EQ(inhibit.nFlags, 4u);
        EXPECT_EQ(inhibit.strReason, kWhy);
    }
    EXPECT_NE(Inhibits()[0].strHandle, Inhibits()[1].strHandle);
}

struct SToggles {
    std::string strName;
    // Played and paused once before, so that the bus is reached.
    bool bConnected;
    std::vector<bool> abPlaying;
};

void PrintTo(const SToggles& toggles, std::ostream* pStream)
{
    *pStream << toggles.strName;
}

class IdleInhibitorToggleTest : public IdleInhibitorTest, public ::testing::WithParamInterface<SToggles> {};

// Whatever comes before the reply, one request is made; it is closed once the
// sound stops, at once when it stopped before the reply.
TEST_P(IdleInhibitorToggleTest, TogglesBeforeTheReplyMakeOneRequestClosedWhenTheSoundStops)
{
    StartPortal(true);
    ASSERT_FALSE(HasFatalFailure());
    if (GetParam().bConnected)
        PlayAndPause();
    ASSERT_FALSE(HasFatalFailure());
    const size_t nBefore = Inhibits().size();
    for (const bool bPlaying : GetParam().abPlaying)
        m_inhibitor.SetPlaying(bPlaying);
    ASSERT_TRUE(DispatchUntil([&] { return Inhibits().size() > nBefore; }));
    m_inhibitor.SetPlaying(false);
    // What was asked for before the Close has reached the portal before it.
    ASSERT_TRUE(DispatchUntil([&] { return Closed().size() > nBefore; }));
    EXPECT_EQ(Inhibits().size(), nBefore + 1);
    EXPECT_EQ(Closed().size(), nBefore + 1);
    EXPECT_EQ(Closed().back(), Inhibits().back().strHandle);
}

// A play paused while the bus is still being reached asks for nothing: the
// cases that start there end playing.
INSTANTIATE_TEST_SUITE_P(Toggles, IdleInhibitorToggleTest,
    ::testing::Values(SToggles { "TogglesWhileConnecting", false, { true, false, true, false, true } },
        SToggles { "PauseBeforeTheReply", true, { true, false } },
        SToggles { "TogglesBeforeTheReply", true, { true, false, true, false, true } },
        SToggles { "TogglesBeforeTheReplyEndingPaused", true, { true, false, true, false } }),
    SCaseName());

// SetPlaying returns while the portal holds the call, in this very thread;
// logind is asked only once the portal has gone without an answer.
TEST_F(IdleInhibitorTest, APortalThatNeverAnswersHoldsNothingUpAndLogindTakesOverWhenItGoes)
{
    StartPortal(false);
    StartLogind();
    ASSERT_FALSE(HasFatalFailure());
    m_inhibitor.SetPlaying(true);
    ASSERT_TRUE(DispatchUntil([&] { return m_pPortal->UnansweredCount() == 1; }));
    m_inhibitor.SetPlaying(false);
    m_inhibitor.SetPlaying(true);
    DispatchBusCalls();
    EXPECT_TRUE(m_astrLogindCalls.empty());
    EXPECT_EQ(Inhibits().size(), 1u);

    m_pPortal.reset();
    ASSERT_TRUE(DispatchUntil([&] { return m_astrLogindCalls.size() == 1; }));
    EXPECT_EQ(m_astrLogindCalls[0], std::string("idle ") + kWho + " / " + kWhy + " / block");
    m_inhibitor.SetPlaying(false);
    EXPECT_TRUE(DispatchUntil([&] { return LastLockReleased(); }));
}

// Without a portal logind holds the lock while the sound plays, once per play.
TEST_F(IdleInhibitorTest, WithoutAPortalLogindHoldsALockPerPlay)
{
    StartLogind();
    ASSERT_FALSE(HasFatalFailure());
    for (size_t nRound = 1; nRound <= 2; ++nRound) {
        m_inhibitor.SetPlaying(true);
        ASSERT_TRUE(DispatchUntil([&] { return m_astrLogindCalls.size() == nRound; }));
        m_inhibitor.SetPlaying(false);
        EXPECT_TRUE(DispatchUntil([&] { return LastLockReleased(); }));
    }
}

} // namespace
