#include "DocView.h"

#include "platform/desktop/Desktop.h"
#include "Fonts.h"
#include "Gdi.h"
#include "Widgets.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <atomic>
#include <map>

namespace {

CWinApp* g_pApp = nullptr;

std::map<int, SMenuResource>& Menus()
{
    static std::map<int, SMenuResource> menus;
    return menus;
}

std::map<int, std::vector<SAccelerator>>& Accelerators()
{
    static std::map<int, std::vector<SAccelerator>> accelerators;
    return accelerators;
}

std::map<int, std::string>& Strings()
{
    static std::map<int, std::string> strings;
    return strings;
}

// ---- the toolkit's side of the message queue ----

std::atomic<bool> g_bGathering {false};

// Any wait of the toolkit (our loops, its menus and boxes) dispatches posted
// messages, as the handheld platform's modal loops do. Only PumpMessage's own
// gathering of input does not, so that it dispatches at most one message.
void OnAwake(void*)
{
    if (g_bGathering)
        return;
    while (DispatchOneMessage()) {
    }
}

void GatherInput()
{
    g_bGathering = true;
    Fl::check();
    g_bGathering = false;
}

void Wake()
{
    Fl::awake(OnAwake, nullptr);
}

// ---- command bar ----

class CMenuCmdUI : public CCmdUI {
public:
    CMenuCmdUI(Fl_Menu_Item& item, UINT nID)
        : CCmdUI(nID)
        , m_item(item)
    {
    }
    void Enable(bool bOn) override
    {
        if (bOn)
            m_item.activate();
        else
            m_item.deactivate();
    }
    // An item that can carry a mark shows an empty box while unchecked, so
    // that the items of one menu stay aligned.
    void SetCheck(int nCheck) override
    {
        m_item.flags |= FL_MENU_TOGGLE;
        if (nCheck)
            m_item.flags |= FL_MENU_VALUE;
        else
            m_item.flags &= ~FL_MENU_VALUE;
    }

private:
    Fl_Menu_Item& m_item;
};

class CFlCommandBar : public Fl_Menu_Bar {
public:
    CFlCommandBar(int x, int y, int w, int h)
        : Fl_Menu_Bar(x, y, w, h)
    {
    }

    int handle(int nEvent) override
    {
        // Check marks and enabling are brought up to date before a menu opens.
        if (nEvent == FL_PUSH || nEvent == FL_SHORTCUT || nEvent == FL_KEYBOARD) {
            if (auto* pBar = dynamic_cast<CCommandBar*>(WndFromWidget(this)))
                pBar->UpdateMenuItems();
        }
        return Fl_Menu_Bar::handle(nEvent);
    }
};

void OnMenuItem(Fl_Widget* pWidget, void* pData)
{
    CWnd* pBar = WndFromWidget(pWidget);
    if (pBar && pBar->GetParent())
        pBar->GetParent()->PostMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(reinterpret_cast<uintptr_t>(pData)), 0));
}

// ---- frame window ----

class CFlFrameWindow : public CFlTopWindow {
public:
    CFlFrameWindow(int w, int h)
        : CFlTopWindow(w, h, nullptr)
    {
    }

    int handle(int nEvent) override
    {
        if (nEvent == FL_SHORTCUT && (Fl::event_state() & FL_CTRL)) {
            auto* pFrame = dynamic_cast<CFrameWnd*>(WndFromWidget(this));
            const int nKey = Fl::event_key();
            if (pFrame && nKey >= 'a' && nKey <= 'z') {
                if (const UINT nCmd = pFrame->FindAccelerator(static_cast<char>(nKey - 'a' + 'A'))) {
                    pFrame->PostMessage(WM_COMMAND, MAKEWPARAM(nCmd, 0));
                    return 1;
                }
            }
        }
        return CFlTopWindow::handle(nEvent);
    }
};

constexpr int kCommandBarHeight = 26;
// The client area of the handheld's landscape screen, which the form's
// layout fills.
constexpr int kClientWidth = 320;
constexpr int kClientHeight = 188;

} // namespace

void RegisterMenuResource(const SMenuResource& menu)
{
    Menus()[menu.nResourceId] = menu;
}

void RegisterAccelerators(int nResourceId, const SAccelerator* pAccelerators, size_t nCount)
{
    Accelerators()[nResourceId].assign(pAccelerators, pAccelerators + nCount);
}

