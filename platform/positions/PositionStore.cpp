#include "PositionStore.h"

#include "platform/settings/SettingsFile.h"

#include <glib.h>
#include <sqlite3.h>

#include <cerrno>
#include <charconv>
#include <list>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

// The entries in the order of use, most recent first, and an index into
// them by path. The index's keys are the paths held by the list's nodes,
// which never move.
struct CPositionStore::SEntries {
    struct SEntry {
        std::string strFile;
        SPosition position;
        int64_t nUse; // the order of use: larger is more recent
    };
    using List = std::list<SEntry>;

    List list;
    std::unordered_map<std::string_view, List::iterator> index;
    // Paths whose entry (or its absence) the database does not have yet.
    std::set<std::string> pending;
    int64_t nNextUse = 1;

    void Clear()
    {
        index.clear();
        list.clear();
        pending.clear();
        nNextUse = 1;
    }
    // Nothing when the path is there already.
    void Append(const std::string& strFile, const SPosition& position, int64_t nUse)
    {
        if (index.count(strFile) != 0)
            return;
        list.push_back({strFile, position, nUse});
        index.emplace(list.back().strFile, std::prev(list.end()));
        nNextUse = std::max(nNextUse, nUse + 1);
    }
    void Remove(List::iterator it)
    {
        pending.insert(it->strFile);
        index.erase(it->strFile);
        list.erase(it);
    }
    // The file of earlier versions; false when the content is not one.
    bool LoadLines(std::string_view strContent);
};

struct CPositionStore::SDatabase {
    sqlite3* pDb = nullptr;
    ~SDatabase() { Close(); }
    void Close()
    {
        sqlite3_close(pDb);
        pDb = nullptr;
    }
};

