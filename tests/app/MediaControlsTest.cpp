// The player's media controls as the desktop uses them: the real player on
// an X server of its own and on a session bus of the test's own, driven with
// gdbus (and with dbus-send for calls of the wrong types, which gdbus refuses
// to send), its sound taken from SDL's disk driver, its settings from its file.
#include "RunningPlayer.h"

#include "../ChildProcess.h"
#include "../FakeBusServices.h"
#include "../PrivateBus.h"

#include "common/Version.h"
#include "platform/media/SessionBus.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using std::chrono::seconds;

const std::string kDestination = "--dest org.mpris.MediaPlayer2.VelofonPocket --object-path /org/mpris/MediaPlayer2";
const std::string kPlayer = "org.mpris.MediaPlayer2.Player";
constexpr uint32_t kRate = 22050;

// The output of a shell command line (standard error with it) and its status.
struct SReply {
    int nStatus = -1;
    std::string strText;
};

SReply RunCommand(const std::string& strCommand)
{
    SReply reply;
    FILE* pPipe = ::popen((strCommand + " 2>&1").c_str(), "r");
    if (!pPipe)
        return reply;
    char achBuffer[4096];
    while (size_t nRead = std::fread(achBuffer, 1, sizeof achBuffer, pPipe))
        reply.strText.append(achBuffer, nRead);
    const int nStatus = ::pclose(pPipe);
    reply.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return reply;
}

bool Holds(const std::string& strText, const std::string& strPart)
{
    return strText.find(strPart) != std::string::npos;
}

class MediaControlsTest : public RunningPlayerFixture {
protected:
    ~MediaControlsTest() override
    {
        EndPlayer();
        if (m_nMonitorPid > 0) {
            ::kill(m_nMonitorPid, SIGTERM);
            ::waitpid(m_nMonitorPid, nullptr, 0);
        }
    }

    void SetUp() override
    {
        RunningPlayerFixture::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(m_bus.Start()) << "dbus-daemon did not start";
    }

    std::string OnTheBus(const std::string& strCommand) const
    {
        return "DBUS_SESSION_BUS_ADDRESS='" + m_bus.Address() + "' timeout 10 " + strCommand;
    }

    SReply Call(const std::string& strMethodAndArgs) const
    {
        return RunCommand(OnTheBus("gdbus call --session " + kDestination + " --method " + strMethodAndArgs));
    }
    // Sent as given, not shaped after the interfaces as gdbus shapes it.
    SReply SendRaw(const std::string& strMethodAndArgs) const
    {
        return RunCommand(OnTheBus("dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.VelofonPocket "
                                   "/org/mpris/MediaPlayer2 " +
            strMethodAndArgs));
    }
    std::string Get(const std::string& strProperty) const
    {
        return Call("org.freedesktop.DBus.Properties.Get " + kPlayer + " " + strProperty).strText;
    }
    SReply Set(const std::string& strProperty, const std::string& strValue) const
    {
        return Call("org.freedesktop.DBus.Properties.Set " + kPlayer + " " + strProperty + " \"" + strValue + "\"");
    }
    int64_t PositionUs() const
    {
        const std::string strReply = Get("Position");
        const size_t nAt = strReply.find("int64 ");
        return nAt == std::string::npos ? -1 : std::atoll(strReply.c_str() + nAt + 6);
    }
    bool WaitForStatus(const std::string& strStatus)
    {
        return WaitUntil([&] { return Holds(Get("PlaybackStatus"), "'" + strStatus + "'"); }, kUiTimeout);
    }

    // The player with the files in its playlist, on the test's bus, with its
    // name taken; gdbus monitor records what it announces.
    void StartOnTheBus(
        const std::vector<std::string>& astrPlayList, const std::map<std::string, std::string>& changes = {})
    {
        PrepareSettings(astrPlayList, changes);
        StartPlayer({"DBUS_SESSION_BUS_ADDRESS=" + m_bus.Address()});
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(WaitUntil([&] { return Holds(Get("PlaybackStatus"), "'Stopped'"); }, kUiTimeout))
            << Get("PlaybackStatus") << Report();

        m_nMonitorPid = SpawnWithLog(
            {"gdbus", "monitor", "--session", "--dest", "org.mpris.MediaPlayer2.VelofonPocket"},
            {"DBUS_SESSION_BUS_ADDRESS=" + m_bus.Address()}, Path("monitor.log"));
        ASSERT_GT(m_nMonitorPid, 0) << "cannot start gdbus monitor";
        ASSERT_TRUE(WaitUntil([&] { return Holds(Announced(), "is owned by"); }, kUiTimeout)) << Announced();
    }

