#include "RunningPlayer.h"

#include "../ChildProcess.h"
#include "../Screenshot.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr auto kPollInterval = milliseconds(20);

} // namespace

// ---- sounds ----

std::vector<double> Voice(uint32_t nRate, double dSeconds, double dPitch)
{
    const size_t nCount = static_cast<size_t>(dSeconds * nRate);
    std::vector<double> adVoice(nCount);
    double dPhase = 0;
    for (size_t i = 0; i < nCount; ++i) {
        const double dTime = static_cast<double>(i) / nRate;
        const double dPitchNow = dPitch * (1.0 + 0.2 * std::sin(2 * kPi * 0.7 * dTime));
        dPhase += 2 * kPi * dPitchNow / nRate;
        const double dHarmonics =
            0.55 * std::sin(dPhase) + 0.3 * std::sin(2 * dPhase + 0.4) + 0.15 * std::sin(5 * dPhase + 1.3);
        const double dSyllable = 0.6 + 0.4 * std::sin(2 * kPi * 4.0 * dTime + 0.5 * std::sin(dTime));
        adVoice[i] = dHarmonics * dSyllable;
    }
    return adVoice;
}

Bytes Mono16Wav(uint32_t nRate, double dSeconds, double dPitch)
{
    std::vector<int16_t> asSamples;
    for (double d : Voice(nRate, dSeconds, dPitch))
        asSamples.push_back(static_cast<int16_t>(std::lround(d * 14000)));
    return MakeWav(1, nRate, 2, Samples16(asSamples));
}

bool IsSilentFrame(const Bytes& ab, size_t nFrame)
{
    return std::all_of(ab.begin() + static_cast<long>(nFrame * kFrameBytes),
        ab.begin() + static_cast<long>((nFrame + 1) * kFrameBytes), [](uint8_t b) { return b == 0; });
}

Bytes WithoutSilentFrames(const Bytes& ab)
{
    Bytes abSound;
    for (size_t nFrame = 0; nFrame < ab.size() / kFrameBytes; ++nFrame) {
        if (!IsSilentFrame(ab, nFrame))
            abSound.insert(abSound.end(), ab.begin() + static_cast<long>(nFrame * kFrameBytes),
                ab.begin() + static_cast<long>((nFrame + 1) * kFrameBytes));
    }
    return abSound;
}

size_t SoundFrameCount(const Bytes& ab)
{
    size_t nCount = 0;
    for (size_t nFrame = 0; nFrame < ab.size() / kFrameBytes; ++nFrame)
        nCount += IsSilentFrame(ab, nFrame) ? 0 : 1;
    return nCount;
}

// ---- the X server ----

bool Xdotool(const std::string& strArgs)
{
    const std::string strCommand = "timeout 10 xdotool " + strArgs + " >/dev/null 2>&1";
    return std::system(strCommand.c_str()) == 0;
}

bool ClickInWindow(XWINDOW hWindow, int x, int y)
{
    return Xdotool("mousemove --window " + std::to_string(hWindow) + " " + std::to_string(x) + " " + std::to_string(y) +
        " click 1");
}

bool ClickOnScreen(int x, int y)
{
    return Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
}

XWINDOW FindWindowTitled(const std::string& strTitle)
{
    struct SSearch {
        const std::string* pstrTitle;
        XWINDOW hFound;
    } search {&strTitle, 0};
    EnumTopLevelWindows(
        [](XWINDOW hWnd, intptr_t lParam) {
            auto* pSearch = reinterpret_cast<SSearch*>(lParam);
            char strCaption[512];
            GetTopLevelWindowText(hWnd, strCaption, sizeof strCaption);
            if (*pSearch->pstrTitle == strCaption)
                pSearch->hFound = hWnd;
            return pSearch->hFound == 0;
        },
        reinterpret_cast<intptr_t>(&search));
    return search.hFound;
}

std::string TitleOf(XWINDOW hWindow)
{
    char strCaption[512] = "";
    GetTopLevelWindowText(hWindow, strCaption, sizeof strCaption);
    return strCaption;
}

// ---- the fixture ----

RunningPlayerFixture::RunningPlayerFixture(EWindowManager eWindowManager)
    : m_display(800, 600, eWindowManager)
{
}

RunningPlayerFixture::~RunningPlayerFixture()
{
    EndPlayer();
}

