#include "FileBrowserDlg.h"

#include "FolderListing.h"

#include "engine/PlayableFiles.h"

#include <algorithm>

namespace {

struct SFilter {
    std::string strLabel;
    std::string strPattern;
};

// The first, chosen when the browser opens, offers every format the player plays.
const std::vector<SFilter>& Filters()
{
    static const std::vector<SFilter> s_aFilters = {
        {"音声ファイル(" + PlayablePatternList() + ")", PlayablePatternList()},
        {"Wave形式(*.wav)", "*.wav"},
        {"全ての形式(*.*)", "*.*"},
    };
    return s_aFilters;
}

// Messages dispatched at one progress point at most: enough for the user's
// clicks, while a busy sender (playback goes on) cannot hold the gathering.
constexpr int kMaxMessagesPerProgress = 64;

} // namespace

BEGIN_MESSAGE_MAP(CFileBrowserDlg, CDialog)
ON_BN_CLICKED(IDC_BROWSER_PARENT, OnParentFolder)
ON_BN_CLICKED(IDC_BROWSER_FOLDER_MODE, OnModeChange)
ON_CBN_SELENDOK(IDC_BROWSER_FILTER, OnFilterChosen)
ON_LBN_DBLCLK(IDC_BROWSER_ENTRIES, OnOK)
ON_CBN_SELCHANGE(IDC_BROWSER_FILTER, OnFilterSelChange)
ON_LBN_SELCHANGE(IDC_BROWSER_ENTRIES, OnEntrySelChange)
ON_BN_CLICKED(IDOK, OnOK)
ON_BN_CLICKED(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CFileBrowserDlg::CFileBrowserDlg(CWnd* pParent)
    : CDialog(IDD, pParent)
{
}

void CFileBrowserDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_BROWSER_FILTER, m_ComboFilter);
    DDX_Control(pDX, IDC_BROWSER_ENTRIES, m_ListEntries);
}

bool CFileBrowserDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_astrResult.clear();
    SetPath(m_strStartFolderForTest);
    for (const SFilter& filter : Filters())
        m_ComboFilter.AddString(filter.strLabel);
    m_ComboFilter.SetCurSel(0);
    if (auto* pFolderMode = dynamic_cast<CButton*>(GetDlgItem(IDC_BROWSER_FOLDER_MODE)))
        pFolderMode->SetCheck(m_bFileMode ? BST_UNCHECKED : BST_CHECKED);
    Refill();
    return true;
}

std::string CFileBrowserDlg::GetPath() const
{
    const CWnd* pPath = GetDlgItem(IDC_BROWSER_PATH);
    return pPath ? pPath->GetWindowText() : std::string("/");
}

void CFileBrowserDlg::SetPath(const std::string& strPath)
{
    if (CWnd* pPath = GetDlgItem(IDC_BROWSER_PATH))
        pPath->SetWindowText(strPath);
}

std::vector<int> CFileBrowserDlg::GetSelectedEntries() const
{
    std::vector<int> anSelected;
    for (int i = 0; i < m_ListEntries.GetCount(); ++i) {
        if (m_ListEntries.GetSel(i) > 0)
            anSelected.push_back(i);
    }
    return anSelected;
}

void CFileBrowserDlg::Refill()
{
    m_ListEntries.ResetContent();
    const std::string strPath = GetPath();
    if (CWnd* pParentButton = GetDlgItem(IDC_BROWSER_PARENT))
        pParentButton->EnableWindow(strPath != "/");
    // The combo holds the filters in their order; no choice (CB_ERR) reads as the first.
    const std::string& strPattern = Filters()[static_cast<size_t>(std::max(0, m_ComboFilter.GetCurSel()))].strPattern;
    for (const std::string& strLine : BrowserLines(strPath, strPattern, m_bFileMode))
        m_ListEntries.AddString(strLine);
}

void CFileBrowserDlg::OnParentFolder()
{
    if (m_bGathering)
        return;
    SetPath(ParentFolderOf(GetPath()));
    Refill();
}

void CFileBrowserDlg::OnModeChange()
{
    if (m_bGathering)
        return;
    const auto* pFolderMode = dynamic_cast<const CButton*>(GetDlgItem(IDC_BROWSER_FOLDER_MODE));
    m_bFileMode = !(pFolderMode && pFolderMode->GetCheck() == BST_CHECKED);
    Refill();
}

void CFileBrowserDlg::OnFilterChosen()
{
    if (m_bGathering)
        return;
    Refill();
}

void CFileBrowserDlg::OnOK()
{
    // The gathering dispatches messages: a second OK (or a double-click)
    // arriving then must not start another one inside it.
    if (m_bGathering)
        return;
    const std::string strFolder = StripTrailingSeparator(GetPath());
    const std::vector<int> anSelected = GetSelectedEntries();
    if (!m_bFileMode) {
        GatherSelectedFolders(strFolder, anSelected);
        return;
    }
    const std::string strFirst = anSelected.empty() ? std::string() : m_ListEntries.GetText(anSelected.front());
    if (strFirst.empty())
        return;
    if (IsFolderLine(strFirst)) {
        SetPath(strFolder + "/" + FolderNameOfLine(strFirst));
        Refill();
        return;
    }
    for (int nIndex : anSelected)
        m_astrResult.push_back(strFolder + "/" + m_ListEntries.GetText(nIndex));
    CDialog::OnOK();
}

void CFileBrowserDlg::GatherSelectedFolders(const std::string& strFolder, const std::vector<int>& anSelected)
{
    std::vector<std::string> astrFolders;
    for (int nIndex : anSelected)
        astrFolders.push_back(strFolder + "/" + FolderNameOfLine(m_ListEntries.GetText(nIndex)));
    if (astrFolders.empty())
        astrFolders.push_back(strFolder);

    const std::string strShownPath = GetPath();
    m_bGathering = true;
    m_bCancelRequested = false;
    EnableInput(false);
    CSoundFileGatherer gatherer;
    gatherer.SetProgress([this](const std::string& strSearched) { return OnGatherProgress(strSearched); });
    for (const std::string& strGatherFrom : astrFolders) {
        if (!gatherer.Gather(strGatherFrom, m_astrResult))
            break;
    }
    m_bGathering = false;
    SetPath(strShownPath);
    EnableInput(true);
    if (m_bCancelRequested) {
        // Cancel already ended the dialog; a part of the files is no result.
        m_astrResult.clear();
        return;
    }
    CDialog::OnOK();
}

bool CFileBrowserDlg::OnGatherProgress(const std::string& strFolder)
{
    SetPath(strFolder);
    UpdateWindow();
    for (int i = 0; i < kMaxMessagesPerProgress && !m_bCancelRequested && PumpMessage(); ++i) {
    }
    return !m_bCancelRequested;
}

void CFileBrowserDlg::EnableInput(bool bEnable)
{
    for (int nID : {static_cast<int>(IDOK), IDC_BROWSER_FOLDER_MODE, IDC_BROWSER_FILTER, IDC_BROWSER_ENTRIES}) {
        if (CWnd* pControl = GetDlgItem(nID))
            pControl->EnableWindow(bEnable);
    }
    if (CWnd* pParentButton = GetDlgItem(IDC_BROWSER_PARENT))
        pParentButton->EnableWindow(bEnable && GetPath() != "/");
}

void CFileBrowserDlg::OnCancel()
{
    if (m_bGathering)
        m_bCancelRequested = true;
    CDialog::OnCancel();
}
