// The player's command line: `VelofonPocket [FILE_OR_FOLDER ...]`, with
// --help and --version.
#pragma once

#include <string>
#include <vector>

struct SPlayerCommandLine {
    // The exit status when the program is to end at once (help, version, a
    // usage error, which it has already reported); -1 to run.
    int nExitStatus = -1;
    // The files and folders to open, made absolute against the working folder.
    std::vector<std::string> astrPaths;
};

SPlayerCommandLine ParseCommandLine(int argc, char** argv);
