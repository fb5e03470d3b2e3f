// The player fed what it did not expect: entries that change or vanish on
// disk, entries that are no sound files, paths the settings file must
// escape, and settings files that are damaged or hold values far out of
// range. The player starts, skips what it cannot play, plays the rest and
// loses nothing it stored. No display: the scripted sound system plays
// buffers when the test says so, and a clock of the test's own runs the
// waits.
#include "../WavBytes.h"
#include "PlayerObjects.h"

#include <gtest/gtest.h>

#include "app/Resource.h"
#include "app/VelofonPocketApp.h"
#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/audio/ScriptedAudioBackend.h"
#include "platform/events/TimeOfDay.h"
#include "player/VelofonPocketView.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/capability.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using View = CVelofonPocketView;

// The test's clock. Outside the wait between files each reading moves it on
// by a millisecond; during the wait by g_nWaitStepMs, so that waits of days
// pass in a few readings. The wait's readings are counted, and after
// g_nStopAfterWaitReadings of them Stop is pressed: a wait that would never
// end fails the test instead of hanging it.
int g_nNowMs = 0;
int g_nWaitStepMs = 3600 * 1000;
int64_t g_nWaitedMs = 0;
int g_nWaitReadings = 0;
int g_nStopAfterWaitReadings = 1000;
View* g_pView = nullptr;

int TestClock()
{
    const bool bWaiting = g_pView && g_pView->m_bPlayWaitFlag;
    const int nStep = bWaiting ? g_nWaitStepMs : 1;
    g_nNowMs = (g_nNowMs + nStep) % kMillisecondsPerDay;
    if (bWaiting) {
        g_nWaitedMs += nStep;
        if (++g_nWaitReadings == g_nStopAfterWaitReadings)
            g_pView->PostMessage(WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED));
    }
    return g_nNowMs;
}

int AnswerNo(const std::string&, const std::string&, UINT)
{
    return IDNO;
}

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

class BadInputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_pApp = CreatePlayerObjects(TestClock, AnswerNo); }
    static void TearDownTestSuite() { DestroyPlayerObjects(s_pApp); }

    void SetUp() override
    {
        ::setenv("XDG_CONFIG_HOME", m_dir.Path().c_str(), 1);
        ::mkdir(SettingsFolder().c_str(), 0700);
        g_nNowMs = 12 * 3600 * 1000;
        g_nWaitStepMs = 3600 * 1000;
        g_nWaitedMs = 0;
        g_nWaitReadings = 0;
        g_nStopAfterWaitReadings = 1000;
    }

    void TearDown() override
    {
        Close();
        ::unsetenv("XDG_CONFIG_HOME");
    }

    std::string SettingsFolder() const { return m_dir.Path() + "/VelofonPocket"; }
    std::string SettingsPath() const { return SettingsFolder() + "/" + s_pApp->GetAppName() + ".conf"; }

    void WriteSettings(const std::string& strContent)
    {
        m_dir.Write("VelofonPocket/" + s_pApp->GetAppName() + ".conf", Bytes(strContent.begin(), strContent.end()));
    }

    // A settings file with this playlist, then the further lines.
    void WritePlaylist(const std::vector<std::string>& astrPaths, const std::string& strMore = "")
    {
        WriteSettings(PlaylistSettings(astrPaths, strMore));
    }

    // Starts the player as the program does; a running one ends first, as in
    // a restart.
    View& Start()
    {
        Close();
        g_pEngine->Close();
        m_pView = &OpenPlayer(*s_pApp, m_pTemplate, RUNTIME_CLASS(CVelofonPocketView));
        g_pView = m_pView;
        return *m_pView;
    }

    void Close()
    {
        if (m_pView && View::m_nPlayState == PS_RUNNING)
            m_pView->OnStop();
        Drain();
        g_pOutput->Close();
        g_pView = nullptr;
        m_pView = nullptr;
        s_pApp->m_pMainWnd = nullptr;
        m_pTemplate.reset();
    }

    // An entry added as the playlist's add command does it.
    void Add(const std::string& strPath)
    {
        m_pView->m_PlayList.Add(strPath);
        m_pView->m_PlayListBox.AddString(m_pView->m_PlayList.GetDisplayName(m_pView->m_PlayList.GetCount() - 1));
    }

    // 8000 Hz mono, a different sound per name: at 2.0x a second fills about
    // half a buffer.
    static Bytes Samples(const std::string& strName, size_t nSeconds)
    {
        std::vector<int16_t> asSamples(nSeconds * 8000);
        for (size_t i = 0; i < asSamples.size(); ++i)
            asSamples[i] = static_cast<int16_t>((i * (7 + strName.size() % 13)) % 3000 - 1500);
        return Samples16(asSamples);
    }

    // Writes a sound at strPath (absolute, or under the test's folder).
    std::string Sound(const std::string& strPath, size_t nSeconds = 1)
    {
        const std::string strFull = strPath[0] == '/' ? strPath : m_dir.Path() + "/" + strPath;
        std::filesystem::create_directories(std::filesystem::path(strFull).parent_path());
        const Bytes ab = MakeWav(1, 8000, 2, Samples(FileNameOfPath(strFull), nSeconds));
        std::ofstream file(strFull, std::ios::binary);
        file.write(reinterpret_cast<const char*>(ab.data()), static_cast<std::streamsize>(ab.size()));
        EXPECT_TRUE(file.good()) << strFull;
        return strFull;
    }

    // What the player's engine makes of a file with these bytes.
    static Bytes Render(const Bytes& abFile)
    {
        CTempDir dir;
        auto pEngine = std::make_unique<CSpeedEngine>(2.0);
        pEngine->m_bAlpha = g_pEngine->m_bAlpha;
        pEngine->m_nAlphaLevel = g_pEngine->m_nAlphaLevel;
        pEngine->m_nMixingGain = g_pEngine->m_nMixingGain;
        Bytes abAll;
        if (!pEngine->Open(dir.Write("r.wav", abFile), 2.0))
            return abAll;
        pEngine->Seek(0);
        Bytes abBuffer(WAVE_BUFFER_BYTES);
        while (const uint32_t n = pEngine->Fill(abBuffer.data(), WAVE_BUFFER_BYTES))
            abAll.insert(abAll.end(), abBuffer.begin(), abBuffer.begin() + n);
        return abAll;
    }

    static void Dispatch() { DispatchAll(); }
    bool PlayOne() { return PlayOneBuffer(m_sound); }
    void Drain() { PlayUntilDrained(m_sound); }

    void Click(int nID)
    {
        m_pView->PostMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(nID), BN_CLICKED));
        Dispatch();
    }

    void Select(int nRow)
    {
        m_pView->m_PlayListBox.SetSel(-1, false);
        m_pView->m_PlayListBox.SetSel(nRow, true);
    }

    std::string Playing() const { return m_pView->m_FileNameLabel.GetText(); }

    std::vector<std::string> Paths() const
    {
        std::vector<std::string> astrPaths;
        for (int i = 0; i < m_pView->m_PlayList.GetCount(); ++i)
            astrPaths.push_back(m_pView->m_PlayList.GetPath(i));
        return astrPaths;
    }

    static std::unique_ptr<CVelofonPocketApp> s_pApp;
    CTempDir m_dir;
    CScriptedAudioBackend m_sound;
    std::unique_ptr<CSingleDocTemplate> m_pTemplate;
    View* m_pView = nullptr;
};

std::unique_ptr<CVelofonPocketApp> BadInputTest::s_pApp;

// ---------------------------------------------------------------------------
// Entries that change on disk

