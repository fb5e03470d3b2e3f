#include "Widgets.h"

#include "Controls.h"
#include "Gdi.h"

#include <FL/Fl.H>
#include <FL/x.H>

#include <algorithm>

namespace {

void OnButtonCallback(Fl_Widget* pWidget, void*)
{
    NotifyParent(*pWidget, BN_CLICKED);
}

void OnListCallback(Fl_Widget* pWidget, void*)
{
    static_cast<CFlListBox*>(pWidget)->TakeSelectionFromBrowser();
    // A double-click also selects the line; the second click reports it.
    NotifyParent(*pWidget, Fl::event_clicks() > 0 ? LBN_DBLCLK : LBN_SELCHANGE);
}

// Every browser line starts with this format code: "show the rest as it is",
// so that a name starting with '@' is not taken for formatting.
const char kPlainText[] = "@.";

// A choice made in the drop-down both changes the selection and confirms it.
void OnComboCallback(Fl_Widget* pWidget, void*)
{
    NotifyParent(*pWidget, CBN_SELCHANGE);
    NotifyParent(*pWidget, CBN_SELENDOK);
}

} // namespace

void NotifyParent(Fl_Widget& widget, unsigned int nCode)
{
    CWnd* pWnd = WndFromWidget(&widget);
    if (pWnd && pWnd->GetParent())
        pWnd->GetParent()->PostMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(pWnd->GetDlgCtrlID()), nCode),
                                       reinterpret_cast<LPARAM>(pWnd->GetSafeHwnd()));
}

void PressWidget(Fl_Widget& widget)
{
    if (auto* pButton = dynamic_cast<CFlButton*>(&widget))
        pButton->Press();
}

CFlButton::CFlButton(int x, int y, int w, int h, bool bOwnerDraw)
    : Fl_Button(x, y, w, h)
    , m_bOwnerDraw(bOwnerDraw)
{
    callback(OnButtonCallback);
    when(FL_WHEN_RELEASE);
    if (bOwnerDraw)
        visible_focus(0);
}

int CFlButton::handle(int nEvent)
{
    CWnd* pWnd = WndFromWidget(this);
    if (nEvent == FL_PUSH && Fl::event_button() == FL_LEFT_MOUSE && Fl::event_clicks() > 0 && pWnd) {
        // The second press of a double tap goes to the owner first; a button
        // that does not handle it is pressed as usual.
        if (pWnd->DispatchMessage(WM_LBUTTONDBLCLK, 0, 0))
            return 1;
    }
    return Fl_Button::handle(nEvent);
}

void CFlButton::Press()
{
    Fl_Button::handle(FL_PUSH);
}

void CFlButton::draw()
{
    auto* pButton = dynamic_cast<CButton*>(WndFromWidget(this));
    if (!m_bOwnerDraw || !pButton) {
        Fl_Button::draw();
        return;
    }
    CPaintDC dc(pButton);
    DRAWITEMSTRUCT item;
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(pButton->GetDlgCtrlID());
    item.itemState = (value() ? ODS_SELECTED : 0) | (active_r() ? 0 : ODS_DISABLED) |
        (Fl::focus() == this ? ODS_FOCUS : 0);
    item.pDC = &dc;
    item.rcItem = CRect(0, 0, w(), h());
    pButton->DrawItem(&item);
}

CFlCheckButton::CFlCheckButton(int x, int y, int w, int h)
    : Fl_Check_Button(x, y, w, h)
{
    callback(OnButtonCallback);
}

CFlPaintBox::CFlPaintBox(int x, int y, int w, int h)
    : Fl_Widget(x, y, w, h)
{
    align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT);
}

void CFlPaintBox::draw()
{
    CWnd* pWnd = WndFromWidget(this);
    if (pWnd && pWnd->PaintFromWidget())
        return;
    draw_box();
    draw_label();
}

CFlListBox::CFlListBox(int x, int y, int w, int h, bool bMultipleSelection)
    : Fl_Browser(x, y, w, h)
    , m_bMultiple(bMultipleSelection)
{
    type(bMultipleSelection ? FL_MULTI_BROWSER : FL_HOLD_BROWSER);
    // Lines are file names: no columns.
    column_char(0);
    callback(OnListCallback);
    when(FL_WHEN_CHANGED | FL_WHEN_NOT_CHANGED);
}

bool CFlListBox::CanShow() const
{
    return fl_display != nullptr;
}

void CFlListBox::ShowAll()
{
    Fl_Browser::clear();
    for (size_t i = 0; i < m_astrLines.size(); ++i) {
        Fl_Browser::add((kPlainText + m_astrLines[i]).c_str());
        if (m_abSelected[i])
            Fl_Browser::select(static_cast<int>(i) + 1, 1);
    }
    m_bShown = true;
}

void CFlListBox::draw()
{
    if (!m_bShown)
        ShowAll();
    Fl_Browser::draw();
}

void CFlListBox::AddLine(const std::string& strText)
{
    m_astrLines.push_back(strText);
    m_abSelected.push_back(false);
    if (m_bShown && CanShow())
        Fl_Browser::add((kPlainText + strText).c_str());
    else
        m_bShown = false;
    redraw();
}

void CFlListBox::RemoveLine(int nIndex)
{
    m_astrLines.erase(m_astrLines.begin() + nIndex);
    m_abSelected.erase(m_abSelected.begin() + nIndex);
    if (m_bShown && CanShow())
        Fl_Browser::remove(nIndex + 1);
    else
        m_bShown = false;
    redraw();
}

void CFlListBox::RemoveAll()
{
    m_astrLines.clear();
    m_abSelected.clear();
    Fl_Browser::clear();
    m_bShown = true;
    redraw();
}

void CFlListBox::SelectLine(int nIndex, bool bSelect)
{
    if (!m_bMultiple && bSelect)
        std::fill(m_abSelected.begin(), m_abSelected.end(), false);
    m_abSelected[static_cast<size_t>(nIndex)] = bSelect;
    if (m_bShown && CanShow()) {
        if (!m_bMultiple && bSelect)
            Fl_Browser::deselect();
        Fl_Browser::select(nIndex + 1, bSelect ? 1 : 0);
    } else {
        m_bShown = false;
    }
    redraw();
}

void CFlListBox::TakeSelectionFromBrowser()
{
    if (!m_bShown)
        return;
    for (size_t i = 0; i < m_abSelected.size(); ++i)
        m_abSelected[i] = Fl_Browser::selected(static_cast<int>(i) + 1) != 0;
}

CFlComboBox::CFlComboBox(int x, int y, int w, int h)
    : Fl_Choice(x, y, w, h)
{
    callback(OnComboCallback);
}

CFlForm::CFlForm(int x, int y, int w, int h)
    : Fl_Group(x, y, w, h)
{
    resizable(nullptr);
}

void CFlForm::draw()
{
    CWnd* pWnd = WndFromWidget(this);
    if (!pWnd || !pWnd->PaintFromWidget())
        draw_box();
    draw_children();
}

CFlTopWindow::CFlTopWindow(int w, int h, const char* strLabel)
    : Fl_Double_Window(w, h, strLabel)
{
}

void CFlTopWindow::draw()
{
    CWnd* pWnd = WndFromWidget(this);
    // A window draws in its own coordinates, not at its place on the screen.
    if (!pWnd || !pWnd->PaintFromWidget())
        draw_box(box(), 0, 0, w(), h(), color());
    draw_children();
}
