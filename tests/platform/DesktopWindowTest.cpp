// Other programs' windows as the desktop module finds, names, shows and
// activates them, on an X server of the test's own.
#include "platform/desktop/Desktop.h"

#include "EnvironmentOverride.h"
#include "XvfbDisplay.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <string>
#include <vector>

// After gtest: Xlib's macros (None, Bool, Success) would break its templates.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using CClock = std::chrono::steady_clock;

const std::string kJapanese = "速聴プレーヤー 再生中";

bool CollectWindow(XWINDOW hWnd, intptr_t lParam)
{
    reinterpret_cast<std::vector<XWINDOW>*>(lParam)->push_back(hWnd);
    return true;
}

std::vector<XWINDOW> EnumerateAll()
{
    std::vector<XWINDOW> ahWindows;
    EXPECT_TRUE(EnumTopLevelWindows(CollectWindow, reinterpret_cast<intptr_t>(&ahWindows)));
    return ahWindows;
}

std::string CaptionOf(XWINDOW hWnd, int nMaxChars = 512)
{
    std::vector<char> achText(static_cast<size_t>(nMaxChars), '\x7f');
    const int nBytes = GetTopLevelWindowText(hWnd, achText.data(), nMaxChars);
    EXPECT_EQ(static_cast<size_t>(nBytes), std::strlen(achText.data()));
    return std::string(achText.data());
}

int g_nProgramErrors = 0;
int CountProgramError(Display*, XErrorEvent*)
{
    ++g_nProgramErrors;
    return 0;
}

// An X server of the test's own and a connection to it that plays the other
// programs (and, where needed, their window manager).
class DesktopWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!CXvfbDisplay::IsInstalled())
            GTEST_SKIP() << "Xvfb is not installed";
        m_pXvfb = std::make_unique<CXvfbDisplay>(800, 600);
        ASSERT_TRUE(m_pXvfb->IsRunning());
        m_pDisplay = XOpenDisplay(m_pXvfb->Name().c_str());
        ASSERT_NE(m_pDisplay, nullptr);
        m_hRoot = DefaultRootWindow(m_pDisplay);
        m_nUtf8String = XInternAtom(m_pDisplay, "UTF8_STRING", False);
        m_nNetWmName = XInternAtom(m_pDisplay, "_NET_WM_NAME", False);
        m_nWmState = XInternAtom(m_pDisplay, "WM_STATE", False);
    }
    void TearDown() override
    {
        // Our connection goes before its server does.
        if (m_pDisplay)
            XCloseDisplay(m_pDisplay);
        m_pDisplay = nullptr;
        m_pXvfb.reset();
    }

    Window NewWindow(Window hParent = 0, bool bOverrideRedirect = false)
    {
        XSetWindowAttributes attributes {};
        attributes.override_redirect = bOverrideRedirect ? True : False;
        Window hWnd = XCreateWindow(m_pDisplay, hParent ? hParent : m_hRoot, 10, 10, 200, 100, 0, CopyFromParent,
            InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
        XSync(m_pDisplay, False);
        return hWnd;
    }
    void SetNetWmName(Window hWnd, const std::string& strUtf8)
    {
        XChangeProperty(m_pDisplay, hWnd, m_nNetWmName, m_nUtf8String, 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(strUtf8.data()), static_cast<int>(strUtf8.size()));
        XSync(m_pDisplay, False);
    }
    void SetWmName(Window hWnd, const std::string& strLatin1)
    {
        XChangeProperty(m_pDisplay, hWnd, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(strLatin1.data()), static_cast<int>(strLatin1.size()));
        XSync(m_pDisplay, False);
    }
    // What a window manager puts on the windows it manages (NormalState).
    void SetWmState(Window hWnd)
    {
        const long anState[2] = {1, 0};
        XChangeProperty(m_pDisplay, hWnd, m_nWmState, m_nWmState, 32, PropModeReplace,
            reinterpret_cast<const unsigned char*>(anState), 2);
        XSync(m_pDisplay, False);
    }
    void Map(Window hWnd)
    {
        XMapWindow(m_pDisplay, hWnd);
        XSync(m_pDisplay, False);
    }
    int MapState(Window hWnd)
    {
        XWindowAttributes attributes {};
        XGetWindowAttributes(m_pDisplay, hWnd, &attributes);
        return attributes.map_state;
    }
    Window TopmostRootChild()
    {
        Window hRoot = 0;
        Window hParent = 0;
        Window* phChildren = nullptr;
        unsigned int nChildren = 0;
        Window hTop = 0;
        if (XQueryTree(m_pDisplay, m_hRoot, &hRoot, &hParent, &phChildren, &nChildren) && nChildren > 0)
            hTop = phChildren[nChildren - 1];
        if (phChildren)
            XFree(phChildren);
        return hTop;
    }
    Window FocusedWindow()
    {
        Window hFocus = 0;
        int nRevert = 0;
        XGetInputFocus(m_pDisplay, &hFocus, &nRevert);
        return hFocus;
    }

    std::unique_ptr<CXvfbDisplay> m_pXvfb;
    Display* m_pDisplay = nullptr;
    Window m_hRoot = 0;
    Atom m_nUtf8String = None;
    Atom m_nNetWmName = None;
    Atom m_nWmState = None;
};

