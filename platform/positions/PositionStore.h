// Where the listener stopped in each file, in an SQLite database beside the
// settings file, keyed by the file's path, in frames of the file's own time
// (so positions survive speed changes). It holds the most recently used
// entries only.
//
// A store writes one row in SQLite's write-ahead log, a few kilobytes
// however many files are remembered, and a kill at any moment loses at most
// that store. A database that is damaged is kept aside (<file>.damaged,
// .damaged.2, ...) and a new one begun; one that cannot be read makes the
// session read-only and is left alone, as is everything while the session
// is read-only (without the single-instance lock). The line-per-entry file
// of earlier versions is read once, carried over and removed. A database of
// the first version, without the speeds and times, gains them in place when
// the session may write, and stays readable to the first version's program.
//
// The entries are kept in memory too: a store that cannot be written keeps
// the position all the same and writes it with the next store that can.
// SQLite stands behind this class only. User-interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class CPositionStore {
public:
    static constexpr size_t kMaxEntries = 5000;
    static constexpr int kNoSpeed = -1;

    struct SPosition {
        uint64_t nFrame = 0;
        uint64_t nLengthFrames = 0;
        // The file's sample rate, for showing the place while nothing plays;
        // 0 where unknown.
        uint32_t nRate = 0;
        // The file as it was when the position was stored: one whose size or
        // modification time (in nanoseconds) differs has changed. Both 0 for
        // an entry carried over from a file of an earlier version.
        uint64_t nFileSize = 0;
        int64_t nModifiedNs = 0;
        // The speed step the file last played at; kNoSpeed where none was
        // stored (by the first version of the database).
        int nSpeedIdx = kNoSpeed;
        // When the place was stored, in milliseconds since 1970; 0 where unknown.
        int64_t nStoredMs = 0;
    };

    CPositionStore();
    ~CPositionStore();
    CPositionStore(const CPositionStore&) = delete;
    CPositionStore& operator=(const CPositionStore&) = delete;

    // Chooses the database and reads it, dropping what was in memory; until
    // then (and with an empty path) nothing is found and stores fail.
    // strCarriedFrom names the file of an earlier version, read when the
    // database has not had it yet.
    void SetPath(const std::string& strPath, const std::string& strCarriedFrom = "");
    const std::string& GetPath() const { return m_strPath; }
    // Nothing is written for the rest of the session; strReason says why.
    // Call before SetPath.
    void SetReadOnly(const std::string& strReason) { m_strSessionReadOnly = strReason; }
    // Why stores are refused ("<file>: <the system's reason>"); empty while they are not.
    const std::string& GetReadOnlyReason() const;
    // Where a damaged database (or carried-over file) was moved; empty when none was.
    const std::string& GetDamagedCopy() const { return m_strDamagedCopy; }
    // Why the last store failed.
    const std::string& GetError() const { return m_strError; }

    // Looking an entry up leaves its place in the order of use.
    std::optional<SPosition> Find(const std::string& strFile) const;
    // Stores the position as the most recent entry, dropping the least
    // recently used beyond kMaxEntries. False when it cannot be written
    // (the position is kept in memory all the same).
    bool Store(const std::string& strFile, const SPosition& position);
    // Removes the entry (a file that played to its end starts anew). False
    // when that cannot be written.
    bool Forget(const std::string& strFile);

private:
    struct SEntries;
    struct SDatabase;

    void OpenDatabase();
    void CarryOver(const std::string& strFile);
    // Writes what memory holds that the database does not have yet.
    bool Flush();
    bool Fail(const std::string& strError);

    std::unique_ptr<SEntries> m_pEntries;
    std::unique_ptr<SDatabase> m_pDatabase;
    std::string m_strPath;
    std::string m_strDamagedCopy;
    std::string m_strUnreadable;
    std::string m_strSessionReadOnly;
    std::string m_strError;
};
