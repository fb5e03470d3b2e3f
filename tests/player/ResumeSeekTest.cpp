// Where the listener is: positions remembered per file and resumed, jumps
// within the playing entry, and files opened from outside the window.
#include "ResumeFixture.h"

namespace {

using EC = EPlayerCommand;

TEST_F(ResumeSeekTest, StopRemembersWhatWasHeardAndPlayResumesThereAfterARestart)
{
    const std::string strA = Sound("a.wav", 30);
    StartWithPositions({Sound("first.wav"), strA});
    Select({1});
    Post(EC::Play);
    for (int i = 0; i < 3; ++i)
        PlayOne();
    Post(EC::Stop);
    // Three buffers at 2.0x hold about twice their frames of the file; the
    // reader had gone four buffers further.
    const uint64_t nHeard = StoredFrame(strA);
    EXPECT_NEAR(static_cast<double>(nHeard), 3.0 * kBufferFrames * 2.0, 0.5 * kBufferFrames);

    Start();
    EXPECT_EQ(View().SelectedRows(), std::vector<int>{1}) << "the entry that played last is selected";
    const size_t nBefore = m_sound.GetPlayed().size();
    Post(EC::Play);
    EXPECT_EQ(Playing(), "a.wav");
    PlayOne();
    PlayOne();
    Bytes abExpected = Render(strA, kDataOffset + 2 * nHeard);
    const Bytes abPlayed = PlayedSince(nBefore);
    abExpected.resize(abPlayed.size());
    EXPECT_TRUE(abPlayed == abExpected) << "Play does not continue where the sound stopped";
}

TEST_F(ResumeSeekTest, AFilePlayedToItsEndStartsFromTheBeginningNextTime)
{
    const std::string strA = Sound("a.wav", 30);
    StartWithPositions({strA});
    Post(EC::Play);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(StoredFrame(strA), 0u);
        STestClock::nNowMs += 3500;
        PlayOne();
    }
    EXPECT_GT(StoredFrame(strA), 0u) << "playing saves the place every 10 seconds";
    Drain();
    EXPECT_FALSE(m_positions.Find(strA).has_value());
}

// A stored place counts while the file is the one it was stored for: the
// same size and modification time (a decoder's length estimate may differ
// from the decoded end), or none known (an earlier version's entry). A place
// at or past the end counts as none and goes.
TEST_F(ResumeSeekTest, AStoredPlaceCountsWhileTheFileIsTheSameAndBeforeItsEnd)
{
    const std::string strA = Sound("a.wav", 30);
    StartWithPositions({strA});
    Post(EC::Play);
    PlayOne();
    Post(EC::Stop);
    const CPositionStore::SPosition stored = *m_positions.Find(strA);
    ASSERT_GT(stored.nFileSize, 0u);
    const uint64_t nLength = 30 * kRate;
    struct SCase {
        const char* strWhat;
        CPositionStore::SPosition position;
        uint64_t nStartFrame;
        bool bKept;
    };
    const SCase aCases[] = {
        {"the length differs", {5000, nLength + 1152, kRate, stored.nFileSize, stored.nModifiedNs}, 5000, true},
        {"no stamp", {6000, 0, 0, 0, 0}, 6000, true},
        {"another size", {7000, nLength, kRate, stored.nFileSize + 1, stored.nModifiedNs}, 0, true},
        {"another time", {7000, nLength, kRate, stored.nFileSize, stored.nModifiedNs + 1}, 0, true},
        {"at the end", {nLength, nLength, kRate, stored.nFileSize, stored.nModifiedNs}, 0, false},
        {"past the end", {nLength + 1, nLength, kRate, 0, 0}, 0, false},
        {"far past the end", {UINT64_MAX, UINT64_MAX, kRate, 0, 0}, 0, false},
    };
    for (const SCase& c : aCases) {
        ASSERT_TRUE(m_positions.Store(strA, c.position));
        const size_t nFrom = m_sound.GetPlayed().size();
        Post(EC::Play);
        EXPECT_EQ(Playing(), "a.wav") << c.strWhat;
        PlayOne();
        Bytes abExpected = Render(strA, kDataOffset + 2 * c.nStartFrame);
        const Bytes abPlayed = PlayedSince(nFrom);
        abExpected.resize(abPlayed.size());
        EXPECT_TRUE(abPlayed == abExpected) << c.strWhat << ": not from frame " << c.nStartFrame;
        if (!c.bKept) {
            EXPECT_FALSE(m_positions.Find(strA).has_value()) << c.strWhat;
        }
        Post(EC::Stop);
    }
}

