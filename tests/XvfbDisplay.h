// An X server of the test's own: starts Xvfb on a display number that Xvfb
// picks itself (-displayfd), points DISPLAY at it for the life of the
// object, and stops the server (by its pid) and restores DISPLAY afterwards.
// On request it runs a window manager (Openbox) on it, as a desktop does:
// frames, minimising, several desktops, activation.
#pragma once

#include <string>
#include <sys/types.h>

enum class EWindowManager { None, Openbox };

class CXvfbDisplay {
public:
    // nWidth x nHeight x 24 screen.
    explicit CXvfbDisplay(int nWidth = 640, int nHeight = 480, EWindowManager eWindowManager = EWindowManager::None);
    ~CXvfbDisplay();
    CXvfbDisplay(const CXvfbDisplay&) = delete;
    CXvfbDisplay& operator=(const CXvfbDisplay&) = delete;

    // Whether PATH holds an Xvfb to start; without one, tests skip.
    static bool IsInstalled();

    // False when Xvfb, or the window manager asked for, could not be started
    // (then tests should skip or fail).
    bool IsRunning() const { return m_nPid > 0 && !m_strDisplay.empty() && m_bWindowManagerReady; }
    // ":N"
    const std::string& Name() const { return m_strDisplay; }

private:
    void StartOpenbox();

    pid_t m_nPid = -1;
    pid_t m_nWindowManagerPid = -1;
    bool m_bWindowManagerReady = true;
    std::string m_strDisplay;
    std::string m_strOldDisplay;
    bool m_bHadDisplay = false;
};
