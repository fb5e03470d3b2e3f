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

#include "Messages.h"
#include "PlayList.h"
#include "PlayerProfile.h"
#include "PlayerView.h"
#include "ResumePlaces.h"

#include "decoder/DecodedFile.h"
#include "engine/SpeedSteps.h"
#include "platform/events/MessageQueue.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CProfileStore;
class CSettingsFile;
class CSpeedEngine;
class CWaveOutput;
class CControllerProbe;

// The play state as the form has always told it: a file runs (plays or is
// paused) or none does.
constexpr int PS_RUNNING = 0;
constexpr int PS_IDLE = 1;

extern const char kTimeZero[];
// A space and a full stop 28 times, then a space: the stopped player's file name.
extern const char kStoppedFileName[];

// How often the program posts Tick while it runs.
constexpr int kPlayerTickMs = 500;

// "HH:MM:SS", as the elapsed time shows it (at most UINT32_MAX seconds).
std::string FormatElapsed(uint64_t nSeconds);
// "-H:MM:SS", as the time left shows it.
std::string FormatTimeLeft(uint64_t nSeconds);

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
    SeekBy,        // value: seconds, negative for back; clamped to the file
    SeekTo,        // value: frame of the file's own time
    OpenQueued,    // the paths handed over with QueueOpen: appended, the first played
    Resume,        // plays when stopped or paused; nothing while playing
    Pause,         // pauses while playing; nothing otherwise
    SetSpeedIndex, // value: the speed step
    Tick,          // every kPlayerTickMs: finds a device that has gone silent
    SetClearSpeech, // value: 1 on, 0 off
    SetSkipSilence, // value: 1 on, 0 off
    ShowSelected,   // the selection changed: while stopped, the time shows its place
    SetSleepTimer,  // value: minutes to add, or SLEEP_OFF, SLEEP_CHAPTER_END, SLEEP_FILE_END
    ToggleTimeDisplay, // the elapsed time, what is left of the file, of the chapter
    NextChapter,
    PreviousChapter, // the start of the chapter, or the one before within its first seconds
    SeekToChapter,  // value: the chapter's index
};

// The sleep timer's choices besides minutes of listening.
constexpr int SLEEP_OFF = 0;
constexpr int SLEEP_CHAPTER_END = -1;
constexpr int SLEEP_FILE_END = -2;
// A timer of minutes fades the sound out over its last seconds.
constexpr int kSleepFadeSeconds = 15;

// What the time shows: TIME_CHAPTER_LEFT falls back to the file's in a file
// without chapters.
constexpr int TIME_ELAPSED = 0;
constexpr int TIME_FILE_LEFT = 1;
constexpr int TIME_CHAPTER_LEFT = 2;

// What outside controls (the desktop's media controls) follow: called on the
// user-interface thread after every command and notification that changed
// anything, and after every jump within a file.
class IPlayerObserver {
public:
    virtual ~IPlayerObserver() = default;
    virtual void OnPlayerChanged() = 0;
    virtual void OnSeeked(uint64_t nFrame) = 0;
};

// The message that carries a command: wParam is the EPlayerCommand, lParam its value.
constexpr UINT WM_PLAYER_COMMAND = 0x8001;

class CPlaybackController : public CMessageTarget {
public:
    CPlaybackController(CSpeedEngine& engine, CWaveOutput& output, CProfileStore& profile, IPlayerView& view);

    // Loads the settings and the playlist and shows them: once, at start,
    // with a message for damaged files and for files this session cannot save.
    void Start();
    void LoadSettings();
    // A save that fails is told once, and again only after one succeeded;
    // the next change tries again.
    void SaveSettings();

