// velofon render: what the engine makes of sound files, written to one file.
// One engine serves the whole run, as in the player, so the Alpha tone runs
// on from one file into the next.
#include "Commands.h"
#include "Interrupt.h"
#include "PlaybackOptions.h"
#include "ProgressBar.h"
#include "RenderOutput.h"
#include "SkipReason.h"

#include "engine/SpeedEngine.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kRenderUsageLine[] =
    "usage: velofon render [--speed-index K | --speed S] [--mixing P] [--alpha P] [--start TIME] [--clear]\n"
    "                      [--skip-silence] [--chapter N | --end TIME] [--raw] -o OUT IN [IN ...]\n";

const char kRenderHelp[] =
    "\n"
    "Renders the sound files (WAV, MP3, M4A/M4B, Opus, Ogg, FLAC and whatever\n"
    "else FFmpeg reads) one after the other at the chosen speed and writes\n"
    "the result as one 16-bit stereo WAV at the sample rate of the first file\n"
    "rendered. A file that cannot be played is skipped with a message.\n"
    "\n"
    "options:\n"
    "  -o OUT           output file, '-' for standard output\n"
    "  --raw            write bare 16-bit stereo frames, no WAV header\n"
    "  --chapter N      render only chapter N (from 1) of the first input, as\n"
    "                   'velofon info' lists them; an input without it is skipped\n"
    "  --end TIME       end the first input at TIME (as --start takes it)\n";

const char kRenderExitHelp[] =
    "\n"
    "exit status: 0 every input rendered, 1 an input skipped or cut short or\n"
    "the output failed (nothing is written when every input was skipped), 2 usage error,\n"
    "128+N ended by signal N (130 for Ctrl+C).\n";

// The player's output buffer: the engine's output comes in the same pieces.
constexpr uint32_t kFillBytes = 30000;
constexpr uint32_t kRateWithoutInput = 44100;

struct SRenderArgs {
    SCommandLine line;
    bool bRaw = false;
    std::string strOut;
    // The stretch of the first input: a chapter (from 1, 0 for none) or an end.
    size_t nChapter = 0;
    bool bEndGiven = false;
    SStartTime end;
};

// Returns -1 when the arguments are complete, otherwise the exit status.
int ParseArgs(int argc, char** argv, SRenderArgs& args)
{
    args.line.strUsageLine = kRenderUsageLine;
    args.line.strAbout = kRenderHelp;
    args.line.strExitHelp = kRenderExitHelp;
    bool bOutGiven = false;
    args.line.TakeExtra = [&args, &bOutGiven](int nArgs, char** astrArgs, int& i) {
        std::string strValue;
        if (std::string(astrArgs[i]) == "--raw") {
            args.bRaw = true;
        } else if (TakeOptionValue(nArgs, astrArgs, i, "-o", strValue)
            || TakeOptionValue(nArgs, astrArgs, i, "--output", strValue)) {
            // Two outputs would leave one of them unwritten, without a word.
            if (bOutGiven)
                throw std::invalid_argument("only one output can be given (-o OUT)");
            bOutGiven = true;
            args.strOut = strValue;
        } else if (TakeOptionValue(nArgs, astrArgs, i, "--chapter", strValue)) {
            args.nChapter = static_cast<size_t>(ParseWholeNumber("--chapter", strValue, 1, INT32_MAX));
        } else if (TakeOptionValue(nArgs, astrArgs, i, "--end", strValue)) {
            args.end = ParseStartTime(strValue, "--end");
            args.bEndGiven = true;
        } else {
            return false;
        }
        return true;
    };
    const int nParsed = args.line.Parse(argc, argv);
    if (nParsed >= 0)
        return nParsed;
    if (args.strOut.empty())
        return args.line.UsageError("no output file given (-o OUT)");
    // A chapter has its own start and end.
    if (args.nChapter > 0 && (args.bEndGiven || !args.line.options.strStart.empty()))
        return args.line.UsageError("give either --chapter or --start and --end, not both");
    if (args.bEndGiven && !args.line.options.start.IsBefore(args.end))
        return args.line.UsageError("--end must come after --start (or 0)");
    if (args.strOut == "-" && ::isatty(STDOUT_FILENO))
        return args.line.UsageError("standard output is a terminal; redirect it to a file or a pipe, or give -o OUT");
    return -1;
}

class CRenderRun {
public:
    CRenderRun(const SRenderArgs& args, CRenderOutput& output)
        : m_args(args)
        , m_output(output)
        , m_pEngine(std::make_unique<CSpeedEngine>(2.0))
    {
        args.line.options.ApplyTo(*m_pEngine);
        for (const std::string& strInput : args.line.astrInputs)
            m_nTotalBytes += SizeOf(strInput);
    }

