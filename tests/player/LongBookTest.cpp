// Long books on the scripted sound system: chapters, the sleep timer (which
// counts the sound that plays) and the time left at the speed.
#include "PlayerFixture.h"

#include "platform/positions/PositionStore.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace {

using EC = EPlayerCommand;

constexpr uint64_t kRate = 8000;
constexpr uint64_t kDataOffset = 44;
constexpr uint64_t kBufferFrames = WAVE_BUFFER_BYTES / 4;

class LongBookTest : public PlayerFixture {
protected:
    std::unique_ptr<CPlaybackController> MakeController(CProfileStore& profile, IPlayerView& view) override
    {
        auto pController = PlayerFixture::MakeController(profile, view);
        m_positions.SetPath(m_pDir->Path() + "/positions");
        pController->SetPositionStore(&m_positions);
        return pController;
    }
    // The loudest sample of the stereo frames [nFirst, nEnd) played.
    int Peak(size_t nFirstFrame, size_t nEndFrame) const
    {
        const Bytes& abPlayed = m_sound.GetPlayed();
        int nPeak = 0;
        for (size_t i = 4 * nFirstFrame; i + 1 < std::min(abPlayed.size(), 4 * nEndFrame); i += 2)
            nPeak = std::max(nPeak, std::abs(static_cast<int16_t>(abPlayed[i] | abPlayed[i + 1] << 8)));
        return nPeak;
    }
    size_t PlayedFrames() const { return m_sound.GetPlayed().size() / 4; }

    // Samples that never repeat (the fixture's sounds repeat every few
    // hundred frames, which would hide a jump to the wrong second).
    static Bytes BookSamples(size_t nFrames)
    {
        std::vector<int16_t> asSamples(nFrames);
        for (size_t i = 0; i < nFrames; ++i)
            asSamples[i] = static_cast<int16_t>(((i * i + 7 * i) >> 5) % 6000) - 3000;
        return Samples16(asSamples);
    }
    // A 30 s FLAC at 8000 Hz whose chapters One, Two and Three start at 0,
    // 10 and 20 s; it decodes to the samples of the returned WAV.
    std::string ChapterBook(std::string& strSameFrames)
    {
        strSameFrames = m_pDir->Write("book.wav", MakeWav(1, kRate, 2, BookSamples(30 * kRate)));
        const std::string strMetadata = m_pDir->Write("book.txt", Text(";FFMETADATA1\n[STREAM]\n"
            "CHAPTER001=00:00:00.000\nCHAPTER001NAME=One\nCHAPTER002=00:00:10.000\nCHAPTER002NAME=Two\n"
            "CHAPTER003=00:00:20.000\nCHAPTER003NAME=Three\n"));
        const std::string strBook = m_pDir->Path() + "/book.flac";
        const std::string strCommand = "ffmpeg -nostdin -v error -y -i '" + strSameFrames + "' -i '" + strMetadata
            + "' -map 0:a -map_metadata 1:s:0 -map_chapters -1 '" + strBook + "'";
        if (std::system(strCommand.c_str()) != 0)
            throw std::runtime_error("failed: " + strCommand);
        return strBook;
    }
    static Bytes Text(const std::string& strText) { return Bytes(strText.begin(), strText.end()); }
    // The sound that plays next, compared with a fresh render of strSame
    // (the same frames) from nFrame on.
    void ExpectNextSoundFrom(const std::string& strSame, uint64_t nFrame)
    {
        const size_t nFrom = m_sound.GetPlayed().size();
        PlayOne();
        PlayOne();
        Bytes abExpected = Render(strSame, kDataOffset + 2 * nFrame);
        const Bytes abPlayed = PlayedSince(nFrom);
        ASSERT_GE(abExpected.size(), abPlayed.size());
        abExpected.resize(abPlayed.size());
        EXPECT_TRUE(abPlayed == abExpected) << "the sound does not go on from frame " << nFrame;
    }

    CPositionStore m_positions;
};

