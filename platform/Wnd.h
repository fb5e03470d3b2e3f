// Windows of the program over FLTK widgets, and the message maps that route
// messages and commands to their handlers.
//
// A CWnd stands for one widget: a frame, a form, a dialog or a control, with
// its numeric id. Toolkit callbacks never run program code directly: a click
// or a menu item posts WM_COMMAND, and the message queue dispatches it
// through the window's message map (a static table of message, id and
// handler, chained to the base class's table). Painting is the exception: a
// widget's draw() sends WM_PAINT (or the owner-draw request) at once, since
// the toolkit allows drawing only there.
//
// User-interface thread only, except PostMessage.
#pragma once

#include "platform/events/MessageQueue.h"

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

class Fl_Widget;
class CCmdUI;
class CWnd;

using LRESULT = intptr_t;
using COLORREF = uint32_t;

constexpr COLORREF RGB(int r, int g, int b)
{
    return static_cast<COLORREF>(r & 0xFF) | (static_cast<COLORREF>(g & 0xFF) << 8) |
        (static_cast<COLORREF>(b & 0xFF) << 16);
}
constexpr int GetRValue(COLORREF c) { return static_cast<int>(c & 0xFF); }
constexpr int GetGValue(COLORREF c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int GetBValue(COLORREF c) { return static_cast<int>((c >> 16) & 0xFF); }

constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_USER = 0x0400;
// A command-update request for a menu item (never posted; sent before a menu opens).
constexpr UINT WM_COMMAND_UPDATE = 0x0363;

// Notification codes carried in the high word of WM_COMMAND's wParam.
constexpr UINT BN_CLICKED = 0;
constexpr UINT LBN_SELCHANGE = 1;
constexpr UINT LBN_DBLCLK = 2;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT CBN_SELENDOK = 9;

constexpr UINT IDOK = 1;
constexpr UINT IDCANCEL = 2;
constexpr UINT IDYES = 6;
constexpr UINT IDNO = 7;

constexpr WPARAM MAKEWPARAM(UINT nLow, UINT nHigh)
{
    return static_cast<WPARAM>((nLow & 0xFFFF) | ((nHigh & 0xFFFF) << 16));
}
constexpr UINT LOWORD(WPARAM n) { return static_cast<UINT>(n & 0xFFFF); }
constexpr UINT HIWORD(WPARAM n) { return static_cast<UINT>((n >> 16) & 0xFFFF); }

struct CPoint {
    int x = 0;
    int y = 0;
};

struct CRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    CRect() = default;
    CRect(int l, int t, int r, int b)
        : left(l), top(t), right(r), bottom(b)
    {
    }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// ---- message maps ----------------------------------------------------------

class CCmdTarget;
// Each entry calls its handler through a small function made by the entry's
// macro, which knows the handler's class and signature.
using PHANDLER = LRESULT (*)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam, CCmdUI* pCmdUI);

struct SMessageMapEntry {
    UINT nMessage;
    UINT nCode;   // notification code of WM_COMMAND
    UINT nID;     // control or command id: the first of a range
    UINT nLastID; // the last of the range
    PHANDLER pfn;
};

struct SMessageMap {
    const SMessageMap* (*pfnGetBaseMap)();
    const SMessageMapEntry* pEntries;
};

#define DECLARE_MESSAGE_MAP()                                                                                          \
public:                                                                                                                \
    static const SMessageMap* GetThisMessageMap();                                                                    \
                                                                                                                       \
protected:                                                                                                             \
    const SMessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                                         \
    const SMessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); }                                 \
    const SMessageMap* theClass::GetThisMessageMap()                                                                   \
    {                                                                                                                  \
        using ThisClass = theClass;                                                                                    \
        using TheBaseClass = baseClass;                                                                                \
        static const SMessageMapEntry aEntries[] = {

#define END_MESSAGE_MAP()                                                                                              \
    {0, 0, 0, 0, nullptr}                                                                                              \
    }                                                                                                                  \
    ;                                                                                                                  \
    static_assert(std::is_base_of<TheBaseClass, ThisClass>::value, "a message map chains to its base class");         \
    static const SMessageMap messageMap = {&TheBaseClass::GetThisMessageMap, aEntries};                                \
    return &messageMap;                                                                                                \
    }

#define VELOFON_CALL(call)                                                                                             \
    [](CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam, CCmdUI* pCmdUI) -> LRESULT {                                 \
        ThisClass* pThis = static_cast<ThisClass*>(pTarget);                                                           \
        (void)wParam;                                                                                                  \
        (void)lParam;                                                                                                  \
        (void)pCmdUI;                                                                                                  \
        call;                                                                                                          \
    }

