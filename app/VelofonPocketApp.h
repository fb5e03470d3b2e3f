// The application object, the main frame with its command bar, the empty
// document and the about box.
#pragma once

#include "platform/desktop/Desktop.h"
#include "platform/DocView.h"

class CVelofonPocketApp : public CWinApp {
public:
    // Ends the program without a window when another instance runs, after
    // bringing that instance's window to the front.
    bool InitInstance() override;

    // Shows each top-level window whose caption contains the search text
    // (lParam, a const char*) and brings it to the front; visits them all.
    static bool ActivateMatchingWindow(XWINDOW hWnd, intptr_t lParam);

protected:
    void OnAppAbout();
    DECLARE_MESSAGE_MAP()
};

class CMainFrame : public CFrameWnd {
    DECLARE_DYNCREATE(CMainFrame)

public:
    CCommandBar m_wndCommandBar;

protected:
    int OnCreate() override;
    DECLARE_MESSAGE_MAP()
};

class CVelofonPocketDoc : public CDocument {
    DECLARE_DYNCREATE(CVelofonPocketDoc)

public:
    bool OnNewDocument() override { return CDocument::OnNewDocument(); }

protected:
    DECLARE_MESSAGE_MAP()
};

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    bool OnInitDialog() override;
    DECLARE_MESSAGE_MAP()
};

// The name of the running instance's marker and the word its window title holds.
extern const char kInstanceMutexName[];
extern const char kWindowSearchText[];
