// Where the listener stopped in each file: a file of its own beside the
// settings file, keyed by the file's path, in frames of the file's own time
// (so positions survive speed changes). It holds the most recently used
// entries only, and is replaced at each change, like the settings and with
// the same care (CSettingsFile): a missing, damaged or unreadable file reads
// as empty, a damaged one is kept aside and an unreadable one left alone.
// User-interface thread only.
#pragma once

#include "SettingsFile.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class CPositionStore {
public:
    static constexpr size_t kMaxEntries = 5000;

    struct SPosition {
        uint64_t nFrame = 0;
        // The length of the file when the position was stored: a file that
        // changed since starts anew.
        uint64_t nLengthFrames = 0;
    };

    CPositionStore();
    ~CPositionStore();
    CPositionStore(const CPositionStore&) = delete;
    CPositionStore& operator=(const CPositionStore&) = delete;

    // Chooses the file and reads it, dropping what was in memory; until then
    // (and with an empty path) nothing is found and stores fail.
    void SetPath(const std::string& strPath);
    const std::string& GetPath() const { return m_file.GetPath(); }
    // What became of the file: damaged, read-only, why the last save failed.
    const CSettingsFile& GetFile() const { return m_file; }
    // Nothing is written for the rest of the session (see CSettingsFile).
    void SetReadOnly(const std::string& strReason) { m_file.SetReadOnly(strReason); }

    // Looking an entry up leaves its place in the order of use.
    std::optional<SPosition> Find(const std::string& strFile) const;
    // Stores the position as the most recent entry, dropping the least
    // recently used beyond kMaxEntries, and replaces the file. False when the
    // file cannot be written (the position is kept in memory all the same).
    bool Store(const std::string& strFile, const SPosition& position);
    // Removes the entry (a file that played to its end starts anew). False
    // when the file cannot be written.
    bool Forget(const std::string& strFile);

private:
    bool Save();

    struct SEntries;
    std::unique_ptr<SEntries> m_pEntries;
    CSettingsFile m_file;
    // Memory holds changes the file does not have yet (a save failed).
    bool m_bDirty = false;
};