TEST_F(LongBookTest, MinutesFadeOutOverTheirLastSecondsAcrossFilesThenPlayGoesBackToTheFade)
{
    const std::string strA = Sound("a.wav", 60);
    Start({strA}, "Repeat=2\n");
    Post(EC::SetSleepTimer, 15);
    EXPECT_EQ(View().m_strSleep, "15:00");
    Post(EC::Play);
    uint64_t nLastHeard = 0;
    while (PlayOne() && State() == PS_RUNNING)
        nLastHeard = Controller().GetHeardFrame();
    // Fifteen minutes of sound, the minute's file repeated, and then it stops.
    const size_t nTimerFrames = 15 * 60 * kRate;
    EXPECT_EQ(State(), PS_IDLE);
    EXPECT_NEAR(static_cast<double>(PlayedFrames()), static_cast<double>(nTimerFrames), 64.0);
    const size_t nFade = kSleepFadeSeconds * kRate;
    const int nBefore = Peak(nTimerFrames - nFade - 10 * kRate, nTimerFrames - nFade);
    EXPECT_GT(nBefore, 1000);
    EXPECT_LT(Peak(nTimerFrames - nFade / 2, nTimerFrames - nFade / 2 + kRate), nBefore * 6 / 10);
    EXPECT_LT(Peak(nTimerFrames - kRate, nTimerFrames), nBefore / 10) << "the sound has faded at the end";
    EXPECT_EQ(Controller().GetSleepTimer(), SLEEP_OFF);
    EXPECT_EQ(View().m_strSleep, "");

    // The fade began 15 s of sound (30 s of the file at 2.0x) before the end,
    // in the run before the last when that had begun less than 30 s before.
    const auto place = m_positions.Find(strA);
    ASSERT_TRUE(place);
    const double dFaded = std::fmod(static_cast<double>(nLastHeard) + 60.0 * kRate - static_cast<double>(place->nFrame), 60.0 * kRate);
    if (nLastHeard > 30 * kRate)
        EXPECT_NEAR(dFaded, 30.0 * kRate, 2.0 * kBufferFrames);
    else
        EXPECT_EQ(place->nFrame, 0u) << "a fade begun in the run before goes back to the last run's start";
    const size_t nFrom = m_sound.GetPlayed().size();
    Post(EC::Play);
    PlayOne();
    Bytes abExpected = Render(strA, kDataOffset + 2 * place->nFrame);
    const Bytes abPlayed = PlayedSince(nFrom);
    abExpected.resize(abPlayed.size());
    EXPECT_TRUE(abPlayed == abExpected) << "Play does not go back to where the fade began";
}

TEST_F(LongBookTest, MinutesChosenAgainAddUpAndStopEndsTheTimer)
{
    Start({Sound("a.wav", 120)});
    Post(EC::Play);
    Post(EC::SetSleepTimer, 15);
    for (int i = 0; i < 40; ++i)
        PlayOne();
    Post(EC::SetSleepTimer, 15);
    // 40 buffers (and the few filled ahead) are under a minute of sound.
    EXPECT_EQ(Controller().GetSleepTimer(), 30);
    PlayOne();
    EXPECT_EQ(View().m_strSleep.substr(0, 3), "29:");
    Post(EC::Stop);
    EXPECT_EQ(Controller().GetSleepTimer(), SLEEP_OFF);
    EXPECT_EQ(View().m_strSleep, "");
    // Stop while nothing plays ends a timer chosen for the next Play.
    Post(EC::SetSleepTimer, SLEEP_CHAPTER_END);
    Post(EC::Stop);
    EXPECT_EQ(Controller().GetSleepTimer(), SLEEP_OFF);
}

TEST_F(LongBookTest, TheEndOfTheFileStopsWithTheNextEntrySelected)
{
    const std::string strB = Sound("b.wav", 5);
    Start({Sound("a.wav", 2), strB});
    Post(EC::SetSleepTimer, SLEEP_FILE_END);
    EXPECT_EQ(View().m_strSleep, kSleepFileEndText);
    Post(EC::Play);
    Drain();
    EXPECT_EQ(State(), PS_IDLE);
    EXPECT_EQ(m_sound.GetOpenCount(), 1) << "the next file does not start";
    EXPECT_EQ(View().SelectedRows(), std::vector<int>{1});
    EXPECT_EQ(Controller().GetSleepTimer(), SLEEP_OFF);
    Post(EC::Play);
    EXPECT_EQ(Playing(), "b.wav");
}

