// velofon render as a user runs it: exit codes, messages, and the bytes it writes.
#include "../WavBytes.h"
#include "common/Version.h"
#include "engine/ReferenceRender.h"

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class RenderCommandTest : public ::testing::Test {
protected:
    // Runs velofon with the arguments; keeps standard error in m_strErr.
    int Run(const std::string& strArgs)
    {
        const std::string strErr = m_dir.Path() + "/stderr.txt";
        const std::string strCommand = std::string(VELOFON_EXE) + " " + strArgs + " 2>" + strErr;
        const int nStatus = std::system(strCommand.c_str());
        const Bytes abErr = ReadWholeFile(strErr);
        m_strErr.assign(abErr.begin(), abErr.end());
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    std::string Speech(const std::string& strName, uint16_t nChannels, uint32_t nRate, size_t nBytes)
    {
        Bytes ab(nBytes);
        for (size_t i = 0; i < nBytes; ++i)
            ab[i] = static_cast<uint8_t>((i * i) >> 5);
        return m_dir.Write(strName, MakeWav(nChannels, nRate, static_cast<uint16_t>(2 * nChannels), ab));
    }

    std::string Out(const std::string& strName) const { return m_dir.Path() + "/" + strName; }

    std::set<std::string> Names() const
    {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    // A sparse file of 2 GiB, declared as a streaming writer declares it, so
    // that a run is still going when the test ends it.
    std::string LongInput()
    {
        Bytes abHeader = MakeWav(2, 44100, 4, Bytes());
        PutU32(abHeader, 40, 0xFFFFFFFFu);
        const std::string strIn = m_dir.Write("long.wav", abHeader);
        EXPECT_EQ(::truncate(strIn.c_str(), off_t{ 1 } << 31), 0);
        return strIn;
    }

    // Starts a render of strIn into o.wav; returns once the unfinished output
    // holds sound.
    pid_t StartRender(const std::string& strIn)
    {
        const std::string strOut = Out("o.wav");
        const pid_t nPid = ::fork();
        if (nPid == 0) {
            ::execl(VELOFON_EXE, VELOFON_EXE, "render", "--speed", "1", "-o", strOut.c_str(), strIn.c_str(),
                static_cast<char*>(nullptr));
            ::_exit(127);
        }
        EXPECT_GT(nPid, 0);
        for (int nTry = 0; nTry < 2000 && !IsWritingHere(nPid, strIn); ++nTry)
            ::usleep(5000);
        EXPECT_TRUE(IsWritingHere(nPid, strIn));
        return nPid;
    }

    // Whether the process holds a file of this folder open, other than
    // strIn, that is no longer empty, whether it has a name or not.
    bool IsWritingHere(pid_t nPid, const std::string& strIn) const
    {
        const std::filesystem::path folder = std::filesystem::canonical(m_dir.Path());
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(nPid) + "/fd", error)) {
            const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
            struct stat st {};
            if (target.parent_path() == folder && target != std::filesystem::canonical(strIn)
                && ::stat(entry.path().c_str(), &st) == 0 && st.st_size > 0)
                return true;
        }
        return false;
    }

    CTempDir m_dir;
    std::string m_strErr;
};

