#include "EnvironmentOverride.h"

#include <cstdlib>

CEnvironmentOverride::CEnvironmentOverride(const char* strName, const char* strValue)
    : m_strName(strName)
{
    if (const char* strOld = std::getenv(strName))
        m_strOld = strOld;
    Set(strValue);
}

CEnvironmentOverride::~CEnvironmentOverride()
{
    Set(m_strOld ? m_strOld->c_str() : nullptr);
}

void CEnvironmentOverride::Set(const char* strValue)
{
    if (strValue)
        ::setenv(m_strName.c_str(), strValue, 1);
    else
        ::unsetenv(m_strName.c_str());
}
