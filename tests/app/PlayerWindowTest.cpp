// VelofonPocket as a user starts it, on an X server of the test's own: the
// window with its title and colours, and a second start that finds it.
#include "../ChildEnvironment.h"
#include "../Screenshot.h"
#include "../WavBytes.h"
#include "../XvfbDisplay.h"

#include <gtest/gtest.h>

#include "common/Version.h"
#include "platform/desktop/Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>


namespace {

using Clock = std::chrono::steady_clock;

struct SFound {
    XWINDOW hWindow = 0;
    int nCount = 0;
};

SFound FindPlayerWindows()
{
    SFound found;
    EnumTopLevelWindows(
        [](XWINDOW hWnd, intptr_t lParam) {
            char strCaption[512];
            GetTopLevelWindowText(hWnd, strCaption, sizeof strCaption);
            auto* pFound = reinterpret_cast<SFound*>(lParam);
            if (std::strcmp(strCaption, "STOP-Kuroto") == 0) {
                pFound->hWindow = hWnd;
                ++pFound->nCount;
            }
            return true;
        },
        reinterpret_cast<intptr_t>(&found));
    return found;
}

class PlayerWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_display.IsRunning()) << "Xvfb could not be started";
        const std::string strFolder = m_dir.Path() + "/config/VelofonPocket";
        ::mkdir((m_dir.Path() + "/config").c_str(), 0700);
        ::mkdir(strFolder.c_str(), 0700);
        ::mkdir((m_dir.Path() + "/runtime").c_str(), 0700);
        std::ofstream(strFolder + "/VelofonPocket.conf")
            << "[VelofonSettings]\nSpeedIdx=5\nPlayListCount=2\nPlayFile00000=/talks/first.wav\n"
               "PlayFile00001=/talks/二つ目.wav\n";
    }

    void TearDown() override
    {
        for (pid_t nPid : m_anPids) {
            if (nPid <= 0)
                continue; // never kill(-1): that signals every process we may signal
            ::kill(nPid, SIGTERM);
            ::waitpid(nPid, nullptr, 0);
        }
    }

    // strCommand is run by a shell whose PATH is strPath, as typed in a terminal.
    pid_t StartPlayer(const std::string& strCommand = VELOFON_PLAYER_EXE, const std::string& strPath = "/usr/bin:/bin")
    {
        CChildEnvironment environment({"XDG_CONFIG_HOME=" + m_dir.Path() + "/config",
                                       "XDG_RUNTIME_DIR=" + m_dir.Path() + "/runtime", "PATH=" + strPath});
        std::string strShell = "/bin/sh";
        std::string strOption = "-c";
        std::string strLine = "exec " + strCommand;
        char* apArgs[] = {strShell.data(), strOption.data(), strLine.data(), nullptr};
        pid_t nPid = -1;
        EXPECT_EQ(posix_spawn(&nPid, strShell.c_str(), nullptr, nullptr, apArgs, environment.Get()), 0);
        return nPid;
    }

    // The player's window once it shows, or 0 after the timeout.
    XWINDOW WaitForWindow()
    {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < deadline) {
            if (const XWINDOW hWindow = FindPlayerWindows().hWindow)
                return hWindow;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    }

    CXvfbDisplay m_display {800, 600};
    CTempDir m_dir;
    std::vector<pid_t> m_anPids;
};

TEST_F(PlayerWindowTest, ThePlayerShowsItsFormAndASecondStartBringsItToTheFront)
{
    const pid_t nFirst = StartPlayer();
    m_anPids.push_back(nFirst);
    const XWINDOW hWindow = WaitForWindow();
    ASSERT_NE(hWindow, 0u) << "no window titled STOP-Kuroto";
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the first paint

    const SPicture picture = CaptureWindow(hWindow);
    ASSERT_GE(picture.nWidth, 320);
    ASSERT_GE(picture.nHeight, 188);
    // The form and its painted controls share the background picture's
    // dominant colour; the white list box at (22, 25) of the form is left out.
    const int nFormTop = picture.nHeight - 188;
    EXPECT_EQ(picture.DominantColor(22, nFormTop + 25, 170, 144), 0xA59584u);
    EXPECT_EQ(picture.Pixel(5, nFormTop + 100), 0xA59584u);
    WritePng(VELOFON_SCREENSHOT_DIR "/player.png", picture);
    WritePng(VELOFON_SCREENSHOT_DIR "/player-2x.png", picture, 2);

    Display* pDisplay = XOpenDisplay(nullptr);
    ASSERT_NE(pDisplay, nullptr);
    // The desktop shows the player's own icon: width, height, then the pixels.
    Atom nType = None;
    int nFormat = 0;
    unsigned long nItems = 0;
    unsigned long nAfter = 0;
    unsigned char* pIcon = nullptr;
    XGetWindowProperty(pDisplay, hWindow, XInternAtom(pDisplay, "_NET_WM_ICON", False), 0, 1 << 20, False,
                       XA_CARDINAL, &nType, &nFormat, &nItems, &nAfter, &pIcon);
    ASSERT_NE(pIcon, nullptr) << "no window icon";
    const auto* pnIcon = reinterpret_cast<const unsigned long*>(pIcon);
    EXPECT_EQ(nItems, 2 + pnIcon[0] * pnIcon[1]);
    EXPECT_EQ(pnIcon[0], 256u);
    XFree(pIcon);
    // The desktop entry's StartupWMClass names this class.
    XClassHint classHint {};
    ASSERT_NE(XGetClassHint(pDisplay, hWindow, &classHint), 0);
    EXPECT_STREQ(classHint.res_class, "VelofonPocket");
    XFree(classHint.res_name);
    XFree(classHint.res_class);

    // Something else takes the focus; the second start gives it back.
    XSetInputFocus(pDisplay, PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(pDisplay, False);

    const pid_t nSecond = StartPlayer();
    int nStatus = 0;
    ASSERT_EQ(::waitpid(nSecond, &nStatus, 0), nSecond);
    ASSERT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 0) << "a second start without files ends as it did its work";
    EXPECT_EQ(FindPlayerWindows().nCount, 1) << "the second start must not open a window";

    Window hFocus = 0;
    int nRevert = 0;
    XGetInputFocus(pDisplay, &hFocus, &nRevert);
    EXPECT_EQ(hFocus, hWindow);
    XCloseDisplay(pDisplay);

    // The first player still runs.
    EXPECT_EQ(::waitpid(nFirst, &nStatus, WNOHANG), 0);
}

