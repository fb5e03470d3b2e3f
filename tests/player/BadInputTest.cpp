// The player fed what it did not expect: entries that change or vanish on
// disk, entries that are no sound files, paths the settings file must
// escape, and settings files that are damaged or hold values far out of
// range. The player starts, skips what it cannot play, plays the rest and
// loses nothing it stored. The scripted sound system plays buffers when the
// test says so, and a clock of the test's own runs the waits.
#include "PlayerFixture.h"

#include "engine/SpeedSteps.h"
#include "platform/events/TimeOfDay.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/capability.h>
#include <random>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using EC = EPlayerCommand;

// Root opens files whatever their mode. Without these two capabilities in
// effect, this thread is refused like any other user; they come back with
// the object.
class CFileModesApply {
public:
    CFileModesApply()
    {
        m_bSaved = ::syscall(SYS_capget, &m_header, m_aSaved) == 0;
        if (!m_bSaved)
            return;
        __user_cap_data_struct aReduced[2] = { m_aSaved[0], m_aSaved[1] };
        aReduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ::syscall(SYS_capset, &m_header, aReduced);
    }
    ~CFileModesApply()
    {
        if (m_bSaved)
            ::syscall(SYS_capset, &m_header, m_aSaved);
    }
    CFileModesApply(const CFileModesApply&) = delete;
    CFileModesApply& operator=(const CFileModesApply&) = delete;

private:
    __user_cap_header_struct m_header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct m_aSaved[2] {};
    bool m_bSaved = false;
};

bool CanOpen(const std::string& strPath)
{
    const int hFile = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK);
    if (hFile >= 0)
        ::close(hFile);
    return hFile >= 0;
}

std::string Text(const Bytes& ab)
{
    return std::string(ab.begin(), ab.end());
}

Bytes Joined(Bytes abFirst, const Bytes& abSecond)
{
    abFirst.insert(abFirst.end(), abSecond.begin(), abSecond.end());
    return abFirst;
}

class BadInputTest : public PlayerFixture {
protected:
    // Outside the wait between files each reading of the clock moves it on
    // by a millisecond; during the wait by m_nWaitStepMs, so that waits of
    // days pass in a few readings. The wait's readings are counted, and
    // after m_nStopAfterWaitReadings of them Stop is pressed: a wait that
    // would never end fails the test instead of hanging it.
    void SetUp() override
    {
        PlayerFixture::SetUp();
        STestClock::onRead = [this] {
            if (!CControllerProbe::Waiting(Controller()))
                return;
            STestClock::nNowMs = (STestClock::nNowMs + m_nWaitStepMs - 1) % kMillisecondsPerDay;
            m_nWaitedMs += m_nWaitStepMs;
            if (++m_nWaitReadings == m_nStopAfterWaitReadings)
                Queue(EC::Stop);
        };
    }

    // Adds the entry as the add command does, without its filter, and saves.
    void AddAndSave(const std::string& strPath)
    {
        CControllerProbe::Add(Controller(), strPath);
        Controller().SaveSettings();
    }

    std::vector<std::string> Paths()
    {
        std::vector<std::string> astrPaths;
        for (int i = 0; i < Controller().GetPlayList().GetCount(); ++i)
            astrPaths.push_back(Controller().GetPlayList().GetPath(i));
        return astrPaths;
    }

    int m_nWaitStepMs = 3600 * 1000;
    int64_t m_nWaitedMs = 0;
    int m_nWaitReadings = 0;
    int m_nStopAfterWaitReadings = 1000;
};

// ---------------------------------------------------------------------------
// Entries that change on disk

