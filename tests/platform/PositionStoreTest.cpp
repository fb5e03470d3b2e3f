// The positions file: what a new store reads back, odd paths, the limit of
// entries, damaged files and folders that cannot be written.
#include "platform/settings/PositionStore.h"

#include "WavBytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using SPosition = CPositionStore::SPosition;

class PositionStoreTest : public ::testing::Test {
protected:
    std::string FilePath() const { return m_dir.Path() + "/config/VelofonPocket.positions"; }
    std::string ReadText(const std::string& strPath) const
    {
        const Bytes abContent = ReadWholeFile(strPath);
        return std::string(abContent.begin(), abContent.end());
    }
    void WriteText(const std::string& strText)
    {
        std::filesystem::create_directories(std::filesystem::path(FilePath()).parent_path());
        m_dir.Write("config/VelofonPocket.positions", Bytes(strText.begin(), strText.end()));
    }
    // A store that reads the file afresh.
    CPositionStore& Reopen()
    {
        m_store.SetPath(FilePath());
        return m_store;
    }
    static void ExpectFound(const CPositionStore& store, const std::string& strFile, uint64_t nFrame)
    {
        const auto position = store.Find(strFile);
        ASSERT_TRUE(position.has_value()) << strFile;
        EXPECT_EQ(position->nFrame, nFrame) << strFile;
        EXPECT_EQ(position->nLengthFrames, nFrame + 1) << strFile;
    }

    CTempDir m_dir;
    CPositionStore m_store;
};

TEST_F(PositionStoreTest, AnyPathComesBackFromANewStore)
{
    const std::string astrFiles[] = {"/talks/one.mp3",
                                     "/new\nline/and\ttab\r.wav",
                                     "/not utf-8 \xff\xfe\x80.ogg",
                                     std::string("/zero\0byte", 10),
                                     "  spaces at both ends  ",
                                     "back\\slash\\x41\\n",
                                     "/講義/第一回.m4b",
                                     ""};
    // Frames beyond 32 bits, a different one per file.
    const uint64_t nFirstFrame = uint64_t{1} << 40;
    CPositionStore& store = Reopen();
    uint64_t nFrame = nFirstFrame;
    for (const std::string& strFile : astrFiles) {
        EXPECT_TRUE(store.Store(strFile, {nFrame, nFrame + 1})) << strFile;
        ++nFrame;
    }
    CPositionStore fresh;
    fresh.SetPath(FilePath());
    nFrame = nFirstFrame;
    for (const std::string& strFile : astrFiles)
        ExpectFound(fresh, strFile, nFrame++);
    EXPECT_FALSE(fresh.Find("/talks").has_value());
}

TEST_F(PositionStoreTest, TheLeastRecentlyStoredGoBeyondTheLimit)
{
    // Most recent first: /0 was stored last, /4999 first.
    std::string strText = "VelofonPocket positions 1\n";
    for (size_t i = 0; i < CPositionStore::kMaxEntries; ++i)
        strText += std::to_string(i) + "\t" + std::to_string(i + 1) + "\t/" + std::to_string(i) + "\n";
    WriteText(strText);
    CPositionStore& store = Reopen();
    ExpectFound(store, "/4999", 4999);
    // Looking up keeps the order; storing moves an entry first.
    EXPECT_TRUE(store.Store("/4998", {7, 8}));
    EXPECT_TRUE(store.Store("/new", {1, 2}));
    CPositionStore& reread = Reopen();
    EXPECT_FALSE(reread.Find("/4999").has_value());
    ExpectFound(reread, "/4998", 7);
    ExpectFound(reread, "/4997", 4997);
    ExpectFound(reread, "/new", 1);
    ExpectFound(reread, "/0", 0);
}

