// CFileBrowserDlg: picks sound files for the playlist. In file mode the user
// walks the folders and chooses files, shown by the filter chosen, or types
// a folder's or a file's path; in folder-select mode each chosen folder (or
// the current one) gives every playable file below it, while the path shows
// where the gathering is and Cancel stops it.
#pragma once

#include "ModalDialog.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Multi_Browser.H>

#include <string>
#include <vector>

// The folder's lines. The keys stay in it: the arrows move through the
// lines, Space marks one, Return goes to the default button. Every change
// redraws it whole; a double-click runs its callback.
class CEntryList : public Fl_Multi_Browser {
public:
    CEntryList();
    int handle(int nEvent) override;
};

// The current folder, which the user may also type: Return goes to the
// folder typed, or takes the sound file typed.
class CPathField : public Fl_Input {
public:
    CPathField();
};

class CFileBrowserDlg : public CModalDialog {
public:
    CFileBrowserDlg();

    // The chosen files, full paths, once the dialog ended with OK.
    std::vector<std::string> m_astrResult;
    // True: choose files; false: select folders. The caller sets it before
    // the dialog starts and reads the user's last choice after.
    bool m_bFileMode = true;
    // Browsing starts here (in the home folder when this is none); once the
    // dialog ended with OK, the folder it ended in.
    std::string m_strFolder;

    // The parts, in the order the focus goes through them.
    CDefaultButton m_ButtonOk;
    Fl_Button m_ButtonCancel;
    Fl_Button m_ButtonParent;
    CPathField m_PathField;
    CEntryList m_ListEntries;
    Fl_Choice m_ChoiceFilter;
    Fl_Check_Button m_CheckFolderMode;

protected:
    void OnInitDialog() override;
    // The list: the arrows walk it from the start.
    Fl_Widget* FirstFocus() override { return &m_ListEntries; }
    void OnOK() override;
    void OnCancel() override;

private:
    void OnParentFolder();
    void OnModeChange();
    void OnFilterChosen();
    void OnPathTyped();

    std::string GetPath() const;
    void SetPath(const std::string& strPath);
    // Lists the current folder again from the file system.
    void Refill();
    std::vector<int> GetSelectedEntries() const;
    std::string EntryText(int nIndex) const;
    void GatherSelectedFolders(const std::string& strFolder, const std::vector<int>& anSelected);
    // The folder shown, whatever is typed over it.
    std::string m_strShownFolder = "/";
    // Shows where the gathering is and lets the user cancel it; false to stop.
    bool OnGatherProgress(const std::string& strFolder);
    // Everything but Cancel rests while the gathering runs.
    void EnableInput(bool bEnable);

    bool m_bGathering = false;
    bool m_bCancelRequested = false;
};