    // Queues a command for the next pump (or the loop).
    void Post(EPlayerCommand eCommand, int64_t nValue = 0);
    // Files to append and play, for OpenQueued: a command line, a drop, a
    // second start (their callers gather folders). A file already in the
    // playlist is not added again; the first one given is played.
    void QueueOpen(const std::vector<std::string>& astrFiles);
    void SetObserver(IPlayerObserver* pObserver) { m_pObserver = pObserver; }
    // Where each file was left, to resume it; none remembers nothing.
    void SetPositionStore(CPositionStore* pPositions) { m_places.SetStore(pPositions); }
    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // ---- what the form shows and its menus check ----
    bool IsPlaying() const { return m_ePhase == ERunPhase::Running; }
    bool IsPaused() const;
    int GetRepeat() const { return m_nRepeat; }
    int GetMixingVolume() const { return m_nMixingVolume; }
    int GetAlphaControl() const { return m_nAlphaControl; }
    int GetSpeedIndex() const { return m_nSpeedIdx; }
    bool IsClearSpeech() const { return m_bClearSpeech; }
    bool IsSkipSilence() const { return m_bSkipSilence; }
    bool IsSpeedPerBook() const { return m_bSpeedPerBook; }
    bool IsRewindOnResume() const { return m_bRewindOnResume; }
    int GetTimeDisplay() const { return m_nTimeDisplay; }
    // SLEEP_OFF, SLEEP_CHAPTER_END, SLEEP_FILE_END, or for a timer of minutes
    // the whole minutes left, at least 1.
    int GetSleepTimer() const;
    // The chapters of the entry that plays (none while none plays), and the
    // one being heard (-1 for none).
    const std::vector<SChapter>& GetChapters() const;
    int GetCurrentChapter() const;
    // The listening time that skipping silence has saved in the entry that
    // plays, in milliseconds.
    uint64_t GetSavedMs() const;
    const CPlayList& GetPlayList() const { return m_PlayList; }
    // The entry that plays, -1 when none does.
    int GetCurrentEntry() const { return IsPlaying() ? m_nCurrent : -1; }
    // Of the entry that plays: the frame being heard, the frames it holds and
    // its rate (all 0 when none plays).
    uint64_t GetHeardFrame() const;
    uint64_t GetLengthFrames() const;
    uint32_t GetSampleRate() const;
    // The entry the window and the media controls tell of: the one that
    // plays, or while stopped the first selected one at its saved place
    // (frame, length and rate 0 where none is known); -1 for none.
    struct SShownEntry {
        int nEntry = -1;
        uint64_t nFrame = 0;
        uint64_t nLengthFrames = 0;
        uint32_t nRate = 0;
    };
    SShownEntry GetShownEntry() const;

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
    void OnClearSpeech(bool bOn);
    void OnSkipSilence(bool bOn);
    void OnSeekTo(uint64_t nFrame);
    void OnSeekBy(int64_t nSeconds);
    void OnOpenQueued();
    void OnWomDone(WPARAM wParam, LPARAM lParam);
    void OnSleepTimer(int nChoice);
    void OnToggleTimeDisplay();
    void OnChapterStep(bool bForward);
    void OnSeekToChapter(int nChapter);

private:
    friend class CControllerProbe;

    void RunCommand(EPlayerCommand eCommand, int64_t nValue);

    // ---- the steps of a buffer notification ----
    // True when the output stalled: no notification for longer than the
    // watchdog allows while playing.
    bool CheckWatchdog();
    // Resets a stalled output: the drained run restarts from what was heard
    // on a reopened device, or stops when none opens.
    void RestartStalledOutput();
    // The device was heard from (a notification, a start, the end of a
    // pause): the watchdog and the silence count start again.
    void NoteDeviceHeard();
    // Stops a run whose device has stopped playing, and says so.
    void LoseDevice();
    // A start within a run found no device: the run ends, and says so.
    void EndRunWithoutDevice();
    // Says that a start the user asked for found no device, and why.
    void TellNoDevice();
    void OnTick();
    void ShowPosition();
    // The ring drained: restarts at a new speed, starts the chosen entry,
    // waits, or goes on to the next entry.
    void OnRunEnded();

