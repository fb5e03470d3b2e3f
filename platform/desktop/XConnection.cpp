#include "XConnection.h"

#include <cstdlib>
#include <cstring>
#include <poll.h>

namespace {

const char* const g_astrAtomNames[kAtomCount] = {
    "WM_STATE", "_NET_WM_NAME", "UTF8_STRING", "_NET_SUPPORTED", "_NET_ACTIVE_WINDOW", "_NET_SUPPORTING_WM_CHECK",
};

CXConnection g_connection;

// The state of CXErrorTrap, which Xlib's plain function handlers reach.
int g_nTrapDepth = 0;
int g_nTrappedErrors = 0;
XErrorHandler g_pfnPreviousError = nullptr;
XIOErrorHandler g_pfnPreviousIoError = nullptr;

int OnError(Display* pDisplay, XErrorEvent* pEvent)
{
    if (g_connection.IsOwn(pDisplay)) {
        ++g_nTrappedErrors;
        return 0;
    }
    return g_pfnPreviousError ? g_pfnPreviousError(pDisplay, pEvent) : 0;
}

int OnIoError(Display* pDisplay)
{
    if (g_connection.IsOwn(pDisplay)) {
        // Returning lets Xlib go on to the connection's exit handler, which
        // marks it lost instead of ending the process.
        g_connection.MarkLost();
        ++g_nTrappedErrors;
        return 0;
    }
    return g_pfnPreviousIoError ? g_pfnPreviousIoError(pDisplay) : 0;
}

void OnConnectionLost(Display* /*pDisplay*/, void* /*pUserData*/)
{
    g_connection.MarkLost();
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

} // namespace

CXConnection& TheXConnection()
{
    return g_connection;
}

CXErrorTrap::CXErrorTrap(Display* pDisplay)
    : m_pDisplay(pDisplay)
{
    if (g_nTrapDepth++ == 0) {
        g_nTrappedErrors = 0;
        g_pfnPreviousError = XSetErrorHandler(OnError);
        g_pfnPreviousIoError = XSetIOErrorHandler(OnIoError);
    }
    m_nErrorsBefore = g_nTrappedErrors;
}

CXErrorTrap::~CXErrorTrap()
{
    Sync();
    if (--g_nTrapDepth == 0) {
        XSetErrorHandler(g_pfnPreviousError);
        XSetIOErrorHandler(g_pfnPreviousIoError);
    }
}

bool CXErrorTrap::Sync()
{
    if (m_pDisplay)
        XSync(m_pDisplay, False);
    return g_nTrappedErrors == m_nErrorsBefore;
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

bool GetProperty8(Display* pDisplay, Window hWnd, Atom nProperty, Atom nType, std::string& strValue,
    Atom* pnActualType)
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

std::vector<unsigned long> GetProperty32(Display* pDisplay, Window hWnd, Atom nProperty, Atom nType)
{
    const CXProperty property(pDisplay, hWnd, nProperty, kPropertyLongs, nType);
    if (!property.Holds(32, nType))
        return {};
    // Xlib hands 32-bit items out as longs.
    const auto* pnItems = reinterpret_cast<const unsigned long*>(property.GetData());
    return std::vector<unsigned long>(pnItems, pnItems + property.GetItemCount());
}
