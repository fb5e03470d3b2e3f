#include "SkipReason.h"

#include <cstdio>

void ReportSkipped(const std::string& strInput, const std::string& strReason)
{
    std::fprintf(stderr, "velofon: skipping %s: %s\n", strInput.c_str(), strReason.c_str());
}

std::string BaseName(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string FormatTime(uint64_t nSeconds)
{
    char strTime[48];
    std::snprintf(strTime, sizeof strTime, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(nSeconds / 3600),
        static_cast<unsigned long long>(nSeconds / 60 % 60), static_cast<unsigned long long>(nSeconds % 60));
    return strTime;
}

std::string FormatClock(uint64_t nSeconds)
{
    char strTime[48];
    std::snprintf(strTime, sizeof strTime, "%llu:%02llu:%02llu", static_cast<unsigned long long>(nSeconds / 3600),
        static_cast<unsigned long long>(nSeconds / 60 % 60), static_cast<unsigned long long>(nSeconds % 60));
    return strTime;
}

std::string FormatFrameTime(uint64_t nFrames, uint32_t nRate)
{
    if (nRate == 0)
        return FormatClock(0) + ".000";
    // In two parts, so that no product leaves 64 bits.
    const uint64_t nMilliseconds = nFrames % nRate * 1000 / nRate;
    char strMilliseconds[8];
    std::snprintf(strMilliseconds, sizeof strMilliseconds, ".%03u", static_cast<unsigned>(nMilliseconds));
    return FormatClock(nFrames / nRate) + strMilliseconds;
}
