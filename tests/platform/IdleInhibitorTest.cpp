// The inhibition of idle suspend against a portal and a logind of the test's
// own, each a GDBus service of this process on a bus of the test's own (the
// session bus and the system bus). They answer as the test dispatches the
// buses' calls, in the thread that also runs the inhibitor's replies.
#include "../CaseName.h"
#include "../EnvironmentOverride.h"
#include "../PrivateBus.h"

#include "platform/media/IdleInhibitor.h"
#include "platform/media/SessionBus.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

const char kWho[] = "VelofonPocket";
const char kWhy[] = "Playing a recording";
const char kRequestPrefix[] = "/org/freedesktop/portal/desktop/request/";

const char kPortalXml[] = R"(<node>
  <interface name="org.freedesktop.portal.Inhibit">
    <method name="Inhibit">
      <arg direction="in" type="s"/><arg direction="in" type="u"/><arg direction="in" type="a{sv}"/>
      <arg direction="out" type="o"/>
    </method>
  </interface>
  <interface name="org.freedesktop.portal.Request"><method name="Close"/></interface>
</node>)";
const char kLogindXml[] = R"(<node>
  <interface name="org.freedesktop.login1.Manager">
    <method name="Inhibit">
      <arg direction="in" type="s"/><arg direction="in" type="s"/><arg direction="in" type="s"/>
      <arg direction="in" type="s"/><arg direction="out" type="h"/>
    </method>
  </interface>
</node>)";

// A service on a bus: it owns strName and hands every call of the
// interfaces of strXml to answer.
class CFakeService {
public:
    using Answer = std::function<void(GDBusMethodInvocation*)>;

    CFakeService(const std::string& strAddress, const char* strName, const char* strXml, Answer answer)
        : m_answer(std::move(answer))
        , m_pNode(g_dbus_node_info_new_for_xml(strXml, nullptr))
    {
        m_pConnection = g_dbus_connection_new_for_address_sync(strAddress.c_str(),
            static_cast<GDBusConnectionFlags>(
                G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        GVariant* pReply = g_dbus_connection_call_sync(m_pConnection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", strName, 4u), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        guint32 nResult = 0;
        if (pReply) {
            g_variant_get(pReply, "(u)", &nResult);
            g_variant_unref(pReply);
        }
        m_bOwner = nResult == 1;
    }
    // Gone from the bus: what waits for its answers gets an error.
    ~CFakeService()
    {
        g_dbus_connection_close_sync(m_pConnection, nullptr, nullptr);
        g_object_unref(m_pConnection);
        g_dbus_node_info_unref(m_pNode);
    }

    bool IsOwner() const { return m_bOwner; }
    void Serve(const std::string& strPath, int nInterface)
    {
        static const GDBusInterfaceVTable vtable = { OnMethodCall, nullptr, nullptr, {} };
        g_dbus_connection_register_object(
            m_pConnection, strPath.c_str(), m_pNode->interfaces[nInterface], &vtable, this, nullptr, nullptr);
    }

private:
    static void OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
        GDBusMethodInvocation* pInvocation, gpointer pThis)
    {
        static_cast<CFakeService*>(pThis)->m_answer(pInvocation);
    }

    Answer m_answer;
    GDBusNodeInfo* m_pNode;
    GDBusConnection* m_pConnection = nullptr;
    bool m_bOwner = false;
};

struct SPortalInhibit {
    std::string strWindow;
    guint32 nFlags = 0;
    std::string strReason;
    std::string strHandle;
};

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
        for (GDBusMethodInvocation* pInvocation : m_apUnanswered)
            g_object_unref(pInvocation);
        for (const int hLock : m_ahLocks)
            ::close(hLock);
    }