TEST_F(BadInputTest, AnEntryThatShrinksOrGrowsWhilePlayingPlaysWhatItsDataHolds)
{
    const Bytes abSamples = Samples("a.wav", 20);
    const Bytes abFile = MakeWav(1, 8000, 2, abSamples);
    const std::string strA = m_dir.Write("a.wav", abFile);
    const std::string strB = Sound("b.wav");
    const Bytes abB = ReadWholeFile(strB);
    WritePlaylist({ strA, strB });
    Start();

    struct SChange {
        const char* strWhat;
        // The file's new size, from the reader's position; -1 for growth.
        std::function<off_t(off_t)> newSize;
    };
    const SChange aChanges[] = {
        { "cut to nothing", [](off_t) { return off_t { 0 }; } },
        { "cut inside the header", [](off_t) { return off_t { 30 }; } },
        { "cut behind the reader", [](off_t nAt) { return nAt - 5000; } },
        { "cut ahead of the reader, inside a sample", [](off_t nAt) { return nAt + 20001; } },
        { "grown past its data chunk", [](off_t) { return off_t { -1 }; } },
    };
    for (const SChange& change : aChanges) {
        m_dir.Write("a.wav", abFile);
        const size_t nBefore = m_sound.GetPlayed().size();
        Select(0);
        Click(IDC_PLAY);
        ASSERT_EQ(Playing(), "a.wav") << change.strWhat;
        PlayOne();
        const off_t nAt = static_cast<off_t>(g_pEngine->GetPosition());
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
        EXPECT_EQ(View::m_nPlayState, PS_IDLE) << change.strWhat;
        // The entry ends with what the reader had taken or what is left, and
        // the next one plays whole.
        Bytes abExpected = Render(MakeWav(1, 8000, 2, Bytes(abSamples.begin(), abSamples.begin() + nKept)));
        const Bytes abNext = Render(abB);
        abExpected.insert(abExpected.end(), abNext.begin(), abNext.end());
        const Bytes abPlayed(m_sound.GetPlayed().begin() + nBefore, m_sound.GetPlayed().end());
        EXPECT_TRUE(abPlayed == abExpected) << change.strWhat << ": played " << abPlayed.size() << " bytes, expected "
                                            << abExpected.size();
    }
}

TEST_F(BadInputTest, AnEntryWhoseReadPermissionGoesIsSkippedLikeAnUnreadableOne)
{
    const std::string strA = Sound("a.wav");
    const std::string strB = Sound("b.wav");
    const std::string strC = Sound("c.wav");
    WritePlaylist({ strA, strB, strC });
    View& view = Start();
    ASSERT_EQ(view.m_PlayList.GetCount(), 3);
    ASSERT_EQ(::chmod(strB.c_str(), 0), 0);
    std::unique_ptr<CFileModesApply> pModes;
    if (CanOpen(strB))
        pModes = std::make_unique<CFileModesApply>();
    if (CanOpen(strB))
        GTEST_SKIP() << "this process reads files whatever their mode (root with capabilities it cannot drop)";

    // From the top: a, then b is passed over for c.
    const size_t nBefore = m_sound.GetPlayed().size();
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "a.wav");
    Drain();
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_EQ(m_sound.GetOpenCount(), 2);
    Bytes abExpected = Render(ReadWholeFile(strA));
    const Bytes abC = Render(ReadWholeFile(strC));
    abExpected.insert(abExpected.end(), abC.begin(), abC.end());
    EXPECT_TRUE(Bytes(m_sound.GetPlayed().begin() + nBefore, m_sound.GetPlayed().end()) == abExpected);

    // Chosen itself, it gives way to the next entry.
    Select(1);
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "c.wav");
    EXPECT_EQ(View::m_nCurrent, 2);
    pModes.reset();
    ::chmod(strB.c_str(), 0600);
    EXPECT_EQ(view.m_PlayList.GetPath(1), strB) << "the entry stays in the list";
}

// Empty lines stand for entries missing before the last one stored.
TEST_F(BadInputTest, AnEmptyEntryIsSkippedLikeAnUnreadableOne)
{
    WriteSettings("[VelofonSettings]\nPlayListCount=3\nPlayFile00001=" + Sound("b.wav") + "\nPlayFile00002="
        + Sound("c.wav") + "\n");
    View& view = Start();
    ASSERT_EQ(view.m_PlayList.GetCount(), 3);
    EXPECT_EQ(view.m_PlayList.GetPath(0), "");
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(View::m_nCurrent, 1);
    Drain();
    EXPECT_EQ(m_sound.GetOpenCount(), 2);
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);

    Select(0);
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(View::m_nCurrent, 1);
}

