#include "SessionBus.h"

#include <gio/gio.h>

#include <cstdlib>
#include <sys/stat.h>

std::string SessionBusAddress()
{
    const char* strAddress = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (strAddress && *strAddress)
        return strAddress;
    const char* strRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (!strRuntime || *strRuntime != '/')
        return std::string();
    const std::string strSocket = std::string(strRuntime) + "/bus";
    struct stat st {};
    if (::stat(strSocket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return std::string();
    gchar* strEscaped = g_dbus_address_escape_value(strSocket.c_str());
    const std::string strUnixAddress = std::string("unix:path=") + strEscaped;
    g_free(strEscaped);
    return strUnixAddress;
}

void DispatchBusCalls()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}
