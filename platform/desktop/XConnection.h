// The desktop module's own Xlib connection, shared by its files: the
// connection that follows $DISPLAY, the trap that keeps X errors from ending
// the program, and window properties as the server hands them out. Not for
// use outside platform/desktop. User-interface thread only.
#pragma once

#include <X11/Xlib.h>

#include <string>
#include <vector>

enum EAtom {
    kAtomWmState,
    kAtomNetWmName,
    kAtomUtf8String,
    kAtomNetSupported,
    kAtomNetActiveWindow,
    kAtomNetSupportingWmCheck,
    kAtomCount
};

// The connection belongs to the value of $DISPLAY it was opened for: when
// $DISPLAY changes it is closed and one for the new value is opened; a
// connection the server dropped is reopened at the next call, and so is one
// that could not be opened (a local server refuses at once).
class CXConnection {
public:
    // Null when there is no display.
    Display* Get();
    bool IsOwn(Display* pDisplay) const { return pDisplay && pDisplay == m_pDisplay; }
    void MarkLost() { m_bLost = true; }
    Atom GetAtom(EAtom eAtom) const { return m_anAtoms[eAtom]; }

private:
    void Close();
    bool HasHungUp();

    Display* m_pDisplay = nullptr;
    std::string m_strName;
    bool m_bLost = false;
    Atom m_anAtoms[kAtomCount] = {};
};

CXConnection& TheXConnection();

// Catches the X errors of the module's calls instead of Xlib's default
// handlers, which end the process (a window may vanish at any moment; the
// server may go away). Installed only for the life of the object and
// restored afterwards, so the program's own handlers stay in charge
// otherwise; errors of other connections are passed on to them.
class CXErrorTrap {
public:
    explicit CXErrorTrap(Display* pDisplay);
    ~CXErrorTrap();
    CXErrorTrap(const CXErrorTrap&) = delete;
    CXErrorTrap& operator=(const CXErrorTrap&) = delete;

    // Waits for the server's answer to everything sent so far; true when no
    // request of this trap failed.
    bool Sync();

private:
    Display* m_pDisplay;
    int m_nErrorsBefore = 0;
};

// The raw bytes of a property of 8-bit items; false when the window lacks it
// (or is gone). nType AnyPropertyType accepts every type and reports it.
bool GetProperty8(Display* pDisplay, Window hWnd, Atom nProperty, Atom nType, std::string& strValue,
    Atom* pnActualType = nullptr);
bool HasProperty(Display* pDisplay, Window hWnd, Atom nProperty);
// The 32-bit items of a property of the given type (window or atom lists).
std::vector<unsigned long> GetProperty32(Display* pDisplay, Window hWnd, Atom nProperty, Atom nType);
