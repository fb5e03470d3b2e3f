#include "CommandLine.h"

#include "common/Version.h"
#include "ui/FolderListing.h"

#include <climits>
#include <cstdio>
#include <unistd.h>

namespace {

// As the velofon commands report them.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsageLine[] = "usage: VelofonPocket [FILE_OR_FOLDER ...]\n";
const char kHelp[] =
    "\n"
    "The speed-listening player. The files given, and every sound file in the\n"
    "folders given and the folders under them, are added to the end of its\n"
    "playlist, and the first of them plays. When a player runs already, it\n"
    "takes them and comes to the front, and this start ends.\n"
    "\n"
    "options:\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "exit status: 0 the player was closed (or the running one took over),\n"
    "1 it could not start or the running one did not answer, 2 usage error,\n"
    "128+N ended by signal N.\n";

int UsageError(const std::string& strMessage)
{
    std::fprintf(stderr, "VelofonPocket: %s\n%sRun 'VelofonPocket --help' for more.\n", strMessage.c_str(),
                 kUsageLine);
    return kExitUsage;
}

} // namespace

SPlayerCommandLine ParseCommandLine(int argc, char** argv)
{
    SPlayerCommandLine commandLine;
    std::vector<std::string> astrGiven;
    bool bOptionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (bOptionsEnded || strArg.empty() || strArg[0] != '-') {
            if (!strArg.empty())
                astrGiven.push_back(strArg);
        } else if (strArg == "--") {
            bOptionsEnded = true;
        } else if (strArg == "--help" || strArg == "-h") {
            std::printf("%s%s", kUsageLine, kHelp);
            commandLine.nExitStatus = kExitOk;
            return commandLine;
        } else if (strArg == "--version" || strArg == "-V") {
            std::puts("VelofonPocket " VELOFON_VERSION);
            commandLine.nExitStatus = kExitOk;
            return commandLine;
        } else {
            commandLine.nExitStatus = UsageError("unknown option '" + strArg + "'");
            return commandLine;
        }
    }
    char strWorkingFolder[PATH_MAX];
    if (!astrGiven.empty() && !::getcwd(strWorkingFolder, sizeof strWorkingFolder)) {
        std::perror("VelofonPocket: the working folder");
        commandLine.nExitStatus = kExitFailure;
        return commandLine;
    }
    for (const std::string& strPath : astrGiven)
        commandLine.astrPaths.push_back(AbsolutePath(strPath, strWorkingFolder));
    return commandLine;
}
