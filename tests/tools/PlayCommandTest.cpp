// velofon play through SDL's disk driver: what reaches the sound system is
// what velofon render writes, and every way of ending is clean. On a
// terminal its progress line fits the width and follows what is heard.
#include "../ChildEnvironment.h"
#include "../ChildProcess.h"
#include "../WavBytes.h"
#include "engine/SpeedEngine.h"
#include "tools/ProgressBar.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <csignal>
#include <cwchar>
#include <fcntl.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <locale.h>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kFrameBytes = 4;

// The frames between the first and the last that are not silent: the sound
// system adds silence before the first buffer and after the last.
Bytes WithoutOuterSilence(const Bytes& ab)
{
    const size_t nFrames = ab.size() / kFrameBytes;
    auto isSilent = [&ab](size_t nFrame) {
        return std::all_of(ab.begin() + nFrame * kFrameBytes, ab.begin() + (nFrame + 1) * kFrameBytes,
            [](uint8_t b) { return b == 0; });
    };
    size_t nFirst = 0;
    while (nFirst < nFrames && isSilent(nFirst))
        ++nFirst;
    size_t nEnd = nFrames;
    while (nEnd > nFirst && isSilent(nEnd - 1))
        --nEnd;
    return Bytes(ab.begin() + nFirst * kFrameBytes, ab.begin() + nEnd * kFrameBytes);
}

// Names and lines as a UTF-8 terminal reads them, on this thread only.
class CUtf8Locale {
public:
    CUtf8Locale()
        : m_locale(::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr))
        , m_previous(m_locale ? ::uselocale(m_locale) : nullptr)
    {
    }
    CUtf8Locale(const CUtf8Locale&) = delete;
    CUtf8Locale& operator=(const CUtf8Locale&) = delete;
    ~CUtf8Locale()
    {
        if (m_locale) {
            ::uselocale(m_previous);
            ::freelocale(m_locale);
        }
    }
    bool IsSet() const { return m_locale != nullptr; }

private:
    locale_t m_locale;
    locale_t m_previous;
};

// The columns a UTF-8 terminal gives the text; -1 when it holds a control
// character or bytes that are no character.
int DisplayColumns(const std::string& str)
{
    std::mbstate_t state {};
    int nColumns = 0;
    for (size_t nAt = 0; nAt < str.size();) {
        wchar_t wc = 0;
        const size_t nLength = std::mbrtowc(&wc, str.data() + nAt, str.size() - nAt, &state);
        const int nWidth = nLength == 0 || nLength > str.size() - nAt ? -1 : ::wcwidth(wc);
        if (nWidth < 0)
            return -1;
        nColumns += nWidth;
        nAt += nLength;
    }
    return nColumns;
}

// 100 characters, six of them Japanese (two columns each).
const std::string kLongName = "\u65E5\u672C\u8A9E\u306E\u8B1B\u7FA9-a-lecture-on-listening-faster-recorded-in-the-"
                              "small-hall-part-seven-of-twelve-take-2-mono.wav";

// Keys a test types on the terminal once strAfter has shown there.
struct SKeyCue {
    std::string strAfter;
    std::string strKeys;
};

