#include "PlaybackOptions.h"

#include "Commands.h"
#include "SkipReason.h"

#include "engine/SpeedEngine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

const char kPlaybackOptionsHelp[] =
    "  --speed-index K  speed step 0..30 (1.0x..4.0x), default 10 (2.0x)\n"
    "  --speed S        speed 1.0..4.0 in steps of 0.1\n"
    "  --mixing P       speech level 0..100 percent, default 50\n"
    "  --alpha P        Alpha tone level 0..50 percent, default 0 (off)\n"
    "  --start TIME     start the first input at TIME: seconds (90, 90.5),\n"
    "                   M:SS (1:30.25) or H:MM:SS (1:02:03)\n"
    "  --clear          clear mode: shortens speech by whole pitch periods and\n"
    "                   pauses before words, for speech that stays clear at speed\n"
    "  --skip-silence   shortens pauses of 150 ms or more beyond the speed, to\n"
    "                   30 % of their length (at least 0.15 s, at most 0.7 s)\n";

long ParseWholeNumber(const std::string& strOption, const std::string& strValue, long nMin, long nMax)
{
    char* pEnd = nullptr;
    errno = 0;
    const long nValue = std::strtol(strValue.c_str(), &pEnd, 10);
    if (strValue.empty() || *pEnd != '\0' || errno != 0 || nValue < nMin || nValue > nMax)
        throw std::invalid_argument(strOption + " takes a whole number from " + std::to_string(nMin) + " to "
            + std::to_string(nMax) + ", not '" + strValue + "'");
    return nValue;
}

namespace {

int ParseSpeed(const std::string& strValue)
{
    char* pEnd = nullptr;
    errno = 0;
    const double dSpeed = std::strtod(strValue.c_str(), &pEnd);
    const double dTenths = dSpeed * 10;
    if (strValue.empty() || *pEnd != '\0' || errno != 0 || !(dTenths > 9.999 && dTenths < 40.001)
        || std::fabs(dTenths - std::round(dTenths)) > 1e-6)
        throw std::invalid_argument("--speed takes 1.0 to 4.0 in steps of 0.1, not '" + strValue + "'");
    return static_cast<int>(std::lround(dTenths)) - 10;
}

// Any frame of a start below this many seconds fits 64 bits, at every rate
// a file can declare.
constexpr uint64_t kMaxStartSeconds = UINT32_MAX;

bool IsDigits(const std::string& str)
{
    return !str.empty() && str.find_first_not_of("0123456789") == std::string::npos;
}

// The whole number of a field of digits, or more than kMaxStartSeconds.
uint64_t CappedNumber(const std::string& strDigits)
{
    uint64_t nValue = 0;
    for (const char c : strDigits) {
        nValue = nValue * 10 + static_cast<uint64_t>(c - '0');
        if (nValue > kMaxStartSeconds)
            return kMaxStartSeconds + 1;
    }
    return nValue;
}

} // namespace

uint64_t SStartTime::Frame(uint32_t nRate) const
{
    // The decimals times the rate, rounded down, by long multiplication
    // from the last digit: each carry is the rounded-down tenth of the sum.
    uint64_t nCarry = 0;
    for (auto it = strDecimals.rbegin(); it != strDecimals.rend(); ++it)
        nCarry = (static_cast<uint64_t>(*it - '0') * nRate + nCarry) / 10;
    return nWholeSeconds * nRate + nCarry;
}

bool SStartTime::IsBefore(const SStartTime& other) const
{
    if (nWholeSeconds != other.nWholeSeconds)
        return nWholeSeconds < other.nWholeSeconds;
    // Decimals of one length compare as their digits do.
    const size_t nDigits = std::max(strDecimals.size(), other.strDecimals.size());
    std::string strMine = strDecimals;
    std::string strOther = other.strDecimals;
    strMine.resize(nDigits, '0');
    strOther.resize(nDigits, '0');
    return strMine < strOther;
}

SStartTime ParseStartTime(const std::string& strTime, const std::string& strOption)
{
    const std::invalid_argument badForm(
        strOption + " takes seconds (90, 90.5), M:SS (1:30) or H:MM:SS (1:02:03), not '" + strTime + "'");
    std::vector<std::string> astrFields(1);
    for (const char c : strTime) {
        if (c == ':')
            astrFields.emplace_back();
        else
            astrFields.back() += c;
    }
    if (astrFields.size() > 3)
        throw badForm;
    SStartTime time;
    std::string& strSeconds = astrFields.back();
    const size_t nPoint = strSeconds.find('.');
    if (nPoint != std::string::npos) {
        time.strDecimals = strSeconds.substr(nPoint + 1);
        strSeconds.resize(nPoint);
        if (!IsDigits(time.strDecimals))
            throw badForm;
    }
    uint64_t nSeconds = 0;
    for (size_t nField = 0; nField < astrFields.size(); ++nField) {
        const std::string& strField = astrFields[nField];
        // After a colon come two digits, below 60.
        if (!IsDigits(strField) || (nField > 0 && (strField.size() != 2 || strField[0] > '5')))
            throw badForm;
        nSeconds = std::min(nSeconds * 60 + CappedNumber(strField), kMaxStartSeconds + 1);
    }
    if (nSeconds > kMaxStartSeconds)
        throw std::invalid_argument(strOption + " " + strTime + " is too large: at most " + std::to_string(kMaxStartSeconds)
            + " seconds (about 136 years)");
    time.nWholeSeconds = nSeconds;
    return time;
}

