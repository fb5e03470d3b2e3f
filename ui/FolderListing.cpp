#include "FolderListing.h"

#include "engine/PlayableFiles.h"
#include "platform/files/FindFile.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

bool IsHidden(const std::string& strName)
{
    return !strName.empty() && strName[0] == '.';
}

bool IsFolder(const SFindData& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Calls fn for every visible entry of one search; fn returns false to stop.
template <typename F>
void ForEachVisibleEntry(const std::string& strSearch, F fn)
{
    SFindData data;
    const HANDLE hFind = FindFirstFile(strSearch, &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!IsHidden(data.cFileName) && !fn(data))
            break;
    } while (FindNextFile(hFind, &data));
    FindClose(hFind);
}

// The folders below the root where the system keeps its devices, its runtime
// state and its views of the kernel: a walk from above never enters them.
bool IsSystemFolder(const std::string& strPath)
{
    for (const char* strSystem : {"/proc", "/sys", "/dev", "/run"}) {
        if (strPath == strSystem)
            return true;
    }
    return false;
}

// The kernel's views of the running system, wherever a path leads into them:
// their links point into every process's folders, the root included, so that
// a walk there would record paths that die with the process.
bool IsKernelFileSystem(const std::string& strPath)
{
    static constexpr uint32_t kKernelMagics[] = {PROC_SUPER_MAGIC, SYSFS_MAGIC, DEVPTS_SUPER_MAGIC,
        CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, DEBUGFS_MAGIC, TRACEFS_MAGIC, SECURITYFS_MAGIC, PSTOREFS_MAGIC,
        BPF_FS_MAGIC, EFIVARFS_MAGIC, BINFMTFS_MAGIC};
    struct statfs info {};
    if (::statfs(strPath.c_str(), &info) != 0)
        return false;
    const auto nMagic = static_cast<uint32_t>(info.f_type);
    return std::find(std::begin(kKernelMagics), std::end(kKernelMagics), nMagic) != std::end(kKernelMagics);
}

