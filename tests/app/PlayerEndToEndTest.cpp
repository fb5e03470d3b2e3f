// VelofonPocket driven as a user drives it, on an X server of the test's own:
// clicks on the form, in the menus and in the dialogs, the settings file that
// they change, and, through SDL's disk driver, the very frames that reach the
// sound system, compared with what velofon render makes of the same files.
// Every test starts a player of its own with a settings folder of its own
// and ends it by its pid.
#include "RunningPlayer.h"

#include "../Screenshot.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// The long file of the pause and stop tests: long enough that no wait of
// theirs reaches its end.
constexpr uint32_t kLongRate = 22050;
constexpr size_t kLongBytesPerSecond = kLongRate * kFrameBytes;

// ---- places ----

// The menus of the command bar, in order, with their number of items.
enum EMenu { MENU_EDIT, MENU_REPEAT, MENU_MIXING, MENU_ALPHA, MENU_HELP, MENU_COUNT };
constexpr int kMenuItemCounts[MENU_COUNT] = {2, 3, 11, 11, 4};
constexpr int kRepeatAllItem = 1;
constexpr int kMixing90Item = 1;
constexpr int kAlpha10Item = 8;
constexpr int kHelpSettingItem = 2;

// The settings dialog at factor 1 (ui/Layout.h): the pause choice and OK.
constexpr SRect kSettingWaitChoice {61, 41, 74, 20};
constexpr SRect kSettingOk {175, 0, 61, 24};
constexpr int kWaitChoiceCount = 11;
constexpr int kWaitChoice300Ms = 1;

// The question box at factor 1 (ui/Layout.h): はい and いいえ, 80 x 26 with 8
// between them, stand 12 from the right and the bottom edges.
constexpr int kYesFromRight = 12 + 80 + 8 + 80 / 2;
constexpr int kYesFromBottom = 12 + 26 / 2;

// ---- sounds ----

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

// ---- the test ----

class PlayerEndToEndTest : public RunningPlayerFixture {
protected:
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

TEST_F(PlayerEndToEndTest, StopPlaysNothingMoreAndClosesTheDevice)
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
    // Whatever the device had taken goes out; then the device is closed, and
    // not even silence reaches it.
    std::this_thread::sleep_for(seconds(1));
    const Bytes abPlayed = ReadWholeFile(DeviceFile());
    std::this_thread::sleep_for(seconds(1));
    EXPECT_EQ(ReadWholeFile(DeviceFile()).size(), abPlayed.size()) << "the device still takes frames after Stop";

    const Bytes abPlayedSound = WithoutOuterSilence(abPlayed);
    const Bytes abRendered = WithoutOuterSilence(Rendered("--speed-index 10 --mixing 50", strFile));
    EXPECT_LT(abPlayedSound.size(), abRendered.size()) << "Stop did not end the sound early";
    EXPECT_TRUE(IsPrefix(abPlayedSound, abRendered))
        << "the " << abPlayedSound.size() << " played bytes are not the start of the render, "
        << CommonPrefixBytes(abPlayedSound, abRendered) << " bytes are";
}

// The device's first period carries the file's first frames, not a period
// of silence filled before the first buffer was queued.
TEST_F(PlayerEndToEndTest, TheDeviceStartsWithTheFilesFirstFrame)
{
    const std::string strFile = m_dir.Write("lecture.wav", Mono16Wav(kLongRate, 2.0, 110));
    PrepareSettings({strFile});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());
    Click(kPlayPauseButton);
    ASSERT_TRUE(WaitForSound(kLongRate / 2)) << "no sound reached the device" << Report();
    const Bytes abPlayed = ReadWholeFile(DeviceFile());
    const Bytes abRendered = Rendered("--speed-index 10 --mixing 50", strFile);
    EXPECT_EQ(CommonPrefixBytes(abPlayed, abRendered), std::min(abPlayed.size(), abRendered.size()))
        << "the device's first bytes are not the render's";
}

