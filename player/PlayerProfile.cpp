#include "PlayerProfile.h"

#include "platform/settings/ProfileStore.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <numeric>

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

// The index of a playlist entry name as WritePlayerProfile writes it, or -1.
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

SPlayerProfile ReadPlayerProfile(const CProfileStore& profile)
{
    SPlayerProfile settings;
    settings.nSpeedIdx = ClampSpeedIndex(profile.GetProfileInt(kSettingsSection, "SpeedIdx", kDefaultSpeedIndex));
    settings.nRepeat = profile.GetProfileInt(kSettingsSection, "Repeat", REPEAT_NONE);
    settings.nMixingVolume = ClampMixing(profile.GetProfileInt(kSettingsSection, "MixingVolume", kDefaultMixing));
    settings.nAlphaControl = ClampAlpha(profile.GetProfileInt(kSettingsSection, "AlphaControl", 0));
    settings.nFileSelect = profile.GetProfileInt(kSettingsSection, "FileSelect", 1);
    const int nWait = profile.GetProfileInt(kSettingsSection, "WaitSec", 0);
    settings.nWaitMs = nWait <= kShortestWait ? 0 : nWait;
    settings.strBrowseFolder = profile.GetProfileString(kSettingsSection, "BrowseFolder", "");
    settings.strLastPlayed = profile.GetProfileString(kSettingsSection, "LastPlayed", "");
    // Settings written before the modes existed read as both off.
    settings.bClearSpeech = profile.GetProfileInt(kSettingsSection, "ClearSpeech", 0) != 0;
    settings.bSkipSilence = profile.GetProfileInt(kSettingsSection, "SkipSilence", 0) != 0;
    // Those written before books kept their speeds and resuming went back read as on.
    settings.bSpeedPerBook = profile.GetProfileInt(kSettingsSection, "SpeedPerBook", 1) != 0;
    settings.bRewindOnResume = profile.GetProfileInt(kSettingsSection, "RewindOnResume", 1) != 0;
    settings.nTimeDisplay = std::clamp(profile.GetProfileInt(kSettingsSection, "TimeDisplay", 0), 0, 2);

    const int nCount = profile.GetProfileInt(kSettingsSection, "PlayListCount", 0);
    // A missing entry loads as an empty line, up to the last stored entry.
    // More missing entries than stored ones mean a damaged file (a count or
    // an index can reach 2^31 - 1): then only the stored entries load, in
    // order, instead of the list filling with empty lines for hours.
    std::vector<int> anLines = StoredPlayFileIndexes(profile, nCount);
    const int nStored = static_cast<int>(anLines.size());
    if (nStored > 0 && anLines.back() < 2 * nStored) {
        anLines.resize(static_cast<size_t>(anLines.back()) + 1);
        std::iota(anLines.begin(), anLines.end(), 0);
    }
    for (int nIndex : anLines)
        settings.astrPlayList.push_back(profile.GetProfileString(kSettingsSection, PlayFileEntryName(nIndex), ""));
    return settings;
}

bool WritePlayerProfile(CProfileStore& profile, const SPlayerProfile& settings)
{
    profile.BeginBatch();
    profile.WriteProfileInt(kSettingsSection, "SpeedIdx", settings.nSpeedIdx);
    profile.WriteProfileInt(kSettingsSection, "Repeat", settings.nRepeat);
    profile.WriteProfileInt(kSettingsSection, "MixingVolume", settings.nMixingVolume);
    profile.WriteProfileInt(kSettingsSection, "AlphaControl", settings.nAlphaControl);
    profile.WriteProfileInt(kSettingsSection, "FileSelect", settings.nFileSelect);
    profile.WriteProfileInt(kSettingsSection, "WaitSec", settings.nWaitMs);
    profile.WriteProfileString(kSettingsSection, "BrowseFolder", settings.strBrowseFolder);
    profile.WriteProfileString(kSettingsSection, "LastPlayed", settings.strLastPlayed);
    profile.WriteProfileInt(kSettingsSection, "ClearSpeech", settings.bClearSpeech ? 1 : 0);
    profile.WriteProfileInt(kSettingsSection, "SkipSilence", settings.bSkipSilence ? 1 : 0);
    profile.WriteProfileInt(kSettingsSection, "SpeedPerBook", settings.bSpeedPerBook ? 1 : 0);
    profile.WriteProfileInt(kSettingsSection, "RewindOnResume", settings.bRewindOnResume ? 1 : 0);
    profile.WriteProfileInt(kSettingsSection, "TimeDisplay", settings.nTimeDisplay);
    const int nCount = static_cast<int>(settings.astrPlayList.size());
    profile.WriteProfileInt(kSettingsSection, "PlayListCount", nCount);
    for (int i = 0; i < nCount; ++i)
        profile.WriteProfileString(kSettingsSection, PlayFileEntryName(i), settings.astrPlayList[static_cast<size_t>(i)]);
    return profile.EndBatch();
}
