// The other programs' top-level windows: finding them, reading their
// captions, showing them and bringing one to the front.
#include "Desktop.h"
#include "XConnection.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <cstring>

namespace {

// Deep enough for any window manager's frames; bounds the work on odd trees.
constexpr int kMaxClientSearchDepth = 8;

std::vector<Window> QueryChildren(Display* pDisplay, Window hWnd)
{
    std::vector<Window> ahChildren;
    Window hRoot = 0;
    Window hParent = 0;
    Window* phChildren = nullptr;
    unsigned int nChildren = 0;
    if (XQueryTree(pDisplay, hWnd, &hRoot, &hParent, &phChildren, &nChildren) && phChildren)
        ahChildren.assign(phChildren, phChildren + nChildren);
    if (phChildren)
        XFree(phChildren);
    return ahChildren;
}

// The client window inside a window manager's frame: the first window with
// WM_STATE, level by level.
Window FindClient(Display* pDisplay, Window hFrame, int nDepth)
{
    if (nDepth <= 0)
        return 0;
    const Atom nWmState = TheXConnection().GetAtom(kAtomWmState);
    const std::vector<Window> ahChildren = QueryChildren(pDisplay, hFrame);
    for (Window hChild : ahChildren) {
        if (HasProperty(pDisplay, hChild, nWmState))
            return hChild;
    }
    for (Window hChild : ahChildren) {
        if (Window hClient = FindClient(pDisplay, hChild, nDepth - 1))
            return hClient;
    }
    return 0;
}

void AppendLatin1AsUtf8(const std::string& strLatin1, std::string& strUtf8)
{
    for (unsigned char c : strLatin1) {
        if (c < 0x80) {
            strUtf8 += static_cast<char>(c);
        } else {
            strUtf8 += static_cast<char>(0xC0 | (c >> 6));
            strUtf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

// The caption as UTF-8 (possibly empty); false when the window has none.
bool ReadCaption(Display* pDisplay, Window hWnd, std::string& strCaption)
{
    strCaption.clear();
    const Atom nUtf8 = TheXConnection().GetAtom(kAtomUtf8String);
    if (GetProperty8(pDisplay, hWnd, TheXConnection().GetAtom(kAtomNetWmName), nUtf8, strCaption))
        return true;
    std::string strRaw;
    Atom nType = None;
    if (!GetProperty8(pDisplay, hWnd, XA_WM_NAME, AnyPropertyType, strRaw, &nType))
        return false;
    if (nType == nUtf8) {
        strCaption = strRaw;
    } else if (nType == XA_STRING) {
        AppendLatin1AsUtf8(strRaw, strCaption);
    } else {
        // COMPOUND_TEXT or another encoding: Xlib knows how to convert it.
        XTextProperty property {};
        property.value = reinterpret_cast<unsigned char*>(strRaw.data());
        property.encoding = nType;
        property.format = 8;
        property.nitems = strRaw.size();
        char** pstrList = nullptr;
        int nCount = 0;
        if (Xutf8TextPropertyToTextList(pDisplay, &property, &pstrList, &nCount) >= Success && pstrList
            && nCount > 0) {
            strCaption = pstrList[0];
        } else {
            AppendLatin1AsUtf8(strRaw, strCaption);
        }
        if (pstrList)
            XFreeStringList(pstrList);
    }
    return true;
}

bool HasCaption(Display* pDisplay, Window hWnd)
{
    std::string strCaption;
    return ReadCaption(pDisplay, hWnd, strCaption) && !strCaption.empty();
}

// Window-manager frames and clients, and, where no client with WM_STATE
// exists (no window manager, or a program that draws its own top-level
// window without one), the root's children that carry a caption - mapped or
// not, as a hidden window can still be found and shown. Override-redirect
// windows (menus, tooltips) are no top-level windows.
std::vector<Window> CollectTopLevelWindows(Display* pDisplay)
{
    std::vector<Window> ahWindows;
    CXErrorTrap trap(pDisplay);
    const Atom nWmState = TheXConnection().GetAtom(kAtomWmState);
    for (Window hChild : QueryChildren(pDisplay, DefaultRootWindow(pDisplay))) {
        if (HasProperty(pDisplay, hChild, nWmState)) {
            ahWindows.push_back(hChild);
        } else if (Window hClient = FindClient(pDisplay, hChild, kMaxClientSearchDepth)) {
            ahWindows.push_back(hClient);
        } else {
            XWindowAttributes attributes {};
            if (XGetWindowAttributes(pDisplay, hChild, &attributes) && !attributes.override_redirect
                && HasCaption(pDisplay, hChild))
                ahWindows.push_back(hChild);
        }
    }
    return ahWindows;
}

// Copies whole UTF-8 sequences only, as many as fit into nMaxChars - 1 bytes
// (a character never takes fewer bytes than one, so that is also at most
// nMaxChars - 1 characters), stopping at an embedded zero.
int CopyUtf8Prefix(const std::string& strText, char* strOut, int nMaxChars)
{
    const size_t nLimit = static_cast<size_t>(nMaxChars - 1);
    size_t nEnd = 0;
    while (nEnd < strText.size() && strText[nEnd] != '\0') {
        size_t nNext = nEnd + 1;
        while (nNext < strText.size() && (static_cast<unsigned char>(strText[nNext]) & 0xC0) == 0x80
            && nNext - nEnd < 4)
            ++nNext;
        if (nNext > nLimit)
            break;
        nEnd = nNext;
    }
    std::memcpy(strOut, strText.data(), nEnd);
    strOut[nEnd] = '\0';
    return static_cast<int>(nEnd);
}

// A window manager that follows the extended hints announces itself by a
// check window naming itself; _NET_SUPPORTED alone may be left over by one
// that has quit.
bool WindowManagerActivates(Display* pDisplay)
{
    const Window hRoot = DefaultRootWindow(pDisplay);
    const Atom nCheck = TheXConnection().GetAtom(kAtomNetSupportingWmCheck);
    const std::vector<unsigned long> ahCheck = GetProperty32(pDisplay, hRoot, nCheck, XA_WINDOW);
    if (ahCheck.empty() || ahCheck[0] == 0)
        return false;
    const std::vector<unsigned long> ahSelf = GetProperty32(pDisplay, ahCheck[0], nCheck, XA_WINDOW);
    if (ahSelf.empty() || ahSelf[0] != ahCheck[0])
        return false;
    const Atom nActive = TheXConnection().GetAtom(kAtomNetActiveWindow);
    for (unsigned long nAtom : GetProperty32(pDisplay, hRoot, TheXConnection().GetAtom(kAtomNetSupported), XA_ATOM)) {
        if (nAtom == nActive)
            return true;
    }
    return false;
}

} // namespace

bool EnumTopLevelWindows(bool (*pfnVisit)(XWINDOW hWnd, intptr_t lParam), intptr_t lParam)
{
    Display* pDisplay = TheXConnection().Get();
    if (!pDisplay)
        return false;
    // Gathered first, so that the visitor runs outside the error trap and may
    // call anything, including this module's other functions.
    const std::vector<Window> ahWindows = CollectTopLevelWindows(pDisplay);
    if (pfnVisit) {
        for (Window hWnd : ahWindows) {
            if (!pfnVisit(hWnd, lParam))
                break;
        }
    }
    return true;
}

int GetTopLevelWindowText(XWINDOW hWnd, char* strText, int nMaxChars)
{
    if (!strText || nMaxChars <= 0)
        return 0;
    strText[0] = '\0';
    Display* pDisplay = TheXConnection().Get();
    if (!pDisplay || hWnd == 0)
        return 0;
    std::string strCaption;
    {
        CXErrorTrap trap(pDisplay);
        ReadCaption(pDisplay, hWnd, strCaption);
    }
    return CopyUtf8Prefix(strCaption, strText, nMaxChars);
}

bool ShowTopLevelWindow(XWINDOW hWnd)
{
    Display* pDisplay = TheXConnection().Get();
    if (!pDisplay || hWnd == 0)
        return false;
    CXErrorTrap trap(pDisplay);
    XMapRaised(pDisplay, hWnd);
    return trap.Sync();
}

bool SetForegroundTopLevelWindow(XWINDOW hWnd)
{
    Display* pDisplay = TheXConnection().Get();
    if (!pDisplay || hWnd == 0)
        return false;
    CXErrorTrap trap(pDisplay);
    if (WindowManagerActivates(pDisplay)) {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = hWnd;
        event.xclient.message_type = TheXConnection().GetAtom(kAtomNetActiveWindow);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // source indication: a pager, i.e. the user's wish
        event.xclient.data.l[1] = CurrentTime;
        event.xclient.data.l[2] = 0;
        XSendEvent(pDisplay, DefaultRootWindow(pDisplay), False, SubstructureRedirectMask | SubstructureNotifyMask,
            &event);
    } else {
        XRaiseWindow(pDisplay, hWnd);
        XSetInputFocus(pDisplay, hWnd, RevertToParent, CurrentTime);
    }
    return trap.Sync();
}