TEST_F(DesktopWindowTest, VisitsNamedWindowsBottomToTop)
{
    const Window hJapanese = NewWindow();
    SetNetWmName(hJapanese, kJapanese);
    Map(hJapanese);
    const Window hUnnamed = NewWindow();
    Map(hUnnamed);
    const Window hLatin1 = NewWindow();
    SetWmName(hLatin1, "Caf\xe9 only WM_NAME");
    Map(hLatin1);
    const Window hMenu = NewWindow(0, true);
    SetWmName(hMenu, "a menu");
    Map(hMenu);
    const Window hHidden = NewWindow(); // never mapped
    SetWmName(hHidden, "hidden");
    const Window hLong = NewWindow();
    SetNetWmName(hLong, std::string(600, 'L'));
    Map(hLong);

    const std::vector<XWINDOW> ahExpected = {hJapanese, hLatin1, hHidden, hLong};
    EXPECT_EQ(EnumerateAll(), ahExpected);

    XRaiseWindow(m_pDisplay, hJapanese);
    XSync(m_pDisplay, False);
    const std::vector<XWINDOW> ahRaised = {hLatin1, hHidden, hLong, hJapanese};
    EXPECT_EQ(EnumerateAll(), ahRaised);
}

TEST_F(DesktopWindowTest, VisitsTheClientInsideAWindowManagerFrame)
{
    // A reparenting window manager: frame > client, or frame > decoration >
    // client; its frames carry no name, the clients carry WM_STATE.
    const Window hFrame = NewWindow();
    const Window hClient = NewWindow(hFrame);
    SetWmState(hClient);
    SetNetWmName(hClient, "client");
    const Window hDeepFrame = NewWindow();
    const Window hDecoration = NewWindow(hDeepFrame);
    NewWindow(hDecoration); // a title bar without WM_STATE
    const Window hDeepClient = NewWindow(hDecoration);
    SetWmState(hDeepClient);
    // A managed window that is not reparented counts itself, named or not.
    const Window hUnframed = NewWindow();
    SetWmState(hUnframed);
    // A named frame whose client is known: the client it is.
    const Window hNamedFrame = NewWindow();
    SetWmName(hNamedFrame, "frame");
    const Window hInner = NewWindow(hNamedFrame);
    SetWmState(hInner);

    const std::vector<XWINDOW> ahExpected = {hClient, hDeepClient, hUnframed, hInner};
    EXPECT_EQ(EnumerateAll(), ahExpected);
    EXPECT_EQ(CaptionOf(hClient), "client");
}