void RegisterString(int nResourceId, const std::string& strText)
{
    Strings()[nResourceId] = strText;
}

std::string LoadString(int nResourceId)
{
    const auto found = Strings().find(nResourceId);
    return found == Strings().end() ? std::string() : found->second;
}

// ---- views ----

bool CView::CreateView(CWnd* pFrame, const CRect& rect)
{
    auto* pGroup = pFrame->GetWidget()->as_group();
    pGroup->begin();
    auto* pWidget = new CFlForm(rect.left, rect.top, rect.Width(), rect.Height());
    pWidget->end();
    pGroup->end();
    SubclassWidget(pWidget, 0xE900, pFrame);
    return true;
}

CFormView::CFormView(int nTemplateId)
    : m_nTemplateId(nTemplateId)
{
}

bool CFormView::CreateView(CWnd* pFrame, const CRect& rect)
{
    const SDialogTemplate* pTemplate = FindDialogTemplate(m_nTemplateId);
    if (!pTemplate || !CView::CreateView(pFrame, rect))
        return false;
    m_controls.Create(*pTemplate, *this, rect.left, rect.top);
    return true;
}

void CFormView::OnInitialUpdate()
{
    UpdateData(false);
}

bool CFormView::UpdateData(bool bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return true;
}

void CFormView::DoDataExchange(CDataExchange* /*pDX*/)
{
}

// ---- command bar ----

struct CCommandBar::SMenu {
    std::vector<std::string> astrTexts; // keeps the item labels alive
    std::vector<Fl_Menu_Item> aItems;
};

CCommandBar::CCommandBar() = default;
CCommandBar::~CCommandBar() = default;

bool CCommandBar::Create(CWnd* pParent)
{
    auto* pGroup = pParent->GetWidget()->as_group();
    if (!pGroup)
        return false;
    pGroup->begin();
    auto* pBar = new CFlCommandBar(0, 0, pGroup->w(), kCommandBarHeight);
    pGroup->end();
    SubclassWidget(pBar, 0xE800, pParent);
    return true;
}

bool CCommandBar::InsertMenuBar(int nMenuResourceId)
{
    const auto found = Menus().find(nMenuResourceId);
    auto* pBar = dynamic_cast<CFlCommandBar*>(m_pWidget);
    if (found == Menus().end() || !pBar)
        return false;
    const SMenuResource& menu = found->second;
    m_pMenu = std::make_unique<SMenu>();
    size_t nCount = 1;
    for (size_t i = 0; i < menu.nPopups; ++i)
        nCount += menu.pPopups[i].nItems + 2;
    m_pMenu->astrTexts.reserve(nCount);
    auto text = [this](const char* str) { return m_pMenu->astrTexts.emplace_back(str).c_str(); };
    for (size_t i = 0; i < menu.nPopups; ++i) {
        const SPopupDef& popup = menu.pPopups[i];
        m_pMenu->aItems.push_back(Fl_Menu_Item {text(popup.strCaption), 0, nullptr, nullptr, FL_SUBMENU, 0, 0, 0, 0});
        for (size_t j = 0; j < popup.nItems; ++j) {
            const SMenuItemDef& item = popup.pItems[j];
            m_pMenu->aItems.push_back(Fl_Menu_Item {text(item.strText), 0, OnMenuItem,
                reinterpret_cast<void*>(static_cast<uintptr_t>(item.nID)), 0, 0, 0, 0, 0});
        }
        m_pMenu->aItems.push_back(Fl_Menu_Item {});
    }
    m_pMenu->aItems.push_back(Fl_Menu_Item {});
    // The bar shows the items as they are: '&' and '/' are not markup here.
    pBar->menu(m_pMenu->aItems.data());
    return true;
}

bool CCommandBar::AddAdornments(uint32_t /*nFlags*/)
{
    // The handheld's adornments (OK and help buttons in the bar) have no
    // counterpart in a desktop window's title bar.
    return m_pWidget != nullptr;
}

int CCommandBar::GetHeight() const
{
    return m_pWidget ? m_pWidget->h() : 0;
}

// The drop-downs of the bar: the index of each caption item in aItems; its
// entries follow it up to the next end mark.
std::vector<size_t> CCommandBar::PopupStarts() const
{
    std::vector<size_t> anStarts;
    if (!m_pMenu)
        return anStarts;
    const std::vector<Fl_Menu_Item>& aItems = m_pMenu->aItems;
    for (size_t i = 0; i < aItems.size() && aItems[i].text; ++i) {
        anStarts.push_back(i);
        while (aItems[i + 1].text)
            ++i;
        ++i; // the drop-down's end mark
    }
    return anStarts;
}

