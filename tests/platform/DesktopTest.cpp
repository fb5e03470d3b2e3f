// The desktop session: the single-instance lock across processes and the
// hand-over socket it leads to, other programs' windows on an X server of the
// test's own, the executable's path and opening a document through a
// stand-in xdg-open.
#include "platform/desktop/Desktop.h"
#include "platform/handover/HandOver.h"

#include "AsNobody.h"
#include "XvfbDisplay.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// After gtest: Xlib's macros (None, Bool, Success) would break its templates.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace fs = std::filesystem;

namespace {

using CClock = std::chrono::steady_clock;

// Sets or removes an environment variable for the life of the object.
class CEnvironmentOverride {
public:
    CEnvironmentOverride(const char* strName, const char* strValue)
        : m_strName(strName)
    {
        if (const char* strOld = std::getenv(strName))
            m_strOld = strOld;
        if (strValue)
            ::setenv(strName, strValue, 1);
        else
            ::unsetenv(strName);
    }
    ~CEnvironmentOverride()
    {
        if (m_strOld)
            ::setenv(m_strName.c_str(), m_strOld->c_str(), 1);
        else
            ::unsetenv(m_strName.c_str());
    }
    CEnvironmentOverride(const CEnvironmentOverride&) = delete;
    CEnvironmentOverride& operator=(const CEnvironmentOverride&) = delete;

private:
    std::string m_strName;
    std::optional<std::string> m_strOld;
};

// A fresh folder of the test's own, removed with everything in it.
class CTempDir {
public:
    CTempDir()
    {
        std::string strTemplate = (fs::temp_directory_path() / "velofon-desktop-test-XXXXXX").string();
        if (::mkdtemp(strTemplate.data()))
            m_strPath = strTemplate;
    }
    ~CTempDir()
    {
        if (!m_strPath.empty()) {
            std::error_code error;
            fs::remove_all(m_strPath, error);
        }
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

std::string ReadWholeFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    std::ostringstream stream;
    stream << file.rdbuf();
    return stream.str();
}

bool WaitForFile(const std::string& strPath, std::chrono::seconds timeout)
{
    const CClock::time_point deadline = CClock::now() + timeout;
    while (!fs::exists(strPath)) {
        if (CClock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// ---------------------------------------------------------------- single-instance lock

// What another process finds: the lock's state as its exit status.
int ProbeInChildProcess(const std::string& strPath)
{
    const pid_t nPid = ::fork();
    if (nPid == 0) {
        int nError = 0;
        ::_exit(static_cast<int>(LockSingleInstance(strPath, nError)));
    }
    if (nPid < 0)
        return -1;
    int nStatus = 0;
    while (::waitpid(nPid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

constexpr int kProbeOurs = static_cast<int>(EInstanceLock::Ours);
constexpr int kProbeHeld = static_cast<int>(EInstanceLock::HeldByAnother);

class InstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_dir.Path().empty()); }
    // In a settings folder that is not there yet.
    std::string LockPath(const std::string& strFolder = "settings") const
    {
        return m_dir.Path() + "/" + strFolder + "/VelofonPocket.lock";
    }

    CTempDir m_dir;
};

TEST_F(InstanceLockTest, OtherProcessSeesItHeldUntilTheHolderDies)
{
    int ahPipe[2];
    ASSERT_EQ(::pipe(ahPipe), 0);
    const pid_t nHolder = ::fork();
    ASSERT_GE(nHolder, 0);
    if (nHolder == 0) {
        ::close(ahPipe[0]);
        int nError = 0;
        const char chResult = LockSingleInstance(LockPath(), nError) == EInstanceLock::Ours ? 'y' : 'n';
        if (::write(ahPipe[1], &chResult, 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause(); // holds the lock until killed
    }
    ::close(ahPipe[1]);
    char chResult = 0;
    EXPECT_EQ(::read(ahPipe[0], &chResult, 1), 1);
    ::close(ahPipe[0]);
    EXPECT_EQ(chResult, 'y');

    EXPECT_EQ(ProbeInChildProcess(LockPath()), kProbeHeld);
    struct stat st {};
    ASSERT_EQ(::lstat(LockPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((m_dir.Path() + "/settings").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Killed without any chance to clean up: the kernel still drops the lock.
    ASSERT_EQ(::kill(nHolder, SIGKILL), 0);
    ASSERT_EQ(::waitpid(nHolder, nullptr, 0), nHolder);
    EXPECT_EQ(ProbeInChildProcess(LockPath()), kProbeOurs);
}

TEST_F(InstanceLockTest, ThisProcessHoldsItForItsWholeLife)
{
    int nError = -1;
    ASSERT_EQ(LockSingleInstance(LockPath(), nError), EInstanceLock::Ours);
    EXPECT_EQ(nError, 0);
    EXPECT_EQ(ProbeInChildProcess(LockPath()), kProbeHeld);
    // A second call of the same process counts as another player.
    EXPECT_EQ(LockSingleInstance(LockPath(), nError), EInstanceLock::HeldByAnother);
    // The lock of another settings folder is another lock.
    EXPECT_EQ(LockSingleInstance(LockPath("other"), nError), EInstanceLock::Ours);
    EXPECT_EQ(ProbeInChildProcess(LockPath()), kProbeHeld);
}

// Whatever keeps the lock from being had is told, with the system's reason.
struct SLockFallback {
    const char* strName;
    bool bAsNobody;
    void (*pfnPrepare)(const std::string& strLockPath);
    int nError;
};

void PrintTo(const SLockFallback& fallback, std::ostream* pStream)
{
    *pStream << fallback.strName;
}

class LockFallbackTest : public InstanceLockTest, public ::testing::WithParamInterface<SLockFallback> {};

TEST_P(LockFallbackTest, IsUnavailableWithTheReason)
{
    if (GetParam().bAsNobody && RanAgainAsNobody())
        return;
    ASSERT_TRUE(fs::create_directory(m_dir.Path() + "/settings"));
    GetParam().pfnPrepare(LockPath());
    int nError = 0;
    EXPECT_EQ(LockSingleInstance(LockPath(), nError), EInstanceLock::Unavailable);
    EXPECT_EQ(nError, GetParam().nError) << std::strerror(nError);
    EXPECT_FALSE(fs::exists(m_dir.Path() + "/target")); // not made through a link
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LockFallbackTest,
    ::testing::Values(
        SLockFallback{"ReadOnlyFolder", true,
            [](const std::string& strPath) {
                EXPECT_EQ(::chmod(fs::path(strPath).parent_path().c_str(), 0500), 0);
            },
            EACCES},
        SLockFallback{"FolderThatCannotBeMade", false,
            [](const std::string& strPath) {
                const fs::path settings = fs::path(strPath).parent_path();
                fs::remove(settings);
                std::ofstream(settings.string()) << "a file where the folder should be";
            },
            ENOTDIR},
        SLockFallback{"LinkInItsPlace", false,
            [](const std::string& strPath) {
                const std::string strTarget = fs::path(strPath).parent_path().parent_path().string() + "/target";
                EXPECT_EQ(::symlink(strTarget.c_str(), strPath.c_str()), 0);
            },
            ELOOP},
        SLockFallback{"FifoInItsPlace", false,
            [](const std::string& strPath) { EXPECT_EQ(::mkfifo(strPath.c_str(), 0600), 0); }, ENOLCK},
        SLockFallback{"FolderInItsPlace", false,
            [](const std::string& strPath) { EXPECT_TRUE(fs::create_directory(strPath)); }, EISDIR}),
    [](const ::testing::TestParamInfo<SLockFallback>& info) { return std::string(info.param.strName); });

TEST_F(InstanceLockTest, RefusesAFileOfAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file away needs root";
    ASSERT_TRUE(fs::create_directory(m_dir.Path() + "/settings"));
    { std::ofstream(LockPath()) << ""; }
    ASSERT_EQ(::chown(LockPath().c_str(), 65534, 65534), 0);
    int nError = 0;
    EXPECT_EQ(LockSingleInstance(LockPath(), nError), EInstanceLock::Unavailable);
    EXPECT_EQ(nError, ENOLCK);
}

TEST_F(InstanceLockTest, TheHandOverSocketIsFoundFromTheLockFileInTheRuntimeFolder)
{
    int nError = 0;
    ASSERT_EQ(LockSingleInstance(LockPath(), nError), EInstanceLock::Ours);
    ASSERT_EQ(LockSingleInstance(LockPath("other"), nError), EInstanceLock::Ours);
    ASSERT_EQ(::symlink("settings", (m_dir.Path() + "/linked").c_str()), 0);
    const std::string strUser = std::to_string(::geteuid());
    const std::string strName = "/VelofonPocket.lock-" + strUser + "-";
    CEnvironmentOverride runtime("XDG_RUNTIME_DIR", m_dir.Path().c_str());
    const std::string strSocket = GetHandOverSocketPath(LockPath());
    EXPECT_EQ(strSocket.rfind(m_dir.Path() + strName, 0), 0u) << strSocket;
    EXPECT_EQ(GetHandOverSocketPath(LockPath("linked")), strSocket);
    EXPECT_NE(GetHandOverSocketPath(LockPath("other")), strSocket);
    EXPECT_EQ(GetHandOverSocketPath(LockPath("missing")), "");

    // Without an absolute runtime folder, the temporary one.
    const std::string strFile = fs::path(strSocket).filename().string();
    CEnvironmentOverride relativeRuntime("XDG_RUNTIME_DIR", "relative/dir");
    {
        CEnvironmentOverride temp("TMPDIR", m_dir.Path().c_str());
        EXPECT_EQ(GetHandOverSocketPath(LockPath()), strSocket);
    }
    CEnvironmentOverride noTemp("TMPDIR", nullptr);
    EXPECT_EQ(GetHandOverSocketPath(LockPath()), "/tmp/" + strFile);
}

// ---------------------------------------------------------------- windows

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

bool IsXvfbInstalled()
{
    const char* strPath = std::getenv("PATH");
    std::istringstream stream(strPath ? strPath : "");
    std::string strDir;
    while (std::getline(stream, strDir, ':')) {
        if (!strDir.empty() && ::access((strDir + "/Xvfb").c_str(), X_OK) == 0)
            return true;
    }
    return false;
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
        if (!IsXvfbInstalled())
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

// This process's children running the named program.
std::vector<pid_t> ChildrenNamed(const std::string& strName)
{
    std::vector<pid_t> anPids;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
        const std::string strPid = entry.path().filename().string();
        if (strPid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        // "pid (comm) state ppid ..."
        const std::string strStat = ReadWholeFile("/proc/" + strPid + "/stat");
        const size_t nClose = strStat.rfind(')');
        const size_t nOpen = strStat.find('(');
        if (nOpen == std::string::npos || nClose == std::string::npos || nClose < nOpen)
            continue;
        std::istringstream rest(strStat.substr(nClose + 1));
        std::string strState;
        pid_t nParent = 0;
        rest >> strState >> nParent;
        if (nParent == ::getpid() && strStat.substr(nOpen + 1, nClose - nOpen - 1) == strName)
            anPids.push_back(static_cast<pid_t>(std::stoi(strPid)));
    }
    return anPids;
}

TEST(DesktopXvfbTest, StartsAndStopsItsServerAndRestoresDisplay)
{
    if (!IsXvfbInstalled())
        GTEST_SKIP() << "Xvfb is not installed";
    CEnvironmentOverride display("DISPLAY", ":4242");
    pid_t nPid = -1;
    {
        CXvfbDisplay xvfb(320, 200);
        ASSERT_TRUE(xvfb.IsRunning());
        EXPECT_EQ(std::string(std::getenv("DISPLAY")), xvfb.Name());
        Display* pDisplay = XOpenDisplay(nullptr);
        ASSERT_NE(pDisplay, nullptr);
        EXPECT_EQ(DisplayWidth(pDisplay, DefaultScreen(pDisplay)), 320);
        EXPECT_EQ(DisplayHeight(pDisplay, DefaultScreen(pDisplay)), 200);
        XCloseDisplay(pDisplay);
        const std::vector<pid_t> anChildren = ChildrenNamed("Xvfb");
        ASSERT_EQ(anChildren.size(), 1u);
        nPid = anChildren[0];
    }
    EXPECT_STREQ(std::getenv("DISPLAY"), ":4242");
    EXPECT_TRUE(ChildrenNamed("Xvfb").empty());
    EXPECT_NE(::kill(nPid, 0), 0); // gone and reaped
    {
        CEnvironmentOverride noPath("PATH", "/nonexistent");
        CXvfbDisplay missing;
        EXPECT_FALSE(missing.IsRunning());
        EXPECT_STREQ(std::getenv("DISPLAY"), ":4242");
    }
}

// ---------------------------------------------------------------- the rest

TEST(DesktopTest, ModuleFileNameIsThisTestProgram)
{
    const std::string strPath = GetModuleFileName();
    ASSERT_FALSE(strPath.empty());
    EXPECT_EQ(strPath.front(), '/');
    const std::string strSuffix = "/desktop_tests";
    ASSERT_GE(strPath.size(), strSuffix.size());
    EXPECT_EQ(strPath.substr(strPath.size() - strSuffix.size()), strSuffix);
    EXPECT_EQ(fs::path(strPath), fs::canonical("/proc/self/exe"));
}

// True once no child of ours is left unreaped.
bool NoChildLeft(std::chrono::seconds timeout)
{
    const CClock::time_point deadline = CClock::now() + timeout;
    for (;;) {
        siginfo_t info {};
        // WNOWAIT: look only; reaping it here would hide a missing reaper.
        if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD)
            return true;
        if (CClock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A stand-in xdg-open in a folder of its own, first on PATH, that writes down
// the arguments it got.
class ShellOpenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.Path().empty());
        m_strGo = m_dir.Path() + "/go";
        m_strOut = m_dir.Path() + "/argument";
        m_strCount = m_dir.Path() + "/count";
        {
            // Waits for the test's go, so ShellOpen must have returned first.
            std::ofstream script(m_dir.Path() + "/xdg-open");
            script << "#!/bin/sh\n"
                   << "n=0\n"
                   << "while [ ! -e " << Quoted(m_strGo) << " ] && [ $n -lt 1000 ]; do sleep 0.01; n=$((n+1)); done\n"
                   << "printf '%s' \"$#\" > " << Quoted(m_strCount) << "\n"
                   << "printf '%s' \"$1\" > " << Quoted(m_strOut + ".part") << "\n"
                   << "mv " << Quoted(m_strOut + ".part") << " " << Quoted(m_strOut) << "\n";
        }
        ASSERT_EQ(::chmod((m_dir.Path() + "/xdg-open").c_str(), 0755), 0);
        const char* strOldPath = std::getenv("PATH");
        m_pPath = std::make_unique<CEnvironmentOverride>(
            "PATH", (m_dir.Path() + ":" + (strOldPath ? strOldPath : "/usr/bin:/bin")).c_str());
    }
    void TearDown() override { m_pPath.reset(); }

    // Opens strArgument and returns what the stand-in received.
    std::string Open(const std::string& strArgument)
    {
        fs::remove(m_strGo);
        fs::remove(m_strOut);
        fs::remove(m_strCount);
        const CClock::time_point start = CClock::now();
        EXPECT_TRUE(ShellOpen(strArgument));
        EXPECT_LT(CClock::now() - start, std::chrono::seconds(5));
        EXPECT_FALSE(fs::exists(m_strOut)); // not waited for
        { std::ofstream go(m_strGo); }
        EXPECT_TRUE(WaitForFile(m_strOut, std::chrono::seconds(10)));
        EXPECT_EQ(ReadWholeFile(m_strCount), "1");
        return ReadWholeFile(m_strOut);
    }

    // Shell single quotes around a path of ours (mkdtemp makes no quote).
    static std::string Quoted(const std::string& strPath) { return "'" + strPath + "'"; }

    CTempDir m_dir;
    std::string m_strGo;
    std::string m_strOut;
    std::string m_strCount;
    std::unique_ptr<CEnvironmentOverride> m_pPath;
};

TEST_F(ShellOpenTest, PassesTheArgumentUntouchedWithoutAShell)
{
    const std::string strPwned = m_dir.Path() + "/pwned";
    const std::string strArgument = "/music/My \"Best\" 'Hits' $HOME `id` $(touch " + strPwned
        + ") ; & | > * ?\nsecond line\\ \t end";
    EXPECT_EQ(Open(strArgument), strArgument);
    EXPECT_FALSE(fs::exists(strPwned));
    EXPECT_EQ(Open("https://example.org/a?b=1&c=$x#frag"), "https://example.org/a?b=1&c=$x#frag");
    EXPECT_TRUE(NoChildLeft(std::chrono::seconds(10)));
}

TEST_F(ShellOpenTest, ARelativePathWithALeadingDashIsNoOption)
{
    EXPECT_EQ(Open("--help"), "./--help");
    EXPECT_EQ(Open("-x y.wav"), "./-x y.wav");
    EXPECT_TRUE(NoChildLeft(std::chrono::seconds(10)));
}

TEST(DesktopTest, ShellOpenFailsWithoutXdgOpen)
{
    CTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    CEnvironmentOverride path("PATH", dir.Path().c_str());
    EXPECT_FALSE(ShellOpen("/music/a.wav"));
}

} // namespace
