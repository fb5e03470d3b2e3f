// The player's commands besides playback: the speed steps, the select-all
// bar, the playlist, repeat, Mixing, Alpha and the pause between files.
// Each command that changes a setting or the playlist saves everything.
#include "PlaybackController.h"

#include "engine/PlayableFiles.h"
#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/audio/WaveOut.h"

#include <algorithm>
#include <climits>

CPlaybackController::CPlaybackController(CSpeedEngine& engine, CWaveOutput& output, CProfileStore& profile,
                                         IPlayerView& view)
    : m_engine(engine)
    , m_output(output)
    , m_profile(profile)
    , m_view(view)
{
}

void CPlaybackController::Post(EPlayerCommand eCommand, int64_t nValue)
{
    PostMessage(GetSafeHwnd(), WM_PLAYER_COMMAND, static_cast<WPARAM>(eCommand), nValue);
}

void CPlaybackController::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == MM_WOM_DONE)
        OnWomDone(wParam, lParam);
    else if (message == WM_PLAYER_COMMAND)
        RunCommand(static_cast<EPlayerCommand>(wParam), lParam);
    else
        return;
    if (m_pObserver)
        m_pObserver->OnPlayerChanged();
}

void CPlaybackController::RunCommand(EPlayerCommand eCommand, int64_t nValue)
{
    const int nLevel = static_cast<int>(std::clamp<int64_t>(nValue, INT_MIN, INT_MAX));
    switch (eCommand) {
    case EPlayerCommand::Play:
        OnPlay();
        break;
    case EPlayerCommand::Stop:
        OnStop();
        break;
    case EPlayerCommand::PlaySelected:
        OnDblclkPlayList();
        break;
    case EPlayerCommand::SpeedUp:
        OnSpeedUp();
        break;
    case EPlayerCommand::SpeedDown:
        OnSpeedDown();
        break;
    case EPlayerCommand::SelectAll:
        OnSelectAll();
        break;
    case EPlayerCommand::AddFiles:
        OnListAdd();
        break;
    case EPlayerCommand::DeleteSelected:
        OnListDelete();
        break;
    case EPlayerCommand::PreviousEntry:
        OnStepEntry(-1);
        break;
    case EPlayerCommand::NextEntry:
        OnStepEntry(+1);
        break;
    case EPlayerCommand::SetRepeat:
        OnRepeat(nLevel);
        break;
    case EPlayerCommand::SetMixing:
        OnMixing(nLevel);
        break;
    case EPlayerCommand::SetAlpha:
        OnAlpha(nLevel);
        break;
    case EPlayerCommand::Settings:
        OnSetting();
        break;
    case EPlayerCommand::SeekBy:
        OnSeekBy(nValue);
        break;
    case EPlayerCommand::SeekTo:
        OnSeekTo(static_cast<uint64_t>(std::max<int64_t>(0, nValue)));
        break;
    case EPlayerCommand::OpenQueued:
        OnOpenQueued();
        break;
    case EPlayerCommand::Resume:
        if (!IsPlaying() || m_output.IsPaused())
            OnPlay();
        break;
    case EPlayerCommand::Pause:
        if (IsPlaying() && !m_output.IsPaused())
            OnPlay();
        break;
    case EPlayerCommand::SetSpeedIndex:
        if (ClampSpeedIndex(nLevel) != m_nSpeedIdx)
            ChangeSpeed(ClampSpeedIndex(nLevel) - m_nSpeedIdx);
        break;
    case EPlayerCommand::Tick:
        OnTick();
        break;
    case EPlayerCommand::SetClearSpeech:
        OnClearSpeech(nValue != 0);
        break;
    case EPlayerCommand::SetSkipSilence:
        OnSkipSilence(nValue != 0);
        break;
    case EPlayerCommand::ShowSelected:
        ShowStoppedPlace();
        break;
    }
}

void CPlaybackController::ChangeSpeed(int nDelta)
{
    m_nSpeedIdx = ClampSpeedIndex(m_nSpeedIdx + nDelta);
    m_view.SetSpeedText(SpeedText(m_nSpeedIdx));
    m_engine.SetSpeed(SpeedOfIndex(m_nSpeedIdx));
    RestartForNewSound();
    SaveSettings();
}

void CPlaybackController::RestartForNewSound()
{
    // Right after a restart the reader is still far ahead of the sound; the
    // next restart waits until the hold-off ends rather than skip that far.
    if (m_nSpeedHoldoff != 0)
        m_bSpeedRestartDeferred = true;
    else
        RequestSpeedRestart();
}

void CPlaybackController::ApplyModes()
{
    m_engine.SetClearSpeech(m_bClearSpeech);
    m_engine.SetSkipSilence(m_bSkipSilence);
}

