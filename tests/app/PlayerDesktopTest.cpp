// VelofonPocket's life on a desktop, under a real window manager (Openbox) on
// an X server of the test's own: what the desktop does to its window while
// it plays (minimise, other desktops, unmapping, a suspended process), the
// keys, the ways to end it, and the window's scale. The sound is watched
// through SDL's disk driver: while the player plays, sound keeps reaching it.
#include "RunningPlayer.h"

#include "../CaseName.h"
#include "../Screenshot.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <functional>
#include <ostream>
#include <thread>

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Long enough at 2.0x for every disturbance of a test to happen while it plays.
constexpr uint32_t kRate = 22050;
constexpr double kLongSeconds = 50.0;
// Half a second of sound at the device.
constexpr size_t kHalfSecondFrames = kRate / 2;

// A connection of the test's own to its X server, for what pagers, task bars
// and the session do to the player's window.
class CDesktopConnection {
public:
    CDesktopConnection()
        : m_pDisplay(XOpenDisplay(nullptr))
    {
    }
    ~CDesktopConnection()
    {
        if (m_pDisplay)
            XCloseDisplay(m_pDisplay);
    }
    CDesktopConnection(const CDesktopConnection&) = delete;
    CDesktopConnection& operator=(const CDesktopConnection&) = delete;

    Display* Get() const { return m_pDisplay; }

    // A request to the window manager, as the extended hints define them.
    void SendToRoot(Window hWindow, const char* strType, long nFirst, long nSecond = 0)
    {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = hWindow;
        event.xclient.message_type = XInternAtom(m_pDisplay, strType, False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = nFirst;
        event.xclient.data.l[1] = nSecond;
        XSendEvent(m_pDisplay, DefaultRootWindow(m_pDisplay), False, SubstructureRedirectMask | SubstructureNotifyMask,
            &event);
        XSync(m_pDisplay, False);
    }

    // The pager's source indication: the user asked for it.
    void Activate(Window hWindow) { SendToRoot(hWindow, "_NET_ACTIVE_WINDOW", 2, CurrentTime); }
    void SwitchToDesktop(long nDesktop) { SendToRoot(DefaultRootWindow(m_pDisplay), "_NET_CURRENT_DESKTOP", nDesktop); }

    SRect Size(Window hWindow) const
    {
        XWindowAttributes attributes {};
        if (!XGetWindowAttributes(m_pDisplay, hWindow, &attributes))
            return SRect();
        return SRect {0, 0, attributes.width, attributes.height};
    }

    void SetXftDpi(const std::string& strDpi)
    {
        const std::string strResources = "Xft.dpi:\t" + strDpi + "\n";
        XChangeProperty(m_pDisplay, DefaultRootWindow(m_pDisplay), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(strResources.c_str()), static_cast<int>(strResources.size()));
        XSync(m_pDisplay, False);
    }

private:
    Display* m_pDisplay;
};

class PlayerDesktopTest : public RunningPlayerFixture {
protected:
    PlayerDesktopTest()
        : RunningPlayerFixture(EWindowManager::Openbox)
    {
    }

    // The player with a long file (or two) in its playlist, playing.
    void StartPlaying()
    {
        PrepareSettings({m_dir.Write("lecture.wav", Mono16Wav(kRate, kLongSeconds, 120))});
        StartPlayer();
        ASSERT_FALSE(HasFatalFailure());
        Click(kPlayPauseButton);
        ASSERT_TRUE(WaitForTitle("PLAY-Kuroto")) << "now " << Title() << Report();
        ASSERT_TRUE(WaitForMoreSound(kHalfSecondFrames)) << "no sound reached the device" << Report();
    }

    // Keys as typed on the keyboard, into the player's window.
    bool TypeKeys(const std::string& strKeys)
    {
        return Xdotool("windowactivate --sync " + std::to_string(m_hWindow)) && Xdotool("key " + strKeys);
    }

    // The window's look once it stays the same for a moment.
    SPicture SettledLook()
    {
        SPicture previous = CaptureWindow(m_hWindow);
        for (int nTry = 0; nTry < 50; ++nTry) {
            std::this_thread::sleep_for(milliseconds(100));
            SPicture now = CaptureWindow(m_hWindow);
            if (now.abRgb == previous.abRgb)
                return now;
            previous = std::move(now);
        }
        return previous;
    }

    bool WaitForLook(const std::function<bool(const SPicture&)>& pfnWanted)
    {
        return WaitUntil([&] { return pfnWanted(CaptureWindow(m_hWindow)); }, seconds(3));
    }

