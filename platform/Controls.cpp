#include "Controls.h"

#include "Widgets.h"

#include <FL/Fl_Button.H>

namespace {

CFlListBox* ListOf(const CWnd& wnd)
{
    return dynamic_cast<CFlListBox*>(wnd.GetWidget());
}

CFlComboBox* ComboOf(const CWnd& wnd)
{
    return dynamic_cast<CFlComboBox*>(wnd.GetWidget());
}

// Every line starts with this format code: "show the rest as it is", so that
// a name starting with '@' is not taken for formatting.
const char kPlainText[] = "@.";
constexpr size_t kPlainTextLength = sizeof kPlainText - 1;

// Toolkit lines count from 1, ours from 0.
bool IsLine(const Fl_Browser& list, int nIndex)
{
    return nIndex >= 0 && nIndex < list.size();
}

} // namespace

void CButton::DrawItem(LPDRAWITEMSTRUCT /*lpDrawItemStruct*/)
{
}

int CButton::GetCheck() const
{
    const auto* pButton = dynamic_cast<const Fl_Button*>(m_pWidget);
    return pButton && pButton->value() ? BST_CHECKED : BST_UNCHECKED;
}

void CButton::SetCheck(int nCheck)
{
    if (auto* pButton = dynamic_cast<Fl_Button*>(m_pWidget))
        pButton->value(nCheck == BST_CHECKED ? 1 : 0);
}

int CListBox::GetCount() const
{
    const CFlListBox* pList = ListOf(*this);
    return pList ? pList->size() : 0;
}

int CListBox::AddString(const std::string& strText)
{
    CFlListBox* pList = ListOf(*this);
    if (!pList)
        return LB_ERR;
    pList->add((kPlainText + strText).c_str());
    return pList->size() - 1;
}

int CListBox::DeleteString(int nIndex)
{
    CFlListBox* pList = ListOf(*this);
    if (!pList || !IsLine(*pList, nIndex))
        return LB_ERR;
    pList->remove(nIndex + 1);
    return pList->size();
}

void CListBox::ResetContent()
{
    if (CFlListBox* pList = ListOf(*this))
        pList->clear();
}

std::string CListBox::GetText(int nIndex) const
{
    const CFlListBox* pList = ListOf(*this);
    if (!pList || !IsLine(*pList, nIndex) || !pList->text(nIndex + 1))
        return std::string();
    return std::string(pList->text(nIndex + 1)).substr(kPlainTextLength);
}

int CListBox::GetSel(int nIndex) const
{
    const CFlListBox* pList = ListOf(*this);
    if (!pList || !IsLine(*pList, nIndex))
        return LB_ERR;
    return pList->selected(nIndex + 1) ? 1 : 0;
}

int CListBox::SetSel(int nIndex, bool bSelect)
{
    CFlListBox* pList = ListOf(*this);
    if (!pList)
        return LB_ERR;
    if (nIndex == -1) {
        for (int nLine = 1; nLine <= pList->size(); ++nLine)
            pList->select(nLine, bSelect ? 1 : 0);
        return 0;
    }
    if (!IsLine(*pList, nIndex))
        return LB_ERR;
    pList->select(nIndex + 1, bSelect ? 1 : 0);
    return 0;
}

int CListBox::GetCurSel() const
{
    const CFlListBox* pList = ListOf(*this);
    return pList && pList->value() > 0 ? pList->value() - 1 : LB_ERR;
}

int CListBox::SetCurSel(int nIndex)
{
    CFlListBox* pList = ListOf(*this);
    if (!pList)
        return LB_ERR;
    if (!IsLine(*pList, nIndex)) {
        pList->deselect();
        return nIndex == -1 ? 0 : LB_ERR;
    }
    pList->select(nIndex + 1);
    return nIndex;
}

int CComboBox::GetCount() const
{
    const CFlComboBox* pCombo = ComboOf(*this);
    // The toolkit counts the end mark of a non-empty menu.
    return pCombo && pCombo->size() > 0 ? pCombo->size() - 1 : 0;
}

int CComboBox::AddString(const std::string& strText)
{
    CFlComboBox* pCombo = ComboOf(*this);
    if (!pCombo)
        return CB_ERR;
    // Item texts are taken literally: no submenus, shortcuts or escapes.
    const int nIndex = pCombo->add("x");
    pCombo->replace(nIndex, strText.c_str());
    return nIndex;
}

int CComboBox::GetCurSel() const
{
    const CFlComboBox* pCombo = ComboOf(*this);
    return pCombo && pCombo->value() >= 0 ? pCombo->value() : CB_ERR;
}

int CComboBox::SetCurSel(int nIndex)
{
    CFlComboBox* pCombo = ComboOf(*this);
    if (!pCombo || nIndex < 0 || nIndex >= GetCount())
        return CB_ERR;
    pCombo->value(nIndex);
    return nIndex;
}
