// The soak of the player: hours of playback in simulated time, driven at
// random through the player's own commands (SoakTest.cpp), with its states,
// buffers, tones and sound checked all along (SoakChecks.cpp).
#pragma once

#include "PlayerFixture.h"
#include "SoakSupport.h"

#include "platform/events/TimeOfDay.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

constexpr uint64_t kDefaultSoakSeed = 20240611;
constexpr int64_t kDayMs = kMillisecondsPerDay;

// Checks the state in the middle of nested handling, and moves the clock and
// plays the user while the player waits between files.
class CTicker : public CMessageTarget {
public:
    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

struct SStats {
    uint64_t nSteps = 0;
    uint64_t nBuffers = 0;
    uint64_t nPartialPlays = 0;
    uint64_t nPlays = 0;
    uint64_t nPauses = 0;
    uint64_t nStops = 0;
    uint64_t nDoubleClicks = 0;
    uint64_t nSpeedPresses = 0;
    uint64_t nSpeedRestarts = 0;
    uint64_t nWaits = 0;
    uint64_t nStopsInWait = 0;
    uint64_t nTakeOvers = 0;
    uint64_t nNested = 0;
    uint64_t nBursts = 0;
    uint64_t nToneWraps = 0;
    uint64_t nStalls = 0;
    uint64_t nDevicesLost = 0;
};

class SoakTest : public PlayerFixture {
protected:
    void SetUp() override;
    void TearDown() override;
    std::unique_ptr<CPlaybackController> MakeController(CProfileStore& profile, IPlayerView& view) override;

public:
    // Called by the clock, the ticker and the controller.
    void OnClockRead();
    void OnTick();
    void BeforeNotification(WPARAM wParam, LPARAM lParam);

protected:
    std::string Where() const;

    // ---- driving ----

    void Advance(int64_t nMs);
    void PostTick();
    void Log(const char* strAction, int nArgument);
    void PrintRecent() const;

    // Only a control the user could click now is clicked.
    void Click(bool bUsable, EPlayerCommand eCommand, const char* strName, int nValue = 0);
    void ClickPlayOrPause();
    int RandomRow() { return static_cast<int>(m_random.Below(static_cast<uint32_t>(m_astrPlaylist.size()))); }
    void DoubleClick(int nRow);
    void PressSpeed();
    void MenuCommand();
    void ChangeWait();
    void Setting();

    // What a user could click at this moment, at random.
    void AnyClick();

    // Takes what the backend played since the last look: checks it against
    // what was written and moves the clock by its length.
    void TakePlayed();
    int PlayBuffers(int nCount);

    // Lets time pass without a notification, short of what the watchdog
    // takes for a stall while sound should be playing.
    void Quiet(int64_t nMs);

    // A suspend, or a device that stopped for a while: the next buffer comes
    // back late. Sometimes no device opens afterwards.
    void Suspend();

    void StepIdle(uint32_t r);
    void StepPaused(uint32_t r);
    void StepPlaying(uint32_t r);

    // Handles what the step queued, as far as it goes, and takes its sound.
    void Settle();
    void Step();

    // ---- checking ----

    bool EngineOpen() const { return m_pEngine->SoundFile().WaveFile().IsOpen(); }

    // A buffer is written only while a run plays from an open engine.
    void CheckWrite();

    // The one message the player shows by itself: that no device opens after
    // a stall, and only when none does.
    void CheckMessages();
    void CheckTone();

    // The controller's fields must form one of its states: Idle, Waiting
    // (nested in a notification only), Playing, Paused, or draining for a
    // restart. Settled means the queue is empty: nothing is handled halfway.
    void CheckState(bool bSettled);

    // ---- set-up ----

    void MakePlaylist();

    // Puts the tone counter a random stretch of sound before its maximum.
    void ArmToneWrap(uint32_t nMaxFrames);

    // ---- the uninterrupted stretch ----

    // Plays entry nEntry alone from start to end at the present speed with
    // the given levels, the tone counter passing its maximum on the way, and
    // returns the bytes the backend received.
    Bytes PlayWhole(int nEntry, int nMixing, int nAlpha, int32_t& nToneStart);
    // An engine at the player's speed and levels.
    std::unique_ptr<CSpeedEngine> FreshEngine() const;
    uint32_t FramesOf(const std::string& strPath) const;
    double Speed() const;
    void CheckUninterruptedPlayback();
    int RandomLongEntry();
    void PrintStats(const SResources& baseline, const SResources& end) const;
    int64_t Midnights() const { return (m_nStartMs + m_nSimulatedMs) / kDayMs; }

    uint64_t m_nSeed = EnvSeed(kDefaultSoakSeed);
    SStats m_stats;
    CBufferWatch m_watch{m_output, [this] { CheckWrite(); }};
    CTicker m_ticker;
    CRandom m_random{m_nSeed};
    std::vector<std::string> m_astrPlaylist;
    std::vector<int> m_anLongEntries;
    int64_t m_nStartMs = 0;
    int64_t m_nSimulatedMs = 0;
    int m_nTicksQueued = 0;
    bool m_bInWait = false;
    bool m_bStalling = false;
    bool m_bDeviceGone = false;
    size_t m_nSeen = 0;
    uint64_t m_nFrameMs = 0;
    double m_dPlayedSeconds = 0;
    int32_t m_nLastToneFrame = 0;
    bool m_bToneWrapped = false;
    Bytes* m_pStretch = nullptr;

    struct SAction {
        uint64_t nStep;
        const char* strAction;
        int nArgument;
    };
    static constexpr size_t kRecent = 40;
    SAction m_aRecent[kRecent] = {};
    size_t m_nRecent = 0;
};