    // Returns the exit status.
    int Run()
    {
        int nStatus = kExitOk;
        const std::vector<std::string>& astrInputs = m_args.line.astrInputs;
        for (size_t nInput = 0; nInput < astrInputs.size(); ++nInput) {
            const std::string& strInput = astrInputs[nInput];
            std::string strReason;
            if (!RenderFile(strInput, nInput == 0, strReason)) {
                if (!m_output.GetError().empty() || WasInterrupted())
                    return kExitSkipped;
                m_progress.Clear();
                ReportSkipped(strInput, strReason);
                nStatus = kExitSkipped;
            } else {
                m_bRenderedAny = true;
            }
        }
        m_progress.Clear();
        return nStatus;
    }

    bool RenderedAny() const { return m_bRenderedAny; }
    bool WasCutShort() const { return m_bCutShort; }

    // "velofon: skipping silence saved ..." when it was on.
    void ReportSavedTime() const
    {
        if (!m_args.line.options.bSkipSilence)
            return;
        // Tenths of a second: a prompt saves less than one.
        const auto format = [](double dSeconds) {
            const uint64_t nTenths = static_cast<uint64_t>(dSeconds * 10 + 0.5);
            return FormatTime(nTenths / 10) + "." + std::to_string(nTenths % 10);
        };
        std::fprintf(stderr, "velofon: skipping silence saved %s of listening (%s of the recording)\n",
            format(m_dSkippedSeconds / m_args.line.options.Speed()).c_str(), format(m_dSkippedSeconds).c_str());
    }

private:
    // A start at or past the end renders nothing of the file, as a file
    // without samples does.
    bool RenderFile(const std::string& strInput, bool bFirstInput, std::string& strReason)
    {
        CSpeedEngine& engine = *m_pEngine;
        if (!engine.Open(strInput, m_args.line.options.Speed())) {
            strReason = engine.GetOpenErrorText();
            return false;
        }
        const bool bAnySound = m_args.line.options.SeekToStart(engine, strInput, bFirstInput);
        if (bFirstInput && !PlaceStretch(strReason)) {
            engine.Close();
            return false;
        }
        const uint32_t nRate = engine.GetFormat()->nSamplesPerSec;
        const uint64_t nFileBytes = SizeOf(strInput);
        // A WAV's data chunk (within the file) states its length, up to the
        // end asked for; a decoded file's length is the container's estimate,
        // which never counts.
        const uint64_t nStatedFrames = engine.SoundFile().IsDecoded()
            ? 0
            : std::min(engine.SoundFile().GetLengthFrames(), engine.SoundFile().GetEndFrame());
        WarnOfAnotherRate(strInput, nRate);
        m_output.SetSampleRate(nRate);
        for (uint32_t nBytes; bAnySound && (nBytes = engine.Fill(m_abBuffer, sizeof m_abBuffer)) > 0;) {
            if (!m_output.Write(m_abBuffer, nBytes) || WasInterrupted())
                break;
            WarnOfCappedSizes();
            m_progress.Show(Fraction(nFileBytes, engine.SoundFile()), BaseName(strInput));
        }
        const bool bDone = m_output.GetError().empty() && !WasInterrupted();
        if (bDone && bAnySound)
            WarnIfCutShort(strInput, nStatedFrames, nFileBytes);
        engine.Close();
        m_dSkippedSeconds += static_cast<double>(engine.GetSkippedFrames()) / nRate;
        m_nDoneBytes += nFileBytes;
        return bDone;
    }

    // Moves the engine, at the first input's start, to the chapter asked for
    // or sets its end; false with the reason when it has no such chapter.
    bool PlaceStretch(std::string& strReason)
    {
        CSpeedEngine& engine = *m_pEngine;
        if (m_args.bEndGiven)
            engine.SetEndFrame(m_args.end.Frame(engine.GetFormat()->nSamplesPerSec));
        if (m_args.nChapter == 0)
            return true;
        const std::vector<SChapter>& chapters = engine.SoundFile().GetChapters();
        if (m_args.nChapter > chapters.size()) {
            strReason = "no chapter " + std::to_string(m_args.nChapter)
                + (chapters.empty() ? std::string(" (it has none)") : " (it has " + std::to_string(chapters.size()) + ")");
            return false;
        }
        const SChapter& chapter = chapters[m_args.nChapter - 1];
        engine.SeekFrame(chapter.nStartFrame);
        // The last one runs to the end that reading finds, which the
        // container's estimate of the length may miss.
        if (m_args.nChapter < chapters.size())
            engine.SetEndFrame(chapter.nEndFrame);
        return true;
    }

    // An input that ended before its stated length, or shrank while it was
    // read (rewritten, truncated): the output holds what was read, and the
    // run fails.
    void WarnIfCutShort(const std::string& strInput, uint64_t nStatedFrames, uint64_t nFileBytes)
    {
        const CSoundFile& file = m_pEngine->SoundFile();
        const uint64_t nRead = file.GetPositionFrames();
        const uint64_t nBytesNow = SizeOf(strInput);
        if (nRead >= nStatedFrames && nBytesNow >= nFileBytes)
            return;
        m_bCutShort = true;
        m_progress.Clear();
        const uint32_t nRate = m_pEngine->GetFormat()->nSamplesPerSec;
        std::fprintf(stderr,
            "velofon: warning: %s ended before its stated length (%s of %s, %llu of %llu bytes now); "
            "the output holds what was read\n",
            strInput.c_str(), FormatTime(nRead / nRate).c_str(), FormatTime(nStatedFrames / nRate).c_str(),
            static_cast<unsigned long long>(nBytesNow), static_cast<unsigned long long>(nFileBytes));
    }

