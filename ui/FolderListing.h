// The file browser's work without a window: folder paths, the listing of one
// folder, the order of names and the recursive gathering of sound files.
//
// Paths are POSIX paths: the root is "/", any other folder "/A/B" without a
// trailing "/". Names that begin with "." are hidden: never listed, never
// gathered. User-interface thread only (the gathering calls back into it).
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Removes one final "/" ("/A/" becomes "/A", the root "/" becomes "").
std::string StripTrailingSeparator(const std::string& strPath);
// "/A/B" gives "/A", "/A" and "/" give "/".
std::string ParentFolderOf(const std::string& strPath);
// strFolder (one trailing "/" stripped) + "/" + strPattern: "/*.wav" at the root.
std::string SearchFor(const std::string& strFolder, const std::string& strPattern);
// "[name]" lines of the list stand for folders.
bool IsFolderLine(const std::string& strLine);
// The folder's name inside its brackets (the line without its first and last character).
std::string FolderNameOfLine(const std::string& strLine);
// strPath made absolute against strBase (itself absolute), with "." and ".."
// worked out and repeated separators dropped: the name a user means, without
// resolving links.
std::string AbsolutePath(const std::string& strPath, const std::string& strBase);
// strFolder when it is a folder, else the home folder ($HOME, else the user
// database's), else the root.
std::string StartFolder(const std::string& strFolder);

// Natural order: runs of digits compare as numbers ("Chapter 2" before
// "Chapter 10"), everything else by byte value, case-sensitive ("B.wav"
// before "a.wav"); names equal so ("01", "1") fall back to their bytes.
bool NaturalLess(const std::string& strLeft, const std::string& strRight);
void SortNames(std::vector<std::string>& astrNames);

struct SFolderListing {
    std::vector<std::string> astrFolders;
    std::vector<std::string> astrFiles;
};
// The names in strFolder that match strPattern, split into folders and the
// rest, in the order the file system gives them. A folder that cannot be
// opened (missing, unreadable, not a folder) gives empty lists.
SFolderListing ListFolder(const std::string& strFolder, const std::string& strPattern);

// The browser's lines for strFolder: each subfolder as "[name]", then in
// file mode the files that match strPattern; each group sorted.
std::vector<std::string> BrowserLines(const std::string& strFolder, const std::string& strPattern, bool bFileMode);

// Gathers the playable files (engine/PlayableFiles.h) below folders, depth
// first: a folder's subfolders come before its own files, each sorted.
// Files are recorded by the path walked to them, links and all. A folder already visited by this gatherer, whatever
// the path that reaches it (symbolic links), is skipped, so links back up the
// tree end and every file comes once. The walk never descends from the root
// into /proc, /sys, /dev or /run, and never enters a kernel file system
// (proc, sysfs, devpts, cgroup...) by any path; a folder the user chose below
// /dev or /run is his (removable media are mounted under /run/media).
class CSoundFileGatherer {
public:
    // How often the progress function runs: every so many steps (a search
    // started or an entry read).
    static constexpr int kProgressEvery = 256;
    // Sees the folder being searched ("/" for the root); false stops the gathering.
    using PFNPROGRESS = std::function<bool(const std::string& strFolder)>;

    virtual ~CSoundFileGatherer() = default;

    void SetProgress(PFNPROGRESS fnProgress, int nEvery = kProgressEvery);
    // Appends the playable files below strFolder to astrResult; false when the
    // progress function stopped it (astrResult then holds a part).
    bool Gather(const std::string& strFolder, std::vector<std::string>& astrResult);

protected:
    // Where a path of the tree is found on this system; a test roots the tree elsewhere.
    virtual std::string ToSystemPath(const std::string& strPath) const { return strPath; }

private:
    void GatherFolder(const std::string& strFolder, std::vector<std::string>& astrResult);
    // The entries of one search, as paths, into the lists given (null: not
    // wanted); false when stopped.
    bool Search(const std::string& strFolder, const std::string& strPattern, std::vector<std::string>* pFiles,
                std::vector<std::string>* pFolders);
    void Step(const std::string& strFolder);

    PFNPROGRESS m_fnProgress;
    int m_nProgressEvery = kProgressEvery;
    int m_nSteps = 0;
    bool m_bStopped = false;
    std::set<std::pair<uint64_t, uint64_t>> m_setVisited; // (device, inode) of folders
};

// What a list of paths from outside (a command line, a drop) adds to the
// playlist, in its order: a folder gives the playable files gathered below
// it, a file itself when its name is that of a playable file. Paths that
// name nothing are left out.
std::vector<std::string> PlayableFilesOf(const std::vector<std::string>& astrPaths);
// The same with the gatherer given (its progress function may stop it),
// appended to astrFiles; false when it was stopped.
bool PlayableFilesOf(
    const std::vector<std::string>& astrPaths, CSoundFileGatherer& gatherer, std::vector<std::string>& astrFiles);
