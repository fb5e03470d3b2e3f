// The playback controller and its commands as a state machine: the scripted
// sound system plays buffers when the test says so, a clock of the test's
// own runs the watchdog and the waits, and the form answers as it is told.
#include "PlayerFixture.h"

#include "decoder/DecodedFile.h"
#include "engine/SpeedSteps.h"
#include "platform/events/TimeOfDay.h"

#include <cstdlib>
#include <functional>

namespace {

using EC = EPlayerCommand;

class ControllerTest : public PlayerFixture {
protected:
    void SetUp() override
    {
        PlayerFixture::SetUp();
        STestClock::onRead = [this] {
            if (m_nAlarmMs < 0 || STestClock::nNowMs < m_nAlarmMs)
                return;
            m_nAlarmMs = -1;
            const std::function<void()> onAlarm = std::move(m_onAlarm);
            onAlarm();
        };
    }

    CPlaybackController& StartWith(const std::vector<std::string>& astrPlaylist, const std::string& strMore = "")
    {
        WritePlaylist(astrPlaylist, strMore);
        return Start();
    }

    // Runs onAlarm at the first reading of the clock nMs from now.
    void After(int nMs, std::function<void()> onAlarm)
    {
        m_nAlarmMs = STestClock::nNowMs + nMs;
        m_onAlarm = std::move(onAlarm);
    }

    // The next notification comes later than the watchdog allows.
    void Stall() { STestClock::nNowMs += 1000 * (CControllerProbe::WatchdogSeconds(Controller()) + 1); }

    uint64_t& ResumePos() { return CControllerProbe::ResumePos(Controller()); }
    uint64_t DataEnd() const { return m_pEngine->SoundFile().WaveFile().DataEnd(); }

    void ExpectStopped()
    {
        EXPECT_EQ(State(), PS_IDLE);
        EXPECT_EQ(Current(), -1);
        EXPECT_TRUE(View().SelectedRows().empty());
        EXPECT_EQ(Playing(), kStoppedFileName);
        EXPECT_EQ(View().m_strTime, kTimeZero);
        EXPECT_EQ(View().m_strCaption, "STOP-Kuroto");
        EXPECT_FALSE(View().m_bStopEnabled);
        EXPECT_TRUE(View().m_bPlayShown);
        EXPECT_FALSE(m_sound.IsOpen()) << "the device stays open while nothing plays";
    }