void SPlaybackOptions::ApplyTo(CSpeedEngine& engine) const
{
    ApplyLevels(engine, nMixing, nAlpha);
    engine.SetClearSpeech(bClear);
    engine.SetSkipSilence(bSkipSilence);
}

bool SPlaybackOptions::SeekToStart(CSpeedEngine& engine, const std::string& strInput, bool bFirstInput) const
{
    const uint64_t nFrame = bFirstInput ? start.Frame(engine.GetFormat()->nSamplesPerSec) : 0;
    engine.SeekFrame(nFrame);
    const uint64_t nLength = engine.SoundFile().GetLengthFrames();
    if (nFrame == 0 || nFrame < nLength)
        return true;
    std::fprintf(stderr, "velofon: warning: --start %s is at or past the end of %s (%s); leaving it out\n",
        strStart.c_str(), strInput.c_str(), FormatTime(nLength / engine.GetFormat()->nSamplesPerSec).c_str());
    return false;
}

bool TakeOptionValue(int argc, char** argv, int& i, const char* strName, std::string& strValue)
{
    const size_t nNameLength = std::strlen(strName);
    const char* strArg = argv[i];
    if (std::strncmp(strArg, strName, nNameLength) != 0)
        return false;
    if (strArg[nNameLength] == '=') {
        strValue = strArg + nNameLength + 1;
        return true;
    }
    if (strArg[nNameLength] != '\0')
        return false;
    if (i + 1 >= argc)
        throw std::invalid_argument(std::string(strName) + " needs a value");
    strValue = argv[++i];
    return true;
}

bool SPlaybackOptions::Parse(int argc, char** argv, int& i)
{
    if (std::strcmp(argv[i], "--clear") == 0) {
        bClear = true;
        return true;
    }
    if (std::strcmp(argv[i], "--skip-silence") == 0) {
        bSkipSilence = true;
        return true;
    }
    std::string strValue;
    const char* strSpeedOption = nullptr;
    if (TakeOptionValue(argc, argv, i, "--speed-index", strValue)) {
        strSpeedOption = "--speed-index";
        nSpeedIdx = static_cast<int>(ParseWholeNumber("--speed-index", strValue, 0, kSpeedIndexCount - 1));
    } else if (TakeOptionValue(argc, argv, i, "--speed", strValue)) {
        strSpeedOption = "--speed";
        nSpeedIdx = ParseSpeed(strValue);
    } else if (TakeOptionValue(argc, argv, i, "--mixing", strValue)) {
        nMixing = static_cast<int>(ParseWholeNumber("--mixing", strValue, 0, kMaxMixing));
    } else if (TakeOptionValue(argc, argv, i, "--alpha", strValue)) {
        nAlpha = static_cast<int>(ParseWholeNumber("--alpha", strValue, 0, kMaxAlpha));
    } else if (TakeOptionValue(argc, argv, i, "--start", strValue)) {
        start = ParseStartTime(strValue);
        strStart = strValue;
    } else {
        return false;
    }
    // Both say the same thing; which one was meant is anybody's guess.
    if (strSpeedOption && m_strSpeedOption && std::strcmp(strSpeedOption, m_strSpeedOption) != 0)
        throw std::invalid_argument("give either --speed or --speed-index, not both");
    if (strSpeedOption)
        m_strSpeedOption = strSpeedOption;
    return true;
}

int SCommandLine::UsageError(const std::string& strMessage) const
{
    std::fprintf(stderr, "velofon: %s\n", strMessage.c_str());
    std::fputs(strUsageLine, stderr);
    return kExitUsage;
}

int SCommandLine::Parse(int argc, char** argv)
{
    bool bOptionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (bOptionsEnded || strArg == "-" || strArg.empty() || strArg[0] != '-') {
            astrInputs.push_back(strArg);
            continue;
        }
        if (strArg == "--help" || strArg == "-h") {
            std::printf("%s%s%s%s", strUsageLine, strAbout, kPlaybackOptionsHelp, strExitHelp);
            return kExitOk;
        }
        try {
            if (strArg == "--")
                bOptionsEnded = true;
            else if (!(TakeExtra && TakeExtra(argc, argv, i)) && !options.Parse(argc, argv, i))
                return UsageError("unknown option '" + strArg + "'");
        } catch (const std::invalid_argument& error) {
            return UsageError(error.what());
        }
    }
    if (astrInputs.empty())
        return UsageError("no input files given");
    return -1;
}