TEST_F(BadInputTest, AFolderAndAFifoNamedLikeSoundFilesAreSkipped)
{
    const std::string strFolder = m_dir.Path() + "/folder.wav";
    const std::string strFifo = m_dir.Path() + "/fifo.wav";
    ASSERT_EQ(::mkdir(strFolder.c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    const std::string strGood = Sound("good.wav");
    WritePlaylist({ strFifo, strFolder, strGood, strFifo });
    Start();
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "good.wav");
    EXPECT_EQ(View::m_nCurrent, 2);
    Drain();
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_EQ(m_sound.GetOpenCount(), 1);
    EXPECT_TRUE(m_sound.GetPlayed() == Render(ReadWholeFile(strGood)));

    // Nothing to play from the last entry on: the player stays idle.
    Select(3);
    Click(IDC_PLAY);
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_EQ(m_sound.GetOpenCount(), 1);
    EXPECT_TRUE(std::filesystem::is_directory(strFolder));
}

// ---------------------------------------------------------------------------
// Paths the settings file must carry

TEST_F(BadInputTest, AwkwardPathsSurviveARestartAndPlayOrAreSkipped)
{
    std::string strDeep = m_dir.Path();
    while (strDeep.size() < 3700)
        strDeep += "/" + std::string(200, 'd');
    struct SEntry {
        std::string strPath;
        bool bPlayable;
    };
    const std::string strRoot = m_dir.Path();
    const std::vector<SEntry> aEntries = {
        { Sound("new\nline.wav"), true },
        { Sound("carriage\rreturn.wav"), true },
        { Sound("tab\there.wav"), true },
        { Sound("  two leading spaces.wav"), true },
        { Sound("folder with trailing spaces  /in.wav"), true },
        { Sound("key=value.wav"), true },
        { Sound("#hash.wav"), true },
        { Sound("[group].wav"), true },
        { Sound("back\\slash \\x41 \\s \\n.wav"), true },
        { Sound("control \x01\x1b[0m.wav"), true },
        { Sound("caf\xe9 latin-1.wav"), true },
        { Sound("\xff\xfe not utf-8.wav"), true },
        { Sound("日本語.wav"), true },
        { Sound(strDeep + "/long.wav"), true },
        { strRoot + "/" + std::string(5000, 'x') + ".wav", false },
        { " " + strRoot + "/leading space.wav", false },
        { strRoot + "/trailing space.wav ", false },
        { "#not a comment.wav", false },
        { "[VelofonSettings]", false },
        { "PlayListCount=0", false },
        { "", false },
        { Sound("after the empty line.wav"), true },
    };
    Sound("leading space.wav");
    Sound("trailing space.wav");

    Start();
    for (const SEntry& entry : aEntries)
        Add(entry.strPath);
    m_pView->SaveSettings();

    View& view = Start();
    std::vector<std::string> astrExpected;
    for (const SEntry& entry : aEntries)
        astrExpected.push_back(entry.strPath);
    ASSERT_EQ(Paths(), astrExpected);
    for (int i = 0; i < view.m_PlayListBox.GetCount(); ++i)
        EXPECT_EQ(view.m_PlayListBox.GetText(i), FileNameOfPath(astrExpected[static_cast<size_t>(i)])) << "line " << i;

    int nPlayable = 0;
    for (size_t i = 0; i < aEntries.size(); ++i) {
        const int nRow = static_cast<int>(i);
        // (An empty line, chosen itself, has a test of its own.)
        if (aEntries[i].strPath.empty())
            continue;
        Select(nRow);
        Click(IDC_PLAY);
        if (aEntries[i].bPlayable) {
            ++nPlayable;
            EXPECT_EQ(View::m_nCurrent, nRow) << "entry " << i << " does not play";
            EXPECT_EQ(Playing(), FileNameOfPath(aEntries[i].strPath)) << "entry " << i;
        } else {
            EXPECT_NE(View::m_nCurrent, nRow) << "entry " << i << " is not skipped";
        }
        Click(IDC_STOP);
    }
    // From the top, every playable entry plays once and the rest are passed over.
    const int nOpens = m_sound.GetOpenCount();
    Click(IDC_PLAY);
    Drain();
    EXPECT_EQ(m_sound.GetOpenCount() - nOpens, nPlayable);
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
}

// ---------------------------------------------------------------------------
// Settings files that cannot be read as settings

struct SDamage {
    const char* strName;
    std::string strContent;
    // The file is kept as .damaged at the first save.
    bool bKept;
};

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
    const SDamage aCases[] = {
        { "zero bytes", "", false },
        { "blank lines", "\n  \n\t\n\n", false },
        { "the section alone", "[VelofonSettings]\n", false },
        { "binary garbage", Garbage(), true },
        { "text that is no settings", "PlayListCount=1\nPlayFile00000=/a.wav\n", true },
        { "a zero byte in a value", std::string(kZeroInAValue, sizeof kZeroInAValue - 1), true },
        { "a cut group line", "[VelofonSettings]\nSpeedIdx=20\n[Velo", true },
    };
    const std::string strSound = Sound("s.wav");
    for (const SDamage& damage : aCases) {
        std::filesystem::remove(SettingsPath() + ".damaged");
        WriteSettings(damage.strContent);
        View& view = Start();
        EXPECT_EQ(view.m_nSpeedIdx, 10) << damage.strName;
        EXPECT_EQ(view.m_nRepeat, REPEAT_NONE) << damage.strName;
        EXPECT_EQ(view.m_nMixingVolume, 50) << damage.strName;
        EXPECT_EQ(view.m_nAlphaControl, 0) << damage.strName;
        EXPECT_EQ(view.m_nFileSelect, 1) << damage.strName;
        EXPECT_EQ(view.m_nWaitSec, 0) << damage.strName;
        EXPECT_EQ(view.m_PlayList.GetCount(), 0) << damage.strName;
        EXPECT_EQ(Text(ReadWholeFile(SettingsPath())), damage.strContent) << damage.strName << ": untouched until a save";

        Add(strSound);
        view.SaveSettings();
        Click(IDC_PLAY);
        EXPECT_EQ(Playing(), "s.wav") << damage.strName;
        Drain();
        if (damage.bKept)
            EXPECT_EQ(Text(ReadWholeFile(SettingsPath() + ".damaged")), damage.strContent) << damage.strName;
        else
            EXPECT_FALSE(std::filesystem::exists(SettingsPath() + ".damaged")) << damage.strName;
        EXPECT_EQ(Start().m_PlayList.GetPath(0), strSound) << damage.strName << ": the new settings were saved";
    }
}