    // One output has one rate: a file recorded at another plays at the wrong
    // speed and pitch, which the user would otherwise only hear.
    void WarnOfAnotherRate(const std::string& strInput, uint32_t nRate)
    {
        if (!m_output.HasSampleRate() || m_output.GetSampleRate() == nRate)
            return;
        const uint32_t nOutRate = m_output.GetSampleRate();
        const bool bFaster = nRate < nOutRate;
        const double dFactor = bFaster ? static_cast<double>(nOutRate) / nRate : static_cast<double>(nRate) / nOutRate;
        m_progress.Clear();
        std::fprintf(stderr,
            "velofon: warning: %s was recorded at %u Hz and is written at %u Hz: it will sound %.1fx too %s; "
            "render such files separately\n",
            strInput.c_str(), nRate, nOutRate, dFactor, bFaster ? "fast" : "slow");
    }

    void WarnOfCappedSizes()
    {
        if (m_bWarnedOfCappedSizes || !m_output.ExceedsHeaderSizes())
            return;
        m_bWarnedOfCappedSizes = true;
        m_progress.Clear();
        std::fprintf(stderr,
            "velofon: warning: %s reaches 4 GiB, more than a WAV header can describe; its sizes are capped, "
            "so some programs will stop reading early (--raw writes bare frames without that limit)\n",
            m_args.strOut.c_str());
    }

    static uint64_t SizeOf(const std::string& strInput)
    {
        struct stat st {};
        return ::stat(strInput.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    }

    // Each file weighs its size in the whole run, however it is encoded.
    double Fraction(uint64_t nFileBytes, const CSoundFile& file) const
    {
        const uint64_t nFrames = file.GetLengthFrames();
        const double dInFile = nFrames == 0 ? 0.0 : static_cast<double>(file.GetPositionFrames()) / static_cast<double>(nFrames);
        return m_nTotalBytes == 0 ? 0.0
                                  : (static_cast<double>(m_nDoneBytes) + dInFile * static_cast<double>(nFileBytes))
                / static_cast<double>(m_nTotalBytes);
    }

    const SRenderArgs& m_args;
    CRenderOutput& m_output;
    std::unique_ptr<CSpeedEngine> m_pEngine;
    CProgressBar m_progress;
    uint64_t m_nTotalBytes = 0;
    uint64_t m_nDoneBytes = 0;
    bool m_bRenderedAny = false;
    bool m_bWarnedOfCappedSizes = false;
    double m_dSkippedSeconds = 0;
    bool m_bCutShort = false;
    unsigned char m_abBuffer[kFillBytes] = {};
};

} // namespace

int RunRender(int argc, char** argv)
{
    SRenderArgs args;
    const int nParsed = ParseArgs(argc, argv, args);
    if (nParsed >= 0)
        return nParsed;

    struct stat stOut {};
    if (args.strOut != "-" && ::stat(args.strOut.c_str(), &stOut) == 0) {
        for (const std::string& strInput : args.line.astrInputs) {
            struct stat stIn {};
            if (::stat(strInput.c_str(), &stIn) == 0 && IsSameFile(stIn, stOut))
                return args.line.UsageError("the output " + args.strOut + " is also an input; refusing to overwrite it");
        }
    }

    CatchInterrupts();
    CRenderOutput output(args.bRaw, kRateWithoutInput);
    if (!output.Open(args.strOut)) {
        std::fprintf(stderr, "velofon: %s\n", output.GetError().c_str());
        return kExitSkipped;
    }
    CRenderRun run(args, output);
    const int nStatus = run.Run();
    if (WasInterrupted()) {
        output.Abort();
        std::fputs("velofon: interrupted; nothing written\n", stderr);
        return InterruptedExitStatus();
    }
    if (output.GetError().empty() && !run.RenderedAny()) {
        // Replacing yesterday's result with an empty file would lose it for nothing.
        output.Abort();
        std::fputs("velofon: no input could be rendered; nothing written\n", stderr);
        return kExitSkipped;
    }
    if (!output.GetError().empty() || !output.Commit()) {
        output.Abort();
        std::fprintf(stderr, "velofon: %s\n", output.GetError().c_str());
        return kExitSkipped;
    }
    run.ReportSavedTime();
    if (args.strOut != "-")
        std::fprintf(stderr, "velofon: wrote %s\n", args.strOut.c_str());
    return run.WasCutShort() ? kExitSkipped : nStatus;
}
