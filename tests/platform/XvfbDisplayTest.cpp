// The tests' own X server: started and stopped with its object, and DISPLAY
// put back.
#include "EnvironmentOverride.h"
#include "WavBytes.h"
#include "XvfbDisplay.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

// After gtest: Xlib's macros (None, Bool, Success) would break its templates.
#include <X11/Xlib.h>

namespace {

// This process's children running the named program.
std::vector<pid_t> ChildrenNamed(const std::string& strName)
{
    std::vector<pid_t> anPids;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string strPid = entry.path().filename().string();
        if (strPid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        // "pid (comm) state ppid ..."
        const Bytes abStat = ReadWholeFile("/proc/" + strPid + "/stat");
        const std::string strStat(abStat.begin(), abStat.end());
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
    if (!CXvfbDisplay::IsInstalled())
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


} // namespace
