// Dialog templates as data, the dialogs and forms made from them, the
// data exchange that binds template controls to member objects, and the
// modal loop.
//
// A template lists its controls with ids, texts, styles and rectangles in
// dialog units; they become pixels through the base units of the template's
// font (x: a quarter of its average character width, y: an eighth of its
// height). The modal loop keeps dispatching the message queue, so playback
// goes on under a dialog. User-interface thread only.
#pragma once

#include "Controls.h"

#include <cstddef>
#include <memory>
#include <vector>

enum class EControlKind { PushButton, CheckBox, Static, Icon, ProgressBar, ListBox, ComboBox, GroupBox };

// Styles used by the templates.
constexpr uint32_t LBS_NOTIFY = 0x0001;
constexpr uint32_t LBS_MULTIPLESEL = 0x0008;
constexpr uint32_t LBS_EXTENDEDSEL = 0x0800;
constexpr uint32_t SS_LEFT = 0x0000;
constexpr uint32_t SS_RIGHT = 0x0002;
constexpr uint32_t SS_SUNKEN = 0x1000; // a sunken edge around the text

struct SDialogItem {
    EControlKind eKind;
    int nID;
    const char* strText;
    uint32_t nStyle;
    int x, y, cx, cy; // dialog units
};

struct SDialogTemplate {
    int nResourceId;
    const char* strCaption;
    const char* strFontFace;
    int nPointSize; // points
    int cx, cy;     // dialog units
    const SDialogItem* pItems;
    size_t nItems;
};

template <size_t N>
constexpr SDialogTemplate MakeDialogTemplate(int nResourceId, const char* strCaption, const char* strFontFace,
                                             int nPointSize, int cx, int cy, const SDialogItem (&aItems)[N])
{
    return SDialogTemplate{nResourceId, strCaption, strFontFace, nPointSize, cx, cy, aItems, N};
}

// Registers a template of the executable's resources; the resource table does this.
void RegisterDialogTemplate(const SDialogTemplate& dialogTemplate);
const SDialogTemplate* FindDialogTemplate(int nResourceId);

// Pixels per 4 horizontal and per 8 vertical dialog units of a template's font.
struct SBaseUnits {
    int nX;
    int nY;
    int ToPixelsX(int nDialogUnits) const { return (nDialogUnits * nX + 2) / 4; }
    int ToPixelsY(int nDialogUnits) const { return (nDialogUnits * nY + 4) / 8; }
};
SBaseUnits BaseUnitsOf(const SDialogTemplate& dialogTemplate);

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, bool bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate)
        , m_pDlgWnd(pDlgWnd)
    {
    }
    bool m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Binds the template control nID to rControl, once: its messages then go
// through rControl's message map.
void DDX_Control(CDataExchange* pDX, int nID, CWnd& rControl);

// The controls of a template, made inside a window's widget; the objects
// that stand for them until data exchange binds member objects.
class CTemplateControls {
public:
    // Builds the controls at (nOriginX, nOriginY) of the parent's widget.
    void Create(const SDialogTemplate& dialogTemplate, CWnd& parent, int nOriginX, int nOriginY);

private:
    std::vector<std::unique_ptr<CWnd>> m_apDefaults;
};

// The owner of a dialog made without a parent: the application's main
// window. The framework sets it.
void SetDefaultDialogOwner(CWnd* (*pfnGetOwner)());

// Runs the toolkit and the message queue until bDone is set or the window is
// closed. Used by the main loop and by every modal dialog.
void RunMessageLoop(const bool& bDone, const CWnd* pWindow);

class CDialog : public CWnd {
public:
    CDialog(int nTemplateId, CWnd* pParent = nullptr);
    ~CDialog() override;

    // Shows the dialog and runs the modal loop; IDOK, IDCANCEL or the value
    // given to EndDialog. -1 when the template is missing.
    virtual int DoModal();
    // Makes the window and its controls and runs OnInitDialog, without showing
    // it or running the loop, so that a caller can drive the dialog itself
    // (DoModal starts with this). False when the template is missing.
    bool Create();
    void EndDialog(int nResult);
    // Whether EndDialog was called since Create, and the value it was given.
    bool IsEnded() const { return m_bEnded; }
    int GetEndResult() const { return m_nResult; }
    bool UpdateData(bool bSaveAndValidate = true);
    // Centres the dialog over its owner (or the screen).
    void CenterWindow();

    bool OnCmdMsg(UINT nID, UINT nCode, CCmdUI* pCmdUI) override;

protected:
    virtual bool OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();

private:
    int m_nTemplateId;
    CWnd* m_pOwner;
    CTemplateControls m_controls;
    bool m_bEnded = false;
    int m_nResult = IDCANCEL;
};
