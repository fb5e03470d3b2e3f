#include "ChildEnvironment.h"

extern char** environ;

CChildEnvironment::CChildEnvironment(const std::vector<std::string>& astrSettings)
    : m_astrEntries(astrSettings)
{
    for (char** p = environ; *p; ++p) {
        const std::string strEntry = *p;
        const std::string strName = strEntry.substr(0, strEntry.find('=') + 1);
        bool bReplaced = false;
        for (const std::string& strSetting : astrSettings)
            bReplaced = bReplaced || strSetting.rfind(strName, 0) == 0;
        if (!bReplaced)
            m_astrEntries.push_back(strEntry);
    }
    for (std::string& strEntry : m_astrEntries)
        m_apEntries.push_back(strEntry.data());
    m_apEntries.push_back(nullptr);
}
