// velofon play through SDL's disk driver: what reaches the sound system is
// what velofon render writes, and every way of ending is clean.
#include "../ChildEnvironment.h"
#include "../WavBytes.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>


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

    // Runs velofon with the SDL driver given; keeps standard error in m_strErr.
    int Run(const std::string& strDriver, const std::string& strArgs)
    {
        const std::string strCommand = "SDL_AUDIODRIVER=" + strDriver + " SDL_DISKAUDIOFILE='" + Path("device.raw") +
            "' " + VELOFON_EXE + " " + strArgs + " </dev/null 2>'" + Path("stderr.txt") + "'";
        const int nStatus = std::system(strCommand.c_str());
        const Bytes abErr = ReadWholeFile(Path("stderr.txt"));
        m_strErr.assign(abErr.begin(), abErr.end());
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    CTempDir m_dir;
    std::string m_strErr;
};

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
}

TEST_F(PlayCommandTest, NoSoundDeviceIsOneLineAndStatusOne)
{
    const std::string strGood = Sound("good.wav", 1, 8000, 2, 0.5);
    EXPECT_EQ(Run("no-such-driver", "play " + strGood + " " + strGood), 1);
    EXPECT_EQ(m_strErr.rfind("velofon: no sound device can be opened: ", 0), 0u) << m_strErr;
    EXPECT_EQ(std::count(m_strErr.begin(), m_strErr.end(), '\n'), 1) << m_strErr;
}

TEST_F(PlayCommandTest, CtrlCStopsCleanlyInTheMiddle)
{
    const std::string strLong = Sound("long.wav", 1, 8000, 2, 30.0);
    const std::string strDevice = Path("device.raw");
    CChildEnvironment environment({"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + strDevice});
    std::string strExe = VELOFON_EXE;
    std::string strPlay = "play";
    std::string strInput = strLong;
    char* apArgs[] = {strExe.data(), strPlay.data(), strInput.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, Path("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t nPid = 0;
    ASSERT_EQ(posix_spawn(&nPid, strExe.c_str(), &actions, nullptr, apArgs, environment.Get()), 0);
    posix_spawn_file_actions_destroy(&actions);

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
    const Bytes abErr = ReadWholeFile(Path("stderr.txt"));
    EXPECT_NE(std::string(abErr.begin(), abErr.end()).find("velofon: interrupted"), std::string::npos);
    EXPECT_LT(WithoutOuterSilence(ReadWholeFile(strDevice)).size(), 30u * 8000 * 4 / 2 / 2);
}

} // namespace
