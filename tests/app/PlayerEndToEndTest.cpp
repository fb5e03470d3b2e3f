// VelofonPocket driven as a user drives it, on an X server of the test's own:
// clicks on the form, in the menus and in the dialogs, the settings file that
// they change, and, through SDL's disk driver, the very frames that reach the
// sound system, compared with what velofon render makes of the same files.
// Every test starts a player of its own with a settings folder of its own
// and ends it by its pid.
#include "../ChildEnvironment.h"
#include "../Screenshot.h"
#include "../WavBytes.h"
#include "../XvfbDisplay.h"

#include <gtest/gtest.h>

#include "platform/desktop/Desktop.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>


namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr double kPi = 3.14159265358979323846;

// The sound system gets 16-bit stereo frames whatever the file holds.
constexpr size_t kFrameBytes = 4;

// Waits for the user interface; playing ends take the length of the sound.
constexpr auto kUiTimeout = seconds(10);
constexpr auto kPlayTimeout = seconds(20);
constexpr auto kPollInterval = milliseconds(20);

// The long file of the pause and stop tests: long enough that no wait of
// theirs reaches its end.
constexpr uint32_t kLongRate = 22050;
constexpr size_t kLongBytesPerSecond = kLongRate * kFrameBytes;

// ---- places ----

struct SRect {
    int nX = 0;
    int nY = 0;
    int nWidth = 0;
    int nHeight = 0;

    int CenterX() const { return nX + nWidth / 2; }
    int CenterY() const { return nY + nHeight / 2; }
    bool IsEmpty() const { return nWidth <= 0 || nHeight <= 0; }
};

// The form lies below the command bar; its controls' places are those of
// player/FormLayout.cpp for the 320 x 188 client area.
constexpr int kCommandBarHeight = 26;
constexpr SRect kSpeedUpButton {271, kCommandBarHeight + 73, 42, 39};
constexpr SRect kPlayPauseButton {271, kCommandBarHeight + 130, 42, 39};
constexpr SRect kStopButton {230, kCommandBarHeight + 130, 42, 39};
// The form's face once it is painted (the colour of its background picture).
constexpr uint32_t kFormColor = 0xA59584;

// The menus of the command bar, in order, with their number of items.
enum EMenu { MENU_EDIT, MENU_REPEAT, MENU_MIXING, MENU_ALPHA, MENU_HELP, MENU_COUNT };
constexpr int kMenuItemCounts[MENU_COUNT] = {2, 3, 11, 11, 4};
constexpr int kRepeatAllItem = 1;
constexpr int kMixing90Item = 1;
constexpr int kAlpha10Item = 8;
constexpr int kHelpSettingItem = 2;

// The settings dialog's template in dialog units (app/DialogResources.cpp):
// its size, the combo box and OK. Its pixel places follow from the size of
// its window, which fixes the base units of the font it was made with.
constexpr SRect kSettingDialogUnits {0, 0, 139, 55};
constexpr SRect kSettingComboUnits {35, 25, 42, 12};
constexpr SRect kSettingOkUnits {100, 0, 35, 15};
constexpr int kWaitChoiceCount = 11;
constexpr int kWaitChoice300Ms = 1;

// The question box of platform/DocView.cpp: はい is 80 x 28, 190 pixels
// from the right and 40 from the bottom.
constexpr int kYesFromRight = 190 - 80 / 2;
constexpr int kYesFromBottom = 40 - 28 / 2;

// ---- sounds ----

// Speech-like sound: a gliding voice with a few harmonics, in syllables four
// times a second. It never falls silent for long, so that any long silence
// in the device's frames is the sound system's own (a pause, an end).
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

Bytes Stereo8Wav(uint32_t nRate, double dSeconds, double dPitch)
{
    Bytes abData;
    for (double d : Voice(nRate, dSeconds, dPitch)) {
        abData.push_back(static_cast<uint8_t>(128 + std::lround(d * 100)));
        abData.push_back(static_cast<uint8_t>(128 + std::lround(d * 70)));
    }
    return MakeWav(2, nRate, 2, abData);
}

// ---- frames ----

bool IsSilentFrame(const Bytes& ab, size_t nFrame)
{
    return std::all_of(ab.begin() + static_cast<long>(nFrame * kFrameBytes),
        ab.begin() + static_cast<long>((nFrame + 1) * kFrameBytes), [](uint8_t b) { return b == 0; });
}

