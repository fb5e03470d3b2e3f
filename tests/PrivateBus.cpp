#include "PrivateBus.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

CPrivateBus::~CPrivateBus()
{
    if (m_nPid > 0)
        ::kill(m_nPid, SIGTERM);
}

bool CPrivateBus::Start()
{
    FILE* pPipe = ::popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1", "r");
    if (!pPipe)
        return false;
    char achAddress[512] = "";
    char achPid[32] = "";
    const bool bRead = std::fgets(achAddress, sizeof achAddress, pPipe) && std::fgets(achPid, sizeof achPid, pPipe);
    ::pclose(pPipe);
    if (!bRead)
        return false;
    m_strAddress = std::string(achAddress, std::strcspn(achAddress, "\n"));
    m_nPid = std::atoi(achPid);
    return m_nPid > 0;
}