    int m_nAlarmMs = -1;
    std::function<void()> m_onAlarm;
};

TEST_F(ControllerTest, PlayWithAnEmptyPlaylistStaysIdle)
{
    StartWith({});
    EXPECT_EQ(View().m_strCaption, "STOP-Kuroto");
    EXPECT_EQ(View().m_strSpeed, "2.0");
    Post(EC::Play);
    ExpectStopped();
    EXPECT_EQ(m_sound.GetOpenCount(), 0);
}

TEST_F(ControllerTest, PlayStartsAtTheSelectionAndRunsToTheEndOfTheList)
{
    StartWith({Sound("a.wav"), Sound("b.wav"), Sound("c.wav"), Sound("d.wav")});
    Select({2});
    Post(EC::Play);
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_EQ(Playing(), "c.wav");
    EXPECT_EQ(View().m_strCaption, "PLAY-Kuroto");
    EXPECT_EQ(View().SelectedRows(), std::vector<int>{2});
    EXPECT_EQ(View().m_nShownRow, 2);
    EXPECT_TRUE(View().m_bStopEnabled);
    EXPECT_FALSE(View().m_bPlayShown);

    ASSERT_TRUE(PlayUntilNextOpen());
    EXPECT_EQ(Playing(), "d.wav");
    EXPECT_EQ(View().SelectedRows(), std::vector<int>{3});
    EXPECT_EQ(View().m_nShownRow, 3);
    Drain();
    ExpectStopped();
}

TEST_F(ControllerTest, PlayAfterStopStartsAtTheFirstEntry)
{
    StartWith({Sound("a.wav"), Sound("b.wav")});
    Select({1});
    Post(EC::Play);
    EXPECT_EQ(Playing(), "b.wav");
    Post(EC::Stop);
    ExpectStopped();
    Post(EC::Play);
    EXPECT_EQ(Playing(), "a.wav");
}

TEST_F(ControllerTest, UnreadableEntriesAreSkipped)
{
    const std::string strMissing = m_pDir->Path() + "/missing.wav";
    StartWith({strMissing, Sound("b.wav"), strMissing});
    Select({0});
    Post(EC::Play);
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(Current(), 1);
    Post(EC::Stop);

    // The selected entry is the last one and unreadable: nothing plays and
    // the display is left as it was.
    View().m_strFileName = "kept.wav";
    Select({2});
    Post(EC::Play);
    EXPECT_EQ(State(), PS_IDLE);
    EXPECT_EQ(Playing(), "kept.wav");
}

TEST_F(ControllerTest, RepeatOneAndRepeatAll)
{
    StartWith({Sound("a.wav"), Sound("b.wav")}, "Repeat=2\n");
    Select({1});
    Post(EC::Play);
    ASSERT_TRUE(PlayUntilNextOpen());
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(Current(), 1);

    Post(EC::SetRepeat, REPEAT_ALL);
    EXPECT_EQ(StoredInt("Repeat"), REPEAT_ALL);
    ASSERT_TRUE(PlayUntilNextOpen());
    EXPECT_EQ(Playing(), "a.wav");
    EXPECT_EQ(Current(), 0);
}

TEST_F(ControllerTest, TheWaitBetweenFilesAndStopDuringIt)
{
    StartWith({Sound("a.wav"), Sound("b.wav")}, "WaitSec=2000\n");
    Post(EC::Play);
    STestClock::nStepMs = 50;
    const int nEndOfFirst = STestClock::nNowMs;
    bool bSeenWaiting = false;
    After(1000, [&] {
        bSeenWaiting = CControllerProbe::Waiting(Controller()) && !View().m_bPlayEnabled && View().m_bStopEnabled &&
            View().m_bPlayShown && View().m_strCaption == "PLAY-Kuroto" && !m_sound.IsOpen();
    });
    while (Playing() == "a.wav" && PlayOne()) {
    }
    EXPECT_TRUE(bSeenWaiting);
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_GE(STestClock::nNowMs - nEndOfFirst, 2000);
    EXPECT_TRUE(View().m_bPlayEnabled);

    // Stop in the middle of the next wait.
    After(1000, [&] { Queue(EC::Stop); });
    Drain();
    EXPECT_FALSE(CControllerProbe::Waiting(Controller()));
    EXPECT_TRUE(View().m_bPlayEnabled);
    ExpectStopped();
}

TEST_F(ControllerTest, AWaitAcrossMidnightEndsAfterItsTime)
{
    StartWith({Sound("a.wav"), Sound("b.wav")}, "WaitSec=3000\n");
    STestClock::nNowMs = kMillisecondsPerDay - 1000;
    Post(EC::Play);
    STestClock::nStepMs = 100;
    while (Playing() == "a.wav" && PlayOne()) {
    }
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_GE(STestClock::nNowMs, 2000);
    EXPECT_LT(STestClock::nNowMs, 60000);
}

TEST_F(ControllerTest, ADoubleClickDuringTheWaitTakesOver)
{
    StartWith({Sound("a.wav"), Sound("b.wav"), Sound("c.wav")}, "WaitSec=2000\n");
    Post(EC::Play);
    STestClock::nStepMs = 50;
    After(500, [&] {
        Select({2});
        Queue(EC::PlaySelected);
    });
    while (Playing() == "a.wav" && PlayOne()) {
    }
    // The chosen entry plays; the end of the wait started and stopped nothing.
    EXPECT_EQ(Playing(), "c.wav");
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_EQ(Current(), 2);
    EXPECT_FALSE(CControllerProbe::Waiting(Controller()));
    EXPECT_TRUE(View().m_bStopEnabled);
    EXPECT_TRUE(View().m_bPlayEnabled);
    EXPECT_EQ(View().SelectedRows(), std::vector<int>{2});
    EXPECT_EQ(m_sound.GetOpenCount(), 2);
}

TEST_F(ControllerTest, PauseAndResumeWithoutTheWatchdogFiring)
{
    StartWith({Sound("a.wav", 20)});
    Post(EC::Play);
    PlayOne();
    Post(EC::Play);
    EXPECT_TRUE(Controller().IsPaused());
    EXPECT_TRUE(m_sound.IsPaused());
    EXPECT_EQ(View().m_strCaption, "PAUSE-Kuroto");
    EXPECT_TRUE(View().m_bPlayShown);
    EXPECT_FALSE(PlayOne());
    STestClock::nNowMs += 60000; // a long pause
    Post(EC::Play);
    EXPECT_FALSE(Controller().IsPaused());
    EXPECT_EQ(View().m_strCaption, "PLAY-Kuroto");
    EXPECT_FALSE(View().m_bPlayShown);
    EXPECT_TRUE(PlayOne());
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_EQ(m_sound.GetOpenCount(), 1) << "a pause is no stall";
}

TEST_F(ControllerTest, StopWhilePausedResumesResetsAndAllowsANewStart)
{
    StartWith({Sound("a.wav", 20)});
    Post(EC::Play);
    PlayOne();
    Post(EC::Play);
    const size_t nPlayed = m_sound.GetPlayed().size();
    Post(EC::Stop);
    EXPECT_FALSE(Controller().IsPaused());
    ExpectStopped();
    Drain();
    EXPECT_EQ(m_sound.GetPlayed().size(), nPlayed) << "nothing plays after Stop";
    Post(EC::Play);
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_TRUE(PlayOne());
}

TEST_F(ControllerTest, ADoubleClickWhilePlayingCutsOverToTheChosenEntry)
{
    StartWith({Sound("a.wav", 20), Sound("b.wav"), Sound("c.wav")}, "WaitSec=5000\nRepeat=2\n");
    Post(EC::Play);
    PlayOne();
    const int nClock = STestClock::nNowMs;
    const size_t nPlayed = m_sound.GetPlayed().size();
    Select({2});
    // The returned buffers come back at once; handling them starts the entry.
    Post(EC::PlaySelected);
    EXPECT_EQ(Playing(), "c.wav");
    EXPECT_EQ(m_sound.GetPlayed().size(), nPlayed) << "nothing more of the old file";
    EXPECT_EQ(Current(), 2);
    EXPECT_EQ(CControllerProbe::Pending(Controller()), -1);
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_EQ(View().m_nShownRow, 2);
    EXPECT_LT(STestClock::nNowMs - nClock, 5000) << "the wait is not applied to a double-click";
}

TEST_F(ControllerTest, PreviousAndNextMoveTheSelectionWhileIdle)
{
    StartWith({"/0.wav", "/1.wav", "/2.wav"});
    struct SCase {
        std::vector<int> anSelected;
        EPlayerCommand eCommand;
        int nRow;
    };
    const SCase aCases[] = {
        {{}, EC::NextEntry, 0},     {{}, EC::PreviousEntry, 0}, {{1}, EC::NextEntry, 2},
        {{1}, EC::PreviousEntry, 0}, {{2}, EC::NextEntry, 2},    {{0}, EC::PreviousEntry, 0},
        {{0, 2}, EC::NextEntry, 1},
    };
    for (const SCase& c : aCases) {
        Select(c.anSelected);
        View().m_nShownRow = -1;
        Post(c.eCommand);
        EXPECT_EQ(View().SelectedRows(), std::vector<int>{c.nRow}) << &c - aCases;
        EXPECT_EQ(View().m_nShownRow, c.nRow) << &c - aCases;
    }
    EXPECT_EQ(State(), PS_IDLE);
    EXPECT_EQ(m_sound.GetOpenCount(), 0);
}

TEST_F(ControllerTest, PreviousAndNextPlayTheNeighbourWhilePlaying)
{
    StartWith({Sound("a.wav", 20), Sound("b.wav", 20), Sound("c.wav", 20)});
    Select({1});
    Post(EC::Play);
    struct SCase {
        std::vector<int> anSelected; // the user's selection, which the step ignores
        EPlayerCommand eCommand;
        int nPlaying;
    };
    const SCase aCases[] = {
        {{1}, EC::NextEntry, 2}, {{2}, EC::NextEntry, 2},     {{0}, EC::PreviousEntry, 1},
        {{}, EC::PreviousEntry, 0}, {{0}, EC::PreviousEntry, 0}, {{2}, EC::NextEntry, 1},
    };
    for (const SCase& c : aCases) {
        const int nWas = Current();
        const int nOpens = m_sound.GetOpenCount();
        PlayOne();
        Select(c.anSelected);
        Post(c.eCommand);
        EXPECT_EQ(State(), PS_RUNNING) << &c - aCases;
        EXPECT_EQ(Current(), c.nPlaying) << &c - aCases;
        EXPECT_EQ(Playing(), std::string(1, static_cast<char>('a' + c.nPlaying)) + ".wav") << &c - aCases;
        EXPECT_EQ(m_sound.GetOpenCount() - nOpens, c.nPlaying != nWas ? 1 : 0) << &c - aCases;
        EXPECT_EQ(View().SelectedRows(), std::vector<int>{c.nPlaying}) << &c - aCases;
        EXPECT_EQ(View().m_nShownRow, c.nPlaying) << &c - aCases;
    }
}

TEST_F(ControllerTest, ASpeedChangeRestartsTheFileWhereTheEngineWas)
{
    StartWith({Sound("a.wav", 20)});
    Post(EC::Play);
    PlayOne();
    const int nRange = View().m_nProgressMax;
    const uint64_t nPosition = m_pEngine->GetPosition();
    size_t nInFlight = 0;
    for (int nSlot = 0; nSlot < WAVE_BUFFER_COUNT; ++nSlot) {
        if (m_output.GetHeader(nSlot)->dwFlags & WHDR_INQUEUE)
            nInFlight += m_output.GetHeader(nSlot)->dwBufferLength;
    }
    const size_t nPlayedBefore = m_sound.GetPlayed().size();
    Post(EC::SpeedUp);
    Post(EC::SpeedUp); // a second press before the restart moves the index only
    EXPECT_EQ(View().m_strSpeed, "2.2");
    EXPECT_EQ(StoredInt("SpeedIdx"), 12);
    EXPECT_TRUE(CControllerProbe::ResumeRequest(Controller()));
    EXPECT_EQ(ResumePos(), nPosition);
    EXPECT_EQ(m_output.GetState(), WOS_STOP_REQUESTED);

    // The buffers in flight play out and nothing more is written.
    ASSERT_TRUE(PlayUntilNextOpen());
    EXPECT_EQ(m_sound.GetPlayed().size(), nPlayedBefore + nInFlight)
        << "only the buffers still in flight played before the restart";
    EXPECT_EQ(m_sound.GetLastSampleRate(), 8000u);
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_FALSE(CControllerProbe::ResumeRequest(Controller()));
    EXPECT_EQ(CControllerProbe::SpeedHoldoff(Controller()), 2);
    EXPECT_EQ(View().m_nProgressMax, nRange);

    // The hold-off swallows speed presses until two notifications passed.
    Post(EC::SpeedUp);
    EXPECT_EQ(View().m_strSpeed, "2.2");
    PlayOne();
    PlayOne();
    Post(EC::SpeedDown);
    EXPECT_EQ(View().m_strSpeed, "2.1");
}

// A speed change never changes a sample of a decoded file: the restart takes
// the parked decoder back where the engine stopped reading, without a seek.
// What plays after the restart is compared with the engine reading an
// uninterrupted decode, saved as a plain WAV, from the same frame.
TEST_F(ControllerTest, ASpeedChangeContinuesTheDecoderWhereItStood)
{
    for (const char* strCodec : {"libmp3lame", "libopus"}) {
        const std::string strSource = Sound("source.wav", 20);
        const std::string strCoded =
            m_pDir->Path() + "/speech." + (std::string(strCodec) == "libopus" ? "opus" : "mp3");
        const std::string strEncode =
            "ffmpeg -nostdin -loglevel error -y -i " + strSource + " -c:a " + strCodec + " " + strCoded;
        ASSERT_EQ(std::system(strEncode.c_str()), 0) << "the tests need the ffmpeg program";
        CDecodedFile decoded;
        ASSERT_TRUE(decoded.Open(strCoded)) << decoded.GetError();
        Bytes abDecoded(1 << 20);
        size_t nDecoded = 0;
        for (uint32_t n; (n = decoded.Read(abDecoded.data() + nDecoded, 1 << 16)) > 0;) {
            nDecoded += n;
            abDecoded.resize(nDecoded + (1 << 16));
        }
        abDecoded.resize(nDecoded);
        const uint16_t nBlock = static_cast<uint16_t>(2 * decoded.GetChannels());
        const std::string strReference =
            m_pDir->Write("reference.wav", MakeWav(decoded.GetChannels(), decoded.GetSampleRate(), nBlock, abDecoded));

        StartWith({strCoded});
        Post(EC::Play);
        PlayOne();
        Post(EC::SpeedUp);
        const uint64_t nResumePos = ResumePos();
        ASSERT_GT(nResumePos, 0u);
        ASSERT_TRUE(PlayUntilNextOpen()) << strCodec << ": one restart";
        const size_t nRestartedAt = m_sound.GetPlayed().size();
        for (int i = 0; i < 6; ++i)
            PlayOne();
        Bytes abAfter = PlayedSince(nRestartedAt);
        ASSERT_GT(abAfter.size(), 0u);
        Post(EC::Stop);

        // Past the reference's canonical header.
        Bytes abExpected = Render(strReference, 44 + nResumePos, SpeedOfIndex(Controller().GetSpeedIndex()));
        ASSERT_GE(abExpected.size(), abAfter.size());
        abExpected.resize(abAfter.size());
        EXPECT_TRUE(abAfter == abExpected) << strCodec;
    }
}

TEST_F(ControllerTest, StopDuringASpeedHoldoffFreesTheSpeedButtons)
{
    StartWith({Sound("a.wav", 20)});
    Post(EC::Play);
    PlayOne();
    // A restart close to the end fills fewer buffers than the hold-off
    // counts, so Stop returns fewer notifications than it waits for.
    Post(EC::SpeedUp);
    ResumePos() = DataEnd() - 12000;
    ASSERT_TRUE(PlayUntilNextOpen());
    ASSERT_EQ(CControllerProbe::SpeedHoldoff(Controller()), 2);
    Post(EC::Stop);
    Post(EC::SpeedUp);
    EXPECT_EQ(View().m_strSpeed, "2.2");
}

TEST_F(ControllerTest, ASpeedChangeWhileIdleIsDroppedByTheNextPlay)
{
    StartWith({Sound("a.wav")});
    Post(EC::SpeedDown);
    EXPECT_TRUE(CControllerProbe::ResumeRequest(Controller()));
    Post(EC::Play);
    EXPECT_FALSE(CControllerProbe::ResumeRequest(Controller()));
    EXPECT_EQ(View().m_strSpeed, "1.9");
    Drain();
    EXPECT_EQ(m_sound.GetOpenCount(), 1) << "no restart after the end";
}

TEST_F(ControllerTest, ADoubleClickDuringASpeedDrainWaitsForTheRestartedFile)
{
    StartWith({Sound("a.wav", 20), Sound("b.wav"), Sound("c.wav")});
    Post(EC::Play);
    PlayOne();
    Post(EC::SpeedUp);
    const int nOpens = m_sound.GetOpenCount();
    Select({2});
    // The reset returns every buffer at once and the drain ends at once.
    Post(EC::PlaySelected);
    EXPECT_EQ(m_sound.GetOpenCount(), nOpens + 1);
    EXPECT_EQ(Playing(), "a.wav") << "the restart comes first";
    EXPECT_EQ(CControllerProbe::Pending(Controller()), 2);
    ASSERT_TRUE(PlayUntilNextOpen());
    EXPECT_EQ(Playing(), "c.wav") << "then the chosen entry, in place of the next one";
}

TEST_F(ControllerTest, AStopRightAfterADoubleClickLeavesNothingPending)
{
    StartWith({Sound("a.wav"), Sound("b.wav"), Sound("c.wav")});
    Post(EC::Play);
    PlayOne();
    // Both clicks wait in the queue: Stop comes before the returned buffers.
    Select({2});
    Queue(EC::PlaySelected);
    Queue(EC::Stop);
    Dispatch();
    EXPECT_EQ(State(), PS_IDLE);
    EXPECT_EQ(CControllerProbe::Pending(Controller()), -1);

    // The next run goes through the list in order.
    Post(EC::Play);
    EXPECT_EQ(Playing(), "a.wav");
    ASSERT_TRUE(PlayUntilNextOpen());
    EXPECT_EQ(Playing(), "b.wav");
}

TEST_F(ControllerTest, APauseClickHandledDuringTheWaitStartsNothing)
{
    StartWith({Sound("a.wav"), Sound("b.wav"), Sound("c.wav")}, "WaitSec=2000\n");
    Post(EC::Play);
    STestClock::nStepMs = 50;
    // a.wav fits one buffer. Pause is clicked as it ends: the click waits in
    // the queue behind the notification and is handled by the wait.
    ASSERT_EQ(m_output.GetState(), WOS_END_OF_DATA);
    m_sound.CompleteNext();
    Queue(EC::Play);
    Dispatch();
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(Current(), 1);
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_TRUE(View().m_bStopEnabled);
    EXPECT_EQ(m_sound.GetOpenCount(), 2) << "only b.wav started after a.wav";
}

TEST_F(ControllerTest, ARestartWithNothingLeftToReadGoesOnToTheNextFile)
{
    StartWith({Sound("a.wav", 20), Sound("b.wav")});
    Post(EC::Play);
    PlayOne();
    Post(EC::SpeedUp);
    // The reader runs ahead of what is heard: it may have read the whole file
    // by the time the speed changes, before it has seen the end.
    ResumePos() = DataEnd();
    ASSERT_TRUE(PlayUntilNextOpen());
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(Current(), 1);
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_FALSE(CControllerProbe::ResumeRequest(Controller()));
}

TEST_F(ControllerTest, StaleNotificationsDoNotTouchANewRun)
{
    const std::string strA = Sound("a.wav", 2);
    StartWith({strA});
    Post(EC::Play);
    // Stop, and start again before the returned buffers are handled.
    Controller().OnStop();
    Controller().OnPlay();
    Drain();
    EXPECT_EQ(m_sound.GetPlayed(), Render(strA)) << "the new run plays its file whole";
}

TEST_F(ControllerTest, StopDispatchedInsideTheBufferHandlingEndsTheRun)
{
    StartWith({Sound("a.wav", 3)});
    Post(EC::Play);
    // Queued before the notification, so one of its three pumps handles it.
    m_sound.CompleteNext();
    Queue(EC::Stop);
    Dispatch();
    EXPECT_EQ(State(), PS_IDLE);
    Drain();
    ExpectStopped();
}

TEST_F(ControllerTest, AStalledOutputRestartsWhereTheSoundWasOnAReopenedDevice)
{
    const std::string strA = Sound("a.wav", 20);
    StartWith({strA, Sound("b.wav")});
    Post(EC::Play);
    PlayOne();
    PlayOne();
    Stall();
    PlayOne();
    // Three buffers were heard; the engine had read four more.
    const size_t nHeardBytes = m_sound.GetPlayed().size();
    const uint64_t nHeardInput = 44 + nHeardBytes / 4 * 2 * 2;
    EXPECT_NEAR(static_cast<double>(ResumePos()), static_cast<double>(nHeardInput), 2000.0);
    EXPECT_EQ(m_sound.GetOpenCount(), 2) << "one reopened device";
    EXPECT_TRUE(m_sound.IsOpen());
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_EQ(Playing(), "a.wav");
    EXPECT_EQ(Current(), 0);
    EXPECT_TRUE(View().m_astrMessages.empty());

    const uint64_t nResumePos = ResumePos();
    PlayOne();
    PlayOne();
    Bytes abExpected = Render(strA, nResumePos);
    const Bytes abAfter = PlayedSince(nHeardBytes);
    ASSERT_GE(abExpected.size(), abAfter.size());
    abExpected.resize(abAfter.size());
    EXPECT_TRUE(abAfter == abExpected) << "the run goes on from the resume position";
}

TEST_F(ControllerTest, AStalledOutputWithoutADeviceToReopenStopsWithAMessage)
{
    StartWith({Sound("a.wav", 20), Sound("b.wav")});
    Post(EC::Play);
    PlayOne();
    m_sound.SetOpenFails(true);
    Stall();
    PlayOne();
    ExpectStopped();
    EXPECT_EQ(CControllerProbe::Pending(Controller()), -1);
    EXPECT_EQ(View().m_astrMessages, std::vector<std::string>{kDeviceLostMessage});
    EXPECT_EQ(m_sound.GetOpenCount(), 1) << "b.wav did not start either";

    m_sound.SetOpenFails(false);
    Post(EC::Play);
    EXPECT_EQ(Playing(), "a.wav");
    EXPECT_EQ(State(), PS_RUNNING);
}

// The device is fine; only the file has nothing left after the reader.
TEST_F(ControllerTest, AStallWhileARestartFindsTheFileReadGoesOnToTheNextFile)
{
    StartWith({Sound("a.wav", 20), Sound("b.wav")});
    Post(EC::Play);
    PlayOne();
    Post(EC::SpeedUp);
    ResumePos() = DataEnd();
    Stall();
    ASSERT_TRUE(PlayUntilNextOpen());
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_TRUE(View().m_astrMessages.empty());
}

TEST_F(ControllerTest, SpeedButtonsMoveTheIndexWithinItsBoundsAndSave)
{
    StartWith({});
    for (int i = 0; i < 9; ++i)
        Post(EC::SpeedUp);
    EXPECT_EQ(View().m_strSpeed, "2.9");
    EXPECT_EQ(StoredInt("SpeedIdx"), 19);
    for (int i = 0; i < 20; ++i)
        Post(EC::SpeedUp);
    EXPECT_EQ(View().m_strSpeed, "4.0");
    CControllerProbe::ResumeRequest(Controller()) = false;
    Post(EC::SpeedUp);
    EXPECT_EQ(Controller().GetSpeedIndex(), 30);
    EXPECT_TRUE(CControllerProbe::ResumeRequest(Controller())) << "a press at the bound still requests a restart";

    CControllerProbe::SpeedHoldoff(Controller()) = 1;
    Post(EC::SpeedDown);
    EXPECT_EQ(View().m_strSpeed, "4.0");
    EXPECT_EQ(StoredInt("SpeedIdx"), 30);
}

TEST_F(ControllerTest, TheAlphaQuestionGuardsSwitchingTheTonesOn)
{
    StartWith({});
    Post(EC::SetAlpha, 5);
    EXPECT_EQ(View().m_astrAsked, std::vector<std::string>{kAlphaQuestion});
    EXPECT_EQ(Controller().GetAlphaControl(), 0);
    EXPECT_EQ(m_pEngine->m_bAlpha, 0);

    View().m_bAnswerYes = true;
    Post(EC::SetAlpha, 5);
    EXPECT_EQ(Controller().GetAlphaControl(), 5);
    EXPECT_EQ(m_pEngine->m_bAlpha, 1);
    EXPECT_EQ(m_pEngine->m_nAlphaLevel, 5);
    EXPECT_EQ(StoredInt("AlphaControl"), 5);
    Post(EC::SetAlpha, 45); // no question while the tones are on
    EXPECT_EQ(View().m_astrAsked.size(), 2u);
    EXPECT_EQ(m_pEngine->m_nAlphaLevel, 45);
    Post(EC::SetAlpha, 0);
    EXPECT_EQ(View().m_astrAsked.size(), 2u);
    EXPECT_EQ(m_pEngine->m_bAlpha, 0);
    EXPECT_EQ(StoredInt("AlphaControl"), 0);
}

TEST_F(ControllerTest, MixingAndRepeatSetTheirValuesAndSave)
{
    StartWith({});
    Post(EC::SetMixing, 90);
    EXPECT_EQ(m_pEngine->m_nMixingGain, 18);
    Post(EC::SetMixing, 0);
    EXPECT_EQ(m_pEngine->m_nMixingGain, 0);
    EXPECT_EQ(StoredInt("MixingVolume"), 0);
    Post(EC::SetRepeat, REPEAT_ONE);
    EXPECT_EQ(Controller().GetRepeat(), REPEAT_ONE);
    EXPECT_EQ(StoredInt("Repeat"), REPEAT_ONE);
}

TEST_F(ControllerTest, RemovingAndSelectingPlaylistLines)
{
    StartWith({"/0.wav", "/1.wav", "/2.wav", "/3.wav", "/4.wav"});
    Select({1, 3});
    Post(EC::DeleteSelected);
    EXPECT_EQ(Controller().GetPlayList().GetCount(), 3);
    EXPECT_EQ(Controller().GetPlayList().GetPath(1), "/2.wav");
    EXPECT_EQ(View().RowNames(), (std::vector<std::string>{"0.wav", "2.wav", "4.wav"}));
    EXPECT_EQ(StoredInt("PlayListCount"), 3);

    Select({0, 2});
    Post(EC::SelectAll);
    EXPECT_TRUE(View().SelectedRows().empty());
    Select({2});
    Post(EC::SelectAll);
    EXPECT_EQ(View().SelectedRows(), (std::vector<int>{0, 1, 2}));
}

TEST_F(ControllerTest, TheDialogsChangeTheListAndTheWaitOnlyOnOk)
{
    StartWith({"/0.wav"}, "FileSelect=0\nWaitSec=300\n");
    View().m_astrChosen = {"/a.mp3", "/b.txt", "/c.WAV", "/folder"};
    View().m_nChosenWaitMs = 1500;
    Post(EC::AddFiles);
    Post(EC::Settings);
    EXPECT_FALSE(View().m_bOfferedFileMode);
    EXPECT_EQ(View().m_nOfferedWaitMs, 300);
    EXPECT_EQ(View().RowNames(), std::vector<std::string>{"0.wav"});
    EXPECT_EQ(CControllerProbe::WaitMs(Controller()), 300);

    View().m_bChooseOk = true;
    Post(EC::AddFiles);
    Post(EC::Settings);
    EXPECT_EQ(View().RowNames(), (std::vector<std::string>{"0.wav", "a.mp3", "c.WAV"}));
    EXPECT_EQ(View().m_aRows[2].strPath, "/c.WAV");
    EXPECT_EQ(StoredString(PlayFileEntryName(2)), "/c.WAV");
    EXPECT_EQ(StoredInt("FileSelect"), 1);
    EXPECT_EQ(StoredInt("WaitSec"), 1500);
}

} // namespace