TEST_F(BadInputTest, AnEntryThatShrinksOrGrowsWhilePlayingPlaysWhatItsDataHolds)
{
    const Bytes abSamples = Samples("a.wav", 20 * 8000);
    const Bytes abFile = MakeWav(1, 8000, 2, abSamples);
    const std::string strA = m_pDir->Write("a.wav", abFile);
    const std::string strB = Sound("b.wav");
    WritePlaylist({strA, strB});
    Start();

    struct SChange {
        const char* strWhat;
        // The file's new size, from the reader's position; -1 for growth.
        std::function<off_t(off_t)> newSize;
    };
    const SChange aChanges[] = {
        {"cut to nothing", [](off_t) { return off_t{0}; }},
        {"cut inside the header", [](off_t) { return off_t{30}; }},
        {"cut behind the reader", [](off_t nAt) { return nAt - 5000; }},
        {"cut ahead of the reader, inside a sample", [](off_t nAt) { return nAt + 20001; }},
        {"grown past its data chunk", [](off_t) { return off_t{-1}; }},
    };
    for (const SChange& change : aChanges) {
        m_pDir->Write("a.wav", abFile);
        const size_t nBefore = m_sound.GetPlayed().size();
        Select({0});
        Post(EC::Play);
        ASSERT_EQ(Playing(), "a.wav") << change.strWhat;
        PlayOne();
        const off_t nAt = static_cast<off_t>(m_pEngine->GetPosition());
        ASSERT_LT(nAt + 30000, static_cast<off_t>(abFile.size())) << "the reader must not be near the end yet";
        const off_t nSize = change.newSize(nAt);
        size_t nKept = abSamples.size();
        if (nSize >= 0) {
            ASSERT_EQ(::truncate(strA.c_str(), nSize), 0);
            nKept = static_cast<size_t>(std::max(nSize, nAt) - 44) / 2 * 2;
        } else {
            std::ofstream(strA, std::ios::binary | std::ios::app) << std::string(50000, '\x7f');
        }
        Drain();
        EXPECT_EQ(State(), PS_IDLE) << change.strWhat;
        // The entry ends with what the reader had taken or what is left, and
        // the next one plays whole.
        const std::string strKept =
            m_pDir->Write("kept.wav", MakeWav(1, 8000, 2, Bytes(abSamples.begin(), abSamples.begin() + nKept)));
        const Bytes abExpected = Joined(Render(strKept), Render(strB));
        const Bytes abPlayed = PlayedSince(nBefore);
        EXPECT_TRUE(abPlayed == abExpected) << change.strWhat << ": played " << abPlayed.size() << " bytes, expected "
                                            << abExpected.size();
    }
}

TEST_F(BadInputTest, AnEntryWhoseReadPermissionGoesIsSkippedLikeAnUnreadableOne)
{
    const std::string strA = Sound("a.wav");
    const std::string strB = Sound("b.wav");
    const std::string strC = Sound("c.wav");
    WritePlaylist({strA, strB, strC});
    Start();
    ASSERT_EQ(Controller().GetPlayList().GetCount(), 3);
    ASSERT_EQ(::chmod(strB.c_str(), 0), 0);
    std::unique_ptr<CFileModesApply> pModes;
    if (CanOpen(strB))
        pModes = std::make_unique<CFileModesApply>();
    if (CanOpen(strB))
        GTEST_SKIP() << "this process reads files whatever their mode (root with capabilities it cannot drop)";

    // From the top: a, then b is passed over for c.
    Post(EC::Play);
    EXPECT_EQ(Playing(), "a.wav");
    Drain();
    EXPECT_EQ(State(), PS_IDLE);
    EXPECT_EQ(m_sound.GetOpenCount(), 2);
    EXPECT_TRUE(m_sound.GetPlayed() == Joined(Render(strA), Render(strC)));

    // Chosen itself, it gives way to the next entry.
    Select({1});
    Post(EC::Play);
    EXPECT_EQ(Playing(), "c.wav");
    EXPECT_EQ(Current(), 2);
    pModes.reset();
    ::chmod(strB.c_str(), 0600);
    EXPECT_EQ(Controller().GetPlayList().GetPath(1), strB) << "the entry stays in the list";
}

// Empty lines stand for entries missing before the last one stored.
TEST_F(BadInputTest, AnEmptyEntryIsSkippedLikeAnUnreadableOne)
{
    WriteSettings("[VelofonSettings]\nPlayListCount=3\nPlayFile00001=" + Sound("b.wav") + "\nPlayFile00002=" +
                  Sound("c.wav") + "\n");
    Start();
    ASSERT_EQ(Controller().GetPlayList().GetCount(), 3);
    EXPECT_EQ(Controller().GetPlayList().GetPath(0), "");
    Post(EC::Play);
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(Current(), 1);
    Drain();
    EXPECT_EQ(m_sound.GetOpenCount(), 2);
    EXPECT_EQ(State(), PS_IDLE);

    Select({0});
    Post(EC::Play);
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(Current(), 1);
}

