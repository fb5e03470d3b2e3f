#include "PlayList.h"

void CPlayList::RemoveAt(int nIndex)
{
    if (nIndex >= 0 && nIndex < GetCount())
        m_astrPaths.erase(m_astrPaths.begin() + nIndex);
}

std::string CPlayList::GetPath(int nIndex) const
{
    return nIndex >= 0 && nIndex < GetCount() ? m_astrPaths[static_cast<size_t>(nIndex)] : std::string();
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
