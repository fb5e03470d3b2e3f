// velofon: the speed-listening engine on the command line.
#include "Commands.h"

#include "common/Version.h"
#include "decoder/DecoderModule.h"

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "usage: velofon render [options] -o OUT IN [IN ...]\n"
    "       velofon play [options] IN [IN ...]\n"
    "       velofon info IN [IN ...]\n"
    "\n"
    "Speeds up recorded speech at unchanged pitch, as the VelofonPocket player does.\n"
    "\n"
    "commands:\n"
    "  render   write the sped-up sound of sound files to a WAV file (or raw frames)\n"
    "  play     play sound files sped up through the sound device\n"
    "  info     print the format, duration, tags and chapters of sound files\n"
    "\n"
    "Run 'velofon COMMAND --help' for the options of a command, and\n"
    "'velofon --version' for the version.\n";

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs("velofon: no command given\n", stderr);
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0) {
        std::puts("velofon " VELOFON_VERSION);
        // Said from the file alone: loading it would map all of FFmpeg.
        const std::string strModule = FindDecoderModule();
        if (!strModule.empty())
            std::printf("decoder module: %s\n", strModule.c_str());
        else
            std::puts("decoder module: missing, so only WAV files play (install VelofonPocket again)");
        return kExitOk;
    }
    if (std::strcmp(argv[1], "render") == 0)
        return RunRender(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "play") == 0)
        return RunPlay(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "info") == 0)
        return RunInfo(argc - 2, argv + 2);
    std::fprintf(stderr, "velofon: unknown command '%s'\n", argv[1]);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}
