// The positions database: what a new store reads back, odd paths, the limit
// of entries and the order of use, the file of earlier versions carried
// over, small writes, damaged and unreadable databases, folders that cannot
// be written, read-only sessions, and databases of the first version.
#include "platform/positions/PositionStore.h"

#include "WavBytes.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using SPosition = CPositionStore::SPosition;

class PositionStoreTest : public ::testing::Test {
protected:
    std::string DbPath() const { return m_dir.Path() + "/config/VelofonPocket.positions.db"; }
    std::string OldPath() const { return m_dir.Path() + "/config/VelofonPocket.positions"; }
    void Write(const std::string& strPath, const std::string& strText)
    {
        std::filesystem::create_directories(std::filesystem::path(strPath).parent_path());
        m_dir.Write(std::filesystem::relative(strPath, m_dir.Path()).string(), Bytes(strText.begin(), strText.end()));
    }
    std::string ReadText(const std::string& strPath) const
    {
        const Bytes abContent = ReadWholeFile(strPath);
        return std::string(abContent.begin(), abContent.end());
    }
    // A store that reads the database afresh.
    CPositionStore& Reopen()
    {
        m_store.SetPath(DbPath(), OldPath());
        return m_store;
    }
    static SPosition PositionFor(uint64_t nFrame)
    {
        return {nFrame, nFrame + 1, static_cast<uint32_t>(nFrame % 48000), nFrame * 3, -static_cast<int64_t>(nFrame)};
    }
    static void ExpectFound(const CPositionStore& store, const std::string& strFile, uint64_t nFrame)
    {
        const auto position = store.Find(strFile);
        ASSERT_TRUE(position.has_value()) << strFile;
        const SPosition expected = PositionFor(nFrame);
        EXPECT_EQ(position->nFrame, expected.nFrame) << strFile;
        EXPECT_EQ(position->nLengthFrames, expected.nLengthFrames) << strFile;
        EXPECT_EQ(position->nRate, expected.nRate) << strFile;
        EXPECT_EQ(position->nFileSize, expected.nFileSize) << strFile;
        EXPECT_EQ(position->nModifiedNs, expected.nModifiedNs) << strFile;
    }

