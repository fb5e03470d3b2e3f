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

bool IsLine(const CFlListBox& list, int nIndex)
{
    return nIndex >= 0 && nIndex < list.GetCount();
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
    return pList ? pList->GetCount() : 0;
}

int CListBox::AddString(const std::string& strText)
{
    CFlListBox* pList = ListOf(*this);
    if (!pList)
        return LB_ERR;
    pList->AddLine(strText);
    return pList->GetCount() - 1;
}

int CListBox::DeleteString(int nIndex)
{
    CFlListBox* pList = ListOf(*this);
    if (!pList || !IsLine(*pList, nIndex))
        return LB_ERR;
    pList->RemoveLine(nIndex);
    return pList->GetCount();
}

void CListBox::ResetContent()
{
    if (CFlListBox* pList = ListOf(*this))
        pList->RemoveAll();
}

std::string CListBox::GetText(int nIndex) const
{
    const CFlListBox* pList = ListOf(*this);
    return pList && IsLine(*pList, nIndex) ? pList->GetLine(nIndex) : std::string();
}

int CListBox::GetSel(int nIndex) const
{
    const CFlListBox* pList = ListOf(*this);
    if (!pList || !IsLine(*pList, nIndex))
        return LB_ERR;
    return pList->IsSelected(nIndex) ? 1 : 0;
}

int CListBox::SetSel(int nIndex, bool bSelect)
{
    CFlListBox* pList = ListOf(*this);
    if (!pList)
        return LB_ERR;
    if (nIndex == -1) {
        for (int nLine = 0; nLine < pList->GetCount(); ++nLine)
            pList->SelectLine(nLine, bSelect);
        return 0;
    }
    if (!IsLine(*pList, nIndex))
        return LB_ERR;
    pList->SelectLine(nIndex, bSelect);
    return 0;
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
