// The platform's folder enumeration, in the handheld framework's shape: a
// search "folder/pattern" gives the matching entries of one folder, one at a
// time, over opendir/readdir.
//
// The pattern's '*' stands for any run of characters and '?' for exactly one
// (one UTF-8 character); letters match without regard to ASCII case, and a
// pattern ending in ".*" also matches names without a dot ("*.*" matches
// every name). A pattern may be a list separated by ';' ("*.wav;*.mp3"): a
// name matches when it matches any of them. "." and ".." come back like any
// other entry. An entry is a folder when it is one, or when it is a symbolic
// link to one: linked music folders then act as folders, and whoever walks a
// tree must guard against links that lead back up it. Not thread-safe per
// handle.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

struct SFindData {
    std::string cFileName;     // the entry's name, without its folder
    uint32_t dwFileAttributes; // FILE_ATTRIBUTE_DIRECTORY or FILE_ATTRIBUTE_NORMAL
};

struct SFindHandle;
using HANDLE = SFindHandle*;
// A search that could not start: the folder cannot be opened, or nothing matched.
constexpr HANDLE INVALID_HANDLE_VALUE = nullptr;

// Starts a search and gives its first match in *pData.
HANDLE FindFirstFile(const std::string& strSearch, SFindData* pData);
// The next match; false at the end of the folder.
bool FindNextFile(HANDLE hFind, SFindData* pData);
bool FindClose(HANDLE hFind);

// The wildcard rule above, on its own.
bool MatchesFilePattern(const std::string& strName, const std::string& strPattern);