class PlayCommandTest : public ::testing::Test {
protected:
    std::string Sound(const std::string& strName, uint16_t nChannels, uint32_t nRate, uint16_t nBlockAlign, double dSeconds)
    {
        const size_t nBytes = static_cast<size_t>(dSeconds * nRate) * nBlockAlign;
        Bytes ab(nBytes);
        for (size_t i = 0; i < nBytes; ++i)
            ab[i] = static_cast<uint8_t>((i * i + 3 * i) >> 6);
        return m_dir.Write(strName, MakeWav(nChannels, nRate, nBlockAlign, ab));
    }

    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }

    // Runs velofon with the SDL driver given (disk plays into strDevice,
    // device.raw when empty); keeps standard error in m_strErr.
    int Run(const std::string& strDriver, const std::string& strArgs, const std::string& strDevice = "")
    {
        const std::string strCommand = "SDL_AUDIODRIVER=" + strDriver + " SDL_DISKAUDIOFILE='" +
            (strDevice.empty() ? Path("device.raw") : strDevice) + "' " + VELOFON_EXE + " " + strArgs +
            " </dev/null 2>'" + Path("stderr.txt") + "'";
        const int nStatus = std::system(strCommand.c_str());
        const Bytes abErr = ReadWholeFile(Path("stderr.txt"));
        m_strErr.assign(abErr.begin(), abErr.end());
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    // Runs velofon with standard input and error on a pseudo-terminal
    // nColumns wide, standard output elsewhere, with the SDL driver given
    // (disk plays into device.raw); types the keys of each cue once its text
    // has reached the terminal after the keys before. Keeps what reached the
    // terminal in m_strErr.
    int RunOnTerminal(int nColumns, std::vector<std::string> astrArgs, const std::string& strDriver = "dummy",
        const std::vector<SKeyCue>& aCues = {})
    {
        m_strErr.clear();
        winsize size {};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(nColumns);
        int nMaster = -1;
        int nSlave = -1;
        if (::openpty(&nMaster, &nSlave, nullptr, nullptr, &size) != 0) {
            ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
            return -1;
        }
        // A COLUMNS left over from another terminal must not win over the
        // terminal's own width.
        CChildEnvironment environment(
            {"SDL_AUDIODRIVER=" + strDriver, "SDL_DISKAUDIOFILE=" + Path("device.raw"), "LC_ALL=C.UTF-8", "COLUMNS=7"});
        astrArgs.insert(astrArgs.begin(), VELOFON_EXE);
        std::vector<char*> apArgs = ArgumentPointers(astrArgs);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, nSlave, STDIN_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, nSlave, STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, nSlave);
        posix_spawn_file_actions_addclose(&actions, nMaster);
        pid_t nPid = 0;
        const int nSpawn = posix_spawn(&nPid, apArgs[0], &actions, nullptr, apArgs.data(), environment.Get());
        posix_spawn_file_actions_destroy(&actions);
        ::close(nSlave);
        if (nSpawn != 0) {
            ::close(nMaster);
            ADD_FAILURE() << "cannot start velofon: " << std::strerror(nSpawn);
            return -1;
        }
        // Read until the terminal's last writer has gone (EIO), or give up.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        char abChunk[4096];
        size_t nCue = 0;
        size_t nCueFrom = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (nCue < aCues.size() && m_strErr.find(aCues[nCue].strAfter, nCueFrom) != std::string::npos) {
                EXPECT_EQ(::write(nMaster, aCues[nCue].strKeys.data(), aCues[nCue].strKeys.size()),
                    static_cast<ssize_t>(aCues[nCue].strKeys.size()));
                nCueFrom = m_strErr.size();
                ++nCue;
            }
            pollfd poll {nMaster, POLLIN, 0};
            if (::poll(&poll, 1, 100) <= 0)
                continue;
            const ssize_t nRead = ::read(nMaster, abChunk, sizeof abChunk);
            if (nRead <= 0)
                break;
            m_strErr.append(abChunk, static_cast<size_t>(nRead));
        }
        ::close(nMaster);
        if (std::chrono::steady_clock::now() >= deadline)
            ::kill(nPid, SIGKILL);
        EXPECT_EQ(nCue, aCues.size()) << "cues left untyped";
        int nStatus = 0;
        ::waitpid(nPid, &nStatus, 0);
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    CTempDir m_dir;
    std::string m_strErr;
};

// What a terminal shows of the output: each carriage return starts the line
// over, "\033[K" clears it from the cursor. Returns every line as drawn
// just before the next carriage return or newline, and counts the newlines
// that come before the last drawing.
struct STerminalLines {
    std::vector<std::string> astrDrawn;
    int nNewlinesWhileDrawing = 0;
};