TEST_F(DesktopWindowTest, EnumerationStopsWhenTheVisitorSaysSo)
{
    for (int i = 0; i < 3; ++i)
        SetWmName(NewWindow(), "window " + std::to_string(i));
    struct SCount {
        int nVisited = 0;
        int nStopAfter = 0;
    } count;
    auto pfnVisit = [](XWINDOW, intptr_t lParam) {
        auto* pCount = reinterpret_cast<SCount*>(lParam);
        return ++pCount->nVisited < pCount->nStopAfter;
    };
    count.nStopAfter = 1;
    EXPECT_TRUE(EnumTopLevelWindows(pfnVisit, reinterpret_cast<intptr_t>(&count)));
    EXPECT_EQ(count.nVisited, 1);
    count = SCount {0, 2};
    EXPECT_TRUE(EnumTopLevelWindows(pfnVisit, reinterpret_cast<intptr_t>(&count)));
    EXPECT_EQ(count.nVisited, 2);
    count = SCount {0, 100};
    EXPECT_TRUE(EnumTopLevelWindows(pfnVisit, reinterpret_cast<intptr_t>(&count)));
    EXPECT_EQ(count.nVisited, 3);
}

TEST_F(DesktopWindowTest, ReadsCaptionsAsUtf8)
{
    const Window hJapanese = NewWindow();
    SetNetWmName(hJapanese, kJapanese);
    SetWmName(hJapanese, "fallback not used");
    const Window hLatin1 = NewWindow();
    SetWmName(hLatin1, "Caf\xe9 \xbc");
    const Window hUtf8WmName = NewWindow();
    XChangeProperty(m_pDisplay, hUtf8WmName, XA_WM_NAME, m_nUtf8String, 8, PropModeReplace,
        reinterpret_cast<const unsigned char*>(kJapanese.data()), static_cast<int>(kJapanese.size()));
    const Window hCompound = NewWindow();
    XTextProperty property {};
    char strAscii[] = "compound text";
    char* astrList[] = {strAscii};
    ASSERT_EQ(XmbTextListToTextProperty(m_pDisplay, astrList, 1, XCompoundTextStyle, &property), Success);
    XSetWMName(m_pDisplay, hCompound, &property);
    XFree(property.value);
    const Window hUnnamed = NewWindow();
    XSync(m_pDisplay, False);

    EXPECT_EQ(CaptionOf(hJapanese), kJapanese);
    EXPECT_EQ(CaptionOf(hLatin1), "Caf\xc3\xa9 \xc2\xbc");
    EXPECT_EQ(CaptionOf(hUtf8WmName), kJapanese);
    EXPECT_EQ(CaptionOf(hCompound), "compound text");
    EXPECT_EQ(CaptionOf(hUnnamed), "");
}

TEST_F(DesktopWindowTest, CutsLongCaptionsAtWholeCharacters)
{
    const std::string strLong(600, 'x');
    const Window hLong = NewWindow();
    SetNetWmName(hLong, strLong);

    // 511 characters and the zero; nothing written beyond the 512 bytes.
    std::vector<char> achText(700, '#');
    EXPECT_EQ(GetTopLevelWindowText(hLong, achText.data(), 512), 511);
    EXPECT_EQ(std::string(achText.data()), strLong.substr(0, 511));
    EXPECT_EQ(achText[511], '\0');
    for (size_t i = 512; i < achText.size(); ++i)
        ASSERT_EQ(achText[i], '#') << i;

    // Three bytes a character: 170 of them fill 510 of the 511 bytes.
    std::string strKana;
    for (int i = 0; i < 600; ++i)
        strKana += "\xe3\x81\x82"; // HIRAGANA LETTER A
    const Window hKana = NewWindow();
    SetNetWmName(hKana, strKana);
    std::fill(achText.begin(), achText.end(), '#');
    EXPECT_EQ(GetTopLevelWindowText(hKana, achText.data(), 512), 510);
    EXPECT_EQ(std::string(achText.data()), strKana.substr(0, 510));
    for (size_t i = 511; i < achText.size(); ++i)
        ASSERT_EQ(achText[i], '#') << i;

    // A sequence that does not fit whole is left out.
    const Window hMixed = NewWindow();
    SetNetWmName(hMixed, "a\xf0\x9f\x8e\xb5z"); // a, MUSICAL NOTE, z
    EXPECT_EQ(CaptionOf(hMixed, 2), "a");
    EXPECT_EQ(CaptionOf(hMixed, 5), "a");
    EXPECT_EQ(CaptionOf(hMixed, 6), "a\xf0\x9f\x8e\xb5");
    EXPECT_EQ(CaptionOf(hMixed, 7), "a\xf0\x9f\x8e\xb5z");
    EXPECT_EQ(CaptionOf(hKana, 3), "");
    EXPECT_EQ(CaptionOf(hKana, 4), "\xe3\x81\x82");

    char chOnly = '#';
    EXPECT_EQ(GetTopLevelWindowText(hLong, &chOnly, 1), 0);
    EXPECT_EQ(chOnly, '\0');
    chOnly = '#';
    EXPECT_EQ(GetTopLevelWindowText(hLong, &chOnly, 0), 0);
    EXPECT_EQ(chOnly, '#');
    EXPECT_EQ(GetTopLevelWindowText(hLong, nullptr, 10), 0);
}