TEST_F(RenderCommandTest, UsageErrorsExitWithTwo)
{
    const std::string strIn = Speech("in.wav", 1, 22050, 1000);
    for (const std::string& strArgs : { std::string(), std::string("frobnicate"), "render " + strIn,
             "render -o " + Out("o.wav"), "render --speed 4.5 -o " + Out("o.wav") + " " + strIn,
             "render --speed 2.05 -o " + Out("o.wav") + " " + strIn, "render --speed-index 31 -o x.wav " + strIn,
             "render --mixing 101 -o x.wav " + strIn, "render --alpha 51 -o x.wav " + strIn,
             "render --alpha -o x.wav " + strIn, "render --loud -o x.wav " + strIn,
             "render --speed 2.0 --speed-index 3 -o x.wav " + strIn, "play --speed-index=3 --speed=2.0 " + strIn,
             "render -o x.wav --output y.wav " + strIn, "render --start 1:60 -o x.wav " + strIn,
             "play --start=-1 " + strIn, "render -o x.wav " + strIn + " --start" }) {
        EXPECT_EQ(Run(strArgs), 2) << strArgs;
        EXPECT_NE(m_strErr.find("velofon: "), std::string::npos) << strArgs;
    }
    EXPECT_FALSE(std::filesystem::exists("x.wav"));
    EXPECT_EQ(Run("--help"), 0);
    EXPECT_EQ(Run("render --help"), 0);
    for (const char* strFlag : { "--version", "-V" }) {
        EXPECT_EQ(Run(std::string(strFlag) + " >" + Out("version.txt")), 0);
        const Bytes abVersion = ReadWholeFile(Out("version.txt"));
        EXPECT_EQ(std::string(abVersion.begin(), abVersion.end()).rfind("velofon " VELOFON_VERSION "\n", 0), 0u);
    }
    // Sound bytes are not for a terminal; `script` gives the command one.
    const std::string strOnTerminal = std::string("script -qec '") + VELOFON_EXE + " render -o - " + strIn
        + "' /dev/null >" + Out("terminal.txt");
    const int nTerminalStatus = std::system(strOnTerminal.c_str());
    EXPECT_TRUE(WIFEXITED(nTerminalStatus) && WEXITSTATUS(nTerminalStatus) == 2);
    const Bytes abScreen = ReadWholeFile(Out("terminal.txt"));
    EXPECT_NE(std::string(abScreen.begin(), abScreen.end()).find("standard output is a terminal"), std::string::npos);
    EXPECT_EQ(std::search(abScreen.begin(), abScreen.end(), std::begin("RIFF"), std::end("RIFF") - 1), abScreen.end());
}

// FFmpeg is mapped by the first file that needs it and by no other, and SDL
// by no render (glibc's loader names each library it maps under LD_DEBUG);
// without the decoder module such a file is skipped with what to install,
// and WAVs play on.
TEST_F(RenderCommandTest, FfmpegIsLoadedOnlyForTheFilesThatNeedIt)
{
    const std::string strWav = Speech("in.wav", 1, 22050, 40000);
    const std::string strMp3 = Out("in.mp3");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -i " + strWav + " " + strMp3).c_str()), 0);
    for (const auto& [strIn, bMapsFfmpeg] : { std::pair(strWav, false), std::pair(strMp3, true) }) {
        const std::string strCommand = "LD_DEBUG=files " + std::string(VELOFON_EXE) + " render -o " + Out("o.wav")
            + " " + strIn + " 2>" + Out("loader.txt");
        EXPECT_EQ(std::system(strCommand.c_str()), 0) << strCommand;
        const Bytes abLoader = ReadWholeFile(Out("loader.txt"));
        const std::string strLoader(abLoader.begin(), abLoader.end());
        EXPECT_EQ(strLoader.find("file=libavcodec") != std::string::npos, bMapsFfmpeg) << strIn;
        EXPECT_EQ(strLoader.find("file=libSDL2"), std::string::npos) << strIn;
    }

    const std::string strAlone = m_dir.Path() + "/alone";
    std::filesystem::create_directory(strAlone);
    std::filesystem::copy_file(VELOFON_EXE, strAlone + "/velofon");
    const std::string strCommand = strAlone + "/velofon render -o " + Out("o.wav") + " " + strMp3 + " " + strWav
        + " 2>" + Out("alone.txt");
    const int nStatus = std::system(strCommand.c_str());
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 1) << nStatus;
    const Bytes abErr = ReadWholeFile(Out("alone.txt"));
    EXPECT_NE(std::string(abErr.begin(), abErr.end())
                  .find("skipping " + strMp3 + ": the decoder module velofon-decoder.so is not installed"),
        std::string::npos);
    ASSERT_EQ(Run("render -o " + Out("wav-only.wav") + " " + strWav), 0);
    EXPECT_EQ(ReadWholeFile(Out("o.wav")), ReadWholeFile(Out("wav-only.wav")));
}

