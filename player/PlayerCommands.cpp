// The player's start and its commands besides playback: the speed steps,
// the select-all bar, the playlist, repeat, Mixing, Alpha and the pause
// between files. Each command that changes a setting or the playlist saves
// everything, and a failed save is told.
#include "PlaybackController.h"

#include "engine/PlayableFiles.h"
#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/audio/WaveOut.h"
#include "platform/positions/PositionStore.h"
#include "platform/settings/ProfileStore.h"

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
    case EPlayerCommand::SetSleepTimer:
        OnSleepTimer(nLevel);
        break;
    case EPlayerCommand::ToggleTimeDisplay:
        OnToggleTimeDisplay();
        break;
    case EPlayerCommand::NextChapter:
    case EPlayerCommand::PreviousChapter:
        OnChapterStep(eCommand == EPlayerCommand::NextChapter);
        break;
    case EPlayerCommand::SeekToChapter:
        OnSeekToChapter(nLevel);
        break;
    case EPlayerCommand::ShowSelected:
        ShowStoppedPlace();
        break;
    }
}

void CPlaybackController::ChangeSpeed(int nDelta)
{
    m_nSpeedIdx = ClampSpeedIndex(m_nSpeedIdx + nDelta);
    // The step is the player's speed too, and the book's at its next place.
    m_nPlayerSpeedIdx = m_nSpeedIdx;
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
    SPlayerSettings settings{m_nWaitMs, m_bClearSpeech, m_bSkipSilence, m_bSpeedPerBook, m_bRewindOnResume};
    if (!m_view.ChooseSettings(settings))
        return;
    m_nWaitMs = settings.nWaitMs;
    SetModes(settings.bClearSpeech, settings.bSkipSilence);
    SetBookSwitches(settings.bSpeedPerBook, settings.bRewindOnResume);
    SaveSettings();
}

void CPlaybackController::Start()
{
    LoadSettings();
    m_view.SetSpeedText(SpeedText(m_nSpeedIdx));
    m_ePhase = ERunPhase::Idle;
    UpdateStopButton();
    // Idle shows Play; Pause shares its place.
    m_view.ShowPlayButton(true);
    UpdateCaption();
    // Play continues the entry that played last.
    const int nLastPlayed = m_strLastPlayed.empty() ? -1 : m_PlayList.IndexOf(m_strLastPlayed);
    if (nLastPlayed >= 0)
        SelectOnly(nLastPlayed);
    ShowStoppedPlace();
    ShowFileProblems();
}

// Everything the start found, in one message: damaged files, which the first
// save keeps aside, and files this session cannot save, whose failed saves
// are not told again.
void CPlaybackController::ShowFileProblems()
{
    const CSettingsFile& settings = m_profile.GetFile();
    const std::string& strSettingsReason = settings.GetReadOnlyReason();
    const CPositionStore* pPositions = m_places.GetStore();
    const std::string strPositionsReason = pPositions ? pPositions->GetReadOnlyReason() : "";
    const std::string strPositionsDamaged = pPositions ? pPositions->GetDamagedCopy() : "";
    m_bSettingsFailureShown = !strSettingsReason.empty();
    m_bPositionsFailureShown = !strPositionsReason.empty();
    std::string strMessage;
    const auto add = [&strMessage](const std::string& strProblem) {
        strMessage += (strMessage.empty() ? "" : "\n\n") + strProblem;
    };
    // Without the lock both share one reason.
    if (!strSettingsReason.empty())
        add(NotSavingThisRunMessage(strSettingsReason, true, strPositionsReason == strSettingsReason));
    if (!strPositionsReason.empty() && strPositionsReason != strSettingsReason)
        add(NotSavingThisRunMessage(strPositionsReason, false, true));
    if (strSettingsReason.empty() && !settings.GetDamagedCopy().empty())
        add(DamagedSettingsMessage(settings.GetDamagedCopy()));
    if (strPositionsReason.empty() && !strPositionsDamaged.empty())
        add(DamagedPositionsMessage(strPositionsDamaged));
    if (!strMessage.empty())
        m_view.ShowMessage(strMessage);
}

void CPlaybackController::ReportSave(bool bSaved, const std::string& strError, const char* strWhat, bool& bFailureShown)
{
    if (bSaved || bFailureShown) {
        bFailureShown = !bSaved;
        return;
    }
    // Set before the message shows: its loop may run another save.
    bFailureShown = true;
    m_view.ShowMessage(SaveFailedMessage(strWhat, strError));
}

void CPlaybackController::LoadSettings()
{
    const SPlayerProfile settings = ReadPlayerProfile(m_profile);
    m_nSpeedIdx = settings.nSpeedIdx;
    m_nPlayerSpeedIdx = settings.nSpeedIdx;
    m_nRepeat = settings.nRepeat;
    m_nMixingVolume = settings.nMixingVolume;
    m_nAlphaControl = settings.nAlphaControl;
    m_nFileSelect = settings.nFileSelect;
    m_nWaitMs = settings.nWaitMs;
    m_strBrowseFolder = settings.strBrowseFolder;
    m_strLastPlayed = settings.strLastPlayed;
    m_bClearSpeech = settings.bClearSpeech;
    m_bSkipSilence = settings.bSkipSilence;
    m_bSpeedPerBook = settings.bSpeedPerBook;
    m_bRewindOnResume = settings.bRewindOnResume;
    m_nTimeDisplay = settings.nTimeDisplay;
    ApplyLevels(m_engine, m_nMixingVolume, m_nAlphaControl);
    ApplyModes();
    for (const std::string& strPath : settings.astrPlayList)
        AddToPlayList(strPath);
}

void CPlaybackController::SaveSettings()
{
    SPlayerProfile settings;
    settings.nSpeedIdx = m_nPlayerSpeedIdx;
    settings.nRepeat = m_nRepeat;
    settings.nMixingVolume = m_nMixingVolume;
    settings.nAlphaControl = m_nAlphaControl;
    settings.nFileSelect = m_nFileSelect;
    settings.nWaitMs = m_nWaitMs;
    settings.strBrowseFolder = m_strBrowseFolder;
    settings.strLastPlayed = m_strLastPlayed;
    settings.bClearSpeech = m_bClearSpeech;
    settings.bSkipSilence = m_bSkipSilence;
    settings.bSpeedPerBook = m_bSpeedPerBook;
    settings.bRewindOnResume = m_bRewindOnResume;
    settings.nTimeDisplay = m_nTimeDisplay;
    for (int i = 0; i < m_PlayList.GetCount(); ++i)
        settings.astrPlayList.push_back(m_PlayList.GetPath(i));
    const bool bSaved = WritePlayerProfile(m_profile, settings);
    ReportSave(bSaved, m_profile.GetFile().GetError(), kSettingsWord, m_bSettingsFailureShown);
}
