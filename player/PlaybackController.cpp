// The playback controller of the player form: Play, Pause, Stop, the
// double-click in the playlist and every buffer-done notification. It runs
// on the user-interface thread only, but re-enters itself: the notification
// handling and the wait between files dispatch pending messages, so any
// handler here can run nested inside OnWomDone.
#include "VelofonPocketView.h"

#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/desktop/Desktop.h"
#include "platform/events/TimeOfDay.h"
#include "platform/events/Trace.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

const char kTimeZero[] = "00:00:00";

namespace {

// A space and a full stop 28 times, then a space: the stopped player's file name.
const char kStoppedFileName[] = " . . . . . . . . . . . . . . . . . . . . . . . . . . . . ";

// The stall that the watchdog tolerates between two notifications.
constexpr int kWatchdogSeconds = 4;
// While waiting between files the loop sleeps at most this long between two
// looks at the queue, instead of spinning the processor.
constexpr int kWaitPollMs = 10;

double SpeedOfIndex(int nSpeedIdx)
{
    return (nSpeedIdx + 10) * 0.1;
}

std::string FormatTime(uint32_t nSeconds)
{
    char strTime[32];
    std::snprintf(strTime, sizeof strTime, "%02u:%02u:%02u", nSeconds / 3600, (nSeconds / 60) % 60, nSeconds % 60);
    return strTime;
}

} // namespace

void CVelofonPocketView::ShowPlayButton(bool bPlay)
{
    m_PlayButton.ShowWindow(bPlay);
    m_PauseButton.ShowWindow(!bPlay);
}

int CVelofonPocketView::FirstSelectedRow() const
{
    for (int nRow = 0; nRow < m_PlayListBox.GetCount(); ++nRow) {
        if (m_PlayListBox.GetSel(nRow) > 0)
            return nRow;
    }
    return -1;
}

void CVelofonPocketView::OnPlay()
{
    TRACE_POINT("OnPlay");
    // The wait between files disables Play and hides Pause; a click queued
    // before it began must not start a run inside it.
    if (m_bPlayWaitFlag)
        return;
    CWaveOutput& output = TheWaveOutput();
    if (m_nPlayState == PS_IDLE) {
        TRACE_POINT("OnPlay IDLE");
        m_bResumeRequest = false;
        const int nSelected = FirstSelectedRow();
        if (nSelected >= 0)
            m_nCurrent = nSelected - 1;
        bool bStarted = false;
        for (int nAttempt = 0; nAttempt < m_PlayList.GetCount() && !bStarted; ++nAttempt) {
            const std::string strPath = NextFile();
            // The end of the list ends the command; an empty line is an
            // entry that cannot be played and is passed over.
            if (m_nCurrent < 0)
                return;
            bStarted = StartFile(strPath, 0, false);
            if (bStarted)
                TRACE_POINT("OnPlay Play true");
        }
        if (bStarted) {
            TRACE_POINT("OnPlay 成功");
            SyncListSelection();
            UpdateCaption();
            m_nOldSec2 = SecondsOfDay();
        } else {
            TRACE_POINT("OnPlay 失敗");
            ResetToIdle(true);
            m_nCurrent = -1;
            SyncListSelection();
            UpdateCaption();
        }
        return;
    }
    TRACE_POINT("OnPlay 再生中");
    if (output.m_bPaused) {
        TRACE_POINT("OnPlay Pause");
        output.TogglePause();
        ShowPlayButton(false);
        UpdateCaption();
        m_nOldSec2 = SecondsOfDay();
    } else {
        TRACE_POINT("OnPlay Play");
        output.TogglePause();
        ShowPlayButton(true);
        UpdateCaption();
    }
}

void CVelofonPocketView::CutOffOutput()
{
    CWaveOutput& output = TheWaveOutput();
    if (output.m_bPaused) {
        output.TogglePause();
        m_nOldSec2 = SecondsOfDay();
    }
    // The returned buffers only drain: refilled from the closed engine they
    // would play what it still holds.
    output.RequestStop();
    output.Reset();
}

void CVelofonPocketView::OnStop()
{
    if (m_bPlayWaitFlag) {
        TRACE_POINT("OnStop m_bPlayWaitFlag");
        m_bStopWait = true;
        return;
    }
    if (m_nPlayState == PS_IDLE) {
        TRACE_POINT("OnStop IDLE");
        return;
    }
    TRACE_POINT("PLAY PAUSE");
    CutOffOutput();
    ResetToIdle(true);
    m_nCurrent = -1;
    // A double-click whose drain this cuts short must not start its entry
    // at the end of a later run, and a speed restart's hold-off, counted by
    // notifications that will not come, must not keep the speed buttons dead.
    m_nPending = -1;
    m_nSpeedHoldoff = 0;
    SyncListSelection();
    UpdateCaption();
}