// The exit status of a command run to its end, or -1.
int RunToEnd(std::vector<std::string> astrArgs)
{
    std::vector<char*> apArgs = ArgumentPointers(astrArgs);
    pid_t nPid = -1;
    if (posix_spawnp(&nPid, apArgs[0], nullptr, nullptr, apArgs.data(), environ) != 0)
        return -1;
    int nStatus = 0;
    ::waitpid(nPid, &nStatus, 0);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

bool Exists(const std::string& strPath)
{
    struct stat status {};
    return ::lstat(strPath.c_str(), &status) == 0;
}

TEST_F(PlayerWindowTest, TheInstalledPlayerStartsByItsNameAndUninstallsWithoutATrace)
{
    // cmake --install records what it installed in the build folder; the
    // user's own record of a real install must survive this test.
    const std::string strManifest = VELOFON_BUILD_DIR "/install_manifest.txt";
    const bool bHadManifest = Exists(strManifest);
    const Bytes abUserManifest = bHadManifest ? ReadWholeFile(strManifest) : Bytes();
    const std::string strPrefix = m_dir.Path() + "/prefix";
    ASSERT_EQ(RunToEnd({VELOFON_CMAKE, "--install", VELOFON_BUILD_DIR, "--prefix", strPrefix}), 0);
    const std::string strOurManifest = m_dir.Write("manifest.txt", ReadWholeFile(strManifest));
    if (bHadManifest)
        std::ofstream(strManifest, std::ios::binary)
            .write(reinterpret_cast<const char*>(abUserManifest.data()), abUserManifest.size());
    else
        ::unlink(strManifest.c_str());

    const std::string strFolder = strPrefix + "/lib/VelofonPocket";
    EXPECT_TRUE(Exists(strFolder + "/help.html"));
    EXPECT_TRUE(Exists(strPrefix + "/bin/velofon"));
    // Both programs find the decoder module in the player's folder.
    const std::string strVersion = m_dir.Path() + "/version.txt";
    ASSERT_EQ(std::system((strPrefix + "/bin/velofon --version >" + strVersion).c_str()), 0);
    const Bytes abVersion = ReadWholeFile(strVersion);
    EXPECT_NE(std::string(abVersion.begin(), abVersion.end()).find("decoder module: " + strFolder + "/velofon-decoder.so\n"),
        std::string::npos);
    char strLink[256] = {};
    ASSERT_GT(::readlink((strPrefix + "/bin/VelofonPocket").c_str(), strLink, sizeof strLink - 1), 0);
    EXPECT_STREQ(strLink, "../lib/VelofonPocket/VelofonPocket");
    for (const char* strSize : {"48x48", "256x256"})
        EXPECT_TRUE(Exists(strPrefix + "/share/icons/hicolor/" + strSize + "/apps/velofonpocket.png")) << strSize;
    const Bytes abEntry = ReadWholeFile(strPrefix + "/share/applications/" + kDesktopId + ".desktop");
    const std::string strEntry(abEntry.begin(), abEntry.end());
    EXPECT_NE(strEntry.find("\nExec=" + strPrefix + "/bin/VelofonPocket %F\n"), std::string::npos) << strEntry;
    EXPECT_NE(strEntry.find(";audio/mpeg;"), std::string::npos) << strEntry;
    EXPECT_NE(strEntry.find("\nIcon=velofonpocket\n"), std::string::npos) << strEntry;

    // Started by its name, as from a terminal with the prefix on the path.
    m_anPids.push_back(StartPlayer("VelofonPocket", strPrefix + "/bin:/usr/bin:/bin"));
    EXPECT_NE(WaitForWindow(), 0u) << "the installed player shows no window";

    ASSERT_EQ(RunToEnd({VELOFON_CMAKE, "-DMANIFEST=" + strOurManifest, "-P", VELOFON_SOURCE_DIR "/packaging/Uninstall.cmake"}), 0);
    for (const std::string& strLeft : std::initializer_list<std::string>{"/bin/VelofonPocket", "/bin/velofon",
             "/lib/VelofonPocket", "/share/applications/" + std::string(kDesktopId) + ".desktop",
             "/share/icons/hicolor/48x48/apps/velofonpocket.png"})
        EXPECT_FALSE(Exists(strPrefix + strLeft)) << strLeft << " is still there";
}

} // namespace