#define VELOFON_NOTIFY(code, id, fn) {WM_COMMAND, (code), (id), (id), VELOFON_CALL(pThis->fn(); return 0)},
#define ON_COMMAND(id, fn) VELOFON_NOTIFY(BN_CLICKED, id, fn)
#define ON_BN_CLICKED(id, fn) VELOFON_NOTIFY(BN_CLICKED, id, fn)
#define ON_LBN_DBLCLK(id, fn) VELOFON_NOTIFY(LBN_DBLCLK, id, fn)
#define ON_LBN_SELCHANGE(id, fn) VELOFON_NOTIFY(LBN_SELCHANGE, id, fn)
#define ON_CBN_SELCHANGE(id, fn) VELOFON_NOTIFY(CBN_SELCHANGE, id, fn)
#define ON_CBN_SELENDOK(id, fn) VELOFON_NOTIFY(CBN_SELENDOK, id, fn)
// A handler for every command from id to lastId; it receives the command's id.
#define ON_COMMAND_RANGE(id, lastId, fn)                                                                               \
    {WM_COMMAND, BN_CLICKED, (id), (lastId), VELOFON_CALL(pThis->fn(static_cast<UINT>(wParam)); return 0)},
#define ON_UPDATE_COMMAND_UI(id, fn) {WM_COMMAND_UPDATE, 0, (id), (id), VELOFON_CALL(pThis->fn(pCmdUI); return 0)},
#define ON_UPDATE_COMMAND_UI_RANGE(id, lastId, fn)                                                                     \
    {WM_COMMAND_UPDATE, 0, (id), (lastId), VELOFON_CALL(pThis->fn(pCmdUI); return 0)},
#define ON_MESSAGE(message, fn) {(message), 0, 0, 0, VELOFON_CALL(return pThis->fn(wParam, lParam))},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, 0, VELOFON_CALL(pThis->OnPaint(); return 0)},
#define ON_WM_CREATE() {WM_CREATE, 0, 0, 0, VELOFON_CALL(return pThis->OnCreate())},
#define ON_WM_LBUTTONDBLCLK() {WM_LBUTTONDBLCLK, 0, 0, 0, VELOFON_CALL(pThis->OnLButtonDblClk(); return 0)},

// Anything with a message map: windows and the application object.
class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    static const SMessageMap* GetThisMessageMap();

    // Runs the handler of this object's map (or its bases') for a message;
    // false when none is there. *pResult receives a handler's result.
    bool DispatchMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult = nullptr);
    // Runs the handler of a command (nCode BN_CLICKED, LBN_DBLCLK, ...) or,
    // with pCmdUI, its update handler. Frames pass unhandled commands on.
    virtual bool OnCmdMsg(UINT nID, UINT nCode, CCmdUI* pCmdUI);
    // True when this object's map has a handler for the command.
    bool HasCommandHandler(UINT nID) const;

protected:
    virtual const SMessageMap* GetMessageMap() const { return GetThisMessageMap(); }
};

// The command-update object that an update handler receives for one item.
class CCmdUI {
public:
    explicit CCmdUI(UINT nID)
        : m_nID(nID)
    {
    }
    virtual ~CCmdUI() = default;
    UINT m_nID;
    virtual void Enable(bool bOn = true) = 0;
    virtual void SetCheck(int nCheck = 1) = 0;
};

// ---- windows ---------------------------------------------------------------

class CWnd : public CCmdTarget, public CMessageTarget {
public:
    CWnd();
    ~CWnd() override;

    Fl_Widget* GetWidget() const { return m_pWidget; }
    int GetDlgCtrlID() const { return m_nID; }
    CWnd* GetParent() const { return m_pParent; }

    // Takes over an existing widget (the toolkit's side of a control made from
    // a dialog template), so that this object's map receives its messages.
    void SubclassWidget(Fl_Widget* pWidget, int nID, CWnd* pParent);
    CWnd* GetDlgItem(int nID) const;

    void SetWindowText(const std::string& strText);
    std::string GetWindowText() const;
    void EnableWindow(bool bEnable = true);
    bool IsWindowEnabled() const;
    void ShowWindow(bool bShow);
    bool IsWindowVisible() const;
    // Position and size relative to the parent's client area, in pixels.
    void MoveWindow(int x, int y, int nWidth, int nHeight, bool bRepaint = true);
    CRect GetClientRect() const;
    CRect GetWindowRect() const;
    void Invalidate(bool bErase = true);
    void UpdateWindow();

    // Dispatches at once through the message map (and the widget's default
    // handling when the map has no entry). Returns the handler's result.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Called by the widget's draw(): WM_PAINT through the map, else the
    // widget's own look. True when the map painted.
    bool PaintFromWidget();
    // The widget's own handling of a message this map left alone.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    // Makes the widget point back at this object.
    void AttachWidget(Fl_Widget* pWidget);
    // A top-level window that this object made: it goes with the object.
    void OwnWidget(std::unique_ptr<Fl_Widget> pWidget, int nID, CWnd* pParent);

    Fl_Widget* m_pWidget = nullptr;
    std::unique_ptr<Fl_Widget> m_pOwnedWidget;
    int m_nID = 0;
    CWnd* m_pParent = nullptr;
};

// The CWnd that owns a widget, or null.
CWnd* WndFromWidget(const Fl_Widget* pWidget);
