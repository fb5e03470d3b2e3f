// The application framework the program stands on: the application object
// with its message loop and profile functions, the single-document template
// that makes the document, the main frame and the view, the frame with its
// command bar (a menu bar built from a menu resource, with check marks set
// by command-update handlers right before a menu opens), the form view, and
// message boxes.
//
// Commands from menus and accelerators go to the frame, which offers them
// to the view, the document, itself and the application, in that order.
// User-interface thread only.
#pragma once

#include "Dialog.h"
#include "platform/settings/ProfileStore.h"

#include <memory>
#include <string>
#include <vector>

// ---- resources -------------------------------------------------------------

struct SMenuItemDef {
    const char* strText;
    UINT nID;
};

struct SPopupDef {
    const char* strCaption;
    const SMenuItemDef* pItems;
    size_t nItems;
};

struct SMenuResource {
    int nResourceId;
    const SPopupDef* pPopups;
    size_t nPopups;
};

struct SAccelerator {
    char cKey; // with Ctrl held: 'N', 'O', ...
    UINT nCmd;
};

void RegisterMenuResource(const SMenuResource& menu);
void RegisterAccelerators(int nResourceId, const SAccelerator* pAccelerators, size_t nCount);

// ---- dynamic creation ------------------------------------------------------

struct SRuntimeClass {
    const char* strClassName;
    CCmdTarget* (*pfnCreateObject)();
};

#define DECLARE_DYNCREATE(theClass)                                                                                    \
public:                                                                                                                \
    static const SRuntimeClass classInfo;                                                                              \
    static CCmdTarget* CreateObject();

#define IMPLEMENT_DYNCREATE(theClass)                                                                                  \
    const SRuntimeClass theClass::classInfo = {#theClass, &theClass::CreateObject};                                    \
    CCmdTarget* theClass::CreateObject() { return new theClass; }

#define RUNTIME_CLASS(theClass) (&theClass::classInfo)

// ---- document, views, frame --------------------------------------------------

class CDocument : public CCmdTarget {
public:
    virtual bool OnNewDocument() { return true; }
};

class CView : public CWnd {
public:
    virtual void OnInitialUpdate() {}
    // Makes the view's widget inside the frame's client rectangle.
    virtual bool CreateView(CWnd* pFrame, const CRect& rect);

protected:
    friend class CFrameWnd;
    CDocument* m_pDocument = nullptr;
};

// A view that is a form made from a dialog template.
class CFormView : public CView {
public:
    explicit CFormView(int nTemplateId);
    bool CreateView(CWnd* pFrame, const CRect& rect) override;
    void OnInitialUpdate() override;
    bool UpdateData(bool bSaveAndValidate = true);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);

private:
    int m_nTemplateId;
    CTemplateControls m_controls;
};

class CCommandBar : public CWnd {
public:
    CCommandBar();
    ~CCommandBar() override;
    bool Create(CWnd* pParent);
    // Builds one drop-down button per popup of the menu resource.
    bool InsertMenuBar(int nMenuResourceId);
    bool AddAdornments(uint32_t nFlags);
    void SetBarStyle(uint32_t nStyle) { m_nBarStyle = nStyle; }
    uint32_t GetBarStyle() const { return m_nBarStyle; }
    int GetHeight() const;
    // The drop-down captions in order, and the items of one drop-down.
    std::vector<std::string> GetMenuCaptions() const;
    std::vector<std::string> GetMenuItems(size_t nMenu) const;
    // Runs the command-update handlers of every item (before a menu opens);
    // returns, per item id, whether it shows a check mark.
    void UpdateMenuItems();
    bool IsItemChecked(UINT nID) const;
    bool IsItemEnabled(UINT nID) const;

private:
    std::vector<size_t> PopupStarts() const;

    struct SMenu;
    std::unique_ptr<SMenu> m_pMenu;
    uint32_t m_nBarStyle = 0;
};

class CFrameWnd : public CWnd {
public:
    CFrameWnd();
    ~CFrameWnd() override;

