#include "FileBrowserDlg.h"

#include "FolderListing.h"

#include "engine/PlayableFiles.h"

#include <FL/Fl.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <initializer_list>
#include <sys/stat.h>

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

bool IsArrowKey(int nKey)
{
    return nKey == FL_Up || nKey == FL_Down || nKey == FL_Left || nKey == FL_Right;
}

// The events after which the list may have moved, scrolled or changed its marks.
bool ChangesTheList(int nEvent)
{
    switch (nEvent) {
    case FL_KEYBOARD:
    case FL_MOUSEWHEEL:
    case FL_FOCUS:
    case FL_UNFOCUS:
    case FL_PUSH:
    case FL_DRAG:
    case FL_RELEASE:
        return true;
    default:
        return false;
    }
}

template <void (CFileBrowserDlg::*pfnHandler)()>
void Call(Fl_Widget*, void* pDialog)
{
    (static_cast<CFileBrowserDlg*>(pDialog)->*pfnHandler)();
}

} // namespace

CEntryList::CEntryList()
    : Fl_Multi_Browser(0, 0, 0, 0)
{
    // Lines are names as they are, with no formatting codes.
    format_char(0);
    // Only a double-click calls back.
    when(FL_WHEN_NEVER);
}

int CEntryList::handle(int nEvent)
{
    const bool bKey = nEvent == FL_KEYBOARD;
    if (bKey && (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter))
        return 0;
    const int nUsed = Fl_Multi_Browser::handle(nEvent);
    // The browser would repaint only the lines it changed; drawn whole, the
    // list never loses its other rows, frame or scroll bar to a key, the
    // wheel or a change of focus, and a folder's lines are cheap to draw.
    if (ChangesTheList(nEvent))
        redraw();
    if (nEvent == FL_RELEASE && Fl::event_button() == FL_LEFT_MOUSE && Fl::event_clicks() > 0)
        do_callback();
    // An arrow at either end, or across, would move the focus to the next control.
    return bKey && IsArrowKey(Fl::event_key()) ? 1 : nUsed;
}

CPathField::CPathField()
    : Fl_Input(0, 0, 0, 0)
{
    // Return is the field's own, not the dialog's OK.
    when(FL_WHEN_ENTER_KEY_ALWAYS);
}

CFileBrowserDlg::CFileBrowserDlg()
    : CModalDialog(kBrowserWidth, kBrowserHeight, "")
    , m_ButtonOk("OK")
    , m_ButtonCancel(0, 0, 0, 0, "ｘ")
    , m_ButtonParent(0, 0, 0, 0, "親ディレクトリ")
    , m_ChoiceFilter(0, 0, 0, 0)
    , m_CheckFolderMode(0, 0, 0, 0, "ﾃﾞｨﾚｸﾄﾘ選択")
{
    EndLayout({{&m_ButtonOk, kBrowserOkRect}, {&m_ButtonCancel, kBrowserCancelRect},
               {&m_ButtonParent, kBrowserParentRect}, {&m_PathField, kBrowserPathRect},
               {&m_ListEntries, kBrowserEntriesRect}, {&m_ChoiceFilter, kBrowserFilterRect},
               {&m_CheckFolderMode, kBrowserFolderModeRect}},
              m_ButtonOk, m_ButtonCancel);
    m_ButtonParent.callback(Call<&CFileBrowserDlg::OnParentFolder>, this);
    m_CheckFolderMode.callback(Call<&CFileBrowserDlg::OnModeChange>, this);
    m_ChoiceFilter.callback(Call<&CFileBrowserDlg::OnFilterChosen>, this);
    m_PathField.callback(Call<&CFileBrowserDlg::OnPathTyped>, this);
    // A double-click is OK.
    m_ListEntries.callback(Call<&CFileBrowserDlg::OnOK>, this);
    for (const SFilter& filter : Filters())
        m_ChoiceFilter.add(filter.strLabel.c_str(), 0, nullptr);
}

void CFileBrowserDlg::OnInitDialog()
{
    m_astrResult.clear();
    SetPath(StartFolder(m_strFolder));
    m_ChoiceFilter.value(0);
    m_CheckFolderMode.value(m_bFileMode ? 0 : 1);
    Refill();
}

std::string CFileBrowserDlg::GetPath() const
{
    return m_strShownFolder;
}

void CFileBrowserDlg::SetPath(const std::string& strPath)
{
    m_strShownFolder = strPath;
    m_PathField.value(strPath.c_str());
}

