// The standard controls of dialogs and forms: buttons (push, owner-drawn,
// check box), static texts, the progress bar, list and combo boxes. Each is
// made from a dialog template item and bound to a member object through the
// form's data exchange; its notifications reach the parent as WM_COMMAND.
// User-interface thread only.
#pragma once

#include "Wnd.h"

#include <string>

class CDC;

// Owner-draw request: the item's state and where to draw.
constexpr UINT ODT_BUTTON = 4;
constexpr UINT ODS_SELECTED = 0x0001;
constexpr UINT ODS_DISABLED = 0x0004;
constexpr UINT ODS_FOCUS = 0x0010;

struct DRAWITEMSTRUCT {
    UINT CtlType = ODT_BUTTON;
    UINT CtlID = 0;
    UINT itemState = 0;
    CDC* pDC = nullptr;
    CRect rcItem;
};
using LPDRAWITEMSTRUCT = DRAWITEMSTRUCT*;

// Button styles of the templates.
constexpr uint32_t BS_PUSHBUTTON = 0x0;
constexpr uint32_t BS_DEFPUSHBUTTON = 0x1;
constexpr uint32_t BS_AUTOCHECKBOX = 0x3;
constexpr uint32_t BS_OWNERDRAW = 0xB;
constexpr uint32_t BS_TYPEMASK = 0xF;

constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;

class CButton : public CWnd {
public:
    // Called for every paint of an owner-drawn button.
    virtual void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);
    int GetCheck() const;
    void SetCheck(int nCheck);
};

class CStatic : public CWnd {
};

class CProgressCtrl : public CWnd {
};

constexpr int LB_ERR = -1;

class CListBox : public CWnd {
public:
    int GetCount() const;
    int AddString(const std::string& strText);
    int DeleteString(int nIndex);
    void ResetContent();
    std::string GetText(int nIndex) const;
    // Selection of one line (multiple-selection boxes).
    int GetSel(int nIndex) const;
    int SetSel(int nIndex, bool bSelect = true);
};

constexpr int CB_ERR = -1;

class CComboBox : public CWnd {
public:
    int GetCount() const;
    int AddString(const std::string& strText);
    int GetCurSel() const;
    int SetCurSel(int nIndex);
};
