// The speed and level options that every velofon command takes, parsed and
// checked in one place, and how they are handed to the engine.
#pragma once

#include "engine/SpeedSteps.h"

#include <functional>
#include <string>
#include <vector>

struct SPlaybackOptions {
    int nSpeedIdx = kDefaultSpeedIndex; // 0..30 for 1.0x..4.0x
    int nMixing = kDefaultMixing;       // percent
    int nAlpha = 0;                     // percent, 0 = tones off

    double Speed() const { return SpeedOfIndex(nSpeedIdx); }
    void ApplyLevels(CSpeedEngine& engine) const { ::ApplyLevels(engine, nMixing, nAlpha); }

    // Takes argv[i] (and its value, advancing i) when it is one of
    // --speed-index, --speed, --mixing, --alpha, as "--opt V" or "--opt=V".
    // Returns false when argv[i] is not one of them; throws std::invalid_argument
    // with a message for a missing or bad value, or for --speed after
    // --speed-index (or the other way round).
    bool Parse(int argc, char** argv, int& i);

private:
    const char* m_strSpeedOption = nullptr; // the speed option given so far
};

// The help lines of the options above.
extern const char kPlaybackOptionsHelp[];

// For "--opt V" and "--opt=V": true when argv[i] is option strName; puts the
// value in strValue, advancing i past a separate value.
bool TakeOptionValue(int argc, char** argv, int& i, const char* strName, std::string& strValue);

// The command line of a command that plays or renders files: its playback
// options, its inputs and, through TakeExtra, options of its own.
struct SCommandLine {
    const char* strUsageLine;
    // Printed for --help: the usage line, strAbout, the playback options, strExitHelp.
    const char* strAbout;
    const char* strExitHelp;
    // Takes argv[i] (advancing i past a value) when it is an option of the
    // command; may throw std::invalid_argument. Null for none.
    std::function<bool(int argc, char** argv, int& i)> TakeExtra;

    SPlaybackOptions options;
    std::vector<std::string> astrInputs;

    // Returns -1 when the arguments are complete, otherwise the exit status
    // (after printing the help or a usage error).
    int Parse(int argc, char** argv);
    // Prints "velofon: MESSAGE" and the usage line; returns the usage status.
    int UsageError(const std::string& strMessage) const;
};