// The frames between the first and the last that are not silent: the sound
// system plays silence before the first buffer and after the last.
Bytes WithoutOuterSilence(const Bytes& ab)
{
    const size_t nFrames = ab.size() / kFrameBytes;
    size_t nFirst = 0;
    while (nFirst < nFrames && IsSilentFrame(ab, nFirst))
        ++nFirst;
    size_t nEnd = nFrames;
    while (nEnd > nFirst && IsSilentFrame(ab, nEnd - 1))
        --nEnd;
    return Bytes(
        ab.begin() + static_cast<long>(nFirst * kFrameBytes), ab.begin() + static_cast<long>(nEnd * kFrameBytes));
}

// Every frame that is not silent, in order: the sound with the sound
// system's silences (and the sound's own silent frames) left out.
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

// The frames before the first run of at least nMinFrames silent frames.
Bytes BeforeFirstSilence(const Bytes& ab, size_t nMinFrames)
{
    const size_t nFrames = ab.size() / kFrameBytes;
    size_t nRun = 0;
    for (size_t nFrame = 0; nFrame < nFrames; ++nFrame) {
        nRun = IsSilentFrame(ab, nFrame) ? nRun + 1 : 0;
        if (nRun == nMinFrames)
            return Bytes(ab.begin(), ab.begin() + static_cast<long>((nFrame + 1 - nRun) * kFrameBytes));
    }
    return ab;
}

size_t SoundFrameCount(const Bytes& ab)
{
    return WithoutSilentFrames(ab).size() / kFrameBytes;
}

size_t CommonPrefixBytes(const Bytes& abOne, const Bytes& abOther)
{
    const size_t nLength = std::min(abOne.size(), abOther.size());
    return static_cast<size_t>(
        std::mismatch(abOne.begin(), abOne.begin() + static_cast<long>(nLength), abOther.begin()).first -
        abOne.begin());
}

bool IsPrefix(const Bytes& abPart, const Bytes& abWhole)
{
    return abPart.size() <= abWhole.size() && std::equal(abPart.begin(), abPart.end(), abWhole.begin());
}

// ---- the X server ----

// Runs xdotool on the display of the test (DISPLAY is inherited); the time
// limit keeps a stuck call from hanging the test.
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

int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

// Runs pfnVisit on every window that is a child of the root, with its place.
// A menu may go away between the listing and the look at it; that error is
// no reason to end the test program.
void ForEachRootChild(const std::function<void(Window, const XWindowAttributes&)>& pfnVisit)
{
    Display* pDisplay = XOpenDisplay(nullptr);
    if (!pDisplay)
        return;
    const auto pfnOldHandler = XSetErrorHandler(IgnoreXError);
    Window hRoot = 0;
    Window hParent = 0;
    Window* ahChildren = nullptr;
    unsigned nChildren = 0;
    if (XQueryTree(pDisplay, DefaultRootWindow(pDisplay), &hRoot, &hParent, &ahChildren, &nChildren)) {
        for (unsigned i = 0; i < nChildren; ++i) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(pDisplay, ahChildren[i], &attributes))
                pfnVisit(ahChildren[i], attributes);
        }
        XFree(ahChildren);
    }
    XSync(pDisplay, False);
    XSetErrorHandler(pfnOldHandler);
    XCloseDisplay(pDisplay);
}

// The open drop-down, in screen coordinates, or an empty place. The
// toolkit's menus are override-redirect windows of their own; a menu of the
// bar comes with a small one for its caption, so the list is the tallest.
SRect FindOpenMenu()
{
    SRect menu;
    ForEachRootChild([&menu](Window, const XWindowAttributes& attributes) {
        if (attributes.override_redirect && attributes.map_state == IsViewable && attributes.height > menu.nHeight)
            menu = SRect {attributes.x, attributes.y, attributes.width, attributes.height};
    });
    return menu;
}

