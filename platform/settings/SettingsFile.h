// What the settings file and the positions file share: how they are read
// (never blocking, never a file too large to be ours), how a string of any
// bytes becomes one line of text in them, and how they are replaced: a
// temporary file is written, flushed to disk when it replaces an existing
// file, and renamed, so a crash or a kill at any moment leaves the old or the
// new file, never a broken one.
#pragma once

#include <cstddef>
#include <string>

// Reads a regular file of at most nMaxSize bytes into strContent. False when
// it cannot; bDamaged then tells that a regular file is there all the same
// (to be kept aside at the next save) rather than nothing, or something else
// that is left alone (a folder, a FIFO).
bool ReadSettingsFile(const std::string& strPath, size_t nMaxSize, std::string& strContent, bool& bDamaged);

// Replaces the file with strContent, making its folder when needed. When
// bKeepDamaged is set, the file there is first moved to <file>.damaged,
// where the user can still look at it, and the flag cleared once it is gone.
bool ReplaceSettingsFile(const std::string& strPath, const std::string& strContent, bool& bKeepDamaged);

// Any bytes as valid UTF-8 text without control characters: GLib's key file
// escapes (\s for a space at either end, \\ \n \r \t) and \xHH for each other
// control character and each byte outside valid UTF-8. GLib never writes \x,
// so a value cannot be mistaken for one of its own.
std::string EscapeBytes(const std::string& str);
// The reverse of EscapeBytes and of GLib's escaping; other bytes, including
// ones that are not UTF-8 written by hand, are taken as they are. False for
// an escape that is neither.
bool UnescapeBytes(const char* p, std::string& strOut);
