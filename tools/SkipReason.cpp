#include "SkipReason.h"

#include "engine/SpeedEngine.h"

#include <cstdio>
#include <cstring>

std::string OpenFailureReason(const CSpeedEngine& engine)
{
    return engine.GetOpenErrorText();
}

void ReportSkipped(const std::string& strInput, const std::string& strReason)
{
    std::fprintf(stderr, "velofon: skipping %s: %s\n", strInput.c_str(), strReason.c_str());
}

std::string BaseName(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}