// FFmpeg's libraries are mapped for a list that needs them, soon after the
// window is up and before any Play, and never for WAVs, even played.
TEST_F(PlayerEndToEndTest, FfmpegIsLoadedOnlyForAListThatNeedsIt)
{
    const auto MapsFfmpeg = [this] {
        const Bytes abMaps = ReadWholeFile("/proc/" + std::to_string(m_nPid) + "/maps");
        return std::string(abMaps.begin(), abMaps.end()).find("/libavcodec.so") != std::string::npos;
    };
    const std::string strWav = m_dir.Write("lecture.wav", Mono16Wav(kLongRate, 2.0, 110));
    PrepareSettings({strWav});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());
    Click(kPlayPauseButton);
    ASSERT_TRUE(WaitForSound(kLongRate / 2)) << "no sound reached the device" << Report();
    EXPECT_FALSE(MapsFfmpeg());
    EndPlayer();
    ASSERT_TRUE(WaitForPlayerEnd(seconds(5)));

    const std::string strMp3 = Path("lecture.mp3");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -i " + strWav + " " + strMp3).c_str()), 0);
    PrepareSettings({strMp3});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(WaitUntil(MapsFfmpeg, kUiTimeout)) << Report();
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

    // The device is closed between the files: its file holds the whole first
    // file and then stops growing, until the second file opens the device
    // and the file starts again. The time between the two shows the wait.
    Click(kPlayPauseButton);
    ASSERT_TRUE(WaitForTitle("PLAY-Kuroto")) << "now " << Title() << Report();
    bool bFirstPlayed = false;
    size_t nLastSize = 0;
    Clock::time_point lastGrowth;
    Clock::duration waited {};
    ASSERT_TRUE(WaitUntil(
        [&] {
            const Bytes abDevice = ReadWholeFile(DeviceFile());
            if (WithoutOuterSilence(abDevice) == abFirst) {
                bFirstPlayed = true;
                // A read that meets the next open's truncation sees less
                // than before: only growth counts.
                if (abDevice.size() > nLastSize)
                    lastGrowth = Clock::now();
                nLastSize = std::max(nLastSize, abDevice.size());
            } else if (bFirstPlayed && waited == Clock::duration {}) {
                waited = Clock::now() - lastGrowth;
            }
            return Title() == "STOP-Kuroto";
        },
        kPlayTimeout))
        << "now " << Title() << Report();
    EXPECT_TRUE(bFirstPlayed) << "the first file did not play whole";
    // 0.3 s; the device writes in periods of a few hundredths of a second.
    EXPECT_GE(waited, milliseconds(200)) << "no wait between the files";
    EXPECT_LT(waited, milliseconds(1000)) << "a wait much longer than 0.3 s";

    const Bytes abPlayed = PlayedSound(abSecond);
    EXPECT_TRUE(abPlayed == abSecond) << "played " << abPlayed.size() << " bytes, the second file's render "
                                      << abSecond.size();
    EXPECT_EQ(Setting("Repeat"), "0");
}

// ---- the sound device ----

// The disk driver writing to a full disk: the sound system stops the device
// at its first period and goes on taking sound, into nothing. Without a
// driver no device opens at all. Either way Play ends in a message box, and
// the window shows the player stopped.
TEST_F(PlayerEndToEndTest, ADeviceThatStopsOrDoesNotOpenEndsPlayWithAMessage)
{
    const std::string strFile = m_dir.Write("lecture.wav", Mono16Wav(kLongRate, 8.0, 110));
    for (const char* strEnvironment : {"SDL_DISKAUDIOFILE=/dev/full", "SDL_AUDIODRIVER=no-such-driver"}) {
        EndPlayer();
        PrepareSettings({strFile});
        StartPlayer({strEnvironment});
        ASSERT_FALSE(HasFatalFailure());
        Click(kPlayPauseButton);
        XWINDOW hBox = 0;
        EXPECT_TRUE(WaitUntil(
            [&] { return (hBox = FindWindowTitled("VelofonPocket")) != 0 && !ShownPlace(hBox).IsEmpty(); },
            kUiTimeout))
            << strEnvironment << ": no message box" << Report();
        EXPECT_EQ(Title(), "STOP-Kuroto") << strEnvironment;
    }
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
    ASSERT_TRUE(ClickInWindow(hDialog, kSettingWaitChoice.CenterX(), kSettingWaitChoice.CenterY()));
    SRect list;
    ASSERT_TRUE(WaitUntil([&list] { return !(list = FindOpenMenu()).IsEmpty(); }, kUiTimeout))
        << "the pause choice's list did not open" << Report();
    ASSERT_TRUE(ClickItem(list, kWaitChoice300Ms, kWaitChoiceCount));
    ASSERT_TRUE(WaitUntil([] { return FindOpenMenu().IsEmpty(); }, kUiTimeout));
    EXPECT_EQ(Setting("WaitSec"), "0") << "saved before OK";

    ASSERT_TRUE(ClickInWindow(hDialog, kSettingOk.CenterX(), kSettingOk.CenterY()));
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
    // As a shell reports a process that the signal ended, and as velofon does.
    EXPECT_EQ(m_nExitStatus, 128 + SIGTERM) << m_strEnd;
}

} // namespace