// The window's place on the screen when it shows, else an empty place.
SRect ShownPlace(XWINDOW hWindow)
{
    SRect place;
    ForEachRootChild([&place, hWindow](Window hChild, const XWindowAttributes& attributes) {
        if (hChild == hWindow && attributes.map_state == IsViewable)
            place = SRect {attributes.x, attributes.y, attributes.width, attributes.height};
    });
    return place;
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

// The pixels of a rectangle of a picture, row by row.
Bytes Crop(const SPicture& picture, const SRect& rect)
{
    Bytes ab;
    for (int y = rect.nY; y < rect.nY + rect.nHeight && y < picture.nHeight; ++y) {
        for (int x = rect.nX; x < rect.nX + rect.nWidth && x < picture.nWidth; ++x) {
            const size_t nAt =
                (static_cast<size_t>(y) * static_cast<size_t>(picture.nWidth) + static_cast<size_t>(x)) * 3;
            ab.insert(ab.end(), picture.abRgb.begin() + static_cast<long>(nAt),
                picture.abRgb.begin() + static_cast<long>(nAt + 3));
        }
    }
    return ab;
}

// The horizontal middles of the command bar's captions in a picture of the
// window: dark letters on the bar's light face. Letters of one caption lie
// a few pixels apart, captions more than a letter's width.
std::vector<int> MenuCaptionCenters(const SPicture& picture)
{
    constexpr int kCaptionGap = 8;
    constexpr int kEdge = 4; // the bar's frame
    auto isLetterColumn = [&picture](int x) {
        for (int y = kEdge; y < kCommandBarHeight - kEdge; ++y) {
            const uint32_t nColor = picture.Pixel(x, y);
            if ((nColor >> 16 & 0xFF) < 0x80 && (nColor >> 8 & 0xFF) < 0x80 && (nColor & 0xFF) < 0x80)
                return true;
        }
        return false;
    };
    std::vector<int> anCenters;
    int nFirst = -1;
    int nLast = -1;
    for (int x = kEdge; x < picture.nWidth - kEdge; ++x) {
        if (!isLetterColumn(x))
            continue;
        if (nFirst >= 0 && x - nLast > kCaptionGap) {
            anCenters.push_back((nFirst + nLast) / 2);
            nFirst = -1;
        }
        if (nFirst < 0)
            nFirst = x;
        nLast = x;
    }
    if (nFirst >= 0)
        anCenters.push_back((nFirst + nLast) / 2);
    return anCenters;
}

// The pixel count of nUnits dialog units for the window size nPixels of a
// template nTemplateUnits long, as platform/Dialog.h converts: the base unit
// that gives that window size.
int UnitsToPixels(int nUnits, int nTemplateUnits, int nPixels, int nDivisor)
{
    for (int nBase = 1; nBase < 100; ++nBase) {
        if ((nTemplateUnits * nBase + nDivisor / 2) / nDivisor == nPixels)
            return (nUnits * nBase + nDivisor / 2) / nDivisor;
    }
    return -1;
}

SRect DialogUnitsToPixels(const SRect& units, const SRect& dialogPlace)
{
    return SRect {UnitsToPixels(units.nX, kSettingDialogUnits.nWidth, dialogPlace.nWidth, 4),
        UnitsToPixels(units.nY, kSettingDialogUnits.nHeight, dialogPlace.nHeight, 8),
        UnitsToPixels(units.nWidth, kSettingDialogUnits.nWidth, dialogPlace.nWidth, 4),
        UnitsToPixels(units.nHeight, kSettingDialogUnits.nHeight, dialogPlace.nHeight, 8)};
}

// ---- the test ----

class PlayerEndToEndTest : public ::testing::Test {
protected:
    // The player goes with the test, also when the test fails half-way.
    ~PlayerEndToEndTest() override { EndPlayer(); }

    void SetUp() override
    {
        ASSERT_TRUE(m_display.IsRunning()) << "Xvfb could not be started";
        ::mkdir((m_dir.Path() + "/config").c_str(), 0700);
        ::mkdir(SettingsFolder().c_str(), 0700);
        ::mkdir((m_dir.Path() + "/runtime").c_str(), 0700);
    }

    // A crash after the last wait of a test would go unnoticed otherwise.
    void TearDown() override
    {
        if (m_bEndsWithTheTest) {
            EXPECT_TRUE(PlayerRuns()) << "the player ended during the test" << Report();
        }
    }

    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }
    std::string SettingsFolder() const { return m_dir.Path() + "/config/VelofonPocket"; }
    std::string SettingsFile() const { return SettingsFolder() + "/VelofonPocket.conf"; }
    std::string DeviceFile() const { return Path("device.raw"); }

    // The settings the player starts with: the playlist, and SpeedIdx 10
    // (2.0x), Mixing 50, no Alpha, no repeat and no wait unless changed.
    void PrepareSettings(
        const std::vector<std::string>& astrPlayList, const std::map<std::string, std::string>& changes = {})
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

    // Starts the player with the prepared settings and the disk driver as
    // its sound device, and waits for its window's first paint.
    void StartPlayer()
    {
        CChildEnvironment environment({"XDG_CONFIG_HOME=" + m_dir.Path() + "/config",
            "XDG_RUNTIME_DIR=" + m_dir.Path() + "/runtime", "SDL_AUDIODRIVER=disk",
            "SDL_DISKAUDIOFILE=" + DeviceFile()});
        std::string strExe = VELOFON_PLAYER_EXE;
        char* apArgs[] = {strExe.data(), nullptr};
        // The disk driver's warnings and any crash report go to a file that
        // failures show.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(
            &actions, STDOUT_FILENO, Path("player.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        const int nError = posix_spawn(&m_nPid, strExe.c_str(), &actions, nullptr, apArgs, environment.Get());
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_EQ(nError, 0) << "cannot start " << strExe;
        m_bEndsWithTheTest = true;

        ASSERT_TRUE(WaitUntil([this] { return (m_hWindow = FindWindowTitled("STOP-Kuroto")) != 0; }, kUiTimeout))
            << "no window titled STOP-Kuroto" << Report();
        // The painted form has the background picture's colour at its left edge.
        ASSERT_TRUE(WaitUntil(
            [this] {
                const SPicture picture = CaptureWindow(m_hWindow);
                return picture.nHeight > kCommandBarHeight + 100 &&
                    picture.Pixel(5, kCommandBarHeight + 100) == kFormColor;
            },
            kUiTimeout))
            << "the form was not painted" << Report();
    }

    // False (and how in m_strEnd) once the player has ended by itself.
    bool PlayerRuns()
    {
        if (m_nPid <= 0)
            return false;
        int nStatus = 0;
        if (::waitpid(m_nPid, &nStatus, WNOHANG) != m_nPid)
            return true;
        m_nPid = -1;
        m_strEnd = WIFSIGNALED(nStatus) ? "the player was killed by signal " + std::to_string(WTERMSIG(nStatus))
                                        : "the player exited with status " + std::to_string(WEXITSTATUS(nStatus));
        return false;
    }

    // SIGTERM first, as a session's end does; SIGKILL follows soon should the
    // player not go (a failure that TheSessionsEndRequest... reports).
    void EndPlayer()
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

    bool WaitForPlayerEnd(std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (PlayerRuns()) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(kPollInterval);
        }
        return true;
    }

    // Polls until pfnDone holds; false at the deadline or when the player has
    // ended, which no wait here expects.
    bool WaitUntil(const std::function<bool()>& pfnDone, std::chrono::milliseconds timeout)
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

    // What a failure message adds: how the player ended, and what it wrote.
    std::string Report()
    {
        PlayerRuns();
        const Bytes abLog = ReadWholeFile(Path("player.log"));
        return "\n" + (m_strEnd.empty() ? std::string("the player runs") : m_strEnd) + "; its output:\n" +
            std::string(abLog.begin(), abLog.end());
    }

    std::string Title() const { return TitleOf(m_hWindow); }

    bool WaitForTitle(const std::string& strTitle, std::chrono::milliseconds timeout = kUiTimeout)
    {
        return WaitUntil([&] { return Title() == strTitle; }, timeout);
    }

    // The settings file as key=value lines; a replaced file is read whole.
    std::map<std::string, std::string> ReadSettings() const
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

    std::string Setting(const std::string& strKey) const
    {
        const auto settings = ReadSettings();
        const auto found = settings.find(strKey);
        return found == settings.end() ? "(none)" : found->second;
    }

    // The player saves at once; the wait covers the write.
    bool WaitForSetting(const std::string& strKey, const std::string& strValue)
    {
        return WaitUntil([&] { return Setting(strKey) == strValue; }, kUiTimeout);
    }

    void Click(const SRect& control) { ASSERT_TRUE(ClickInWindow(m_hWindow, control.CenterX(), control.CenterY())); }

    Bytes StopButtonLook() const { return Crop(CaptureWindow(m_hWindow), kStopButton); }

    // Opens a menu of the command bar by a click on its caption; the menu's
    // list on the screen.
    SRect OpenMenu(EMenu eMenu)
    {
        if (m_anCaptionCenters.empty())
            m_anCaptionCenters = MenuCaptionCenters(CaptureWindow(m_hWindow));
        EXPECT_EQ(m_anCaptionCenters.size(), static_cast<size_t>(MENU_COUNT)) << "the captions of the command bar";
        if (m_anCaptionCenters.size() != static_cast<size_t>(MENU_COUNT))
            return SRect();
        // A menu that is still closing would be taken for the new one.
        EXPECT_TRUE(WaitUntil([] { return FindOpenMenu().IsEmpty(); }, kUiTimeout));
        EXPECT_TRUE(ClickInWindow(m_hWindow, m_anCaptionCenters[eMenu], kCommandBarHeight / 2));
        SRect menu;
        EXPECT_TRUE(WaitUntil([&menu] { return !(menu = FindOpenMenu()).IsEmpty(); }, kUiTimeout))
            << "menu " << eMenu << " did not open" << Report();
        return menu;
    }

    // Clicks item nItem of nItems in an open list; the items share its height
    // (up to a few pixels of frame).
    static bool ClickItem(const SRect& menu, int nItem, int nItems)
    {
        return ClickOnScreen(menu.CenterX(), menu.nY + (2 * nItem + 1) * menu.nHeight / (2 * nItems));
    }

    void ChooseMenuItem(EMenu eMenu, int nItem)
    {
        const SRect menu = OpenMenu(eMenu);
        ASSERT_FALSE(menu.IsEmpty());
        ASSERT_TRUE(ClickItem(menu, nItem, kMenuItemCounts[eMenu]));
    }

    // Plays to the end: PLAY first, then STOP again.
    void PlayAndWaitForTheEnd()
    {
        Click(kPlayPauseButton);
        ASSERT_TRUE(WaitForTitle("PLAY-Kuroto")) << "now " << Title() << Report();
        ASSERT_TRUE(WaitForTitle("STOP-Kuroto", kPlayTimeout)) << "now " << Title() << Report();
    }

    // The device's frames once they equal abExpected (the last frames may
    // still be on their way to the file), else as they are at the deadline.
    Bytes PlayedSound(const Bytes& abExpected)
    {
        Bytes abPlayed;
        WaitUntil(
            [&] { return (abPlayed = WithoutOuterSilence(ReadWholeFile(DeviceFile()))) == abExpected; }, seconds(3));
        return abPlayed;
    }

    // velofon render's raw frames of one file.
    Bytes Rendered(const std::string& strOptions, const std::string& strFile)
    {
        const std::string strOut = Path("rendered.raw");
        const std::string strCommand = std::string(VELOFON_EXE) + " render --raw " + strOptions + " -o '" + strOut +
            "' '" + strFile + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(strCommand.c_str()), 0) << strCommand;
        return ReadWholeFile(strOut);
    }

    // Lets the device write nBytes more; a device that writes no more ends
    // the wait at a deadline (then there is nothing to wait for).
    void WaitForDeviceGrowth(size_t nBytes)
    {
        const size_t nFrom = ReadWholeFile(DeviceFile()).size();
        WaitUntil([&] { return ReadWholeFile(DeviceFile()).size() >= nFrom + nBytes; }, seconds(2));
    }

    // Waits until nFrames frames of sound have reached the device.
    bool WaitForSound(size_t nFrames)
    {
        return WaitUntil([&] { return SoundFrameCount(ReadWholeFile(DeviceFile())) >= nFrames; }, kUiTimeout);
    }

    CXvfbDisplay m_display {800, 600};
    CTempDir m_dir;
    pid_t m_nPid = -1;
    bool m_bEndsWithTheTest = false;
    XWINDOW m_hWindow = 0;
    std::string m_strEnd;
    std::vector<int> m_anCaptionCenters;
};