std::vector<std::string> CCommandBar::GetMenuCaptions() const
{
    std::vector<std::string> astrCaptions;
    for (size_t nStart : PopupStarts())
        astrCaptions.emplace_back(m_pMenu->aItems[nStart].text);
    return astrCaptions;
}

std::vector<std::string> CCommandBar::GetMenuItems(size_t nMenu) const
{
    std::vector<std::string> astrItems;
    const std::vector<size_t> anStarts = PopupStarts();
    if (nMenu >= anStarts.size())
        return astrItems;
    for (size_t i = anStarts[nMenu] + 1; m_pMenu->aItems[i].text; ++i)
        astrItems.emplace_back(m_pMenu->aItems[i].text);
    return astrItems;
}

void CCommandBar::UpdateMenuItems()
{
    auto* pFrame = dynamic_cast<CFrameWnd*>(m_pParent);
    if (!m_pMenu || !pFrame)
        return;
    for (Fl_Menu_Item& item : m_pMenu->aItems) {
        if (!item.text || item.submenu())
            continue;
        const UINT nID = static_cast<UINT>(reinterpret_cast<uintptr_t>(item.user_data()));
        CMenuCmdUI ui(item, nID);
        // An item is enabled when some object handles its command; its update
        // handler may then set its mark.
        ui.Enable(pFrame->IsCommandHandled(nID));
        pFrame->OnCmdMsg(nID, 0, &ui);
    }
}

namespace {

const Fl_Menu_Item* FindItem(const std::vector<Fl_Menu_Item>& aItems, UINT nID)
{
    for (const Fl_Menu_Item& item : aItems) {
        if (item.text && !item.submenu() && reinterpret_cast<uintptr_t>(item.user_data()) == nID)
            return &item;
    }
    return nullptr;
}

} // namespace

bool CCommandBar::IsItemChecked(UINT nID) const
{
    const Fl_Menu_Item* pItem = m_pMenu ? FindItem(m_pMenu->aItems, nID) : nullptr;
    return pItem && (pItem->flags & FL_MENU_VALUE);
}

bool CCommandBar::IsItemEnabled(UINT nID) const
{
    const Fl_Menu_Item* pItem = m_pMenu ? FindItem(m_pMenu->aItems, nID) : nullptr;
    return pItem && pItem->active();
}

// ---- frame ----

BEGIN_MESSAGE_MAP(CFrameWnd, CWnd)
ON_WM_CREATE()
END_MESSAGE_MAP()

CFrameWnd::CFrameWnd() = default;

CFrameWnd::~CFrameWnd()
{
    m_pView.reset();
}

bool CFrameWnd::LoadFrame(const std::string& strTitle, const SRuntimeClass* pViewClass, CDocument* pDocument)
{
    auto pWindow = std::make_unique<CFlFrameWindow>(kClientWidth, kClientHeight + kCommandBarHeight);
    pWindow->copy_label(strTitle.c_str());
    pWindow->end();
    pWindow->size_range(kClientWidth, kClientHeight + kCommandBarHeight);
    pWindow->callback([](Fl_Widget* pWidget, void*) { pWidget->hide(); });
    OwnWidget(std::move(pWindow), 0, nullptr);
    m_pDocument = pDocument;

    // The view first, as the framework's own creation does; the command bar
    // of the derived frame's OnCreate then takes the top.
    m_pView.reset(static_cast<CView*>(pViewClass->pfnCreateObject()));
    m_pView->m_pDocument = pDocument;
    if (!m_pView->CreateView(this, CRect(0, kCommandBarHeight, m_pWidget->w(), m_pWidget->h())))
        return false;
    if (SendMessage(WM_CREATE) == -1)
        return false;
    RecalcLayout();
    return true;
}

int CFrameWnd::OnCreate()
{
    return 0;
}

void CFrameWnd::RecalcLayout()
{
    if (!m_pView || !m_pView->GetWidget())
        return;
    const int nTop = m_pCommandBar ? m_pCommandBar->GetHeight() : 0;
    auto* pWindow = m_pWidget->as_window();
    m_pView->GetWidget()->resize(0, nTop, pWindow->w(), pWindow->h() - nTop);
    pWindow->resizable(m_pView->GetWidget());
}

