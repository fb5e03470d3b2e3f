// The real player as the end-to-end tests run it: on an X server of the
// test's own (with a window manager when the test asks for one), with a
// settings folder of its own and SDL's disk driver as its sound device, so
// that the very frames that reach the sound system land in a file. The
// player is ended by its pid when the test ends.
#pragma once

#include "../WavBytes.h"
#include "../XvfbDisplay.h"

#include <gtest/gtest.h>

#include "platform/desktop/Desktop.h"

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

using Clock = std::chrono::steady_clock;

// The sound system gets 16-bit stereo frames whatever the file holds.
constexpr size_t kFrameBytes = 4;

// Waits for the user interface; playing ends take the length of the sound.
constexpr auto kUiTimeout = std::chrono::seconds(10);
constexpr auto kPlayTimeout = std::chrono::seconds(20);

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

// The window at factor 1: the form lies below the command bar; its
// controls' places are those of the 320 x 188 form.
constexpr int kCommandBarHeight = 26;
constexpr int kFormWidth = 320;
constexpr int kFormHeight = 188;
constexpr SRect kPlayList {22, kCommandBarHeight + 25, 170, 144};
constexpr SRect kSpeedUpButton {271, kCommandBarHeight + 73, 42, 39};
constexpr SRect kPlayPauseButton {271, kCommandBarHeight + 130, 42, 39};
constexpr SRect kStopButton {230, kCommandBarHeight + 130, 42, 39};
// The form's face once it is painted (the colour of its background picture).
constexpr uint32_t kFormColor = 0xA59584;

// ---- sounds ----

// Speech-like sound: a gliding voice with a few harmonics, in syllables four
// times a second. It never falls silent for long, so that any long silence
// in the device's frames is the sound system's own (a pause, an end).
std::vector<double> Voice(uint32_t nRate, double dSeconds, double dPitch);
Bytes Mono16Wav(uint32_t nRate, double dSeconds, double dPitch);

bool IsSilentFrame(const Bytes& ab, size_t nFrame);
// Every frame that is not silent, in order: the sound with the sound
// system's silences (and the sound's own silent frames) left out.
Bytes WithoutSilentFrames(const Bytes& ab);
size_t SoundFrameCount(const Bytes& ab);

// ---- the X server ----

// Runs xdotool on the display of the test (DISPLAY is inherited); the time
// limit keeps a stuck call from hanging the test.
bool Xdotool(const std::string& strArgs);
bool ClickInWindow(XWINDOW hWindow, int x, int y);
bool ClickOnScreen(int x, int y);
XWINDOW FindWindowTitled(const std::string& strTitle);
std::string TitleOf(XWINDOW hWindow);

// ---- the fixture ----

class RunningPlayerFixture : public ::testing::Test {
protected:
    explicit RunningPlayerFixture(EWindowManager eWindowManager = EWindowManager::None);
    // The player goes with the test, also when the test fails half-way.
    ~RunningPlayerFixture() override;

    void SetUp() override;
    // A crash after the last wait of a test would go unnoticed otherwise.
    void TearDown() override;

    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }
    std::string SettingsFolder() const { return m_dir.Path() + "/config/VelofonPocket"; }
    std::string SettingsFile() const { return SettingsFolder() + "/VelofonPocket.conf"; }
    std::string DeviceFile() const { return Path("device.raw"); }

    // The settings the player starts with: the playlist, and SpeedIdx 10
    // (2.0x), Mixing 50, no Alpha, no repeat and no wait unless changed.
    void PrepareSettings(
        const std::vector<std::string>& astrPlayList, const std::map<std::string, std::string>& changes = {});
    // Starts the player with the prepared settings, the disk driver as its
    // sound device, the "NAME=value" settings and the arguments given, and
    // waits for its window's first paint.
    void StartPlayer(
        const std::vector<std::string>& astrEnvironment = {}, const std::vector<std::string>& astrArgs = {});
    // Runs the player once more with the arguments, in strWorkingFolder and
    // with the same settings as StartPlayer's, to its end (a few seconds at
    // most); its exit status (-1 after a signal or the time limit) and what
    // it wrote, in strOutput.
    int RunSecondStart(const std::vector<std::string>& astrArgs, const std::string& strWorkingFolder,
        std::string& strOutput);
    // False (and how in m_strEnd and m_nExitStatus) once the player has ended by itself.
    bool PlayerRuns();
    // SIGTERM first, as a session's end does; SIGKILL follows soon should the
    // player not go.
    void EndPlayer();
    bool WaitForPlayerEnd(std::chrono::milliseconds timeout);
    // Polls until pfnDone holds; false at the deadline or when the player has
    // ended, which no wait here expects.
    bool WaitUntil(const std::function<bool()>& pfnDone, std::chrono::milliseconds timeout);
    // What a failure message adds: how the player ended, and what it wrote.
    std::string Report();

    std::string Title() const { return TitleOf(m_hWindow); }
    bool WaitForTitle(const std::string& strTitle, std::chrono::milliseconds timeout = kUiTimeout);

    // The settings file as key=value lines; a replaced file is read whole.
    std::map<std::string, std::string> ReadSettings() const;
    std::string Setting(const std::string& strKey) const;
    // The player saves at once; the wait covers the write.
    bool WaitForSetting(const std::string& strKey, const std::string& strValue);

    void Click(const SRect& control);

    // Lets the device write nBytes more; a device that writes no more ends
    // the wait at a deadline (then there is nothing to wait for).
    void WaitForDeviceGrowth(size_t nBytes);
    // Waits until nFrames frames of sound have reached the device.
    bool WaitForSound(size_t nFrames);
    // Waits until nFrames more frames of sound reach the device, counting
    // across a reopened device, which starts its file anew.
    bool WaitForMoreSound(size_t nFrames, std::chrono::milliseconds timeout = kUiTimeout);

    // The environment of a started player: the test's own settings first.
    std::vector<std::string> PlayerEnvironment(const std::vector<std::string>& astrEnvironment) const;
    pid_t SpawnPlayer(const std::vector<std::string>& astrEnvironment, std::vector<std::string> astrArgs,
        const std::string& strWorkingFolder, const std::string& strLog) const;

    CXvfbDisplay m_display;
    CTempDir m_dir;
    pid_t m_nPid = -1;
    bool m_bEndsWithTheTest = false;
    XWINDOW m_hWindow = 0;
    std::string m_strEnd;
    // The player's exit status once it has exited, -1 while it runs or when a signal ended it.
    int m_nExitStatus = -1;
};
