// velofon info: what a script needs to know of sound files, chapters
// included, in lines that stay the same from one version to the next.
#include "Commands.h"
#include "SkipReason.h"

#include "engine/SoundFile.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const char kInfoUsageLine[] = "usage: velofon info IN [IN ...]\n";

const char kInfoHelp[] =
    "\n"
    "Prints, for each sound file, one 'key: value' line each for its path,\n"
    "format, duration, title, artist and album (an empty value when the file\n"
    "has none), then one line per chapter:\n"
    "\n"
    "  chapter N START END TITLE\n"
    "\n"
    "N counting from 1, START and END (exclusive) as H:MM:SS.mmm, rounded\n"
    "down to the millisecond, and the TITLE, perhaps empty, to the end of the\n"
    "line. Control characters in values (a newline, a tab) show as spaces.\n"
    "A blank line comes between two files. A file that cannot be read is\n"
    "told on standard error, and the others are still printed.\n"
    "\n"
    "exit status: 0 every input read, 1 an input could not be read, 2 usage error.\n";

// A decoded file's length is the container's estimate until its end has been
// read (an MP3's counts the encoder's padding): its last seconds are read,
// so that the duration and the last chapter's end are exact.
void LearnLength(CSoundFile& file)
{
    constexpr uint64_t kTailSeconds = 2;
    if (!file.IsDecoded())
        return;
    const uint64_t nLength = file.GetLengthFrames();
    file.SeekFrame(nLength - std::min(nLength, kTailSeconds * file.GetFormat()->nSamplesPerSec));
    static unsigned char s_abBuffer[30000];
    while (file.Read(s_abBuffer, sizeof s_abBuffer) > 0) {
    }
}

// One line per value, whatever the file holds.
std::string OneLine(std::string str)
{
    for (char& c : str) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    return str;
}

void PrintInfo(const std::string& strInput, const CSoundFile& file)
{
    const uint32_t nRate = file.GetFormat()->nSamplesPerSec;
    std::printf("path: %s\n", OneLine(strInput).c_str());
    std::printf("format: %s\n", OneLine(file.GetFormatName()).c_str());
    std::printf("duration: %s\n", FormatFrameTime(file.GetLengthFrames(), nRate).c_str());
    for (const char* strKey : { "title", "artist", "album" })
        std::printf("%s: %s\n", strKey, OneLine(file.GetTag(strKey)).c_str());
    const std::vector<SChapter>& chapters = file.GetChapters();
    for (size_t i = 0; i < chapters.size(); ++i) {
        std::printf("chapter %zu %s %s %s\n", i + 1, FormatFrameTime(chapters[i].nStartFrame, nRate).c_str(),
            FormatFrameTime(chapters[i].nEndFrame, nRate).c_str(), OneLine(chapters[i].strTitle).c_str());
    }
}

} // namespace

int RunInfo(int argc, char** argv)
{
    std::vector<std::string> astrInputs;
    bool bOptionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (bOptionsEnded || strArg == "-" || strArg.empty() || strArg[0] != '-') {
            astrInputs.push_back(strArg);
        } else if (strArg == "--") {
            bOptionsEnded = true;
        } else if (strArg == "--help" || strArg == "-h") {
            std::printf("%s%s", kInfoUsageLine, kInfoHelp);
            return kExitOk;
        } else {
            std::fprintf(stderr, "velofon: unknown option '%s'\n%s", strArg.c_str(), kInfoUsageLine);
            return kExitUsage;
        }
    }
    if (astrInputs.empty()) {
        std::fprintf(stderr, "velofon: no input files given\n%s", kInfoUsageLine);
        return kExitUsage;
    }
    int nStatus = kExitOk;
    bool bPrintedAny = false;
    CSoundFile file;
    for (const std::string& strInput : astrInputs) {
        if (!file.Open(strInput)) {
            ReportSkipped(strInput, file.GetLastErrorText());
            nStatus = kExitSkipped;
            continue;
        }
        LearnLength(file);
        if (bPrintedAny)
            std::putchar('\n');
        PrintInfo(strInput, file);
        bPrintedAny = true;
        file.Close();
    }
    return std::fflush(stdout) == 0 ? nStatus : kExitSkipped;
}