// While stopped, the time and the progress bar show the selected entry's
// place: after Stop, after a restart, and as the selection moves.
TEST_F(ResumeSeekTest, ThePlaceShowsWhileStopped)
{
    const std::string strA = Sound("a.wav", 30);
    const std::string strB = Sound("b.wav", 30);
    StartWithPositions({strA, strB});
    ASSERT_TRUE(m_positions.Store(strB, {20 * kRate + 5, 30 * kRate, kRate, 0, 0}));
    Select({0});
    Post(EC::Play);
    for (int i = 0; i < 3; ++i)
        PlayOne();
    Post(EC::Stop);
    const uint64_t nHeard = m_positions.Find(strA)->nFrame;
    const std::string strHeard = "00:00:0" + std::to_string(nHeard / kRate);
    EXPECT_EQ(View().m_strTime, strHeard);
    EXPECT_EQ(View().m_nProgressMax, 30);
    EXPECT_EQ(View().m_nProgressPos, static_cast<int>(nHeard / kRate));
    EXPECT_EQ(Controller().GetShownEntry().nEntry, 0);

    Start();
    EXPECT_EQ(View().m_strTime, strHeard);
    Select({1});
    Post(EC::ShowSelected);
    EXPECT_EQ(View().m_strTime, "00:00:20");
    EXPECT_EQ(Controller().GetShownEntry().nFrame, 20 * kRate + 5);
    Select({});
    Post(EC::ShowSelected);
    EXPECT_EQ(View().m_strTime, kTimeZero);
}

TEST_F(ResumeSeekTest, JumpsLandOnTheExactFrameAndAddUpWhileARestartIsUnderWay)
{
    const std::string strA = Sound("a.wav", 60);
    StartWithPositions({strA});
    Post(EC::Play);
    PlayOne();
    const uint64_t nHeard = Controller().GetHeardFrame();
    // The second jump comes before the first has restarted the file.
    Queue(EC::SeekBy, 10);
    Queue(EC::SeekBy, 10);
    Dispatch();
    EXPECT_EQ(Controller().GetHeardFrame(), nHeard + 20 * kRate);
    EXPECT_EQ(View().m_strTime, "00:00:" + std::to_string((nHeard + 20 * kRate) / kRate));
    ExpectPlaysFrom(strA, nHeard + 20 * kRate);

    Post(EC::SeekBy, -600);
    ExpectPlaysFrom(strA, 0);
    // A jump while paused lands paused; Play goes on from there.
    Post(EC::Play);
    Post(EC::SeekTo, 12345);
    EXPECT_TRUE(Controller().IsPaused());
    EXPECT_TRUE(View().m_bPlayShown);
    Post(EC::Play);
    ExpectPlaysFrom(strA, 12345);
}

TEST_F(ResumeSeekTest, ASpeedStepDuringTheHoldOffRestartsWhenItEnds)
{
    StartWithPositions({Sound("a.wav", 60)});
    Post(EC::Play);
    PlayOne();
    Post(EC::SpeedUp);
    ASSERT_TRUE(PlayUntilNextOpen());
    ASSERT_NE(CControllerProbe::SpeedHoldoff(Controller()), 0);
    const int nOpens = m_sound.GetOpenCount();
    Post(EC::SpeedUp);
    EXPECT_EQ(Controller().GetSpeedIndex(), kDefaultSpeedIndex + 2) << "the step is not dropped";
    ASSERT_TRUE(PlayUntilNextOpen());
    EXPECT_EQ(m_sound.GetOpenCount(), nOpens + 1) << "the sound restarted at the new speed";
}

