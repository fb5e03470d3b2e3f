// The view's settings and playlist in the profile: read once at start,
// written whole after each change.
#include "VelofonPocketView.h"

#include "engine/SpeedEngine.h"

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

void CVelofonPocketView::LoadSettings()
{
    CWinApp& app = *AfxGetApp();
    m_nSpeedIdx = 10;
    // A stored index outside the speed texts is taken as the nearest bound.
    m_nSpeedIdx = std::clamp(app.GetProfileInt(kSettingsSection, "SpeedIdx", m_nSpeedIdx), 0, kSpeedIndexCount - 1);
    m_nRepeat = app.GetProfileInt(kSettingsSection, "Repeat", REPEAT_NONE);
    // Levels outside the menus' ranges would wrap the samples into loud noise.
    m_nMixingVolume = std::clamp(app.GetProfileInt(kSettingsSection, "MixingVolume", 50), 0, 100);
    m_nAlphaControl = std::clamp(app.GetProfileInt(kSettingsSection, "AlphaControl", 0), 0, 50);
    m_nFileSelect = app.GetProfileInt(kSettingsSection, "FileSelect", 1);
    const int nWait = app.GetProfileInt(kSettingsSection, "WaitSec", 0);
    m_nWaitSec = nWait <= kShortestWait ? 0 : nWait;

    CSpeedEngine& engine = TheSpeedEngine();
    engine.m_nMixingGain = m_nMixingVolume / 5;
    engine.m_nAlphaLevel = m_nAlphaControl;
    engine.m_bAlpha = m_nAlphaControl != 0 ? 1 : 0;

    const int nCount = app.GetProfileInt(kSettingsSection, "PlayListCount", 0);
    // A missing entry loads as an empty line, up to the last stored entry.
    // More missing entries than stored ones mean a damaged file (a count or
    // an index can reach 2^31 - 1): then only the stored entries load, in
    // order, instead of the list filling with empty lines for hours.
    std::vector<int> anLines = StoredPlayFileIndexes(app.GetProfileStore(), nCount);
    const int nStored = static_cast<int>(anLines.size());
    if (nStored > 0 && anLines.back() < 2 * nStored) {
        anLines.resize(anLines.back() + 1);
        std::iota(anLines.begin(), anLines.end(), 0);
    }
    for (int nIndex : anLines) {
        m_PlayList.Add(app.GetProfileString(kSettingsSection, PlayFileEntryName(nIndex), ""));
        m_PlayListBox.AddString(m_PlayList.GetDisplayName(m_PlayList.GetCount() - 1));
    }
}

void CVelofonPocketView::SaveSettings()
{
    CWinApp& app = *AfxGetApp();
    // One replace of the settings file for the whole set.
    CProfileBatch batch(app.GetProfileStore());
    app.WriteProfileInt(kSettingsSection, "SpeedIdx", m_nSpeedIdx);
    app.WriteProfileInt(kSettingsSection, "Repeat", m_nRepeat);
    app.WriteProfileInt(kSettingsSection, "MixingVolume", m_nMixingVolume);
    app.WriteProfileInt(kSettingsSection, "AlphaControl", m_nAlphaControl);
    app.WriteProfileInt(kSettingsSection, "FileSelect", m_nFileSelect);
    app.WriteProfileInt(kSettingsSection, "WaitSec", m_nWaitSec);
    const int nCount = m_PlayList.GetCount();
    app.WriteProfileInt(kSettingsSection, "PlayListCount", nCount);
    for (int i = 0; i < nCount; ++i)
        app.WriteProfileString(kSettingsSection, PlayFileEntryName(i), m_PlayList.GetPath(i));
}