void CVelofonPocketView::OnDblclkPlayList()
{
    const int nSelected = FirstSelectedRow();
    if (nSelected < 0)
        return;
    if (m_nPlayState == PS_RUNNING) {
        m_nPending = nSelected;
        TheSpeedEngine().Close();
        CutOffOutput();
        return;
    }
    // During the wait between files the chosen entry takes over: the wait
    // ends and starts nothing of its own.
    if (m_bPlayWaitFlag)
        m_bWaitTakenOver = true;
    m_nCurrent = nSelected;
    StartFile(CurrentFile(), 0, false);
    SyncListSelection();
    UpdateCaption();
}

bool CVelofonPocketView::StartFile(const std::string& strPath, uint64_t nPosition, bool bSpeedRestart)
{
    if (m_nPlayState == PS_RUNNING)
        return false;
    m_nPlayState = PS_RUNNING;
    UpdateStopButton();
    ShowPlayButton(false);
    CSpeedEngine& engine = TheSpeedEngine();
    CWaveOutput& output = TheWaveOutput();
    output.m_pEngine = &engine;
    if (engine.Open(strPath, SpeedOfIndex(m_nSpeedIdx))) {
        engine.Seek(nPosition);
        if (!bSpeedRestart) {
            m_Progress.SetRange(0, static_cast<int>(engine.GetLengthSec()));
            m_Progress.SetPos(0);
        }
        m_bResumeRequest = false;
        m_FileNameLabel.SetText(FileNameOfPath(strPath));
        if (output.Open(GetSafeHwnd(), engine.GetFormat()) && output.Start(GetSafeHwnd())) {
            m_nOldSec2 = SecondsOfDay();
            return true;
        }
        engine.Close();
    }
    m_nPlayState = PS_IDLE;
    UpdateStopButton();
    ShowPlayButton(true);
    return false;
}

std::string CVelofonPocketView::NextFile()
{
    ++m_nCurrent;
    if (m_nCurrent >= m_PlayList.GetCount()) {
        m_nCurrent = -1;
        return std::string();
    }
    return m_PlayList.GetPath(m_nCurrent);
}

std::string CVelofonPocketView::CurrentFile() const
{
    if (m_nCurrent < 0 || m_PlayList.GetCount() == 0)
        return std::string();
    if (m_nCurrent >= m_PlayList.GetCount())
        return m_PlayList.GetPath(m_PlayList.GetCount() - 1);
    return m_PlayList.GetPath(m_nCurrent);
}

bool CVelofonPocketView::PlayNext()
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
    const bool bStarted = StartFile(strPath, 0, false);
    SyncListSelection();
    UpdateCaption();
    return bStarted;
}

void CVelofonPocketView::ResetToIdle(bool bResetDisplay)
{
    m_nPlayState = PS_IDLE;
    UpdateStopButton();
    ShowPlayButton(true);
    TheWaveOutput().UnprepareAll();
    TheSpeedEngine().Close();
    if (bResetDisplay) {
        m_TimeLabel.SetText(kTimeZero);
        m_Progress.SetPos(0);
        m_FileNameLabel.SetText(kStoppedFileName);
    }
}

void CVelofonPocketView::SyncListSelection()
{
    for (int nRow = 0; nRow < m_PlayListBox.GetCount(); ++nRow) {
        const bool bSelected = m_PlayListBox.GetSel(nRow) > 0;
        if (nRow == m_nCurrent && !bSelected)
            m_PlayListBox.SetSel(nRow, true);
        else if (nRow != m_nCurrent && bSelected)
            m_PlayListBox.SetSel(nRow, false);
    }
}

void CVelofonPocketView::UpdateCaption()
{
    const char* strState = "STOP-";
    if (m_nPlayState == PS_RUNNING)
        strState = TheWaveOutput().m_bPaused ? "PAUSE-" : "PLAY-";
    if (CWnd* pFrame = GetParent())
        pFrame->SetWindowText(strState + m_strCaptionWord);
}

void CVelofonPocketView::UpdateStopButton()
{
    m_StopButton.EnableWindow(m_nPlayState == PS_RUNNING);
}

