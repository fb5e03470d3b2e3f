// CPlaybackController: the player without its window. It owns the playlist
// and the settings (loaded once at start, saved whole at each change) and
// runs playback: Play, Pause, Stop, the double-click in the playlist, the
// speed steps and every buffer-done notification of the output.
//
// It runs on the user-interface thread only, but re-enters itself: handling a
// notification and the wait between files pump the event queue, one event
// per pump, so any command can run nested inside OnWomDone. The form never
// calls a command directly; it posts it (Post), and the queue runs it.
#pragma once

#include "PlayList.h"
#include "PlayerView.h"

#include "engine/SpeedSteps.h"
#include "platform/events/MessageQueue.h"

#include <cstdint>
#include <string>

class CProfileStore;
class CSpeedEngine;
class CWaveOutput;
class CControllerProbe;

constexpr int PS_RUNNING = 0;
constexpr int PS_IDLE = 1;

constexpr int REPEAT_NONE = 0;
constexpr int REPEAT_ALL = 1;
constexpr int REPEAT_ONE = 2;

extern const char kSettingsSection[];
extern const char kTimeZero[];
// A space and a full stop 28 times, then a space: the stopped player's file name.
extern const char kStoppedFileName[];
// The question asked before the Alpha tones are first switched on.
extern const char kAlphaQuestion[];
// The word after the play state in the window title: "PLAY-Kuroto".
extern const char kCaptionWord[];
// Said when the sound device stalled and cannot be opened again.
extern const char kDeviceLostMessage[];

// The profile entry of playlist entry nIndex: "PlayFile%05d".
std::string PlayFileEntryName(int nIndex);

// The commands the form posts; some carry a value.
enum class EPlayerCommand : unsigned {
    Play,          // also Pause: the two share the button's place
    Stop,
    PlaySelected,  // the double-click in the playlist, Return
    SpeedUp,
    SpeedDown,
    SelectAll,     // the bar beside the list: all on or all off
    AddFiles,      // "追加"
    DeleteSelected,
    PreviousEntry,
    NextEntry,
    SetRepeat,     // value: REPEAT_*
    SetMixing,     // value: percent
    SetAlpha,      // value: percent
    Settings,      // "設定"
};

// The message that carries a command: wParam is the EPlayerCommand, lParam its value.
constexpr UINT WM_PLAYER_COMMAND = 0x8001;

class CPlaybackController : public CMessageTarget {
public:
    CPlaybackController(CSpeedEngine& engine, CWaveOutput& output, CProfileStore& profile, IPlayerView& view);

    // Loads the settings and the playlist and shows them: once, at start.
    void Start();
    void LoadSettings();
    void SaveSettings();

    // Queues a command for the next pump (or the loop).
    void Post(EPlayerCommand eCommand, int nValue = 0);
    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // ---- what the form shows and its menus check ----
    bool IsPlaying() const { return m_nPlayState == PS_RUNNING; }
    bool IsPaused() const;
    int GetRepeat() const { return m_nRepeat; }
    int GetMixingVolume() const { return m_nMixingVolume; }
    int GetAlphaControl() const { return m_nAlphaControl; }
    int GetSpeedIndex() const { return m_nSpeedIdx; }
    const CPlayList& GetPlayList() const { return m_PlayList; }

    // ---- commands ----
    void OnPlay();
    void OnStop();
    void OnDblclkPlayList();
    void OnSpeedDown();
    void OnSpeedUp();
    void OnSelectAll();
    void OnListAdd();
    void OnListDelete();
    void OnStepEntry(int nDelta);
    void OnRepeat(int nRepeat);
    void OnMixing(int nLevel);
    void OnAlpha(int nLevel);
    void OnSetting();
    void OnWomDone(WPARAM wParam, LPARAM lParam);

private:
    friend class CControllerProbe;

    // ---- the steps of a buffer notification ----
    // True when the output stalled: no notification for longer than the
    // watchdog allows while playing.
    bool CheckWatchdog();
    // Resets a stalled output: the drained run restarts from what was heard
    // on a reopened device, or stops when none opens.
    void RestartStalledOutput();
    void ShowPosition();
    // The ring drained: restarts at a new speed, starts the chosen entry,
    // waits, or goes on to the next entry.
    void OnRunEnded();

    bool StartFile(const std::string& strPath, uint64_t nPosition, bool bSpeedRestart);
    std::string NextFile();
    std::string CurrentFile() const;
    bool PlayNext();
    // Everything back to idle: the output and the engine closed, the display
    // reset when asked.
    void ResetToIdle(bool bResetDisplay);
    // The end of a run: idle with the display reset, nothing current.
    void EndRun();
    void SyncListSelection();
    void UpdateCaption();
    void UpdateStopButton();
    // True when Stop ended the wait.
    bool WaitBetweenFiles();
    void RequestSpeedRestart();
    // Resumes a paused output and has every buffer back at once, none refilled.
    void CutOffOutput();
    int FirstSelectedRow() const;
    void ChangeSpeed(int nDelta);
    void AddToPlayList(const std::string& strPath);
    // True when the Alpha tones may be switched on (asks when they are off).
    bool ConfirmAlpha();
    // The seconds between two notifications after which the output counts as stalled.
    int WatchdogSeconds() const;
    // The frame of the file that is being heard: what the engine has read,
    // less what the output still holds.
    uint64_t HeardPosition() const;

    CSpeedEngine& m_engine;
    CWaveOutput& m_output;
    CProfileStore& m_profile;
    IPlayerView& m_view;

    CPlayList m_PlayList;

    // Settings.
    int m_nSpeedIdx = kDefaultSpeedIndex;
    int m_nRepeat = REPEAT_NONE;
    int m_nMixingVolume = kDefaultMixing;
    int m_nAlphaControl = 0;
    int m_nFileSelect = 1;
    int m_nWaitSec = 0;

    // Playback.
    int m_nPlayState = PS_IDLE;
    int m_nCurrent = -1;
    int m_nPending = -1;
    bool m_bResumeRequest = false;
    uint64_t m_nResumePos = 0;
    // The frame the current run started at, for the heard position.
    uint64_t m_nRunStartFrame = 0;
    // The last start opened its file but no sound device.
    bool m_bOutputFailed = false;
    // The run was cut off because the output stalled; it restarts on a
    // reopened device.
    bool m_bDeviceRestart = false;
    int m_nSpeedHoldoff = 0;
    int m_nLastShownSec = 0;
    int m_nOldSec2 = 0;
    bool m_bPlayWaitFlag = false;
    bool m_bStopWait = false;
    // A double-click started an entry during the wait; the wait then ends
    // and starts nothing itself.
    bool m_bWaitTakenOver = false;
};