// ---- playing ----

TEST_F(PlayerEndToEndTest, ADoubleTapOnABitmapButtonCountsAsTwoClicks)
{
    PrepareSettings({});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());

    // Both taps within the double-click time: the second one arrives as a
    // double-click, which the button turns into a press of its own.
    ASSERT_TRUE(Xdotool("mousemove --window " + std::to_string(m_hWindow) + " " +
                        std::to_string(kSpeedUpButton.CenterX()) + " " + std::to_string(kSpeedUpButton.CenterY()) +
                        " click --repeat 2 --delay 80 1"));
    EXPECT_TRUE(WaitForSetting("SpeedIdx", "12")) << Setting("SpeedIdx") << Report();
}

TEST_F(PlayerEndToEndTest, SpeedUpTwiceSavesTheSpeedAndPlaysTheFileAtItWithoutAGap)
{
    const std::string strFile = m_dir.Write("talk.wav", Mono16Wav(22050, 2.5, 130));
    PrepareSettings({strFile});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());

    Click(kSpeedUpButton);
    ASSERT_TRUE(WaitForSetting("SpeedIdx", "11")) << Setting("SpeedIdx") << Report();
    Click(kSpeedUpButton);
    ASSERT_TRUE(WaitForSetting("SpeedIdx", "12")) << Setting("SpeedIdx") << Report();

    PlayAndWaitForTheEnd();
    ASSERT_FALSE(HasFatalFailure());

    const Bytes abRendered = WithoutOuterSilence(Rendered("--speed-index 12 --mixing 50", strFile));
    ASSERT_GT(abRendered.size(), 22050u * kFrameBytes / 2) << "the render is too short to tell anything";
    const Bytes abPlayed = PlayedSound(abRendered);
    EXPECT_TRUE(abPlayed == abRendered) << "played " << abPlayed.size() << " bytes, rendered " << abRendered.size();
}

