#include "Dialog.h"

#include "Fonts.h"
#include "Gdi.h"
#include "Widgets.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <cstdlib>
#include <map>

namespace {

CWnd* (*g_pfnDefaultOwner)() = nullptr;

std::map<int, SDialogTemplate>& Templates()
{
    static std::map<int, SDialogTemplate> templates;
    return templates;
}

// The icon of an Icon control: its text names an image resource as "#<id>".
class CIconControl : public CStatic {
public:
    explicit CIconControl(UINT nResourceId)
        : m_nResourceId(nResourceId)
    {
    }

    DECLARE_MESSAGE_MAP()

private:
    // The icon fills its control, whatever the size of the image it comes from.
    void OnPaint()
    {
        const CRect client = GetClientRect();
        if (m_bitmap.IsEmpty())
            m_bitmap.LoadBitmap(m_nResourceId, client.Width(), client.Height());
        CDC memory;
        memory.CreateCompatibleDC(nullptr);
        memory.SelectObject(&m_bitmap);
        CPaintDC dc(this);
        dc.BitBlt(0, 0, m_bitmap.GetWidth(), m_bitmap.GetHeight(), &memory, 0, 0, SRCCOPY);
    }

    UINT m_nResourceId;
    CBitmap m_bitmap;
};

BEGIN_MESSAGE_MAP(CIconControl, CStatic)
ON_WM_PAINT()
END_MESSAGE_MAP()

std::unique_ptr<CWnd> MakeControl(const SDialogItem& item, CWnd& parent, int x, int y, int nWidth, int nHeight,
                                  int nFont, int nFontSize)
{
    std::unique_ptr<CWnd> pWnd;
    Fl_Widget* pWidget = nullptr;
    switch (item.eKind) {
    case EControlKind::PushButton:
        pWnd = std::make_unique<CButton>();
        pWidget = new CFlButton(x, y, nWidth, nHeight, (item.nStyle & BS_TYPEMASK) == BS_OWNERDRAW);
        break;
    case EControlKind::CheckBox:
        pWnd = std::make_unique<CButton>();
        pWidget = new CFlCheckButton(x, y, nWidth, nHeight);
        break;
    case EControlKind::Static:
        pWnd = std::make_unique<CStatic>();
        pWidget = new CFlPaintBox(x, y, nWidth, nHeight);
        pWidget->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP | FL_ALIGN_WRAP |
                       ((item.nStyle & SS_RIGHT) ? FL_ALIGN_RIGHT : FL_ALIGN_LEFT));
        if (item.nStyle & SS_SUNKEN) {
            pWidget->box(FL_DOWN_BOX);
            pWidget->color(FL_WHITE);
            pWidget->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_CLIP);
        }
        break;
    case EControlKind::GroupBox:
        pWnd = std::make_unique<CStatic>();
        pWidget = new CFlPaintBox(x, y, nWidth, nHeight);
        pWidget->box(FL_ENGRAVED_FRAME);
        pWidget->align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE);
        break;
    case EControlKind::Icon:
        pWnd = std::make_unique<CIconControl>(static_cast<UINT>(std::atoi(item.strText ? item.strText + 1 : "0")));
        pWidget = new CFlPaintBox(x, y, nWidth, nHeight);
        break;
    case EControlKind::ProgressBar:
        pWnd = std::make_unique<CProgressCtrl>();
        pWidget = new CFlPaintBox(x, y, nWidth, nHeight);
        break;
    case EControlKind::ListBox:
        pWnd = std::make_unique<CListBox>();
        pWidget = new CFlListBox(x, y, nWidth, nHeight, (item.nStyle & (LBS_EXTENDEDSEL | LBS_MULTIPLESEL)) != 0);
        static_cast<CFlListBox*>(pWidget)->textfont(nFont);
        static_cast<CFlListBox*>(pWidget)->textsize(nFontSize);
        break;
    case EControlKind::ComboBox:
        pWnd = std::make_unique<CComboBox>();
        pWidget = new CFlComboBox(x, y, nWidth, nHeight);
        static_cast<CFlComboBox*>(pWidget)->textfont(nFont);
        static_cast<CFlComboBox*>(pWidget)->textsize(nFontSize);
        break;
    }
    pWidget->labelfont(nFont);
    pWidget->labelsize(nFontSize);
    if (item.strText && item.eKind != EControlKind::Icon)
        pWidget->copy_label(item.strText);
    pWnd->SubclassWidget(pWidget, item.nID, &parent);
    return pWnd;
}

} // namespace

void SetDefaultDialogOwner(CWnd* (*pfnGetOwner)())
{
    g_pfnDefaultOwner = pfnGetOwner;
}

void RegisterDialogTemplate(const SDialogTemplate& dialogTemplate)
{
    Templates()[dialogTemplate.nResourceId] = dialogTemplate;
}

const SDialogTemplate* FindDialogTemplate(int nResourceId)
{
    const auto found = Templates().find(nResourceId);
    return found == Templates().end() ? nullptr : &found->second;
}

