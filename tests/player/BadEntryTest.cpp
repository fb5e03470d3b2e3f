// Playlist entries the player did not expect: files that change or vanish
// on disk, entries that are no sound files, and paths the settings file must
// escape. The player skips what it cannot play and plays the rest.
#include "BadInputFixture.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/capability.h>
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

} // namespace
