// Playback: Play, Pause, Stop, the double-click in the playlist and every
// buffer-done notification. Any handler here can run nested inside
// OnWomDone, which pumps the queue.
#include "PlaybackController.h"

#include "common/Program.h"
#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/desktop/Desktop.h"
#include "platform/positions/PositionStore.h"
#include "platform/events/TimeOfDay.h"
#include "platform/events/Trace.h"

#include <algorithm>
#include <cstdio>
#include <limits>

const char kTimeZero[] = "00:00:00";
const char kStoppedFileName[] = " . . . . . . . . . . . . . . . . . . . . . . . . . . . . ";

namespace {

// The stall that the watchdog tolerates between two notifications.
constexpr int kWatchdogSeconds = 4;
// A Tick this much later than the one before means the program itself did
// not run (suspended, stopped, blocked), so the device could not be heard.
constexpr int kLateTickMs = 4 * kPlayerTickMs;
// A Tick this much behind its time counts as on time.
constexpr int kTickSlackMs = kPlayerTickMs / 2;
// While waiting between files the loop sleeps at most this long between two
// looks at the queue, instead of spinning the processor.
constexpr int kWaitPollMs = 10;
// Each notification lets this many queued events run, so that clicks are
// answered while the sound plays.
constexpr int kPumpsPerBuffer = 3;
constexpr int kSecondsPerDay = 24 * 3600;
constexpr int kPositionSaveSeconds = 10;

} // namespace

std::string FormatElapsed(uint64_t nLongSeconds)
{
    const uint32_t nSeconds = static_cast<uint32_t>(std::min<uint64_t>(nLongSeconds, UINT32_MAX));
    char strTime[32];
    std::snprintf(strTime, sizeof strTime, "%02u:%02u:%02u", nSeconds / 3600, (nSeconds / 60) % 60, nSeconds % 60);
    return strTime;
}

bool CPlaybackController::IsPaused() const
{
    return m_output.IsPaused();
}

int CPlaybackController::FirstSelectedRow() const
{
    for (int nRow = 0; nRow < m_PlayList.GetCount(); ++nRow) {
        if (m_view.IsRowSelected(nRow))
            return nRow;
    }
    return -1;
}

void CPlaybackController::OnPlay()
{
    TRACE_POINT("OnPlay");
    // The wait between files disables Play and hides Pause; a click queued
    // before it began must not start a run inside it.
    if (m_ePhase == ERunPhase::Waiting)
        return;
    if (!IsPlaying()) {
        // The start takes the speed and modes as they are now.
        if (m_pending.Is(EPending::Restart))
            m_pending.eKind = EPending::None;
        const int nSelected = FirstSelectedRow();
        if (nSelected >= 0)
            m_nCurrent = nSelected - 1;
        bool bStarted = false;
        m_bOutputFailed = false;
        // Without a sound device no entry plays: the first try tells.
        for (int nAttempt = 0; nAttempt < m_PlayList.GetCount() && !bStarted && !m_bOutputFailed; ++nAttempt) {
            const std::string strPath = NextFile();
            // The end of the list ends the command; an empty line is an
            // entry that cannot be played and is passed over.
            if (m_nCurrent < 0)
                return;
            bStarted = StartFile(strPath, EStartAt::LastHeard);
        }
        if (bStarted) {
            SyncListSelection();
            UpdateCaption();
            NoteDeviceHeard();
        } else {
            EndRun();
            if (m_bOutputFailed)
                TellNoDevice();
        }
        return;
    }
    const bool bResume = m_output.IsPaused();
    if (OnPauseToggling(bResume))
        return;
    m_output.TogglePause();
    m_view.ShowPlayButton(!bResume);
    UpdateCaption();
    if (bResume)
        NoteDeviceHeard();
}

void CPlaybackController::CutOffOutput()
{
    if (m_output.IsPaused()) {
        m_output.TogglePause();
        NoteDeviceHeard();
    }
    // The returned buffers only drain: refilled from the closed engine they
    // would play what it still holds.
    m_output.RequestStop();
    m_output.Reset();
}

