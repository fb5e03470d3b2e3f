// The per-user profile that stands in for the handheld platform's registry:
// one key file, $XDG_CONFIG_HOME/<registry key>/<application name>.conf
// (~/.config when the variable is unset, empty or not absolute), one group per
// section. GLib's key file does the parsing, the escaping of strings
// (newlines, backslashes, leading spaces survive) and the atomic replace: a
// temporary file is written, flushed to disk when it replaces an existing
// file, and renamed, so a crash or a kill at any moment leaves the old or the
// new settings, never a broken file. Strings the key file cannot carry as
// they are (bytes that are not UTF-8, control characters) are stored with
// \xHH escapes of our own, so any path survives.
//
// Integers are written as unsigned 32-bit decimals and read back as 32-bit
// values. A missing, unreadable or damaged file reads as defaults and never
// stops the program; a damaged or unreadable one is kept beside the new
// file as <file>.damaged when the settings are first saved. User-interface thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

class CProfileStore {
public:
    CProfileStore();
    ~CProfileStore();
    CProfileStore(const CProfileStore&) = delete;
    CProfileStore& operator=(const CProfileStore&) = delete;

    // Chooses the file for registry key strKey and application strAppName and
    // reads it, dropping values not yet saved; until then (and when a name is
    // empty, "." or "..", or holds a '/') every read gives its default and
    // writes fail.
    void SetLocation(const std::string& strKey, const std::string& strAppName);
    // The key file's full path; empty before SetLocation.
    const std::string& GetPath() const { return m_strPath; }
    // The file was there but held no settings (it is kept aside at the first save).
    bool IsDamaged() const { return m_bKeepDamagedFile; }

    // The stored value taken as a 32-bit integer, or nDefault when the value
    // is missing or not a whole number that fits in 32 bits.
    int GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault) const;
    std::string GetProfileString(const std::string& strSection, const std::string& strEntry,
                                 const std::string& strDefault) const;
    // The names of the entries stored in a section, in file order.
    std::vector<std::string> GetEntryNames(const std::string& strSection) const;
    // Store the value (an integer as its unsigned 32-bit pattern) and replace
    // the file when that changes it, unless a batch is open. False when the
    // file cannot be written; the value is kept in memory all the same. False,
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
    std::string m_strPath;
    int m_nBatchDepth = 0;
    bool m_bDirty = false;
    // The file on disk is there but not settings; the first save keeps it
    // as <file>.damaged before replacing it.
    bool m_bKeepDamagedFile = false;
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
