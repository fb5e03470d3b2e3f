// The desktop session without a display: the single-instance lock across
// processes and the hand-over socket it leads to, the executable's path and
// opening a document through a stand-in xdg-open.
#include "platform/desktop/Desktop.h"
#include "platform/handover/HandOver.h"

#include "AsNobody.h"
#include "CaseName.h"
#include "EnvironmentOverride.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using CClock = std::chrono::steady_clock;

// A fresh folder of the test's own, removed with everything in it.
class CTempDir {
public:
    CTempDir()
    {
        std::string strTemplate = (fs::temp_directory_path() / "velofon-desktop-test-XXXXXX").string();
        if (::mkdtemp(strTemplate.data()))
            m_strPath = strTemplate;
    }
    ~CTempDir()
    {
        if (!m_strPath.empty()) {
            std::error_code error;
            fs::remove_all(m_strPath, error);
        }
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

std::string ReadWholeFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    std::ostringstream stream;
    stream << file.rdbuf();
    return stream.str();
}

bool WaitForFile(const std::string& strPath, std::chrono::seconds timeout)
{
    const CClock::time_point deadline = CClock::now() + timeout;
    while (!fs::exists(strPath)) {
        if (CClock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// ---------------------------------------------------------------- single-instance lock

// What another process finds: the lock's state as its exit status.
int ProbeInChildProcess(const std::string& strPath)
{
    const pid_t nPid = ::fork();
    if (nPid == 0) {
        int nError = 0;
        ::_exit(static_cast<int>(LockSingleInstance(strPath, nError)));
    }
    if (nPid < 0)
        return -1;
    int nStatus = 0;
    while (::waitpid(nPid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

constexpr int kProbeOurs = static_cast<int>(EInstanceLock::Ours);
constexpr int kProbeHeld = static_cast<int>(EInstanceLock::HeldByAnother);

class InstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_dir.Path().empty()); }
    // In a settings folder that is not there yet.
    std::string LockPath(const std::string& strFolder = "settings") const
    {
        return m_dir.Path() + "/" + strFolder + "/VelofonPocket.lock";
    }

    CTempDir m_dir;
};

TEST_F(InstanceLockTest, OtherProcessSeesItHeldUntilTheHolderDies)
{
    int ahPipe[2];
    ASSERT_EQ(::pipe(ahPipe), 0);
    const pid_t nHolder = ::fork();
    ASSERT_GE(nHolder, 0);
    if (nHolder == 0) {
        ::close(ahPipe[0]);
        int nError = 0;
        const char chResult = LockSingleInstance(LockPath(), nError) == EInstanceLock::Ours ? 'y' : 'n';
        if (::write(ahPipe[1], &chResult, 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause(); // holds the lock until killed
    }
    ::close(ahPipe[1]);
    char chResult = 0;
    EXPECT_EQ(::read(ahPipe[0], &chResult, 1), 1);
    ::close(ahPipe[0]);
    EXPECT_EQ(chResult, 'y');

    EXPECT_EQ(ProbeInChildProcess(LockPath()), kProbeHeld);
    struct stat st {};
    ASSERT_EQ(::lstat(LockPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((m_dir.Path() + "/settings").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Killed without any chance to clean up: the kernel still drops the lock.
    ASSERT_EQ(::kill(nHolder, SIGKILL), 0);
    ASSERT_EQ(::waitpid(nHolder, nullptr, 0), nHolder);
    EXPECT_EQ(ProbeInChildProcess(LockPath()), kProbeOurs);
}

TEST_F(InstanceLockTest, ThisProcessHoldsItForItsWholeLife)
{
    int nError = -1;
    ASSERT_EQ(LockSingleInstance(LockPath(), nError), EInstanceLock::Ours);
    EXPECT_EQ(nError, 0);
    EXPECT_EQ(ProbeInChildProcess(LockPath()), kProbeHeld);
    // A second call of the same process counts as another player.
    EXPECT_EQ(LockSingleInstance(LockPath(), nError), EInstanceLock::HeldByAnother);
    // The lock of another settings folder is another lock.
    EXPECT_EQ(LockSingleInstance(LockPath("other"), nError), EInstanceLock::Ours);
    EXPECT_EQ(ProbeInChildProcess(LockPath()), kProbeHeld);
}

// Whatever keeps the lock from being had is told, with the system's reason.
struct SLockFallback {
    const char* strName;
    bool bAsNobody;
    void (*pfnPrepare)(const std::string& strLockPath);
    int nError;
};

void PrintTo(const SLockFallback& fallback, std::ostream* pStream)
{
    *pStream << fallback.strName;
}

class LockFallbackTest : public InstanceLockTest, public ::testing::WithParamInterface<SLockFallback> {};

TEST_P(LockFallbackTest, IsUnavailableWithTheReason)
{
    if (GetParam().bAsNobody && RanAgainAsNobody())
        return;
    ASSERT_TRUE(fs::create_directory(m_dir.Path() + "/settings"));
    GetParam().pfnPrepare(LockPath());
    int nError = 0;
    EXPECT_EQ(LockSingleInstance(LockPath(), nError), EInstanceLock::Unavailable);
    EXPECT_EQ(nError, GetParam().nError) << std::strerror(nError);
    EXPECT_FALSE(fs::exists(m_dir.Path() + "/target")); // not made through a link
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LockFallbackTest,
    ::testing::Values(
        SLockFallback{"ReadOnlyFolder", true,
            [](const std::string& strPath) {
                EXPECT_EQ(::chmod(fs::path(strPath).parent_path().c_str(), 0500), 0);
            },
            EACCES},
        SLockFallback{"FolderThatCannotBeMade", false,
            [](const std::string& strPath) {
                const fs::path settings = fs::path(strPath).parent_path();
                fs::remove(settings);
                std::ofstream(settings.string()) << "a file where the folder should be";
            },
            ENOTDIR},
        SLockFallback{"LinkInItsPlace", false,
            [](const std::string& strPath) {
                const std::string strTarget = fs::path(strPath).parent_path().parent_path().string() + "/target";
                EXPECT_EQ(::symlink(strTarget.c_str(), strPath.c_str()), 0);
            },
            ELOOP},
        SLockFallback{"FifoInItsPlace", false,
            [](const std::string& strPath) { EXPECT_EQ(::mkfifo(strPath.c_str(), 0600), 0); }, ENOLCK},
        SLockFallback{"FolderInItsPlace", false,
            [](const std::string& strPath) { EXPECT_TRUE(fs::create_directory(strPath)); }, EISDIR}),
    SCaseName());

TEST_F(InstanceLockTest, RefusesAFileOfAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file away needs root";
    ASSERT_TRUE(fs::create_directory(m_dir.Path() + "/settings"));
    { std::ofstream(LockPath()) << ""; }
    ASSERT_EQ(::chown(LockPath().c_str(), 65534, 65534), 0);
    int nError = 0;
    EXPECT_EQ(LockSingleInstance(LockPath(), nError), EInstanceLock::Unavailable);
    EXPECT_EQ(nError, ENOLCK);
}

TEST_F(InstanceLockTest, TheHandOverSocketIsFoundFromTheLockFileInTheRuntimeFolder)
{
    int nError = 0;
    ASSERT_EQ(LockSingleInstance(LockPath(), nError), EInstanceLock::Ours);
    ASSERT_EQ(LockSingleInstance(LockPath("other"), nError), EInstanceLock::Ours);
    ASSERT_EQ(::symlink("settings", (m_dir.Path() + "/linked").c_str()), 0);
    const std::string strUser = std::to_string(::geteuid());
    const std::string strName = "/VelofonPocket.lock-" + strUser + "-";
    CEnvironmentOverride runtime("XDG_RUNTIME_DIR", m_dir.Path().c_str());
    const std::string strSocket = GetHandOverSocketPath(LockPath());
    EXPECT_EQ(strSocket.rfind(m_dir.Path() + strName, 0), 0u) << strSocket;
    EXPECT_EQ(GetHandOverSocketPath(LockPath("linked")), strSocket);
    EXPECT_NE(GetHandOverSocketPath(LockPath("other")), strSocket);
    EXPECT_EQ(GetHandOverSocketPath(LockPath("missing")), "");

    // Without an absolute runtime folder, the temporary one.
    const std::string strFile = fs::path(strSocket).filename().string();
    CEnvironmentOverride relativeRuntime("XDG_RUNTIME_DIR", "relative/dir");
    {
        CEnvironmentOverride temp("TMPDIR", m_dir.Path().c_str());
        EXPECT_EQ(GetHandOverSocketPath(LockPath()), strSocket);
    }
    CEnvironmentOverride noTemp("TMPDIR", nullptr);
    EXPECT_EQ(GetHandOverSocketPath(LockPath()), "/tmp/" + strFile);
}

// ---------------------------------------------------------------- the rest

TEST(DesktopTest, ModuleFileNameIsThisTestProgram)
{
    const std::string strPath = GetModuleFileName();
    ASSERT_FALSE(strPath.empty());
    EXPECT_EQ(strPath.front(), '/');
    const std::string strSuffix = "/desktop_tests";
    ASSERT_GE(strPath.size(), strSuffix.size());
    EXPECT_EQ(strPath.substr(strPath.size() - strSuffix.size()), strSuffix);
    EXPECT_EQ(fs::path(strPath), fs::canonical("/proc/self/exe"));
}

// True once no child of ours is left unreaped.
bool NoChildLeft(std::chrono::seconds timeout)
{
    const CClock::time_point deadline = CClock::now() + timeout;
    for (;;) {
        siginfo_t info {};
        // WNOWAIT: look only; reaping it here would hide a missing reaper.
        if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD)
            return true;
        if (CClock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A stand-in xdg-open in a folder of its own, first on PATH, that writes down
// the arguments it got.
class ShellOpenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.Path().empty());
        m_strGo = m_dir.Path() + "/go";
        m_strOut = m_dir.Path() + "/argument";
        m_strCount = m_dir.Path() + "/count";
        {
            // Waits for the test's go, so ShellOpen must have returned first.
            std::ofstream script(m_dir.Path() + "/xdg-open");
            script << "#!/bin/sh\n"
                   << "n=0\n"
                   << "while [ ! -e " << Quoted(m_strGo) << " ] && [ $n -lt 1000 ]; do sleep 0.01; n=$((n+1)); done\n"
                   << "printf '%s' \"$#\" > " << Quoted(m_strCount) << "\n"
                   << "printf '%s' \"$1\" > " << Quoted(m_strOut + ".part") << "\n"
                   << "mv " << Quoted(m_strOut + ".part") << " " << Quoted(m_strOut) << "\n";
        }
        ASSERT_EQ(::chmod((m_dir.Path() + "/xdg-open").c_str(), 0755), 0);
        const char* strOldPath = std::getenv("PATH");
        m_pPath = std::make_unique<CEnvironmentOverride>(
            "PATH", (m_dir.Path() + ":" + (strOldPath ? strOldPath : "/usr/bin:/bin")).c_str());
    }
    void TearDown() override { m_pPath.reset(); }

    // Opens strArgument and returns what the stand-in received.
    std::string Open(const std::string& strArgument)
    {
        fs::remove(m_strGo);
        fs::remove(m_strOut);
        fs::remove(m_strCount);
        const CClock::time_point start = CClock::now();
        EXPECT_TRUE(ShellOpen(strArgument));
        EXPECT_LT(CClock::now() - start, std::chrono::seconds(5));
        EXPECT_FALSE(fs::exists(m_strOut)); // not waited for
        { std::ofstream go(m_strGo); }
        EXPECT_TRUE(WaitForFile(m_strOut, std::chrono::seconds(10)));
        EXPECT_EQ(ReadWholeFile(m_strCount), "1");
        return ReadWholeFile(m_strOut);
    }

    // Shell single quotes around a path of ours (mkdtemp makes no quote).
    static std::string Quoted(const std::string& strPath) { return "'" + strPath + "'"; }

    CTempDir m_dir;
    std::string m_strGo;
    std::string m_strOut;
    std::string m_strCount;
    std::unique_ptr<CEnvironmentOverride> m_pPath;
};

TEST_F(ShellOpenTest, PassesTheArgumentUntouchedWithoutAShell)
{
    const std::string strPwned = m_dir.Path() + "/pwned";
    const std::string strArgument = "/music/My \"Best\" 'Hits' $HOME `id` $(touch " + strPwned
        + ") ; & | > * ?\nsecond line\\ \t end";
    EXPECT_EQ(Open(strArgument), strArgument);
    EXPECT_FALSE(fs::exists(strPwned));
    EXPECT_EQ(Open("https://example.org/a?b=1&c=$x#frag"), "https://example.org/a?b=1&c=$x#frag");
    EXPECT_TRUE(NoChildLeft(std::chrono::seconds(10)));
}

TEST_F(ShellOpenTest, ARelativePathWithALeadingDashIsNoOption)
{
    EXPECT_EQ(Open("--help"), "./--help");
    EXPECT_EQ(Open("-x y.wav"), "./-x y.wav");
    EXPECT_TRUE(NoChildLeft(std::chrono::seconds(10)));
}

TEST(DesktopTest, ShellOpenFailsWithoutXdgOpen)
{
    CTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    CEnvironmentOverride path("PATH", dir.Path().c_str());
    EXPECT_FALSE(ShellOpen("/music/a.wav"));
}

// libX11 keeps its compiled compose table only for users other than root,
// in a folder of their own that nobody else may write to; one the user
// chose stays.
TEST(DesktopTest, TheComposeCacheIsAFolderOfTheUsersOwnUnlessOneWasChosen)
{
    if (RanAgainAsNobody())
        return;
    CTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    CEnvironmentOverride cacheHome("XDG_CACHE_HOME", dir.Path().c_str());
    CEnvironmentOverride chosen("XCOMPOSECACHE", nullptr);
    UseComposeCache();
    const std::string strFolder = dir.Path() + "/VelofonPocket/compose";
    ASSERT_NE(std::getenv("XCOMPOSECACHE"), nullptr);
    EXPECT_EQ(std::getenv("XCOMPOSECACHE"), strFolder);
    struct stat info {};
    ASSERT_EQ(::stat(strFolder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    chosen.Set("/elsewhere");
    UseComposeCache();
    EXPECT_STREQ(std::getenv("XCOMPOSECACHE"), "/elsewhere");
}

} // namespace