TEST_F(DesktopWindowTest, ShowMapsAndRaisesAHiddenWindow)
{
    const Window hHidden = NewWindow();
    SetWmName(hHidden, "hidden player");
    const Window hOther = NewWindow();
    SetWmName(hOther, "other");
    Map(hOther);
    ASSERT_EQ(MapState(hHidden), IsUnmapped);

    EXPECT_TRUE(ShowTopLevelWindow(hHidden));
    EXPECT_EQ(MapState(hHidden), IsViewable);
    EXPECT_EQ(TopmostRootChild(), hHidden);
    EXPECT_TRUE(ShowTopLevelWindow(hHidden)); // already shown: no harm
}

TEST_F(DesktopWindowTest, ForegroundGivesTheFocusWithoutAWindowManager)
{
    const Window hFirst = NewWindow();
    Map(hFirst);
    const Window hSecond = NewWindow();
    Map(hSecond);
    XSetInputFocus(m_pDisplay, hSecond, RevertToParent, CurrentTime);
    XSync(m_pDisplay, False);

    EXPECT_TRUE(SetForegroundTopLevelWindow(hFirst));
    EXPECT_EQ(FocusedWindow(), hFirst);
    EXPECT_EQ(TopmostRootChild(), hFirst);

    // An unmapped window cannot take the focus: refused, not fatal.
    const Window hHidden = NewWindow();
    EXPECT_FALSE(SetForegroundTopLevelWindow(hHidden));
    EXPECT_EQ(FocusedWindow(), hFirst);

    // A _NET_SUPPORTED left behind by a window manager that quit is no
    // window manager.
    Atom nActive = XInternAtom(m_pDisplay, "_NET_ACTIVE_WINDOW", False);
    XChangeProperty(m_pDisplay, m_hRoot, XInternAtom(m_pDisplay, "_NET_SUPPORTED", False), XA_ATOM, 32,
        PropModeReplace, reinterpret_cast<const unsigned char*>(&nActive), 1);
    XSync(m_pDisplay, False);
    EXPECT_TRUE(SetForegroundTopLevelWindow(hSecond));
    EXPECT_EQ(FocusedWindow(), hSecond);
}

