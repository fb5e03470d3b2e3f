#include "PlayList.h"

#include <algorithm>

void CPlayList::RemoveAt(int nIndex)
{
    if (nIndex >= 0 && nIndex < GetCount())
        m_astrPaths.erase(m_astrPaths.begin() + nIndex);
}

std::string CPlayList::GetPath(int nIndex) const
{
    return nIndex >= 0 && nIndex < GetCount() ? m_astrPaths[static_cast<size_t>(nIndex)] : std::string();
}

int CPlayList::IndexOf(const std::string& strPath) const
{
    const auto it = std::find(m_astrPaths.begin(), m_astrPaths.end(), strPath);
    return it == m_astrPaths.end() ? -1 : static_cast<int>(it - m_astrPaths.begin());
}

std::string CPlayList::GetDisplayName(int nIndex) const
{
    return FileNameOfPath(GetPath(nIndex));
}

std::string FileNameOfPath(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}