TEST_F(PositionStoreTest, ADamagedFileIsKeptAsideAndReadsAsEmpty)
{
    const std::string strFirst = "VelofonPocket positions 1\n";
    const std::string astrDamaged[] = {"[VelofonSettings]\nSpeed=3\n",
                                       strFirst + "12\t13\n",
                                       strFirst + "12\tx\t/a\n",
                                       strFirst + "-1\t13\t/a\n",
                                       strFirst + "1\t2\t/bad\\q\n",
                                       strFirst + "\n1\t2\t/a\n",
                                       strFirst + std::string("1\t2\t/a\0\n", 9),
                                       "VelofonPocket positions 2\n"};
    // Each under a name of its own.
    int nCopy = 0;
    for (const std::string& strText : astrDamaged) {
        WriteText(strText);
        const std::string strCopy = FilePath() + ".damaged" + (nCopy++ > 0 ? "." + std::to_string(nCopy) : "");
        CPositionStore& store = Reopen();
        EXPECT_FALSE(store.Find("/a").has_value()) << strText;
        EXPECT_EQ(store.GetFile().GetDamagedCopy(), strCopy);
        EXPECT_TRUE(store.Store("/b", {5, 6}));
        EXPECT_EQ(ReadText(strCopy), strText);
        ExpectFound(Reopen(), "/b", 5);
    }
    // Missing or empty reads as empty, and nothing is kept aside.
    for (const char* strText : {static_cast<const char*>(""), static_cast<const char*>(nullptr)}) {
        if (strText)
            WriteText(strText);
        else
            std::filesystem::remove(FilePath());
        EXPECT_FALSE(Reopen().Find("/b").has_value());
        EXPECT_TRUE(m_store.GetFile().GetDamagedCopy().empty());
        EXPECT_TRUE(m_store.Store("/b", {5, 6}));
    }
    EXPECT_FALSE(std::filesystem::exists(FilePath() + ".damaged." + std::to_string(nCopy + 1)));
}

TEST_F(PositionStoreTest, AFileThatCannotBeReadIsNeitherReplacedNorKeptAside)
{
    // A link to itself cannot be read, by root either.
    std::filesystem::create_directories(std::filesystem::path(FilePath()).parent_path());
    ASSERT_EQ(::symlink(FilePath().c_str(), FilePath().c_str()), 0);
    CPositionStore& store = Reopen();
    const std::string strReason = FilePath() + ": Too many levels of symbolic links";
    EXPECT_EQ(store.GetFile().GetReadOnlyReason(), strReason);
    EXPECT_FALSE(store.Store("/a", {1, 2}));
    EXPECT_EQ(store.GetFile().GetError(), strReason);
    ExpectFound(store, "/a", 1);
    EXPECT_TRUE(std::filesystem::is_symlink(FilePath()));
    EXPECT_FALSE(std::filesystem::exists(FilePath() + ".damaged"));
}

TEST_F(PositionStoreTest, AForgottenEntryStaysForgotten)
{
    CPositionStore& store = Reopen();
    EXPECT_TRUE(store.Store("/a", {1, 2}));
    EXPECT_TRUE(store.Store("/b", {3, 4}));
    EXPECT_TRUE(store.Forget("/a"));
    EXPECT_TRUE(store.Forget("/never"));
    CPositionStore& reread = Reopen();
    EXPECT_FALSE(reread.Find("/a").has_value());
    ExpectFound(reread, "/b", 3);
}

TEST_F(PositionStoreTest, AFolderThatCannotBeWrittenFailsTheStore)
{
    // A file where the folder should be stops root too.
    m_dir.Write("config", Bytes {'x'});
    CPositionStore& store = Reopen();
    EXPECT_FALSE(store.Store("/a", {1, 2}));
    EXPECT_EQ(store.GetFile().GetError(), m_dir.Path() + "/config: Not a directory");
    ExpectFound(store, "/a", 1);
    EXPECT_FALSE(store.Forget("/a"));

    CPositionStore unset;
    EXPECT_FALSE(unset.Store("/a", {1, 2}));
    EXPECT_FALSE(unset.Find("/a").has_value());
}

} // namespace