TEST_F(DesktopWindowTest, ForegroundAsksTheWindowManagerWhenOneRuns)
{
    // This connection plays a window manager that supports _NET_ACTIVE_WINDOW.
    const Window hCheck = NewWindow();
    const Atom nCheck = XInternAtom(m_pDisplay, "_NET_SUPPORTING_WM_CHECK", False);
    XChangeProperty(m_pDisplay, hCheck, nCheck, XA_WINDOW, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(&hCheck), 1);
    XChangeProperty(m_pDisplay, m_hRoot, nCheck, XA_WINDOW, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(&hCheck), 1);
    Atom anSupported[2] = {XInternAtom(m_pDisplay, "_NET_WM_NAME", False),
        XInternAtom(m_pDisplay, "_NET_ACTIVE_WINDOW", False)};
    XChangeProperty(m_pDisplay, m_hRoot, XInternAtom(m_pDisplay, "_NET_SUPPORTED", False), XA_ATOM, 32,
        PropModeReplace, reinterpret_cast<const unsigned char*>(anSupported), 2);
    XSelectInput(m_pDisplay, m_hRoot, SubstructureRedirectMask);
    const Window hTarget = NewWindow();
    SetWmState(hTarget);
    Map(hTarget); // the redirecting client's own requests are not redirected
    const Window hFocusBefore = FocusedWindow();

    EXPECT_TRUE(SetForegroundTopLevelWindow(hTarget));

    bool bReceived = false;
    XEvent event {};
    const CClock::time_point deadline = CClock::now() + std::chrono::seconds(5);
    while (!bReceived && CClock::now() < deadline) {
        while (!bReceived && XPending(m_pDisplay) > 0) {
            XNextEvent(m_pDisplay, &event);
            bReceived = event.type == ClientMessage;
        }
        if (!bReceived) {
            pollfd poll {ConnectionNumber(m_pDisplay), POLLIN, 0};
            ::poll(&poll, 1, 50);
        }
    }
    ASSERT_TRUE(bReceived);
    EXPECT_EQ(event.xclient.window, hTarget);
    EXPECT_EQ(event.xclient.message_type, anSupported[1]);
    EXPECT_EQ(event.xclient.format, 32);
    EXPECT_EQ(event.xclient.data.l[0], 2);
    EXPECT_EQ(event.xclient.data.l[1], static_cast<long>(CurrentTime));
    // The manager decides; nobody took the focus behind its back.
    EXPECT_EQ(FocusedWindow(), hFocusBefore);
}

TEST_F(DesktopWindowTest, WindowsThatVanishAreNoError)
{
    const XErrorHandler pfnBefore = XSetErrorHandler(CountProgramError);
    g_nProgramErrors = 0;

    const Window hGone = NewWindow();
    SetWmName(hGone, "gone");
    XDestroyWindow(m_pDisplay, hGone);
    XSync(m_pDisplay, False);
    EXPECT_EQ(CaptionOf(hGone), "");
    EXPECT_FALSE(ShowTopLevelWindow(hGone));
    EXPECT_FALSE(SetForegroundTopLevelWindow(hGone));
    EXPECT_EQ(CaptionOf(0), "");
    EXPECT_FALSE(ShowTopLevelWindow(0));

    // Windows destroyed while the visitor runs.
    std::vector<Window> ahWindows;
    for (int i = 0; i < 5; ++i) {
        ahWindows.push_back(NewWindow());
        SetWmName(ahWindows.back(), "doomed " + std::to_string(i));
    }
    struct SContext {
        Display* pDisplay;
        std::vector<Window>* pahWindows;
        std::vector<std::string> astrCaptions;
    } context {m_pDisplay, &ahWindows, {}};
    EXPECT_TRUE(EnumTopLevelWindows(
        [](XWINDOW hWnd, intptr_t lParam) {
            auto* pContext = reinterpret_cast<SContext*>(lParam);
            if (hWnd == pContext->pahWindows->front()) {
                for (size_t i = 1; i < pContext->pahWindows->size(); i += 2)
                    XDestroyWindow(pContext->pDisplay, (*pContext->pahWindows)[i]);
                XSync(pContext->pDisplay, False);
            }
            pContext->astrCaptions.push_back(CaptionOf(hWnd));
            return true;
        },
        reinterpret_cast<intptr_t>(&context)));
    const std::vector<std::string> astrExpected = {"doomed 0", "", "doomed 2", "", "doomed 4"};
    EXPECT_EQ(context.astrCaptions, astrExpected);

    // None of that reached the program's handler, which is in place again
    // and still hears about the errors of the program's own connection.
    EXPECT_EQ(g_nProgramErrors, 0);
    XMapWindow(m_pDisplay, hGone);
    XSync(m_pDisplay, False);
    EXPECT_EQ(g_nProgramErrors, 1);
    EXPECT_EQ(XSetErrorHandler(pfnBefore), CountProgramError);
}