void RunningPlayerFixture::SetUp()
{
    ASSERT_TRUE(m_display.IsRunning()) << "Xvfb (or its window manager) could not be started";
    ::mkdir((m_dir.Path() + "/config").c_str(), 0700);
    ::mkdir(SettingsFolder().c_str(), 0700);
    ::mkdir((m_dir.Path() + "/runtime").c_str(), 0700);
}

void RunningPlayerFixture::TearDown()
{
    if (m_bEndsWithTheTest) {
        EXPECT_TRUE(PlayerRuns()) << "the player ended during the test" << Report();
    }
}

void RunningPlayerFixture::PrepareSettings(
    const std::vector<std::string>& astrPlayList, const std::map<std::string, std::string>& changes)
{
    std::map<std::string, std::string> settings {{"SpeedIdx", "10"}, {"Repeat", "0"}, {"MixingVolume", "50"},
        {"AlphaControl", "0"}, {"FileSelect", "1"}, {"WaitSec", "0"}};
    for (const auto& change : changes)
        settings[change.first] = change.second;
    settings["PlayListCount"] = std::to_string(astrPlayList.size());
    for (size_t i = 0; i < astrPlayList.size(); ++i) {
        char strKey[32];
        std::snprintf(strKey, sizeof strKey, "PlayFile%05zu", i);
        settings[strKey] = astrPlayList[i];
    }
    std::ofstream file(SettingsFile());
    file << "[VelofonSettings]\n";
    for (const auto& setting : settings)
        file << setting.first << "=" << setting.second << "\n";
}

