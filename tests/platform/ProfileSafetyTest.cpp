// The settings key file kept safe: damaged files, failed writes, kills in
// the middle of a save, files that cannot be read or written, links and what
// interrupted saves leave.
#include "ProfileStoreFixture.h"

#include "AsNobody.h"
#include "CaseName.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <random>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Damaged files

struct SDamage {
    const char* strName;
    std::string strContent;
};

class DamagedProfileTest : public ProfileStoreTest, public ::testing::WithParamInterface<SDamage> {};

TEST_P(DamagedProfileTest, ReadsAsDefaultsAndTheNextWriteReplacesIt)
{
    WriteText(FilePath(), GetParam().strContent);
    {
        const auto pStore = Open();
        EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", -7), -7);
        EXPECT_EQ(pStore->GetProfileString("Settings", "Name", "none"), "none");
        ASSERT_TRUE(pStore->WriteProfileString("Settings", "Name", "fresh"));
    }
    const auto pStore = Open();
    EXPECT_EQ(pStore->GetProfileString("Settings", "Name", ""), "fresh");
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", -7), -7);
    EXPECT_EQ(ReadText(FilePath()), "[Settings]\nName=fresh\n");
    // Nothing is lost: a damaged file stays beside the new one.
    if (!GetParam().strContent.empty())
        EXPECT_EQ(ReadText(FilePath() + ".damaged"), GetParam().strContent);
    else
        EXPECT_FALSE(std::filesystem::exists(FilePath() + ".damaged"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedProfileTest,
    ::testing::Values(SDamage{"Empty", ""},
                      SDamage{"BinaryGarbage", Garbage(4096, 20240601)},
                      SDamage{"ZeroBytes", std::string(1000, '\0')},
                      SDamage{"ZeroByteInAValue", std::string("[Settings]\nVolume=5\nName=ol\0d\n", 30)},
                      SDamage{"KeyBeforeAnyGroup", "Volume=5\n[Settings]\nName=old\n"},
                      SDamage{"CutGroupHeader", "[Settings]\nVolume=5\n[Fil"},
                      SDamage{"LineThatIsNoSetting", "[Settings]\nVolume=5\nName=old\nthis is not a setting\n"},
                      SDamage{"EmptyKey", "[Settings]\nVolume=5\n=old\n"},
                      SDamage{"ForeignEncoding", "[Settings]\nEncoding=ISO-8859-1\nVolume=5\n"},
                      SDamage{"ZeroInsideAGroupName", std::string("[Sett\0ings]\nVolume=5\n", 21)}),
    SCaseName());

using UnreadableProfileTest = ProfileStoreTest;

TEST_F(UnreadableProfileTest, FifoInPlaceOfTheFileNeitherBlocksNorStaysThere)
{
    std::filesystem::create_directories(Folder());
    ASSERT_EQ(::mkfifo(FilePath().c_str(), 0600), 0);
    {
        const auto pStore = Open();
        EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", -7), -7);
        ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 8));
    }
    struct stat st {};
    ASSERT_EQ(::lstat(FilePath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(Open()->GetProfileInt("Settings", "Volume", 0), 8);
}
// ---------------------------------------------------------------------------
// Failed writes

using ProfileWriteFailureTest = ProfileStoreTest;

TEST_F(ProfileWriteFailureTest, FileInTheWayOfTheFolderFailsTheWriteUntilItIsGone)
{
    WriteText(Folder(), "not a folder");
    const auto pStore = Open();
    EXPECT_FALSE(pStore->WriteProfileInt("Settings", "Volume", 2));
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 2);

    ASSERT_EQ(::unlink(Folder().c_str()), 0);
    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Speed", 3));
    const auto pReader = Open();
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Volume", 0), 2);
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Speed", 0), 3);
}

TEST_F(ProfileWriteFailureTest, FailedBatchEndIsRetriedByTheNextOne)
{
    WriteText(Folder(), "not a folder");
    const auto pStore = Open();
    pStore->BeginBatch();
    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 2));
    EXPECT_FALSE(pStore->EndBatch());

    ASSERT_EQ(::unlink(Folder().c_str()), 0);
    pStore->BeginBatch();
    EXPECT_TRUE(pStore->EndBatch());
    EXPECT_EQ(Open()->GetProfileInt("Settings", "Volume", 0), 2);
}

TEST_F(ProfileWriteFailureTest, FolderInPlaceOfTheFileReadsAsDefaultsAndFailsWrites)
{
    std::filesystem::create_directories(FilePath());
    const auto pStore = Open();
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", -7), -7);
    EXPECT_FALSE(pStore->WriteProfileInt("Settings", "Volume", 2));
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 2);
}

// ---------------------------------------------------------------------------
// Kills in the middle of a save