    // Runs statements on the database as another program would; false when one fails.
    bool Execute(const std::vector<std::string>& astrStatements) const
    {
        sqlite3* pDb = nullptr;
        bool bDone = sqlite3_open(DbPath().c_str(), &pDb) == SQLITE_OK;
        for (const std::string& strStatement : astrStatements)
            bDone = bDone && sqlite3_exec(pDb, strStatement.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(pDb);
        return bDone;
    }
    int64_t QueryInt(const std::string& strQuery) const
    {
        sqlite3* pDb = nullptr;
        sqlite3_stmt* pStatement = nullptr;
        int64_t nValue = -1;
        if (sqlite3_open_v2(DbPath().c_str(), &pDb, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
            && sqlite3_prepare_v2(pDb, strQuery.c_str(), -1, &pStatement, nullptr) == SQLITE_OK
            && sqlite3_step(pStatement) == SQLITE_ROW)
            nValue = sqlite3_column_int64(pStatement, 0);
        sqlite3_finalize(pStatement);
        sqlite3_close(pDb);
        return nValue;
    }

    CTempDir m_dir;
    CPositionStore m_store;
};

TEST_F(PositionStoreTest, AnyPathComesBackFromANewStore)
{
    const std::string astrFiles[] = {"/talks/one.mp3", "/new\nline/and\ttab\r.wav", "/not utf-8 \xff\xfe\x80.ogg",
        std::string("/zero\0byte", 10), "  spaces at both ends  ", "back\\slash\\x41\\n", "/講義/第一回.m4b", ""};
    // Frames beyond 32 bits, a different one per file, and one beyond 63.
    uint64_t nFrame = uint64_t{1} << 40;
    CPositionStore& store = Reopen();
    for (const std::string& strFile : astrFiles)
        EXPECT_TRUE(store.Store(strFile, PositionFor(nFrame++))) << strFile;
    EXPECT_TRUE(store.Store("/far", {UINT64_MAX, UINT64_MAX, 0, 0, 0}));
    CPositionStore fresh;
    fresh.SetPath(DbPath());
    nFrame = uint64_t{1} << 40;
    for (const std::string& strFile : astrFiles)
        ExpectFound(fresh, strFile, nFrame++);
    EXPECT_EQ(fresh.Find("/far")->nFrame, UINT64_MAX);
    EXPECT_FALSE(fresh.Find("/talks").has_value());
}

// The file of earlier versions comes in once, most recent first, and goes;
// storing moves an entry first and drops the least recently used beyond the
// limit; each store adds a few kilobytes to the log, not the whole list.
TEST_F(PositionStoreTest, TheOldFileIsCarriedOverAndTheLeastRecentlyUsedGo)
{
    std::string strText = "VelofonPocket positions 1\n";
    for (size_t i = 0; i < CPositionStore::kMaxEntries; ++i)
        strText += std::to_string(i) + "\t" + std::to_string(i + 1) + "\t/" + std::to_string(i) + "\n";
    // A path written twice by hand: the first, more recent, counts.
    strText += "7\t8\t/0\n";
    Write(OldPath(), strText);
    CPositionStore& store = Reopen();
    EXPECT_FALSE(std::filesystem::exists(OldPath()));
    ASSERT_TRUE(store.Find("/4999").has_value());
    EXPECT_EQ(store.Find("/0")->nFrame, 0u);
    EXPECT_EQ(store.Find("/0")->nFileSize, 0u) << "carried-over entries have no stamp";

    const auto logBytes = [this] { return std::filesystem::file_size(DbPath() + "-wal"); };
    const auto nBefore = logBytes();
    EXPECT_TRUE(store.Store("/4998", PositionFor(7)));
    EXPECT_LE(logBytes() - nBefore, 16384u);
    EXPECT_TRUE(store.Store("/new", PositionFor(1)));
    CPositionStore& reread = Reopen();
    EXPECT_FALSE(reread.Find("/4999").has_value());
    ExpectFound(reread, "/4998", 7);
    ExpectFound(reread, "/new", 1);
    EXPECT_EQ(reread.Find("/4997")->nFrame, 4997u);
    EXPECT_EQ(reread.Find("/0")->nFrame, 0u);

    // Never read again, even when a file of that name comes back.
    Write(OldPath(), "VelofonPocket positions 1\n5\t6\t/4999\n");
    EXPECT_FALSE(Reopen().Find("/4999").has_value());
}

TEST_F(PositionStoreTest, DamagedFilesAreKeptAsideAndReadAsEmpty)
{
    struct SCase {
        bool bDatabase;
        std::string strText;
    };
    const std::string strFirst = "VelofonPocket positions 1\n";
    const SCase aCases[] = {
        {true, "not a database at all, but long enough to look like a header of one........"},
        {true, std::string("SQLite format 3\0", 16) + std::string(4080, '\x55')},
        {false, "[VelofonSettings]\nSpeed=3\n"},
        {false, strFirst + "12\tx\t/a\n"},
        {false, strFirst + "1\t2\t/bad\\q\n"},
        {false, strFirst + std::string("1\t2\t/a\0\n", 9)},
    };
    for (const SCase& c : aCases) {
        std::filesystem::remove_all(m_dir.Path() + "/config");
        const std::string strPath = c.bDatabase ? DbPath() : OldPath();
        Write(strPath, c.strText);
        CPositionStore& store = Reopen();
        EXPECT_FALSE(store.Find("/a").has_value());
        EXPECT_EQ(store.GetDamagedCopy(), strPath + ".damaged");
        EXPECT_EQ(ReadText(strPath + ".damaged"), c.strText);
        EXPECT_TRUE(store.Store("/b", PositionFor(5))) << store.GetError();
        ExpectFound(Reopen(), "/b", 5);
        EXPECT_TRUE(m_store.GetDamagedCopy().empty());
    }
    // Never over an earlier copy.
    Write(DbPath(), "garbage garbage garbage garbage garbage garbage garbage garbage garbage");
    Write(DbPath() + ".damaged", "the first");
    EXPECT_EQ(Reopen().GetDamagedCopy(), DbPath() + ".damaged.2");
    EXPECT_EQ(ReadText(DbPath() + ".damaged"), "the first");
}

// Without the single-instance lock, or with a database that cannot be read,
// nothing is written and nothing moved; the places live in memory.
TEST_F(PositionStoreTest, AReadOnlySessionWritesNothing)
{
    ASSERT_TRUE(Reopen().Store("/a", PositionFor(1)));
    CPositionStore readOnly;
    readOnly.SetReadOnly("locked elsewhere");
    readOnly.SetPath(DbPath(), OldPath());
    ExpectFound(readOnly, "/a", 1);
    EXPECT_FALSE(readOnly.Store("/b", PositionFor(2)));
    EXPECT_EQ(readOnly.GetError(), "locked elsewhere");
    ExpectFound(readOnly, "/b", 2);
    EXPECT_FALSE(Reopen().Find("/b").has_value());

    // A link to itself cannot be read, by root either.
    std::filesystem::remove_all(m_dir.Path() + "/config");
    std::filesystem::create_directories(m_dir.Path() + "/config");
    ASSERT_EQ(::symlink(DbPath().c_str(), DbPath().c_str()), 0);
    CPositionStore& store = Reopen();
    const std::string strReason = DbPath() + ": Too many levels of symbolic links";
    EXPECT_EQ(store.GetReadOnlyReason(), strReason);
    EXPECT_FALSE(store.Store("/a", PositionFor(1)));
    EXPECT_EQ(store.GetError(), strReason);
    ExpectFound(store, "/a", 1);
    EXPECT_TRUE(std::filesystem::is_symlink(DbPath()));
    EXPECT_FALSE(std::filesystem::exists(DbPath() + ".damaged"));
}

TEST_F(PositionStoreTest, AForgottenEntryStaysForgottenAndAFolderInTheWayFailsTheStore)
{
    CPositionStore& store = Reopen();
    EXPECT_TRUE(store.Store("/a", PositionFor(1)));
    EXPECT_TRUE(store.Store("/b", PositionFor(3)));
    EXPECT_TRUE(store.Forget("/a"));
    EXPECT_TRUE(store.Forget("/never"));
    CPositionStore& reread = Reopen();
    EXPECT_FALSE(reread.Find("/a").has_value());
    ExpectFound(reread, "/b", 3);

    // A file where the folder should be stops root too.
    std::filesystem::remove_all(m_dir.Path() + "/config");
    m_dir.Write("config", Bytes{'x'});
    CPositionStore& blocked = Reopen();
    EXPECT_FALSE(blocked.Store("/a", PositionFor(1)));
    EXPECT_EQ(blocked.GetError(), m_dir.Path() + "/config: Not a directory");
    ExpectFound(blocked, "/a", 1);
    EXPECT_FALSE(blocked.Forget("/a"));

    CPositionStore unset;
    EXPECT_FALSE(unset.Store("/a", PositionFor(1)));
    EXPECT_FALSE(unset.Find("/a").has_value());
}

// A database of the first version, without the speeds and the times the
// places were stored: a read-only session reads it as it is, one that may
// write adds them in place, and the first version's own statements still
// work on it afterwards.
TEST_F(PositionStoreTest, AFirstVersionDatabaseIsReadAsItIsAndUpgradedInPlace)
{
    std::filesystem::create_directories(m_dir.Path() + "/config");
    const char kFirstVersionRow[] = "INSERT INTO positions (path, frame, length, rate, size, modified, used) "
                                    "VALUES (CAST('/old' AS BLOB), 7, 8, 9, 10, 11, 1)";
    ASSERT_TRUE(Execute({"PRAGMA journal_mode = WAL",
        "CREATE TABLE positions (path BLOB PRIMARY KEY NOT NULL, frame INTEGER NOT NULL, length INTEGER NOT NULL, "
        "rate INTEGER NOT NULL, size INTEGER NOT NULL, modified INTEGER NOT NULL, used INTEGER NOT NULL)",
        kFirstVersionRow, "PRAGMA user_version = 1"}));
    const Bytes abFirstVersion = ReadWholeFile(DbPath());
    const auto expectOld = [](const CPositionStore& store) {
        const auto position = store.Find("/old");
        ASSERT_TRUE(position.has_value());
        EXPECT_EQ(position->nFrame, 7u);
        EXPECT_EQ(position->nModifiedNs, 11);
        EXPECT_EQ(position->nSpeedIdx, CPositionStore::kNoSpeed);
        EXPECT_EQ(position->nStoredMs, 0);
    };
    {
        CPositionStore readOnly;
        readOnly.SetReadOnly("locked elsewhere");
        readOnly.SetPath(DbPath(), OldPath());
        expectOld(readOnly);
    }
    EXPECT_TRUE(ReadWholeFile(DbPath()) == abFirstVersion) << "a read-only session changed the database";
    EXPECT_EQ(QueryInt("PRAGMA user_version"), 1);

    expectOld(Reopen());
    EXPECT_EQ(QueryInt("PRAGMA user_version"), 2);
    ASSERT_TRUE(m_store.Store("/new", {1, 2, 3, 4, 5, 17, 1767268800123}));
    EXPECT_TRUE(Execute({"DELETE FROM positions WHERE path = CAST('/old' AS BLOB)", kFirstVersionRow,
        "SELECT path, frame, length, rate, size, modified, used FROM positions"}));
    expectOld(Reopen());
    const auto position = m_store.Find("/new");
    ASSERT_TRUE(position.has_value());
    EXPECT_EQ(position->nSpeedIdx, 17);
    EXPECT_EQ(position->nStoredMs, 1767268800123);

    std::filesystem::remove_all(m_dir.Path() + "/config");
    Reopen();
    EXPECT_EQ(QueryInt("PRAGMA user_version"), 2) << "a new database";
    EXPECT_TRUE(Execute({kFirstVersionRow})) << "the first version cannot write a new database";
}

} // namespace