TEST_F(PlayerEndToEndTest, PauseHoldsTheSoundPlayGoesOnWhereItPausedAndStopLooksDisabledAfterwards)
{
    const std::string strFile = m_dir.Write("lecture.wav", Mono16Wav(kLongRate, 8.0, 110));
    PrepareSettings({strFile});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());
    const Bytes abStopDisabled = StopButtonLook();

    // Playing: Stop is enabled and sound reaches the device.
    Click(kPlayPauseButton);
    ASSERT_TRUE(WaitForTitle("PLAY-Kuroto")) << "now " << Title() << Report();
    EXPECT_TRUE(WaitUntil([&] { return StopButtonLook() != abStopDisabled; }, kUiTimeout))
        << "Stop does not look enabled while playing";
    ASSERT_TRUE(WaitForSound(kLongRate / 2)) << "no sound reached the device" << Report();

    // Paused: the device goes on with silence only.
    Click(kPlayPauseButton);
    ASSERT_TRUE(WaitForTitle("PAUSE-Kuroto")) << "now " << Title() << Report();
    // The buffer that the device had taken before still goes out.
    WaitForDeviceGrowth(kLongBytesPerSecond / 10);
    const size_t nSoundAtPause = SoundFrameCount(ReadWholeFile(DeviceFile()));
    WaitForDeviceGrowth(kLongBytesPerSecond * 3 / 10);
    EXPECT_EQ(SoundFrameCount(ReadWholeFile(DeviceFile())), nSoundAtPause) << "sound went on during the pause";

    // Playing again from where it paused.
    Click(kPlayPauseButton);
    ASSERT_TRUE(WaitForTitle("PLAY-Kuroto")) << "now " << Title() << Report();
    ASSERT_TRUE(WaitForSound(nSoundAtPause + kLongRate / 4)) << "no sound after the pause" << Report();
    const Bytes abPlayed = ReadWholeFile(DeviceFile());

    // Stopped: the title, and Stop's look as before Play.
    Click(kStopButton);
    ASSERT_TRUE(WaitForTitle("STOP-Kuroto")) << "now " << Title() << Report();
    EXPECT_TRUE(WaitUntil([&] { return StopButtonLook() == abStopDisabled; }, kUiTimeout))
        << "Stop does not look disabled after Stop";

    // What played before Stop is the start of the render: before the pause
    // exactly, and as a whole once the silences are left out.
    const Bytes abRendered = Rendered("--speed-index 10 --mixing 50", strFile);
    const Bytes abBeforePause = BeforeFirstSilence(WithoutOuterSilence(abPlayed), kLongRate / 20);
    EXPECT_GE(abBeforePause.size(), kLongBytesPerSecond / 4) << "a gap early in the sound";
    EXPECT_TRUE(IsPrefix(abBeforePause, WithoutOuterSilence(abRendered)))
        << "the " << abBeforePause.size() << " bytes before the pause differ from the render's start";
    const Bytes abPlayedSound = WithoutSilentFrames(abPlayed);
    EXPECT_GT(abPlayedSound.size(), abBeforePause.size()) << "nothing played after the pause";
    EXPECT_TRUE(IsPrefix(abPlayedSound, WithoutSilentFrames(abRendered)))
        << "the " << abPlayedSound.size() << " bytes played by then are not the start of the render";
}

