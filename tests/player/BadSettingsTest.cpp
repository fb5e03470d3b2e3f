// Settings files the player did not expect: damaged ones, ones it cannot
// read or write, values far out of range and waits of a day and more. The
// player starts, plays the rest and loses nothing it stored.
#include "BadInputFixture.h"

#include "engine/SpeedSteps.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using EC = EPlayerCommand;

// ---------------------------------------------------------------------------
// Settings files that cannot be read as settings

TEST_F(BadInputTest, ADamagedSettingsFileStartsWithDefaultsAndIsKept)
{
    static const char kZeroInAValue[] = "[VelofonSettings]\nPlayListCount=1\nPlayFile00000=/a\0.wav\n";
    struct SDamage {
        const char* strName;
        std::string strContent;
        // The file is kept as .damaged at the first save, and Start says so.
        bool bKept;
    };
    const SDamage aCases[] = {
        {"zero bytes", "", false},
        {"blank lines", "\n  \n\t\n\n", false},
        {"the section alone", "[VelofonSettings]\n", false},
        {"binary garbage", Garbage(3000, 77), true},
        {"text that is no settings", "PlayListCount=1\nPlayFile00000=/a.wav\n", true},
        {"a zero byte in a value", std::string(kZeroInAValue, sizeof kZeroInAValue - 1), true},
        {"a cut group line", "[VelofonSettings]\nSpeedIdx=20\n[Velo", true},
    };
    const std::string strSound = Sound("s.wav");
    for (const SDamage& damage : aCases) {
        std::filesystem::remove(SettingsPath() + ".damaged");
        WriteSettings(damage.strContent);
        CPlaybackController& controller = Start();
        EXPECT_EQ(controller.GetSpeedIndex(), kDefaultSpeedIndex) << damage.strName;
        EXPECT_EQ(controller.GetRepeat(), REPEAT_NONE) << damage.strName;
        EXPECT_EQ(controller.GetMixingVolume(), kDefaultMixing) << damage.strName;
        EXPECT_EQ(controller.GetAlphaControl(), 0) << damage.strName;
        EXPECT_EQ(CControllerProbe::FileSelect(controller), 1) << damage.strName;
        EXPECT_EQ(CControllerProbe::WaitMs(controller), 0) << damage.strName;
        EXPECT_EQ(controller.GetPlayList().GetCount(), 0) << damage.strName;
        EXPECT_EQ(Text(ReadWholeFile(SettingsPath())), damage.strContent) << damage.strName << ": untouched until a save";
        const std::vector<std::string> astrMessages = View().m_astrMessages;
        ASSERT_EQ(astrMessages.size(), damage.bKept ? 1u : 0u) << damage.strName;
        if (damage.bKept) {
            EXPECT_NE(astrMessages[0].find(SettingsPath() + ".damaged"), std::string::npos) << astrMessages[0];
        }

        AddAndSave(strSound);
        Post(EC::Play);
        EXPECT_EQ(Playing(), "s.wav") << damage.strName;
        Drain();
        if (damage.bKept)
            EXPECT_EQ(Text(ReadWholeFile(SettingsPath() + ".damaged")), damage.strContent) << damage.strName;
        else
            EXPECT_FALSE(std::filesystem::exists(SettingsPath() + ".damaged")) << damage.strName;
        EXPECT_EQ(Start().GetPlayList().GetPath(0), strSound) << damage.strName << ": the new settings were saved";
        EXPECT_TRUE(View().m_astrMessages.empty()) << damage.strName;
    }
}

TEST_F(BadInputTest, AFolderOrAFifoInPlaceOfTheSettingsFile)
{
    const std::string strSound = Sound("s.wav");
    // A folder stays, with what it holds; settings cannot be saved meanwhile.
    std::filesystem::create_directories(SettingsPath());
    std::ofstream(SettingsPath() + "/keep.txt") << "k";
    Start();
    EXPECT_EQ(Controller().GetPlayList().GetCount(), 0);
    EXPECT_EQ(Controller().GetSpeedIndex(), kDefaultSpeedIndex);
    EXPECT_TRUE(View().m_astrMessages.empty());
    AddAndSave(strSound);
    Post(EC::Play);
    EXPECT_EQ(Playing(), "s.wav");
    Drain();
    EXPECT_EQ(Text(ReadWholeFile(SettingsPath() + "/keep.txt")), "k");
    std::filesystem::remove_all(SettingsPath());

    // A FIFO neither blocks the start nor keeps the settings from being saved.
    ASSERT_EQ(::mkfifo(SettingsPath().c_str(), 0600), 0);
    Start();
    EXPECT_EQ(Controller().GetPlayList().GetCount(), 0);
    EXPECT_TRUE(View().m_astrMessages.empty());
    AddAndSave(strSound);
    Post(EC::Play);
    EXPECT_EQ(Playing(), "s.wav");
    Drain();
    EXPECT_EQ(Start().GetPlayList().GetPath(0), strSound);
}

