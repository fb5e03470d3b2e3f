// The playback controller as a state machine: runs, waits, pauses, double-
// clicks, speed restarts and stalls. The scripted sound system plays buffers
// when the test says so, and a clock of the test's own runs the watchdog
// and the waits.
#include "PlayerFixture.h"

#include "decoder/DecoderModule.h"
#include "engine/SpeedSteps.h"
#include "platform/events/TimeOfDay.h"

#include <cstdlib>

namespace {

using EC = EPlayerCommand;

class ControllerTest : public PlayerFixture {
protected:
    uint64_t& ResumePos() { return CControllerProbe::ResumePos(Controller()); }
    uint64_t DataEnd() const { return m_pEngine->SoundFile().WaveFile().DataEnd(); }

    // Stop leaves the stopped entry selected; the end of the list, none.
    void ExpectStopped(const std::vector<int>& anSelected = {})
    {
        EXPECT_EQ(State(), PS_IDLE);
        EXPECT_EQ(Current(), -1);
        EXPECT_EQ(View().SelectedRows(), anSelected);
        EXPECT_EQ(Playing(), kStoppedFileName);
        EXPECT_EQ(View().m_strTime, kTimeZero);
        EXPECT_EQ(View().m_strCaption, "STOP-Kuroto");
        EXPECT_FALSE(View().m_bStopEnabled);
        EXPECT_TRUE(View().m_bPlayShown);
        EXPECT_FALSE(m_sound.IsOpen()) << "the device stays open while nothing plays";
    }
};

TEST_F(ControllerTest, PlayWithAnEmptyPlaylistStaysIdle)
{
    Start({});
    EXPECT_EQ(View().m_strCaption, "STOP-Kuroto");
    EXPECT_EQ(View().m_strSpeed, "2.0");
    Post(EC::Play);
    ExpectStopped();
    EXPECT_EQ(m_sound.GetOpenCount(), 0);
}

TEST_F(ControllerTest, PlayStartsAtTheSelectionAndRunsToTheEndOfTheList)
{
    Start({Sound("a.wav"), Sound("b.wav"), Sound("c.wav"), Sound("d.wav")});
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

TEST_F(ControllerTest, PlayAfterStopContinuesTheStoppedEntryUnlessTheListenerDeselectsIt)
{
    Start({Sound("a.wav"), Sound("b.wav")});
    Select({1});
    Post(EC::Play);
    EXPECT_EQ(Playing(), "b.wav");
    Post(EC::Stop);
    ExpectStopped({1});
    Post(EC::Play);
    EXPECT_EQ(Playing(), "b.wav");
    Post(EC::Stop);
    Select({});
    Post(EC::Play);
    EXPECT_EQ(Playing(), "a.wav");
}

// Next and a double-click pass over what cannot be played, as Play does,
// and stop at the end of the list.
TEST_F(ControllerTest, NextPassesOverEntriesThatCannotBePlayed)
{
    const std::string strMissing = m_pDir->Path() + "/missing.wav";
    Start({Sound("a.wav", 20), strMissing, "", Sound("d.wav", 20), strMissing});
    Post(EC::Play);
    Post(EC::NextEntry);
    EXPECT_EQ(Current(), 3);
    EXPECT_EQ(Playing(), "d.wav");
    Post(EC::NextEntry);
    ExpectStopped();
}

TEST_F(ControllerTest, UnreadableEntriesAreSkipped)
{
    const std::string strMissing = m_pDir->Path() + "/missing.wav";
    Start({strMissing, Sound("b.wav"), strMissing});
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
    Start({Sound("a.wav"), Sound("b.wav")}, "Repeat=2\n");
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
    Start({Sound("a.wav"), Sound("b.wav")}, "WaitSec=2000\n");
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
    Start({Sound("a.wav"), Sound("b.wav")}, "WaitSec=3000\n");
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
    Start({Sound("a.wav"), Sound("b.wav"), Sound("c.wav")}, "WaitSec=2000\n");
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
    Start({Sound("a.wav", 20)});
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
    Start({Sound("a.wav", 20)});
    Post(EC::Play);
    PlayOne();
    Post(EC::Play);
    const size_t nPlayed = m_sound.GetPlayed().size();
    Post(EC::Stop);
    EXPECT_FALSE(Controller().IsPaused());
    ExpectStopped({0});
    Drain();
    EXPECT_EQ(m_sound.GetPlayed().size(), nPlayed) << "nothing plays after Stop";
    Post(EC::Play);
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_TRUE(PlayOne());
}

TEST_F(ControllerTest, ADoubleClickWhilePlayingCutsOverToTheChosenEntry)
{
    Start({Sound("a.wav", 20), Sound("b.wav"), Sound("c.wav")}, "WaitSec=5000\nRepeat=2\n");
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

TEST_F(ControllerTest, ASpeedChangeRestartsTheFileWhereTheEngineWas)
{
    Start({Sound("a.wav", 20)});
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

    // A press during the hold-off moves the index at once; its restart waits
    // until two notifications passed.
    Post(EC::SpeedUp);
    EXPECT_EQ(View().m_strSpeed, "2.3");
    EXPECT_FALSE(CControllerProbe::ResumeRequest(Controller()));
    PlayOne();
    PlayOne();
    EXPECT_TRUE(CControllerProbe::ResumeRequest(Controller()));
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
        std::string strWhy;
        const std::unique_ptr<IDecodedFile> pDecoded = NewDecodedFile(strWhy);
        ASSERT_TRUE(pDecoded) << strWhy;
        IDecodedFile& decoded = *pDecoded;
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

        Start({strCoded});
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
    Start({Sound("a.wav", 20)});
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
    Start({Sound("a.wav")});
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
    Start({Sound("a.wav", 20), Sound("b.wav"), Sound("c.wav")});
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

// The other order: a speed step while a double-click's cut-off drains has
// no file left to restart; the chosen entry starts, at the new speed.
TEST_F(ControllerTest, ASpeedStepDuringADoubleClicksDrainStartsOnlyTheChosenEntry)
{
    Start({Sound("a.wav", 20), Sound("b.wav"), Sound("c.wav")});
    Post(EC::Play);
    PlayOne();
    const int nOpens = m_sound.GetOpenCount();
    Select({2});
    Queue(EC::PlaySelected);
    Queue(EC::SpeedUp);
    Dispatch();
    EXPECT_EQ(Playing(), "c.wav");
    EXPECT_EQ(m_sound.GetOpenCount(), nOpens + 1) << "a.wav did not start again";
    EXPECT_FALSE(CControllerProbe::ResumeRequest(Controller()));
}

TEST_F(ControllerTest, AStopRightAfterADoubleClickLeavesNothingPending)
{
    Start({Sound("a.wav"), Sound("b.wav"), Sound("c.wav")});
    Post(EC::Play);
    PlayOne();
    const int nPlaying = Current();
    // Both clicks wait in the queue: Stop comes before the returned buffers.
    Select({2});
    Queue(EC::PlaySelected);
    Queue(EC::Stop);
    Dispatch();
    EXPECT_EQ(State(), PS_IDLE);
    EXPECT_EQ(CControllerProbe::Pending(Controller()), -1);
    EXPECT_EQ(View().SelectedRows(), std::vector<int>{nPlaying}) << "Stop leaves what played selected";

    // The next run continues it and goes on through the list in order.
    Post(EC::Play);
    EXPECT_EQ(Current(), nPlaying);
    ASSERT_TRUE(PlayUntilNextOpen());
    EXPECT_EQ(Current(), nPlaying + 1);
}

TEST_F(ControllerTest, APauseClickHandledDuringTheWaitStartsNothing)
{
    Start({Sound("a.wav"), Sound("b.wav"), Sound("c.wav")}, "WaitSec=2000\n");
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
    Start({Sound("a.wav", 20), Sound("b.wav")});
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

// An entry whose file opens but holds no sound, or does not open at all.
TEST_F(ControllerTest, AStartThatFailsLeavesTheDeviceClosed)
{
    const std::string strEmpty = m_pDir->Write("empty.wav", MakeWav(1, 8000, 2, Bytes{}));
    const std::string strMissing = m_pDir->Path() + "/missing.wav";
    struct SCase {
        const char* strWhat;
        bool bPlayingFirst;
        int nChosen;
    };
    const SCase aCases[] = {
        {"an empty file chosen while idle", false, 1},
        {"an empty file chosen while playing", true, 1},
        {"a missing file chosen while playing", true, 2},
    };
    for (const SCase& c : aCases) {
        Start({Sound("a.wav", 20), strEmpty, strMissing});
        if (c.bPlayingFirst) {
            Post(EC::Play);
            PlayOne();
        }
        Select({c.nChosen});
        Post(EC::PlaySelected);
        EXPECT_EQ(State(), PS_IDLE) << c.strWhat;
        EXPECT_FALSE(View().m_bStopEnabled) << c.strWhat;
        EXPECT_EQ(View().m_strCaption, "STOP-Kuroto") << c.strWhat;
        EXPECT_FALSE(m_sound.IsOpen()) << c.strWhat << ": the device stays open while nothing plays";
    }
}

TEST_F(ControllerTest, StaleNotificationsDoNotTouchANewRun)
{
    const std::string strA = Sound("a.wav", 2);
    Start({strA});
    Post(EC::Play);
    // Stop, and start again before the returned buffers are handled.
    Controller().OnStop();
    Controller().OnPlay();
    Drain();
    EXPECT_EQ(m_sound.GetPlayed(), Render(strA)) << "the new run plays its file whole";
}

TEST_F(ControllerTest, StopDispatchedInsideTheBufferHandlingEndsTheRun)
{
    Start({Sound("a.wav", 3)});
    Post(EC::Play);
    // Queued before the notification, so one of its three pumps handles it.
    m_sound.CompleteNext();
    Queue(EC::Stop);
    Dispatch();
    EXPECT_EQ(State(), PS_IDLE);
    Drain();
    ExpectStopped({0});
}

TEST_F(ControllerTest, AStalledOutputRestartsWhereTheSoundWasOnAReopenedDevice)
{
    const std::string strA = Sound("a.wav", 20);
    Start({strA, Sound("b.wav")});
    Post(EC::Play);
    PlayOne();
    PlayOne();
    Stall();
    PlayOne();
    // Three buffers were heard; the engine had read four more.
    const size_t nHeardBytes = m_sound.GetPlayed().size();
    const uint64_t nHeardFrame = nHeardBytes / 4 * 2;
    const uint64_t nResumeFrame = CControllerProbe::JumpFrame(Controller());
    EXPECT_NEAR(static_cast<double>(nResumeFrame), static_cast<double>(nHeardFrame), 1000.0);
    EXPECT_EQ(m_sound.GetOpenCount(), 2) << "one reopened device";
    EXPECT_TRUE(m_sound.IsOpen());
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_EQ(Playing(), "a.wav");
    EXPECT_EQ(Current(), 0);
    EXPECT_TRUE(View().m_astrMessages.empty());

    PlayOne();
    PlayOne();
    Bytes abExpected = Render(strA, 44 + 2 * nResumeFrame);
    const Bytes abAfter = PlayedSince(nHeardBytes);
    ASSERT_GE(abExpected.size(), abAfter.size());
    abExpected.resize(abAfter.size());
    EXPECT_TRUE(abAfter == abExpected) << "the run goes on from the resume position";
}

TEST_F(ControllerTest, AStalledOutputWithoutADeviceToReopenStopsWithAMessage)
{
    Start({Sound("a.wav", 20), Sound("b.wav")});
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
    Start({Sound("a.wav", 20), Sound("b.wav")});
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

} // namespace
