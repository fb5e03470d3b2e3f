// velofon render: what the engine makes of WAV files, written to one file.
// One engine serves the whole run, as in the player, so the Alpha tone runs
// on from one file into the next.
#include "Commands.h"
#include "PlaybackOptions.h"
#include "ProgressBar.h"
#include "RenderOutput.h"

#include "engine/SpeedEngine.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const char kRenderUsageLine[] =
    "usage: velofon render [--speed-index K | --speed S] [--mixing P] [--alpha P] [--raw] -o OUT IN.wav [IN.wav ...]\n";

const char kRenderHelp[] =
    "\n"
    "Renders the WAV files one after the other at the chosen speed and writes\n"
    "the result as one 16-bit stereo WAV at the sample rate of the first file\n"
    "rendered. A file that cannot be played is skipped with a message.\n"
    "\n"
    "options:\n"
    "  -o OUT           output file, '-' for standard output\n"
    "  --raw            write bare 16-bit stereo frames, no WAV header\n";

const char kRenderExitHelp[] =
    "\n"
    "exit status: 0 every input rendered, 1 an input skipped or the output\n"
    "failed, 2 usage error.\n";

// The player's output buffer: the engine's output comes in the same pieces.
constexpr uint32_t kFillBytes = 30000;
constexpr uint32_t kRateWithoutInput = 44100;

volatile std::sig_atomic_t g_bInterrupted = 0;

void OnInterrupt(int)
{
    g_bInterrupted = 1;
}

struct SRenderArgs {
    SPlaybackOptions options;
    bool bRaw = false;
    std::string strOut;
    std::vector<std::string> astrInputs;
};

int UsageError(const std::string& strMessage)
{
    std::fprintf(stderr, "velofon: %s\n", strMessage.c_str());
    std::fputs(kRenderUsageLine, stderr);
    return kExitUsage;
}

// Returns -1 when the arguments are complete, otherwise the exit status.
int ParseArgs(int argc, char** argv, SRenderArgs& args)
{
    bool bOptionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (bOptionsEnded || strArg == "-" || strArg.empty() || strArg[0] != '-') {
            args.astrInputs.push_back(strArg);
            continue;
        }
        if (strArg == "--help" || strArg == "-h") {
            std::printf("%s%s%s%s", kRenderUsageLine, kRenderHelp, kPlaybackOptionsHelp, kRenderExitHelp);
            return kExitOk;
        }
        try {
            std::string strValue;
            if (strArg == "--")
                bOptionsEnded = true;
            else if (strArg == "--raw")
                args.bRaw = true;
            else if (TakeOptionValue(argc, argv, i, "-o", strValue) || TakeOptionValue(argc, argv, i, "--output", strValue))
                args.strOut = strValue;
            else if (!args.options.Parse(argc, argv, i))
                return UsageError("unknown option '" + strArg + "'");
        } catch (const std::invalid_argument& error) {
            return UsageError(error.what());
        }
    }
    if (args.strOut.empty())
        return UsageError("no output file given (-o OUT)");
    if (args.astrInputs.empty())
        return UsageError("no input files given");
    return -1;
}

