#include "Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// ---------------------------------------------------------------- mutex

uint32_t g_nMutexLastError = 0;

bool IsAbsoluteDir(const char* strDir)
{
    return strDir && strDir[0] == '/';
}

} // namespace

std::string GetNamedMutexPath(const std::string& strName)
{
    // A slash would lead out of the folder; every other byte is a valid name.
    std::string strFile = strName;
    for (char& c : strFile) {
        if (c == '/')
            c = '_';
    }
    const char* strRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (IsAbsoluteDir(strRuntime))
        return std::string(strRuntime) + "/" + strFile + ".lock";
    // The temporary folder is shared by all users: the uid keeps them apart.
    const char* strTemp = std::getenv("TMPDIR");
    std::string strDir = IsAbsoluteDir(strTemp) ? strTemp : "/tmp";
    return strDir + "/" + strFile + "-" + std::to_string(static_cast<unsigned long>(::geteuid())) + ".lock";
}

bool CreateNamedMutex(const std::string& strName)
{
    g_nMutexLastError = 0;
    if (strName.empty())
        return true; // an unnamed mutex: nobody else can ask for it
    const std::string strPath = GetNamedMutexPath(strName);
    // O_NOFOLLOW: a link planted in a shared folder must not make us create
    // or lock a file elsewhere. O_NONBLOCK: a planted FIFO must not hang us.
    int hFile = ::open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    if (hFile < 0)
        return false;
    struct stat st {};
    if (::fstat(hFile, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(hFile);
        return false;
    }
    int nResult;
    do {
        nResult = ::flock(hFile, LOCK_EX | LOCK_NB);
    } while (nResult != 0 && errno == EINTR);
    if (nResult != 0) {
        const bool bHeld = errno == EWOULDBLOCK;
        ::close(hFile); // nothing held through it
        if (!bHeld)
            return false;
        g_nMutexLastError = ERROR_ALREADY_EXISTS;
        return true;
    }
    // Deliberately never closed: the lock lasts as long as the process and
    // the kernel drops it when the process ends, however it ends.
    return true;
}

uint32_t GetLastErrorOfMutex()
{
    return g_nMutexLastError;
}

// ---------------------------------------------------------------- X11

namespace {

enum EAtom {
    kAtomWmState,
    kAtomNetWmName,
    kAtomUtf8String,
    kAtomNetSupported,
    kAtomNetActiveWindow,
    kAtomNetSupportingWmCheck,
    kAtomCount
};

const char* const g_astrAtomNames[kAtomCount] = {
    "WM_STATE", "_NET_WM_NAME", "UTF8_STRING", "_NET_SUPPORTED", "_NET_ACTIVE_WINDOW", "_NET_SUPPORTING_WM_CHECK",
};

// Deep enough for any window manager's frames; bounds the work on odd trees.
constexpr int kMaxClientSearchDepth = 8;

// The module's own connection. It belongs to the value of $DISPLAY it was
// opened for: when $DISPLAY changes it is closed and one for the new value is
// opened; a connection the server dropped is reopened at the next call, and
// so is one that could not be opened (a local server refuses at once).
class CXConnection {
public:
    Display* Get();
    bool IsOwn(Display* pDisplay) const { return pDisplay && pDisplay == m_pDisplay; }
    void MarkLost() { m_bLost = true; }
    Atom GetAtom(EAtom eAtom) const { return m_anAtoms[eAtom]; }

private:
    void Close();
    bool HasHungUp();

    Display* m_pDisplay = nullptr;
    std::string m_strName;
    bool m_bLost = false;
    Atom m_anAtoms[kAtomCount] = {};
};

CXConnection g_connection;

// The state of CXErrorTrap, which Xlib's plain function handlers reach.
int g_nTrapDepth = 0;
int g_nTrappedErrors = 0;
XErrorHandler g_pfnPreviousError = nullptr;
XIOErrorHandler g_pfnPreviousIoError = nullptr;

// Catches the X errors of the module's calls instead of Xlib's default
// handlers, which end the process (a window may vanish at any moment; the
// server may go away). Installed only for the duration of one call and
// restored afterwards, so the program's own handlers stay in charge
// otherwise; errors of other connections are passed on to them.
class CXErrorTrap {
public:
    explicit CXErrorTrap(Display* pDisplay)
        : m_pDisplay(pDisplay)
    {
        if (g_nTrapDepth++ == 0) {
            g_nTrappedErrors = 0;
            g_pfnPreviousError = XSetErrorHandler(OnError);
            g_pfnPreviousIoError = XSetIOErrorHandler(OnIoError);
        }
        m_nErrorsBefore = g_nTrappedErrors;
    }
    ~CXErrorTrap()
    {
        Sync();
        if (--g_nTrapDepth == 0) {
            XSetErrorHandler(g_pfnPreviousError);
            XSetIOErrorHandler(g_pfnPreviousIoError);
        }
    }
    CXErrorTrap(const CXErrorTrap&) = delete;
    CXErrorTrap& operator=(const CXErrorTrap&) = delete;

    // Waits for the server's answer to everything sent so far; true when no
    // request of this trap failed.
    bool Sync()
    {
        if (m_pDisplay)
            XSync(m_pDisplay, False);
        return g_nTrappedErrors == m_nErrorsBefore;
    }

private:
    static int OnError(Display* pDisplay, XErrorEvent* pEvent)
    {
        if (g_connection.IsOwn(pDisplay)) {
            ++g_nTrappedErrors;
            return 0;
        }
        return g_pfnPreviousError ? g_pfnPreviousError(pDisplay, pEvent) : 0;
    }
    static int OnIoError(Display* pDisplay)
    {
        if (g_connection.IsOwn(pDisplay)) {
            // Returning lets Xlib go on to the connection's exit handler,
            // which marks it lost instead of ending the process.
            g_connection.MarkLost();
            ++g_nTrappedErrors;
            return 0;
        }
        return g_pfnPreviousIoError ? g_pfnPreviousIoError(pDisplay) : 0;
    }

    Display* m_pDisplay;
    int m_nErrorsBefore = 0;
};

void OnConnectionLost(Display* /*pDisplay*/, void* /*pUserData*/)
{
    g_connection.MarkLost();
}

Display* CXConnection::Get()
{
    const char* strEnv = std::getenv("DISPLAY");
    const std::string strWanted = strEnv ? strEnv : "";
    if (m_pDisplay && (m_bLost || strWanted != m_strName || HasHungUp()))
        Close();
    if (!m_pDisplay) {
        m_strName = strWanted;
        if (!strWanted.empty())
            m_pDisplay = XOpenDisplay(strWanted.c_str());
        if (m_pDisplay) {
            m_bLost = false;
            XSetIOErrorExitHandler(m_pDisplay, OnConnectionLost, nullptr);
            CXErrorTrap trap(m_pDisplay);
            if (!XInternAtoms(m_pDisplay, const_cast<char**>(g_astrAtomNames), kAtomCount, False, m_anAtoms))
                std::memset(m_anAtoms, 0, sizeof m_anAtoms);
        }
    }
    return m_pDisplay;
}

void CXConnection::Close()
{
    {
        // XCloseDisplay talks to the server unless it knows it is gone.
        CXErrorTrap trap(nullptr);
        XCloseDisplay(m_pDisplay);
    }
    m_pDisplay = nullptr;
    m_bLost = false;
    std::memset(m_anAtoms, 0, sizeof m_anAtoms);
}

// A server that went away (or was replaced by another one under the same
// display name) shows as a hang-up or end of file on the socket.
bool CXConnection::HasHungUp()
{
    pollfd poll {ConnectionNumber(m_pDisplay), POLLIN, 0};
    if (::poll(&poll, 1, 0) <= 0)
        return false;
    if (poll.revents & (POLLHUP | POLLERR | POLLNVAL))
        return true;
    // Readable: events nobody asked for (such as MappingNotify) or the end of
    // the stream. Reading tells which; the events are dropped.
    CXErrorTrap trap(m_pDisplay);
    XEventsQueued(m_pDisplay, QueuedAfterReading);
    while (!m_bLost && XPending(m_pDisplay) > 0) {
        XEvent event;
        XNextEvent(m_pDisplay, &event);
    }
    return m_bLost;
}

// One window property as the server hands it out; the data goes with the object.
class CXProperty {
public:
    // Up to nLongs 32-bit units of the property, of type nType (or any type).
    CXProperty(Display* pDisplay, Window hWnd, Atom nProperty, long nLongs, Atom nType)
    {
        unsigned long nBytesAfter = 0;
        m_bRead = XGetWindowProperty(pDisplay, hWnd, nProperty, 0, nLongs, False, nType, &m_nType, &m_nFormat,
            &m_nItems, &nBytesAfter, &m_pData) == Success && m_nType != None;
    }
    CXProperty(const CXProperty&) = delete;
    CXProperty& operator=(const CXProperty&) = delete;
    ~CXProperty()
    {
        if (m_pData)
            XFree(m_pData);
    }

    bool IsThere() const { return m_bRead; }
    bool Holds(int nFormat, Atom nType) const
    {
        return m_bRead && m_pData && m_nFormat == nFormat && (nType == AnyPropertyType || m_nType == nType);
    }
    Atom GetType() const { return m_nType; }
    unsigned long GetItemCount() const { return m_nItems; }
    const unsigned char* GetData() const { return m_pData; }

private:
    bool m_bRead = false;
    Atom m_nType = None;
    int m_nFormat = 0;
    unsigned long m_nItems = 0;
    unsigned char* m_pData = nullptr;
};

// 256 KiB: far beyond any caption or window list.
constexpr long kPropertyLongs = 0x10000;

// The raw bytes of a property of 8-bit items; false when the window lacks it
// (or is gone). nType AnyPropertyType accepts every type and reports it.
bool GetProperty8(Display* pDisplay, Window hWnd, Atom nProperty, Atom nType, std::string& strValue,
    Atom* pnActualType = nullptr)
{
    const CXProperty property(pDisplay, hWnd, nProperty, kPropertyLongs, nType);
    if (!property.Holds(8, nType))
        return false;
    strValue.assign(reinterpret_cast<const char*>(property.GetData()), property.GetItemCount());
    if (pnActualType)
        *pnActualType = property.GetType();
    return true;
}

bool HasProperty(Display* pDisplay, Window hWnd, Atom nProperty)
{
    return CXProperty(pDisplay, hWnd, nProperty, 0, AnyPropertyType).IsThere();
}

// The 32-bit items of a property of the given type (window or atom lists).
std::vector<unsigned long> GetProperty32(Display* pDisplay, Window hWnd, Atom nProperty, Atom nType)
{
    const CXProperty property(pDisplay, hWnd, nProperty, kPropertyLongs, nType);
    if (!property.Holds(32, nType))
        return {};
    // Xlib hands 32-bit items out as longs.
    const auto* pnItems = reinterpret_cast<const unsigned long*>(property.GetData());
    return std::vector<unsigned long>(pnItems, pnItems + property.GetItemCount());
}

std::vector<Window> QueryChildren(Display* pDisplay, Window hWnd)
{
    std::vector<Window> ahChildren;
    Window hRoot = 0;
    Window hParent = 0;
    Window* phChildren = nullptr;
    unsigned int nChildren = 0;
    if (XQueryTree(pDisplay, hWnd, &hRoot, &hParent, &phChildren, &nChildren) && phChildren)
        ahChildren.assign(phChildren, phChildren + nChildren);
    if (phChildren)
        XFree(phChildren);
    return ahChildren;
}

// The client window inside a window manager's frame: the first window with
// WM_STATE, level by level.
Window FindClient(Display* pDisplay, Window hFrame, int nDepth)
{
    if (nDepth <= 0)
        return 0;
    const Atom nWmState = g_connection.GetAtom(kAtomWmState);
    const std::vector<Window> ahChildren = QueryChildren(pDisplay, hFrame);
    for (Window hChild : ahChildren) {
        if (HasProperty(pDisplay, hChild, nWmState))
            return hChild;
    }
    for (Window hChild : ahChildren) {
        if (Window hClient = FindClient(pDisplay, hChild, nDepth - 1))
            return hClient;
    }
    return 0;
}

void AppendLatin1AsUtf8(const std::string& strLatin1, std::string& strUtf8)
{
    for (unsigned char c : strLatin1) {
        if (c < 0x80) {
            strUtf8 += static_cast<char>(c);
        } else {
            strUtf8 += static_cast<char>(0xC0 | (c >> 6));
            strUtf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

// The caption as UTF-8 (possibly empty); false when the window has none.
bool ReadCaption(Display* pDisplay, Window hWnd, std::string& strCaption)
{
    strCaption.clear();
    if (GetProperty8(pDisplay, hWnd, g_connection.GetAtom(kAtomNetWmName), g_connection.GetAtom(kAtomUtf8String),
            strCaption))
        return true;
    std::string strRaw;
    Atom nType = None;
    if (!GetProperty8(pDisplay, hWnd, XA_WM_NAME, AnyPropertyType, strRaw, &nType))
        return false;
    if (nType == g_connection.GetAtom(kAtomUtf8String)) {
        strCaption = strRaw;
    } else if (nType == XA_STRING) {
        AppendLatin1AsUtf8(strRaw, strCaption);
    } else {
        // COMPOUND_TEXT or another encoding: Xlib knows how to convert it.
        XTextProperty property {};
        property.value = reinterpret_cast<unsigned char*>(strRaw.data());
        property.encoding = nType;
        property.format = 8;
        property.nitems = strRaw.size();
        char** pstrList = nullptr;
        int nCount = 0;
        if (Xutf8TextPropertyToTextList(pDisplay, &property, &pstrList, &nCount) >= Success && pstrList
            && nCount > 0) {
            strCaption = pstrList[0];
        } else {
            AppendLatin1AsUtf8(strRaw, strCaption);
        }
        if (pstrList)
            XFreeStringList(pstrList);
    }
    return true;
}

bool HasCaption(Display* pDisplay, Window hWnd)
{
    std::string strCaption;
    return ReadCaption(pDisplay, hWnd, strCaption) && !strCaption.empty();
}

// Window-manager frames and clients, and, where no client with WM_STATE
// exists (no window manager, or a program that draws its own top-level
// window without one), the root's children that carry a caption - mapped or
// not, as a hidden window can still be found and shown. Override-redirect
// windows (menus, tooltips) are no top-level windows.
std::vector<Window> CollectTopLevelWindows(Display* pDisplay)
{
    std::vector<Window> ahWindows;
    CXErrorTrap trap(pDisplay);
    const Atom nWmState = g_connection.GetAtom(kAtomWmState);
    for (Window hChild : QueryChildren(pDisplay, DefaultRootWindow(pDisplay))) {
        if (HasProperty(pDisplay, hChild, nWmState)) {
            ahWindows.push_back(hChild);
        } else if (Window hClient = FindClient(pDisplay, hChild, kMaxClientSearchDepth)) {
            ahWindows.push_back(hClient);
        } else {
            XWindowAttributes attributes {};
            if (XGetWindowAttributes(pDisplay, hChild, &attributes) && !attributes.override_redirect
                && HasCaption(pDisplay, hChild))
                ahWindows.push_back(hChild);
        }
    }
    return ahWindows;
}

// Copies whole UTF-8 sequences only, as many as fit into nMaxChars - 1 bytes
// (a character never takes fewer bytes than one, so that is also at most
// nMaxChars - 1 characters), stopping at an embedded zero.
int CopyUtf8Prefix(const std::string& strText, char* strOut, int nMaxChars)
{
    const size_t nLimit = static_cast<size_t>(nMaxChars - 1);
    size_t nEnd = 0;
    while (nEnd < strText.size() && strText[nEnd] != '\0') {
        size_t nNext = nEnd + 1;
        while (nNext < strText.size() && (static_cast<unsigned char>(strText[nNext]) & 0xC0) == 0x80
            && nNext - nEnd < 4)
            ++nNext;
        if (nNext > nLimit)
            break;
        nEnd = nNext;
    }
    std::memcpy(strOut, strText.data(), nEnd);
    strOut[nEnd] = '\0';
    return static_cast<int>(nEnd);
}

// A window manager that follows the extended hints announces itself by a
// check window naming itself; _NET_SUPPORTED alone may be left over by one
// that has quit.
bool WindowManagerActivates(Display* pDisplay)
{
    const Window hRoot = DefaultRootWindow(pDisplay);
    const Atom nCheck = g_connection.GetAtom(kAtomNetSupportingWmCheck);
    const std::vector<unsigned long> ahCheck = GetProperty32(pDisplay, hRoot, nCheck, XA_WINDOW);
    if (ahCheck.empty() || ahCheck[0] == 0)
        return false;
    const std::vector<unsigned long> ahSelf = GetProperty32(pDisplay, ahCheck[0], nCheck, XA_WINDOW);
    if (ahSelf.empty() || ahSelf[0] != ahCheck[0])
        return false;
    const Atom nActive = g_connection.GetAtom(kAtomNetActiveWindow);
    for (unsigned long nAtom : GetProperty32(pDisplay, hRoot, g_connection.GetAtom(kAtomNetSupported), XA_ATOM)) {
        if (nAtom == nActive)
            return true;
    }
    return false;
}

} // namespace

bool EnumTopLevelWindows(bool (*pfnVisit)(XWINDOW hWnd, intptr_t lParam), intptr_t lParam)
{
    Display* pDisplay = g_connection.Get();
    if (!pDisplay)
        return false;
    // Gathered first, so that the visitor runs outside the error trap and may
    // call anything, including this module's other functions.
    const std::vector<Window> ahWindows = CollectTopLevelWindows(pDisplay);
    if (pfnVisit) {
        for (Window hWnd : ahWindows) {
            if (!pfnVisit(hWnd, lParam))
                break;
        }
    }
    return true;
}

int GetTopLevelWindowText(XWINDOW hWnd, char* strText, int nMaxChars)
{
    if (!strText || nMaxChars <= 0)
        return 0;
    strText[0] = '\0';
    Display* pDisplay = g_connection.Get();
    if (!pDisplay || hWnd == 0)
        return 0;
    std::string strCaption;
    {
        CXErrorTrap trap(pDisplay);
        ReadCaption(pDisplay, hWnd, strCaption);
    }
    return CopyUtf8Prefix(strCaption, strText, nMaxChars);
}

bool ShowTopLevelWindow(XWINDOW hWnd)
{
    Display* pDisplay = g_connection.Get();
    if (!pDisplay || hWnd == 0)
        return false;
    CXErrorTrap trap(pDisplay);
    XMapRaised(pDisplay, hWnd);
    return trap.Sync();
}

bool SetForegroundTopLevelWindow(XWINDOW hWnd)
{
    Display* pDisplay = g_connection.Get();
    if (!pDisplay || hWnd == 0)
        return false;
    CXErrorTrap trap(pDisplay);
    if (WindowManagerActivates(pDisplay)) {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = hWnd;
        event.xclient.message_type = g_connection.GetAtom(kAtomNetActiveWindow);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // source indication: a pager, i.e. the user's wish
        event.xclient.data.l[1] = CurrentTime;
        event.xclient.data.l[2] = 0;
        XSendEvent(pDisplay, DefaultRootWindow(pDisplay), False, SubstructureRedirectMask | SubstructureNotifyMask,
            &event);
    } else {
        XRaiseWindow(pDisplay, hWnd);
        XSetInputFocus(pDisplay, hWnd, RevertToParent, CurrentTime);
    }
    return trap.Sync();
}

std::string GetModuleFileName()
{
    std::vector<char> achPath(256);
    for (;;) {
        const ssize_t nLength = ::readlink("/proc/self/exe", achPath.data(), achPath.size());
        if (nLength < 0)
            return std::string();
        if (static_cast<size_t>(nLength) < achPath.size())
            return std::string(achPath.data(), static_cast<size_t>(nLength));
        achPath.resize(achPath.size() * 2); // possibly cut: try a larger buffer
    }
}

bool ShellOpen(const std::string& strPathOrUrl)
{
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0)
        return false;
    // The opened program starts with default signal handling and its own
    // session, independent of the player's terminal and signal settings.
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    short nFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    nFlags |= POSIX_SPAWN_SETSID;
#endif
    posix_spawnattr_setflags(&attributes, nFlags);

    char strProgram[] = "xdg-open";
    std::string strArgument = strPathOrUrl;
    // xdg-open takes whatever starts with a dash for an option; the same
    // file by another name gets through.
    if (!strArgument.empty() && strArgument[0] == '-')
        strArgument.insert(0, "./");
    char* astrArgs[] = {strProgram, strArgument.data(), nullptr};
    pid_t nPid = -1;
    const int nResult = posix_spawnp(&nPid, strProgram, nullptr, &attributes, astrArgs, environ);
    posix_spawnattr_destroy(&attributes);
    if (nResult != 0)
        return false;
    // Reaped aside so that the caller never waits and no zombie stays.
    try {
        std::thread([nPid] {
            int nStatus = 0;
            while (::waitpid(nPid, &nStatus, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays a zombie until the player ends.
    }
    return true;
}

void KeepDisplayAwake()
{
    Display* pDisplay = g_connection.Get();
    if (!pDisplay)
        return;
    CXErrorTrap trap(pDisplay); // a server gone meanwhile must not end the player
    XResetScreenSaver(pDisplay);
}