// The clear mode is a setting of its own; switched while playing, the file
// goes on in the new mode: after the exact mode from where its reader was,
// after the clear mode from where its written sound ends.
TEST_F(ResumeSeekTest, TheClearModeIsKeptAndASwitchGoesOnInTheNewMode)
{
    const std::string strA = Sound("a.wav", 60);
    StartWithPositions({strA});
    EXPECT_FALSE(Controller().IsClearSpeech()) << "settings without the key read as off";
    Post(EC::Play);
    for (const bool bClear : {true, false}) {
        for (int i = 0; i < 3; ++i)
            PlayOne();
        Post(EC::SetClearSpeech, bClear ? 1 : 0);
        EXPECT_EQ(StoredInt("ClearSpeech"), bClear ? 1 : 0);
        const uint64_t nResume = CControllerProbe::ResumePos(Controller());
        const uint64_t nBytes = bClear ? nResume : kDataOffset + 2 * nResume;
        ASSERT_TRUE(PlayUntilNextOpen());
        const size_t nFrom = m_sound.GetPlayed().size();
        PlayOne();
        PlayOne();
        const auto pEngine = std::make_unique<CSpeedEngine>(2.0);
        pEngine->m_nMixingGain = m_pEngine->m_nMixingGain;
        pEngine->m_bAlpha = 0;
        pEngine->SetClearSpeech(bClear);
        Bytes abExpected = RenderWith(*pEngine, strA, nBytes, 2.0);
        const Bytes abPlayed = PlayedSince(nFrom);
        abExpected.resize(abPlayed.size());
        EXPECT_TRUE(abPlayed == abExpected) << "clear " << bClear;
    }
    Start();
    EXPECT_FALSE(Controller().IsClearSpeech());
}

TEST_F(ResumeSeekTest, SkippingSilenceIsKeptAndTellsTheTimeItSaved)
{
    // Seconds of sound, each followed by three of silence.
    std::vector<int16_t> asSamples(20 * kRate);
    for (size_t i = 0; i < asSamples.size(); ++i)
        asSamples[i] = (i / kRate) % 4 == 0 ? static_cast<int16_t>(((i * 37) % 400) * 40 - 8000) : 0;
    const std::string strA = m_pDir->Write("pauses.wav", MakeWav(1, kRate, 2, Samples16(asSamples)));
    StartWithPositions({strA});
    Post(EC::SetSkipSilence, 1);
    Post(EC::Play);
    for (int i = 0; i < 4; ++i)
        PlayOne();
    // Each pause of 3 s keeps 0.7 s: the list tells the 2.3 s at 2.0x.
    const uint64_t nSavedMs = Controller().GetSavedMs();
    EXPECT_EQ(nSavedMs % 1150, 0u);
    EXPECT_GE(nSavedMs, 1150u);
    EXPECT_LT(nSavedMs, 10000u);
    EXPECT_NE(View().m_strTimeTip.find(kSavedTimeTip + std::string("00:00:0") + std::to_string(nSavedMs / 1000) + "\n"),
        std::string::npos) << View().m_strTimeTip;
    Start();
    EXPECT_TRUE(Controller().IsSkipSilence());
}

TEST_F(ResumeSeekTest, OpenedFilesAreAppendedOnceAndTheFirstPlays)
{
    const std::string strA = Sound("a.wav", 5);
    const std::string strB = Sound("b.wav", 5);
    StartWithPositions({strA});
    Controller().QueueOpen({strB, strA});
    Post(EC::OpenQueued);
    EXPECT_EQ(Controller().GetPlayList().GetCount(), 2);
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(StoredString("PlayFile00001"), strB);

    Controller().QueueOpen({strA});
    Post(EC::OpenQueued);
    EXPECT_EQ(Controller().GetPlayList().GetCount(), 2) << "a path in the list plays its entry";
    EXPECT_EQ(Playing(), "a.wav");
}

} // namespace