bool IsSameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string BaseName(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string OpenFailureReason(const CSpeedEngine& engine)
{
    const EOpenError eError = engine.GetOpenError();
    std::string strReason = DescribeOpenError(eError);
    if (eError == EOpenError::CannotOpen && engine.GetOpenErrno() != 0)
        strReason += std::string(" (") + std::strerror(engine.GetOpenErrno()) + ")";
    if (eError == EOpenError::UnsupportedRate && engine.GetFormat())
        strReason += " (" + std::to_string(engine.GetFormat()->nSamplesPerSec) + " Hz)";
    return strReason;
}

class CRenderRun {
public:
    CRenderRun(const SRenderArgs& args, CRenderOutput& output)
        : m_args(args)
        , m_output(output)
        , m_pEngine(std::make_unique<CSpeedEngine>(2.0))
    {
        args.options.ApplyLevels(*m_pEngine);
        for (const std::string& strInput : args.astrInputs) {
            struct stat st {};
            if (::stat(strInput.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                m_nTotalBytes += static_cast<uint64_t>(st.st_size);
        }
    }

    // Returns the exit status.
    int Run()
    {
        int nStatus = kExitOk;
        for (const std::string& strInput : m_args.astrInputs) {
            std::string strReason;
            if (!RenderFile(strInput, strReason)) {
                if (!m_output.GetError().empty() || g_bInterrupted)
                    return kExitSkipped;
                m_progress.Clear();
                std::fprintf(stderr, "velofon: skipping %s: %s\n", strInput.c_str(), strReason.c_str());
                nStatus = kExitSkipped;
            }
        }
        m_progress.Clear();
        return nStatus;
    }

private:
    bool RenderFile(const std::string& strInput, std::string& strReason)
    {
        CSpeedEngine& engine = *m_pEngine;
        if (!engine.Open(strInput, m_args.options.Speed())) {
            strReason = OpenFailureReason(engine);
            return false;
        }
        engine.Seek(0);
        const uint32_t nRate = engine.GetFormat()->nSamplesPerSec;
        const uint64_t nFileBytes = engine.SoundFile().WaveFile().GetLength();
        uint32_t nBytes = engine.Fill(m_abBuffer, sizeof m_abBuffer);
        if (nBytes == 0)
            strReason = NothingPlayableReason(engine, nRate);
        if (strReason.empty())
            m_output.SetSampleRate(nRate);
        for (; nBytes > 0; nBytes = engine.Fill(m_abBuffer, sizeof m_abBuffer)) {
            if (!m_output.Write(m_abBuffer, nBytes) || g_bInterrupted)
                break;
            m_progress.Show(Fraction(engine.GetPosition()), BaseName(strInput));
        }
        engine.Close();
        m_nDoneBytes += nFileBytes;
        return strReason.empty() && m_output.GetError().empty() && !g_bInterrupted;
    }

    // Why a file that holds data gave nothing at all; empty when it holds none.
    std::string NothingPlayableReason(const CSpeedEngine& engine, uint32_t nRate) const
    {
        if (!engine.m_bEndOfInput) {
            char strSpeed[16];
            std::snprintf(strSpeed, sizeof strSpeed, "%.1f", m_args.options.Speed());
            return "sample rate " + std::to_string(nRate) + " Hz is too high to play at " + strSpeed + "x";
        }
        const CWaveFile& file = engine.SoundFile().WaveFile();
        if (file.DataSizeWraps())
            return "its data size field (" + std::to_string(file.DataSize()) + " bytes) reaches past 4 GiB";
        return std::string();
    }

    double Fraction(uint64_t nPosition) const
    {
        return m_nTotalBytes == 0 ? 0.0 : static_cast<double>(m_nDoneBytes + nPosition) / static_cast<double>(m_nTotalBytes);
    }

    const SRenderArgs& m_args;
    CRenderOutput& m_output;
    std::unique_ptr<CSpeedEngine> m_pEngine;
    CProgressBar m_progress;
    uint64_t m_nTotalBytes = 0;
    uint64_t m_nDoneBytes = 0;
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
        for (const std::string& strInput : args.astrInputs) {
            struct stat stIn {};
            if (::stat(strInput.c_str(), &stIn) == 0 && IsSameFile(stIn, stOut))
                return UsageError("the output " + args.strOut + " is also an input; refusing to overwrite it");
        }
    }

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    CRenderOutput output(args.bRaw, kRateWithoutInput);
    if (!output.Open(args.strOut)) {
        std::fprintf(stderr, "velofon: %s\n", output.GetError().c_str());
        return kExitSkipped;
    }
    int nStatus = CRenderRun(args, output).Run();
    if (g_bInterrupted) {
        output.Abort();
        std::fputs("velofon: interrupted; nothing written\n", stderr);
        return 128 + SIGINT;
    }
    if (!output.GetError().empty() || !output.Commit()) {
        output.Abort();
        std::fprintf(stderr, "velofon: %s\n", output.GetError().c_str());
        return kExitSkipped;
    }
    if (args.strOut != "-")
        std::fprintf(stderr, "velofon: wrote %s\n", args.strOut.c_str());
    return nStatus;
}
