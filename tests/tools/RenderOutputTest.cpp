// The file velofon render writes, on both roads: unnamed where the file system
// allows, a locked hidden file elsewhere.
#include "../WavBytes.h"
#include "tools/RenderOutput.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kPrefix = ".o.wav.velofon-";

class PendingFileTest : public ::testing::Test {
protected:
    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }

    std::set<std::string> Names() const
    {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    // Whether another holder has the file's lock.
    static bool IsLocked(const std::string& strPath)
    {
        const int hFile = ::open(strPath.c_str(), O_RDONLY);
        const bool bLocked = hFile >= 0 && ::flock(hFile, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        if (hFile >= 0)
            ::close(hFile);
        return bLocked;
    }

    CTempDir m_dir;
};

// Until Commit nothing new has the target's name, and then only the target.
TEST_F(PendingFileTest, TheFileTakesTheTargetsNameOnlyWhenCommitted)
{
    const Bytes abYesterday = { 'o', 'l', 'd' };
    const Bytes abToday = { 'n', 'e', 'w', '!' };
    const mode_t nMask = ::umask(0);
    ::umask(nMask);
    for (bool bAllowUnnamed : { true, false }) {
        for (bool bCommit : { true, false }) {
            const std::string strWhat = std::string(bAllowUnnamed ? "unnamed" : "named") + (bCommit ? ", committed" : ", discarded");
            m_dir.Write("o.wav", abYesterday);
            CPendingFile file;
            ASSERT_TRUE(file.Open(m_dir.Path(), "o.wav", bAllowUnnamed)) << strWhat;
            const std::string strTemp = file.GetTempPath();
            std::set<std::string> whileWritten = { "o.wav" };
            if (bAllowUnnamed) {
                EXPECT_TRUE(strTemp.empty()) << strWhat;
            } else {
                const std::string strLeaf = std::filesystem::path(strTemp).filename().string();
                EXPECT_EQ(strLeaf.rfind(kPrefix, 0), 0u) << strLeaf;
                EXPECT_EQ(strLeaf.size(), kPrefix.size() + 6) << strLeaf;
                EXPECT_TRUE(IsLocked(strTemp)) << strWhat;
                whileWritten.insert(strLeaf);
            }
            ASSERT_EQ(::write(file.GetHandle(), abToday.data(), abToday.size()), static_cast<ssize_t>(abToday.size()));
            EXPECT_EQ(Names(), whileWritten) << strWhat;
            if (bCommit)
                ASSERT_TRUE(file.Commit()) << strWhat;
            else
                file.Discard();
            EXPECT_FALSE(file.IsOpen()) << strWhat;
            EXPECT_EQ(Names(), std::set<std::string>({ "o.wav" })) << strWhat;
            EXPECT_TRUE(ReadWholeFile(Path("o.wav")) == (bCommit ? abToday : abYesterday)) << strWhat;
            struct stat st {};
            ASSERT_EQ(::stat(Path("o.wav").c_str(), &st), 0);
            if (bCommit) {
                EXPECT_EQ(st.st_mode & 0777, 0666 & ~nMask) << strWhat;
            }
        }
    }
}

// A hidden file of the target's pattern whose lock can be taken is a dead
// run's; one whose lock another process holds is a run under way.
TEST_F(PendingFileTest, OpeningRemovesDeadRunsFilesOnly)
{
    const std::set<std::string> others = { ".p.wav.velofon-aB3dE9", ".o.wav.velofon-aB3dE", ".o.wav.velofon-aB3dE9x",
        "o.wav.velofon-aB3dE9",
        ".o.wav.aB3dE9" };
    for (bool bAllowUnnamed : { true, false }) {
        for (const std::string& strName : others)
            m_dir.Write(strName, Bytes(3, 'x'));
        m_dir.Write(kPrefix + "dEaD01", Bytes(3, 'x'));
        const std::string strHeld = m_dir.Write(kPrefix + "hELd01", Bytes(3, 'x'));
        int aToParent[2];
        int aToChild[2];
        ASSERT_EQ(::pipe(aToParent), 0);
        ASSERT_EQ(::pipe(aToChild), 0);
        const pid_t nPid = ::fork();
        ASSERT_GE(nPid, 0);
        if (nPid == 0) {
            // Holds the lock until the parent closes its end of the pipe.
            const int hFile = ::open(strHeld.c_str(), O_RDONLY);
            char c = hFile >= 0 && ::flock(hFile, LOCK_EX) == 0 ? 'L' : 'E';
            ::close(aToChild[1]);
            if (::write(aToParent[1], &c, 1) == 1)
                while (::read(aToChild[0], &c, 1) > 0) {
                }
            ::_exit(0);
        }
        ::close(aToParent[1]);
        ::close(aToChild[0]);
        char c = 0;
        ASSERT_EQ(::read(aToParent[0], &c, 1), 1);
        ASSERT_EQ(c, 'L');

        std::set<std::string> expected = others;
        expected.insert(kPrefix + "hELd01");
        CPendingFile file;
        ASSERT_TRUE(file.Open(m_dir.Path(), "o.wav", bAllowUnnamed));
        file.Discard();
        EXPECT_EQ(Names(), expected) << (bAllowUnnamed ? "unnamed" : "named");

        ::close(aToChild[1]);
        ::close(aToParent[0]);
        int nStatus = 0;
        ASSERT_EQ(::waitpid(nPid, &nStatus, 0), nPid);
        // Once its run has ended, the file is a leftover like any other.
        ASSERT_TRUE(file.Open(m_dir.Path(), "o.wav", bAllowUnnamed));
        file.Discard();
        EXPECT_EQ(Names(), others) << (bAllowUnnamed ? "unnamed" : "named");
        for (const std::string& strName : others)
            std::filesystem::remove(Path(strName));
    }
}

} // namespace