namespace {

// The file of earlier versions: a line per entry, most recent first, each
// the frame, a tab, the length in frames, a tab and the escaped path.
const char kFirstLine[] = "VelofonPocket positions 1";
// Far beyond any real file: every entry with the longest path Linux opens,
// every byte of it escaped.
constexpr size_t kLongestPath = 4096;
constexpr size_t kMaxLinesFileSize = CPositionStore::kMaxEntries * (4 * kLongestPath + 64);

// The database's version once the file of earlier versions has been
// carried over (or there was none), and the version that also keeps each
// place's speed and the time it was stored.
constexpr int kCarriedOverVersion = 1;
constexpr int kSchemaVersion = 2;
// Another process holding the database (a second player of the same
// settings, which the single-instance lock keeps away) is waited for this long.
constexpr int kBusyWaitMs = 250;

// The columns of the second version have defaults: the first version's
// program, which names its columns, still inserts and reads rows.
const char kCreateTable[] = "CREATE TABLE IF NOT EXISTS positions (path BLOB PRIMARY KEY NOT NULL, "
                            "frame INTEGER NOT NULL, length INTEGER NOT NULL, rate INTEGER NOT NULL, "
                            "size INTEGER NOT NULL, modified INTEGER NOT NULL, used INTEGER NOT NULL, "
                            "speed INTEGER NOT NULL DEFAULT -1, stored INTEGER NOT NULL DEFAULT 0)";
const char* const kAddedColumns[][2] = {
    {"speed", "ALTER TABLE positions ADD COLUMN speed INTEGER NOT NULL DEFAULT -1"},
    {"stored", "ALTER TABLE positions ADD COLUMN stored INTEGER NOT NULL DEFAULT 0"},
};
const char kSelectAll[] = "SELECT path, frame, length, rate, size, modified, used, speed, stored FROM positions "
                          "ORDER BY used DESC";
// A first version's database that a read-only session leaves as it is.
const char kSelectFirstVersion[] = "SELECT path, frame, length, rate, size, modified, used, -1, 0 FROM positions "
                                   "ORDER BY used DESC";
const char kUpsert[] = "INSERT INTO positions (path, frame, length, rate, size, modified, used, speed, stored) "
                       "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) ON CONFLICT (path) DO UPDATE SET frame = ?2, "
                       "length = ?3, rate = ?4, size = ?5, modified = ?6, used = ?7, speed = ?8, stored = ?9";
const char kDelete[] = "DELETE FROM positions WHERE path = ?1";

std::string Describe(const std::string& strPath, int nError)
{
    return strPath + ": " + g_strerror(nError);
}

bool ParseFrames(std::string_view strField, uint64_t& nValue)
{
    const char* const pEnd = strField.data() + strField.size();
    const auto result = std::from_chars(strField.data(), pEnd, nValue);
    return !strField.empty() && result.ec == std::errc() && result.ptr == pEnd;
}

bool ParseLine(std::string_view strLine, std::string& strFile, CPositionStore::SPosition& position)
{
    const size_t nFirstTab = strLine.find('\t');
    if (nFirstTab == std::string_view::npos)
        return false;
    const size_t nSecondTab = strLine.find('\t', nFirstTab + 1);
    if (nSecondTab == std::string_view::npos)
        return false;
    return ParseFrames(strLine.substr(0, nFirstTab), position.nFrame) &&
           ParseFrames(strLine.substr(nFirstTab + 1, nSecondTab - nFirstTab - 1), position.nLengthFrames) &&
           UnescapeBytes(std::string(strLine.substr(nSecondTab + 1)).c_str(), strFile);
}

// One statement with its values bound in order, run to its end; the rows
// of a query go to onRow.
template <typename FRow = void (*)(sqlite3_stmt*)>
int Run(sqlite3* pDb, const char* strSql, std::initializer_list<int64_t> anValues = {}, const std::string* pPath = nullptr,
    FRow onRow = [](sqlite3_stmt*) {})
{
    sqlite3_stmt* pStatement = nullptr;
    int nResult = sqlite3_prepare_v2(pDb, strSql, -1, &pStatement, nullptr);
    if (nResult != SQLITE_OK)
        return nResult;
    int nParameter = 1;
    if (pPath)
        sqlite3_bind_blob(pStatement, nParameter++, pPath->data(), static_cast<int>(pPath->size()), SQLITE_STATIC);
    for (const int64_t nValue : anValues)
        sqlite3_bind_int64(pStatement, nParameter++, nValue);
    while ((nResult = sqlite3_step(pStatement)) == SQLITE_ROW)
        onRow(pStatement);
    sqlite3_finalize(pStatement);
    return nResult == SQLITE_DONE ? SQLITE_OK : nResult;
}

bool IsDamage(int nResult)
{
    return nResult == SQLITE_NOTADB || nResult == SQLITE_CORRUPT;
}

// Values beyond 63 bits (a hand-made entry) pass through the signed column unchanged.
int64_t AsColumn(uint64_t n)
{
    return static_cast<int64_t>(n);
}

int UserVersion(sqlite3* pDb)
{
    int nVersion = 0;
    Run(pDb, "PRAGMA user_version", {}, nullptr, [&nVersion](sqlite3_stmt* p) { nVersion = sqlite3_column_int(p, 0); });
    return nVersion;
}

bool HasColumn(sqlite3* pDb, const char* strColumn)
{
    bool bThere = false;
    Run(pDb, (std::string("SELECT 1 FROM pragma_table_info('positions') WHERE name = '") + strColumn + "'").c_str(), {},
        nullptr, [&bThere](sqlite3_stmt*) { bThere = true; });
    return bThere;
}

// Adds what the first version lacks; a database whose carry-over is still
// to come gets its version from it.
int UpgradeSchema(sqlite3* pDb)
{
    int nResult = SQLITE_OK;
    for (const auto& astrColumn : kAddedColumns) {
        if (nResult == SQLITE_OK && !HasColumn(pDb, astrColumn[0]))
            nResult = Run(pDb, astrColumn[1]);
    }
    if (nResult == SQLITE_OK && UserVersion(pDb) == kCarriedOverVersion)
        nResult = Run(pDb, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    return nResult;
}

} // namespace

bool CPositionStore::SEntries::LoadLines(std::string_view strContent)
{
    if (strContent.empty())
        return true;
    if (strContent.find('\0') != std::string_view::npos)
        return false;
    size_t nStart = strContent.find('\n');
    if (strContent.substr(0, nStart) != kFirstLine)
        return false;
    std::vector<std::pair<std::string, SPosition>> aLines;
    while (nStart != std::string_view::npos && nStart + 1 < strContent.size()) {
        const size_t nEnd = strContent.find('\n', nStart + 1);
        std::string strFile;
        SPosition position;
        // The last line may lack its newline (npos less anything is still beyond the end).
        if (!ParseLine(strContent.substr(nStart + 1, nEnd - nStart - 1), strFile, position))
            return false;
        aLines.emplace_back(std::move(strFile), position);
        nStart = nEnd;
    }
    // Older than anything the database holds, the first line the most
    // recent; a path the database has, or one written twice by hand: the
    // first counts.
    int64_t nUse = 0;
    for (const auto& [strFile, position] : aLines) {
        if (index.count(strFile) != 0)
            continue;
        list.push_back({strFile, position, --nUse});
        index.emplace(list.back().strFile, std::prev(list.end()));
        pending.insert(strFile);
    }
    list.sort([](const SEntry& a, const SEntry& b) { return a.nUse > b.nUse; });
    while (list.size() > kMaxEntries)
        Remove(std::prev(list.end()));
    return true;
}

CPositionStore::CPositionStore()
    : m_pEntries(std::make_unique<SEntries>())
    , m_pDatabase(std::make_unique<SDatabase>())
{
}

CPositionStore::~CPositionStore() = default;

const std::string& CPositionStore::GetReadOnlyReason() const
{
    return m_strSessionReadOnly.empty() ? m_strUnreadable : m_strSessionReadOnly;
}

void CPositionStore::SetPath(const std::string& strPath, const std::string& strCarriedFrom)
{
    m_pDatabase->Close();
    m_pEntries->Clear();
    m_strPath = strPath;
    m_strDamagedCopy.clear();
    m_strUnreadable.clear();
    m_strError.clear();
    if (strPath.empty())
        return;
    OpenDatabase();
    sqlite3* pDb = m_pDatabase->pDb;
    const int nVersion = pDb ? UserVersion(pDb) : 0;
    if (!strCarriedFrom.empty() && nVersion < kCarriedOverVersion && GetReadOnlyReason().empty())
        CarryOver(strCarriedFrom);
}

void CPositionStore::OpenDatabase()
{
    struct stat st {};
    const bool bExists = ::stat(m_strPath.c_str(), &st) == 0;
    // A file that cannot be read is left as it is, and so is everything
    // while the session is read-only: then the database is only read.
    if (!bExists && errno != ENOENT && errno != ENOTDIR) {
        m_strUnreadable = Describe(m_strPath, errno);
        return;
    }
    if (bExists && ::access(m_strPath.c_str(), R_OK) != 0) {
        m_strUnreadable = Describe(m_strPath, errno);
        return;
    }
    const bool bReadOnly = !GetReadOnlyReason().empty();
    if (bReadOnly && !bExists)
        return;
    if (!bReadOnly) {
        gchar* pFolder = g_path_get_dirname(m_strPath.c_str());
        const std::string strFolder = pFolder;
        g_free(pFolder);
        if (g_mkdir_with_parents(strFolder.c_str(), 0700) != 0) {
            Fail(Describe(strFolder, errno));
            return;
        }
    }
    for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
        sqlite3*& pDb = m_pDatabase->pDb;
        const int nFlags = bReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        int nResult = sqlite3_open_v2(m_strPath.c_str(), &pDb, nFlags | SQLITE_OPEN_NOMUTEX, nullptr);
        if (nResult == SQLITE_OK) {
            sqlite3_busy_timeout(pDb, kBusyWaitMs);
            if (!bReadOnly) {
                nResult = Run(pDb, "PRAGMA journal_mode = WAL");
                if (nResult == SQLITE_OK)
                    nResult = Run(pDb, "PRAGMA synchronous = NORMAL");
                if (nResult == SQLITE_OK)
                    nResult = Run(pDb, kCreateTable);
                if (nResult == SQLITE_OK)
                    nResult = UpgradeSchema(pDb);
            }
            SEntries& entries = *m_pEntries;
            const char* strSelect = bReadOnly && !HasColumn(pDb, kAddedColumns[0][0]) ? kSelectFirstVersion : kSelectAll;
            if (nResult == SQLITE_OK) {
                nResult = Run(pDb, strSelect, {}, nullptr, [&entries](sqlite3_stmt* p) {
                    const auto* pPath = static_cast<const char*>(sqlite3_column_blob(p, 0));
                    const std::string strFile(pPath ? pPath : "", static_cast<size_t>(sqlite3_column_bytes(p, 0)));
                    const SPosition position{static_cast<uint64_t>(sqlite3_column_int64(p, 1)),
                        static_cast<uint64_t>(sqlite3_column_int64(p, 2)), static_cast<uint32_t>(sqlite3_column_int64(p, 3)),
                        static_cast<uint64_t>(sqlite3_column_int64(p, 4)), sqlite3_column_int64(p, 5),
                        sqlite3_column_int(p, 7), sqlite3_column_int64(p, 8)};
                    if (entries.list.size() < kMaxEntries)
                        entries.Append(strFile, position, sqlite3_column_int64(p, 6));
                });
            }
        }
        if (nResult == SQLITE_OK)
            return;
        const std::string strReason = m_strPath + ": " + (pDb ? sqlite3_errmsg(pDb) : sqlite3_errstr(nResult));
        m_pDatabase->Close();
        m_pEntries->Clear();
        // A file that is no database, or a damaged one: kept aside with what
        // SQLite keeps beside it, and a new one begun.
        if (bReadOnly || !IsDamage(nResult) || nAttempt > 0) {
            Fail(strReason);
            return;
        }
        m_strDamagedCopy = MoveAsideAsDamaged(m_strPath);
        if (m_strDamagedCopy.empty()) {
            Fail(Describe(m_strPath, errno));
            return;
        }
        for (const char* pSuffix : {"-wal", "-shm"})
            ::rename((m_strPath + pSuffix).c_str(), (m_strDamagedCopy + pSuffix).c_str());
    }
}

