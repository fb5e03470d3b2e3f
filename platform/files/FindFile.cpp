#include "FindFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>

struct SFindHandle {
    DIR* pDir = nullptr;
    std::string strPattern;
};

namespace {

char FoldAscii(char c)
{
    // Only ASCII letters fold: the bytes of a UTF-8 sequence stay as they are.
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Iterative matching that returns to the last '*' on a mismatch: linear
// space, no recursion, whatever the name.
bool MatchWildcard(const std::string& strName, std::string_view strPattern)
{
    size_t nName = 0;
    size_t nPattern = 0;
    size_t nStarPattern = std::string_view::npos;
    size_t nStarName = 0;
    while (nName < strName.size()) {
        if (nPattern < strPattern.size() && strPattern[nPattern] == '*') {
            nStarPattern = nPattern++;
            nStarName = nName;
            continue;
        }
        if (nPattern < strPattern.size() && strPattern[nPattern] == '?') {
            ++nPattern;
            ++nName;
            while (nName < strName.size() && IsContinuationByte(strName[nName]))
                ++nName;
            continue;
        }
        if (nPattern < strPattern.size() && FoldAscii(strPattern[nPattern]) == FoldAscii(strName[nName])) {
            ++nPattern;
            ++nName;
            continue;
        }
        if (nStarPattern == std::string_view::npos)
            return false;
        // The '*' takes one more whole character and the rest is tried again.
        nPattern = nStarPattern + 1;
        ++nStarName;
        while (nStarName < strName.size() && IsContinuationByte(strName[nStarName]))
            ++nStarName;
        nName = nStarName;
    }
    while (nPattern < strPattern.size() && strPattern[nPattern] == '*')
        ++nPattern;
    return nPattern == strPattern.size();
}

bool MatchesOnePattern(const std::string& strName, std::string_view strPattern)
{
    if (MatchWildcard(strName, strPattern))
        return true;
    // "name.*" also stands for "name" without any extension.
    const size_t nLength = strPattern.size();
    return nLength >= 2 && strPattern.substr(nLength - 2) == ".*" &&
        MatchWildcard(strName, strPattern.substr(0, nLength - 2));
}

// A link counts as what it points to; a broken one as a file. DT_UNKNOWN
// (some file systems) asks the file system as well.
uint32_t AttributesOf(DIR* pDir, const dirent& entry)
{
    bool bFolder = entry.d_type == DT_DIR;
    if (entry.d_type == DT_LNK || entry.d_type == DT_UNKNOWN) {
        struct stat status {};
        bFolder = ::fstatat(::dirfd(pDir), entry.d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
    }
    return bFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

bool ReadNextMatch(SFindHandle& find, SFindData* pData)
{
    while (const dirent* pEntry = ::readdir(find.pDir)) {
        if (!MatchesFilePattern(pEntry->d_name, find.strPattern))
            continue;
        if (pData) {
            pData->cFileName = pEntry->d_name;
            pData->dwFileAttributes = AttributesOf(find.pDir, *pEntry);
        }
        return true;
    }
    return false;
}

} // namespace

bool MatchesFilePattern(const std::string& strName, const std::string& strPattern)
{
    // The list is read in place: this runs for every entry of a folder.
    const std::string_view strList(strPattern);
    size_t nStart = 0;
    for (;;) {
        const size_t nEnd = strList.find(';', nStart);
        if (MatchesOnePattern(strName, strList.substr(nStart, nEnd - nStart)))
            return true;
        if (nEnd == std::string_view::npos)
            return false;
        nStart = nEnd + 1;
    }
}

HANDLE FindFirstFile(const std::string& strSearch, SFindData* pData)
{
    const size_t nSlash = strSearch.rfind('/');
    std::string strFolder;
    if (nSlash == std::string::npos)
        strFolder = ".";
    else
        strFolder = nSlash == 0 ? "/" : strSearch.substr(0, nSlash);
    const std::string strPattern = nSlash == std::string::npos ? strSearch : strSearch.substr(nSlash + 1);

    DIR* pDir = ::opendir(strFolder.c_str());
    if (!pDir)
        return INVALID_HANDLE_VALUE;
    auto* pFind = new SFindHandle{pDir, strPattern};
    if (!ReadNextMatch(*pFind, pData)) {
        FindClose(pFind);
        return INVALID_HANDLE_VALUE;
    }
    return pFind;
}

bool FindNextFile(HANDLE hFind, SFindData* pData)
{
    return hFind != INVALID_HANDLE_VALUE && ReadNextMatch(*hFind, pData);
}

bool FindClose(HANDLE hFind)
{
    if (hFind == INVALID_HANDLE_VALUE)
        return false;
    ::closedir(hFind->pDir);
    delete hFind;
    return true;
}