std::vector<std::string> RunningPlayerFixture::PlayerEnvironment(const std::vector<std::string>& astrEnvironment) const
{
    // The test's own settings first: they count over these. No session bus:
    // without one, the bus library would start one on the test's display. Nor
    // the machine's system bus, where logind would keep it from idle suspend.
    std::vector<std::string> astrSettings = astrEnvironment;
    astrSettings.insert(astrSettings.end(), {"XDG_CONFIG_HOME=" + m_dir.Path() + "/config",
        "XDG_CACHE_HOME=" + m_dir.Path() + "/cache",
        "XDG_RUNTIME_DIR=" + m_dir.Path() + "/runtime", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + DeviceFile(),
        "VELOFON_SCALE=", "DBUS_SESSION_BUS_ADDRESS=unix:path=" + Path("no-session-bus"),
        "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + Path("no-system-bus")});
    return astrSettings;
}

pid_t RunningPlayerFixture::SpawnPlayer(const std::vector<std::string>& astrEnvironment,
    std::vector<std::string> astrArgs, const std::string& strWorkingFolder, const std::string& strLog) const
{
    astrArgs.insert(astrArgs.begin(), VELOFON_PLAYER_EXE);
    // The disk driver's warnings and any crash report go to a file that
    // failures show.
    return SpawnWithLog(std::move(astrArgs), PlayerEnvironment(astrEnvironment), strLog, strWorkingFolder);
}

void RunningPlayerFixture::StartPlayer(
    const std::vector<std::string>& astrEnvironment, const std::vector<std::string>& astrArgs)
{
    m_nPid = SpawnPlayer(astrEnvironment, astrArgs, "", Path("player.log"));
    ASSERT_GT(m_nPid, 0) << "cannot start " << VELOFON_PLAYER_EXE;
    m_bEndsWithTheTest = true;
    m_strEnd.clear();
    m_nExitStatus = -1;

    // Files given to open play at once.
    ASSERT_TRUE(WaitUntil(
        [this] {
            return (m_hWindow = FindWindowTitled("STOP-Kuroto")) || (m_hWindow = FindWindowTitled("PLAY-Kuroto"));
        },
        kUiTimeout))
        << "no window titled STOP-Kuroto or PLAY-Kuroto" << Report();
    // The painted form has the background picture's colour at its left edge,
    // at every scale.
    ASSERT_TRUE(WaitUntil(
        [this] {
            const SPicture picture = CaptureWindow(m_hWindow);
            return picture.nHeight > kCommandBarHeight + 100 && picture.Pixel(5, kCommandBarHeight + 100) == kFormColor;
        },
        kUiTimeout))
        << "the form was not painted" << Report();
}

int RunningPlayerFixture::RunSecondStart(
    const std::vector<std::string>& astrArgs, const std::string& strWorkingFolder, std::string& strOutput)
{
    const std::string strLog = Path("second-start.log");
    const pid_t nPid = SpawnPlayer({}, astrArgs, strWorkingFolder, strLog);
    if (nPid <= 0)
        return -1;
    int nStatus = 0;
    const auto deadline = Clock::now() + kUiTimeout;
    while (::waitpid(nPid, &nStatus, WNOHANG) != nPid) {
        if (Clock::now() > deadline) {
            ::kill(nPid, SIGKILL);
            ::waitpid(nPid, &nStatus, 0);
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    const Bytes abLog = ReadWholeFile(strLog);
    strOutput.assign(abLog.begin(), abLog.end());
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

bool RunningPlayerFixture::PlayerRuns()
{
    if (m_nPid <= 0)
        return false;
    int nStatus = 0;
    if (::waitpid(m_nPid, &nStatus, WNOHANG) != m_nPid)
        return true;
    m_nPid = -1;
    m_nExitStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    m_strEnd = WIFSIGNALED(nStatus) ? "the player was killed by signal " + std::to_string(WTERMSIG(nStatus))
                                    : "the player exited with status " + std::to_string(WEXITSTATUS(nStatus));
    return false;
}

void RunningPlayerFixture::EndPlayer()
{
    if (!PlayerRuns())
        return;
    ::kill(m_nPid, SIGTERM);
    if (!WaitForPlayerEnd(seconds(1))) {
        ::kill(m_nPid, SIGKILL);
        ::waitpid(m_nPid, nullptr, 0);
    }
    m_nPid = -1;
}

bool RunningPlayerFixture::WaitForPlayerEnd(milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (PlayerRuns()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

bool RunningPlayerFixture::WaitUntil(const std::function<bool()>& pfnDone, milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (pfnDone())
            return true;
        if (!PlayerRuns() || Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

std::string RunningPlayerFixture::Report()
{
    PlayerRuns();
    const Bytes abLog = ReadWholeFile(Path("player.log"));
    return "\n" + (m_strEnd.empty() ? std::string("the player runs") : m_strEnd) + "; its output:\n" +
        std::string(abLog.begin(), abLog.end());
}

bool RunningPlayerFixture::WaitForTitle(const std::string& strTitle, milliseconds timeout)
{
    return WaitUntil([&] { return Title() == strTitle; }, timeout);
}

std::map<std::string, std::string> RunningPlayerFixture::ReadSettings() const
{
    std::map<std::string, std::string> settings;
    std::ifstream file(SettingsFile());
    for (std::string strLine; std::getline(file, strLine);) {
        const size_t nEqual = strLine.find('=');
        if (nEqual != std::string::npos)
            settings[strLine.substr(0, nEqual)] = strLine.substr(nEqual + 1);
    }
    return settings;
}

std::string RunningPlayerFixture::Setting(const std::string& strKey) const
{
    const auto settings = ReadSettings();
    const auto found = settings.find(strKey);
    return found == settings.end() ? "(none)" : found->second;
}

bool RunningPlayerFixture::WaitForSetting(const std::string& strKey, const std::string& strValue)
{
    return WaitUntil([&] { return Setting(strKey) == strValue; }, kUiTimeout);
}

void RunningPlayerFixture::Click(const SRect& control)
{
    ASSERT_TRUE(ClickInWindow(m_hWindow, control.CenterX(), control.CenterY()));
}

void RunningPlayerFixture::WaitForDeviceGrowth(size_t nBytes)
{
    const size_t nFrom = ReadWholeFile(DeviceFile()).size();
    WaitUntil([&] { return ReadWholeFile(DeviceFile()).size() >= nFrom + nBytes; }, seconds(2));
}

bool RunningPlayerFixture::WaitForSound(size_t nFrames)
{
    return WaitUntil([&] { return SoundFrameCount(ReadWholeFile(DeviceFile())) >= nFrames; }, kUiTimeout);
}

bool RunningPlayerFixture::WaitForMoreSound(size_t nFrames, milliseconds timeout)
{
    size_t nLast = SoundFrameCount(ReadWholeFile(DeviceFile()));
    size_t nGained = 0;
    return WaitUntil(
        [&] {
            const size_t nNow = SoundFrameCount(ReadWholeFile(DeviceFile()));
            nGained += nNow >= nLast ? nNow - nLast : nNow; // fewer: the device started its file anew
            nLast = nNow;
            return nGained >= nFrames;
        },
        timeout);
}
