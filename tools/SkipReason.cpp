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
