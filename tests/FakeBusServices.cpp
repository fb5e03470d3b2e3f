#include "FakeBusServices.h"

#include <algorithm>

namespace {

const char kPortalXml[] = R"(<node>
  <interface name="org.freedesktop.portal.Inhibit">
    <method name="Inhibit">
      <arg direction="in" type="s"/><arg direction="in" type="u"/><arg direction="in" type="a{sv}"/>
      <arg direction="out" type="o"/>
    </method>
  </interface>
  <interface name="org.freedesktop.portal.Request"><method name="Close"/></interface>
</node>)";
const char kRequestPrefix[] = "/org/freedesktop/portal/desktop/request/";

} // namespace

CFakeService::CFakeService(const std::string& strAddress, const char* strName, const char* strXml, Answer answer)
    : m_answer(std::move(answer))
    , m_pNode(g_dbus_node_info_new_for_xml(strXml, nullptr))
{
    m_pConnection = g_dbus_connection_new_for_address_sync(strAddress.c_str(),
        static_cast<GDBusConnectionFlags>(
            G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!m_pConnection)
        return;
    GVariant* pReply = g_dbus_connection_call_sync(m_pConnection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
        "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", strName, 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    guint32 nResult = 0;
    if (pReply) {
        g_variant_get(pReply, "(u)", &nResult);
        g_variant_unref(pReply);
    }
    m_bOwner = nResult == 1;
}

CFakeService::~CFakeService()
{
    if (m_pConnection) {
        g_dbus_connection_close_sync(m_pConnection, nullptr, nullptr);
        g_object_unref(m_pConnection);
    }
    g_dbus_node_info_unref(m_pNode);
}

void CFakeService::Serve(const std::string& strPath, int nInterface)
{
    static const GDBusInterfaceVTable vtable = { OnMethodCall, nullptr, nullptr, {} };
    if (m_pConnection)
        g_dbus_connection_register_object(
            m_pConnection, strPath.c_str(), m_pNode->interfaces[nInterface], &vtable, this, nullptr, nullptr);
}

void CFakeService::OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
    GDBusMethodInvocation* pInvocation, gpointer pThis)
{
    static_cast<CFakeService*>(pThis)->m_answer(pInvocation);
}

CFakePortal::CFakePortal(const std::string& strAddress, bool bAnswers)
    : m_bAnswers(bAnswers)
    , m_service(strAddress, "org.freedesktop.portal.Desktop", kPortalXml,
          [this](GDBusMethodInvocation* pInvocation) { OnCall(pInvocation); })
{
    m_service.Serve("/org/freedesktop/portal/desktop", 0);
}

CFakePortal::~CFakePortal()
{
    for (GDBusMethodInvocation* pInvocation : m_apUnanswered)
        g_object_unref(pInvocation);
}

// The request's handle is where the portal puts it: after the caller's unique
// name and the token the caller chose.
void CFakePortal::OnCall(GDBusMethodInvocation* pInvocation)
{
    if (std::string(g_dbus_method_invocation_get_method_name(pInvocation)) == "Close") {
        m_astrClosed.push_back(g_dbus_method_invocation_get_object_path(pInvocation));
        g_dbus_method_invocation_return_value(pInvocation, nullptr);
        return;
    }
    SPortalInhibit inhibit;
    const gchar* strWindow = nullptr;
    GVariant* pOptions = nullptr;
    g_variant_get(g_dbus_method_invocation_get_parameters(pInvocation), "(&su@a{sv})", &strWindow, &inhibit.nFlags,
        &pOptions);
    inhibit.strWindow = strWindow;
    const gchar* strReason = "";
    const gchar* strToken = "";
    g_variant_lookup(pOptions, "reason", "&s", &strReason);
    g_variant_lookup(pOptions, "handle_token", "&s", &strToken);
    inhibit.strReason = strReason;
    std::string strSender = g_dbus_method_invocation_get_sender(pInvocation) + 1;
    std::replace(strSender.begin(), strSender.end(), '.', '_');
    inhibit.strHandle = kRequestPrefix + strSender + "/" + strToken;
    g_variant_unref(pOptions);
    m_aInhibits.push_back(inhibit);
    if (!m_bAnswers) {
        m_apUnanswered.push_back(static_cast<GDBusMethodInvocation*>(g_object_ref(pInvocation)));
        return;
    }
    m_service.Serve(inhibit.strHandle, 1);
    g_dbus_method_invocation_return_value(pInvocation, g_variant_new("(o)", inhibit.strHandle.c_str()));
}