TEST_F(RenderCommandTest, RawOutputIsTheEnginesAcrossFiles)
{
    const std::string strA = Speech("a.wav", 1, 22050, 50000);
    const std::string strB = Speech("b.wav", 2, 44100, 80000);
    ASSERT_EQ(Run("render --speed 2.5 --mixing 75 --alpha 20 --raw -o " + Out("o.raw") + " " + strA + " " + strB), 0)
        << m_strErr;
    SReferenceSettings settings;
    settings.dSpeed = (15 + 10.0) * 0.1;
    settings.nMixingGain = 15;
    settings.bAlpha = 1;
    settings.nAlphaLevel = 20;
    CReferenceRender reference;
    Bytes abExpected = reference.Render(ReadWholeFile(strA), settings);
    const Bytes abSecond = reference.Render(ReadWholeFile(strB), settings);
    abExpected.insert(abExpected.end(), abSecond.begin(), abSecond.end());
    EXPECT_TRUE(ReadWholeFile(Out("o.raw")) == abExpected);
}

TEST_F(RenderCommandTest, WavOutputHasACanonicalHeaderAtTheFirstRate)
{
    const std::string strA = Speech("a.wav", 2, 11025, 30000);
    const std::string strB = Speech("b.wav", 1, 22050, 30000);
    ASSERT_EQ(Run("render --speed-index 0 -o " + Out("o.wav") + " " + strA + " " + strB), 0) << m_strErr;
    EXPECT_NE(m_strErr.find("velofon: wrote " + Out("o.wav")), std::string::npos) << m_strErr;
    ASSERT_EQ(Run("render --speed 1.0 --raw -o - " + strA + " " + strB + " >" + Out("o.raw")), 0) << m_strErr;
    const Bytes abWav = ReadWholeFile(Out("o.wav"));
    const Bytes abRaw = ReadWholeFile(Out("o.raw"));
    ASSERT_GT(abRaw.size(), 0u);
    ASSERT_EQ(abWav.size(), abRaw.size() + 44);
    Bytes abHeader = MakeWav(2, 11025, 4, Bytes());
    PutU32(abHeader, 4, static_cast<uint32_t>(36 + abRaw.size()));
    PutU32(abHeader, 40, static_cast<uint32_t>(abRaw.size()));
    EXPECT_TRUE(std::equal(abHeader.begin(), abHeader.end(), abWav.begin()));
    EXPECT_TRUE(std::equal(abRaw.begin(), abRaw.end(), abWav.begin() + 44));
}

TEST_F(RenderCommandTest, WavThroughAPipeCarriesUnknownSizes)
{
    const std::string strIn = Speech("a.wav", 1, 8000, 30000);
    ASSERT_EQ(Run("render -o - " + strIn + " | cat >" + Out("piped.wav")), 0) << m_strErr;
    ASSERT_EQ(Run("render -o - " + strIn + " >" + Out("redirected.wav")), 0) << m_strErr;
    Bytes abPiped = ReadWholeFile(Out("piped.wav"));
    const Bytes abRedirected = ReadWholeFile(Out("redirected.wav"));
    ASSERT_EQ(abPiped.size(), abRedirected.size());
    EXPECT_EQ(std::vector<uint8_t>(abPiped.begin() + 40, abPiped.begin() + 44), Bytes(4, 0xFF));
    EXPECT_EQ(std::vector<uint8_t>(abPiped.begin() + 4, abPiped.begin() + 8), Bytes(4, 0xFF));
    // A redirected file is completed like any output file.
    PutU32(abPiped, 4, static_cast<uint32_t>(abPiped.size() - 8));
    PutU32(abPiped, 40, static_cast<uint32_t>(abPiped.size() - 44));
    EXPECT_TRUE(abPiped == abRedirected);
}

