#include "HandOver.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kAcknowledgement = 'K';
// A sender writes its whole message at once; one that takes longer stalls
// the player's loop, which waits for it, no longer than this.
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

// The whole message up to the sender's end of writing; nothing when it grows
// too large or does not end in time.
std::optional<std::string> ReadMessage(int hConnection)
{
    const auto deadline = Clock::now() + kReceiveTimeout;
    std::string strMessage;
    char achBuffer[16384];
    for (;;) {
        const ssize_t nRead = ::read(hConnection, achBuffer, sizeof achBuffer);
        if (nRead == 0)
            return strMessage;
        if (nRead > 0) {
            strMessage.append(achBuffer, static_cast<size_t>(nRead));
            if (strMessage.size() > kMaxHandOverBytes)
                return std::nullopt;
            continue;
        }
        if (errno == EINTR)
            continue;
        const auto nLeft = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || nLeft <= 0)
            return std::nullopt;
        pollfd wait {hConnection, POLLIN, 0};
        ::poll(&wait, 1, static_cast<int>(nLeft));
    }
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

// A socket of ours at strPath, connected; -1 when none takes the connection in time.
int ConnectToPlayer(const std::string& strPath)
{
    sockaddr_un address;
    if (!MakeAddress(strPath, address))
        return -1;
    const auto deadline = Clock::now() + kConnectTimeout;
    for (;;) {
        // In a shared temporary folder the socket must be ours, not one
        // planted to read our paths.
        struct stat status {};
        if (::lstat(strPath.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) && status.st_uid == ::geteuid()) {
            const int hSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (hSocket < 0)
                return -1;
            if (::connect(hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
                return hSocket;
            ::close(hSocket);
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

int ListenForHandOver(const std::string& strLockPath)
{
    const std::string strPath = GetHandOverSocketPath(strLockPath);
    sockaddr_un address;
    if (!MakeAddress(strPath, address))
        return -1;
    const int hSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (hSocket < 0)
        return -1;
    // The lock is ours: whatever is there was left by a player that ended.
    ::unlink(strPath.c_str());
    // Made with its final mode, so that nobody else connects in between.
    const mode_t nOldMask = ::umask(0177);
    const bool bBound = ::bind(hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(nOldMask);
    if (!bBound || ::listen(hSocket, SOMAXCONN) != 0) {
        ::close(hSocket);
        return -1;
    }
    return hSocket;
}

std::optional<std::vector<std::string>> ReceiveHandOver(int hListen)
{
    const CSocket connection(::accept4(hListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (connection.Get() < 0 || !IsFromThisUser(connection.Get()))
        return std::nullopt;
    const std::optional<std::string> strMessage = ReadMessage(connection.Get());
    std::optional<std::vector<std::string>> astrPaths = strMessage ? PathsOfMessage(*strMessage) : std::nullopt;
    if (astrPaths)
        ::send(connection.Get(), &kAcknowledgement, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    return astrPaths;
}

bool HandOver(const std::string& strLockPath, const std::vector<std::string>& astrPaths)
{
    std::string strMessage;
    for (const std::string& strPath : astrPaths)
        strMessage += strPath + '\0';
    if (strMessage.size() > kMaxHandOverBytes)
        return false;
    const CSocket connection(ConnectToPlayer(GetHandOverSocketPath(strLockPath)));
    if (connection.Get() < 0)
        return false;
    const timeval timeout {kAcknowledgeTimeoutSeconds, 0};
    ::setsockopt(connection.Get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ::setsockopt(connection.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (!SendAll(connection.Get(), strMessage) || ::shutdown(connection.Get(), SHUT_WR) != 0)
        return false;
    char chAnswer = 0;
    ssize_t nRead;
    do {
        nRead = ::recv(connection.Get(), &chAnswer, 1, 0);
    } while (nRead < 0 && errno == EINTR);
    return nRead == 1 && chAnswer == kAcknowledgement;
}
