// Keeps the desktop from suspending for idleness while the sound plays:
// through the desktop portal's Inhibit on the session bus (suspend only, so
// that the screen still locks), else through logind's idle lock on the system
// bus, else not at all, and nothing said. A way that fails once is not tried
// again.
//
// Every call is asynchronous and its reply is handled in DispatchBusCalls
// (SessionBus.h): a bus that never answers holds nothing up. One inhibition
// is asked for at a time and at most one is held; one that comes after the
// sound stopped is given back at once. User-interface thread only.
#pragma once

#include <memory>
#include <string>

class CInhibitCalls;

class CIdleInhibitor {
public:
    // strWho names the program to logind; strWhy is the reason both are given.
    CIdleInhibitor(const std::string& strWho, const std::string& strWhy);
    CIdleInhibitor(const CIdleInhibitor&) = delete;
    CIdleInhibitor& operator=(const CIdleInhibitor&) = delete;
    // Gives back what is held.
    ~CIdleInhibitor();

    // Inhibits while bPlaying, gives the inhibition back otherwise. The buses
    // are reached at the first play.
    void SetPlaying(bool bPlaying);

private:
    std::unique_ptr<CInhibitCalls> m_pCalls;
};