    CDesktopConnection m_desktop;
};

// ---- the desktop while it plays ----

struct SDisturbance {
    const char* strName;
    std::function<void(CDesktopConnection&, Window, pid_t)> pfnDo;
};

TEST_F(PlayerDesktopTest, WhatTheDesktopDoesToTheWindowNeverStopsThePlayback)
{
    StartPlaying();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_NE(m_desktop.Get(), nullptr);

    const SDisturbance aDisturbances[] = {
        {"minimised", [](CDesktopConnection& desktop, Window hWnd, pid_t) {
             XIconifyWindow(desktop.Get(), hWnd, DefaultScreen(desktop.Get()));
             XSync(desktop.Get(), False);
         }},
        {"restored", [](CDesktopConnection& desktop, Window hWnd, pid_t) { desktop.Activate(hWnd); }},
        {"left on another desktop", [](CDesktopConnection& desktop, Window, pid_t) { desktop.SwitchToDesktop(1); }},
        {"back on its desktop", [](CDesktopConnection& desktop, Window, pid_t) { desktop.SwitchToDesktop(0); }},
        {"withdrawn", [](CDesktopConnection& desktop, Window hWnd, pid_t) {
             XWithdrawWindow(desktop.Get(), hWnd, DefaultScreen(desktop.Get()));
             XSync(desktop.Get(), False);
         }},
        {"mapped again", [](CDesktopConnection& desktop, Window hWnd, pid_t) {
             XMapWindow(desktop.Get(), hWnd);
             XSync(desktop.Get(), False);
         }},
        {"asked to maximise", [](CDesktopConnection& desktop, Window hWnd, pid_t) {
             const long nAdd = 1;
             desktop.SendToRoot(hWnd, "_NET_WM_STATE", nAdd,
                 static_cast<long>(XInternAtom(desktop.Get(), "_NET_WM_STATE_MAXIMIZED_VERT", False)));
         }},
        {"given Escape", [](CDesktopConnection&, Window hWnd, pid_t) {
             Xdotool("windowactivate --sync " + std::to_string(hWnd) + " key Escape");
         }},
        {"suspended for 6 s", [](CDesktopConnection&, Window, pid_t nPid) {
             ::kill(nPid, SIGSTOP);
             std::this_thread::sleep_for(seconds(6));
             ::kill(nPid, SIGCONT);
         }},
    };
    const SRect size = m_desktop.Size(m_hWindow);
    for (const SDisturbance& disturbance : aDisturbances) {
        disturbance.pfnDo(m_desktop, m_hWindow, m_nPid);
        EXPECT_TRUE(WaitForMoreSound(kHalfSecondFrames))
            << "no sound reached the device after the window was " << disturbance.strName << Report();
        ASSERT_TRUE(PlayerRuns()) << "the player ended when its window was " << disturbance.strName << Report();
        EXPECT_EQ(Title(), "PLAY-Kuroto") << "after the window was " << disturbance.strName;
        const SRect now = m_desktop.Size(m_hWindow);
        EXPECT_TRUE(now.nWidth == size.nWidth && now.nHeight == size.nHeight)
            << "the window is " << now.nWidth << "x" << now.nHeight << " after it was " << disturbance.strName;
    }
}

// ---- keys ----

TEST_F(PlayerDesktopTest, KeysRemoveTheSelectedEntryMoveTheFocusPlayAndSpeedUp)
{
    const std::string strFirst = m_dir.Write("first.wav", Mono16Wav(kRate, kLongSeconds, 120));
    const std::string strSecond = m_dir.Write("second.wav", Mono16Wav(kRate, kLongSeconds, 150));
    PrepareSettings({strFirst, strSecond});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());

    // The first row selected with a click; the pointer then leaves the
    // window, so that no hover or tooltip changes its look.
    ASSERT_TRUE(ClickInWindow(m_hWindow, kPlayList.nX + 30, kPlayList.nY + 6));
    ASSERT_TRUE(Xdotool("mousemove 790 590"));
    ASSERT_TRUE(TypeKeys("Delete"));
    EXPECT_TRUE(WaitForSetting("PlayListCount", "1")) << Setting("PlayListCount") << Report();
    EXPECT_EQ(Setting("PlayFile00000"), strSecond);

    // Tab shows the focus on the next part (the select-all bar), Shift+Tab
    // back in the list, where Space plays rather than pressing a button.
    const SPicture before = SettledLook();
    ASSERT_TRUE(TypeKeys("Tab"));
    EXPECT_TRUE(WaitForLook([&](const SPicture& now) { return now.abRgb != before.abRgb; }))
        << "Tab changed nothing in the window";
    const SPicture afterTab = SettledLook();
    ASSERT_TRUE(TypeKeys("shift+Tab"));
    EXPECT_TRUE(WaitForLook([&](const SPicture& now) { return now.abRgb != afterTab.abRgb; }))
        << "Shift+Tab changed nothing in the window";