class ProfileCrashTest : public ProfileStoreTest {
protected:
    static constexpr int kEntries = 200;

    static std::string Entry(char chSet, int i)
    {
        return "/home/listener/Lectures " + std::string(1, chSet) + "/lecture " + std::to_string(i) + ".wav";
    }

    // The whole playlist of one set, saved once.
    static bool SaveSet(CProfileStore& store, char chSet)
    {
        store.BeginBatch();
        store.WriteProfileString("Playlist", "Set", std::string(1, chSet));
        store.WriteProfileInt("Playlist", "Count", chSet == 'A' ? kEntries : -kEntries);
        for (int i = 0; i < kEntries; ++i)
            store.WriteProfileString("Playlist", "File" + std::to_string(i), Entry(chSet, i));
        return store.EndBatch();
    }

    // 'A' or 'B' when the file holds exactly that set, '?' otherwise.
    char SetOnDisk() const
    {
        const auto pStore = Open();
        const std::string strSet = pStore->GetProfileString("Playlist", "Set", "");
        if (strSet != "A" && strSet != "B")
            return '?';
        const char chSet = strSet[0];
        if (pStore->GetProfileInt("Playlist", "Count", 0) != (chSet == 'A' ? kEntries : -kEntries))
            return '?';
        for (int i = 0; i < kEntries; ++i) {
            if (pStore->GetProfileString("Playlist", "File" + std::to_string(i), "") != Entry(chSet, i))
                return '?';
        }
        return chSet;
    }

    // A child that saves set chFirst, reports that on hReady, then saves the
    // two sets in turn until it is killed.
    pid_t StartSavingChild(int hReady, char chFirst) const
    {
        const pid_t pid = ::fork();
        if (pid != 0)
            return pid;
        CProfileStore store;
        store.SetLocation(kKey, kApp);
        char chSet = chFirst;
        if (!SaveSet(store, chSet) || ::write(hReady, "r", 1) != 1)
            ::_exit(2);
        for (;;) {
            chSet = chSet == 'A' ? 'B' : 'A';
            if (!SaveSet(store, chSet))
                ::_exit(3);
        }
    }
};

// Kills and reaps the child if the test leaves early.
class CChildGuard {
public:
    explicit CChildGuard(pid_t pid)
        : m_pid(pid)
    {
    }
    ~CChildGuard()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    CChildGuard(const CChildGuard&) = delete;
    CChildGuard& operator=(const CChildGuard&) = delete;

    // Kills the child now and gives its wait status.
    int Kill()
    {
        int nStatus = 0;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &nStatus, 0);
        m_pid = -1;
        return nStatus;
    }

private:
    pid_t m_pid;
};

TEST_F(ProfileCrashTest, KillDuringSavesLeavesOneCompleteSet)
{
    ASSERT_TRUE(SaveSet(*Open(), 'A'));
    const unsigned nSeed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(nSeed));
    std::mt19937 random(nSeed);
    std::uniform_int_distribution<int> delayMicroseconds(0, 20000);
    int nSeenA = 0;
    int nSeenB = 0;

    for (int nRound = 0; nRound < 30; ++nRound) {
        SCOPED_TRACE("round " + std::to_string(nRound));
        int ahPipe[2];
        ASSERT_EQ(::pipe2(ahPipe, O_CLOEXEC), 0);
        const pid_t pid = StartSavingChild(ahPipe[1], nRound % 2 == 0 ? 'B' : 'A');
        ASSERT_GT(pid, 0);
        CChildGuard child(pid);
        ::close(ahPipe[1]);

        pollfd ready{ahPipe[0], POLLIN, 0};
        char chByte = 0;
        const bool bReady = ::poll(&ready, 1, 10000) == 1 && ::read(ahPipe[0], &chByte, 1) == 1;
        ::close(ahPipe[0]);
        ASSERT_TRUE(bReady) << "the child did not save";

        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        const int nStatus = child.Kill();
        ASSERT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGKILL) << "the child stopped by itself";

        const char chSet = SetOnDisk();
        ASSERT_NE(chSet, '?') << "the file holds neither complete set:\n" << ReadText(FilePath()).substr(0, 2000);
        (chSet == 'A' ? nSeenA : nSeenB)++;
    }
    // Both sets reached the disk, so the kills met a file that kept changing.
    EXPECT_GT(nSeenA, 0);
    EXPECT_GT(nSeenB, 0);
}

// ---------------------------------------------------------------------------
// Damaged copies, files that cannot be read or written, links, leftovers