TEST_F(PlayerEndToEndTest, StopPlaysNothingMore)
{
    const std::string strFile = m_dir.Write("lecture.wav", Mono16Wav(kLongRate, 8.0, 110));
    PrepareSettings({strFile});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());

    Click(kPlayPauseButton);
    ASSERT_TRUE(WaitForTitle("PLAY-Kuroto")) << "now " << Title() << Report();
    ASSERT_TRUE(WaitForSound(kLongRate / 2)) << "no sound reached the device" << Report();
    Click(kStopButton);
    ASSERT_TRUE(WaitForTitle("STOP-Kuroto")) << "now " << Title() << Report();
    // Whatever the device had taken goes out; after that only silence.
    WaitForDeviceGrowth(kLongBytesPerSecond / 2);
    const Bytes abPlayed = ReadWholeFile(DeviceFile());
    WaitForDeviceGrowth(kLongBytesPerSecond * 3 / 10);
    EXPECT_EQ(SoundFrameCount(ReadWholeFile(DeviceFile())), SoundFrameCount(abPlayed)) << "sound went on after Stop";

    const Bytes abPlayedSound = WithoutOuterSilence(abPlayed);
    const Bytes abRendered = WithoutOuterSilence(Rendered("--speed-index 10 --mixing 50", strFile));
    EXPECT_LT(abPlayedSound.size(), abRendered.size()) << "Stop did not end the sound early";
    EXPECT_TRUE(IsPrefix(abPlayedSound, abRendered))
        << "the " << abPlayedSound.size() << " played bytes are not the start of the render, "
        << CommonPrefixBytes(abPlayedSound, abRendered) << " bytes are";
}