    // Where a start begins: where the file was left (or its beginning), the
    // reader's byte position of a speed restart, or an exact frame.
    enum class EStartAt { LastHeard, ReaderPosition, Frame };
    bool StartFile(const std::string& strPath, EStartAt eAt, uint64_t nWhere = 0);
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
    // How the wait between files ended.
    enum class EWaitEnd {
        Elapsed,
        Stopped,   // Stop during the wait: the list ends
        TakenOver, // an entry started during the wait: the wait starts nothing
    };
    EWaitEnd WaitBetweenFiles();
    void RequestSpeedRestart();
    // The sound changes (speed, mode): the file restarts at the new sound,
    // after the hold-off when one runs.
    void RestartForNewSound();
    // Hands the modes to the engine for the files it opens from now on.
    void ApplyModes();
    // A change of either mode applies at once: a file that plays restarts in it.
    void SetModes(bool bClearSpeech, bool bSkipSilence);
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
    // less what the output still holds at the current speed.
    uint64_t HeardFrame() const;
    // Drops the queued sound and restarts the current entry at nFrame once
    // the output has drained; a later jump before that moves the target.
    void JumpTo(uint64_t nFrame);
    // The current entry's place for the next start, or an entry's place forgotten.
    void RememberPosition();
    void RememberPlace(const std::string& strPath, uint64_t nFrame, uint64_t nLengthFrames, uint32_t nRate);
    void ForgetPosition(const std::string& strPath);
    // Where a file was left, when it is still the file it was and the place
    // lies before its end (else 0, and a place at or past the end goes), a
    // little before it when the listener was away a while.
    uint64_t LastHeardFrame(const std::string& strPath);
    // While stopped: the elapsed time and the progress bar show the selected
    // entry's saved place.
    void ShowStoppedPlace();
    // The entry to select at the next start.
    void RememberLastPlayed(const std::string& strPath);
    void ShowTime(uint64_t nFrame);
    void SelectOnly(int nRow);
    void ShowFileProblems();
    // strWhat names what the file holds, for the message; strError why the save failed.
    void ReportSave(bool bSaved, const std::string& strError, const char* strWhat, bool& bFailureShown);
    void NotifyObserver();

    // ---- each book's own speed, and the step back on resuming (BookPlaces.cpp) ----
    // A file's run starts at the speed it was last played at, when books
    // keep theirs and it has one; else at the player's speed.
    void TakeBookSpeed(const std::string& strPath);
    // No book plays: the player's speed is the one in effect.
    void BackToPlayerSpeed();
    void SetBookSwitches(bool bSpeedPerBook, bool bRewindOnResume);
    // Notes when a pause begins; at its end, after a while away, plays on a
    // little before the place instead. True when it resumed the run itself.
    bool OnPauseToggling(bool bResume);
    // The frame a run resumes at, left at nFrame nAwayMs ago: the one place
    // that applies RewindOnResume, with the floor it may not go before.
    uint64_t RewoundFrame(uint64_t nFrame, int64_t nAwayMs) const;

    // ---- the sleep timer ----
    // Hands the timer to the engine for the file it just opened.
    void ApplySleepTimer();
    // Follows the engine's count while a file plays, and shows what is left.
    void FollowSleepTimer();
    void ShowSleepTimer();
    // The run ended where the timer ends it: stops there, with the place
    // kept (a fade's start, for the next Play to go back to) and the entry
    // to continue with selected. False when the timer did not end it.
    bool StopForSleepTimer();
    void EndSleepTimer();

    // ---- the time, its tooltip, the chapter shown ----
    std::string TimeText(uint64_t nFrame, uint64_t nLengthFrames, uint32_t nRate) const;
    void SetShownTime(const std::string& strText);
    void ShowTimeTip();
    // The chapter's title beside the file's name, and the progress bar's
    // ticks at the chapters' starts.
    void ShowChapter(bool bAlways);
    void ShowChapterTicks();
    // What is left from nFrame to nEnd at the current speed, rounded up to
    // the second, as the time left shows it.
    std::string LeftAtSpeed(uint64_t nFrame, uint64_t nEnd, uint32_t nRate) const;
    // The end of the chapter that holds nFrame in the entry that plays.
    std::optional<uint64_t> ChapterEndAt(uint64_t nFrame) const;

    CSpeedEngine& m_engine;
    CWaveOutput& m_output;
    CProfileStore& m_profile;
    IPlayerView& m_view;
    IPlayerObserver* m_pObserver = nullptr;
    CResumePlaces m_places;

    CPlayList m_PlayList;
    std::vector<std::string> m_astrQueuedFiles;