TEST_F(BadInputTest, AFailedSaveIsToldOnceUntilASaveSucceeds)
{
    Start();
    // A folder in the file's place fails every save, for root too.
    std::filesystem::remove(SettingsPath());
    std::filesystem::create_directories(SettingsPath());
    AddAndSave(Sound("a.wav"));
    AddAndSave(Sound("b.wav"));
    ASSERT_EQ(View().m_astrMessages.size(), 1u);
    EXPECT_NE(View().m_astrMessages[0].find(SettingsPath() + ": Is a directory"), std::string::npos)
        << View().m_astrMessages[0];
    // The next change saves everything; a failure after that is told anew.
    std::filesystem::remove(SettingsPath());
    AddAndSave(Sound("c.wav"));
    EXPECT_EQ(StoredInt("PlayListCount"), 3);
    std::filesystem::remove(SettingsPath());
    std::filesystem::create_directories(SettingsPath());
    AddAndSave(Sound("d.wav"));
    EXPECT_EQ(View().m_astrMessages.size(), 2u);
}

TEST_F(BadInputTest, ASettingsFileThatCannotBeReadIsToldOnceAndLeftAlone)
{
    // A link to itself cannot be read, by root either.
    ASSERT_EQ(::symlink(SettingsPath().c_str(), SettingsPath().c_str()), 0);
    Start();
    ASSERT_EQ(View().m_astrMessages.size(), 1u);
    EXPECT_NE(View().m_astrMessages[0].find(SettingsPath() + ": Too many levels of symbolic links"), std::string::npos)
        << View().m_astrMessages[0];
    AddAndSave(Sound("s.wav"));
    Post(EC::Play);
    EXPECT_EQ(Playing(), "s.wav");
    Drain();
    EXPECT_EQ(View().m_astrMessages.size(), 1u);
    EXPECT_TRUE(std::filesystem::is_symlink(SettingsPath()));
}

// ---------------------------------------------------------------------------
// Values far out of range

TEST_F(BadInputTest, OutOfRangeSettingsStartThePlayerAndPlay)
{
    using Reader = std::function<int(const CPlaybackController&)>;
    struct SCase {
        const char* strEntry;
        const char* strStored;
        // The value the player runs with and saves.
        int nLoaded;
        Reader loaded;
    };
    const Reader speed = [](const CPlaybackController& c) { return c.GetSpeedIndex(); };
    const Reader repeat = [](const CPlaybackController& c) { return c.GetRepeat(); };
    const Reader mixing = [](const CPlaybackController& c) { return c.GetMixingVolume(); };
    const Reader alpha = [](const CPlaybackController& c) { return c.GetAlphaControl(); };
    const Reader fileSelect = CControllerProbe::FileSelect;
    const Reader wait = CControllerProbe::WaitMs;
    const SCase aCases[] = {
        {"SpeedIdx", "2147483647", 30, speed},
        {"SpeedIdx", "-2147483648", 0, speed},
        {"SpeedIdx", "4294967295", 0, speed},
        {"SpeedIdx", "99999999999", 10, speed},
        {"Repeat", "2147483647", 2147483647, repeat},
        {"Repeat", "-1", -1, repeat},
        {"MixingVolume", "2147483647", 100, mixing},
        {"MixingVolume", "-2147483648", 0, mixing},
        {"AlphaControl", "2147483647", 50, alpha},
        {"AlphaControl", "-2147483648", 0, alpha},
        {"FileSelect", "2147483647", 2147483647, fileSelect},
        {"FileSelect", "-5", -5, fileSelect},
        {"WaitSec", "-1", 0, wait},
        {"WaitSec", "-2147483648", 0, wait},
        {"WaitSec", "4294967295", 0, wait},
        {"WaitSec", "4294967296", 0, wait},
    };
    const std::string strA = Sound("a.wav");
    const std::string strB = Sound("b.wav");
    for (const SCase& c : aCases) {
        const std::string strWhat = std::string(c.strEntry) + "=" + c.strStored;
        WritePlaylist({strA, strB}, strWhat + "\n");
        CPlaybackController& controller = Start();
        EXPECT_EQ(c.loaded(controller), c.nLoaded) << strWhat;
        EXPECT_EQ(View().m_strSpeed, SpeedText(controller.GetSpeedIndex())) << strWhat;
        EXPECT_EQ(m_pEngine->m_nMixingGain, controller.GetMixingVolume() / 5) << strWhat;
        EXPECT_EQ(m_pEngine->m_bAlpha, controller.GetAlphaControl() != 0 ? 1 : 0) << strWhat;
        EXPECT_EQ(m_pEngine->m_nAlphaLevel, controller.GetAlphaControl()) << strWhat;

        // Both entries play through once, whatever the levels or the repeat
        // value, and then the player stops.
        const int nOpens = m_sound.GetOpenCount();
        const size_t nBefore = m_sound.GetPlayed().size();
        Post(EC::Play);
        EXPECT_EQ(Playing(), "a.wav") << strWhat;
        Drain();
        EXPECT_EQ(State(), PS_IDLE) << strWhat;
        EXPECT_EQ(m_sound.GetOpenCount() - nOpens, 2) << strWhat;
        const double dSpeed = SpeedOfIndex(controller.GetSpeedIndex());
        const Bytes abExpected = Joined(Render(strA, 0, dSpeed), Render(strB, 0, dSpeed));
        // The tones run on from file to file, where a fresh engine starts them anew.
        if (controller.GetAlphaControl() != 0)
            EXPECT_EQ(PlayedSince(nBefore).size(), abExpected.size()) << strWhat;
        else
            EXPECT_TRUE(PlayedSince(nBefore) == abExpected) << strWhat;

        // What the player ran with survives a save and a restart.
        controller.SaveSettings();
        EXPECT_EQ(c.loaded(Start()), c.nLoaded) << strWhat;
        EXPECT_EQ(Controller().GetPlayList().GetCount(), 2) << strWhat;
    }
}

