// The playlist: full paths in playing order. The list box beside it shows,
// line for line, each entry's display name: the part after the last '/'.
#pragma once

#include <string>
#include <vector>

class CPlayList {
public:
    void Add(const std::string& strPath) { m_astrPaths.push_back(strPath); }
    void RemoveAt(int nIndex);
    // The path of entry nIndex; empty for an index outside the list.
    std::string GetPath(int nIndex) const;
    std::string GetDisplayName(int nIndex) const;
    int GetCount() const { return static_cast<int>(m_astrPaths.size()); }
    // The first entry with this path, -1 when none has it.
    int IndexOf(const std::string& strPath) const;

private:
    std::vector<std::string> m_astrPaths;
};

// The part of a path after its last '/', the whole path when it has none.
std::string FileNameOfPath(const std::string& strPath);
