// Paths handed from a second start of the player to the one that runs: over
// a Unix domain socket in the runtime folder, found from the single-instance
// lock file, which only the user can reach. A message is the paths, each
// ended by a zero byte; the running player answers a whole one with a byte
// of acknowledgement. Messages over kMaxHandOverBytes, from another user,
// with a path that is not absolute, or not complete in time are dropped.
#pragma once

#include <chrono>
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

// The running player's side. Nothing here ever waits: the event loop watches
// the descriptors it hands out and calls back when they turn readable, and a
// timer drops connections that take too long, so that no client, however slow
// or hostile, holds up the sound or the window. At most kMaxConnections are
// served at once; more wait in the socket's queue. User-interface thread only.
class CHandOverServer {
public:
    static constexpr size_t kMaxConnections = 16;

    CHandOverServer() = default;
    ~CHandOverServer();
    CHandOverServer(const CHandOverServer&) = delete;
    CHandOverServer& operator=(const CHandOverServer&) = delete;

    // Once the player holds the lock: removes what an earlier player left at
    // the socket's path, and the sockets of players of other settings that
    // ended without removing theirs, and listens there (mode 0600). False,
    // with the reason in strError, when it cannot.
    bool Listen(const std::string& strLockPath, std::string& strError);
    // The listening descriptor, -1 before Listen.
    int GetListener() const { return m_hListen; }
    // Whether it serves as many connections as it takes.
    bool IsFull() const { return m_aConnections.size() >= kMaxConnections; }
    // Takes the waiting connections while there is room: their descriptors
    // (non-blocking), for the loop to watch.
    std::vector<int> Accept();
    // Reads what the connection has sent. Once its message is whole, the paths
    // (acknowledged to the sender); nothing before, or when it was malformed.
    // bClosed tells that the connection is done and closed: the loop forgets it.
    std::optional<std::vector<std::string>> Read(int hConnection, bool& bClosed);
    // Closes the connections whose message has not come in time; their descriptors.
    std::vector<int> DropLate();
    // Closes everything and removes the socket.
    void Close();

private:
    struct SConnection {
        int hSocket;
        std::string strMessage;
        std::chrono::steady_clock::time_point deadline;
    };
    void Drop(size_t nConnection);

    int m_hListen = -1;
    std::string m_strPath;
    std::vector<SConnection> m_aConnections;
};

// The second start's side: sends the absolute paths to the player that holds
// the lock file at strLockPath and waits for its acknowledgement. False, with
// the reason in strWhy, when no player listens there (after a short wait for
// one that is starting; at once when something else stands at the socket's
// path), the message is too large, or no acknowledgement came in time.
bool HandOver(const std::string& strLockPath, const std::vector<std::string>& astrPaths, std::string& strWhy);