TEST_F(DesktopWindowTest, FollowsDisplayWhenItChanges)
{
    SetWmName(NewWindow(), "before");
    EXPECT_EQ(EnumerateAll().size(), 1u);
    {
        CEnvironmentOverride noDisplay("DISPLAY", nullptr);
        int nVisits = 0;
        EXPECT_FALSE(EnumTopLevelWindows(
            [](XWINDOW, intptr_t lParam) {
                ++*reinterpret_cast<int*>(lParam);
                return true;
            },
            reinterpret_cast<intptr_t>(&nVisits)));
        EXPECT_EQ(nVisits, 0);
        char achText[8] = "#######";
        EXPECT_EQ(GetTopLevelWindowText(1, achText, 8), 0);
        EXPECT_STREQ(achText, "");
        EXPECT_FALSE(ShowTopLevelWindow(1));
        EXPECT_FALSE(SetForegroundTopLevelWindow(1));
        KeepDisplayAwake();
    }
    {
        // A display nobody serves: the same.
        CEnvironmentOverride badDisplay("DISPLAY", ":65000");
        EXPECT_FALSE(EnumTopLevelWindows(CollectWindow, 0));
        KeepDisplayAwake();
    }
    SetWmName(NewWindow(), "after");
    EXPECT_EQ(EnumerateAll().size(), 2u);
    KeepDisplayAwake();
}

TEST_F(DesktopWindowTest, SurvivesItsServerGoingAwayAndFindsTheNextOne)
{
    const std::string strOldName = m_pXvfb->Name();
    SetWmName(NewWindow(), "first server");
    ASSERT_EQ(EnumerateAll().size(), 1u);
    TearDown(); // the server goes, with the module still connected to it

    {
        // Still pointing at the dead server (unless another one took its
        // name meanwhile, which would be found instead).
        CEnvironmentOverride display("DISPLAY", strOldName.c_str());
        Display* pSomeoneElse = XOpenDisplay(strOldName.c_str());
        if (pSomeoneElse)
            XCloseDisplay(pSomeoneElse);
        else
            EXPECT_FALSE(EnumTopLevelWindows(CollectWindow, 0));
        EXPECT_EQ(CaptionOf(1), "");
        KeepDisplayAwake();
    }

    // A new server, quite likely under the same name.
    SetUp();
    const Window hWnd = NewWindow();
    SetWmName(hWnd, "second server");
    const std::vector<XWINDOW> ahExpected = {hWnd};
    EXPECT_EQ(EnumerateAll(), ahExpected);
    EXPECT_EQ(CaptionOf(hWnd), "second server");

    // And once more, this time without a call in between.
    TearDown();
    SetUp();
    const Window hThird = NewWindow();
    SetWmName(hThird, "third server");
    const std::vector<XWINDOW> ahThird = {hThird};
    EXPECT_EQ(EnumerateAll(), ahThird);
}

TEST_F(DesktopWindowTest, KeepDisplayAwakeIsHarmless)
{
    KeepDisplayAwake();
    KeepDisplayAwake();
    SetWmName(NewWindow(), "still there");
    EXPECT_EQ(EnumerateAll().size(), 1u);
}

TEST_F(DesktopWindowTest, EventsSentToEveryClientDoNotLookLikeALostServer)
{
    SetWmName(NewWindow(), "player");
    ASSERT_EQ(EnumerateAll().size(), 1u);
    // Every client hears of a changed pointer mapping, asked for it or not.
    unsigned char achMap[32];
    const int nButtons = XGetPointerMapping(m_pDisplay, achMap, sizeof achMap);
    ASSERT_GT(nButtons, 0);
    for (int i = 0; i < 3; ++i)
        XSetPointerMapping(m_pDisplay, achMap, nButtons);
    XSync(m_pDisplay, False);
    EXPECT_EQ(EnumerateAll().size(), 1u);
    EXPECT_EQ(EnumerateAll().size(), 1u);
}


} // namespace
