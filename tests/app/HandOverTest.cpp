// Files reaching the player from outside: its command line at the first
// start, a second start that hands its files to the running player over the
// socket beside the lock, which nothing malformed or slow brings down, and a
// drop from a file manager.
#include "RunningPlayer.h"

#include "common/Version.h"
#include "platform/handover/HandOver.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace {

class HandOverTest : public RunningPlayerFixture {
protected:
    void TearDown() override
    {
        RunningPlayerFixture::TearDown();
        if (m_nDragSource > 0) {
            ::kill(m_nDragSource, SIGTERM);
            ::waitpid(m_nDragSource, nullptr, 0);
        }
    }

    // In the player's runtime folder, found from the lock beside its settings.
    std::string SocketPath() const
    {
        const std::string strSocket = GetHandOverSocketPath(SettingsFolder() + "/VelofonPocket.lock");
        return Path("runtime/") + std::filesystem::path(strSocket).filename().string();
    }

    std::string MakeSound(const std::string& strName) { return m_dir.Write(strName, Mono16Wav(22050, 1.0, 140)); }

    // Sends strMessage as a second start would, ending it when bEnd; true
    // when the player acknowledged it.
    bool SendToPlayer(const std::string& strMessage, bool bEnd) const
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        SocketPath().copy(address.sun_path, sizeof address.sun_path - 1);
        const int hSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval timeout {5, 0};
        ::setsockopt(hSocket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char chAnswer = 0;
        const bool bConnected = ::connect(hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        EXPECT_TRUE(bConnected) << SocketPath();
        if (bConnected) {
            ::send(hSocket, strMessage.data(), strMessage.size(), MSG_NOSIGNAL);
            if (bEnd)
                ::shutdown(hSocket, SHUT_WR);
        }
        const bool bAcknowledged = bConnected && ::recv(hSocket, &chAnswer, 1, 0) == 1;
        ::close(hSocket);
        return bAcknowledged;
    }

    // A connection to the player's socket that sent strMessage and holds on.
    int Connect(const std::string& strMessage) const
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        SocketPath().copy(address.sun_path, sizeof address.sun_path - 1);
        const int hSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::connect(hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::send(hSocket, strMessage.data(), strMessage.size(), MSG_NOSIGNAL);
        return hSocket;
    }

    pid_t m_nDragSource = -1;
};

TEST_F(HandOverTest, TheCommandLineTellsItsUseAndRefusesUnknownOptions)
{
    const std::tuple<const char*, int, const char*> aCases[] = {
        {"--help", 0, "usage: VelofonPocket [FILE_OR_FOLDER ...]\n"},
        {"-V", 0, "VelofonPocket " VELOFON_VERSION "\n"},
        {"--shuffle", 2, "VelofonPocket: unknown option '--shuffle'\nusage: VelofonPocket"},
    };
    for (const auto& [strOption, nStatus, strStart] : aCases) {
        std::string strOutput;
        EXPECT_EQ(RunSecondStart({strOption, "a.wav"}, m_dir.Path(), strOutput), nStatus) << strOption;
        EXPECT_EQ(strOutput.rfind(strStart, 0), 0u) << strOutput;
    }
}

TEST_F(HandOverTest, AFolderGivenAtTheFirstStartIsAppendedInNaturalOrderAndPlays)
{
    const std::string strOld = MakeSound("old.wav");
    ::mkdir(Path("book").c_str(), 0700);
    ::mkdir(Path("book/Extra").c_str(), 0700);
    for (const char* strName : {"Chapter 10.wav", "Chapter 2.wav", "Chapter 1.wav", "notes.txt", "Extra/bonus.wav"})
        MakeSound(std::string("book/") + strName);
    PrepareSettings({strOld});
    StartPlayer({}, {Path("book/")});
    ASSERT_FALSE(HasFatalFailure());

    ASSERT_TRUE(WaitForSetting("PlayListCount", "5")) << Setting("PlayListCount") << Report();
    const auto settings = ReadSettings();
    const std::vector<std::string> astrExpected {strOld, Path("book/Extra/bonus.wav"), Path("book/Chapter 1.wav"),
        Path("book/Chapter 2.wav"), Path("book/Chapter 10.wav")};
    for (size_t i = 0; i < astrExpected.size(); ++i)
        EXPECT_EQ(settings.at("PlayFile0000" + std::to_string(i)), astrExpected[i]) << i;
    EXPECT_TRUE(WaitForTitle("PLAY-Kuroto")) << Title() << Report();
}

TEST_F(HandOverTest, ASecondStartHandsItsFilesToTheRunningPlayerAndEndsWithZero)
{
    ::mkdir(Path("talks").c_str(), 0700);
    const std::string strFile = MakeSound("talks/one.wav");
    PrepareSettings({});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());
    struct stat status {};
    ASSERT_EQ(::stat(SocketPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    std::string strOutput;
    EXPECT_EQ(RunSecondStart({}, m_dir.Path(), strOutput), 0) << strOutput;
    // Relative to the second start's working folder; what plays nothing is left out.
    EXPECT_EQ(RunSecondStart({"../talks/./one.wav", "missing.wav"}, Path("talks"), strOutput), 0) << strOutput;
    EXPECT_TRUE(WaitForSetting("PlayFile00000", strFile)) << Setting("PlayFile00000") << Report();
    EXPECT_EQ(Setting("PlayListCount"), "1");
    EXPECT_TRUE(WaitForTitle("PLAY-Kuroto")) << Title() << Report();
}

TEST_F(HandOverTest, FilesAndFoldersDroppedOnTheWindowAreAddedAndPlay)
{
    ::mkdir(Path("Disc 2").c_str(), 0700);
    for (const char* strName : {"Disc 2/b10.wav", "Disc 2/b9.wav", "Chapter 10.wav"})
        MakeSound(strName);
    PrepareSettings({});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());

    auto uriOf = [](std::string strPath) {
        for (size_t nSpace; (nSpace = strPath.find(' ')) != std::string::npos;)
            strPath.replace(nSpace, 1, "%20");
        return strPath;
    };
    std::string strExe = VELOFON_DRAG_SOURCE_EXE;
    std::string strUris = "# dropped\r\nfile://" + uriOf(Path("Disc 2")) + "\r\nhttp://host/x.wav\r\nfile://localhost" +
        uriOf(Path("Chapter 10.wav")) + "\r\n";
    char* apArgs[] = {strExe.data(), strUris.data(), nullptr};
    ASSERT_EQ(posix_spawn(&m_nDragSource, strExe.c_str(), nullptr, nullptr, apArgs, environ), 0);
    ASSERT_TRUE(WaitUntil([] { return FindWindowTitled("drag source") != 0; }, kUiTimeout));
    // Into the source from outside, pressed there, and let go over the playlist.
    const std::string strPlayer = std::to_string(m_hWindow);
    ASSERT_TRUE(Xdotool("mousemove 790 590 sleep 0.2 mousemove 600 400 sleep 0.2 mousedown 1 sleep 0.3 "
                        "mousemove 450 250 sleep 0.2 mousemove --window " + strPlayer + " 100 100 sleep 0.3 "
                        "mousemove --window " + strPlayer + " 110 110 sleep 0.3 mouseup 1"));

    ASSERT_TRUE(WaitForSetting("PlayListCount", "3")) << Setting("PlayListCount") << Report();
    EXPECT_EQ(Setting("PlayFile00000"), Path("Disc 2/b9.wav"));
    EXPECT_EQ(Setting("PlayFile00001"), Path("Disc 2/b10.wav"));
    EXPECT_EQ(Setting("PlayFile00002"), Path("Chapter 10.wav"));
    EXPECT_TRUE(WaitForTitle("PLAY-Kuroto")) << Title() << Report();
}

TEST_F(HandOverTest, AMalformedLargeOrSlowMessageLeavesThePlayerRunning)
{
    PrepareSettings({});
    StartPlayer();
    ASSERT_FALSE(HasFatalFailure());
    using namespace std::string_literals;
    const std::tuple<std::string, bool, bool> aCases[] = {
        {"relative.wav\0"s, true, false}, {"/no/ending"s, true, false}, {"\0"s, true, false}, {""s, true, false},
        {"/a.wav\0\0"s, true, false}, {std::string(kMaxHandOverBytes + 1, '/'), true, false},
        {"/slow.wav\0"s, false, false}, // never ended: dropped after a while
        {"/nothing/here.wav\0"s, true, true},
    };
    for (const auto& [strMessage, bEnd, bAcknowledged] : aCases) {
        EXPECT_EQ(SendToPlayer(strMessage, bEnd), bAcknowledged) << strMessage.substr(0, 20);
        ASSERT_TRUE(PlayerRuns()) << Report();
    }
    const std::string strFile = MakeSound("after.wav");
    std::string strOutput;
    EXPECT_EQ(RunSecondStart({strFile}, "/", strOutput), 0) << strOutput;
    EXPECT_TRUE(WaitForSetting("PlayFile00000", strFile)) << Setting("PlayFile00000") << Report();
    EXPECT_EQ(Setting("PlayListCount"), "1");
}

// Clients that send part of a message and hold on are served beside the
// sound: it goes on, a second start still hands over its file, and the
// player closes them after a while, blaming nobody.
TEST_F(HandOverTest, StalledClientsHoldUpNeitherTheSoundNorASecondStart)
{
    const std::string strTalk = m_dir.Write("talk.wav", Mono16Wav(22050, 60.0, 140));
    PrepareSettings({strTalk});
    StartPlayer({}, {strTalk});
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(WaitForSound(22050 / 2)) << Report();
    std::vector<int> ahStalled;
    for (int i = 0; i < 50; ++i)
        ahStalled.push_back(Connect("/waiting.wav"));
    EXPECT_TRUE(WaitForMoreSound(2 * 22050)) << "the sound stalled" << Report();
    const std::string strNext = MakeSound("next.wav");
    std::string strOutput;
    EXPECT_EQ(RunSecondStart({strNext}, "/", strOutput), 0) << strOutput;
    EXPECT_TRUE(WaitForSetting("PlayFile00001", strNext)) << Report();
    for (const int hSocket : ahStalled) {
        const timeval timeout {10, 0};
        ::setsockopt(hSocket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char ch = 0;
        EXPECT_EQ(::recv(hSocket, &ch, 1, 0), 0) << "not closed by the player";
        ::close(hSocket);
    }
    EXPECT_EQ(FindWindowTitled("VelofonPocket"), 0u) << "a message box";
}

// The socket goes with the player; those that players of other settings
// left are removed at the next start, and a player started under nohup
// keeps ignoring the hang-up.
TEST_F(HandOverTest, SocketsGoWithTheirPlayersAndNohupKeepsItRunning)
{
    PrepareSettings({});
    ::mkdir(Path("runtime").c_str(), 0700);
    const std::string strStale = Path("runtime/VelofonPocket.lock-" + std::to_string(::geteuid()) + "-1-2.sock");
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        strStale.copy(address.sun_path, sizeof address.sun_path - 1);
        const int hSocket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(::bind(hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(hSocket);
    }
    struct sigaction ignore {};
    struct sigaction before {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGHUP, &ignore, &before);
    StartPlayer();
    ::sigaction(SIGHUP, &before, nullptr);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_FALSE(std::filesystem::exists(strStale)) << "the stale socket stays";
    ASSERT_TRUE(std::filesystem::exists(SocketPath()));
    ::kill(m_nPid, SIGHUP);
    ::usleep(500000);
    EXPECT_TRUE(PlayerRuns()) << Report();
    const std::string strSocket = SocketPath();
    m_bEndsWithTheTest = false;
    EndPlayer();
    EXPECT_FALSE(std::filesystem::exists(strSocket));
}

// Something at the socket's path that is no socket: the player says so at
// its start, and a second start says why it cannot hand over, at once.
TEST_F(HandOverTest, ASocketThatCannotBeMadeIsToldAtTheStartAndToASecondStart)
{
    PrepareSettings({});
    const int hLock = ::open((SettingsFolder() + "/VelofonPocket.lock").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(hLock, 0);
    ::close(hLock);
    ::mkdir(Path("runtime").c_str(), 0700);
    ASSERT_EQ(::mkdir(SocketPath().c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((SocketPath() + "/inside").c_str(), 0700), 0);
    // The message stands over the window from the start.
    m_nPid = SpawnPlayer({}, {}, "", Path("player.log"));
    EXPECT_TRUE(WaitUntil([] { return FindWindowTitled("VelofonPocket") != 0; }, kUiTimeout)) << "no message";
    std::string strOutput;
    EXPECT_EQ(RunSecondStart({MakeSound("a.wav")}, "/", strOutput), 1);
    EXPECT_NE(strOutput.find(SocketPath() + ": not a socket"), std::string::npos) << strOutput;
}

} // namespace
