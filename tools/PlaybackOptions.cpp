#include "PlaybackOptions.h"

#include "Commands.h"

#include "engine/SpeedEngine.h"

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
    "  --alpha P        Alpha tone level 0..50 percent, default 0 (off)\n";

namespace {

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

} // namespace

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
