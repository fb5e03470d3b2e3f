// Paths handed from a second start of the player to the one that runs: over
// a Unix domain socket in the runtime folder, found from the single-instance
// lock file, which only the user can reach. A message is the paths, each
// ended by a zero byte; the running player answers a whole one with a byte
// of acknowledgement. Messages over kMaxHandOverBytes, from another user,
// with a path that is not absolute, or not complete in time are dropped.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

constexpr size_t kMaxHandOverBytes = 1 << 20;

// The socket of the player that holds the lock file at strLockPath: in
// $XDG_RUNTIME_DIR (else the system's temporary folder), named after the lock
// file's name, the user and the file's device and inode, so that every path
// to one lock file leads to one socket. Empty when the lock file is not there.
std::string GetHandOverSocketPath(const std::string& strLockPath);

// The running player's side, once it holds the lock: removes what an earlier
// player left at the socket's path and listens there (mode 0600). Returns the
// listening descriptor (non-blocking, closed on exec), or -1.
int ListenForHandOver(const std::string& strLockPath);
// Takes one waiting connection: the paths it handed over, or nothing when
// none waited or its message was dropped. Waits at most a second or two for
// a slow sender.
std::optional<std::vector<std::string>> ReceiveHandOver(int hListen);

// The second start's side: sends the absolute paths to the player that holds
// the lock file at strLockPath and waits for its acknowledgement. False when no player
// listens there (after a short wait for one that is starting), the message is
// too large, or no acknowledgement came in time.
bool HandOver(const std::string& strLockPath, const std::vector<std::string>& astrPaths);