bool CVelofonPocketView::WaitBetweenFiles()
{
    if (m_nWaitSec == 0)
        return false;
    int nLastLook = MillisecondsOfDay();
    int64_t nElapsed = 0;
    m_bStopWait = false;
    m_bWaitTakenOver = false;
    m_bPlayWaitFlag = true;
    m_PlayButton.EnableWindow(false);
    m_StopButton.EnableWindow(true);
    bool bStopped = false;
    for (;;) {
        // Time of day wraps at midnight; summing the steps between looks lets
        // a wait cross midnight and last longer than a day.
        const int nNow = MillisecondsOfDay();
        nElapsed += (nNow - nLastLook + kMillisecondsPerDay) % kMillisecondsPerDay;
        nLastLook = nNow;
        if (nElapsed > m_nWaitSec || m_bWaitTakenOver)
            break;
        if (m_bStopWait) {
            bStopped = true;
            break;
        }
        WaitMessage(static_cast<int>(std::min<int64_t>(kWaitPollMs, m_nWaitSec - nElapsed + 1)));
        PumpMessage();
    }
    m_PlayButton.EnableWindow(true);
    m_StopButton.EnableWindow(false);
    m_bPlayWaitFlag = false;
    // A double-click that took over started a file: Stop follows the play state.
    if (m_bWaitTakenOver)
        UpdateStopButton();
    return bStopped;
}

void CVelofonPocketView::RequestSpeedRestart()
{
    if (m_bResumeRequest)
        return;
    m_bResumeRequest = true;
    m_nResumePos = TheSpeedEngine().GetPosition();
    TheWaveOutput().RequestStop();
}

int CVelofonPocketView::WatchdogSeconds() const
{
    // One output buffer of a file at a very low rate lasts longer than the
    // usual limit; such a file must not end the program. For the usual
    // rates (above 1875 Hz) the limit stays at 4 seconds.
    const WAVEFORMATEX* pFormat = TheSpeedEngine().GetFormat();
    const uint32_t nRate = pFormat && pFormat->nSamplesPerSec > 0 ? pFormat->nSamplesPerSec : 1;
    return kWatchdogSeconds + static_cast<int>((WAVE_BUFFER_BYTES / 4) / nRate);
}

LRESULT CVelofonPocketView::OnWomDone(WPARAM wParam, LPARAM lParam)
{
    TRACE_POINT("Done");
    if (m_nSpeedHoldoff != 0)
        --m_nSpeedHoldoff;
    KeepDisplayAwake();
    const int nNow = SecondsOfDay();
    if (nNow - m_nOldSec2 > WatchdogSeconds()) {
        TRACE_POINT("DONE ((nNowSec2 - m_nOldSec2) > 4)");
        OnPlay();
        std::exit(-1);
    }
    m_nOldSec2 = nNow;

    CWaveOutput& output = TheWaveOutput();
    CSpeedEngine& engine = TheSpeedEngine();
    if (output.Refill(reinterpret_cast<HWAVEOUT>(wParam), reinterpret_cast<WAVEHDR*>(lParam))) {
        const int nPos = static_cast<int>(engine.GetPositionSec());
        if (nPos != m_nLastShownSec && !m_bResumeRequest) {
            m_TimeLabel.SetText(FormatTime(static_cast<uint32_t>(nPos)));
            m_nLastShownSec = nPos;
            m_Progress.SetPos(nPos);
        }
        PumpMessage();
        PumpMessage();
        PumpMessage();
        return 0;
    }

    ShowPlayButton(true);
    if (m_nPlayState == PS_IDLE)
        return 0;
    ResetToIdle(false);
    if (m_bResumeRequest && !engine.m_bEndOfInput) {
        m_bResumeRequest = false;
        // The reader runs ahead of what is heard: when it had read the whole
        // file already, the restart finds nothing, and the file has ended.
        if (StartFile(CurrentFile(), m_nResumePos, true)) {
            SyncListSelection();
            UpdateCaption();
            m_nSpeedHoldoff = 2;
            return 0;
        }
    }
    if (m_nPending != -1) {
        m_nCurrent = m_nPending;
        StartFile(CurrentFile(), 0, false);
        SyncListSelection();
        UpdateCaption();
        m_nPending = -1;
        return 0;
    }
    if (WaitBetweenFiles()) {
        ResetToIdle(true);
        m_nCurrent = -1;
        SyncListSelection();
        UpdateCaption();
        return 0;
    }
    if (m_bWaitTakenOver) {
        m_bWaitTakenOver = false;
        return 0;
    }
    for (int nAttempt = 0; nAttempt < m_PlayList.GetCount(); ++nAttempt) {
        if (PlayNext())
            return 0;
    }
    ResetToIdle(true);
    m_nCurrent = -1;
    SyncListSelection();
    UpdateCaption();
    return 0;
}