    // Settings. The speed step is the one in effect: a book's own while it
    // plays at it, else the player's, which the settings keep.
    int m_nSpeedIdx = kDefaultSpeedIndex;
    int m_nRepeat = REPEAT_NONE;
    int m_nMixingVolume = kDefaultMixing;
    int m_nAlphaControl = 0;
    int m_nFileSelect = 1;
    bool m_bClearSpeech = false;
    bool m_bSkipSilence = false;
    // The pause between files in milliseconds, which the settings' "WaitSec"
    // has always held despite its name.
    int m_nWaitMs = 0;
    std::string m_strBrowseFolder;
    std::string m_strLastPlayed;
    // A failed save of the file was told, and no save has succeeded since.
    bool m_bSettingsFailureShown = false;
    bool m_bPositionsFailureShown = false;

    // Playback. Whether a running file is paused is the output's to say, as
    // it holds the device's pause; whether its sound drains toward another
    // start is the pending start's.
    enum class ERunPhase {
        Idle,    // no file runs
        Running, // a file plays, is paused, or drains toward the pending start
        Waiting, // the pause between two files
    };
    ERunPhase m_ePhase = ERunPhase::Idle;
    int m_nCurrent = -1;
    // What starts once the output has drained: set where the output is cut
    // off or asked to stop, read in OnRunEnded.
    struct SPendingStart {
        enum class EKind {
            None,    // the file plays to its end
            Jump,    // the current entry at the frame nWhere
            Restart, // the current entry where it is heard, in a new speed or mode
            Entry,   // the output was cut off for nNextEntry
        };
        EKind eKind = EKind::None;
        // A jump's frame; a restart's reader byte position, or with bAtFrame
        // (the clear mode, whose reader runs seconds ahead of its sound) the
        // frame its written sound ends at.
        uint64_t nWhere = 0;
        // A jump made while paused stays paused.
        bool bPaused = false;
        bool bAtFrame = false;
        // The entry chosen to play in place of the one after the current
        // (a double-click), -1 for none; after a restart pending with it, it
        // waits for the restarted file's end.
        int nNextEntry = -1;
        bool Is(EKind eAsked) const { return eKind == eAsked; }
    };
    using EPending = SPendingStart::EKind;
    SPendingStart m_pending;
    // What skipping silence saved in the current entry's earlier runs, and
    // the saved time last shown.
    std::string m_strSavedPath;
    uint64_t m_nSkippedFramesBefore = 0;
    std::string m_strShownTip;
    // The length of the current run's file, which stays known while a jump
    // has it closed.
    uint64_t m_nRunLengthFrames = 0;
    // The last start opened its file but no sound device.
    bool m_bOutputFailed = false;
    // Milliseconds of the day of the last notification (or start), and of
    // the last Tick.
    int m_nLastNoticeMs = 0;
    int m_nLastTickMs = 0;
    int m_nSpeedHoldoff = 0;
    // A speed step made during the hold-off restarts the sound when it ends.
    bool m_bSpeedRestartDeferred = false;
    int m_nLastPositionSave = 0;
    int m_nLastShownSec = 0;
    int m_nOldSec2 = 0;
    // How the last wait was ended, once something ended it. It stands after
    // the wait: when a run that took over a wait ends in a wait of its own
    // that Stop ends, the first wait, still on the stack, ends stopped too.
    std::optional<EWaitEnd> m_oWaitEnd;

    // Each book's own speed, and the step back on resuming.
    int m_nPlayerSpeedIdx = kDefaultSpeedIndex;
    bool m_bSpeedPerBook = true;
    bool m_bRewindOnResume = true;
    // The wall clock's time when the running file was paused; none once a
    // jump has chosen where it goes on.
    std::optional<int64_t> m_oPausedAtMs;
    // The sleep timer, which is not saved: a timer of minutes counts the
    // time that plays (the engine counts it while a file runs), so a pause
    // holds it.
    enum class ESleep { Off, Minutes, ChapterEnd, FileEnd };
    ESleep m_eSleep = ESleep::Off;
    // In microseconds, which carry it from file to file without losing frames.
    uint64_t m_nSleepLeftUs = 0;
    // The end frame a chapter's timer gave the engine; kNoEndFrame for none.
    uint64_t m_nSleepEndFrame = UINT64_MAX;
    std::string m_strShownSleep;

    int m_nTimeDisplay = TIME_ELAPSED;
    std::string m_strShownTime;
    int m_nShownChapter = -1;
};
