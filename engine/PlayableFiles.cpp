#include "PlayableFiles.h"

#include <cstring>
#include <strings.h>

const char* const kPlayableExtensions[] = { "wav", "mp3", "mp2", "m4a", "m4b", "mp4", "m4v", "3gp", "aac", "ogg",
    "oga", "opus", "spx", "flac", "wv", "wma", "mka", "mkv", "webm", "ac3", "amr", "aiff", "aif", "aifc", "au",
    "caf", nullptr };

bool HasPlayableExtension(const std::string& strPath)
{
    const size_t nDot = strPath.rfind('.');
    if (nDot == std::string::npos || strPath.find('/', nDot) != std::string::npos)
        return false;
    const char* strExtension = strPath.c_str() + nDot + 1;
    for (const char* const* p = kPlayableExtensions; *p; ++p) {
        if (::strcasecmp(strExtension, *p) == 0)
            return true;
    }
    return false;
}

std::string PlayablePatternList()
{
    std::string strList;
    for (const char* const* p = kPlayableExtensions; *p; ++p)
        strList += std::string(strList.empty() ? "" : ";") + "*." + *p;
    return strList;
}