TEST_F(BadInputTest, AFolderOrAFifoInPlaceOfTheSettingsFile)
{
    const std::string strSound = Sound("s.wav");
    // A folder stays, with what it holds; settings cannot be saved meanwhile.
    std::filesystem::create_directories(SettingsPath());
    m_dir.Write("VelofonPocket/" + s_pApp->GetAppName() + ".conf/keep.txt", Bytes { 'k' });
    View& view = Start();
    EXPECT_EQ(view.m_PlayList.GetCount(), 0);
    EXPECT_EQ(view.m_nSpeedIdx, 10);
    Add(strSound);
    view.SaveSettings();
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "s.wav");
    Drain();
    EXPECT_EQ(Text(ReadWholeFile(SettingsPath() + "/keep.txt")), "k");
    std::filesystem::remove_all(SettingsPath());

    // A FIFO neither blocks the start nor keeps the settings from being saved.
    ASSERT_EQ(::mkfifo(SettingsPath().c_str(), 0600), 0);
    View& second = Start();
    EXPECT_EQ(second.m_PlayList.GetCount(), 0);
    Add(strSound);
    second.SaveSettings();
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "s.wav");
    Drain();
    EXPECT_EQ(Start().m_PlayList.GetPath(0), strSound);
}

// ---------------------------------------------------------------------------
// Values far out of range

