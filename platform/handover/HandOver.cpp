#include "HandOver.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kAcknowledgement = 'K';
// A sender writes its whole message at once; one that has not ended it in
// this time is dropped.
constexpr milliseconds kReceiveTimeout(1500);
// A player that is starting takes the lock a moment before it listens.
constexpr milliseconds kConnectTimeout(3000);
constexpr milliseconds kConnectRetry(50);
// The running player answers from its loop, which a long gathering of
// folders may hold up.
constexpr int kAcknowledgeTimeoutSeconds = 20;

// False when the path does not fit into an address.
bool MakeAddress(const std::string& strPath, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (strPath.empty() || strPath.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, strPath.c_str(), strPath.size() + 1);
    return true;
}

class CSocket {
public:
    explicit CSocket(int hSocket)
        : m_hSocket(hSocket)
    {
    }
    ~CSocket()
    {
        if (m_hSocket >= 0)
            ::close(m_hSocket);
    }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    int Get() const { return m_hSocket; }

private:
    int m_hSocket;
};

bool IsFromThisUser(int hConnection)
{
    ucred credentials {};
    socklen_t nLength = sizeof credentials;
    return ::getsockopt(hConnection, SOL_SOCKET, SO_PEERCRED, &credentials, &nLength) == 0 &&
        credentials.uid == ::geteuid();
}