TEST_F(PlayerEndToEndTest, WithoutRepeatBothFilesPlayOnceWithTheWaitBetween)
{
    const std::string strFirst = m_dir.Write("first.wav", Mono16Wav(22050, 1.5, 150));
    const std::string strSecond = m_dir.Write("second.wav", Stereo8Wav(11025, 1.5, 100));
    PrepareSettings({strFirst, strSecond}, {{"Repeat", "0"}, {"WaitSec", "300"}});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());
    const Bytes abFirst = WithoutOuterSilence(Rendered("--speed-index 10 --mixing 50", strFirst));
    const Bytes abSecond = WithoutOuterSilence(Rendered("--speed-index 10 --mixing 50", strSecond));
    ASSERT_NE(abFirst, abSecond);

    // The device's file starts again when the second file opens the device.
    // Until then it holds the whole first file, followed by the silence of
    // the wait: the longest such silence seen shows the wait.
    Click(kPlayPauseButton);
    ASSERT_TRUE(WaitForTitle("PLAY-Kuroto")) << "now " << Title() << Report();
    size_t nLongestWaitFrames = 0;
    bool bFirstPlayed = false;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const Bytes abDevice = ReadWholeFile(DeviceFile());
            const Bytes abSound = WithoutOuterSilence(abDevice);
            if (abSound == abFirst) {
                bFirstPlayed = true;
                size_t nSilent = 0;
                while (nSilent < abDevice.size() / kFrameBytes &&
                    IsSilentFrame(abDevice, abDevice.size() / kFrameBytes - 1 - nSilent))
                    ++nSilent;
                nLongestWaitFrames = std::max(nLongestWaitFrames, nSilent);
            }
            return Title() == "STOP-Kuroto";
        },
        kPlayTimeout))
        << "now " << Title() << Report();
    EXPECT_TRUE(bFirstPlayed) << "the first file did not play whole";
    // 0.3 s at the first file's 22050 Hz; the polls may miss its last 0.1 s.
    EXPECT_GE(nLongestWaitFrames, 22050u / 5) << "no wait between the files";
    EXPECT_LT(nLongestWaitFrames, 22050u) << "a wait much longer than 0.3 s";

    const Bytes abPlayed = PlayedSound(abSecond);
    EXPECT_TRUE(abPlayed == abSecond) << "played " << abPlayed.size() << " bytes, the second file's render "
                                      << abSecond.size();
    EXPECT_EQ(Setting("Repeat"), "0");
}