void CPlaybackController::OnStop()
{
    EndSleepTimer();
    if (m_ePhase == ERunPhase::Waiting) {
        m_oWaitEnd = EWaitEnd::Stopped;
        return;
    }
    if (!IsPlaying())
        return;
    const int nStopped = m_nCurrent;
    RememberPosition();
    CutOffOutput();
    EndRun();
    // The stopped entry stays selected, so that Play continues it where it
    // was heard; the time shows that place.
    if (nStopped >= 0 && nStopped < m_PlayList.GetCount())
        SelectOnly(nStopped);
    ShowStoppedPlace();
    // A double-click whose drain this cuts short must not start its entry
    // at the end of a later run, and a speed restart's hold-off, counted by
    // notifications that will not come, must not keep the speed buttons dead.
    m_pending.nNextEntry = -1;
    if (!m_pending.Is(EPending::Restart))
        m_pending.eKind = EPending::None;
    m_nSpeedHoldoff = 0;
    m_bSpeedRestartDeferred = false;
}

void CPlaybackController::OnDblclkPlayList()
{
    const int nSelected = FirstSelectedRow();
    if (nSelected < 0)
        return;
    if (IsPlaying()) {
        // A restart under way comes first; the chosen entry follows it in
        // place of the next one. A jump gives way to the entry.
        if (m_pending.Is(EPending::None))
            RememberPosition();
        m_pending.nNextEntry = nSelected;
        if (!m_pending.Is(EPending::Restart))
            m_pending.eKind = EPending::Entry;
        m_engine.Close();
        CutOffOutput();
        return;
    }
    // During the wait between files the chosen entry takes over: the wait
    // ends and starts nothing of its own. It ends here, not when its loop
    // next looks: events handled before that must find the entry playing
    // and no wait.
    if (m_ePhase == ERunPhase::Waiting) {
        m_oWaitEnd = EWaitEnd::TakenOver;
        m_ePhase = ERunPhase::Idle;
        m_view.EnablePlay(true);
    }
    m_nCurrent = nSelected;
    const bool bStarted = StartFile(CurrentFile(), EStartAt::LastHeard);
    SyncListSelection();
    UpdateCaption();
    if (!bStarted && m_bOutputFailed)
        TellNoDevice();
}

bool CPlaybackController::StartFile(const std::string& strPath, EStartAt eAt, uint64_t nWhere)
{
    if (IsPlaying())
        return false;
    m_ePhase = ERunPhase::Running;
    m_bOutputFailed = false;
    UpdateStopButton();
    m_view.ShowPlayButton(false);
    m_output.SetEngine(&m_engine);
    // What skipping silence left out counts for the entry over its restarts.
    if (strPath == m_strSavedPath) {
        m_nSkippedFramesBefore += m_engine.GetSkippedFrames();
    } else {
        m_strSavedPath = strPath;
        m_nSkippedFramesBefore = 0;
    }
    m_places.StampRun(strPath);
    if (eAt == EStartAt::LastHeard)
        TakeBookSpeed(strPath);
    if (m_engine.Open(strPath, SpeedOfIndex(m_nSpeedIdx))) {
        if (eAt == EStartAt::ReaderPosition)
            m_engine.Seek(nWhere);
        else
            m_engine.SeekFrame(eAt == EStartAt::Frame ? nWhere : LastHeardFrame(strPath));
        const uint64_t nStartFrame = m_engine.SoundFile().GetPositionFrames();
        m_nRunLengthFrames = m_engine.SoundFile().GetLengthFrames();
        if (eAt != EStartAt::ReaderPosition) {
            m_view.SetProgressRange(static_cast<int>(m_engine.GetLengthSec()));
            ShowChapterTicks();
            ShowTime(nStartFrame);
        }
        if (m_pending.Is(EPending::Restart))
            m_pending.eKind = EPending::None;
        ApplySleepTimer();
        ShowChapter(true);
        m_bOutputFailed = !m_output.Open(GetSafeHwnd(), m_engine.GetFormat());
        if (!m_bOutputFailed && m_output.Start(GetSafeHwnd())) {
            NoteDeviceHeard();
            m_nLastPositionSave = m_nOldSec2;
            RememberLastPlayed(strPath);
            return true;
        }
        m_engine.Close();
    }
    // Nothing plays: the sound system gets no silence.
    m_output.Close();
    m_ePhase = ERunPhase::Idle;
    UpdateStopButton();
    m_view.ShowPlayButton(true);
    return false;
}

std::string CPlaybackController::NextFile()
{
    ++m_nCurrent;
    if (m_nCurrent >= m_PlayList.GetCount()) {
        m_nCurrent = -1;
        return std::string();
    }
    return m_PlayList.GetPath(m_nCurrent);
}

