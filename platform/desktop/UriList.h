// What a drop from a file manager names: the local paths in a text/uri-list
// (RFC 2483), read with GLib's URI functions.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The paths in strText, in its order. Lines end in LF or CR LF; empty lines
// and those starting with '#' are comments. A "file:///path" or
// "file://localhost/path" line gives its path with the %XX escapes decoded;
// an escape that is malformed or stands for a zero byte or a '/' spoils its
// line. A line that is an absolute path already counts as itself, undecoded.
// Every other line (another host, another scheme, a relative path) is left out.
std::vector<std::string> PathsOfUriList(const std::string& strText);