    // Creates the window (WM_CREATE included) with its view; false when
    // OnCreate refuses.
    bool LoadFrame(const std::string& strTitle, const SRuntimeClass* pViewClass, CDocument* pDocument);
    CView* GetActiveView() const { return m_pView.get(); }
    void InitialUpdateFrame();
    // The command bar the frame's OnCreate made, for the menu updates.
    void SetCommandBar(CCommandBar* pCommandBar) { m_pCommandBar = pCommandBar; }
    CCommandBar* GetCommandBar() const { return m_pCommandBar; }
    void SetAccelerators(int nResourceId) { m_nAcceleratorId = nResourceId; }
    // The window's icon for the desktop, from a built-in image.
    void SetIcon(UINT nResourceId);
    // Places the view below the command bar.
    void RecalcLayout();
    // The accelerator command of a Ctrl+key press, 0 for none.
    UINT FindAccelerator(char cKey) const;

    bool OnCmdMsg(UINT nID, UINT nCode, CCmdUI* pCmdUI) override;
    // True when the view, the document, the frame or the application has a
    // handler for the command.
    bool IsCommandHandled(UINT nID) const;

protected:
    virtual int OnCreate();
    DECLARE_MESSAGE_MAP()

private:
    std::unique_ptr<CView> m_pView;
    CDocument* m_pDocument = nullptr;
    CCommandBar* m_pCommandBar = nullptr;
    int m_nAcceleratorId = 0;
};

class CSingleDocTemplate {
public:
    CSingleDocTemplate(int nResourceId, const SRuntimeClass* pDocClass, const SRuntimeClass* pFrameClass,
                       const SRuntimeClass* pViewClass);
    // Makes the document, the frame and the view; null when the frame fails.
    CFrameWnd* OpenDocumentFile();

private:
    int m_nResourceId;
    const SRuntimeClass* m_pDocClass;
    const SRuntimeClass* m_pFrameClass;
    const SRuntimeClass* m_pViewClass;
    std::unique_ptr<CDocument> m_pDocument;
    std::unique_ptr<CFrameWnd> m_pFrame;
};

// The document-template string's fields, '\n' separated: window title first.
void RegisterString(int nResourceId, const std::string& strText);
std::string LoadString(int nResourceId);

// ---- application -------------------------------------------------------------

class CWinApp : public CCmdTarget {
public:
    // The application's name is the executable's file name without extension.
    CWinApp();
    ~CWinApp() override;

    virtual bool InitInstance() { return true; }
    // The message loop: until the main window closes. Returns the exit code.
    virtual int Run();

    void SetRegistryKey(const std::string& strKey);
    int GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault);
    std::string GetProfileString(const std::string& strSection, const std::string& strEntry,
                                 const std::string& strDefault = std::string());
    bool WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue);
    bool WriteProfileString(const std::string& strSection, const std::string& strEntry, const std::string& strValue);
    CProfileStore& GetProfileStore() { return m_profile; }

    void AddDocTemplate(CSingleDocTemplate* pTemplate);
    // An empty command line makes a new document (and with it the frame).
    bool ProcessShellCommand();
    void OnFileNew();
    void OnFileOpen();

    const std::string& GetAppName() const { return m_strAppName; }

    CFrameWnd* m_pMainWnd = nullptr;

protected:
    DECLARE_MESSAGE_MAP()

private:
    std::string m_strAppName;
    CProfileStore m_profile;
    std::unique_ptr<CSingleDocTemplate> m_pDocTemplate;
};

CWinApp* AfxGetApp();

// Starts the toolkit (fonts, message-queue hooks), runs InitInstance and the
// message loop; the process's exit code.
int AfxWinMain(int argc, char** argv);

// ---- message boxes -----------------------------------------------------------

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_YESNO = 0x4;

// A modal box with the caption (the application's name when empty); the
// queue is dispatched while it is open. IDOK, IDYES or IDNO.
int MessageBox(CWnd* pOwner, const std::string& strText, const std::string& strCaption, UINT nType);
// Answers every message box instead of the user, for tests; null restores the boxes.
void SetMessageBoxResponder(int (*pfnRespond)(const std::string& strText, const std::string& strCaption, UINT nType));
