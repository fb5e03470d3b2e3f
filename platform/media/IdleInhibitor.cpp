#include "IdleInhibitor.h"
#include "SessionBus.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include <unistd.h>

namespace {

const char kPortalName[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr guint32 kInhibitSuspend = 4;
const char kLogindName[] = "org.freedesktop.login1";
const char kLogindPath[] = "/org/freedesktop/login1";

// The ways to inhibit, tried in this order.
enum class ERoute { Portal, Logind, None };

std::string SystemBusAddress()
{
    gchar* strAddress = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    const std::string strCopy = strAddress ? strAddress : "";
    g_free(strAddress);
    return strCopy;
}

// True for a reply that came after the inhibitor went, which must leave it
// alone; the error is freed either way.
bool Cancelled(GError* pError)
{
    const bool bCancelled = g_error_matches(pError, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    if (pError)
        g_error_free(pError);
    return bCancelled;
}

} // namespace

// The connection of the way in use, and what is asked for or held on it.
class CInhibitCalls {
public:
    CInhibitCalls(const std::string& strWho, const std::string& strWhy);
    ~CInhibitCalls();

    void SetPlaying(bool bPlaying);

private:
    bool Holds() const { return !m_strRequest.empty() || m_hLock >= 0; }
    // Starts what brings the held inhibition in line with the sound, unless
    // something is under way: its end calls this again.
    void Update();
    void Connect();
    void Inhibit();
    void Release();
    void NextRoute();
    // An answer has come: what was under way is over.
    void Answered(bool bHeld);

    static void OnConnected(GObject*, GAsyncResult* pResult, gpointer pThis);
    static void OnPortalInhibited(GObject* pConnection, GAsyncResult* pResult, gpointer pThis);
    static void OnLogindInhibited(GObject* pConnection, GAsyncResult* pResult, gpointer pThis);

    std::string m_strWho;
    std::string m_strWhy;
    ERoute m_eRoute = ERoute::Portal;
    GCancellable* m_pCancellable = g_cancellable_new();
    GDBusConnection* m_pConnection = nullptr;
    bool m_bPlaying = false;
    // A connection or an Inhibit is under way.
    bool m_bWaiting = false;
    // The portal's request held, or logind's lock.
    std::string m_strRequest;
    int m_hLock = -1;
    unsigned m_nRequests = 0;
};

CInhibitCalls::CInhibitCalls(const std::string& strWho, const std::string& strWhy)
    : m_strWho(strWho)
    , m_strWhy(strWhy)
{
}

// The replies still to come find the cancellable cancelled and leave this alone.
CInhibitCalls::~CInhibitCalls()
{
    g_cancellable_cancel(m_pCancellable);
    Release();
    if (m_pConnection) {
        g_dbus_connection_flush_sync(m_pConnection, nullptr, nullptr);
        g_object_unref(m_pConnection);
    }
    g_object_unref(m_pCancellable);
}

void CInhibitCalls::SetPlaying(bool bPlaying)
{
    m_bPlaying = bPlaying;
    Update();
}

void CInhibitCalls::Update()
{
    if (m_bWaiting || m_eRoute == ERoute::None)
        return;
    if (m_bPlaying && !Holds()) {
        if (m_pConnection)
            Inhibit();
        else
            Connect();
    } else if (!m_bPlaying && Holds()) {
        Release();
    }
}

void CInhibitCalls::Connect()
{
    const std::string strAddress = m_eRoute == ERoute::Portal ? SessionBusAddress() : SystemBusAddress();
    if (strAddress.empty()) {
        NextRoute();
        return;
    }
    m_bWaiting = true;
    g_dbus_connection_new_for_address(strAddress.c_str(),
        static_cast<GDBusConnectionFlags>(
            G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, m_pCancellable, OnConnected, this);
}

void CInhibitCalls::OnConnected(GObject*, GAsyncResult* pResult, gpointer pThis)
{
    GError* pError = nullptr;
    GDBusConnection* pConnection = g_dbus_connection_new_for_address_finish(pResult, &pError);
    if (Cancelled(pError))
        return;
    CInhibitCalls& calls = *static_cast<CInhibitCalls*>(pThis);
    calls.m_bWaiting = false;
    if (!pConnection) {
        calls.NextRoute();
        return;
    }
    // A bus that goes away takes the inhibition with it, not the player.
    g_dbus_connection_set_exit_on_close(pConnection, FALSE);
    calls.m_pConnection = pConnection;
    calls.Update();
}

void CInhibitCalls::Inhibit()
{
    m_bWaiting = true;
    if (m_eRoute == ERoute::Logind) {
        g_dbus_connection_call_with_unix_fd_list(m_pConnection, kLogindName, kLogindPath,
            "org.freedesktop.login1.Manager", "Inhibit",
            g_variant_new("(ssss)", "idle", m_strWho.c_str(), m_strWhy.c_str(), "block"), G_VARIANT_TYPE("(h)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, m_pCancellable, OnLogindInhibited, this);
        return;
    }
    const std::string strToken = "velofon" + std::to_string(++m_nRequests);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(strToken.c_str()));
    g_variant_builder_add(&options, "{sv}", "reason", g_variant_new_string(m_strWhy.c_str()));
    g_dbus_connection_call(m_pConnection, kPortalName, kPortalPath, "org.freedesktop.portal.Inhibit", "Inhibit",
        g_variant_new("(sua{sv})", "", kInhibitSuspend, &options), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1,
        m_pCancellable, OnPortalInhibited, this);
}

void CInhibitCalls::OnPortalInhibited(GObject* pConnection, GAsyncResult* pResult, gpointer pThis)
{
    GError* pError = nullptr;
    GVariant* pReply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(pConnection), pResult, &pError);
    if (Cancelled(pError))
        return;
    CInhibitCalls& calls = *static_cast<CInhibitCalls*>(pThis);
    if (pReply) {
        const gchar* strHandle = nullptr;
        g_variant_get(pReply, "(&o)", &strHandle);
        calls.m_strRequest = strHandle;
        g_variant_unref(pReply);
    }
    calls.Answered(pReply != nullptr);
}

void CInhibitCalls::OnLogindInhibited(GObject* pConnection, GAsyncResult* pResult, gpointer pThis)
{
    GError* pError = nullptr;
    GUnixFDList* pDescriptors = nullptr;
    GVariant* pReply = g_dbus_connection_call_with_unix_fd_list_finish(
        G_DBUS_CONNECTION(pConnection), &pDescriptors, pResult, &pError);
    if (Cancelled(pError))
        return;
    CInhibitCalls& calls = *static_cast<CInhibitCalls*>(pThis);
    if (pReply) {
        gint32 nIndex = -1;
        g_variant_get(pReply, "(h)", &nIndex);
        if (pDescriptors)
            calls.m_hLock = g_unix_fd_list_get(pDescriptors, nIndex, nullptr);
        g_variant_unref(pReply);
    }
    if (pDescriptors)
        g_object_unref(pDescriptors);
    calls.Answered(calls.m_hLock >= 0);
}

void CInhibitCalls::Answered(bool bHeld)
{
    m_bWaiting = false;
    if (bHeld)
        Update();
    else
        NextRoute();
}

// Nothing waits for the portal to close the request.
void CInhibitCalls::Release()
{
    if (!m_strRequest.empty()) {
        g_dbus_connection_call(m_pConnection, kPortalName, m_strRequest.c_str(), "org.freedesktop.portal.Request",
            "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
        m_strRequest.clear();
    }
    if (m_hLock >= 0) {
        ::close(m_hLock);
        m_hLock = -1;
    }
}

void CInhibitCalls::NextRoute()
{
    m_eRoute = m_eRoute == ERoute::Portal ? ERoute::Logind : ERoute::None;
    if (m_pConnection) {
        g_object_unref(m_pConnection);
        m_pConnection = nullptr;
    }
    Update();
}

// ---- CIdleInhibitor ----

CIdleInhibitor::CIdleInhibitor(const std::string& strWho, const std::string& strWhy)
    : m_pCalls(std::make_unique<CInhibitCalls>(strWho, strWhy))
{
}

CIdleInhibitor::~CIdleInhibitor() = default;

void CIdleInhibitor::SetPlaying(bool bPlaying)
{
    m_pCalls->SetPlaying(bPlaying);
}
