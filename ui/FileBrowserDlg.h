// CFileBrowserDlg: picks sound files for the playlist. In file mode the user
// walks the folders and chooses files, shown by the filter chosen; in
// folder-select mode each chosen folder (or the current one) gives every
// playable file below it.
#pragma once

#include "platform/Dialog.h"

#include <string>
#include <vector>

// Controls of the template.
constexpr int IDC_BROWSER_ENTRIES = 1000;
constexpr int IDC_BROWSER_PARENT = 1010;
constexpr int IDC_BROWSER_FILTER = 1012;
constexpr int IDC_BROWSER_PATH = 1013;
constexpr int IDC_BROWSER_FOLDER_MODE = 1025;

class CFileBrowserDlg : public CDialog {
public:
    static constexpr int IDD = 130;

    explicit CFileBrowserDlg(CWnd* pParent = nullptr);

    CComboBox m_ComboFilter;
    CListBox m_ListEntries;
    // The chosen files, full paths, once the dialog ended with OK.
    std::vector<std::string> m_astrResult;
    // True: choose files; false: select folders. The constructor leaves it
    // alone: the caller sets it before the dialog starts.
    bool m_bFileMode;
    // Browsing starts here; only tests change it, to a folder of their own.
    std::string m_strStartFolderForTest = "/";

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnCancel() override;
    void OnParentFolder();
    void OnModeChange();
    void OnFilterChosen();
    void OnFilterSelChange() {}
    void OnEntrySelChange() {}

    // Lists the current folder again from the file system.
    void Refill();

    DECLARE_MESSAGE_MAP()

private:
    std::string GetPath() const;
    void SetPath(const std::string& strPath);
    std::vector<int> GetSelectedEntries() const;
    void GatherSelectedFolders(const std::string& strFolder, const std::vector<int>& anSelected);
    // Shows where the gathering is and lets the user cancel it; false to stop.
    bool OnGatherProgress(const std::string& strFolder);
    // Everything but Cancel rests while the gathering runs.
    void EnableInput(bool bEnable);

    bool m_bGathering = false;
    bool m_bCancelRequested = false;
};
