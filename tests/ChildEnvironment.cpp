#include "ChildEnvironment.h"

#include <algorithm>

extern char** environ;

CChildEnvironment::CChildEnvironment(const std::vector<std::string>& astrSettings)
{
    // An entry counts when no entry of its name came before it.
    auto add = [this](const std::string& strEntry) {
        const std::string strName = strEntry.substr(0, strEntry.find('=') + 1);
        if (std::none_of(m_astrEntries.begin(), m_astrEntries.end(),
                [&strName](const std::string& strKept) { return strKept.rfind(strName, 0) == 0; }))
            m_astrEntries.push_back(strEntry);
    };
    for (const std::string& strSetting : astrSettings)
        add(strSetting);
    for (char** p = environ; *p; ++p)
        add(*p);
    for (std::string& strEntry : m_astrEntries)
        m_apEntries.push_back(strEntry.data());
    m_apEntries.push_back(nullptr);
}

std::vector<char*> ArgumentPointers(std::vector<std::string>& astrArgs)
{
    std::vector<char*> apArgs;
    for (std::string& strArg : astrArgs)
        apArgs.push_back(strArg.data());
    apArgs.push_back(nullptr);
    return apArgs;
}
