// Each book at its own speed, and the step back when playing resumes after
// a while away: the rule itself, and the player that follows it.
#include "ResumeFixture.h"

#include "player/BookPlaces.h"

#include <climits>

namespace {

using EC = EPlayerCommand;

TEST(RewindOnResumeTest, GoesBackByTheTimeAwayNeverBeforeTheFloorOrTheStart)
{
    struct SCase {
        const char* strWhat;
        uint64_t nFrame;
        uint64_t nFloor;
        int64_t nAwayMs;
        uint64_t nExpected;
    };
    constexpr uint64_t k = kRate; // frames per second
    const SCase aCases[] = {
        {"under 10 s", 100 * k, 0, 9'999, 100 * k},
        {"10 s", 100 * k, 0, 10'000, 97 * k},
        {"5 minutes", 100 * k, 0, 300'000, 97 * k},
        {"over 5 minutes", 100 * k, 0, 300'001, 90 * k},
        {"an hour", 100 * k, 0, 3'600'000, 90 * k},
        {"over an hour", 100 * k, 0, 3'600'001, 80 * k},
        {"years", 100 * k, 0, INT64_MAX, 80 * k},
        {"the clock set back", 100 * k, 0, -60'000, 100 * k},
        {"the floor", 100 * k, 95 * k, 3'600'001, 95 * k},
        {"the file's start", 5 * k, 0, 3'600'001, 0},
        {"before the floor already", 5 * k, 7 * k, 3'600'001, 5 * k},
    };
    for (const SCase& c : aCases)
        EXPECT_EQ(RewindOnResume(c.nFrame, c.nFloor, c.nAwayMs, kRate), c.nExpected) << c.strWhat;
    EXPECT_EQ(RewindOnResume(1'000'000, 0, 10'000, 44100), 1'000'000u - 3 * 44100) << "the file's own rate";
}

TEST_F(ResumeSeekTest, EachBookResumesAtItsOwnSpeedANewOneAtThePlayers)
{
    const std::string strA = Sound("a.wav", 30);
    const std::string strB = Sound("b.wav", 30);
    StartWithPositions({strA, strB, Sound("c.wav", 30)});
    const int nOwnSpeed = kDefaultSpeedIndex + 5;
    const int nPlayerSpeed = kDefaultSpeedIndex - 3;
    for (const auto& [nRow, nSpeed] : {std::pair{0, nOwnSpeed}, std::pair{1, nPlayerSpeed}}) {
        Select({nRow});
        Post(EC::Play);
        PlayOne();
        Post(EC::SetSpeedIndex, nSpeed);
        Post(EC::Stop);
        EXPECT_EQ(StoredInt("SpeedIdx"), nSpeed) << "a step while a book plays is the player's speed too";
    }
    EXPECT_EQ(m_positions.Find(strA)->nSpeedIdx, nOwnSpeed);

    const uint64_t nFrame = StoredFrame(strA);
    Select({0});
    Post(EC::Play);
    EXPECT_EQ(Controller().GetSpeedIndex(), nOwnSpeed);
    EXPECT_EQ(View().m_strSpeed, SpeedText(nOwnSpeed));
    EXPECT_EQ(StoredInt("SpeedIdx"), nPlayerSpeed) << "starting at a book's speed is no speed change";
    ExpectPlaysFrom(strA, nFrame, SpeedOfIndex(nOwnSpeed));
    Post(EC::Stop);
    EXPECT_EQ(View().m_strSpeed, SpeedText(nPlayerSpeed)) << "no book plays";
    Select({2});
    Post(EC::Play);
    EXPECT_EQ(Controller().GetSpeedIndex(), nPlayerSpeed) << "a file never played";
    Post(EC::Stop);

    // The next session reads the speeds back from the database.
    m_positions.SetPath(m_pDir->Path() + "/positions");
    Start();
    Select({0});
    Post(EC::Play);
    EXPECT_EQ(Controller().GetSpeedIndex(), nOwnSpeed);
    // Switched off, the one speed applies at once and to every book.
    View().m_bChooseOk = true;
    View().m_chosenSettings.bSpeedPerBook = false;
    Post(EC::Settings);
    EXPECT_EQ(Controller().GetSpeedIndex(), nPlayerSpeed);
    EXPECT_EQ(StoredInt("SpeedPerBook"), 0);
    ASSERT_TRUE(PlayUntilNextOpen()) << "the book restarts at the player's speed";
    Post(EC::Stop);
    Post(EC::Play);
    EXPECT_EQ(Controller().GetSpeedIndex(), nPlayerSpeed);
    Start();
    EXPECT_FALSE(Controller().IsSpeedPerBook());
}

TEST_F(ResumeSeekTest, PlayAfterAWhileAwayGoesBackALittle)
{
    // At 8000 Hz the test sound repeats every 250 frames, and so every step
    // back would sound the same.
    constexpr uint64_t nRate = 8010;
    const std::string strA = Sound("a.wav", 60, nRate);
    StartWithPositions({strA});
    Post(EC::Play);
    Post(EC::SeekTo, 20 * nRate);
    PlayOne();
    Post(EC::Play);
    const uint64_t nPaused = Controller().GetHeardFrame();
    STestClock::nWallMs += 12'000;
    Post(EC::Play);
    EXPECT_FALSE(Controller().IsPaused());
    EXPECT_EQ(Controller().GetHeardFrame(), nPaused - 3 * nRate) << "a pause of 12 s goes back 3 s";
    ExpectPlaysFrom(strA, nPaused - 3 * nRate);

    // A jump during the pause chose the place: Play goes on there.
    Post(EC::Play);
    Post(EC::SeekTo, 30 * nRate);
    STestClock::nWallMs += 12'000;
    Post(EC::Play);
    EXPECT_EQ(Controller().GetHeardFrame(), 30 * nRate);

    // From an earlier session, by the time the place was stored.
    PlayOne();
    Post(EC::Stop);
    const uint64_t nStopped = StoredFrame(strA);
    STestClock::nWallMs += 2 * 3600 * 1000;
    m_positions.SetPath(m_pDir->Path() + "/positions");
    Start();
    Post(EC::Play);
    EXPECT_EQ(Controller().GetHeardFrame(), nStopped - 20 * nRate) << "two hours away go back 20 s";
    ExpectPlaysFrom(strA, nStopped - 20 * nRate);

    View().m_bChooseOk = true;
    View().m_chosenSettings.bRewindOnResume = false;
    Post(EC::Settings);
    EXPECT_EQ(StoredInt("RewindOnResume"), 0);
    Post(EC::Play);
    const uint64_t nHeld = Controller().GetHeardFrame();
    const int nOpens = m_sound.GetOpenCount();
    STestClock::nWallMs += 12'000;
    Post(EC::Play);
    EXPECT_EQ(Controller().GetHeardFrame(), nHeld) << "switched off";
    EXPECT_EQ(m_sound.GetOpenCount(), nOpens);
}

} // namespace