    std::string Announced() const
    {
        const Bytes abLog = ReadWholeFile(Path("monitor.log"));
        return std::string(abLog.begin(), abLog.end());
    }

    std::string TaggedFlac(const std::string& strName, double dSeconds)
    {
        const std::string strWav = m_dir.Write(strName + ".wav", Mono16Wav(kRate, dSeconds, 120));
        const std::string strFlac = Path(strName + ".flac");
        const std::string strCommand = "ffmpeg -nostdin -v error -y -i '" + strWav +
            "' -metadata title='Lesson One' -metadata ARTIST='Kuro Sensei' -metadata album=Basics"
            " -metadata CHAPTER001=00:00:00.000 -metadata CHAPTER001NAME=Greetings"
            " -metadata CHAPTER002=00:00:06.000 -metadata CHAPTER002NAME=Numbers '" + strFlac + "'";
        EXPECT_EQ(std::system(strCommand.c_str()), 0) << strCommand;
        return strFlac;
    }

    // The session bus of the test; it goes after the player and the monitor.
    CPrivateBus m_bus;
    pid_t m_nMonitorPid = -1;
};

TEST_F(MediaControlsTest, PlayPausePlaysTheFileWithItsTagsPauseHoldsItAndQuitEndsThePlayer)
{
    const std::string strFile = TaggedFlac("lesson", 12.0);
    StartOnTheBus({strFile});
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_EQ(Call(kPlayer + ".PlayPause").strText, "()\n");
    ASSERT_TRUE(WaitForStatus("Playing")) << Get("PlaybackStatus") << Report();
    ASSERT_TRUE(WaitForSound(kRate / 2)) << "no sound reached the device" << Report();
    EXPECT_TRUE(WaitForTitle("PLAY-Kuroto")) << Title();

    // With chapters the chapter is the title and the book the album.
    const std::string strMetadata = Get("Metadata");
    for (const char* strPart : {"'mpris:trackid': <objectpath '/org/velofonpocket/track/0'>",
             "'mpris:length': <int64 12000000>", "'xesam:title': <'Greetings'>", "'xesam:album': <'Lesson One'>",
             "'xesam:artist': <['Kuro Sensei']>"})
        EXPECT_TRUE(Holds(strMetadata, strPart)) << strPart << " not in " << strMetadata;
    EXPECT_TRUE(Holds(strMetadata, "'xesam:url': <'file://" + strFile + "'>")) << strMetadata;

    Call(kPlayer + ".Pause");
    EXPECT_TRUE(WaitForStatus("Paused")) << Get("PlaybackStatus");
    EXPECT_TRUE(WaitForTitle("PAUSE-Kuroto")) << Title();
    EXPECT_TRUE(Holds(Announced(), "{'PlaybackStatus': <'Paused'>}")) << Announced();

    // A file opened by its address joins the playlist and plays, with its
    // name as its title when it has no tags.
    const std::string strOther = m_dir.Write("other talk.wav", Mono16Wav(kRate, 3.0, 150));
    const std::string strUri = "file://" + m_dir.Path() + "/other%20talk.wav";
    EXPECT_EQ(Call(kPlayer + ".OpenUri '" + strUri + "'").strText, "()\n");
    EXPECT_TRUE(WaitUntil([&] { return Holds(Get("Metadata"), "'xesam:title': <'other talk.wav'>"); }, kUiTimeout))
        << Get("Metadata");
    EXPECT_TRUE(Holds(Get("Metadata"), "'xesam:url': <'" + strUri + "'>")) << Get("Metadata");
    EXPECT_EQ(Setting("PlayListCount"), "2");

    const std::string strRoot = Call("org.freedesktop.DBus.Properties.GetAll org.mpris.MediaPlayer2").strText;
    const std::string strDesktopEntry = std::string("'DesktopEntry': <'") + kDesktopId + "'>";
    for (const char* strPart : {"'Identity': <'VelofonPocket'>", strDesktopEntry.c_str(),
             "'SupportedUriSchemes': <['file']>", "'audio/mpeg'", "'audio/flac'"})
        EXPECT_TRUE(Holds(strRoot, strPart)) << strPart << " not in " << strRoot;
    EXPECT_FALSE(Holds(strRoot, "''")) << "an empty media type in " << strRoot;
    EXPECT_EQ(Call("org.mpris.MediaPlayer2.Raise").strText, "()\n");
    m_bEndsWithTheTest = false;
    EXPECT_EQ(Call("org.mpris.MediaPlayer2.Quit").strText, "()\n");
    EXPECT_TRUE(WaitForPlayerEnd(seconds(5))) << "Quit did not end the player";
    EXPECT_EQ(m_nExitStatus, 0) << m_strEnd;
}