STerminalLines ReplayTerminal(const std::string& strOut)
{
    STerminalLines lines;
    std::string strLine;
    size_t nCursor = 0;
    int nNewlines = 0;
    auto finishLine = [&] {
        if (strLine.empty())
            return;
        lines.astrDrawn.push_back(strLine);
        lines.nNewlinesWhileDrawing = nNewlines;
    };
    for (size_t i = 0; i < strOut.size(); ++i) {
        const char c = strOut[i];
        if (c == '\r' || c == '\n') {
            finishLine();
            nNewlines += c == '\n';
            nCursor = 0;
            if (c == '\n')
                strLine.clear();
        } else if (strOut.compare(i, 3, "\033[K") == 0) {
            strLine.resize(std::min(strLine.size(), nCursor));
            i += 2;
        } else {
            if (nCursor < strLine.size())
                strLine[nCursor] = c;
            else
                strLine += c;
            ++nCursor;
        }
    }
    finishLine();
    return lines;
}

// The lines drawn, without the lines the disk driver logs as it opens.
std::vector<std::string> ProgressLines(const std::string& strOut)
{
    std::vector<std::string> astrLines;
    for (const std::string& strLine : ReplayTerminal(strOut).astrDrawn) {
        if (strLine.rfind("CRITICAL: ", 0) != 0)
            astrLines.push_back(strLine);
    }
    return astrLines;
}

TEST_F(PlayCommandTest, TheSoundSystemGetsExactlyTheRenderedFrames)
{
    struct SCase {
        std::string strFile;
        std::string strOptions;
    };
    const SCase aCases[] = {
        {Sound("mono16.wav", 1, 22050, 2, 1.2), "--speed 1.6 --mixing 80"},
        {Sound("stereo8.wav", 2, 11025, 2, 2.0), "--speed-index 27 --mixing 100 --alpha 45"},
        {Sound("stereo16.wav", 2, 44100, 4, 1.0), "--speed 2.3 --mixing 30 --alpha 10"},
        {Sound("clear.wav", 1, 16000, 2, 3.0), "--clear --skip-silence --speed 1.8 --alpha 20"},
    };
    for (const SCase& c : aCases) {
        ASSERT_EQ(Run("disk", "play " + c.strOptions + " " + c.strFile), 0) << c.strFile << ": " << m_strErr;
        const Bytes abPlayed = WithoutOuterSilence(ReadWholeFile(Path("device.raw")));
        ASSERT_EQ(Run("disk", "render --raw " + c.strOptions + " -o " + Path("rendered.raw") + " " + c.strFile), 0);
        const Bytes abRendered = WithoutOuterSilence(ReadWholeFile(Path("rendered.raw")));
        EXPECT_GT(abRendered.size(), 20000u) << c.strFile;
        EXPECT_TRUE(abPlayed == abRendered) << c.strFile << ": played " << abPlayed.size() << " bytes, rendered "
                                            << abRendered.size();
    }
}

TEST_F(PlayCommandTest, UnplayableFilesAreSkippedAndTheRestPlays)
{
    const std::string strGood = Sound("good.wav", 1, 8000, 2, 0.5);
    const std::string strEmpty = m_dir.Write("empty.wav", MakeWav(1, 8000, 2, Bytes()));
    EXPECT_EQ(Run("dummy", "play " + Path("missing.wav") + " " + strEmpty + " " + strGood), 1);
    EXPECT_NE(m_strErr.find("velofon: skipping " + Path("missing.wav") + ": cannot be opened"), std::string::npos)
        << m_strErr;
    EXPECT_EQ(m_strErr.find("empty.wav"), std::string::npos) << "a file without sound is no error";
    EXPECT_EQ(Run("dummy", "play " + strEmpty + " " + strGood), 0) << m_strErr;
    EXPECT_EQ(Run("dummy", "play --speed 5 " + strGood), 2);
    EXPECT_EQ(Run("dummy", "play --start 0:01 " + strGood + " " + strGood), 0);
    EXPECT_NE(m_strErr.find("velofon: warning: --start 0:01 is at or past the end of " + strGood), std::string::npos)
        << m_strErr;
}

