// An X server of the test's own: starts Xvfb on a display number that Xvfb
// picks itself (-displayfd), points DISPLAY at it for the life of the
// object, and stops the server (by its pid) and restores DISPLAY afterwards.
#pragma once

#include <string>
#include <sys/types.h>

class CXvfbDisplay {
public:
    // nWidth x nHeight x 24 screen.
    explicit CXvfbDisplay(int nWidth = 640, int nHeight = 480);
    ~CXvfbDisplay();
    CXvfbDisplay(const CXvfbDisplay&) = delete;
    CXvfbDisplay& operator=(const CXvfbDisplay&) = delete;

    // False when Xvfb could not be started (then tests should skip or fail).
    bool IsRunning() const { return m_nPid > 0 && !m_strDisplay.empty(); }
    // ":N"
    const std::string& Name() const { return m_strDisplay; }

private:
    pid_t m_nPid = -1;
    std::string m_strDisplay;
    std::string m_strOldDisplay;
    bool m_bHadDisplay = false;
};