// The cover a file carries is written once to the cache and given as the
// track's art; a second player, of other settings, takes a name of its own.
TEST_F(MediaControlsTest, CoversAreTheTracksArtAndASecondPlayerTakesAnInstanceName)
{
    const std::string strWav = m_dir.Write("speech.wav", Mono16Wav(kRate, 6.0, 120));
    const std::string strCover = Path("cover.png");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i color=red:s=8x8 -frames:v 1 '" + strCover + "'")
        .c_str()), 0);
    const std::pair<const char*, const char*> aFormats[] = {
        {"book.mp3", "-c:a libmp3lame -id3v2_version 3"}, {"book.m4b", "-c:a aac -f mp4"}, {"book.flac", "-c:a flac"}};
    std::vector<std::string> astrFiles;
    for (const auto& [strName, strCodec] : aFormats) {
        astrFiles.push_back(Path(strName));
        const std::string strCommand = "ffmpeg -nostdin -v error -y -i '" + strWav + "' -i '" + strCover +
            "' -map 0 -map 1 " + strCodec + " -c:v png -disposition:v attached_pic '" + astrFiles.back() + "'";
        ASSERT_EQ(std::system(strCommand.c_str()), 0) << strCommand;
    }
    StartOnTheBus(astrFiles);
    ASSERT_FALSE(HasFatalFailure());
    const Bytes abCover = ReadWholeFile(strCover);
    for (const std::string& strFile : astrFiles) {
        Call(kPlayer + ".OpenUri 'file://" + strFile + "'");
        std::string strArt;
        EXPECT_TRUE(WaitUntil([&] {
            const std::string strMetadata = Get("Metadata");
            const size_t nAt = strMetadata.find("'mpris:artUrl': <'file://");
            if (!Holds(strMetadata, strFile) || nAt == std::string::npos)
                return false;
            const size_t nStart = nAt + std::strlen("'mpris:artUrl': <'file://");
            strArt = strMetadata.substr(nStart, strMetadata.find('\'', nStart) - nStart);
            return true;
        }, kUiTimeout)) << strFile << ": " << Get("Metadata");
        EXPECT_EQ(strArt.rfind(Path("cache/VelofonPocket/covers/"), 0), 0u) << strArt;
        EXPECT_TRUE(ReadWholeFile(strArt) == abCover) << strArt;
    }

    ::mkdir(Path("other").c_str(), 0700);
    const pid_t nOther = SpawnPlayer({"DBUS_SESSION_BUS_ADDRESS=" + m_bus.Address(),
        "XDG_CONFIG_HOME=" + Path("other"), "XDG_RUNTIME_DIR=" + Path("other"),
        "SDL_DISKAUDIOFILE=" + Path("other/device.raw")}, {}, "", Path("other.log"));
    ASSERT_GT(nOther, 0);
    const std::string strInstance = "org.mpris.MediaPlayer2.VelofonPocket.instance" + std::to_string(nOther);
    EXPECT_TRUE(WaitUntil([&] {
        return Holds(RunCommand(OnTheBus("gdbus call --session --dest org.freedesktop.DBus --object-path "
            "/org/freedesktop/DBus --method org.freedesktop.DBus.ListNames")).strText, strInstance);
    }, kUiTimeout)) << strInstance;
    ::kill(nOther, SIGTERM);
    ::waitpid(nOther, nullptr, 0);
}

