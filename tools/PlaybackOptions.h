// The speed, level and start options that every velofon command takes,
// parsed and checked in one place, and how they are handed to the engine.
#pragma once

#include "engine/SpeedSteps.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A time as the user wrote it, kept exact: "0.29" of a second at 44100 Hz is
// frame 12789, which a double would round down to 12788.
struct SStartTime {
    uint64_t nWholeSeconds = 0;
    std::string strDecimals; // the digits after the decimal point

    // The time times nRate, rounded down; never overflows (see ParseStartTime).
    uint64_t Frame(uint32_t nRate) const;
    bool IsBefore(const SStartTime& other) const;
};

// "90", "90.5", "1:30", "1:30.25", "1:02:03", "1:02:03.5": seconds, M:SS or
// H:MM:SS, with decimals on the seconds. Throws std::invalid_argument with a
// message for anything else, and for times whose frame at the highest rate a
// file can declare would not fit 64 bits; the message names strOption.
SStartTime ParseStartTime(const std::string& strTime, const std::string& strOption = "--start");

// The whole number strValue, from nMin to nMax; throws std::invalid_argument
// with a message naming strOption otherwise.
long ParseWholeNumber(const std::string& strOption, const std::string& strValue, long nMin, long nMax);

struct SPlaybackOptions {
    int nSpeedIdx = kDefaultSpeedIndex; // 0..30 for 1.0x..4.0x
    int nMixing = kDefaultMixing;       // percent
    int nAlpha = 0;                     // percent, 0 = tones off
    SStartTime start;                   // of the first input only
    std::string strStart;               // as given, for messages

    bool bClear = false;                // the clear mode
    bool bSkipSilence = false;          // long pauses shortened

    double Speed() const { return SpeedOfIndex(nSpeedIdx); }
    // The levels and the modes, for the files the engine opens from now on.
    void ApplyTo(CSpeedEngine& engine) const;
    // Moves the engine, which has just opened strInput, to where the input
    // starts: the --start time for the first input, the beginning for the
    // others. False, after a warning, when --start lies at or past its end.
    bool SeekToStart(CSpeedEngine& engine, const std::string& strInput, bool bFirstInput) const;

    // Takes argv[i] (and its value, advancing i) when it is one of
    // --speed-index, --speed, --mixing, --alpha, --start, as "--opt V" or
    // "--opt=V", or --clear or --skip-silence.
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