std::string CPlaybackController::CurrentFile() const
{
    if (m_nCurrent < 0 || m_PlayList.GetCount() == 0)
        return std::string();
    return m_PlayList.GetPath(std::min(m_nCurrent, m_PlayList.GetCount() - 1));
}

bool CPlaybackController::PlayNext()
{
    std::string strPath;
    if (m_nRepeat == REPEAT_ONE) {
        strPath = CurrentFile();
    } else if (m_nCurrent < m_PlayList.GetCount() - 1) {
        strPath = NextFile();
    } else if (m_nRepeat == REPEAT_ALL) {
        m_nCurrent = -1;
        strPath = NextFile();
    } else {
        return false;
    }
    if (strPath.empty())
        return false;
    const bool bStarted = StartFile(strPath, EStartAt::LastHeard);
    SyncListSelection();
    UpdateCaption();
    return bStarted;
}

void CPlaybackController::ResetToIdle(bool bResetDisplay)
{
    m_ePhase = ERunPhase::Idle;
    UpdateStopButton();
    m_view.ShowPlayButton(true);
    m_output.UnprepareAll();
    m_engine.Close();
    if (bResetDisplay) {
        m_nLastShownSec = 0;
        SetShownTime(kTimeZero);
        m_view.SetProgressPos(0);
        m_view.SetProgressTicks({});
        m_view.SetFileName(kStoppedFileName);
    }
}

void CPlaybackController::EndRun()
{
    ResetToIdle(true);
    // Nothing plays until the next run: the sound system gets no silence.
    m_output.Close();
    m_nCurrent = -1;
    BackToPlayerSpeed();
    SyncListSelection();
    UpdateCaption();
    EndSleepTimer();
}

void CPlaybackController::SyncListSelection()
{
    for (int nRow = 0; nRow < m_PlayList.GetCount(); ++nRow) {
        const bool bSelected = m_view.IsRowSelected(nRow);
        if (nRow == m_nCurrent && !bSelected)
            m_view.SelectRow(nRow, true);
        else if (nRow != m_nCurrent && bSelected)
            m_view.SelectRow(nRow, false);
    }
    if (m_nCurrent >= 0 && m_nCurrent < m_PlayList.GetCount())
        m_view.ShowRow(m_nCurrent);
}

void CPlaybackController::UpdateCaption()
{
    const char* strState = "STOP-";
    if (IsPlaying())
        strState = m_output.IsPaused() ? "PAUSE-" : "PLAY-";
    m_view.SetCaption(std::string(strState) + kCaptionWord);
}

void CPlaybackController::UpdateStopButton()
{
    m_view.EnableStop(IsPlaying());
}

CPlaybackController::EWaitEnd CPlaybackController::WaitBetweenFiles()
{
    if (m_nWaitMs == 0)
        return EWaitEnd::Elapsed;
    m_output.Close();
    int nLastLook = MillisecondsOfDay();
    int64_t nElapsed = 0;
    m_oWaitEnd.reset();
    m_ePhase = ERunPhase::Waiting;
    m_view.EnablePlay(false);
    m_view.EnableStop(true);
    EWaitEnd eEnd = EWaitEnd::Elapsed;
    for (;;) {
        // Time of day wraps at midnight; summing the steps between looks lets
        // a wait cross midnight and last longer than a day.
        const int nNow = MillisecondsOfDay();
        nElapsed += (nNow - nLastLook + kMillisecondsPerDay) % kMillisecondsPerDay;
        nLastLook = nNow;
        // A run that began during the wait, by a nested one's end too, takes over.
        if (IsPlaying())
            m_oWaitEnd = EWaitEnd::TakenOver;
        if (m_oWaitEnd == EWaitEnd::TakenOver) {
            eEnd = EWaitEnd::TakenOver;
            break;
        }
        if (nElapsed > m_nWaitMs)
            break;
        if (m_oWaitEnd == EWaitEnd::Stopped) {
            eEnd = EWaitEnd::Stopped;
            break;
        }
        WaitMessage(static_cast<int>(std::min<int64_t>(kWaitPollMs, m_nWaitMs - nElapsed + 1)));
        PumpMessage();
    }
    m_view.EnablePlay(true);
    m_view.EnableStop(false);
    if (m_ePhase == ERunPhase::Waiting)
        m_ePhase = ERunPhase::Idle;
    // A double-click that took over started a file: Stop follows the play state.
    if (eEnd == EWaitEnd::TakenOver)
        UpdateStopButton();
    return eEnd;
}