// A device that writes to a full disk is stopped by the sound system at its
// first period, and goes on taking sound into nothing.
TEST_F(PlayCommandTest, NoSoundDeviceOrOneThatStopsIsOneLineAndStatusOne)
{
    const std::string strGood = Sound("good.wav", 1, 8000, 2, 3.0);
    struct SCase {
        const char* strDriver;
        const char* strDevice;
        const char* strLine;
    };
    const SCase aCases[] = {
        {"no-such-driver", "", "velofon: no sound device can be opened: "},
        {"disk", "/dev/full", "velofon: the sound device stopped playing\n"},
    };
    for (const SCase& c : aCases) {
        EXPECT_EQ(Run(c.strDriver, "play " + strGood + " " + strGood, c.strDevice), 1) << c.strDriver;
        // The disk driver's own warnings come first.
        const size_t nAt = m_strErr.find("velofon: ");
        ASSERT_NE(nAt, std::string::npos) << m_strErr;
        EXPECT_EQ(m_strErr.compare(nAt, std::strlen(c.strLine), c.strLine), 0) << m_strErr;
        EXPECT_EQ(std::count(m_strErr.begin() + static_cast<long>(nAt), m_strErr.end(), '\n'), 1) << m_strErr;
    }
}

TEST_F(PlayCommandTest, CtrlCStopsCleanlyInTheMiddle)
{
    const std::string strLong = Sound("long.wav", 1, 8000, 2, 30.0);
    const std::string strDevice = Path("device.raw");
    const pid_t nPid = SpawnWithLog({VELOFON_EXE, "play", strLong},
        {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + strDevice}, Path("play.log"));
    ASSERT_GT(nPid, 0);

    // Wait until sound has reached the device, then interrupt.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    struct stat st {};
    while (std::chrono::steady_clock::now() < deadline &&
           !(::stat(strDevice.c_str(), &st) == 0 && WithoutOuterSilence(ReadWholeFile(strDevice)).size() > 8000))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::kill(nPid, SIGINT);
    int nStatus = 0;
    ASSERT_EQ(::waitpid(nPid, &nStatus, 0), nPid);
    ASSERT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 130);
    const Bytes abLog = ReadWholeFile(Path("play.log"));
    EXPECT_NE(std::string(abLog.begin(), abLog.end()).find("velofon: interrupted"), std::string::npos);
    EXPECT_LT(WithoutOuterSilence(ReadWholeFile(strDevice)).size(), 30u * 8000 * 4 / 2 / 2);
}

TEST(PlayCommandProgressLine, FitsTheWidthKeepingTheTailAndShorteningTheNameThenTheBar)
{
    CUtf8Locale utf8;
    ASSERT_TRUE(utf8.IsSet());
    const std::string strTimes = "00:01:02 / 00:10:00";
    struct SCase {
        int nColumns;
        double dFraction;
        std::string strName;
        std::string strTail;
        std::string strExpected;
    };
    const SCase aCases[] = {
        // velofon render's line: no tail, the bar at its widest.
        {80, 0.5, "talk.wav", "", "[###############...............]  50%  talk.wav"},
        {200, 0.1, "a-long-lecture-name-part-07.wav", strTimes,
         "[###...........................]  10%  a-long-lecture-name-part-07.wav  00:01:02 / 00:10:00"},
        // The name gives way first, keeping both its ends...
        {90, 0.1, "a-long-lecture-name-part-07.wav", strTimes,
         "[###...........................]  10%  a-long-lectur...e-part-07.wav  00:01:02 / 00:10:00"},
        // ...then the bar, down to none.
        {56, 0.1, "a-long-lecture-name-part-07.wav", strTimes,
         "[#............]  10%  a-lo...7.wav  00:01:02 / 00:10:00"},
        {40, 0.1, "a-long-lecture-name-part-07.wav", strTimes, " 10%  a-lo...7.wav  00:01:02 / 00:10:00"},
        // Wide characters count two columns; one that does not fit leaves a gap.
        {40, 1.0, "\u65E5\u672C\u8A9E\u306E\u8B1B\u7FA9.wav", strTimes,
         "100%  \u65E5\u672C....wav  00:01:02 / 00:10:00"},
        {30, 0.0, "a.wav", strTimes + "  [paused]", "00:01:02 / 00:10:00  [paused]"},
        // Too narrow even for the times: cut, never wrapped.
        {12, 0.0, "a.wav", strTimes, "00:01:02 / "},
        // Control characters and bytes that are no character never reach the terminal.
        {80, 0.0, "a\tb\033[31mc\xff.wav", "", "[..............................]   0%  a?b?[31mc?.wav"},
    };
    for (const SCase& c : aCases)
        EXPECT_EQ(FormatProgressLine(c.nColumns, c.dFraction, c.strName, c.strTail), c.strExpected) << c.nColumns;

    // Every width from none up keeps within its columns, and the times show
    // whole wherever they fit.
    for (int nColumns = 0; nColumns <= 140; ++nColumns) {
        const std::string strLine = FormatProgressLine(nColumns, 0.42, kLongName, strTimes + "  [paused]");
        EXPECT_LE(DisplayColumns(strLine), std::max(nColumns - 1, 0)) << nColumns << ": " << strLine;
        if (nColumns > 30) {
            EXPECT_NE(strLine.find(strTimes + "  [paused]"), std::string::npos) << nColumns;
        }
    }
}

