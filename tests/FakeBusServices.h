// Services of the desktop played by the test on a bus of the test's own, in
// the test's process: they answer as the test runs GLib's default main
// context (DispatchBusCalls), in the thread that runs it.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>
#include <vector>

// A service on a bus: it owns strName and hands every call of the interfaces
// of strXml that it serves to answer.
class CFakeService {
public:
    using Answer = std::function<void(GDBusMethodInvocation*)>;

    CFakeService(const std::string& strAddress, const char* strName, const char* strXml, Answer answer);
    CFakeService(const CFakeService&) = delete;
    CFakeService& operator=(const CFakeService&) = delete;
    // Gone from the bus: what waits for its answers gets an error.
    ~CFakeService();

    bool IsOwner() const { return m_bOwner; }
    // The nInterface-th interface of strXml, on strPath.
    void Serve(const std::string& strPath, int nInterface);

private:
    static void OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
        GDBusMethodInvocation* pInvocation, gpointer pThis);

    Answer m_answer;
    GDBusNodeInfo* m_pNode;
    GDBusConnection* m_pConnection = nullptr;
    bool m_bOwner = false;
};

struct SPortalInhibit {
    std::string strWindow;
    guint32 nFlags = 0;
    std::string strReason;
    std::string strHandle;
};

// The desktop portal's Inhibit, with a request object for each inhibition
// it grants: it records the Inhibit calls and the requests closed.
class CFakePortal {
public:
    // bAnswers false keeps the Inhibit calls unanswered.
    explicit CFakePortal(const std::string& strAddress, bool bAnswers = true);
    ~CFakePortal();

    bool IsOwner() const { return m_service.IsOwner(); }
    const std::vector<SPortalInhibit>& Inhibits() const { return m_aInhibits; }
    const std::vector<std::string>& Closed() const { return m_astrClosed; }
    size_t UnansweredCount() const { return m_apUnanswered.size(); }

private:
    void OnCall(GDBusMethodInvocation* pInvocation);

    bool m_bAnswers;
    std::vector<SPortalInhibit> m_aInhibits;
    std::vector<std::string> m_astrClosed;
    std::vector<GDBusMethodInvocation*> m_apUnanswered;
    CFakeService m_service;
};
