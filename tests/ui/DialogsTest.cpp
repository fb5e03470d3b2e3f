// The file browser and the settings dialog in real windows on an X server of
// the test's own, driven through their message maps without the modal loop
// (and once through it): what they list, where they go, what they return.
#include "../WavBytes.h"
#include "../XvfbDisplay.h"

#include <gtest/gtest.h>

#include "app/DialogResources.h"
#include "app/Resource.h"
#include "app/SettingDlg.h"
#include "engine/PlayableFiles.h"
#include "platform/Fonts.h"
#include "ui/FileBrowserDlg.h"
#include "ui/FolderListing.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Choice.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sys/stat.h>

namespace {

using Names = std::vector<std::string>;

// One X server for the whole program: the toolkit keeps its connection to
// the first display it opened.
class CDisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        s_pDisplay = std::make_unique<CXvfbDisplay>(800, 600);
        if (s_pDisplay->IsRunning()) {
            Fl::display(s_pDisplay->Name().c_str());
            fl_open_display();
            InitJapaneseFonts();
        }
        RegisterDialogResources();
    }
    void TearDown() override { s_pDisplay.reset(); }
    static std::unique_ptr<CXvfbDisplay> s_pDisplay;
};

std::unique_ptr<CXvfbDisplay> CDisplayEnvironment::s_pDisplay;
[[maybe_unused]] const ::testing::Environment* const g_pDisplayEnvironment =
    ::testing::AddGlobalTestEnvironment(new CDisplayEnvironment);

void Command(CWnd& wnd, int nID, UINT nCode = BN_CLICKED)
{
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(nID), nCode));
}

void PostCommand(CWnd& wnd, int nID, UINT nCode = BN_CLICKED)
{
    ASSERT_TRUE(wnd.PostMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(nID), nCode)));
}

// The texts of a combo box, and whether the longest shows whole beside the arrow.
Names ComboTexts(const CComboBox& combo, bool* pbFits = nullptr)
{
    Names astr;
    const auto* pChoice = dynamic_cast<const Fl_Choice*>(combo.GetWidget());
    fl_font(pChoice->textfont(), pChoice->textsize());
    const int nArrow = std::min(20, pChoice->h() - 2 * Fl::box_dy(FL_DOWN_BOX));
    for (int i = 0; i < combo.GetCount(); ++i) {
        astr.push_back(pChoice->text(i));
        if (pbFits && fl_width(pChoice->text(i)) + 3 + Fl::box_dx(FL_DOWN_BOX) + nArrow > pChoice->w())
            *pbFits = false;
    }
    return astr;
}

// A tree of the test's own: a.wav b.wav B.wav Talk.WAV Talk.MP3 notes.txt README
// .hidden.wav  Sub/(s1.wav Deeper/d.wav)  Empty/  album.wav/(t.wav)  .cache/(c.wav)
class FileBrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CDisplayEnvironment::s_pDisplay->IsRunning()) << "Xvfb could not be started";
        for (const char* strFolder : {"Sub", "Sub/Deeper", "Empty", "album.wav", ".cache"})
            ::mkdir(Path(strFolder).c_str(), 0755);
        for (const char* strFile : {"a.wav", "b.wav", "B.wav", "Talk.WAV", "Talk.MP3", "notes.txt", "README",
                                    ".hidden.wav", "Sub/s1.wav", "Sub/Deeper/d.wav", "album.wav/t.wav", ".cache/c.wav"})
            std::ofstream(Path(strFile)).put('x');
    }

    void TearDown() override
    {
        // Nothing posted in one test reaches the next.
        while (DispatchOneMessage()) {
        }
    }

    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }

    std::unique_ptr<CFileBrowserDlg> Open(bool bFileMode, const std::string& strStart = "")
    {
        auto pDlg = std::make_unique<CFileBrowserDlg>();
        pDlg->m_bFileMode = bFileMode;
        pDlg->m_strStartFolderForTest = strStart.empty() ? m_dir.Path() : strStart;
        EXPECT_TRUE(pDlg->Create());
        return pDlg;
    }

    static Names Lines(const CFileBrowserDlg& dlg)
    {
        Names astr;
        for (int i = 0; i < dlg.m_ListEntries.GetCount(); ++i)
            astr.push_back(dlg.m_ListEntries.GetText(i));
        return astr;
    }

    static std::string PathField(const CFileBrowserDlg& dlg) { return dlg.GetDlgItem(IDC_BROWSER_PATH)->GetWindowText(); }
    static bool ParentEnabled(const CFileBrowserDlg& dlg) { return dlg.GetDlgItem(IDC_BROWSER_PARENT)->IsWindowEnabled(); }
    static CButton& FolderModeBox(const CFileBrowserDlg& dlg)
    {
        return dynamic_cast<CButton&>(*dlg.GetDlgItem(IDC_BROWSER_FOLDER_MODE));
    }

    static void Select(CFileBrowserDlg& dlg, const Names& astrLines)
    {
        const Names astrAll = Lines(dlg);
        for (const std::string& strLine : astrLines) {
            const auto found = std::find(astrAll.begin(), astrAll.end(), strLine);
            ASSERT_NE(found, astrAll.end()) << strLine;
            dlg.m_ListEntries.SetSel(static_cast<int>(found - astrAll.begin()));
        }
    }

    CTempDir m_dir;
};