    ASSERT_TRUE(TypeKeys("space"));
    EXPECT_TRUE(WaitForTitle("PLAY-Kuroto")) << "now " << Title() << Report();
    EXPECT_TRUE(WaitForMoreSound(kHalfSecondFrames)) << "Space played nothing" << Report();
    ASSERT_TRUE(TypeKeys("bracketright"));
    EXPECT_TRUE(WaitForSetting("SpeedIdx", "11")) << Setting("SpeedIdx") << Report();
}

// ---- ending ----

class PlayerEndingTest;

struct SEnding {
    const char* strName;
    void (PlayerEndingTest::*pfnEnd)();
    int nExitStatus;
};

void PrintTo(const SEnding& ending, std::ostream* pStream)
{
    *pStream << ending.strName;
}

class PlayerEndingTest : public PlayerDesktopTest, public ::testing::WithParamInterface<SEnding> {
public:
    void PressCtrlQ() { EXPECT_TRUE(TypeKeys("ctrl+q")); }
    // As the close button of the window's frame does.
    void AskToClose() { m_desktop.SendToRoot(m_hWindow, "_NET_CLOSE_WINDOW", CurrentTime, 2); }
    void SendSigint() { ::kill(m_nPid, SIGINT); }
    void SendSighup() { ::kill(m_nPid, SIGHUP); }
};

TEST_P(PlayerEndingTest, EndsWhilePlayingWithItsStatus)
{
    StartPlaying();
    ASSERT_FALSE(HasFatalFailure());

    m_bEndsWithTheTest = false;
    (this->*GetParam().pfnEnd)();
    EXPECT_TRUE(WaitForPlayerEnd(seconds(3))) << "the player still runs 3 s after " << GetParam().strName;
    EXPECT_EQ(m_nExitStatus, GetParam().nExitStatus) << m_strEnd << Report();
}

// A signal ends it as a shell reports a process that the signal ended.
INSTANTIATE_TEST_SUITE_P(Ways, PlayerEndingTest,
    ::testing::Values(SEnding {"CtrlQ", &PlayerEndingTest::PressCtrlQ, 0},
        SEnding {"CloseRequest", &PlayerEndingTest::AskToClose, 0},
        SEnding {"SIGINT", &PlayerEndingTest::SendSigint, 128 + SIGINT},
        SEnding {"SIGHUP", &PlayerEndingTest::SendSighup, 128 + SIGHUP}),
    SCaseName());

// ---- scale ----

struct SScale {
    const char* strName;
    const char* strVelofonScale; // empty: unset
    const char* strXftDpi;       // empty: unset
    double dFactor;
};

void PrintTo(const SScale& scale, std::ostream* pStream)
{
    *pStream << scale.strName;
}

class PlayerScaleTest : public PlayerDesktopTest, public ::testing::WithParamInterface<SScale> {};

TEST_P(PlayerScaleTest, TheWindowAndItsPicturesGrowByTheFactor)
{
    const SScale& scale = GetParam();
    if (*scale.strXftDpi)
        m_desktop.SetXftDpi(scale.strXftDpi);
    PrepareSettings({});
    StartPlayer({std::string("VELOFON_SCALE=") + scale.strVelofonScale});
    ASSERT_FALSE(HasFatalFailure());

    const SRect size = m_desktop.Size(m_hWindow);
    EXPECT_NEAR(size.nWidth, kFormWidth * scale.dFactor, 1.0);
    EXPECT_NEAR(size.nHeight, (kFormHeight + kCommandBarHeight) * scale.dFactor, 1.0);

    // The background picture, scaled, is what most of the window shows;
    // the white list box is left out.
    const SPicture picture = SettledLook();
    ASSERT_EQ(picture.nWidth, size.nWidth);
    const auto scaled = [&scale](int n) { return static_cast<int>(n * scale.dFactor); };
    EXPECT_EQ(picture.DominantColor(scaled(kPlayList.nX), scaled(kPlayList.nY), scaled(kPlayList.nWidth),
                  scaled(kPlayList.nHeight)),
        kFormColor);
    EXPECT_NE(picture.Pixel(scaled(kPlayList.CenterX()), scaled(kPlayList.CenterY())), kFormColor)
        << "no list box where the scaled layout puts it";
}

INSTANTIATE_TEST_SUITE_P(Settings, PlayerScaleTest,
    ::testing::Values(SScale {"Default", "", "", 1.0}, SScale {"VelofonScale2", "2", "", 2.0},
        SScale {"XftDpi192", "", "192", 2.0}, SScale {"XftDpi144", "", "144", 1.5},
        SScale {"VelofonScaleBeforeXftDpi", "1", "192", 1.0}),
    SCaseName());

} // namespace
