#include "SkipReason.h"

#include "engine/SpeedEngine.h"

#include <cstdio>
#include <cstring>

std::string OpenFailureReason(const CSpeedEngine& engine)
{
    const EOpenError eError = engine.GetOpenError();
    std::string strReason = DescribeOpenError(eError);
    if (eError == EOpenError::CannotOpen && engine.GetOpenErrno() != 0)
        strReason += std::string(" (") + std::strerror(engine.GetOpenErrno()) + ")";
    if (eError == EOpenError::UnsupportedRate && engine.GetFormat())
        strReason += " (" + std::to_string(engine.GetFormat()->nSamplesPerSec) + " Hz)";
    return strReason;
}

std::string NothingPlayableReason(const CSpeedEngine& engine, double dSpeed)
{
    if (!engine.m_bEndOfInput) {
        char strSpeed[16];
        std::snprintf(strSpeed, sizeof strSpeed, "%.1f", dSpeed);
        return "sample rate " + std::to_string(engine.GetFormat()->nSamplesPerSec) + " Hz is too high to play at "
            + strSpeed + "x";
    }
    return std::string();
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