// The aside (the time left and the chapter) takes room before the bar, and
// is cut at its end, down to the time alone; narrower, it goes.
TEST(PlayCommandProgressLine, TheAsideGivesWayAfterTheBar)
{
    const std::string strTimes = "00:01:02 / 00:10:00";
    const std::pair<int, std::string> aCases[] = {
        {100, "[###...........................]  10%  talk.wav  " + strTimes + "  -0:09:00  The Middle"},
        {60, " 10%  talk.wav  " + strTimes + "  -0:09:00  The Middle"},
        {49, " 10%  talk.wav  " + strTimes + "  -0:09:00  T"},
        {48, " 10%  talk.wav  " + strTimes + "  -0:09:00"},
        {45, "[......]  10%  talk.wav  " + strTimes},
    };
    for (const auto& [nColumns, strExpected] : aCases)
        EXPECT_EQ(FormatProgressLine(nColumns, 0.1, "talk.wav", strTimes, "-0:09:00  The Middle"), strExpected) << nColumns;
}

// On a terminal the progress line fits the width, shows the time heard (not
// read: the engine reads the whole of this file for the first four buffers)
// and ends on the total.
TEST_F(PlayCommandTest, TheProgressLineFitsTheTerminalAndFollowsTheSound)
{
    CUtf8Locale utf8;
    ASSERT_TRUE(utf8.IsSet());
    const std::string strFile = Sound(kLongName, 1, 8000, 2, 2.5);
    const std::regex times(R"((\d\d:\d\d:\d\d) / (\d\d:\d\d:\d\d))");
    struct SCase {
        int nColumns;
        bool bWholeName;
    };
    for (const SCase& c : {SCase {40, false}, SCase {80, false}, SCase {200, true}}) {
        ASSERT_EQ(RunOnTerminal(c.nColumns, {"play", "--speed", "2", strFile}), 0) << c.nColumns << ": " << m_strErr;
        const STerminalLines lines = ReplayTerminal(m_strErr);
        ASSERT_GE(lines.astrDrawn.size(), 2u) << c.nColumns << ": " << m_strErr;
        EXPECT_EQ(lines.nNewlinesWhileDrawing, 0) << c.nColumns;
        std::smatch match;
        std::string strLastElapsed;
        for (const std::string& strLine : lines.astrDrawn) {
            const int nLineColumns = DisplayColumns(strLine);
            EXPECT_GE(nLineColumns, 0) << c.nColumns << ": " << strLine;
            EXPECT_LE(nLineColumns, c.nColumns - 1) << strLine;
            ASSERT_TRUE(std::regex_search(strLine, match, times)) << c.nColumns << ": " << strLine;
            EXPECT_EQ(match[2].str(), "00:00:02") << strLine;
            if (strLastElapsed.empty()) {
                EXPECT_EQ(match[1].str(), "00:00:00") << "the first line shows what was read, not heard: " << strLine;
            }
            strLastElapsed = match[1].str();
            // The name's start shows, and a shortened name its ellipsis after it.
            const size_t nName = strLine.find(kLongName.substr(0, 3));
            EXPECT_NE(nName, std::string::npos) << strLine;
            EXPECT_EQ(strLine.find(kLongName) != std::string::npos, c.bWholeName) << strLine;
            EXPECT_EQ(strLine.find("...", nName) != std::string::npos, !c.bWholeName) << strLine;
        }
        EXPECT_EQ(strLastElapsed, "00:00:02") << c.nColumns;
    }
}