TEST_F(BadInputTest, AFolderAndAFifoNamedLikeSoundFilesAreSkipped)
{
    const std::string strFolder = m_pDir->Path() + "/folder.wav";
    const std::string strFifo = m_pDir->Path() + "/fifo.wav";
    ASSERT_EQ(::mkdir(strFolder.c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    const std::string strGood = Sound("good.wav");
    WritePlaylist({strFifo, strFolder, strGood, strFifo});
    Start();
    Post(EC::Play);
    EXPECT_EQ(Playing(), "good.wav");
    EXPECT_EQ(Current(), 2);
    Drain();
    EXPECT_EQ(State(), PS_IDLE);
    EXPECT_EQ(m_sound.GetOpenCount(), 1);
    EXPECT_TRUE(m_sound.GetPlayed() == Render(strGood));

    // Nothing to play from the last entry on: the player stays idle.
    Select({3});
    Post(EC::Play);
    EXPECT_EQ(State(), PS_IDLE);
    EXPECT_EQ(m_sound.GetOpenCount(), 1);
    EXPECT_TRUE(std::filesystem::is_directory(strFolder));
}

// ---------------------------------------------------------------------------
// Paths the settings file must carry

TEST_F(BadInputTest, AwkwardPathsSurviveARestartAndPlayOrAreSkipped)
{
    const std::string strRoot = m_pDir->Path();
    std::string strDeep = strRoot;
    while (strDeep.size() < 3700)
        strDeep += "/" + std::string(200, 'd');
    struct SEntry {
        std::string strPath;
        bool bPlayable;
    };
    const std::vector<SEntry> aEntries = {
        {Sound("new\nline.wav"), true},
        {Sound("carriage\rreturn.wav"), true},
        {Sound("tab\there.wav"), true},
        {Sound("  two leading spaces.wav"), true},
        {Sound("folder with trailing spaces  /in.wav"), true},
        {Sound("key=value.wav"), true},
        {Sound("#hash.wav"), true},
        {Sound("[group].wav"), true},
        {Sound("back\\slash \\x41 \\s \\n.wav"), true},
        {Sound("control \x01\x1b[0m.wav"), true},
        {Sound("caf\xe9 latin-1.wav"), true},
        {Sound("\xff\xfe not utf-8.wav"), true},
        {Sound("日本語.wav"), true},
        {Sound(strDeep + "/long.wav"), true},
        {strRoot + "/" + std::string(5000, 'x') + ".wav", false},
        {" " + strRoot + "/leading space.wav", false},
        {strRoot + "/trailing space.wav ", false},
        {"#not a comment.wav", false},
        {"[VelofonSettings]", false},
        {"PlayListCount=0", false},
        {"", false},
        {Sound("after the empty line.wav"), true},
    };
    Sound("leading space.wav");
    Sound("trailing space.wav");

    Start();
    std::vector<std::string> astrExpected;
    std::vector<std::string> astrNames;
    for (const SEntry& entry : aEntries) {
        AddAndSave(entry.strPath);
        astrExpected.push_back(entry.strPath);
        astrNames.push_back(FileNameOfPath(entry.strPath));
    }
    Start();
    ASSERT_EQ(Paths(), astrExpected);
    EXPECT_EQ(View().RowNames(), astrNames);

    int nPlayable = 0;
    for (size_t i = 0; i < aEntries.size(); ++i) {
        const int nRow = static_cast<int>(i);
        // (An empty line, chosen itself, has a test of its own.)
        if (aEntries[i].strPath.empty())
            continue;
        Select({nRow});
        Post(EC::Play);
        if (aEntries[i].bPlayable) {
            ++nPlayable;
            EXPECT_EQ(Current(), nRow) << "entry " << i << " does not play";
            EXPECT_EQ(Playing(), astrNames[i]) << "entry " << i;
        } else {
            EXPECT_NE(Current(), nRow) << "entry " << i << " is not skipped";
        }
        Post(EC::Stop);
    }
    // From the top, every playable entry plays once and the rest are passed over.
    const int nOpens = m_sound.GetOpenCount();
    Select({});
    Post(EC::Play);
    Drain();
    EXPECT_EQ(m_sound.GetOpenCount() - nOpens, nPlayable);
    EXPECT_EQ(State(), PS_IDLE);
}

// ---------------------------------------------------------------------------
// Settings files that cannot be read as settings

std::string Garbage()
{
    std::mt19937 random(77);
    std::string str(3000, '\0');
    for (char& c : str)
        c = static_cast<char>(random());
    return str;
}

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
        {"binary garbage", Garbage(), true},
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
