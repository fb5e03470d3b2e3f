// The view's settings and playlist in the profile: read once at start,
// written whole after each change.
#include "VelofonPocketView.h"

#include "engine/SpeedEngine.h"

#include <algorithm>
#include <cstdio>

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

} // namespace

void CVelofonPocketView::LoadSettings()
{
    CWinApp& app = *AfxGetApp();
    m_nSpeedIdx = 10;
    // A stored index outside the speed texts is taken as the nearest bound.
    m_nSpeedIdx = std::clamp(app.GetProfileInt(kSettingsSection, "SpeedIdx", m_nSpeedIdx), 0, kSpeedIndexCount - 1);
    m_nRepeat = app.GetProfileInt(kSettingsSection, "Repeat", REPEAT_NONE);
    m_nMixingVolume = app.GetProfileInt(kSettingsSection, "MixingVolume", 50);
    m_nAlphaControl = app.GetProfileInt(kSettingsSection, "AlphaControl", 0);
    m_nFileSelect = app.GetProfileInt(kSettingsSection, "FileSelect", 1);
    const int nWait = app.GetProfileInt(kSettingsSection, "WaitSec", 0);
    m_nWaitSec = nWait <= kShortestWait ? 0 : nWait;

    CSpeedEngine& engine = TheSpeedEngine();
    engine.m_nMixingGain = m_nMixingVolume / 5;
    engine.m_nAlphaLevel = m_nAlphaControl;
    engine.m_bAlpha = m_nAlphaControl != 0 ? 1 : 0;

    const int nCount = app.GetProfileInt(kSettingsSection, "PlayListCount", 0);
    for (int i = 0; i < nCount; ++i) {
        m_PlayList.Add(app.GetProfileString(kSettingsSection, PlayFileEntryName(i), ""));
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
