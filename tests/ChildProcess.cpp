#include "ChildProcess.h"

#include "ChildEnvironment.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

pid_t SpawnWithLog(std::vector<std::string> astrArgs, const std::vector<std::string>& astrSettings,
    const std::string& strLog, const std::string& strWorkingFolder)
{
    CChildEnvironment environment(astrSettings);
    std::vector<char*> apArgs = ArgumentPointers(astrArgs);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (!strWorkingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, strWorkingFolder.c_str());
    pid_t nPid = -1;
    const int nError = posix_spawnp(&nPid, apArgs[0], &actions, nullptr, apArgs.data(), environment.Get());
    posix_spawn_file_actions_destroy(&actions);
    if (nError == 0)
        return nPid;
    errno = nError;
    return -1;
}