// Reads the file of earlier versions into the database and removes it; a
// damaged one is kept aside, one that cannot be read stays for a later start.
void CPositionStore::CarryOver(const std::string& strFile)
{
    CSettingsFile lines;
    const std::string strContent = lines.Open(strFile, kMaxLinesFileSize);
    if (!lines.GetReadOnlyReason().empty())
        return;
    struct stat st {};
    const bool bThere = ::lstat(strFile.c_str(), &st) == 0;
    if (!m_pEntries->LoadLines(strContent) || !lines.GetDamagedCopy().empty()) {
        m_strDamagedCopy = MoveAsideAsDamaged(strFile);
    } else if (bThere && S_ISREG(st.st_mode) && Flush()) {
        ::unlink(strFile.c_str());
    }
    if (m_pDatabase->pDb && Flush())
        Run(m_pDatabase->pDb, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
}

std::optional<CPositionStore::SPosition> CPositionStore::Find(const std::string& strFile) const
{
    const auto it = m_pEntries->index.find(strFile);
    if (it == m_pEntries->index.end())
        return std::nullopt;
    return it->second->position;
}

bool CPositionStore::Store(const std::string& strFile, const SPosition& position)
{
    if (m_strPath.empty())
        return false;
    SEntries& entries = *m_pEntries;
    const auto it = entries.index.find(strFile);
    if (it == entries.index.end()) {
        entries.list.push_front({strFile, position, entries.nNextUse++});
        entries.index.emplace(entries.list.front().strFile, entries.list.begin());
    } else {
        it->second->position = position;
        it->second->nUse = entries.nNextUse++;
        entries.list.splice(entries.list.begin(), entries.list, it->second);
    }
    entries.pending.insert(strFile);
    while (entries.list.size() > kMaxEntries)
        entries.Remove(std::prev(entries.list.end()));
    return Flush();
}

bool CPositionStore::Forget(const std::string& strFile)
{
    const auto it = m_pEntries->index.find(strFile);
    if (it != m_pEntries->index.end())
        m_pEntries->Remove(it->second);
    return m_pEntries->pending.empty() || Flush();
}

bool CPositionStore::Flush()
{
    if (!GetReadOnlyReason().empty())
        return Fail(GetReadOnlyReason());
    sqlite3* pDb = m_pDatabase->pDb;
    if (!pDb)
        return Fail(m_strError.empty() ? Describe(m_strPath, ENOENT) : m_strError);
    SEntries& entries = *m_pEntries;
    int nResult = Run(pDb, "BEGIN IMMEDIATE");
    for (auto it = entries.pending.begin(); nResult == SQLITE_OK && it != entries.pending.end(); ++it) {
        const auto entry = entries.index.find(*it);
        if (entry == entries.index.end()) {
            nResult = Run(pDb, kDelete, {}, &*it);
            continue;
        }
        const SPosition& position = entry->second->position;
        nResult = Run(pDb, kUpsert,
            {AsColumn(position.nFrame), AsColumn(position.nLengthFrames), position.nRate, AsColumn(position.nFileSize),
                position.nModifiedNs, entry->second->nUse, position.nSpeedIdx, position.nStoredMs},
            &*it);
    }
    if (nResult == SQLITE_OK)
        nResult = Run(pDb, "COMMIT");
    if (nResult != SQLITE_OK) {
        const std::string strReason = m_strPath + ": " + sqlite3_errmsg(pDb);
        Run(pDb, "ROLLBACK");
        return Fail(strReason);
    }
    entries.pending.clear();
    m_strError.clear();
    return true;
}

bool CPositionStore::Fail(const std::string& strError)
{
    m_strError = strError;
    return false;
}