class ProfileFileTest : public ProfileStoreTest {
protected:
    std::vector<std::string> FolderNames(const std::string& strFolder) const
    {
        std::vector<std::string> astrNames;
        for (const auto& entry : std::filesystem::directory_iterator(strFolder))
            astrNames.push_back(entry.path().filename().string());
        std::sort(astrNames.begin(), astrNames.end());
        return astrNames;
    }
    // Changes when anything replaces or changes the file.
    std::string Identity() const
    {
        struct stat st {};
        EXPECT_EQ(::lstat(FilePath().c_str(), &st), 0);
        return std::to_string(st.st_ino) + " " + std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " "
            + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    }
};

TEST_F(ProfileFileTest, EachDamagedFileIsKeptUnderANameOfItsOwn)
{
    const std::string astrDamaged[] = {"first damage\n", "second damage\n"};
    const std::string astrCopies[] = {FilePath() + ".damaged", FilePath() + ".damaged.2"};
    for (size_t i = 0; i < 2; ++i) {
        WriteText(FilePath(), astrDamaged[i]);
        const auto pStore = Open();
        EXPECT_EQ(pStore->GetFile().GetDamagedCopy(), astrCopies[i]);
        ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 1));
        EXPECT_EQ(pStore->GetFile().GetDamagedCopy(), "");
    }
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(ReadText(astrCopies[i]), astrDamaged[i]);
}

struct SReadOnly {
    const char* strName;
    bool bAsNobody;
    void (*pfnPrepare)(const std::string& strFile);
    // The system's reason after the file's name; empty for a session
    // without the single-instance lock.
    const char* strReason;
};

void PrintTo(const SReadOnly& readOnly, std::ostream* pStream)
{
    *pStream << readOnly.strName;
}

class ReadOnlyProfileTest : public ProfileFileTest, public ::testing::WithParamInterface<SReadOnly> {};

TEST_P(ReadOnlyProfileTest, WritesFailWithTheReasonAndTouchNothing)
{
    if (GetParam().bAsNobody && RanAgainAsNobody())
        return;
    WriteText(FilePath(), "[Settings]\nVolume=5\n");
    const std::string strLeftover = Folder() + "/." + kApp + ".conf.tmp-x1y2z3";
    WriteText(strLeftover, "left by a kill");
    GetParam().pfnPrepare(FilePath());
    const std::string strIdentity = Identity();
    const bool bFileReason = *GetParam().strReason != '\0';
    const std::string strReason = bFileReason ? FilePath() + ": " + GetParam().strReason : "lock: taken";
    CProfileStore store;
    if (!bFileReason)
        store.SetReadOnly(strReason);
    store.SetLocation(kKey, kApp);

    EXPECT_EQ(store.GetFile().GetReadOnlyReason(), strReason);
    EXPECT_EQ(store.GetProfileInt("Settings", "Volume", -7), bFileReason ? -7 : 5);
    EXPECT_FALSE(store.WriteProfileInt("Settings", "Volume", 9));
    EXPECT_EQ(store.GetFile().GetError(), strReason);
    EXPECT_EQ(store.GetProfileInt("Settings", "Volume", 0), 9);
    EXPECT_EQ(Identity(), strIdentity);
    EXPECT_EQ(FolderNames(Folder()).size(), 2u);
    EXPECT_TRUE(Exists(strLeftover));
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadOnlyProfileTest,
    ::testing::Values(
        SReadOnly{"WithoutReadPermission", true,
                  [](const std::string& strFile) { EXPECT_EQ(::chmod(strFile.c_str(), 0200), 0); },
                  "Permission denied"},
        SReadOnly{"LinkLoop", false,
                  [](const std::string& strFile) {
                      EXPECT_EQ(::unlink(strFile.c_str()), 0);
                      EXPECT_EQ(::symlink(strFile.c_str(), strFile.c_str()), 0);
                  },
                  "Too many levels of symbolic links"},
        SReadOnly{"WithoutTheInstanceLock", false, [](const std::string&) {}, ""}),
    SCaseName());