void CPlaybackController::OnClearSpeech(bool bOn)
{
    SetModes(bOn, m_bSkipSilence);
    SaveSettings();
}

void CPlaybackController::OnSkipSilence(bool bOn)
{
    SetModes(m_bClearSpeech, bOn);
    SaveSettings();
}

void CPlaybackController::SetModes(bool bClearSpeech, bool bSkipSilence)
{
    if (bClearSpeech == m_bClearSpeech && bSkipSilence == m_bSkipSilence)
        return;
    m_bClearSpeech = bClearSpeech;
    m_bSkipSilence = bSkipSilence;
    ApplyModes();
    RestartForNewSound();
}

void CPlaybackController::OnSpeedDown()
{
    ChangeSpeed(-1);
}

void CPlaybackController::OnSpeedUp()
{
    ChangeSpeed(+1);
}

void CPlaybackController::OnSelectAll()
{
    if (m_PlayList.GetCount() == 0)
        return;
    // Only line 0 decides: all on when it is off, all off when it is on.
    const bool bSelect = !m_view.IsRowSelected(0);
    for (int nRow = 0; nRow < m_PlayList.GetCount(); ++nRow)
        m_view.SelectRow(nRow, bSelect);
}

void CPlaybackController::AddToPlayList(const std::string& strPath)
{
    m_PlayList.Add(strPath);
    const int nRow = m_PlayList.GetCount() - 1;
    m_view.AddRow(m_PlayList.GetDisplayName(nRow), strPath);
}

void CPlaybackController::OnListAdd()
{
    // The browser opens in file mode, whatever mode it ended in the last time:
    // a folder-select tick carried over showed a list without files.
    bool bFileMode = true;
    std::vector<std::string> astrPaths;
    if (!m_view.ChooseFiles(bFileMode, m_strBrowseFolder, astrPaths))
        return;
    for (const std::string& strPath : astrPaths) {
        if (HasPlayableExtension(strPath))
            AddToPlayList(strPath);
    }
    m_nFileSelect = bFileMode ? 1 : 0;
    SaveSettings();
}

void CPlaybackController::OnListDelete()
{
    for (int nRow = m_PlayList.GetCount() - 1; nRow >= 0; --nRow) {
        if (m_view.IsRowSelected(nRow)) {
            m_view.RemoveRow(nRow);
            m_PlayList.RemoveAt(nRow);
        }
    }
    SaveSettings();
}

void CPlaybackController::OnStepEntry(int nDelta)
{
    const int nCount = m_PlayList.GetCount();
    if (nCount == 0)
        return;
    const bool bRunning = IsPlaying() && m_nCurrent >= 0;
    const int nFrom = bRunning ? m_nCurrent : FirstSelectedRow();
    int nRow = nFrom < 0 ? 0 : nFrom + nDelta;
    if (bRunning && nRow >= nCount) {
        // Past the last entry the list starts over when it repeats, and
        // otherwise ends, as at the end of its last file.
        if (m_nRepeat != REPEAT_ALL) {
            OnStop();
            return;
        }
        nRow = 0;
    }
    nRow = std::clamp(nRow, 0, nCount - 1);
    SelectOnly(nRow);
    // While a run goes on the step plays the entry, as a double-click does.
    if (bRunning && nRow != m_nCurrent)
        OnDblclkPlayList();
}

void CPlaybackController::OnRepeat(int nRepeat)
{
    m_nRepeat = nRepeat;
    SaveSettings();
}

void CPlaybackController::OnMixing(int nLevel)
{
    m_nMixingVolume = ClampMixing(nLevel);
    SaveSettings();
    ApplyLevels(m_engine, m_nMixingVolume, m_nAlphaControl);
}

void CPlaybackController::OnAlpha(int nLevel)
{
    nLevel = ClampAlpha(nLevel);
    if (nLevel != 0 && !ConfirmAlpha())
        return;
    m_nAlphaControl = nLevel;
    SaveSettings();
    ApplyLevels(m_engine, m_nMixingVolume, m_nAlphaControl);
}

bool CPlaybackController::ConfirmAlpha()
{
    if (m_nAlphaControl != 0)
        return true;
    return m_view.AskYesNo(kAlphaQuestion);
}

void CPlaybackController::OnSetting()
{
    SPlayerSettings settings{m_nWaitMs, m_bClearSpeech, m_bSkipSilence};
    if (!m_view.ChooseSettings(settings))
        return;
    m_nWaitMs = settings.nWaitMs;
    SetModes(settings.bClearSpeech, settings.bSkipSilence);
    SaveSettings();
}