void CPlaybackController::RequestSpeedRestart()
{
    // A restart asked for already, a jump or another entry starts at the new
    // speed all the same.
    if (!m_pending.Is(EPending::None))
        return;
    m_pending.eKind = EPending::Restart;
    // The clear mode's reader runs seconds ahead of its sound; it continues
    // where the written sound ends, so that nothing is lost or heard twice.
    m_pending.bAtFrame = m_engine.IsClearActive();
    m_pending.nWhere = m_pending.bAtFrame ? m_engine.GetNextOutputFrame() : m_engine.GetPosition();
    m_output.RequestStop();
}

int CPlaybackController::WatchdogSeconds() const
{
    // One output buffer of a file at a very low rate lasts longer than the
    // usual limit; such a file must not count as stalled. For the usual
    // rates (above 1875 Hz) the limit stays at 4 seconds.
    const WAVEFORMATEX* pFormat = m_engine.GetFormat();
    const uint32_t nRate = pFormat && pFormat->nSamplesPerSec > 0 ? pFormat->nSamplesPerSec : 1;
    return kWatchdogSeconds + static_cast<int>((WAVE_BUFFER_BYTES / CSpeedEngine::kOutputFrameBytes) / nRate);
}

bool CPlaybackController::CheckWatchdog()
{
    const int nLastSecond = m_nOldSec2;
    NoteDeviceHeard();
    return IsPlaying() && !m_output.IsPaused() && m_nOldSec2 - nLastSecond > WatchdogSeconds();
}

void CPlaybackController::NoteDeviceHeard()
{
    m_nLastNoticeMs = MillisecondsOfDay();
    m_nOldSec2 = m_nLastNoticeMs / 1000;
}

void CPlaybackController::OnTick()
{
    const int nNow = MillisecondsOfDay();
    const int nSinceTick = (nNow - m_nLastTickMs + kMillisecondsPerDay) % kMillisecondsPerDay;
    m_nLastTickMs = nNow;
    if (!IsPlaying() || m_output.IsPaused())
        return;
    // A device that died sends no notification to check; only the clock
    // tells. The silence counts from a late Tick on: the device is not to
    // blame for the time the program did not run, and a late notification
    // still restarts the output.
    if (nSinceTick > kLateTickMs) {
        m_nLastNoticeMs = nNow;
        return;
    }
    // A loop that ran late (something long on it) held up the notifications
    // as much as the Tick: the time it lost is no silence of the device.
    const int nLate = nSinceTick - kPlayerTickMs - kTickSlackMs;
    if (nLate > 0)
        m_nLastNoticeMs = (m_nLastNoticeMs + nLate) % kMillisecondsPerDay;
    if ((nNow - m_nLastNoticeMs + kMillisecondsPerDay) % kMillisecondsPerDay > 1000 * WatchdogSeconds())
        LoseDevice();
}

void CPlaybackController::LoseDevice()
{
    TRACE_POINT("device lost");
    OnStop();
    m_view.ShowMessage(kDeviceLostMessage);
}

void CPlaybackController::EndRunWithoutDevice()
{
    EndRun();
    m_pending.nNextEntry = -1;
    m_view.ShowMessage(kDeviceLostMessage);
}

void CPlaybackController::TellNoDevice()
{
    m_view.ShowMessage(std::string(kNoDeviceMessage) + "\n" + WaveOutGetBackendError());
}

void CPlaybackController::RestartStalledOutput()
{
    // A suspend and resume, or a device that stopped returning buffers. The
    // device may never give them back, so the output is reset, which returns
    // them at once; the drained run then starts again on a reopened device
    // from what was heard.
    TRACE_POINT("OnWomDone stalled");
    if (m_pending.Is(EPending::None)) {
        m_pending.eKind = EPending::Jump;
        m_pending.nWhere = HeardFrame();
        m_pending.bPaused = false;
    }
    CutOffOutput();
}

void CPlaybackController::ShowPosition()
{
    // Buffers that come back after Stop show nothing: the stopped place stands.
    if (!IsPlaying())
        return;
    ShowTimeTip();
    FollowSleepTimer();
    if (m_pending.Is(EPending::None)) {
        ShowTime(HeardFrame());
        ShowChapter(false);
    }
    // A killed session loses at most this much of where the listener was.
    const int nNow = SecondsOfDay();
    if ((nNow - m_nLastPositionSave + kSecondsPerDay) % kSecondsPerDay >= kPositionSaveSeconds) {
        m_nLastPositionSave = nNow;
        RememberPosition();
    }
}

