// The file browser's work without a window, on folder trees of the test's
// own: wildcard searches, listing and order, folder paths, and the recursive
// gathering with its guards against link loops and its progress.
#include "../WavBytes.h"

#include <gtest/gtest.h>

#include "engine/PlayableFiles.h"
#include "platform/files/FindFile.h"
#include "ui/FolderGathering.h"
#include "ui/FolderListing.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Names = std::vector<std::string>;

// Builds entries below strRoot: "x/" a folder, "x -> target" a link, else a file.
void MakeTree(const std::string& strRoot, const Names& astrEntries)
{
    for (const std::string& strEntry : astrEntries) {
        const size_t nArrow = strEntry.find(" -> ");
        const std::string strPath = strRoot + "/" + strEntry.substr(0, nArrow);
        if (nArrow != std::string::npos)
            ASSERT_EQ(::symlink(strEntry.substr(nArrow + 4).c_str(), strPath.c_str()), 0) << strEntry;
        else if (strEntry.back() == '/')
            ASSERT_EQ(::mkdir(strPath.c_str(), 0755), 0) << strEntry;
        else
            ASSERT_TRUE(std::ofstream(strPath).good()) << strEntry;
    }
}

// Every entry of one search as "name" or "name/" for a folder, sorted.
Names Search(const std::string& strSearch)
{
    Names astr;
    SFindData data;
    const HANDLE hFind = FindFirstFile(strSearch, &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return astr;
    do {
        astr.push_back(data.cFileName + std::string((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "/" : ""));
    } while (FindNextFile(hFind, &data));
    EXPECT_TRUE(FindClose(hFind));
    std::sort(astr.begin(), astr.end());
    return astr;
}

TEST(FindFileTest, WildcardsMatchWithoutRegardToCase)
{
    struct SCase {
        std::string strName;
        const char* strPattern;
        bool bMatch;
    };
    const SCase aCases[] = {
        {"Talk.WAV", "*.wav", true}, {"talk.wav", "*.WAV", true}, {"talk.wave", "*.wav", false},
        {"talkwav", "*.wav", false}, {"README", "*.*", true},     {".", "*.*", true},
        {"notes", "notes.*", true},  {"notesx", "notes.*", false}, {"ab.wav", "a?.wav", true},
        {"a.wav", "a?.wav", false},  {"abc.wav", "a?.wav", false}, {"a講.wav", "a?.wav", true}, // one character
        {"a講.wav", "a??.wav", false}, {"äö.wav", "ÄÖ.wav", false}, // only ASCII folds
        {"abcabd", "*abd", true},    {"abcabe", "*abd", false},   {"", "?", false},
        {std::string(255, 'a'), "*a*a*a*a*a*a*a*a*b", false},
        // A list matches when any of its patterns does, each with its own ".*" rule.
        {"Talk.MP3", "*.wav;*.mp3", true}, {"talk.wav", "*.wav;*.mp3", true}, {"talk.mp3x", "*.wav;*.mp3", false},
        {"notes", "*.wav;notes.*", true}, {"a;b.wav", "a;b.wav", false}, {"b.wav", "a;b.wav", true},
        {"x", "*.wav;", false},
    };
    for (const SCase& c : aCases)
        EXPECT_EQ(MatchesFilePattern(c.strName, c.strPattern), c.bMatch) << c.strName << " ~ " << c.strPattern;
}

TEST(FindFileTest, ASearchGivesNamesAndFoldersOfItsFolder)
{
    CTempDir dir;
    MakeTree(dir.Path(), {"Talk.WAV", "ab.wav", "README", "Sub/", "dir.wav/", "Sub/a.wav", "linked -> Sub",
                          "alias.wav -> Sub/a.wav", "broken.wav -> nowhere"});
    EXPECT_EQ(Search(dir.Path() + "/*.wav"), (Names{"Talk.WAV", "ab.wav", "alias.wav", "broken.wav", "dir.wav/"}));
    // Links act as what they point to; "." and ".." come like any entry.
    EXPECT_EQ(Search(dir.Path() + "/*.*"), (Names{"../", "./", "README", "Sub/", "Talk.WAV", "ab.wav", "alias.wav",
                                                  "broken.wav", "dir.wav/", "linked/"}));
    EXPECT_EQ(Search(dir.Path() + "/linked/*"), (Names{"../", "./", "a.wav"}));
    // A folder that cannot be opened, or nothing that matches: no search.
    SFindData data;
    for (const std::string& strSearch : {dir.Path() + "/*.mp3", dir.Path() + "/missing/*", dir.Path() + "/README/*",
                                         dir.Path() + "/" + std::string(300, 'n') + "/*"})
        EXPECT_EQ(FindFirstFile(strSearch, &data), INVALID_HANDLE_VALUE) << strSearch;
    EXPECT_FALSE(FindNextFile(INVALID_HANDLE_VALUE, &data));
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
    // The root: the temporary folder lies below one of its folders.
    const Names astrRoot = Search("/*");
    EXPECT_TRUE(std::count(astrRoot.begin(), astrRoot.end(), dir.Path().substr(1, dir.Path().find('/', 1))));
}

TEST(FindFileTest, ThePlayableListMatchesWhatThePlaylistKeeps)
{
    const std::string strList = PlayablePatternList();
    for (const char* const* p = kPlayableExtensions; *p; ++p) {
        std::string strUpper = *p;
        for (char& c : strUpper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (const std::string& strName : {"t." + std::string(*p), "T." + strUpper, "t." + std::string(*p) + "x",
                                           "t" + std::string(*p), "t." + std::string(*p).substr(1)})
            EXPECT_EQ(MatchesFilePattern(strName, strList), HasPlayableExtension(strName)) << strName;
    }
}

TEST(FolderPathTest, SeparatorsParentsAndFolderLines)
{
    EXPECT_EQ(StripTrailingSeparator("/A/B/"), "/A/B");
    EXPECT_EQ(StripTrailingSeparator("/A//"), "/A/");
    EXPECT_EQ(StripTrailingSeparator("/"), "");
    for (const auto& [strPath, strParent] : {std::pair{"/A/B", "/A"}, std::pair{"/A/B/C", "/A/B"},
             std::pair{"/A", "/"}, std::pair{"/", "/"}, std::pair{"/A//B", "/A"}, std::pair{"/講義/第一回", "/講義"}})
        EXPECT_EQ(ParentFolderOf(strPath), strParent) << strPath;
    EXPECT_EQ(SearchFor("/", "*.wav"), "/*.wav");
    EXPECT_EQ(SearchFor("", "*.wav"), "/*.wav");
    EXPECT_EQ(SearchFor("/A/", "*"), "/A/*");
    EXPECT_TRUE(IsFolderLine("[music]"));
    EXPECT_FALSE(IsFolderLine("[music"));
    EXPECT_FALSE(IsFolderLine("["));
    EXPECT_EQ(FolderNameOfLine("[[x]]"), "[x]");
}

TEST(FolderPathTest, RelativePathsBecomeAbsoluteWithoutDotsOrDoubleSeparators)
{
    const std::tuple<const char*, const char*, const char*> aCases[] = {
        {"b.mp3", "/a", "/a/b.mp3"}, {"../b", "/a/c", "/a/b"}, {"./x/../y/", "/a", "/a/y"},
        {"/abs//p/.", "/ignored", "/abs/p"}, {"..", "/", "/"}, {"../../..", "/a", "/"}, {"", "/a/", "/a"},
        {".hidden/...", "/a", "/a/.hidden/..."}, {"第2章.mp3", "/講義", "/講義/第2章.mp3"},
    };
    for (const auto& [strPath, strBase, strExpected] : aCases)
        EXPECT_EQ(AbsolutePath(strPath, strBase), strExpected) << strPath << " in " << strBase;
}

TEST(FolderPathTest, TheBrowserStartsInTheFolderGivenElseAtHome)
{
    CTempDir dir;
    MakeTree(dir.Path(), {"home/", "music/", "file.wav"});
    const char* strHome = std::getenv("HOME");
    const std::string strSavedHome = strHome ? strHome : "";
    ::setenv("HOME", (dir.Path() + "/home").c_str(), 1);
    const std::pair<std::string, std::string> aCases[] = {
        {dir.Path() + "/music/", dir.Path() + "/music"}, {"/", "/"}, {"", dir.Path() + "/home"},
        {dir.Path() + "/file.wav", dir.Path() + "/home"}, {dir.Path() + "/gone", dir.Path() + "/home"},
        {"music", dir.Path() + "/home"},
    };
    for (const auto& [strFolder, strExpected] : aCases)
        EXPECT_EQ(StartFolder(strFolder), strExpected) << strFolder;
    ::setenv("HOME", (dir.Path() + "/gone").c_str(), 1);
    EXPECT_EQ(StartFolder(""), "/");
    if (strHome)
        ::setenv("HOME", strSavedHome.c_str(), 1);
    else
        ::unsetenv("HOME");
}

TEST(FolderListingTest, NamesSortNaturallyTiesByBytes)
{
    // Each name comes strictly before the next.
    const Names astrOrdered{"9.wav", "10.wav", "B.wav", "Chapter 2", "Chapter 10", "Chapter 10a", "Chapter 010b",
        "Disc-1", "Disc01", "Disc1", "Disc1 ", "Disc9z", "Disc10", "Disc:", "Z.wav", "_x", "a.wav", "b.wav",
        "v18446744073709551616", "v18446744073709551617", "v100000000000000000000", "ä.wav", "第2章", "第10章"};
    for (size_t i = 0; i + 1 < astrOrdered.size(); ++i) {
        EXPECT_TRUE(NaturalLess(astrOrdered[i], astrOrdered[i + 1])) << astrOrdered[i] << " < " << astrOrdered[i + 1];
        EXPECT_FALSE(NaturalLess(astrOrdered[i + 1], astrOrdered[i])) << astrOrdered[i + 1];
        EXPECT_FALSE(NaturalLess(astrOrdered[i], astrOrdered[i])) << astrOrdered[i];
    }
    Names astr(astrOrdered.rbegin(), astrOrdered.rend());
    SortNames(astr);
    EXPECT_EQ(astr, astrOrdered);
}

TEST(FolderListingTest, FoldersInBracketsThenFilesHiddenOnesNever)
{
    CTempDir dir;
    const std::string strLong = std::string(251, 'L') + ".wav"; // the longest name there is
    MakeTree(dir.Path(), {"b.wav", "B.wav", "a.wav", "notes.txt", ".hidden.wav", ".cache/", "zeta/", "Alpha/",
                          "album.wav/", strLong});
    EXPECT_EQ(BrowserLines(dir.Path(), "*.wav", true),
              (Names{"[Alpha]", "[album.wav]", "[zeta]", "B.wav", strLong, "a.wav", "b.wav"}));
    EXPECT_EQ(BrowserLines(dir.Path() + "/", "*.*", true),
              (Names{"[Alpha]", "[album.wav]", "[zeta]", "B.wav", strLong, "a.wav", "b.wav", "notes.txt"}));
    EXPECT_EQ(BrowserLines(dir.Path(), "*.wav", false), (Names{"[Alpha]", "[album.wav]", "[zeta]"}));
    EXPECT_EQ(ListFolder(dir.Path(), "*.wav").astrFolders, (Names{"album.wav"}));
}

// Every playable extension in any case; near misses and a folder named like a
// sound file are no sound files.
const Names kSoundTree{"a.wav", "B.MP3", "c.Opus", "d.m4b", "e.txt", "f.wavx", "x.mp3/", "x.mp3/g.FLAC"};

TEST(FolderListingTest, TheAudioFilterListsEveryPlayableFile)
{
    CTempDir dir;
    MakeTree(dir.Path(), kSoundTree);
    EXPECT_EQ(BrowserLines(dir.Path(), PlayablePatternList(), true),
              (Names{"[x.mp3]", "B.MP3", "a.wav", "c.Opus", "d.m4b"}));
    EXPECT_EQ(BrowserLines(dir.Path(), "*.wav", true), (Names{"[x.mp3]", "a.wav"}));
}

TEST(FolderListingTest, AFolderThatCannotBeOpenedListsAsEmpty)
{
    CTempDir dir;
    MakeTree(dir.Path(), {"file.wav", "locked/", "locked/a.wav"});
    for (const char* strName : {"missing", "file.wav", "locked"}) {
        // Permissions hold back everyone but the superuser.
        if (std::string(strName) == "locked" && (::geteuid() == 0 || ::chmod((dir.Path() + "/locked").c_str(), 0)))
            continue;
        EXPECT_TRUE(BrowserLines(dir.Path() + "/" + strName, "*.*", true).empty()) << strName;
    }
    ::chmod((dir.Path() + "/locked").c_str(), 0755);
}

class SoundFileGathererTest : public ::testing::Test {
protected:
    Names Gather(const std::string& strFolder)
    {
        CSoundFileGatherer gatherer;
        Names astrResult;
        EXPECT_TRUE(gatherer.Gather(strFolder, astrResult));
        return astrResult;
    }
    CTempDir m_dir;
    const std::string m_strA = m_dir.Path() + "/A";
};

TEST_F(SoundFileGathererTest, SubfoldersComeFirstThenTheFolderOwnFilesInNaturalOrder)
{
    MakeTree(m_dir.Path(), {"A/", "A/b.wav", "A/a.wav", "A/S/", "A/S/c.wav", "A/S/T/", "A/S/T/d.WAV", "A/.h.wav",
                            "A/.hidden/", "A/.hidden/e.wav", "A/notes.txt", "A/x.wav/", "A/x.wav/f.wav",
                            "A/Disc 10/", "A/Disc 10/1.mp3", "A/Disc 2/", "A/Disc 2/10.mp3", "A/Disc 2/9.mp3"});
    EXPECT_EQ(Gather(m_strA + "/"),
              (Names{m_strA + "/Disc 2/9.mp3", m_strA + "/Disc 2/10.mp3", m_strA + "/Disc 10/1.mp3",
                     m_strA + "/S/T/d.WAV", m_strA + "/S/c.wav", m_strA + "/x.wav/f.wav", m_strA + "/a.wav",
                     m_strA + "/b.wav"}));
}

TEST_F(SoundFileGathererTest, PathsFromOutsideGiveTheirPlayableFiles)
{
    MakeTree(m_dir.Path(), {"A/", "A/Part 10.mp3", "A/Part 2.mp3", "A/notes.txt", "one.ogg", "readme.txt",
                            "dir.mp3/", "link.flac -> one.ogg", "broken.mp3 -> gone"});
    const std::string strRoot = m_dir.Path();
    EXPECT_EQ(PlayableFilesOf({strRoot + "/one.ogg", m_strA, strRoot + "/readme.txt", strRoot + "/gone.mp3",
                               strRoot + "/dir.mp3", strRoot + "/link.flac", strRoot + "/broken.mp3", m_strA}),
              (Names{strRoot + "/one.ogg", m_strA + "/Part 2.mp3", m_strA + "/Part 10.mp3", strRoot + "/link.flac"}));
}

// Off the loop: the same files as at once; a cancel leaves nothing, however
// far the gathering had come.
TEST_F(SoundFileGathererTest, AGatheringOnItsOwnThreadFindsTheSameAndACancelLeavesNothing)
{
    MakeTree(m_dir.Path(), {"A/", "A/Part 10.mp3", "A/Part 2.mp3", "one.ogg"});
    const Names astrPaths{m_dir.Path() + "/one.ogg", m_strA};
    CFolderGathering gathering;
    ASSERT_TRUE(gathering.Start(astrPaths));
    EXPECT_FALSE(gathering.Start(astrPaths)) << "one at a time";
    EXPECT_EQ(gathering.TakeResult(), PlayableFilesOf(astrPaths));
    EXPECT_EQ(gathering.GetFoundCount(), 3u);
    EXPECT_FALSE(gathering.IsRunning());

    // A gatherer that waits in its first search until the test lets it go.
    class CHeldGatherer : public CSoundFileGatherer {
    public:
        std::promise<void> entered;
        std::promise<void> release;

    protected:
        std::string ToSystemPath(const std::string& strPath) const override
        {
            std::call_once(m_once, [this] {
                const_cast<CHeldGatherer*>(this)->entered.set_value();
                const_cast<CHeldGatherer*>(this)->release.get_future().wait();
            });
            return strPath;
        }

    private:
        mutable std::once_flag m_once;
    };
    auto pHeld = std::make_unique<CHeldGatherer>();
    CHeldGatherer& held = *pHeld;
    CFolderGathering cancelled(std::move(pHeld));
    ASSERT_TRUE(cancelled.Start({m_strA}));
    held.entered.get_future().wait();
    cancelled.Cancel();
    EXPECT_FALSE(cancelled.IsDone());
    held.release.set_value();
    EXPECT_TRUE(cancelled.TakeResult().empty());
    EXPECT_TRUE(cancelled.IsDone());
}

TEST_F(SoundFileGathererTest, EveryPlayableFileComesInAnyCase)
{
    MakeTree(m_dir.Path(), {"A/"});
    MakeTree(m_strA, kSoundTree);
    EXPECT_EQ(Gather(m_strA), (Names{m_strA + "/x.mp3/g.FLAC", m_strA + "/B.MP3", m_strA + "/a.wav",
                                     m_strA + "/c.Opus", m_strA + "/d.m4b"}));
}

TEST_F(SoundFileGathererTest, LinksBackUpTheTreeEndAndEachFileComesOnce)
{
    MakeTree(m_dir.Path(), {"A/", "A/a.wav", "A/S/", "A/S/c.wav", "A/S/again -> " + m_strA, "A/self -> .", "top.wav",
                            "A/S/up -> ../..", "music/", "music/m.wav", "A/S/one -> ../../music"});
    const Names astrResult = Gather(m_strA);
    EXPECT_EQ(Names(astrResult.end() - 2, astrResult.end()), (Names{m_strA + "/S/c.wav", m_strA + "/a.wav"}));
    Names astrNames;
    for (const std::string& strPath : astrResult)
        astrNames.push_back(strPath.substr(strPath.rfind('/') + 1));
    std::sort(astrNames.begin(), astrNames.end());
    EXPECT_EQ(astrNames, (Names{"a.wav", "c.wav", "m.wav", "top.wav"}));
    // Paths are recorded as walked, not resolved.
    EXPECT_EQ(Gather(m_dir.Path() + "/A/S/one"), (Names{m_dir.Path() + "/A/S/one/m.wav"}));
    // Folders gathered one after the other by one gatherer share the guard.
    CSoundFileGatherer gatherer;
    Names astrBoth;
    EXPECT_TRUE(gatherer.Gather(m_dir.Path() + "/music", astrBoth));
    EXPECT_TRUE(gatherer.Gather(m_dir.Path() + "/music/", astrBoth));
    EXPECT_EQ(astrBoth, (Names{m_dir.Path() + "/music/m.wav"}));
}

TEST_F(SoundFileGathererTest, MissingAndUnopenableFoldersAddNothing)
{
    MakeTree(m_dir.Path(), {"file.wav", "A/", "A/broken -> gone"});
    for (const std::string& strName : {std::string("missing"), std::string("file.wav"), std::string("A"),
                                       std::string(300, 'x')})
        EXPECT_EQ(Gather(m_dir.Path() + "/" + strName), Names{}) << strName;
}

TEST_F(SoundFileGathererTest, ProgressShowsTheFolderAndCanStop)
{
    MakeTree(m_dir.Path(), {"A/", "A/a.wav", "A/S/", "A/S/1.wav", "A/S/2.wav"});
    CSoundFileGatherer gatherer;
    Names astrFolders;
    gatherer.SetProgress([&astrFolders](const std::string& strFolder) { return astrFolders.push_back(strFolder), true; },
                         1);
    Names astrResult;
    EXPECT_TRUE(gatherer.Gather(m_strA, astrResult));
    // A step is each search and each visible entry it gives.
    EXPECT_EQ(astrFolders, (Names{m_strA, m_strA, m_strA, m_strA, m_strA, m_strA + "/S", m_strA + "/S", m_strA + "/S",
                                  m_strA + "/S", m_strA + "/S", m_strA + "/S"}));

    CSoundFileGatherer stopped;
    int nCalls = 0;
    stopped.SetProgress([&nCalls](const std::string&) { return ++nCalls < 3; }, 1);
    EXPECT_FALSE(stopped.Gather(m_strA, astrResult));
    EXPECT_EQ(nCalls, 3);

    // By default every few hundred steps.
    MakeTree(m_dir.Path(), {"many/"});
    for (int i = 0; i < CSoundFileGatherer::kProgressEvery; ++i)
        MakeTree(m_dir.Path(), {"many/" + std::to_string(i) + ".wav"});
    CSoundFileGatherer many;
    nCalls = 0;
    many.SetProgress([&nCalls](const std::string&) { return ++nCalls > 0; });
    EXPECT_TRUE(many.Gather(m_dir.Path() + "/many", astrResult));
    EXPECT_EQ(nCalls, 2);
}

TEST_F(SoundFileGathererTest, KernelFileSystemsAreNeverEntered)
{
    // Through /proc/self a walk would reach the root again under paths of this process.
    MakeTree(m_dir.Path(), {"A/", "A/a.wav", "A/self -> /proc/self", "A/kernel -> /sys/kernel", "A/pts -> /dev/pts"});
    for (const std::string& strStart : {m_strA, std::string("/proc/self"), std::string("/sys")}) {
        CSoundFileGatherer gatherer;
        int nSteps = 0;
        gatherer.SetProgress([&nSteps](const std::string&) { return ++nSteps < 100000; }, 1);
        Names astrResult;
        EXPECT_TRUE(gatherer.Gather(strStart, astrResult)) << strStart;
        EXPECT_EQ(astrResult, strStart == m_strA ? Names{m_strA + "/a.wav"} : Names{}) << strStart;
    }
}

// A tree that stands at the root: every path used is taken below the test's
// folder, and recorded.
class CRootedGatherer : public CSoundFileGatherer {
public:
    explicit CRootedGatherer(const std::string& strRoot)
        : m_strRoot(strRoot)
    {
    }
    mutable Names m_astrPaths;

protected:
    std::string ToSystemPath(const std::string& strPath) const override
    {
        m_astrPaths.push_back(strPath);
        return m_strRoot + strPath;
    }

private:
    std::string m_strRoot;
};

TEST_F(SoundFileGathererTest, AtTheRootTheSearchesBeginWithTheSeparator)
{
    MakeTree(m_dir.Path(), {"b.wav", "a.wav", "S/", "S/c.wav"});
    for (const char* strRoot : {"/", ""}) {
        CRootedGatherer gatherer(m_dir.Path());
        Names astrResult;
        EXPECT_TRUE(gatherer.Gather(strRoot, astrResult));
        EXPECT_EQ(astrResult, (Names{"/S/c.wav", "/a.wav", "/b.wav"})) << '"' << strRoot << '"';
        const std::string strFiles = "/" + PlayablePatternList();
        EXPECT_EQ(gatherer.m_astrPaths, (Names{"/", strFiles, "/*.*", "/S", "/S" + strFiles, "/S/*.*"}));
    }
}

TEST_F(SoundFileGathererTest, AWalkFromTheRootSkipsTheSystemFoldersNotTheUsersChoiceThere)
{
    MakeTree(m_dir.Path(), {"proc/", "proc/a.wav", "sys/", "sys/b.wav", "dev/", "dev/c.wav", "run/", "run/media/",
                            "run/media/d.wav", "runner/", "runner/e.wav", "music/", "music/sys/", "music/sys/f.wav"});
    const std::pair<const char*, Names> aCases[] = {
        {"/", {"/music/sys/f.wav", "/runner/e.wav"}},
        {"/run/media", {"/run/media/d.wav"}},
        {"/dev/", {"/dev/c.wav"}},
    };
    for (const auto& [strStart, astrExpected] : aCases) {
        CRootedGatherer gatherer(m_dir.Path());
        Names astrResult;
        EXPECT_TRUE(gatherer.Gather(strStart, astrResult));
        std::sort(astrResult.begin(), astrResult.end());
        EXPECT_EQ(astrResult, astrExpected) << strStart;
    }
}

} // namespace
