// A message bus of the test's own: dbus-daemon with the session bus's
// settings, which stands as the session bus or the system bus of what the
// test runs. It forks away, so it is ended by its pid when the object goes.
#pragma once

#include <string>
#include <sys/types.h>

class CPrivateBus {
public:
    CPrivateBus() = default;
    CPrivateBus(const CPrivateBus&) = delete;
    CPrivateBus& operator=(const CPrivateBus&) = delete;
    ~CPrivateBus();

    // False when dbus-daemon did not start.
    bool Start();
    const std::string& Address() const { return m_strAddress; }

private:
    std::string m_strAddress;
    pid_t m_nPid = -1;
};