const Names kFileLines{"[Empty]", "[Sub]", "[album.wav]", "B.wav", "Talk.MP3", "Talk.WAV", "a.wav", "b.wav"};
const Names kFolderLines{"[Empty]", "[Sub]", "[album.wav]"};

TEST_F(FileBrowserTest, FileModeOpensWithTheControlsAndTheSoundFiles)
{
    const SDialogTemplate* pTemplate = FindDialogTemplate(IDD_FILE_BROWSER);
    ASSERT_NE(pTemplate, nullptr);
    EXPECT_STREQ(pTemplate->strCaption, "");
    EXPECT_EQ(std::make_pair(pTemplate->cx, pTemplate->cy), std::make_pair(139, 123));

    auto pDlg = Open(true);
    EXPECT_EQ(pDlg->GetDlgItem(IDOK)->GetWindowText(), "OK");
    EXPECT_EQ(pDlg->GetDlgItem(IDCANCEL)->GetWindowText(), "ｘ");
    EXPECT_EQ(pDlg->GetDlgItem(IDC_BROWSER_PARENT)->GetWindowText(), "親ディレクトリ");
    EXPECT_EQ(FolderModeBox(*pDlg).GetWindowText(), "ﾃﾞｨﾚｸﾄﾘ選択");
    EXPECT_EQ(FolderModeBox(*pDlg).GetCheck(), BST_UNCHECKED);
    // The first label is longer than the combo, which shows its start; the open list is as wide as it.
    EXPECT_EQ(ComboTexts(pDlg->m_ComboFilter),
              (Names{"音声ファイル(" + PlayablePatternList() + ")", "Wave形式(*.wav)", "全ての形式(*.*)"}));
    EXPECT_EQ(pDlg->m_ComboFilter.GetCurSel(), 0);
    EXPECT_EQ(dynamic_cast<const Fl_Browser&>(*pDlg->m_ListEntries.GetWidget()).type(), FL_MULTI_BROWSER);
    EXPECT_LT(pDlg->m_ComboFilter.GetWidget()->h(), 2 * pDlg->GetDlgItem(IDOK)->GetWidget()->h()); // one line
    EXPECT_EQ(PathField(*pDlg), m_dir.Path());
    EXPECT_TRUE(ParentEnabled(*pDlg));
    EXPECT_EQ(Lines(*pDlg), kFileLines);
}

TEST_F(FileBrowserTest, TheRootListsItsFoldersAndHasNoParent)
{
    auto pDlg = std::make_unique<CFileBrowserDlg>();
    pDlg->m_bFileMode = false;
    ASSERT_TRUE(pDlg->Create());
    EXPECT_EQ(PathField(*pDlg), "/");
    EXPECT_FALSE(ParentEnabled(*pDlg));
    EXPECT_EQ(FolderModeBox(*pDlg).GetCheck(), BST_CHECKED);
    Names astrNames;
    for (const std::string& strLine : Lines(*pDlg)) {
        EXPECT_TRUE(IsFolderLine(strLine) && strLine[1] != '.') << strLine;
        astrNames.push_back(FolderNameOfLine(strLine));
    }
    // The names are sorted, not the lines: "lib" before "lib64".
    EXPECT_TRUE(std::is_sorted(astrNames.begin(), astrNames.end()));
    const std::string strTop = m_dir.Path().substr(1, m_dir.Path().find('/', 1) - 1);
    EXPECT_EQ(std::count(astrNames.begin(), astrNames.end(), strTop), 1) << strTop;
    Command(*pDlg, IDC_BROWSER_PARENT);
    EXPECT_EQ(PathField(*pDlg), "/");
}