TEST_F(BadInputTest, OutOfRangeSettingsStartThePlayerAndPlay)
{
    struct SCase {
        const char* strEntry;
        const char* strStored;
        // The value the player runs with and saves.
        int nLoaded;
        std::function<int(const View&)> loaded;
    };
    const auto speed = [](const View& view) { return view.m_nSpeedIdx; };
    const auto repeat = [](const View& view) { return view.m_nRepeat; };
    const auto mixing = [](const View& view) { return view.m_nMixingVolume; };
    const auto alpha = [](const View& view) { return view.m_nAlphaControl; };
    const auto fileSelect = [](const View& view) { return view.m_nFileSelect; };
    const auto wait = [](const View& view) { return view.m_nWaitSec; };
    const SCase aCases[] = {
        { "SpeedIdx", "2147483647", 30, speed },
        { "SpeedIdx", "-2147483648", 0, speed },
        { "SpeedIdx", "4294967295", 0, speed },
        { "SpeedIdx", "99999999999", 10, speed },
        { "Repeat", "2147483647", 2147483647, repeat },
        { "Repeat", "-1", -1, repeat },
        { "MixingVolume", "2147483647", 100, mixing },
        { "MixingVolume", "-2147483648", 0, mixing },
        { "AlphaControl", "2147483647", 50, alpha },
        { "AlphaControl", "-2147483648", 0, alpha },
        { "FileSelect", "2147483647", 2147483647, fileSelect },
        { "FileSelect", "-5", -5, fileSelect },
        { "WaitSec", "-1", 0, wait },
        { "WaitSec", "-2147483648", 0, wait },
        { "WaitSec", "4294967295", 0, wait },
        { "WaitSec", "4294967296", 0, wait },
    };
    const std::string strA = Sound("a.wav");
    const std::string strB = Sound("b.wav");
    for (const SCase& c : aCases) {
        const std::string strWhat = std::string(c.strEntry) + "=" + c.strStored;
        WritePlaylist({ strA, strB }, std::string(c.strEntry) + "=" + c.strStored + "\n");
        View& view = Start();
        EXPECT_EQ(c.loaded(view), c.nLoaded) << strWhat;
        EXPECT_EQ(view.m_SpeedLabel.GetText(), view.m_astrSpeedText[view.m_nSpeedIdx]) << strWhat;
        if (std::string(c.strEntry) == "MixingVolume") {
            EXPECT_EQ(g_pEngine->m_nMixingGain, c.nLoaded / 5) << strWhat;
        }
        if (std::string(c.strEntry) == "AlphaControl") {
            EXPECT_EQ(g_pEngine->m_bAlpha, c.nLoaded != 0 ? 1 : 0) << strWhat;
            EXPECT_EQ(g_pEngine->m_nAlphaLevel, c.nLoaded) << strWhat;
        }

        // Both entries play through once, whatever the levels or the repeat
        // value, and then the player stops.
        const int nOpens = m_sound.GetOpenCount();
        const size_t nBefore = m_sound.GetPlayed().size();
        Click(IDC_PLAY);
        EXPECT_EQ(Playing(), "a.wav") << strWhat;
        Drain();
        EXPECT_EQ(View::m_nPlayState, PS_IDLE) << strWhat;
        EXPECT_EQ(m_sound.GetOpenCount() - nOpens, 2) << strWhat;
        if (std::string(c.strEntry) != "SpeedIdx" && std::string(c.strEntry) != "AlphaControl") {
            Bytes abExpected = Render(ReadWholeFile(strA));
            const Bytes abB = Render(ReadWholeFile(strB));
            abExpected.insert(abExpected.end(), abB.begin(), abB.end());
            EXPECT_TRUE(Bytes(m_sound.GetPlayed().begin() + nBefore, m_sound.GetPlayed().end()) == abExpected)
                << strWhat;
        } else {
            EXPECT_GT(m_sound.GetPlayed().size(), nBefore) << strWhat;
        }

        // What the player ran with survives a save and a restart.
        view.SaveSettings();
        EXPECT_EQ(c.loaded(Start()), c.nLoaded) << strWhat;
        EXPECT_EQ(m_pView->m_PlayList.GetCount(), 2) << strWhat;
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
        { "2147483647", { 0, 1, 2 }, { "0.wav", "1.wav", "2.wav" } },
        { "5", { 0, 1, 2 }, { "0.wav", "1.wav", "2.wav" } },
        { "2147483647", { 0, 1, 5 }, { "0.wav", "1.wav", "", "", "", "5.wav" } },
        { "2147483647", { 0, 1, 7 }, { "0.wav", "1.wav", "7.wav" } },
        { "2147483647", { 0, 1, 2147483646 }, { "0.wav", "1.wav", "2147483646.wav" } },
        { "3", { 0, 1, 2, 3, 4, 5 }, { "0.wav", "1.wav", "2.wav" } },
        { "99999999999", { 0, 1 }, {} },
        { "4294967295", { 0, 1 }, {} },
        { "-2147483648", { 0, 1 }, {} },
        { "0", { 0, 1 }, {} },
    };
    for (const SCase& c : aCases) {
        const std::string strWhat = std::string("PlayListCount=") + c.strCount;
        std::string strSettings = std::string("[VelofonSettings]\nPlayListCount=") + c.strCount + "\n";
        for (int nIndex : c.anStored)
            strSettings += PlayFileEntryName(nIndex) + "=" + Sound(std::to_string(nIndex) + ".wav") + "\n";
        WriteSettings(strSettings);
        View& view = Start();
        std::vector<std::string> astrLines;
        for (int i = 0; i < view.m_PlayListBox.GetCount(); ++i)
            astrLines.push_back(view.m_PlayListBox.GetText(i));
        EXPECT_EQ(astrLines, c.astrLines) << strWhat;
        EXPECT_EQ(view.m_PlayList.GetCount(), static_cast<int>(c.astrLines.size())) << strWhat;

        // Play works; the empty lines are passed over.
        const int nOpens = m_sound.GetOpenCount();
        Click(IDC_PLAY);
        Drain();
        int nPlayable = 0;
        for (const std::string& strLine : c.astrLines)
            nPlayable += strLine.empty() ? 0 : 1;
        EXPECT_EQ(m_sound.GetOpenCount() - nOpens, nPlayable) << strWhat;

        // Saving writes the list as loaded; entries it does not reach stay
        // in the file.
        view.SaveSettings();
        Start();
        CProfileStore& profile = s_pApp->GetProfileStore();
        EXPECT_EQ(profile.GetProfileInt(kSettingsSection, "PlayListCount", -1), static_cast<int>(c.astrLines.size()))
            << strWhat;
        for (int nIndex : c.anStored) {
            EXPECT_EQ(FileNameOfPath(profile.GetProfileString(kSettingsSection, PlayFileEntryName(nIndex), "")),
                std::to_string(nIndex) + ".wav")
                << strWhat;
        }
    }
}

