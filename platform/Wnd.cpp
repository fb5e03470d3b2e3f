#include "Wnd.h"

#include "Widgets.h"

#include <FL/Fl.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Widget.H>
#include <FL/Fl_Window.H>

namespace {

const SMessageMap* NoBaseMap()
{
    return nullptr;
}

const SMessageMapEntry* FindEntry(const SMessageMap* pMap, UINT message, UINT nCode, UINT nID)
{
    for (; pMap; pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
        for (const SMessageMapEntry* pEntry = pMap->pEntries; pEntry->pfn; ++pEntry) {
            if (pEntry->nMessage != message)
                continue;
            const bool bInRange = nID >= pEntry->nID && nID <= pEntry->nLastID;
            if (message == WM_COMMAND && (!bInRange || pEntry->nCode != nCode))
                continue;
            if (message == WM_COMMAND_UPDATE && !bInRange)
                continue;
            return pEntry;
        }
    }
    return nullptr;
}

} // namespace

const SMessageMap* CCmdTarget::GetThisMessageMap()
{
    static const SMessageMapEntry aEntries[] = {{0, 0, 0, 0, nullptr}};
    static const SMessageMap messageMap = {&NoBaseMap, aEntries};
    return &messageMap;
}

bool CCmdTarget::DispatchMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (message == WM_COMMAND)
        return OnCmdMsg(LOWORD(wParam), HIWORD(wParam), nullptr);
    const SMessageMapEntry* pEntry = FindEntry(GetMessageMap(), message, 0, 0);
    if (!pEntry || message == WM_COMMAND_UPDATE)
        return false;
    const LRESULT nResult = pEntry->pfn(this, wParam, lParam, nullptr);
    if (pResult)
        *pResult = nResult;
    return true;
}

bool CCmdTarget::OnCmdMsg(UINT nID, UINT nCode, CCmdUI* pCmdUI)
{
    const SMessageMapEntry* pEntry =
        pCmdUI ? FindEntry(GetMessageMap(), WM_COMMAND_UPDATE, 0, nID) : FindEntry(GetMessageMap(), WM_COMMAND, nCode, nID);
    if (!pEntry)
        return false;
    // A range handler learns its command's id through wParam.
    pEntry->pfn(this, nID, 0, pCmdUI);
    return true;
}

bool CCmdTarget::HasCommandHandler(UINT nID) const
{
    return FindEntry(GetMessageMap(), WM_COMMAND, BN_CLICKED, nID) != nullptr;
}

CWnd::CWnd() = default;

CWnd::~CWnd()
{
    if (m_pWidget && WndFromWidget(m_pWidget) == this)
        m_pWidget->user_data(nullptr);
    m_pWidget = nullptr;
    m_pOwnedWidget.reset();
}

void CWnd::OwnWidget(std::unique_ptr<Fl_Widget> pWidget, int nID, CWnd* pParent)
{
    SubclassWidget(pWidget.get(), nID, pParent);
    m_pOwnedWidget = std::move(pWidget);
}

void CWnd::AttachWidget(Fl_Widget* pWidget)
{
    m_pWidget = pWidget;
    if (pWidget)
        pWidget->user_data(this);
}

void CWnd::SubclassWidget(Fl_Widget* pWidget, int nID, CWnd* pParent)
{
    AttachWidget(pWidget);
    m_nID = nID;
    m_pParent = pParent;
}

CWnd* CWnd::GetDlgItem(int nID) const
{
    auto* pGroup = m_pWidget ? m_pWidget->as_group() : nullptr;
    if (!pGroup)
        return nullptr;
    for (int i = 0; i < pGroup->children(); ++i) {
        CWnd* pChild = WndFromWidget(pGroup->child(i));
        if (pChild && pChild->m_nID == nID)
            return pChild;
    }
    return nullptr;
}

void CWnd::SetWindowText(const std::string& strText)
{
    if (!m_pWidget)
        return;
    if (Fl_Window* pWindow = m_pWidget->as_window(); pWindow && !m_pWidget->parent())
        pWindow->copy_label(strText.c_str());
    else
        m_pWidget->copy_label(strText.c_str());
    m_pWidget->redraw();
}

std::string CWnd::GetWindowText() const
{
    return m_pWidget && m_pWidget->label() ? m_pWidget->label() : "";
}

void CWnd::EnableWindow(bool bEnable)
{
    if (!m_pWidget)
        return;
    if (bEnable)
        m_pWidget->activate();
    else
        m_pWidget->deactivate();
    m_pWidget->redraw();
}

bool CWnd::IsWindowEnabled() const
{
    return m_pWidget && m_pWidget->active();
}

void CWnd::ShowWindow(bool bShow)
{
    if (!m_pWidget)
        return;
    if (bShow)
        m_pWidget->show();
    else
        m_pWidget->hide();
}

bool CWnd::IsWindowVisible() const
{
    return m_pWidget && m_pWidget->visible();
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, bool bRepaint)
{
    if (!m_pWidget)
        return;
    // Toolkit positions are relative to the enclosing window, ours to the parent.
    int nOriginX = 0;
    int nOriginY = 0;
    if (Fl_Group* pParent = m_pWidget->parent(); pParent && !pParent->as_window()) {
        nOriginX = pParent->x();
        nOriginY = pParent->y();
    }
    m_pWidget->resize(nOriginX + x, nOriginY + y, nWidth, nHeight);
    if (bRepaint)
        m_pWidget->redraw();
}

CRect CWnd::GetClientRect() const
{
    return m_pWidget ? CRect(0, 0, m_pWidget->w(), m_pWidget->h()) : CRect();
}

CRect CWnd::GetWindowRect() const
{
    if (!m_pWidget)
        return CRect();
    int nX = m_pWidget->as_window() ? 0 : m_pWidget->x();
    int nY = m_pWidget->as_window() ? 0 : m_pWidget->y();
    for (const Fl_Window* pWindow = m_pWidget->as_window() ? m_pWidget->as_window() : m_pWidget->window(); pWindow;
         pWindow = pWindow->window()) {
        nX += pWindow->x();
        nY += pWindow->y();
    }
    return CRect(nX, nY, nX + m_pWidget->w(), nY + m_pWidget->h());
}

void CWnd::Invalidate(bool bErase)
{
    if (!m_pWidget)
        return;
    (void)bErase; // every paint here covers its whole rectangle
    m_pWidget->redraw();
}

void CWnd::UpdateWindow()
{
    Fl::flush();
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT nResult = 0;
    if (!DispatchMessage(message, wParam, lParam, &nResult))
        nResult = DefWindowProc(message, wParam, lParam);
    return nResult;
}

bool CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::PostMessage(GetSafeHwnd(), message, wParam, lParam);
}

void CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    SendMessage(message, wParam, lParam);
}

bool CWnd::PaintFromWidget()
{
    return DispatchMessage(WM_PAINT, 0, 0);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/)
{
    if (message == WM_LBUTTONDOWN && m_pWidget)
        PressWidget(*m_pWidget);
    return 0;
}

CWnd* WndFromWidget(const Fl_Widget* pWidget)
{
    return pWidget ? static_cast<CWnd*>(pWidget->user_data()) : nullptr;
}