// A folder's path opens it in the list; a sound file's path is the choice.
// Anything else (a path that is neither, or one not playable) stays typed.
void CFileBrowserDlg::OnPathTyped()
{
    if (m_bGathering)
        return;
    // Relative to the folder shown; "~" is the home folder.
    std::string strTyped = m_PathField.value();
    if (strTyped.rfind("~/", 0) == 0 || strTyped == "~")
        strTyped = StartFolder("") + strTyped.substr(1);
    strTyped = AbsolutePath(strTyped, m_strShownFolder);
    struct stat st {};
    if (strTyped.empty() || ::stat(strTyped.c_str(), &st) != 0) {
        fl_beep();
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        SetPath(strTyped);
        Refill();
        return;
    }
    if (!S_ISREG(st.st_mode) || !HasPlayableExtension(strTyped)) {
        fl_beep();
        return;
    }
    m_astrResult = {strTyped};
    m_strFolder = ParentFolderOf(strTyped);
    EndDialog(true);
}

std::vector<int> CFileBrowserDlg::GetSelectedEntries() const
{
    std::vector<int> anSelected;
    for (int nLine = 1; nLine <= m_ListEntries.size(); ++nLine) {
        if (m_ListEntries.selected(nLine))
            anSelected.push_back(nLine);
    }
    return anSelected;
}

std::string CFileBrowserDlg::EntryText(int nLine) const
{
    const char* strText = m_ListEntries.text(nLine);
    return strText ? strText : "";
}

void CFileBrowserDlg::Refill()
{
    m_ListEntries.clear();
    const std::string strPath = GetPath();
    if (strPath == "/")
        m_ButtonParent.deactivate();
    else
        m_ButtonParent.activate();
    // The choice holds the filters in their order; no choice reads as the first.
    const std::string& strPattern = Filters()[static_cast<size_t>(std::max(0, m_ChoiceFilter.value()))].strPattern;
    for (const std::string& strLine : BrowserLines(strPath, strPattern, m_bFileMode))
        m_ListEntries.add(strLine.c_str());
    m_ListEntries.redraw();
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
    m_bFileMode = m_CheckFolderMode.value() == 0;
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
    // The gathering serves the toolkit's events: a second OK (Return, a
    // double-click) arriving then must not start another one inside it.
    if (m_bGathering)
        return;
    const std::string strFolder = StripTrailingSeparator(GetPath());
    const std::vector<int> anSelected = GetSelectedEntries();
    if (!m_bFileMode) {
        GatherSelectedFolders(strFolder, anSelected);
        return;
    }
    const std::string strFirst = anSelected.empty() ? std::string() : EntryText(anSelected.front());
    if (strFirst.empty())
        return;
    if (IsFolderLine(strFirst)) {
        SetPath(strFolder + "/" + FolderNameOfLine(strFirst));
        Refill();
        return;
    }
    for (int nLine : anSelected)
        m_astrResult.push_back(strFolder + "/" + EntryText(nLine));
    m_strFolder = GetPath();
    EndDialog(true);
}

void CFileBrowserDlg::GatherSelectedFolders(const std::string& strFolder, const std::vector<int>& anSelected)
{
    std::vector<std::string> astrFolders;
    for (int nLine : anSelected)
        astrFolders.push_back(strFolder + "/" + FolderNameOfLine(EntryText(nLine)));
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
    m_strFolder = strShownPath;
    EndDialog(true);
}

bool CFileBrowserDlg::OnGatherProgress(const std::string& strFolder)
{
    SetPath(strFolder);
    // One round of the events waiting: the path shows, Cancel is heard, and
    // the program's own work (playback) goes on.
    Fl::check();
    return !m_bCancelRequested;
}

void CFileBrowserDlg::EnableInput(bool bEnable)
{
    for (Fl_Widget* pPart :
         std::initializer_list<Fl_Widget*>{&m_ButtonOk, &m_CheckFolderMode, &m_ChoiceFilter, &m_ListEntries}) {
        if (bEnable)
            pPart->activate();
        else
            pPart->deactivate();
    }
    if (bEnable && GetPath() != "/")
        m_ButtonParent.activate();
    else
        m_ButtonParent.deactivate();
}

void CFileBrowserDlg::OnCancel()
{
    if (m_bGathering)
        m_bCancelRequested = true;
    CModalDialog::OnCancel();
}