// ---- menus and dialogs ----

TEST_F(PlayerEndToEndTest, RepeatAndMixingMenusSaveTheChosenItem)
{
    PrepareSettings({});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());

    ChooseMenuItem(MENU_REPEAT, kRepeatAllItem);
    EXPECT_TRUE(WaitForSetting("Repeat", "1")) << Setting("Repeat") << Report();

    ChooseMenuItem(MENU_MIXING, kMixing90Item);
    EXPECT_TRUE(WaitForSetting("MixingVolume", "90")) << Setting("MixingVolume") << Report();
}

TEST_F(PlayerEndToEndTest, AlphaAsksFirstAndYesTurnsItOn)
{
    PrepareSettings({});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());

    ChooseMenuItem(MENU_ALPHA, kAlpha10Item);
    XWINDOW hQuestion = 0;
    ASSERT_TRUE(WaitUntil(
        [&] { return (hQuestion = FindWindowTitled("VelofonPocket")) != 0 && !ShownPlace(hQuestion).IsEmpty(); },
        kUiTimeout))
        << "no question box" << Report();
    EXPECT_EQ(Setting("AlphaControl"), "0") << "saved before the answer";

    const SRect question = ShownPlace(hQuestion);
    ASSERT_TRUE(ClickInWindow(hQuestion, question.nWidth - kYesFromRight, question.nHeight - kYesFromBottom));
    EXPECT_TRUE(WaitForSetting("AlphaControl", "10")) << Setting("AlphaControl") << Report();
    EXPECT_TRUE(WaitUntil([&] { return ShownPlace(hQuestion).IsEmpty(); }, kUiTimeout)) << "the box stays open";
}

TEST_F(PlayerEndToEndTest, TheSettingsDialogSavesTheChosenWait)
{
    PrepareSettings({});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());

    ChooseMenuItem(MENU_HELP, kHelpSettingItem);
    XWINDOW hDialog = 0;
    ASSERT_TRUE(WaitUntil(
        [&] { return (hDialog = FindWindowTitled("設定")) != 0 && !ShownPlace(hDialog).IsEmpty(); }, kUiTimeout))
        << "no settings dialog" << Report();
    const SRect dialog = ShownPlace(hDialog);
    const SRect combo = DialogUnitsToPixels(kSettingComboUnits, dialog);
    const SRect ok = DialogUnitsToPixels(kSettingOkUnits, dialog);
    ASSERT_GT(combo.nWidth, 0) << "the dialog's size " << dialog.nWidth << " x " << dialog.nHeight
                               << " fits no base units";

    ASSERT_TRUE(ClickInWindow(hDialog, combo.CenterX(), combo.CenterY()));
    SRect list;
    ASSERT_TRUE(WaitUntil([&list] { return !(list = FindOpenMenu()).IsEmpty(); }, kUiTimeout))
        << "the combo box's list did not open" << Report();
    ASSERT_TRUE(ClickItem(list, kWaitChoice300Ms, kWaitChoiceCount));
    ASSERT_TRUE(WaitUntil([] { return FindOpenMenu().IsEmpty(); }, kUiTimeout));
    EXPECT_EQ(Setting("WaitSec"), "0") << "saved before OK";

    ASSERT_TRUE(ClickInWindow(hDialog, ok.CenterX(), ok.CenterY()));
    EXPECT_TRUE(WaitForSetting("WaitSec", "300")) << Setting("WaitSec") << Report();
    EXPECT_TRUE(WaitUntil([&] { return ShownPlace(hDialog).IsEmpty(); }, kUiTimeout)) << "the dialog stays open";
}

// ---- ending ----

TEST_F(PlayerEndToEndTest, TheSessionsEndRequestEndsThePlayerAlsoAfterItHasPlayed)
{
    const std::string strFile = m_dir.Write("short.wav", Mono16Wav(22050, 1.5, 140));
    PrepareSettings({strFile});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());
    PlayAndWaitForTheEnd();
    ASSERT_FALSE(HasFatalFailure());

    m_bEndsWithTheTest = false;
    ::kill(m_nPid, SIGTERM);
    EXPECT_TRUE(WaitForPlayerEnd(seconds(3))) << "the player still runs 3 s after SIGTERM";
}

} // namespace