TEST_F(RenderCommandTest, UnplayableInputsAreSkippedWithTheirReason)
{
    const std::string strGood = Speech("good.wav", 1, 22050, 20000);
    const std::string strSlow = Speech("slow.wav", 1, 100, 4000);
    const std::string strBad = m_dir.Write("bad.wav", Bytes(100, 'x'));
    const std::string strText = m_dir.Write("notes.mp3", Bytes(100, 'x'));
    const std::string strMissing = Out("missing.wav");
    EXPECT_EQ(Run("render --speed 1 --raw -o " + Out("o.raw") + " " + strBad + " " + strMissing + " " + strSlow + " "
                  + strGood + " " + m_dir.Path() + " " + strText),
        1);
    EXPECT_NE(m_strErr.find("skipping " + strBad + ": no data chunk"), std::string::npos) << m_strErr;
    EXPECT_NE(m_strErr.find("skipping " + strMissing + ": cannot be opened"), std::string::npos) << m_strErr;
    EXPECT_NE(m_strErr.find("skipping " + strSlow + ": unsupported sample rate"), std::string::npos) << m_strErr;
    EXPECT_NE(m_strErr.find("skipping " + m_dir.Path() + ": not a regular file"), std::string::npos) << m_strErr;
    EXPECT_NE(m_strErr.find("skipping " + strText + ": not an audio file FFmpeg can read"), std::string::npos)
        << m_strErr;
    // A file without samples is rendered, to nothing.
    EXPECT_EQ(Run("render --raw -o " + Out("empty.raw") + " " + m_dir.Write("empty.wav", MakeWav(1, 8000, 1, {}))), 0);
    EXPECT_TRUE(ReadWholeFile(Out("empty.raw")).empty());
    ASSERT_EQ(Run("render --speed 1 --raw -o " + Out("good.raw") + " " + strGood), 0);
    EXPECT_TRUE(ReadWholeFile(Out("o.raw")) == ReadWholeFile(Out("good.raw"))) << "skipped files add nothing";
}

TEST_F(RenderCommandTest, RefusesToOverwriteAnInputAndLeavesNoTemporaryFile)
{
    const std::string strIn = Speech("in.wav", 1, 22050, 20000);
    const Bytes abBefore = ReadWholeFile(strIn);
    EXPECT_EQ(Run("render -o " + m_dir.Path() + "/./in.wav " + strIn), 2);
    EXPECT_NE(m_strErr.find("is also an input"), std::string::npos) << m_strErr;
    EXPECT_TRUE(ReadWholeFile(strIn) == abBefore);

    EXPECT_EQ(Run("render -o " + Out("o.wav") + " " + strIn), 0);
    EXPECT_EQ(Run("render -o " + m_dir.Path() + "/no-such-folder/o.wav " + strIn), 1);
    EXPECT_NE(m_strErr.find("velofon: cannot write " + m_dir.Path() + "/no-such-folder/o.wav: No such file or directory"),
        std::string::npos) << m_strErr;
    EXPECT_EQ(Names(), std::set<std::string>({ "in.wav", "o.wav", "stderr.txt" }));
}

// The output is written behind the rendering: a write that fails is still
// the run's failure, whether it is the last block or one of many before it.
TEST_F(RenderCommandTest, AFullDeviceFailsTheRun)
{
    for (const size_t nBytes : { size_t{ 20000 }, size_t{ 8u << 20 } }) {
        const std::string strIn = Speech("in.wav", 2, 44100, nBytes);
        for (const std::string strOut : { "-o /dev/full", "-o - >/dev/full" }) {
            EXPECT_EQ(Run("render " + strOut + " " + strIn), 1) << strOut << " " << nBytes;
            EXPECT_NE(m_strErr.find("velofon: cannot write "), std::string::npos) << m_strErr;
            EXPECT_NE(m_strErr.find("No space left on device"), std::string::npos) << m_strErr;
        }
    }
}

TEST_F(RenderCommandTest, WhenEveryInputIsSkippedTheOutputStaysAsItWas)
{
    const Bytes abYesterday = ReadWholeFile(Speech("yesterday.wav", 1, 8000, 9000));
    const std::string strOut = m_dir.Write("o.wav", abYesterday);
    EXPECT_EQ(Run("render -o " + strOut + " " + Out("typo.wav") + " " + m_dir.Write("bad.wav", Bytes(10, 'x'))), 1);
    EXPECT_EQ(m_strErr.find("wrote"), std::string::npos) << m_strErr;
    EXPECT_NE(m_strErr.find("nothing written"), std::string::npos) << m_strErr;
    EXPECT_TRUE(ReadWholeFile(strOut) == abYesterday);
    EXPECT_EQ(Run("render -o - " + Out("typo.wav") + " >" + Out("piped.wav")), 1);
    EXPECT_TRUE(ReadWholeFile(Out("piped.wav")).empty()) << "not even a header";
}