    // bAnswers false: the portal keeps its Inhibit calls unanswered.
    void StartPortal(bool bAnswers)
    {
        m_pPortal = std::make_unique<CFakeService>(m_session.Address(), "org.freedesktop.portal.Desktop", kPortalXml,
            [this, bAnswers](GDBusMethodInvocation* pInvocation) { OnPortalCall(pInvocation, bAnswers); });
        m_pPortal->Serve("/org/freedesktop/portal/desktop", 0);
        ASSERT_TRUE(m_pPortal->IsOwner());
    }
    void OnPortalCall(GDBusMethodInvocation* pInvocation, bool bAnswers)
    {
        if (std::string(g_dbus_method_invocation_get_method_name(pInvocation)) == "Close") {
            m_astrClosed.push_back(g_dbus_method_invocation_get_object_path(pInvocation));
            g_dbus_method_invocation_return_value(pInvocation, nullptr);
            return;
        }
        SPortalInhibit inhibit;
        const gchar* strWindow = nullptr;
        GVariant* pOptions = nullptr;
        g_variant_get(g_dbus_method_invocation_get_parameters(pInvocation), "(&su@a{sv})", &strWindow,
            &inhibit.nFlags, &pOptions);
        inhibit.strWindow = strWindow;
        const gchar* strReason = "";
        const gchar* strToken = "";
        g_variant_lookup(pOptions, "reason", "&s", &strReason);
        g_variant_lookup(pOptions, "handle_token", "&s", &strToken);
        inhibit.strReason = strReason;
        std::string strSender = g_dbus_method_invocation_get_sender(pInvocation) + 1;
        std::replace(strSender.begin(), strSender.end(), '.', '_');
        inhibit.strHandle = kRequestPrefix + strSender + "/" + strToken;
        g_variant_unref(pOptions);
        m_aInhibits.push_back(inhibit);
        if (!bAnswers) {
            m_apUnanswered.push_back(static_cast<GDBusMethodInvocation*>(g_object_ref(pInvocation)));
            return;
        }
        m_pPortal->Serve(inhibit.strHandle, 1);
        g_dbus_method_invocation_return_value(pInvocation, g_variant_new("(o)", inhibit.strHandle.c_str()));
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
        const size_t nBefore = m_aInhibits.size();
        m_inhibitor.SetPlaying(true);
        ASSERT_TRUE(DispatchUntil([&] { return m_aInhibits.size() == nBefore + 1; }));
        m_inhibitor.SetPlaying(false);
        ASSERT_TRUE(DispatchUntil([&] { return m_astrClosed.size() == nBefore + 1; }));
        EXPECT_EQ(m_astrClosed.back(), m_aInhibits.back().strHandle);
    }

    CPrivateBus m_session;
    CPrivateBus m_system;
    CEnvironmentOverride m_sessionAddress { "DBUS_SESSION_BUS_ADDRESS", nullptr };
    CEnvironmentOverride m_systemAddress { "DBUS_SYSTEM_BUS_ADDRESS", nullptr };
    std::unique_ptr<CFakeService> m_pPortal;
    std::unique_ptr<CFakeService> m_pLogind;
    std::vector<SPortalInhibit> m_aInhibits;
    std::vector<std::string> m_astrClosed;
    std::vector<GDBusMethodInvocation*> m_apUnanswered;
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
    ASSERT_EQ(m_aInhibits.size(), 2u);
    for (const SPortalInhibit& inhibit : m_aInhibits) {
        EXPECT_EQ(inhibit.strWindow, "");
        EXPECT_EQ(inhibit.nFlags, 4u);
        EXPECT_EQ(inhibit.strReason, kWhy);
    }
    EXPECT_NE(m_aInhibits[0].strHandle, m_aInhibits[1].strHandle);
}

struct SToggles {
    std::string strName;
    // Played and paused once before, so that the bus is reached.
    bool bConnected;
    std::vector<bool> abPlaying;
};

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
    const size_t nBefore = m_aInhibits.size();
    for (const bool bPlaying : GetParam().abPlaying)
        m_inhibitor.SetPlaying(bPlaying);
    ASSERT_TRUE(DispatchUntil([&] { return m_aInhibits.size() == nBefore + 1; }));
    m_inhibitor.SetPlaying(false);
    ASSERT_TRUE(DispatchUntil([&] { return m_astrClosed.size() == nBefore + 1; }));
    EXPECT_EQ(m_aInhibits.size(), nBefore + 1);
    EXPECT_EQ(m_astrClosed.back(), m_aInhibits.back().strHandle);
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
    ASSERT_TRUE(DispatchUntil([&] { return m_apUnanswered.size() == 1; }));
    m_inhibitor.SetPlaying(false);
    m_inhibitor.SetPlaying(true);
    DispatchBusCalls();
    EXPECT_TRUE(m_astrLogindCalls.empty());

    m_pPortal.reset();
    ASSERT_TRUE(DispatchUntil([&] { return m_astrLogindCalls.size() == 1; }));
    EXPECT_EQ(m_astrLogindCalls[0], std::string("idle ") + kWho + " / " + kWhy + " / block");
    m_inhibitor.SetPlaying(false);
    EXPECT_TRUE(DispatchUntil([&] { return LastLockReleased(); }));
    EXPECT_EQ(m_aInhibits.size(), 1u);
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
