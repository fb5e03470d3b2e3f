// The per-user profile that stands in for the handheld platform's registry:
// one key file, $XDG_CONFIG_HOME/<registry key>/<application name>.conf
// (~/.config when the variable is unset, empty or not absolute, and the home
// folder of the user database when $HOME is too), one group per section.
// GLib's key file does the parsing and the escaping of strings (newlines,
// backslashes, leading spaces survive); CSettingsFile the reading, the atomic
// replace and what becomes of damaged, unreadable and read-only files.
// Strings the key file cannot carry as they are (bytes that are not UTF-8,
// control characters) are stored with \xHH escapes of our own, so any path
// survives.
//
// Integers are written as unsigned 32-bit decimals and read back as 32-bit
// values. A missing, unreadable or damaged file reads as defaults and never
// stops the program. User-interface thread only.
#pragma once

#include "SettingsFile.h"

#include <memory>
#include <string>
#include <vector>

class CProfileStore {
public:
    CProfileStore();
    ~CProfileStore();
    CProfileStore(const CProfileStore&) = delete;
    CProfileStore& operator=(const CProfileStore&) = delete;

    // The key file's full path for registry key strKey and application
    // strAppName; empty when a name is empty, "." or "..", or holds a '/'.
    static std::string LocationOf(const std::string& strKey, const std::string& strAppName);
    // Chooses that file and reads it, dropping values not yet saved; until
    // then (and without a path) every read gives its default and writes fail.
    void SetLocation(const std::string& strKey, const std::string& strAppName);
    // The key file's full path; empty before SetLocation.
    const std::string& GetPath() const { return m_file.GetPath(); }
    // What became of the file: damaged, read-only, why the last save failed.
    const CSettingsFile& GetFile() const { return m_file; }
    // Nothing is written for the rest of the session (see CSettingsFile).
    void SetReadOnly(const std::string& strReason) { m_file.SetReadOnly(strReason); }

    // The stored value taken as a 32-bit integer, or nDefault when the value
    // is missing or not a whole number that fits in 32 bits.
    int GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault) const;
    std::string GetProfileString(const std::string& strSection, const std::string& strEntry,
                                 const std::string& strDefault) const;
    // The names of the entries stored in a section, in file order.
    std::vector<std::string> GetEntryNames(const std::string& strSection) const;
    // Store the value (an integer as its unsigned 32-bit pattern) and replace
    // the file when that changes it, unless a batch is open. False when the
    // file cannot be written (GetFile() tells why); the value is kept in
    // memory all the same. False,
    // and nothing stored, for a section or entry name the file cannot hold
    // (empty, not UTF-8, control characters, '[', ']', an entry with '=', a
    // leading '#' or spaces at its ends, and "Encoding" in the first section
    // unless it is "UTF-8", which would make GLib refuse the whole file).
    bool WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue);
    bool WriteProfileString(const std::string& strSection, const std::string& strEntry, const std::string& strValue);

    // While a batch is open, writes only change the values in memory; the end
    // of the outermost batch replaces the file once, with all of them, if
    // anything changed. False when that save fails.
    void BeginBatch();
    bool EndBatch();

private:
    bool Store(const std::string& strSection, const std::string& strEntry, const std::string& strRawValue);
    bool Save();

    struct SKeyFile;
    std::unique_ptr<SKeyFile> m_pKeyFile;
    CSettingsFile m_file;
    int m_nBatchDepth = 0;
    bool m_bDirty = false;
};

// Opens a batch for the lifetime of the object.
class CProfileBatch {
public:
    explicit CProfileBatch(CProfileStore& store)
        : m_store(store)
    {
        m_store.BeginBatch();
    }
    ~CProfileBatch() { m_store.EndBatch(); }
    CProfileBatch(const CProfileBatch&) = delete;
    CProfileBatch& operator=(const CProfileBatch&) = delete;

private:
    CProfileStore& m_store;
};
