#include "UriList.h"

#include <glib.h>

#include <memory>
#include <strings.h>

namespace {

const char kLocalHost[] = "localhost";

std::optional<std::string> PathOfLine(const char* strLine)
{
    if (strLine[0] == '/')
        return std::string(strLine);
    gchar* strHost = nullptr;
    std::unique_ptr<gchar, decltype(&g_free)> pPath(g_filename_from_uri(strLine, &strHost, nullptr), g_free);
    const bool bLocal = !strHost || ::strcasecmp(strHost, kLocalHost) == 0;
    g_free(strHost);
    if (!pPath || !bLocal)
        return std::nullopt;
    return std::string(pPath.get());
}

} // namespace

std::vector<std::string> PathsOfUriList(const std::string& strText)
{
    std::vector<std::string> astrPaths;
    std::unique_ptr<gchar*, decltype(&g_strfreev)> apLines(g_uri_list_extract_uris(strText.c_str()), g_strfreev);
    for (gchar** ppLine = apLines.get(); ppLine && *ppLine; ++ppLine) {
        if (std::optional<std::string> strPath = PathOfLine(*ppLine))
            astrPaths.push_back(*strPath);
    }
    return astrPaths;
}