SBaseUnits BaseUnitsOf(const SDialogTemplate& dialogTemplate)
{
    // Without a display (tests of the player's logic) nothing is drawn; the
    // base units of the 9-point face on a 96-dpi screen stand in.
    const char* strDisplay = std::getenv("DISPLAY");
    if (!fl_display && (!strDisplay || !*strDisplay))
        return SBaseUnits{6, 15};
    fl_open_display();
    fl_font(ToolkitFontForFace(dialogTemplate.strFontFace), PixelsForTenthsOfPoint(dialogTemplate.nPointSize * 10));
    const char strAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const int nAverage = static_cast<int>((fl_width(strAlphabet) / 26 + 1) / 2);
    return SBaseUnits{std::max(1, nAverage), std::max(1, fl_height())};
}

void DDX_Control(CDataExchange* pDX, int nID, CWnd& rControl)
{
    if (rControl.GetWidget())
        return;
    CWnd* pTemplateControl = pDX->m_pDlgWnd->GetDlgItem(nID);
    if (pTemplateControl)
        rControl.SubclassWidget(pTemplateControl->GetWidget(), nID, pDX->m_pDlgWnd);
}

void CTemplateControls::Create(const SDialogTemplate& dialogTemplate, CWnd& parent, int nOriginX, int nOriginY)
{
    const SBaseUnits units = BaseUnitsOf(dialogTemplate);
    const int nFont = ToolkitFontForFace(dialogTemplate.strFontFace);
    const int nFontSize = PixelsForTenthsOfPoint(dialogTemplate.nPointSize * 10);
    auto* pGroup = parent.GetWidget()->as_group();
    pGroup->begin();
    for (size_t i = 0; i < dialogTemplate.nItems; ++i) {
        const SDialogItem& item = dialogTemplate.pItems[i];
        m_apDefaults.push_back(MakeControl(item, parent, nOriginX + units.ToPixelsX(item.x),
            nOriginY + units.ToPixelsY(item.y), units.ToPixelsX(item.cx), units.ToPixelsY(item.cy), nFont, nFontSize));
    }
    pGroup->end();
}

void RunMessageLoop(const bool& bDone, const CWnd* pWindow)
{
    while (!bDone && (!pWindow || pWindow->IsWindowVisible())) {
        // Block in the toolkit only while our queue is empty.
        Fl::wait(GetQueuedMessageCount() > 0 ? 0.0 : 1e20);
        while (!bDone && DispatchOneMessage()) {
        }
    }
}

CDialog::CDialog(int nTemplateId, CWnd* pParent)
    : m_nTemplateId(nTemplateId)
    , m_pOwner(pParent)
{
}

CDialog::~CDialog() = default;

int CDialog::DoModal()
{
    if (!Create())
        return -1;
    auto* pTop = static_cast<Fl_Window*>(GetWidget());
    pTop->set_modal();
    pTop->show();
    RunMessageLoop(m_bEnded, this);
    pTop->hide();
    return m_nResult;
}

bool CDialog::Create()
{
    const SDialogTemplate* pTemplate = FindDialogTemplate(m_nTemplateId);
    if (!pTemplate)
        return false;
    if (!m_pOwner && g_pfnDefaultOwner)
        m_pOwner = g_pfnDefaultOwner();
    const SBaseUnits units = BaseUnitsOf(*pTemplate);
    auto pWindow = std::make_unique<CFlTopWindow>(units.ToPixelsX(pTemplate->cx), units.ToPixelsY(pTemplate->cy),
                                                  nullptr);
    pWindow->copy_label(pTemplate->strCaption);
    pWindow->end();
    // Closing the window is Cancel, decided by the dialog.
    pWindow->callback([](Fl_Widget* pWidget, void*) {
        if (CWnd* pWnd = WndFromWidget(pWidget))
            pWnd->PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    OwnWidget(std::move(pWindow), m_nTemplateId, m_pOwner);
    m_controls.Create(*pTemplate, *this, 0, 0);

    m_bEnded = false;
    m_nResult = IDCANCEL;
    // Over its owner rather than wherever the window system puts it.
    CenterWindow();
    OnInitDialog();
    return true;
}

void CDialog::EndDialog(int nResult)
{
    m_nResult = nResult;
    m_bEnded = true;
}

bool CDialog::UpdateData(bool bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return true;
}

void CDialog::CenterWindow()
{
    Fl_Widget* pWidget = GetWidget();
    if (!pWidget)
        return;
    int nX = 0;
    int nY = 0;
    int nWidth = Fl::w();
    int nHeight = Fl::h();
    if (m_pOwner && m_pOwner->GetWidget()) {
        const CRect owner = m_pOwner->GetWindowRect();
        nX = owner.left;
        nY = owner.top;
        nWidth = owner.Width();
        nHeight = owner.Height();
    }
    pWidget->position(nX + (nWidth - pWidget->w()) / 2, nY + (nHeight - pWidget->h()) / 2);
}

bool CDialog::OnCmdMsg(UINT nID, UINT nCode, CCmdUI* pCmdUI)
{
    if (CWnd::OnCmdMsg(nID, nCode, pCmdUI))
        return true;
    if (pCmdUI || nCode != BN_CLICKED)
        return false;
    if (nID == IDOK) {
        OnOK();
        return true;
    }
    if (nID == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

bool CDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/)
{
}

void CDialog::OnOK()
{
    UpdateData(true);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}