// A full disk, as a limit of the file size makes it.
void LimitFileSize(rlim_t nBytes)
{
    rlimit limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    limit.rlim_cur = nBytes == RLIM_INFINITY ? limit.rlim_max : nBytes;
    ::signal(SIGXFSZ, nBytes == RLIM_INFINITY ? SIG_DFL : SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
}

struct SSaveFailure {
    const char* strName;
    bool bAsNobody;
    const char* strReason;
    void (*pfnBreak)(const std::string& strFile);
    void (*pfnRepair)(const std::string& strFile);
};

void PrintTo(const SSaveFailure& failure, std::ostream* pStream)
{
    *pStream << failure.strName;
}

class SaveFailureProfileTest : public ProfileFileTest, public ::testing::WithParamInterface<SSaveFailure> {};

TEST_P(SaveFailureProfileTest, FailsNamingTheFileAndTheNextWriteRetries)
{
    if (GetParam().bAsNobody && RanAgainAsNobody())
        return;
    const auto pStore = Open();
    ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 1));
    GetParam().pfnBreak(FilePath());
    const std::string strIdentity = Identity();
    const bool bWritten = pStore->WriteProfileInt("Settings", "Volume", 2);
    const std::string strIdentityAfter = Identity();
    const std::vector<std::string> astrNames = FolderNames(Folder());
    GetParam().pfnRepair(FilePath());

    EXPECT_FALSE(bWritten);
    EXPECT_EQ(pStore->GetFile().GetError(), FilePath() + ": " + GetParam().strReason);
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 2);
    EXPECT_EQ(strIdentityAfter, strIdentity);
    EXPECT_EQ(astrNames, std::vector<std::string>{std::string(kApp) + ".conf"});
    EXPECT_EQ(Open()->GetProfileInt("Settings", "Volume", 0), 1);

    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Speed", 3));
    const auto pReader = Open();
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Volume", 0), 2);
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Speed", 0), 3);
}

std::string FolderOf(const std::string& strFile)
{
    return std::filesystem::path(strFile).parent_path().string();
}

INSTANTIATE_TEST_SUITE_P(
    Files, SaveFailureProfileTest,
    ::testing::Values(
        SSaveFailure{"ReadOnlyFolder", true, "Permission denied",
                     [](const std::string& strFile) { EXPECT_EQ(::chmod(FolderOf(strFile).c_str(), 0500), 0); },
                     [](const std::string& strFile) { EXPECT_EQ(::chmod(FolderOf(strFile).c_str(), 0700), 0); }},
        SSaveFailure{"ReadOnlyFile", false, "Permission denied",
                     [](const std::string& strFile) { EXPECT_EQ(::chmod(strFile.c_str(), 0444), 0); },
                     [](const std::string& strFile) { EXPECT_EQ(::chmod(strFile.c_str(), 0600), 0); }},
        SSaveFailure{"FullDisk", false, "File too large", [](const std::string&) { LimitFileSize(8); },
                     [](const std::string&) { LimitFileSize(RLIM_INFINITY); }}),
    SCaseName());

TEST_F(ProfileFileTest, ALinkedFileIsWrittenThroughTheLinkAndKeepsItsMode)
{
    const std::string strTarget = m_dir.Path() + "/dotfiles/player.conf";
    WriteText(strTarget, "[Settings]\nVolume=1\n");
    ASSERT_EQ(::chmod(strTarget.c_str(), 0640), 0);
    std::filesystem::create_directories(Folder());
    ASSERT_EQ(::symlink("../../dotfiles/player.conf", FilePath().c_str()), 0);

    ASSERT_TRUE(Open()->WriteProfileInt("Settings", "Volume", 2));
    struct stat st {};
    ASSERT_EQ(::lstat(FilePath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(strTarget.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadText(strTarget), "[Settings]\nVolume=2\n");
    EXPECT_EQ(FolderNames(m_dir.Path() + "/dotfiles"), std::vector<std::string>{"player.conf"});
}

TEST_F(ProfileFileTest, OpeningRemovesWhatInterruptedSavesLeftButNoSaveUnderWay)
{
    const std::string strPrefix = Folder() + "/." + kApp + ".conf.tmp-";
    const std::string strLeftover = strPrefix + "AAAAAA";
    const std::string strUnderWay = strPrefix + "BBBBBB";
    // The user's own files that only look alike.
    const std::string astrAlike[] = {strPrefix + "CCCCCCC", Folder() + "/" + kApp + ".conf.tmp-DDDDDD",
                                     Folder() + "/.Other.conf.tmp-EEEEEE"};
    for (const std::string& strPath : {strLeftover, strUnderWay, astrAlike[0], astrAlike[1], astrAlike[2]})
        WriteText(strPath, "x");
    // Another process saving holds its temporary file's lock.
    int ahPipe[2];
    ASSERT_EQ(::pipe2(ahPipe, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int hFile = ::open(strUnderWay.c_str(), O_RDWR);
        if (hFile < 0 || ::flock(hFile, LOCK_EX) != 0 || ::write(ahPipe[1], "l", 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    ASSERT_GT(pid, 0);
    CChildGuard child(pid);
    ::close(ahPipe[1]);
    char chLocked = 0;
    ASSERT_EQ(::read(ahPipe[0], &chLocked, 1), 1);
    ::close(ahPipe[0]);

    Open();
    EXPECT_FALSE(Exists(strLeftover));
    EXPECT_TRUE(Exists(strUnderWay));
    for (const std::string& strPath : astrAlike)
        EXPECT_TRUE(Exists(strPath)) << strPath;
    child.Kill();
    Open();
    EXPECT_FALSE(Exists(strUnderWay));
}

} // namespace
