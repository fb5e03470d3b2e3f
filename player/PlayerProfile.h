// The player's settings and playlist as the profile keeps them, in the
// section "VelofonSettings": read once at start, written whole, as one
// replace of the file, after each change.
#pragma once

#include "engine/SpeedSteps.h"

#include <string>
#include <vector>

class CProfileStore;

extern const char kSettingsSection[];

constexpr int REPEAT_NONE = 0;
constexpr int REPEAT_ALL = 1;
constexpr int REPEAT_ONE = 2;

// The profile entry of playlist entry nIndex: "PlayFile%05d".
std::string PlayFileEntryName(int nIndex);

struct SPlayerProfile {
    int nSpeedIdx = kDefaultSpeedIndex;
    int nRepeat = REPEAT_NONE;
    int nMixingVolume = kDefaultMixing;
    int nAlphaControl = 0;
    int nFileSelect = 1;
    // The pause between files in milliseconds, which "WaitSec" has always
    // held despite its name.
    int nWaitMs = 0;
    std::string strBrowseFolder;
    std::string strLastPlayed;
    bool bClearSpeech = false;
    bool bSkipSilence = false;
    bool bSpeedPerBook = true;
    bool bRewindOnResume = true;
    int nTimeDisplay = 0; // TIME_*
    std::vector<std::string> astrPlayList;
};

// What the profile holds, each value within its bounds; missing values read
// as their defaults.
SPlayerProfile ReadPlayerProfile(const CProfileStore& profile);
// False when the file could not be replaced (the file's error says why).
bool WritePlayerProfile(CProfileStore& profile, const SPlayerProfile& settings);
