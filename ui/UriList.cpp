#include "UriList.h"

#include <algorithm>
#include <optional>
#include <strings.h>

namespace {

const char kFileScheme[] = "file://";
const char kLocalHost[] = "localhost";

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> PercentDecoded(const std::string& strText)
{
    std::string strDecoded;
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] != '%') {
            strDecoded += strText[i];
            continue;
        }
        const int nHigh = i + 2 < strText.size() ? HexValue(strText[i + 1]) : -1;
        const int nLow = nHigh >= 0 ? HexValue(strText[i + 2]) : -1;
        // A zero byte would cut the path short wherever it is passed on.
        if (nLow < 0 || (nHigh == 0 && nLow == 0))
            return std::nullopt;
        strDecoded += static_cast<char>(nHigh * 16 + nLow);
        i += 2;
    }
    return strDecoded;
}

bool StartsWithNoCase(const std::string& strText, const char* strStart, size_t nLength)
{
    return strText.size() >= nLength && ::strncasecmp(strText.c_str(), strStart, nLength) == 0;
}

std::optional<std::string> PathOfLine(const std::string& strLine)
{
    if (!strLine.empty() && strLine[0] == '/')
        return strLine;
    const size_t nScheme = sizeof kFileScheme - 1;
    if (!StartsWithNoCase(strLine, kFileScheme, nScheme))
        return std::nullopt;
    std::string strRest = strLine.substr(nScheme);
    const size_t nHost = sizeof kLocalHost - 1;
    if (StartsWithNoCase(strRest, kLocalHost, nHost))
        strRest.erase(0, nHost);
    if (strRest.empty() || strRest[0] != '/')
        return std::nullopt;
    return PercentDecoded(strRest);
}

} // namespace

std::vector<std::string> PathsOfUriList(const std::string& strText)
{
    std::vector<std::string> astrPaths;
    for (size_t nStart = 0; nStart < strText.size();) {
        const size_t nEnd = std::min(strText.find('\n', nStart), strText.size());
        std::string strLine = strText.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        if (strLine.empty() || strLine[0] == '#')
            continue;
        if (std::optional<std::string> strPath = PathOfLine(strLine))
            astrPaths.push_back(*strPath);
    }
    return astrPaths;
}