std::optional<std::vector<std::string>> PathsOfMessage(const std::string& strMessage)
{
    if (strMessage.empty() || strMessage.back() != '\0')
        return std::nullopt;
    std::vector<std::string> astrPaths;
    for (size_t nStart = 0; nStart < strMessage.size();) {
        const size_t nEnd = strMessage.find('\0', nStart);
        if (strMessage[nStart] != '/')
            return std::nullopt;
        astrPaths.push_back(strMessage.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    return astrPaths;
}

bool SendAll(int hSocket, const std::string& strData)
{
    for (size_t nSent = 0; nSent < strData.size();) {
        const ssize_t n = ::send(hSocket, strData.data() + nSent, strData.size() - nSent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR)
            return false;
        nSent += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

// A socket of ours at strPath, connected; -1 when none takes the connection
// in time, or at once when what stands at the path is no socket of ours.
int ConnectToPlayer(const std::string& strPath, std::string& strWhy)
{
    sockaddr_un address;
    if (!MakeAddress(strPath, address)) {
        strWhy = strPath + ": " + std::strerror(ENAMETOOLONG);
        return -1;
    }
    const auto deadline = Clock::now() + kConnectTimeout;
    for (;;) {
        // In a shared temporary folder the socket must be ours, not one
        // planted to read our paths.
        struct stat status {};
        const bool bThere = ::lstat(strPath.c_str(), &status) == 0;
        if (bThere && (!S_ISSOCK(status.st_mode) || status.st_uid != ::geteuid())) {
            strWhy = strPath + ": " + (S_ISSOCK(status.st_mode) ? "a socket of another user" : "not a socket");
            return -1;
        }
        if (bThere) {
            const int hSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (hSocket < 0) {
                strWhy = std::string("socket: ") + std::strerror(errno);
                return -1;
            }
            if (::connect(hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
                return hSocket;
            strWhy = strPath + ": " + std::strerror(errno);
            ::close(hSocket);
        } else {
            strWhy = strPath + ": no player listens there";
        }
        if (Clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(kConnectRetry);
    }
}

} // namespace

std::string GetHandOverSocketPath(const std::string& strLockPath)
{
    struct stat status {};
    if (::stat(strLockPath.c_str(), &status) != 0)
        return {};
    // The temporary folder is shared by all users, hence the user in the name.
    const char* strRuntime = std::getenv("XDG_RUNTIME_DIR");
    const char* strTemp = std::getenv("TMPDIR");
    const std::string strFolder = strRuntime && strRuntime[0] == '/' ? strRuntime
        : strTemp && strTemp[0] == '/' ? strTemp : "/tmp";
    return strFolder + "/" + strLockPath.substr(strLockPath.rfind('/') + 1) + "-" + std::to_string(::geteuid()) + "-" +
        std::to_string(status.st_dev) + "-" + std::to_string(status.st_ino) + ".sock";
}

CHandOverServer::~CHandOverServer()
{
    Close();
}

namespace {

// The sockets of players of other settings (the same name up to the lock
// file's device and inode) that no player listens at any more.
void RemoveStaleSockets(const std::string& strPath)
{
    const std::filesystem::path path(strPath);
    const std::string strName = path.filename().string();
    // "<lock name>-<user>-" is what they share.
    const size_t nUserEnd = strName.find('-', strName.find('-') + 1);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path(), error)) {
        const std::string strOther = entry.path().filename().string();
        if (strOther == strName || strOther.compare(0, nUserEnd + 1, strName, 0, nUserEnd + 1) != 0
            || strOther.size() < 5 || strOther.compare(strOther.size() - 5, 5, ".sock") != 0)
            continue;
        struct stat status {};
        sockaddr_un address;
        if (::lstat(entry.path().c_str(), &status) != 0 || !S_ISSOCK(status.st_mode) || status.st_uid != ::geteuid()
            || !MakeAddress(entry.path().string(), address))
            continue;
        const CSocket probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (probe.Get() >= 0 && ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
            && errno == ECONNREFUSED)
            ::unlink(entry.path().c_str());
    }
}

} // namespace

bool CHandOverServer::Listen(const std::string& strLockPath, std::string& strError)
{
    Close();
    const std::string strPath = GetHandOverSocketPath(strLockPath);
    sockaddr_un address;
    if (!MakeAddress(strPath, address)) {
        strError = (strPath.empty() ? strLockPath : strPath) + ": " + std::strerror(strPath.empty() ? ENOENT : ENAMETOOLONG);
        return false;
    }
    const int hSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (hSocket < 0) {
        strError = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    // The lock is ours: whatever is there was left by a player that ended.
    ::unlink(strPath.c_str());
    RemoveStaleSockets(strPath);
    // Made with its final mode, so that nobody else connects in between.
    const mode_t nOldMask = ::umask(0177);
    const bool bBound = ::bind(hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(nOldMask);
    if (!bBound || ::listen(hSocket, SOMAXCONN) != 0) {
        strError = strPath + ": " + std::strerror(errno);
        ::close(hSocket);
        return false;
    }
    m_hListen = hSocket;
    m_strPath = strPath;
    return true;
}

std::vector<int> CHandOverServer::Accept()
{
    std::vector<int> ahNew;
    while (m_hListen >= 0 && !IsFull()) {
        const int hConnection = ::accept4(m_hListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (hConnection < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            break;
        }
        if (!IsFromThisUser(hConnection)) {
            ::close(hConnection);
            continue;
        }
        m_aConnections.push_back({hConnection, std::string(), Clock::now() + kReceiveTimeout});
        ahNew.push_back(hConnection);
    }
    return ahNew;
}

std::optional<std::vector<std::string>> CHandOverServer::Read(int hConnection, bool& bClosed)
{
    bClosed = false;
    size_t nConnection = 0;
    while (nConnection < m_aConnections.size() && m_aConnections[nConnection].hSocket != hConnection)
        ++nConnection;
    if (nConnection == m_aConnections.size()) {
        bClosed = true;
        return std::nullopt;
    }
    std::string& strMessage = m_aConnections[nConnection].strMessage;
    char achBuffer[16384];
    for (;;) {
        const ssize_t nRead = ::read(hConnection, achBuffer, sizeof achBuffer);
        if (nRead > 0) {
            strMessage.append(achBuffer, static_cast<size_t>(nRead));
            if (strMessage.size() <= kMaxHandOverBytes)
                continue;
        } else if (nRead < 0 && errno == EINTR) {
            continue;
        } else if (nRead < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return std::nullopt;
        }
        break;
    }
    // The sender's end of writing, an error or too much: the message is whole or dropped.
    std::optional<std::vector<std::string>> astrPaths
        = strMessage.size() <= kMaxHandOverBytes ? PathsOfMessage(strMessage) : std::nullopt;
    if (astrPaths)
        ::send(hConnection, &kAcknowledgement, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    Drop(nConnection);
    bClosed = true;
    return astrPaths;
}

std::vector<int> CHandOverServer::DropLate()
{
    std::vector<int> ahDropped;
    const auto now = Clock::now();
    for (size_t i = m_aConnections.size(); i-- > 0;) {
        if (m_aConnections[i].deadline <= now) {
            ahDropped.push_back(m_aConnections[i].hSocket);
            Drop(i);
        }
    }
    return ahDropped;
}

void CHandOverServer::Drop(size_t nConnection)
{
    ::close(m_aConnections[nConnection].hSocket);
    m_aConnections.erase(m_aConnections.begin() + static_cast<std::ptrdiff_t>(nConnection));
}

void CHandOverServer::Close()
{
    while (!m_aConnections.empty())
        Drop(m_aConnections.size() - 1);
    if (m_hListen < 0)
        return;
    ::close(m_hListen);
    m_hListen = -1;
    ::unlink(m_strPath.c_str());
}

bool HandOver(const std::string& strLockPath, const std::vector<std::string>& astrPaths, std::string& strWhy)
{
    std::string strMessage;
    for (const std::string& strPath : astrPaths)
        strMessage += strPath + '\0';
    if (strMessage.size() > kMaxHandOverBytes) {
        strWhy = "the paths are too many (" + std::to_string(strMessage.size()) + " bytes)";
        return false;
    }
    const std::string strSocket = GetHandOverSocketPath(strLockPath);
    if (strSocket.empty()) {
        strWhy = strLockPath + ": " + std::strerror(ENOENT);
        return false;
    }
    const CSocket connection(ConnectToPlayer(strSocket, strWhy));
    if (connection.Get() < 0)
        return false;
    const timeval timeout {kAcknowledgeTimeoutSeconds, 0};
    ::setsockopt(connection.Get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ::setsockopt(connection.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (!SendAll(connection.Get(), strMessage) || ::shutdown(connection.Get(), SHUT_WR) != 0) {
        strWhy = strSocket + ": " + std::strerror(errno);
        return false;
    }
    char chAnswer = 0;
    ssize_t nRead;
    do {
        nRead = ::recv(connection.Get(), &chAnswer, 1, 0);
    } while (nRead < 0 && errno == EINTR);
    if (nRead == 1 && chAnswer == kAcknowledgement)
        return true;
    strWhy = strSocket + ": the player did not answer";
    return false;
}