// --start moves the first input's reader to its frame and nothing else: the
// engine then makes what it makes of a copy whose sound begins there. Later
// inputs play from their beginning.
TEST_F(RenderCommandTest, StartRendersTheFirstInputAsIfCutThere)
{
    struct SCase {
        uint16_t nChannels;
        uint32_t nRate;
        uint16_t nBlockAlign;
        std::string strStart;
        size_t nCutFrames;
        std::string strOptions;
    };
    const SCase aCases[] = {
        { 1, 22050, 2, "1.5", 33075, "" },
        { 2, 11025, 2, "0:01.25", 13781, "--speed 3.1 --alpha 30" },
        { 2, 44100, 4, "0:00:00.29", 12789, "--speed 1.0 --mixing 90" },
        { 1, 22050, 2, "1.25", 27562, "--clear --speed 2.5" },
        { 2, 16000, 4, "0.5", 8000, "--clear --skip-silence --speed 3.7 --alpha 20" },
    };
    for (const SCase& c : aCases) {
        Bytes abData(c.nRate * c.nBlockAlign * 3);
        for (size_t i = 0; i < abData.size(); ++i)
            abData[i] = static_cast<uint8_t>((i * i) >> 5);
        const std::string strWhole = m_dir.Write("whole.wav", MakeWav(c.nChannels, c.nRate, c.nBlockAlign, abData));
        const std::string strCut = m_dir.Write("cut.wav",
            MakeWav(c.nChannels, c.nRate, c.nBlockAlign, Bytes(abData.begin() + c.nCutFrames * c.nBlockAlign, abData.end())));
        ASSERT_EQ(Run("render --raw " + c.strOptions + " --start " + c.strStart + " -o " + Out("started.raw") + " "
                      + strWhole + " " + strWhole), 0) << m_strErr;
        ASSERT_EQ(Run("render --raw " + c.strOptions + " -o " + Out("cut.raw") + " " + strCut + " " + strWhole), 0);
        EXPECT_GT(ReadWholeFile(Out("cut.raw")).size(), c.nRate * 4u) << c.strStart;
        EXPECT_TRUE(ReadWholeFile(Out("started.raw")) == ReadWholeFile(Out("cut.raw"))) << c.strStart;
    }
}

TEST_F(RenderCommandTest, SkippingSilenceTellsWhatItSaved)
{
    // A second of sound, two of silence, a second of sound: the pause keeps 0.6 s.
    std::vector<int16_t> asSamples(4 * 8000);
    for (size_t i = 0; i < asSamples.size(); ++i)
        asSamples[i] = i < 8000 || i >= 3 * 8000 ? static_cast<int16_t>((i * 7919) % 16000 - 8000) : 0;
    const std::string strIn = m_dir.Write("pause.wav", MakeWav(1, 8000, 2, Samples16(asSamples)));
    ASSERT_EQ(Run("render --skip-silence -o " + Out("o.wav") + " " + strIn), 0) << m_strErr;
    EXPECT_NE(m_strErr.find("velofon: skipping silence saved 00:00:00.7 of listening (00:00:01.4 of the recording)\n"),
        std::string::npos) << m_strErr;
    ASSERT_EQ(Run("render -o " + Out("o.wav") + " " + strIn), 0);
    EXPECT_EQ(m_strErr.find("skipping silence"), std::string::npos);
}

