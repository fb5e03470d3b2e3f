// The view's settings and playlist in the profile: read once at start,
// written whole after each change; and what the player tells of its files.
#include "PlaybackController.h"

#include "engine/SpeedEngine.h"
#include "platform/positions/PositionStore.h"
#include "platform/settings/ProfileStore.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <numeric>
#include <vector>

const char kSettingsSection[] = "VelofonSettings";

std::string PlayFileEntryName(int nIndex)
{
    char strName[32];
    std::snprintf(strName, sizeof strName, "PlayFile%05d", nIndex);
    return strName;
}

namespace {

// Waits of 10 ms or less, and negative ones, are no wait.
constexpr int kShortestWait = 10;

// The index of a playlist entry name as SaveSettings writes it, or -1.
int PlayFileIndexOf(const std::string& strName)
{
    const std::string strPrefix = "PlayFile";
    if (strName.compare(0, strPrefix.size(), strPrefix) != 0)
        return -1;
    int nIndex = -1;
    const char* pEnd = strName.data() + strName.size();
    const auto [pStop, error] = std::from_chars(strName.data() + strPrefix.size(), pEnd, nIndex);
    if (error != std::errc() || pStop != pEnd || nIndex < 0 || PlayFileEntryName(nIndex) != strName)
        return -1;
    return nIndex;
}

// The indexes of the playlist entries stored below nCount, in order.
std::vector<int> StoredPlayFileIndexes(const CProfileStore& profile, int nCount)
{
    std::vector<int> anIndexes;
    for (const std::string& strName : profile.GetEntryNames(kSettingsSection)) {
        const int nIndex = PlayFileIndexOf(strName);
        if (nIndex >= 0 && nIndex < nCount)
            anIndexes.push_back(nIndex);
    }
    std::sort(anIndexes.begin(), anIndexes.end());
    return anIndexes;
}

} // namespace

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
    const std::string strPositionsReason = m_pPositions ? m_pPositions->GetReadOnlyReason() : "";
    const std::string strPositionsDamaged = m_pPositions ? m_pPositions->GetDamagedCopy() : "";
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
    const CProfileStore& profile = m_profile;
    m_nSpeedIdx = ClampSpeedIndex(profile.GetProfileInt(kSettingsSection, "SpeedIdx", kDefaultSpeedIndex));
    m_nRepeat = profile.GetProfileInt(kSettingsSection, "Repeat", REPEAT_NONE);
    m_nMixingVolume = ClampMixing(profile.GetProfileInt(kSettingsSection, "MixingVolume", kDefaultMixing));
    m_nAlphaControl = ClampAlpha(profile.GetProfileInt(kSettingsSection, "AlphaControl", 0));
    m_nFileSelect = profile.GetProfileInt(kSettingsSection, "FileSelect", 1);
    const int nWait = profile.GetProfileInt(kSettingsSection, "WaitSec", 0);
    m_nWaitMs = nWait <= kShortestWait ? 0 : nWait;
    m_strBrowseFolder = profile.GetProfileString(kSettingsSection, "BrowseFolder", "");
    m_strLastPlayed = profile.GetProfileString(kSettingsSection, "LastPlayed", "");
    // Settings written before the modes existed read as both off.
    m_bClearSpeech = profile.GetProfileInt(kSettingsSection, "ClearSpeech", 0) != 0;
    m_bSkipSilence = profile.GetProfileInt(kSettingsSection, "SkipSilence", 0) != 0;
    ApplyLevels(m_engine, m_nMixingVolume, m_nAlphaControl);
    ApplyModes();

    const int nCount = profile.GetProfileInt(kSettingsSection, "PlayListCount", 0);
    // A missing entry loads as an empty line, up to the last stored entry.
    // More missing entries than stored ones mean a damaged file (a count or
    // an index can reach 2^31 - 1): then only the stored entries load, in
    // order, instead of the list filling with empty lines for hours.
    std::vector<int> anLines = StoredPlayFileIndexes(profile, nCount);
    const int nStored = static_cast<int>(anLines.size());
    if (nStored > 0 && anLines.back() < 2 * nStored) {
        anLines.resize(anLines.back() + 1);
        std::iota(anLines.begin(), anLines.end(), 0);
    }
    for (int nIndex : anLines)
        AddToPlayList(profile.GetProfileString(kSettingsSection, PlayFileEntryName(nIndex), ""));
}

void CPlaybackController::SaveSettings()
{
    // One replace of the settings file for the whole set.
    m_profile.BeginBatch();
    m_profile.WriteProfileInt(kSettingsSection, "SpeedIdx", m_nSpeedIdx);
    m_profile.WriteProfileInt(kSettingsSection, "Repeat", m_nRepeat);
    m_profile.WriteProfileInt(kSettingsSection, "MixingVolume", m_nMixingVolume);
    m_profile.WriteProfileInt(kSettingsSection, "AlphaControl", m_nAlphaControl);
    m_profile.WriteProfileInt(kSettingsSection, "FileSelect", m_nFileSelect);
    m_profile.WriteProfileInt(kSettingsSection, "WaitSec", m_nWaitMs);
    m_profile.WriteProfileString(kSettingsSection, "BrowseFolder", m_strBrowseFolder);
    m_profile.WriteProfileString(kSettingsSection, "LastPlayed", m_strLastPlayed);
    m_profile.WriteProfileInt(kSettingsSection, "ClearSpeech", m_bClearSpeech ? 1 : 0);
    m_profile.WriteProfileInt(kSettingsSection, "SkipSilence", m_bSkipSilence ? 1 : 0);
    const int nCount = m_PlayList.GetCount();
    m_profile.WriteProfileInt(kSettingsSection, "PlayListCount", nCount);
    for (int i = 0; i < nCount; ++i)
        m_profile.WriteProfileString(kSettingsSection, PlayFileEntryName(i), m_PlayList.GetPath(i));
    const bool bSaved = m_profile.EndBatch();
    ReportSave(bSaved, m_profile.GetFile().GetError(), kSettingsWord, m_bSettingsFailureShown);
}