TEST_F(FileBrowserTest, OkOnAFolderGoesInAndParentComesBack)
{
    auto pDlg = Open(true);
    Select(*pDlg, {"[Sub]", "a.wav"});
    Command(*pDlg, IDOK);
    EXPECT_EQ(PathField(*pDlg), Path("Sub"));
    EXPECT_EQ(Lines(*pDlg), (Names{"[Deeper]", "s1.wav"}));
    Select(*pDlg, {"[Deeper]"});
    Command(*pDlg, IDC_BROWSER_ENTRIES, LBN_DBLCLK); // a double-click is OK
    EXPECT_EQ(Lines(*pDlg), (Names{"d.wav"}));
    Command(*pDlg, IDC_BROWSER_PARENT);
    Command(*pDlg, IDC_BROWSER_PARENT);
    EXPECT_EQ(PathField(*pDlg), m_dir.Path());
    EXPECT_EQ(Lines(*pDlg), kFileLines);
    for (auto n = std::count(m_dir.Path().begin(), m_dir.Path().end(), '/'); n > 0; --n) {
        EXPECT_TRUE(ParentEnabled(*pDlg)) << PathField(*pDlg);
        Command(*pDlg, IDC_BROWSER_PARENT);
    }
    EXPECT_EQ(PathField(*pDlg), "/");
    EXPECT_FALSE(ParentEnabled(*pDlg));
    EXPECT_FALSE(pDlg->IsEnded());
    EXPECT_TRUE(pDlg->m_astrResult.empty());
}

TEST_F(FileBrowserTest, OkOnFilesReturnsThemInListOrderCancelNothing)
{
    auto pDlg = Open(true);
    Command(*pDlg, IDOK); // nothing selected: nothing happens
    EXPECT_FALSE(pDlg->IsEnded());
    Select(*pDlg, {"b.wav", "B.wav", "Talk.WAV"});
    Command(*pDlg, IDOK);
    EXPECT_EQ(pDlg->GetEndResult(), IDOK);
    EXPECT_EQ(pDlg->m_astrResult, (Names{Path("B.wav"), Path("Talk.WAV"), Path("b.wav")}));

    auto pCancelled = Open(true);
    Select(*pCancelled, {"a.wav"});
    Command(*pCancelled, IDCANCEL);
    EXPECT_EQ(pCancelled->GetEndResult(), IDCANCEL);
    EXPECT_TRUE(pCancelled->m_astrResult.empty());
}

TEST_F(FileBrowserTest, FolderSelectGathersTheSelectedOrTheCurrentFolder)
{
    auto pDlg = Open(false);
    EXPECT_EQ(Lines(*pDlg), kFolderLines);
    Select(*pDlg, {"[album.wav]", "[Sub]"});
    Command(*pDlg, IDOK);
    EXPECT_EQ(pDlg->GetEndResult(), IDOK);
    EXPECT_EQ(pDlg->m_astrResult, (Names{Path("Sub/Deeper/d.wav"), Path("Sub/s1.wav"), Path("album.wav/t.wav")}));

    auto pCurrent = Open(false);
    Command(*pCurrent, IDOK);
    EXPECT_EQ(pCurrent->GetEndResult(), IDOK);
    const Names& astrAll = pCurrent->m_astrResult;
    ASSERT_EQ(astrAll.size(), 8u);
    // The subfolders (in the file system's order) before the folder's own files.
    EXPECT_EQ(Names(astrAll.end() - 5, astrAll.end()),
              (Names{Path("B.wav"), Path("Talk.MP3"), Path("Talk.WAV"), Path("a.wav"), Path("b.wav")}));

    auto pEmpty = Open(false);
    Select(*pEmpty, {"[Empty]"});
    Command(*pEmpty, IDOK);
    EXPECT_EQ(pEmpty->GetEndResult(), IDOK);
    EXPECT_TRUE(pEmpty->m_astrResult.empty());
}

