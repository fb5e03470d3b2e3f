// Starts a program a test drives, its output kept in a file that the test
// reads and shows when it fails.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// astrArgs[0] is looked up in PATH unless it holds a slash; astrSettings
// ("NAME=value") count over this process's environment. Standard output and
// standard error go to strLog, made anew. The child starts in
// strWorkingFolder when one is given. Returns its pid, or -1 with errno set
// when it cannot start.
pid_t SpawnWithLog(std::vector<std::string> astrArgs, const std::vector<std::string>& astrSettings,
    const std::string& strLog, const std::string& strWorkingFolder = "");