TEST_F(MediaControlsTest, RateVolumeAndLoopStatusAreSavedAsTheNearestSteps)
{
    StartOnTheBus({}, {{"MixingVolume", "80"}});
    ASSERT_FALSE(HasFatalFailure());

    const struct {
        const char* strProperty;
        const char* strValue;
        const char* strKey;
        const char* strSaved;
    } aCases[] = {
        {"Rate", "<2.5>", "SpeedIdx", "15"},
        {"Rate", "<9.0>", "SpeedIdx", "30"},
        {"Rate", "<1.04>", "SpeedIdx", "0"},
        {"Volume", "<1.0>", "MixingVolume", "50"},
        {"Volume", "<0.33>", "MixingVolume", "20"},
        {"Volume", "<7.0>", "MixingVolume", "100"},
        {"Volume", "<-1.0>", "MixingVolume", "0"},
        {"LoopStatus", "<'Track'>", "Repeat", "2"},
        {"LoopStatus", "<'Playlist'>", "Repeat", "1"},
        {"LoopStatus", "<'None'>", "Repeat", "0"},
    };
    for (const auto& test : aCases) {
        EXPECT_EQ(Set(test.strProperty, test.strValue).nStatus, 0) << test.strProperty << " " << test.strValue;
        EXPECT_TRUE(WaitForSetting(test.strKey, test.strSaved))
            << test.strProperty << " " << test.strValue << ": " << test.strKey << " is " << Setting(test.strKey);
    }
    EXPECT_TRUE(Holds(Announced(), "{'Rate': <2.5>}")) << Announced();
    EXPECT_TRUE(Holds(Get("Volume"), "<0.0>")) << Get("Volume");
}

TEST_F(MediaControlsTest, SeekAndSetPositionMoveWhatIsHeardAndPastTheEndIsTheNextEntry)
{
    const std::string strFirst = m_dir.Write("first.wav", Mono16Wav(kRate, 30.0, 110));
    const std::string strSecond = m_dir.Write("second.wav", Mono16Wav(kRate, 5.0, 160));
    StartOnTheBus({strFirst, strSecond}, {{"SpeedIdx", "0"}});
    ASSERT_FALSE(HasFatalFailure());
    Call(kPlayer + ".Play");
    ASSERT_TRUE(WaitForStatus("Playing")) << Report();

    Call(kPlayer + ".Seek 12000000");
    EXPECT_TRUE(WaitUntil([&] { return PositionUs() >= 12000000; }, kUiTimeout)) << PositionUs();
    EXPECT_LT(PositionUs(), 20000000);
    EXPECT_TRUE(WaitUntil([&] { return Holds(Announced(), "Player.Seeked (int64 12"); }, kUiTimeout)) << Announced();

    Call(kPlayer + ".SetPosition /org/velofonpocket/track/0 2000000");
    EXPECT_TRUE(WaitUntil([&] { return PositionUs() < 8000000; }, kUiTimeout)) << PositionUs();
    EXPECT_GE(PositionUs(), 2000000);

    Call(kPlayer + ".Seek -- -60000000");
    EXPECT_TRUE(WaitUntil([&] { return PositionUs() < 2000000; }, kUiTimeout)) << PositionUs();

    // Stopped, the controls tell of the entry that Play continues, at its place.
    Call(kPlayer + ".Seek 10000000");
    ASSERT_TRUE(WaitUntil([&] { return PositionUs() >= 10000000; }, kUiTimeout)) << PositionUs();
    Call(kPlayer + ".Stop");
    ASSERT_TRUE(WaitForStatus("Stopped")) << Report();
    EXPECT_TRUE(Holds(Get("Metadata"), "/org/velofonpocket/track/0")) << Get("Metadata");
    EXPECT_GE(PositionUs(), 10000000);
    Call(kPlayer + ".Play");
    ASSERT_TRUE(WaitForStatus("Playing")) << Report();
    EXPECT_GE(PositionUs(), 10000000);

    Call(kPlayer + ".Seek 60000000");
    EXPECT_TRUE(WaitUntil([&] { return Holds(Get("Metadata"), "/org/velofonpocket/track/1"); }, kUiTimeout))
        << Get("Metadata");
    EXPECT_TRUE(Holds(Announced(), "'xesam:title': <'second.wav'>")) << Announced();
}