// Space pauses; Shift+Left, 60 seconds back from the start at 5 seconds,
// lands on the first frame while the pause holds; space plays on from there.
// The device gets the start's sound up to the pause, then the whole file's.
TEST_F(PlayCommandTest, AJumpCutsOffTheQueueAndPlaysOnFromItsFrame)
{
    const std::string strFile = Sound("talk.wav", 1, 8000, 2, 16.0);
    ASSERT_EQ(RunOnTerminal(80, {"play", "--speed", "4", "--start", "5", strFile}, "disk",
                  {{"00:00:05 / 00:00:16", " "}, {"[paused]", "\033[1;2D"}, {"00:00:00 / 00:00:16  [paused]", " "}}),
        0) << m_strErr;
    const std::vector<std::string> astrLines = ProgressLines(m_strErr);
    ASSERT_FALSE(astrLines.empty());
    EXPECT_NE(astrLines.front().find("00:00:05 / 00:00:16"), std::string::npos) << astrLines.front();
    EXPECT_NE(astrLines.back().find("00:00:16 / 00:00:16"), std::string::npos) << astrLines.back();

    const Bytes abDevice = WithoutOuterSilence(ReadWholeFile(Path("device.raw")));
    ASSERT_EQ(Run("disk", "render --raw --speed 4 -o " + Path("whole.raw") + " " + strFile), 0);
    ASSERT_EQ(Run("disk", "render --raw --speed 4 --start 5 -o " + Path("started.raw") + " " + strFile), 0);
    const Bytes abWhole = WithoutOuterSilence(ReadWholeFile(Path("whole.raw")));
    const Bytes abStarted = WithoutOuterSilence(ReadWholeFile(Path("started.raw")));
    ASSERT_GE(abDevice.size(), abWhole.size());
    EXPECT_TRUE(std::equal(abWhole.begin(), abWhole.end(), abDevice.end() - static_cast<std::ptrdiff_t>(abWhole.size())));
    const Bytes abBeforeJump = WithoutOuterSilence(Bytes(abDevice.begin(), abDevice.end() - static_cast<std::ptrdiff_t>(abWhole.size())));
    ASSERT_LE(abBeforeJump.size(), abStarted.size());
    EXPECT_TRUE(std::equal(abBeforeJump.begin(), abBeforeJump.end(), abStarted.begin()));
}

// '<' on the first input and '>' on the last do nothing. The device is
// opened anew for each input, and the disk driver starts its file anew.
TEST_F(PlayCommandTest, LessAndGreaterGoToThePreviousAndNextInput)
{
    const std::string strFirst = Sound("first.wav", 1, 8000, 2, 30.0);
    const std::string strSecond = Sound("second.wav", 2, 11025, 4, 4.0);
    ASSERT_EQ(RunOnTerminal(80, {"play", "--speed", "2", strFirst, strSecond}, "disk",
                  {{"first.wav", "<>"}, {"second.wav", "<"}, {"first.wav", ">"}, {"second.wav", ">"}}),
        0) << m_strErr;
    std::vector<std::string> astrNames;
    for (const std::string& strLine : ProgressLines(m_strErr)) {
        const std::string strName = strLine.find("first.wav") != std::string::npos ? "first" : "second";
        if (astrNames.empty() || astrNames.back() != strName)
            astrNames.push_back(strName);
    }
    EXPECT_EQ(astrNames, std::vector<std::string>({"first", "second", "first", "second"}));
    ASSERT_EQ(Run("disk", "render --raw --speed 2 -o " + Path("second.raw") + " " + strSecond), 0);
    EXPECT_TRUE(WithoutOuterSilence(ReadWholeFile(Path("device.raw"))) == WithoutOuterSilence(ReadWholeFile(Path("second.raw"))));
}

} // namespace
