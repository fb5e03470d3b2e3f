// Reaches the playback controller's private state, for the tests that check
// its states and put it into those that are hard to reach by commands.
#pragma once

#include "player/PlaybackController.h"

#include <cstdint>
#include <string>

class CControllerProbe {
public:
    static int PlayState(const CPlaybackController& c) { return c.IsPlaying() ? PS_RUNNING : PS_IDLE; }
    static int Current(const CPlaybackController& c) { return c.m_nCurrent; }
    static int Pending(const CPlaybackController& c) { return c.m_pending.nNextEntry; }
    static bool ResumeRequest(const CPlaybackController& c) { return c.m_pending.Is(CPlaybackController::EPending::Restart); }
    static void DropResumeRequest(CPlaybackController& c) { c.m_pending.eKind = CPlaybackController::EPending::None; }
    static uint64_t& ResumePos(CPlaybackController& c) { return c.m_pending.nWhere; }
    // Where a jump (or a stalled output) restarts the current entry.
    static uint64_t JumpFrame(const CPlaybackController& c) { return c.m_pending.nWhere; }
    static int& SpeedHoldoff(CPlaybackController& c) { return c.m_nSpeedHoldoff; }
    static bool Waiting(const CPlaybackController& c) { return c.m_ePhase == CPlaybackController::ERunPhase::Waiting; }
    static int WaitMs(const CPlaybackController& c) { return c.m_nWaitMs; }
    static int FileSelect(const CPlaybackController& c) { return c.m_nFileSelect; }
    // The second of the day of the last notification, and the stall after
    // which the next one counts as late.
    static int LastNotificationSecond(const CPlaybackController& c) { return c.m_nOldSec2; }
    static int WatchdogSeconds(const CPlaybackController& c) { return c.WatchdogSeconds(); }
    // An entry added as the add command does it, without its filter.
    static void Add(CPlaybackController& c, const std::string& strPath) { c.AddToPlayList(strPath); }
};