// The desktop's portal on the test's bus, answering in this process.
TEST_F(MediaControlsTest, WhileTheSoundPlaysThePortalHoldsTheInhibitionOfSuspend)
{
    CFakePortal portal(m_bus.Address());
    ASSERT_TRUE(portal.IsOwner());
    StartOnTheBus({m_dir.Write("talk.wav", Mono16Wav(kRate, 20.0, 130))});
    ASSERT_FALSE(HasFatalFailure());
    const auto Answering = [&](const std::function<bool()>& pfnDone) {
        return WaitUntil([&] {
            DispatchBusCalls();
            return pfnDone();
        }, kUiTimeout);
    };
    Call(kPlayer + ".Play");
    ASSERT_TRUE(Answering([&] { return portal.Inhibits().size() == 1; })) << Report();
    EXPECT_EQ(portal.Inhibits()[0].nFlags, 4u);
    EXPECT_EQ(portal.Inhibits()[0].strReason, "Playing a recording");
    Call(kPlayer + ".Pause");
    EXPECT_TRUE(Answering([&] { return portal.Closed().size() == 1; })) << Report();
    EXPECT_EQ(portal.Closed()[0], portal.Inhibits()[0].strHandle);
}

TEST_F(MediaControlsTest, MalformedCallsGetErrorsStaleOnesAreIgnoredAndThePlayerGoesOn)
{
    const std::string strFile = m_dir.Write("talk.wav", Mono16Wav(kRate, 20.0, 130));
    StartOnTheBus({strFile}, {{"SpeedIdx", "0"}});
    ASSERT_FALSE(HasFatalFailure());
    Call(kPlayer + ".Play");
    ASSERT_TRUE(WaitUntil([&] { return PositionUs() > 500000; }, kUiTimeout)) << Report();
    Call(kPlayer + ".Pause");
    ASSERT_TRUE(WaitForStatus("Paused"));
    const int64_t nPausedAt = PositionUs();

    const struct {
        bool bRaw;
        std::string strCall;
        const char* strError;
    } aCases[] = {
        {false, kPlayer + ".OpenUri 'http://example.com/talk.wav'", "Error.NotSupported"},
        {false, kPlayer + ".OpenUri 'file://" + Path("notes.txt") + "'", "Error.NotSupported"},
        {false, "org.freedesktop.DBus.Properties.Set " + kPlayer + " Rate '<nan>'", "Error.InvalidArgs"},
        {false, "org.freedesktop.DBus.Properties.Set " + kPlayer + " Rate '<-2.0>'", "Error.InvalidArgs"},
        {false, "org.freedesktop.DBus.Properties.Set " + kPlayer + " LoopStatus \"<'Forever'>\"", "Error.InvalidArgs"},
        {false, "org.freedesktop.DBus.Properties.Set " + kPlayer + " Position '<int64 0>'", "Error.InvalidArgs"},
        {false, kPlayer + ".Shuffle", "Error.UnknownMethod"},
        {true, kPlayer + ".Seek string:ahead", "Error.InvalidArgs"},
        {true, kPlayer + ".SetPosition string:/org/velofonpocket/track/0 int64:0", "Error.InvalidArgs"},
        {true, "org.freedesktop.DBus.Properties.Set string:" + kPlayer + " string:Rate variant:string:fast",
            "Error.InvalidArgs"},
        // Ignored: a track that does not play, a place outside the track.
        {false, kPlayer + ".SetPosition /org/velofonpocket/track/7 0", nullptr},
        {false, kPlayer + ".SetPosition /org/velofonpocket/track/0 -- -1", nullptr},
        {false, kPlayer + ".SetPosition /org/velofonpocket/track/0 20000001", nullptr},
    };
    for (const auto& test : aCases) {
        const SReply reply = test.bRaw ? SendRaw(test.strCall) : Call(test.strCall);
        if (test.strError)
            EXPECT_TRUE(reply.nStatus != 0 && Holds(reply.strText, test.strError)) << test.strCall << ": " << reply.strText;
        else
            EXPECT_EQ(reply.strText, "()\n") << test.strCall;
    }
    EXPECT_TRUE(PlayerRuns()) << Report();
    EXPECT_TRUE(Holds(Get("PlaybackStatus"), "'Paused'"));
    EXPECT_EQ(PositionUs(), nPausedAt);
    EXPECT_TRUE(WaitForSetting("SpeedIdx", "0"));
    EXPECT_EQ(Setting("PlayListCount"), "1");
}

} // namespace