// ---------------------------------------------------------------------------
// Waits between files of a day and more

TEST_F(BadInputTest, AWaitLongerThanADayEndsAfterItsTime)
{
    const int nWait = 25 * 3600 * 1000;
    WritePlaylist({ Sound("a.wav"), Sound("b.wav") }, "WaitSec=" + std::to_string(nWait) + "\n");
    View& view = Start();
    EXPECT_EQ(view.m_nWaitSec, nWait);
    Click(IDC_PLAY);
    while (Playing() == "a.wav" && PlayOne()) {
    }
    EXPECT_EQ(Playing(), "b.wav") << "the wait did not end by itself";
    EXPECT_EQ(View::m_nPlayState, PS_RUNNING);
    EXPECT_GE(g_nWaitedMs, nWait);
    EXPECT_LT(g_nWaitReadings, g_nStopAfterWaitReadings);
}

TEST_F(BadInputTest, TheLongestWaitIsEndedByStop)
{
    WritePlaylist({ Sound("a.wav"), Sound("b.wav") }, "WaitSec=2147483647\n");
    View& view = Start();
    EXPECT_EQ(view.m_nWaitSec, 2147483647);
    // Fifty hours into a wait of almost 25 days.
    g_nStopAfterWaitReadings = 50;
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "a.wav");
    Drain();
    EXPECT_GE(g_nWaitReadings, 50) << "the wait ended before Stop";
    EXPECT_FALSE(view.m_bPlayWaitFlag);
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_EQ(View::m_nCurrent, -1);
    EXPECT_EQ(m_sound.GetOpenCount(), 1) << "the second entry never started";
    // And Play starts afresh.
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "a.wav");
    EXPECT_EQ(View::m_nPlayState, PS_RUNNING);
}

} // namespace
