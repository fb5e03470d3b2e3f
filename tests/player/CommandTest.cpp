// The player's commands besides Play, Stop and the double-click: the speed
// buttons, the previous and next entry, the menus, the playlist and the two
// dialogs, each with what it saves.
#include "PlayerFixture.h"

namespace {

using EC = EPlayerCommand;

using CommandTest = PlayerFixture;

TEST_F(CommandTest, PreviousAndNextMoveTheSelectionWhileIdle)
{
    Start({"/0.wav", "/1.wav", "/2.wav"});
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

TEST_F(CommandTest, PreviousAndNextPlayTheNeighbourWhilePlaying)
{
    Start({Sound("a.wav", 20), Sound("b.wav", 20), Sound("c.wav", 20)});
    Select({1});
    Post(EC::Play);
    struct SCase {
        std::vector<int> anSelected; // the user's selection, which the step ignores
        EPlayerCommand eCommand;
        int nPlaying;
    };
    const SCase aCases[] = {
        {{1}, EC::NextEntry, 2}, {{0}, EC::PreviousEntry, 1},
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

    // Past the last entry the list starts over when it repeats, else it ends.
    Post(EC::SetRepeat, REPEAT_ALL);
    Post(EC::NextEntry);
    Post(EC::NextEntry);
    EXPECT_EQ(Current(), 0);
    Post(EC::SetRepeat, REPEAT_NONE);
    Post(EC::PreviousEntry);
    EXPECT_EQ(Current(), 0);
    Post(EC::NextEntry);
    Post(EC::NextEntry);
    Post(EC::NextEntry);
    EXPECT_EQ(State(), PS_IDLE);
}

TEST_F(CommandTest, SpeedButtonsMoveTheIndexWithinItsBoundsAndSave)
{
    Start({});
    for (int i = 0; i < 9; ++i)
        Post(EC::SpeedUp);
    EXPECT_EQ(View().m_strSpeed, "2.9");
    EXPECT_EQ(StoredInt("SpeedIdx"), 19);
    for (int i = 0; i < 20; ++i)
        Post(EC::SpeedUp);
    EXPECT_EQ(View().m_strSpeed, "4.0");
    CControllerProbe::DropResumeRequest(Controller());
    Post(EC::SpeedUp);
    EXPECT_EQ(Controller().GetSpeedIndex(), 30);
    EXPECT_TRUE(CControllerProbe::ResumeRequest(Controller())) << "a press at the bound still requests a restart";

    // During a hold-off the step is taken and its restart deferred.
    CControllerProbe::SpeedHoldoff(Controller()) = 1;
    CControllerProbe::DropResumeRequest(Controller());
    Post(EC::SpeedDown);
    EXPECT_EQ(View().m_strSpeed, "3.9");
    EXPECT_EQ(StoredInt("SpeedIdx"), 29);
    EXPECT_FALSE(CControllerProbe::ResumeRequest(Controller()));
}

TEST_F(CommandTest, TheAlphaQuestionGuardsSwitchingTheTonesOn)
{
    Start({});
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

TEST_F(CommandTest, MixingAndRepeatSetTheirValuesAndSave)
{
    Start({});
    Post(EC::SetMixing, 90);
    EXPECT_EQ(m_pEngine->m_nMixingGain, 18);
    Post(EC::SetMixing, 0);
    EXPECT_EQ(m_pEngine->m_nMixingGain, 0);
    EXPECT_EQ(StoredInt("MixingVolume"), 0);
    Post(EC::SetRepeat, REPEAT_ONE);
    EXPECT_EQ(Controller().GetRepeat(), REPEAT_ONE);
    EXPECT_EQ(StoredInt("Repeat"), REPEAT_ONE);
}

TEST_F(CommandTest, RemovingAndSelectingPlaylistLines)
{
    Start({"/0.wav", "/1.wav", "/2.wav", "/3.wav", "/4.wav"});
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

TEST_F(CommandTest, TheDialogsChangeTheListAndTheWaitOnlyOnOk)
{
    Start({"/0.wav"}, "FileSelect=0\nWaitSec=300\n");
    View().m_astrChosen = {"/a.mp3", "/b.txt", "/c.WAV", "/folder"};
    View().m_nChosenWaitMs = 1500;
    View().m_chosenSettings.bSkipSilence = true;
    Post(EC::AddFiles);
    Post(EC::Settings);
    EXPECT_TRUE(View().m_bOfferedFileMode) << "the browser opens in file mode";
    EXPECT_EQ(View().m_nOfferedWaitMs, 300);
    EXPECT_FALSE(View().m_offeredSettings.bSkipSilence);
    EXPECT_FALSE(Controller().IsSkipSilence());
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
    EXPECT_EQ(StoredInt("SkipSilence"), 1);
    EXPECT_EQ(StoredInt("ClearSpeech"), 0);
}

} // namespace
