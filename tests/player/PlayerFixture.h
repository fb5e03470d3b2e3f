// The player without its window, as its tests run it: the controller on a
// recording form, the scripted sound system, which plays a buffer only when
// told to, a clock of the test's own and a settings folder of the test's own.
#pragma once

#include "../WavBytes.h"
#include "ControllerProbe.h"
#include "FakePlayerView.h"

#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "ScriptedAudioBackend.h"
#include "platform/settings/ProfileStore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The time of day the player reads: each reading moves it on by nStepMs,
// wrapping at midnight, then runs onAlarm once when it has reached
// nAlarmMs, and onRead when one is set.
struct STestClock {
    static int nNowMs;
    static int nStepMs;
    static int nAlarmMs;
    static std::function<void()> onAlarm;
    static std::function<void()> onRead;
    static int Read();
    // The wall clock stands still until a test moves it.
    static int64_t nWallMs;
    static int64_t ReadWall() { return nWallMs; }
};

class PlayerFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // nFrames of a speech-like 16-bit signal, a different one per name.
    static Bytes Samples(const std::string& strName, size_t nFrames);
    // Writes a 16-bit mono sound at strPath (absolute, or under the test's
    // folder), with the folders it needs; returns its full path.
    std::string Sound(const std::string& strPath, size_t nSeconds = 1, uint32_t nRate = 8000);

    std::string SettingsPath() const;
    void WriteSettings(const std::string& strText);
    // A settings file with this playlist, then the further lines.
    void WritePlaylist(const std::vector<std::string>& astrPaths, const std::string& strMore = "");
    // A settings value as the file on disk holds it.
    int StoredInt(const std::string& strEntry) const;
    std::string StoredString(const std::string& strEntry) const;

    // Starts the player on the stored settings as the program does; one that
    // runs ends first, as in a restart.
    CPlaybackController& Start();
    // Starts it on a settings file with this playlist and the further lines.
    CPlaybackController& Start(const std::vector<std::string>& astrPlaylist, const std::string& strMore = "");
    void Close();
    virtual std::unique_ptr<CPlaybackController> MakeController(CProfileStore& profile, IPlayerView& view);

    CPlaybackController& Controller() { return *m_pController; }
    const CPlaybackController& Controller() const { return *m_pController; }
    CFakePlayerView& View() { return *m_pView; }
    int State() const { return CControllerProbe::PlayState(*m_pController); }
    int Current() const { return CControllerProbe::Current(*m_pController); }
    std::string Playing() const { return m_pView->m_strFileName; }
    void Select(const std::vector<int>& anRows) { m_pView->Select(anRows); }

    // Runs onAlarm at the first reading of the clock nMs from now.
    static void After(int nMs, std::function<void()> onAlarm);
    // The next notification comes later than the watchdog allows.
    void Stall() { STestClock::nNowMs += 1000 * (CControllerProbe::WatchdogSeconds(Controller()) + 1); }

    // Posts a command as the form does and handles everything that follows.
    void Post(EPlayerCommand eCommand, int nValue = 0);
    // Posts it without handling it yet.
    void Queue(EPlayerCommand eCommand, int nValue = 0) { m_pController->Post(eCommand, nValue); }
    // Handles every message waiting, nested ones included.
    static void Dispatch();
    // Lets the sound system finish one buffer and the player handle it;
    // false when none was queued.
    bool PlayOne();
    void Drain();
    // Plays until the sound system is opened again: the next file or a
    // restart. False when the sound ran out first.
    bool PlayUntilNextOpen();

    // What a fresh engine with the player's levels makes of a file, from
    // byte nPosition on.
    Bytes Render(const std::string& strPath, uint64_t nPosition = 0, double dSpeed = 2.0) const;
    // Everything that engine makes of a file from byte nPosition on.
    static Bytes RenderWith(CSpeedEngine& engine, const std::string& strPath, uint64_t nPosition, double dSpeed);
    // What the sound system played from byte nFrom of its record on.
    Bytes PlayedSince(size_t nFrom) const;

    std::unique_ptr<CTempDir> m_pDir;
    CScriptedAudioBackend m_sound;
    std::unique_ptr<CSpeedEngine> m_pEngine = std::make_unique<CSpeedEngine>(2.0);
    CWaveOutput m_output;

private:
    std::unique_ptr<CProfileStore> m_pProfile;
    std::unique_ptr<CFakePlayerView> m_pView;
    std::unique_ptr<CPlaybackController> m_pController;
};
