// What the settings file and the positions file share: how they are read
// (never blocking, never a file too large to be ours), how a string of any
// bytes becomes one line of text in them, and how they are replaced.
//
// A save writes .<name>.tmp-XXXXXX beside the file, locked with flock while it
// is written, flushes it to disk and renames it over the file, so a crash or
// a kill at any moment leaves the old or the new file, never a broken one.
// Opening the file removes what interrupted saves left: only those whose lock
// is free, never a save under way in another process. A link is followed:
// its target is written and keeps its mode. A file without write permission
// is not replaced; the save fails.
//
// Nothing is lost. A file that is there but holds no settings is damaged: the
// first save moves it to <file>.damaged, else .damaged.2, .damaged.3, ...,
// never over an earlier copy. A file that cannot be read is not damaged: the
// session is read-only, as is one the owner makes read-only (without the
// single-instance lock); then every save is refused and the file stays as it is.
#pragma once

#include <cstddef>
#include <string>

class CSettingsFile {
public:
    // Chooses the file and reads it: its content, or nothing when it is
    // missing, damaged (larger than nMaxSize) or cannot be read. Something
    // else in its place (a folder, a FIFO) reads as nothing and is left alone.
    std::string Open(const std::string& strPath, size_t nMaxSize);
    const std::string& GetPath() const { return m_strPath; }

    // The content Open gave is no settings: it goes aside at the first save.
    void SetDamaged();
    // Where the first save moves the damaged file; empty when nothing is damaged.
    const std::string& GetDamagedCopy() const { return m_strDamagedCopy; }

    // Refuses every save for the rest of the session; strReason says why.
    // Open then removes nothing either.
    void SetReadOnly(const std::string& strReason) { m_strSessionReadOnly = strReason; }
    // Why saves are refused ("<file>: <the system's reason>"); empty while they are not.
    const std::string& GetReadOnlyReason() const;

    // Replaces the file with strContent, making its folder when needed. False
    // when it cannot; GetError then names the file and the reason.
    bool Replace(const std::string& strContent);
    const std::string& GetError() const { return m_strError; }

private:
    bool Fail(const std::string& strError);

    std::string m_strPath;
    std::string m_strDamagedCopy;
    // The file there could not be read.
    std::string m_strUnreadable;
    std::string m_strSessionReadOnly;
    std::string m_strError;
};

// Moves a damaged file to the first free <file>.damaged, .damaged.2, ...,
// never over an earlier copy; its new name, or empty when it could not be moved.
std::string MoveAsideAsDamaged(const std::string& strPath);

// Any bytes as valid UTF-8 text without control characters: GLib's key file
// escapes (\s for a space at either end, \\ \n \r \t) and \xHH for each other
// control character and each byte outside valid UTF-8. GLib never writes \x,
// so a value cannot be mistaken for one of its own.
std::string EscapeBytes(const std::string& str);
// The reverse of EscapeBytes and of GLib's escaping; other bytes, including
// ones that are not UTF-8 written by hand, are taken as they are. False for
// an escape that is neither.
bool UnescapeBytes(const char* p, std::string& strOut);