void CPlaybackController::OnWomDone(WPARAM wParam, LPARAM lParam)
{
    if (m_nSpeedHoldoff != 0 && --m_nSpeedHoldoff == 0 && m_bSpeedRestartDeferred) {
        m_bSpeedRestartDeferred = false;
        RequestSpeedRestart();
    }
    KeepDisplayAwake();
    const bool bStalled = CheckWatchdog();
    // A late notification restarts the output instead: a device that a
    // suspend left stopped may play again once reopened.
    if (!bStalled && IsPlaying() && m_output.IsDeviceLost()) {
        LoseDevice();
        return;
    }
    const SWomDone done = DecodeWomDone(wParam, lParam);
    if (m_output.Refill(done.hWaveOut, done.pHeader)) {
        // After the refill, so that the late buffer counts as heard.
        if (bStalled)
            RestartStalledOutput();
        ShowPosition();
        for (int nPump = 0; nPump < kPumpsPerBuffer; ++nPump)
            PumpMessage();
        return;
    }
    m_view.ShowPlayButton(true);
    if (IsPlaying())
        OnRunEnded();
}

void CPlaybackController::OnRunEnded()
{
    ResetToIdle(false);
    if (StopForSleepTimer())
        return;
    if (m_pending.Is(EPending::Entry))
        m_pending.eKind = EPending::None;
    if (m_pending.Is(EPending::Jump)) {
        m_pending.eKind = EPending::None;
        if (StartFile(CurrentFile(), EStartAt::Frame, m_pending.nWhere)) {
            // A jump made while paused stays paused, at its new place.
            if (m_pending.bPaused) {
                m_output.TogglePause();
                m_view.ShowPlayButton(true);
            }
            SyncListSelection();
            UpdateCaption();
            if (m_pObserver)
                m_pObserver->OnSeeked(m_pending.nWhere);
            return;
        }
    } else if (m_pending.Is(EPending::Restart)
        && (m_pending.bAtFrame ? m_pending.nWhere < m_nRunLengthFrames : !m_engine.m_bEndOfInput)) {
        m_pending.eKind = EPending::None;
        // The reader runs ahead of what is heard: when it had read the whole
        // file already, the restart finds nothing, and the file has ended.
        const EStartAt eAt = m_pending.bAtFrame ? EStartAt::Frame : EStartAt::ReaderPosition;
        if (StartFile(CurrentFile(), eAt, m_pending.nWhere)) {
            SyncListSelection();
            UpdateCaption();
            m_nSpeedHoldoff = 2;
            return;
        }
    }
    if (m_bOutputFailed) {
        EndRunWithoutDevice();
        return;
    }
    if (m_pending.nNextEntry != -1) {
        m_nCurrent = m_pending.nNextEntry;
        m_pending.nNextEntry = -1;
        // An entry that cannot be played is passed over as Play passes it:
        // the ones after it are tried in turn, up to the end of the list.
        bool bStarted = StartFile(CurrentFile(), EStartAt::LastHeard);
        for (int nAttempt = 1; !bStarted && !m_bOutputFailed && nAttempt < m_PlayList.GetCount(); ++nAttempt) {
            const std::string strPath = NextFile();
            if (m_nCurrent < 0)
                break;
            bStarted = StartFile(strPath, EStartAt::LastHeard);
        }
        if (m_bOutputFailed) {
            EndRunWithoutDevice();
        } else if (!bStarted) {
            EndRun();
        } else {
            SyncListSelection();
            UpdateCaption();
        }
        return;
    }
    // The entry played to its end: next time it starts from the beginning.
    ForgetPosition(CurrentFile());
    switch (WaitBetweenFiles()) {
    case EWaitEnd::Stopped:
        EndRun();
        return;
    case EWaitEnd::TakenOver:
        return;
    case EWaitEnd::Elapsed:
        break;
    }
    m_bOutputFailed = false;
    for (int nAttempt = 0; nAttempt < m_PlayList.GetCount() && !m_bOutputFailed; ++nAttempt) {
        if (PlayNext())
            return;
    }
    if (m_bOutputFailed)
        EndRunWithoutDevice();
    else
        EndRun();
}