bool IsFolderPath(const std::string& strPath)
{
    struct stat status {};
    return !strPath.empty() && strPath[0] == '/' && ::stat(strPath.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string HomeFolder()
{
    const char* strHome = std::getenv("HOME");
    if (strHome && *strHome)
        return strHome;
    const passwd* pUser = ::getpwuid(::geteuid());
    return pUser && pUser->pw_dir ? pUser->pw_dir : "";
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Where the run of digits at nAt ends.
size_t DigitRunEnd(const std::string& str, size_t nAt)
{
    while (nAt < str.size() && IsDigit(str[nAt]))
        ++nAt;
    return nAt;
}

// Below, equal to or above zero as strLeft comes before, with or after
// strRight when runs of digits count by their value. A digit stands against
// any other byte as itself: the other bytes lie all below or all above the
// digits, so a number sorts as one block there, whatever its value.
int CompareNaturally(const std::string& strLeft, const std::string& strRight)
{
    size_t i = 0;
    size_t j = 0;
    while (i < strLeft.size() && j < strRight.size()) {
        if (IsDigit(strLeft[i]) && IsDigit(strRight[j])) {
            const size_t nLeftEnd = DigitRunEnd(strLeft, i);
            const size_t nRightEnd = DigitRunEnd(strRight, j);
            while (i + 1 < nLeftEnd && strLeft[i] == '0')
                ++i;
            while (j + 1 < nRightEnd && strRight[j] == '0')
                ++j;
            // Without leading zeros the longer number is the larger one.
            if (nLeftEnd - i != nRightEnd - j)
                return nLeftEnd - i < nRightEnd - j ? -1 : 1;
            if (const int nOrder = strLeft.compare(i, nLeftEnd - i, strRight, j, nRightEnd - j))
                return nOrder;
            i = nLeftEnd;
            j = nRightEnd;
            continue;
        }
        const auto cLeft = static_cast<unsigned char>(strLeft[i]);
        const auto cRight = static_cast<unsigned char>(strRight[j]);
        if (cLeft != cRight)
            return cLeft < cRight ? -1 : 1;
        ++i;
        ++j;
    }
    return (i < strLeft.size() ? 1 : 0) - (j < strRight.size() ? 1 : 0);
}

// Built once: every folder gathered searches with it.
const std::string& PlayablePatterns()
{
    static const std::string strPatterns = PlayablePatternList();
    return strPatterns;
}

} // namespace

std::string StripTrailingSeparator(const std::string& strPath)
{
    if (!strPath.empty() && strPath.back() == '/')
        return strPath.substr(0, strPath.size() - 1);
    return strPath;
}

std::string ParentFolderOf(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    const std::string strParent =
        StripTrailingSeparator(nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash));
    return strParent.empty() ? "/" : strParent;
}

std::string SearchFor(const std::string& strFolder, const std::string& strPattern)
{
    return StripTrailingSeparator(strFolder) + "/" + strPattern;
}

bool IsFolderLine(const std::string& strLine)
{
    return strLine.size() >= 2 && strLine.front() == '[' && strLine.back() == ']';
}

std::string FolderNameOfLine(const std::string& strLine)
{
    return strLine.size() >= 2 ? strLine.substr(1, strLine.size() - 2) : std::string();
}

std::string AbsolutePath(const std::string& strPath, const std::string& strBase)
{
    const std::string strFull = !strPath.empty() && strPath[0] == '/' ? strPath : strBase + "/" + strPath;
    std::vector<std::string> astrParts;
    for (size_t nStart = 0; nStart <= strFull.size();) {
        const size_t nEnd = std::min(strFull.find('/', nStart), strFull.size());
        const std::string strPart = strFull.substr(nStart, nEnd - nStart);
        if (strPart == "..") {
            if (!astrParts.empty())
                astrParts.pop_back();
        } else if (!strPart.empty() && strPart != ".") {
            astrParts.push_back(strPart);
        }
        nStart = nEnd + 1;
    }
    std::string strResult;
    for (const std::string& strPart : astrParts)
        strResult += "/" + strPart;
    return strResult.empty() ? "/" : strResult;
}

std::string StartFolder(const std::string& strFolder)
{
    for (const std::string& strCandidate : {strFolder, HomeFolder()}) {
        if (IsFolderPath(strCandidate))
            return AbsolutePath(strCandidate, "/");
    }
    return "/";
}

bool NaturalLess(const std::string& strLeft, const std::string& strRight)
{
    // std::string's operator< compares bytes as unsigned char; as the tie
    // breaker it makes the order total, so that any sort gives one list.
    const int nOrder = CompareNaturally(strLeft, strRight);
    return nOrder != 0 ? nOrder < 0 : strLeft < strRight;
}

void SortNames(std::vector<std::string>& astrNames)
{
    std::sort(astrNames.begin(), astrNames.end(), NaturalLess);
}

SFolderListing ListFolder(const std::string& strFolder, const std::string& strPattern)
{
    SFolderListing listing;
    ForEachVisibleEntry(SearchFor(strFolder, strPattern), [&listing](const SFindData& data) {
        (IsFolder(data) ? listing.astrFolders : listing.astrFiles).push_back(data.cFileName);
        return true;
    });
    return listing;
}

std::vector<std::string> BrowserLines(const std::string& strFolder, const std::string& strPattern, bool bFileMode)
{
    std::vector<std::string> astrFolders = ListFolder(strFolder, "*").astrFolders;
    std::vector<std::string> astrFiles;
    if (bFileMode)
        astrFiles = ListFolder(strFolder, strPattern).astrFiles;
    SortNames(astrFolders);
    SortNames(astrFiles);
    std::vector<std::string> astrLines;
    astrLines.reserve(astrFolders.size() + astrFiles.size());
    for (const std::string& strName : astrFolders)
        astrLines.push_back("[" + strName + "]");
    astrLines.insert(astrLines.end(), astrFiles.begin(), astrFiles.end());
    return astrLines;
}

void CSoundFileGatherer::SetProgress(PFNPROGRESS fnProgress, int nEvery)
{
    m_fnProgress = std::move(fnProgress);
    m_nProgressEvery = std::max(1, nEvery);
}

bool CSoundFileGatherer::Gather(const std::string& strFolder, std::vector<std::string>& astrResult)
{
    m_bStopped = false;
    GatherFolder(strFolder, astrResult);
    return !m_bStopped;
}

void CSoundFileGatherer::Step(const std::string& strFolder)
{
    // Counted up to the next call only, so that no tree is large enough to overflow it.
    if (++m_nSteps < m_nProgressEvery)
        return;
    m_nSteps = 0;
    if (m_fnProgress && !m_fnProgress(strFolder.empty() ? "/" : strFolder))
        m_bStopped = true;
}

bool CSoundFileGatherer::Search(const std::string& strFolder, const std::string& strPattern,
                                std::vector<std::string>* pFiles, std::vector<std::string>* pFolders)
{
    Step(strFolder);
    if (m_bStopped)
        return false;
    ForEachVisibleEntry(ToSystemPath(SearchFor(strFolder, strPattern)), [&](const SFindData& data) {
        if (std::vector<std::string>* pList = IsFolder(data) ? pFolders : pFiles)
            pList->push_back(strFolder + "/" + data.cFileName);
        Step(strFolder);
        return !m_bStopped;
    });
    return !m_bStopped;
}

void CSoundFileGatherer::GatherFolder(const std::string& strFolderPath, std::vector<std::string>& astrResult)
{
    const std::string strFolder = StripTrailingSeparator(strFolderPath);
    // A folder that vanished, one reached before through a link, or one of
    // the kernel's adds nothing.
    const std::string strSystemPath = ToSystemPath(strFolder.empty() ? "/" : strFolder);
    struct stat status {};
    if (::stat(strSystemPath.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || IsKernelFileSystem(strSystemPath))
        return;
    if (!m_setVisited.emplace(static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)).second)
        return;

    // A folder named like a sound file is no file.
    std::vector<std::string> astrFiles;
    if (!Search(strFolder, PlayablePatterns(), &astrFiles, nullptr))
        return;
    // The subfolders are read to the end before descending, so that only one
    // folder is open at a time however deep the tree.
    std::vector<std::string> astrFolders;
    if (!Search(strFolder, "*.*", nullptr, &astrFolders))
        return;
    SortNames(astrFolders);
    for (const std::string& strSubfolder : astrFolders) {
        if (IsSystemFolder(strSubfolder))
            continue;
        GatherFolder(strSubfolder, astrResult);
        if (m_bStopped)
            return;
    }
    SortNames(astrFiles);
    astrResult.insert(astrResult.end(), astrFiles.begin(), astrFiles.end());
}

std::vector<std::string> PlayableFilesOf(const std::vector<std::string>& astrPaths)
{
    std::vector<std::string> astrFiles;
    CSoundFileGatherer gatherer;
    PlayableFilesOf(astrPaths, gatherer, astrFiles);
    return astrFiles;
}

bool PlayableFilesOf(
    const std::vector<std::string>& astrPaths, CSoundFileGatherer& gatherer, std::vector<std::string>& astrFiles)
{
    for (const std::string& strPath : astrPaths) {
        struct stat status {};
        if (::stat(strPath.c_str(), &status) != 0)
            continue;
        if (S_ISDIR(status.st_mode)) {
            if (!gatherer.Gather(strPath, astrFiles))
                return false;
        } else if (S_ISREG(status.st_mode) && HasPlayableExtension(strPath)) {
            astrFiles.push_back(strPath);
        }
    }
    return true;
}