TEST_F(BadInputTest, PlayListCountsOutOfRangeLoadOnlyWhatIsStored)
{
    struct SCase {
        const char* strCount;
        std::vector<int> anStored;
        std::vector<std::string> astrLines;
    };
    const SCase aCases[] = {
        {"2147483647", {0, 1, 2}, {"0.wav", "1.wav", "2.wav"}},
        {"5", {0, 1, 2}, {"0.wav", "1.wav", "2.wav"}},
        {"2147483647", {0, 1, 5}, {"0.wav", "1.wav", "", "", "", "5.wav"}},
        {"2147483647", {0, 1, 7}, {"0.wav", "1.wav", "7.wav"}},
        {"2147483647", {0, 1, 2147483646}, {"0.wav", "1.wav", "2147483646.wav"}},
        {"3", {0, 1, 2, 3, 4, 5}, {"0.wav", "1.wav", "2.wav"}},
        {"99999999999", {0, 1}, {}},
        {"4294967295", {0, 1}, {}},
        {"-2147483648", {0, 1}, {}},
        {"0", {0, 1}, {}},
    };
    for (const SCase& c : aCases) {
        const std::string strWhat = std::string("PlayListCount=") + c.strCount;
        std::string strSettings = "[VelofonSettings]\n" + strWhat + "\n";
        for (int nIndex : c.anStored)
            strSettings += PlayFileEntryName(nIndex) + "=" + Sound(std::to_string(nIndex) + ".wav") + "\n";
        WriteSettings(strSettings);
        CPlaybackController& controller = Start();
        EXPECT_EQ(View().RowNames(), c.astrLines) << strWhat;
        EXPECT_EQ(controller.GetPlayList().GetCount(), static_cast<int>(c.astrLines.size())) << strWhat;

        // Play works; the empty lines are passed over.
        const int nOpens = m_sound.GetOpenCount();
        Post(EC::Play);
        Drain();
        int nPlayable = 0;
        for (const std::string& strLine : c.astrLines)
            nPlayable += strLine.empty() ? 0 : 1;
        EXPECT_EQ(m_sound.GetOpenCount() - nOpens, nPlayable) << strWhat;

        // Saving writes the list as loaded; entries it does not reach stay
        // in the file.
        controller.SaveSettings();
        EXPECT_EQ(StoredInt("PlayListCount"), static_cast<int>(c.astrLines.size())) << strWhat;
        for (int nIndex : c.anStored)
            EXPECT_EQ(FileNameOfPath(StoredString(PlayFileEntryName(nIndex))), std::to_string(nIndex) + ".wav")
                << strWhat;
    }
}

// ---------------------------------------------------------------------------
// Waits between files of a day and more

TEST_F(BadInputTest, AWaitLongerThanADayEndsAfterItsTime)
{
    const int nWait = 25 * 3600 * 1000;
    WritePlaylist({Sound("a.wav"), Sound("b.wav")}, "WaitSec=" + std::to_string(nWait) + "\n");
    EXPECT_EQ(CControllerProbe::WaitMs(Start()), nWait);
    Post(EC::Play);
    while (Playing() == "a.wav" && PlayOne()) {
    }
    EXPECT_EQ(Playing(), "b.wav") << "the wait did not end by itself";
    EXPECT_EQ(State(), PS_RUNNING);
    EXPECT_GE(m_nWaitedMs, nWait);
    EXPECT_LT(m_nWaitReadings, m_nStopAfterWaitReadings);
}

TEST_F(BadInputTest, TheLongestWaitIsEndedByStop)
{
    WritePlaylist({Sound("a.wav"), Sound("b.wav")}, "WaitSec=2147483647\n");
    EXPECT_EQ(CControllerProbe::WaitMs(Start()), 2147483647);
    // Fifty hours into a wait of almost 25 days.
    m_nStopAfterWaitReadings = 50;
    Post(EC::Play);
    EXPECT_EQ(Playing(), "a.wav");
    Drain();
    EXPECT_GE(m_nWaitReadings, 50) << "the wait ended before Stop";
    EXPECT_FALSE(CControllerProbe::Waiting(Controller()));
    EXPECT_EQ(State(), PS_IDLE);
    EXPECT_EQ(Current(), -1);
    EXPECT_EQ(m_sound.GetOpenCount(), 1) << "the second entry never started";
    // And Play starts afresh.
    Post(EC::Play);
    EXPECT_EQ(Playing(), "a.wav");
    EXPECT_EQ(State(), PS_RUNNING);
}

} // namespace