TEST_F(LongBookTest, TheTimeShowsWhatIsLeftAtTheSpeedAndTheChoiceIsKept)
{
    Start({Sound("a.wav", 30)});
    Post(EC::Play);
    EXPECT_EQ(View().m_strTime, "00:00:00");
    Post(EC::ToggleTimeDisplay);
    // 30 s of the file at 2.0x.
    EXPECT_EQ(View().m_strTime, "-0:00:15");
    for (int i = 0; i < 6; ++i)
        PlayOne();
    const uint64_t nHeard = Controller().GetHeardFrame();
    const uint64_t nLeftSeconds = ((30 * kRate - nHeard) + 2 * kRate - 1) / (2 * kRate);
    EXPECT_EQ(View().m_strTime, FormatTimeLeft(nLeftSeconds));
    EXPECT_NE(View().m_strTimeTip.find(kLengthTip + std::string("00:00:30")), std::string::npos) << View().m_strTimeTip;
    Post(EC::SpeedUp);
    PlayOne();
    EXPECT_NE(View().m_strTimeTip.find("(2.1" + std::string(kTimesSpeedWord) + ")"), std::string::npos);

    EXPECT_EQ(StoredInt("TimeDisplay"), TIME_FILE_LEFT);
    Start();
    EXPECT_EQ(Controller().GetTimeDisplay(), TIME_FILE_LEFT);
    // Without chapters the third choice is skipped: back to the elapsed time.
    Post(EC::ToggleTimeDisplay);
    EXPECT_EQ(Controller().GetTimeDisplay(), TIME_ELAPSED);
}

TEST_F(LongBookTest, ChaptersShowTheirTitleAndTicksAndTheKeysGoFromChapterToChapter)
{
    std::string strSame;
    const std::string strBook = ChapterBook(strSame);
    Start({strBook});
    Post(EC::Play);
    ASSERT_EQ(Controller().GetChapters().size(), 3u);
    EXPECT_EQ(Playing(), "book.flac - One");
    EXPECT_EQ(View().m_anTicks, (std::vector<int>{10, 20}));
    PlayOne();
    Post(EC::NextChapter);
    ExpectNextSoundFrom(strSame, 10 * kRate);
    EXPECT_EQ(Playing(), "book.flac - Two");
    // Back goes to the chapter's start, and from within its first seconds
    // (a second press) to the one before.
    Post(EC::PreviousChapter);
    ExpectNextSoundFrom(strSame, 10 * kRate);
    Post(EC::PreviousChapter);
    Post(EC::PreviousChapter);
    ExpectNextSoundFrom(strSame, 0);
    Post(EC::SeekToChapter, 2);
    ExpectNextSoundFrom(strSame, 20 * kRate);
    EXPECT_EQ(Controller().GetCurrentChapter(), 2);
    for (int i = 0; i < 2; ++i)
        Post(EC::ToggleTimeDisplay);
    EXPECT_EQ(Controller().GetTimeDisplay(), TIME_CHAPTER_LEFT);
    const uint64_t nLeft = (30 * kRate - Controller().GetHeardFrame() + 2 * kRate - 1) / (2 * kRate);
    EXPECT_EQ(View().m_strTime, FormatTimeLeft(nLeft)) << "the last chapter ends with the file";
}

TEST_F(LongBookTest, TheEndOfAChapterStopsThereAndPlayGoesOnWithTheNext)
{
    std::string strSame;
    const std::string strBook = ChapterBook(strSame);
    Start({strBook});
    Post(EC::SetSleepTimer, SLEEP_CHAPTER_END);
    EXPECT_EQ(View().m_strSleep, kSleepChapterEndText);
    Post(EC::Play);
    Drain();
    EXPECT_EQ(State(), PS_IDLE);
    // Exactly what the first chapter's frames make on their own.
    const Bytes abExpected = Render(m_pDir->Write("one.wav", MakeWav(1, kRate, 2, BookSamples(10 * kRate))), kDataOffset);
    EXPECT_TRUE(m_sound.GetPlayed() == abExpected) << m_sound.GetPlayed().size() << " bytes played";
    EXPECT_EQ(m_positions.Find(strBook)->nFrame, 10 * kRate);
    EXPECT_EQ(View().SelectedRows(), std::vector<int>{0});
    Post(EC::Play);
    EXPECT_EQ(Playing(), "book.flac - Two");
}

} // namespace