TEST_F(FileBrowserTest, TheModeAndTheFilterRefill)
{
    auto pDlg = Open(true);
    FolderModeBox(*pDlg).SetCheck(BST_CHECKED);
    Command(*pDlg, IDC_BROWSER_FOLDER_MODE);
    EXPECT_FALSE(pDlg->m_bFileMode);
    EXPECT_EQ(Lines(*pDlg), kFolderLines);
    FolderModeBox(*pDlg).SetCheck(BST_UNCHECKED);
    Command(*pDlg, IDC_BROWSER_FOLDER_MODE);
    EXPECT_TRUE(pDlg->m_bFileMode);
    EXPECT_EQ(Lines(*pDlg), kFileLines);

    const std::pair<int, Names> aFilters[] = {
        {1, {"[Empty]", "[Sub]", "[album.wav]", "B.wav", "Talk.WAV", "a.wav", "b.wav"}},
        {2, {"[Empty]", "[Sub]", "[album.wav]", "B.wav", "README", "Talk.MP3", "Talk.WAV", "a.wav", "b.wav",
             "notes.txt"}},
        {0, kFileLines},
    };
    Names astrBefore = kFileLines;
    for (const auto& [nFilter, astrLines] : aFilters) {
        pDlg->m_ComboFilter.SetCurSel(nFilter);
        Command(*pDlg, IDC_BROWSER_FILTER, CBN_SELCHANGE); // not yet a choice
        EXPECT_EQ(Lines(*pDlg), astrBefore) << nFilter;
        Command(*pDlg, IDC_BROWSER_FILTER, CBN_SELENDOK);
        EXPECT_EQ(Lines(*pDlg), astrLines) << nFilter;
        astrBefore = astrLines;
    }
}

TEST_F(FileBrowserTest, TheModalLoopEndsOnCancelOrClosing)
{
    CFileBrowserDlg dlg;
    dlg.m_bFileMode = true;
    dlg.m_strStartFolderForTest = m_dir.Path();
    PostCommand(dlg, IDCANCEL);
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_FALSE(dlg.IsWindowVisible());
    auto pClosed = Open(false);
    pClosed->GetWidget()->do_callback();
    EXPECT_TRUE(DispatchOneMessage());
    EXPECT_EQ(pClosed->GetEndResult(), IDCANCEL);
}

// Records the path field and the OK button when a message posted before a
// gathering is dispatched inside it.
class CProbe : public CMessageTarget {
public:
    explicit CProbe(const CFileBrowserDlg& dlg)
        : m_dlg(dlg)
    {
        EXPECT_TRUE(::PostMessage(GetSafeHwnd(), WM_USER, 0, 0));
    }
    void WindowProc(UINT, WPARAM, LPARAM) override
    {
        m_astrPaths.push_back(m_dlg.GetDlgItem(IDC_BROWSER_PATH)->GetWindowText());
        m_bOkEnabled = m_dlg.GetDlgItem(IDOK)->IsWindowEnabled();
    }
    const CFileBrowserDlg& m_dlg;
    Names m_astrPaths;
    bool m_bOkEnabled = true;
};

class GatheringTest : public FileBrowserTest {
protected:
    void SetUp() override
    {
        FileBrowserTest::SetUp();
        ::mkdir(Path("many").c_str(), 0755);
        for (int i = 0; i < kFiles; ++i)
            std::ofstream(Path("many/" + std::to_string(1000 + i) + ".wav")).put('x');
    }
    static constexpr int kFiles = CSoundFileGatherer::kProgressEvery + 50;
};