void CFrameWnd::InitialUpdateFrame()
{
    if (m_pView)
        m_pView->OnInitialUpdate();
}

void CFrameWnd::SetIcon(UINT nResourceId)
{
    CBitmap icon;
    if (icon.LoadBitmap(nResourceId) && m_pWidget && m_pWidget->as_window())
        m_pWidget->as_window()->icon(icon.GetImage()); // the window keeps a copy
}

UINT CFrameWnd::FindAccelerator(char cKey) const
{
    const auto found = Accelerators().find(m_nAcceleratorId);
    if (found == Accelerators().end())
        return 0;
    for (const SAccelerator& accelerator : found->second) {
        if (accelerator.cKey == cKey)
            return accelerator.nCmd;
    }
    return 0;
}

bool CFrameWnd::OnCmdMsg(UINT nID, UINT nCode, CCmdUI* pCmdUI)
{
    if (m_pView && m_pView->OnCmdMsg(nID, nCode, pCmdUI))
        return true;
    if (m_pDocument && m_pDocument->OnCmdMsg(nID, nCode, pCmdUI))
        return true;
    if (CWnd::OnCmdMsg(nID, nCode, pCmdUI))
        return true;
    return AfxGetApp() && AfxGetApp()->OnCmdMsg(nID, nCode, pCmdUI);
}

bool CFrameWnd::IsCommandHandled(UINT nID) const
{
    return (m_pView && m_pView->HasCommandHandler(nID)) || (m_pDocument && m_pDocument->HasCommandHandler(nID)) ||
        HasCommandHandler(nID) || (AfxGetApp() && AfxGetApp()->HasCommandHandler(nID));
}

// ---- document template ----

CSingleDocTemplate::CSingleDocTemplate(int nResourceId, const SRuntimeClass* pDocClass,
                                       const SRuntimeClass* pFrameClass, const SRuntimeClass* pViewClass)
    : m_nResourceId(nResourceId)
    , m_pDocClass(pDocClass)
    , m_pFrameClass(pFrameClass)
    , m_pViewClass(pViewClass)
{
}

CFrameWnd* CSingleDocTemplate::OpenDocumentFile()
{
    if (m_pFrame) {
        // A single-document program keeps its frame; the document starts anew.
        m_pDocument->OnNewDocument();
        return m_pFrame.get();
    }
    m_pDocument.reset(static_cast<CDocument*>(m_pDocClass->pfnCreateObject()));
    std::unique_ptr<CFrameWnd> pFrame(static_cast<CFrameWnd*>(m_pFrameClass->pfnCreateObject()));
    const std::string strTemplate = LoadString(m_nResourceId);
    const std::string strTitle = strTemplate.substr(0, strTemplate.find('\n'));
    pFrame->SetAccelerators(m_nResourceId);
    if (!pFrame->LoadFrame(strTitle, m_pViewClass, m_pDocument.get()) || !m_pDocument->OnNewDocument())
        return nullptr;
    pFrame->InitialUpdateFrame();
    m_pFrame = std::move(pFrame);
    return m_pFrame.get();
}

// ---- application ----

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp()
{
    g_pApp = this;
    const std::string strPath = GetModuleFileName();
    m_strAppName = strPath.substr(strPath.rfind('/') + 1);
    const size_t nDot = m_strAppName.rfind('.');
    if (nDot != std::string::npos && nDot > 0)
        m_strAppName.erase(nDot);
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

int CWinApp::Run()
{
    const bool bNeverDone = false;
    RunMessageLoop(bNeverDone, m_pMainWnd);
    return 0;
}

void CWinApp::SetRegistryKey(const std::string& strKey)
{
    m_profile.SetLocation(strKey, m_strAppName);
}

int CWinApp::GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault)
{
    return m_profile.GetProfileInt(strSection, strEntry, nDefault);
}

std::string CWinApp::GetProfileString(const std::string& strSection, const std::string& strEntry,
                                      const std::string& strDefault)
{
    return m_profile.GetProfileString(strSection, strEntry, strDefault);
}

bool CWinApp::WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue)
{
    return m_profile.WriteProfileInt(strSection, strEntry, nValue);
}

bool CWinApp::WriteProfileString(const std::string& strSection, const std::string& strEntry,
                                 const std::string& strValue)
{
    return m_profile.WriteProfileString(strSection, strEntry, strValue);
}

