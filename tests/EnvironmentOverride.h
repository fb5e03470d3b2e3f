// An environment variable set to a test's value and put back afterwards.
#pragma once

#include <optional>
#include <string>

class CEnvironmentOverride {
public:
    // strValue nullptr removes the variable.
    CEnvironmentOverride(const char* strName, const char* strValue);
    ~CEnvironmentOverride();
    CEnvironmentOverride(const CEnvironmentOverride&) = delete;
    CEnvironmentOverride& operator=(const CEnvironmentOverride&) = delete;

    // Another value for the rest of the object's life.
    void Set(const char* strValue);

private:
    std::string m_strName;
    std::optional<std::string> m_strOld;
};
