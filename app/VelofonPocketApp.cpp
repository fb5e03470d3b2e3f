#include "VelofonPocketApp.h"

#include "Resource.h"

#include "player/VelofonPocketView.h"

#include <cstring>

const char kInstanceMutexName[] = "Velofon(z4YVP2N5)Pocket";
const char kWindowSearchText[] = "Kuroto";

namespace {

constexpr int kCaptionBufferChars = 512;

// Tool tips, fly-by help, fixed size.
constexpr uint32_t kCommandBarExtraStyle = 0x32;

} // namespace

// ---- application ----

BEGIN_MESSAGE_MAP(CVelofonPocketApp, CWinApp)
ON_COMMAND(ID_APP_ABOUT, OnAppAbout)
ON_COMMAND(ID_FILE_NEW, OnFileNew)
ON_COMMAND(ID_FILE_OPEN, OnFileOpen)
END_MESSAGE_MAP()

bool CVelofonPocketApp::InitInstance()
{
    RegisterResources();
    CreateNamedMutex(kInstanceMutexName);
    if (GetLastErrorOfMutex() == ERROR_ALREADY_EXISTS) {
        EnumTopLevelWindows(&CVelofonPocketApp::ActivateMatchingWindow, reinterpret_cast<intptr_t>(kWindowSearchText));
        return false;
    }
    SetRegistryKey("VelofonPocket");
    AddDocTemplate(new CSingleDocTemplate(IDR_MAINFRAME, RUNTIME_CLASS(CVelofonPocketDoc), RUNTIME_CLASS(CMainFrame),
                                          RUNTIME_CLASS(CVelofonPocketView)));
    if (!ProcessShellCommand())
        return false;
    m_pMainWnd->ShowWindow(true);
    m_pMainWnd->UpdateWindow();
    return true;
}

bool CVelofonPocketApp::ActivateMatchingWindow(XWINDOW hWnd, intptr_t lParam)
{
    char strCaption[kCaptionBufferChars];
    GetTopLevelWindowText(hWnd, strCaption, kCaptionBufferChars);
    if (std::strstr(strCaption, reinterpret_cast<const char*>(lParam))) {
        ShowTopLevelWindow(hWnd);
        SetForegroundTopLevelWindow(hWnd);
    }
    return true;
}

void CVelofonPocketApp::OnAppAbout()
{
    CAboutDlg aboutDlg;
    aboutDlg.DoModal();
}

// ---- main frame ----

IMPLEMENT_DYNCREATE(CMainFrame)

BEGIN_MESSAGE_MAP(CMainFrame, CFrameWnd)
ON_WM_CREATE()
END_MESSAGE_MAP()

int CMainFrame::OnCreate()
{
    if (CFrameWnd::OnCreate() == -1)
        return -1;
    if (!m_wndCommandBar.Create(this) || !m_wndCommandBar.InsertMenuBar(IDR_MAINFRAME) ||
        !m_wndCommandBar.AddAdornments(0))
        return -1;
    m_wndCommandBar.SetBarStyle(m_wndCommandBar.GetBarStyle() | kCommandBarExtraStyle);
    SetCommandBar(&m_wndCommandBar);
    SetIcon(IDI_ICON_LARGE);
    return 0;
}

// ---- document ----

IMPLEMENT_DYNCREATE(CVelofonPocketDoc)

BEGIN_MESSAGE_MAP(CVelofonPocketDoc, CDocument)
END_MESSAGE_MAP()

// ---- about box ----

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg()
    : CDialog(IDD_ABOUTBOX)
{
}

bool CAboutDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    CenterWindow();
    return true;
}