// An input cut shorter while it is read: what was read is written, with a
// warning, and the run fails.
TEST_F(RenderCommandTest, AnInputThatShrinksWhileReadIsToldAndFailsTheRun)
{
    const std::string strIn = Speech("long.wav", 1, 44100, 44100 * 2 * 60);
    const std::string strFifo = Out("out.fifo");
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    const std::string strErr = Out("stderr.txt");
    const pid_t nPid = ::fork();
    if (nPid == 0) {
        const int hErr = ::open(strErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(hErr, STDERR_FILENO);
        ::execl(VELOFON_EXE, VELOFON_EXE, "render", "--raw", "--speed", "1", "-o", strFifo.c_str(), strIn.c_str(),
            static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const int hFifo = ::open(strFifo.c_str(), O_RDONLY);
    ASSERT_GE(hFifo, 0);
    char achBuffer[65536];
    size_t nRead = 0;
    while (nRead < sizeof achBuffer) {
        const ssize_t n = ::read(hFifo, achBuffer, sizeof achBuffer - nRead);
        ASSERT_GT(n, 0);
        nRead += static_cast<size_t>(n);
    }
    // Past what the run can have read while its output waits: two blocks of
    // stereo output, 12 seconds of this mono input.
    ASSERT_EQ(::truncate(strIn.c_str(), 44 + 44100 * 2 * 20), 0);
    while (::read(hFifo, achBuffer, sizeof achBuffer) > 0)
        nRead += sizeof achBuffer;
    ::close(hFifo);
    int nStatus = 0;
    ASSERT_EQ(::waitpid(nPid, &nStatus, 0), nPid);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 1) << nStatus;
    const Bytes abErr = ReadWholeFile(strErr);
    const std::string strMessage(abErr.begin(), abErr.end());
    EXPECT_NE(strMessage.find("long.wav ended before its stated length (00:00:20 of 00:01:00"), std::string::npos)
        << strMessage;
}

TEST_F(RenderCommandTest, AStartAtOrPastTheEndLeavesTheFirstInputOut)
{
    const std::string strShort = Speech("short.wav", 1, 8000, 16000);
    const std::string strNext = Speech("next.wav", 1, 8000, 20000);
    ASSERT_EQ(Run("render --raw -o " + Out("next.raw") + " " + strNext), 0);
    for (const std::string strStart : { "1", "2:00:00" }) {
        EXPECT_EQ(Run("render --raw --start " + strStart + " -o " + Out("o.raw") + " " + strShort + " " + strNext), 0);
        EXPECT_NE(m_strErr.find("velofon: warning: --start " + strStart + " is at or past the end of " + strShort),
            std::string::npos) << m_strErr;
        EXPECT_TRUE(ReadWholeFile(Out("o.raw")) == ReadWholeFile(Out("next.raw"))) << strStart;
    }
    EXPECT_EQ(Run("render --raw --start 0.9999 -o " + Out("o.raw") + " " + strShort), 0);
    EXPECT_EQ(m_strErr.find("warning"), std::string::npos) << m_strErr;
}

// Every signal that ends a run takes its unfinished file with it, and SIGKILL,
// which gives no chance to, finds a file without a name: nothing is left
// beside the output, and yesterday's output stays whole.
TEST_F(RenderCommandTest, NoSignalLeavesAnythingBesideTheOutput)
{
    const Bytes abYesterday = ReadWholeFile(Speech("yesterday.wav", 1, 8000, 9000));
    const std::string strIn = LongInput();
    for (int nSignal : { SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGKILL }) {
        for (bool bYesterday : { false, true }) {
            std::set<std::string> expected = { "long.wav", "yesterday.wav" };
            if (bYesterday) {
                m_dir.Write("o.wav", abYesterday);
                expected.insert("o.wav");
            }
            const pid_t nPid = StartRender(strIn);
            ::kill(nPid, nSignal);
            int nStatus = 0;
            ASSERT_EQ(::waitpid(nPid, &nStatus, 0), nPid);
            const bool bEnded = nSignal == SIGKILL ? WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGKILL
                                                   : WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 128 + nSignal;
            EXPECT_TRUE(bEnded) << "signal " << nSignal;
            EXPECT_EQ(Names(), expected) << "signal " << nSignal;
            if (bYesterday) {
                EXPECT_TRUE(ReadWholeFile(Out("o.wav")) == abYesterday) << "signal " << nSignal;
            }
            std::filesystem::remove(Out("o.wav"));
        }
    }
}

// What a streaming writer leaves: RIFF and data sizes of 0xFFFFFFFF, and a
// LIST chunk naming the writer before the data. The data runs to the end of
// the file and sounds as it does with the sizes filled in, in every layout.
TEST_F(RenderCommandTest, StreamedWavsPlayToTheEndOfTheFile)
{
    struct { uint16_t nChannels, nBlockAlign; } aLayouts[] = { { 1, 1 }, { 1, 2 }, { 2, 2 }, { 2, 4 } };
    for (const auto& layout : aLayouts) {
        Bytes abData(60000);
        for (size_t i = 0; i < abData.size(); ++i)
            abData[i] = static_cast<uint8_t>((i * 7 + (i >> 9)) & 0xFF);
        Bytes abSized = MakeWav(layout.nChannels, 16000, layout.nBlockAlign, abData);
        Bytes abList;
        Append(abList, "INFOISFT");
        AppendU32(abList, 14);
        Append(abList, std::string("Lavf59.27.100", 14));
        abList.insert(abList.begin(), { 'L', 'I', 'S', 'T', 26, 0, 0, 0 });
        abSized.insert(abSized.begin() + 36, abList.begin(), abList.end());
        PutU32(abSized, 4, static_cast<uint32_t>(abSized.size() - 8));
        Bytes abStreamed = abSized;
        PutU32(abStreamed, 4, 0xFFFFFFFFu);
        PutU32(abStreamed, 36 + abList.size() + 4, 0xFFFFFFFFu);
        const std::string strWhat = std::to_string(layout.nChannels) + " channels, block " + std::to_string(layout.nBlockAlign);
        ASSERT_EQ(Run("render --raw -o " + Out("sized.raw") + " " + m_dir.Write("sized.wav", abSized)), 0) << m_strErr;
        ASSERT_EQ(Run("render --raw -o " + Out("streamed.raw") + " " + m_dir.Write("streamed.wav", abStreamed)), 0)
            << m_strErr;
        const Bytes abExpected = ReadWholeFile(Out("sized.raw"));
        EXPECT_GT(abExpected.size(), abData.size() / layout.nBlockAlign * 4 / 2 - 30000) << strWhat;
        EXPECT_TRUE(ReadWholeFile(Out("streamed.raw")) == abExpected) << strWhat;
        EXPECT_TRUE(CReferenceRender().Render(abStreamed, SReferenceSettings()) == abExpected) << strWhat;
    }
}

// Loud speech at the highest Mixing, with the tones on top: sums beyond the
// 16-bit range are held at the limit, never flipped to the other sign.
TEST_F(RenderCommandTest, LoudSpeechSaturatesInsteadOfWrapping)
{
    std::vector<int16_t> asLoud(44100);
    for (size_t i = 0; i < asLoud.size(); ++i)
        asLoud[i] = static_cast<int16_t>(std::lround(30000 * std::sin(static_cast<double>(i) * 0.031)));
    const Bytes abWav = MakeWav(1, 22050, 2, Samples16(asLoud));
    const std::string strIn = m_dir.Write("loud.wav", abWav);
    ASSERT_EQ(Run("render --raw --mixing 100 --alpha 50 -o " + Out("o.raw") + " " + strIn), 0) << m_strErr;
    const Bytes abOut = ReadWholeFile(Out("o.raw"));
    SReferenceSettings settings;
    settings.nMixingGain = 20;
    settings.bAlpha = 1;
    settings.nAlphaLevel = 50;
    EXPECT_TRUE(abOut == CReferenceRender().Render(abWav, settings));
    int nAtLimits = 0;
    for (size_t nChannel = 0; nChannel < 2; ++nChannel) {
        int nPrevious = 0;
        for (size_t i = 2 * nChannel; i + 1 < abOut.size(); i += 4) {
            const int nSample = static_cast<int16_t>(abOut[i] | (abOut[i + 1] << 8));
            nAtLimits += nSample == 32767 || nSample == -32768;
            EXPECT_LT(std::abs(nSample - nPrevious), 32768) << "a sign flip at byte " << i;
            nPrevious = nSample;
        }
    }
    EXPECT_GT(nAtLimits, 1000) << "the file is loud enough to reach the limits";
}

} // namespace
