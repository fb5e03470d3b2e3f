#include "AsNobody.h"

#include "ChildEnvironment.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

bool RanAgainAsNobody()
{
    if (::geteuid() != 0)
        return false;
    const ::testing::TestInfo* pTest = ::testing::UnitTest::GetInstance()->current_test_info();
    std::vector<std::string> astrArgs = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
        std::filesystem::read_symlink("/proc/self/exe").string(),
        std::string("--gtest_filter=") + pTest->test_suite_name() + "." + pTest->name()};
    std::vector<char*> apArgs = ArgumentPointers(astrArgs);
    int ahPipe[2];
    if (::pipe2(ahPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipe";
        return true;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ahPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ahPipe[1], STDERR_FILENO);
    pid_t nPid = -1;
    const int nError = posix_spawnp(&nPid, apArgs[0], &actions, nullptr, apArgs.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ahPipe[1]);
    std::string strOutput;
    char achBuffer[4096];
    for (ssize_t nRead; (nRead = ::read(ahPipe[0], achBuffer, sizeof achBuffer)) != 0;) {
        if (nRead > 0)
            strOutput.append(achBuffer, static_cast<size_t>(nRead));
        else if (errno != EINTR)
            break;
    }
    ::close(ahPipe[0]);
    int nStatus = -1;
    if (nError == 0)
        ::waitpid(nPid, &nStatus, 0);
    // A test skipped or not found there passes nothing.
    EXPECT_TRUE(nError == 0 && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0 &&
        strOutput.find("[  PASSED  ] 1 test.") != std::string::npos)
        << "as nobody:\n" << strOutput;
    return true;
}
