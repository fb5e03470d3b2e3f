// Paths handed from a second start of the player to the one that runs: over
// a Unix domain socket beside the single-instance lock file (its path with
// ".sock" added), which only the user can reach. A message is the paths, each
// ended by a zero byte; the running player answers a whole one with a byte
// of acknowledgement. Messages over kMaxHandOverBytes, from another user,
// with a path that is not absolute, or not complete in time are dropped.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

constexpr size_t kMaxHandOverBytes = 1 << 20;

// The running player's side, once it holds the lock: removes what an earlier
// player left at the socket's path and listens there (mode 0600). Returns the
// listening descriptor (non-blocking, closed on exec), or -1.
int ListenForHandOver(const std::string& strLockPath);
// Takes one waiting connection: the paths it handed over, or nothing when
// none waited or its message was dropped. Waits at most a second or two for
// a slow sender.
std::optional<std::vector<std::string>> ReceiveHandOver(int hListen);

// The second start's side: sends the absolute paths to the player listening
// beside strLockPath and waits for its acknowledgement. False when no player
// listens there (after a short wait for one that is starting), the message is
// too large, or no acknowledgement came in time.
bool HandOver(const std::string& strLockPath, const std::vector<std::string>& astrPaths);
