// The environment for a program a test starts: this process's own, with
// some variables set to the test's values; and its arguments as the system
// calls take them.
#pragma once

#include <string>
#include <vector>

class CChildEnvironment {
public:
    // asstrSettings: "NAME=value" entries that replace any NAME of ours; of
    // two entries of one name the first counts.
    explicit CChildEnvironment(const std::vector<std::string>& astrSettings);
    CChildEnvironment(const CChildEnvironment&) = delete;
    CChildEnvironment& operator=(const CChildEnvironment&) = delete;

    // For posix_spawn and execve; valid while the object lives.
    char** Get() { return m_apEntries.data(); }

private:
    std::vector<std::string> m_astrEntries;
    std::vector<char*> m_apEntries;
};

// Pointers to astrArgs' strings, ending in nullptr, for posix_spawn and
// execve; valid while astrArgs lives unchanged.
std::vector<char*> ArgumentPointers(std::vector<std::string>& astrArgs);