TEST_F(GatheringTest, ItShowsTheFolderAndIgnoresEverythingButCancel)
{
    auto pDlg = Open(false);
    Select(*pDlg, {"[many]"});
    PostCommand(*pDlg, IDOK);
    PostCommand(*pDlg, IDC_BROWSER_ENTRIES, LBN_DBLCLK);
    PostCommand(*pDlg, IDC_BROWSER_PARENT);
    CProbe probe(*pDlg);
    Command(*pDlg, IDOK);
    EXPECT_EQ(GetQueuedMessageCount(), 0u); // all of them ran inside the gathering
    EXPECT_EQ(probe.m_astrPaths, (Names{Path("many")}));
    EXPECT_FALSE(probe.m_bOkEnabled);
    EXPECT_EQ(pDlg->GetEndResult(), IDOK);
    ASSERT_EQ(pDlg->m_astrResult.size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(pDlg->m_astrResult.back(), Path("many/" + std::to_string(1000 + kFiles - 1) + ".wav"));
    EXPECT_EQ(PathField(*pDlg), m_dir.Path());
}

TEST_F(GatheringTest, CancelEndsItWithNoResultEvenAfterASecondOk)
{
    auto pDlg = Open(false);
    Select(*pDlg, {"[many]", "[Sub]"});
    PostCommand(*pDlg, IDOK);
    PostCommand(*pDlg, IDCANCEL);
    Command(*pDlg, IDOK);
    EXPECT_EQ(pDlg->GetEndResult(), IDCANCEL);
    EXPECT_TRUE(pDlg->m_astrResult.empty());
}

// ---- the settings dialog -------------------------------------------------------

class SettingDlgTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CDisplayEnvironment::s_pDisplay->IsRunning()); }
    static std::unique_ptr<CSettingDlg> Open(int nWaitMs)
    {
        auto pDlg = std::make_unique<CSettingDlg>();
        pDlg->m_nWaitMs = nWaitMs;
        EXPECT_TRUE(pDlg->Create());
        return pDlg;
    }
    static std::string Shown(const CSettingDlg& dlg)
    {
        return dynamic_cast<const Fl_Choice&>(*dlg.m_ComboWait.GetWidget()).text();
    }
};

TEST_F(SettingDlgTest, EveryTableValueOpensOnItsRowOthersOnTheFirst)
{
    auto pDlg = Open(0);
    EXPECT_EQ(pDlg->GetWindowText(), "設定");
    EXPECT_EQ(pDlg->GetDlgItem(IDCANCEL)->GetWindowText(), "Cancel");
    bool bFits = true;
    EXPECT_EQ(ComboTexts(pDlg->m_ComboWait, &bFits),
              (Names{"０秒", "0.3秒", "0.5秒", "１秒", "２秒", "３秒", "４秒", "５秒", "６秒", "７秒", "１０秒"}));
    EXPECT_TRUE(bFits);
    const int anMs[] = {0, 300, 500, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 10000};
    ASSERT_EQ(kWaitTimeCount, 11);
    for (int i = 0; i < kWaitTimeCount; ++i) {
        EXPECT_EQ(g_WaitTimes[i].nMs, anMs[i]);
        auto pRow = Open(anMs[i]);
        EXPECT_EQ(pRow->m_ComboWait.GetCurSel(), i);
        Command(*pRow, IDOK);
        EXPECT_EQ(pRow->m_nWaitMs, anMs[i]);
    }
    for (int nWaitMs : {8000, -1, 301}) {
        auto pOther = Open(nWaitMs);
        EXPECT_EQ(Shown(*pOther), "０秒") << nWaitMs;
        Command(*pOther, IDOK);
        EXPECT_EQ(pOther->GetEndResult(), IDOK);
        EXPECT_EQ(pOther->m_nWaitMs, 0) << nWaitMs;
    }
}

TEST_F(SettingDlgTest, OkTakesTheChoiceCancelKeepsTheCallersValue)
{
    auto pDlg = Open(500);
    pDlg->m_ComboWait.SetCurSel(kWaitTimeCount - 1);
    Command(*pDlg, IDOK);
    EXPECT_EQ(pDlg->m_nWaitMs, 10000);
    for (int nWaitMs : {3000, 8000}) {
        auto pCancelled = Open(nWaitMs);
        pCancelled->m_ComboWait.SetCurSel(1);
        Command(*pCancelled, IDCANCEL);
        EXPECT_EQ(pCancelled->GetEndResult(), IDCANCEL);
        EXPECT_EQ(pCancelled->m_nWaitMs, nWaitMs);
    }
    CSettingDlg modal;
    modal.m_nWaitMs = 8000;
    PostCommand(modal, IDOK);
    EXPECT_EQ(modal.DoModal(), IDOK);
    EXPECT_EQ(modal.m_nWaitMs, 0);
}

} // namespace