void CWinApp::AddDocTemplate(CSingleDocTemplate* pTemplate)
{
    m_pDocTemplate.reset(pTemplate);
}

bool CWinApp::ProcessShellCommand()
{
    OnFileNew();
    return m_pMainWnd != nullptr;
}

void CWinApp::OnFileNew()
{
    if (m_pDocTemplate)
        m_pMainWnd = m_pDocTemplate->OpenDocumentFile();
}

void CWinApp::OnFileOpen()
{
    // The document holds nothing, so opening one is starting a new one.
    OnFileNew();
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

int AfxWinMain(int /*argc*/, char** /*argv*/)
{
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return 1;
    Fl::lock(); // lets other threads wake the toolkit
    fl_open_display();
    InitJapaneseFonts();
    Fl::visual(FL_DOUBLE | FL_RGB);
    // The window class is what desktop entries and docks match windows by.
    Fl_Window::default_xclass(pApp->GetAppName().c_str());
    SetMessageQueueHooks(GatherInput, Wake);
    SetDefaultDialogOwner([]() -> CWnd* { return AfxGetApp() ? AfxGetApp()->m_pMainWnd : nullptr; });
    if (!pApp->InitInstance())
        return 1;
    return pApp->Run();
}

// ---- message boxes ----

namespace {

int (*g_pfnMessageBoxResponder)(const std::string&, const std::string&, UINT) = nullptr;

} // namespace

void SetMessageBoxResponder(int (*pfnRespond)(const std::string& strText, const std::string& strCaption, UINT nType))
{
    g_pfnMessageBoxResponder = pfnRespond;
}

int MessageBox(CWnd* pOwner, const std::string& strText, const std::string& strCaption, UINT nType)
{
    if (g_pfnMessageBoxResponder)
        return g_pfnMessageBoxResponder(strText, strCaption, nType);
    const bool bYesNo = (nType & 0xF) == MB_YESNO;
    const int nFontSize = 14;
    fl_font(FL_HELVETICA, nFontSize);
    int nTextWidth = 320;
    int nTextHeight = 0;
    fl_measure(strText.c_str(), nTextWidth, nTextHeight, 0);
    const int nWidth = std::max(nTextWidth + 30, bYesNo ? 200 : 120);
    const int nHeight = nTextHeight + 70;

    // A plain window: its user data is the close choice, not a CWnd.
    Fl_Double_Window window(nWidth, nHeight);
    const std::string strTitle = strCaption.empty() && AfxGetApp() ? AfxGetApp()->GetAppName() : strCaption;
    window.copy_label(strTitle.c_str());
    auto* pText = new Fl_Box(15, 10, nTextWidth, nTextHeight);
    pText->copy_label(strText.c_str());
    pText->labelsize(nFontSize);
    pText->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_WRAP);
    int nResult = static_cast<int>(bYesNo ? IDNO : IDOK);
    bool bDone = false;
    struct SChoice {
        int* pResult;
        bool* pDone;
        int nValue;
    };
    SChoice yes {&nResult, &bDone, static_cast<int>(bYesNo ? IDYES : IDOK)};
    SChoice no {&nResult, &bDone, static_cast<int>(IDNO)};
    auto choose = [](Fl_Widget*, void* pData) {
        const auto* pChoice = static_cast<SChoice*>(pData);
        *pChoice->pResult = pChoice->nValue;
        *pChoice->pDone = true;
    };
    const int nButtonTop = nHeight - 40;
    auto* pYes = new Fl_Button(nWidth - (bYesNo ? 190 : 95), nButtonTop, 80, 28, bYesNo ? "はい" : "OK");
    pYes->callback(choose, &yes);
    if (bYesNo) {
        auto* pNo = new Fl_Button(nWidth - 95, nButtonTop, 80, 28, "いいえ");
        pNo->callback(choose, &no);
    }
    window.end();
    window.callback(choose, bYesNo ? &no : &yes);
    window.set_modal();
    if (pOwner && pOwner->GetWidget()) {
        const CRect owner = pOwner->GetWindowRect();
        window.position(owner.left + (owner.Width() - nWidth) / 2, owner.top + (owner.Height() - nHeight) / 2);
    }
    window.show();
    RunMessageLoop(bDone, nullptr);
    window.hide();
    return nResult;
}
