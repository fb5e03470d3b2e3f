// The file browser and the settings dialog in real windows on an X server of
// the test's own, driven through their parts and keys, and through the modal
// loop: what they list, where they go, what they return.
#include "../WavBytes.h"
#include "../XvfbDisplay.h"

#include <gtest/gtest.h>

#include "engine/PlayableFiles.h"
#include "ui/FileBrowserDlg.h"
#include "ui/FolderListing.h"
#include "ui/Fonts.h"
#include "ui/SettingDlg.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <tuple>
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
    }
    void TearDown() override { s_pDisplay.reset(); }
    static std::unique_ptr<CXvfbDisplay> s_pDisplay;
};

std::unique_ptr<CXvfbDisplay> CDisplayEnvironment::s_pDisplay;
[[maybe_unused]] const ::testing::Environment* const g_pDisplayEnvironment =
    ::testing::AddGlobalTestEnvironment(new CDisplayEnvironment);

// A key as the toolkit delivers it to the window with the focus.
void PressKey(Fl_Window& window, int nKey)
{
    static char s_strText[2];
    s_strText[0] = nKey < 0x80 ? static_cast<char>(nKey) : '\0';
    Fl::e_keysym = nKey;
    Fl::e_text = s_strText;
    Fl::e_length = s_strText[0] ? 1 : 0;
    Fl::e_state = 0;
    Fl::handle(FL_KEYBOARD, &window);
}

// Lets the windows show and draw all they have to (a window shown draws at
// its first expose).
void DrawAll()
{
    for (int i = 0; i < 200 && (Fl::check(), Fl::damage()); ++i)
        Fl::wait(0.01);
}

// Runs fn once the modal loop waits (or inside a gathering's round of events).
void WhenWaiting(std::function<void()> fn)
{
    auto* pFn = new std::function<void()>(std::move(fn));
    Fl::add_timeout(0.0, [](void* pData) {
        std::unique_ptr<std::function<void()>> pCall(static_cast<std::function<void()>*>(pData));
        (*pCall)();
    }, pFn);
}

// The texts of a choice, and whether the longest shows whole beside the arrow.
Names ChoiceTexts(const Fl_Choice& choice, bool* pbFits = nullptr)
{
    Names astr;
    fl_font(choice.textfont(), choice.textsize());
    const int nArrow = std::min(20, choice.h() - 2 * Fl::box_dy(FL_DOWN_BOX));
    for (int i = 0; i < choice.size() - 1; ++i) {
        astr.push_back(choice.text(i));
        if (pbFits && fl_width(choice.text(i)) + 3 + Fl::box_dx(FL_DOWN_BOX) + nArrow > choice.w())
            *pbFits = false;
    }
    return astr;
}

std::array<int, 4> Place(const Fl_Widget& widget)
{
    return {widget.x(), widget.y(), widget.w(), widget.h()};
}

std::array<int, 4> Place(const SRect& rect)
{
    return {rect.x, rect.y, rect.w, rect.h};
}

std::string Outcome(CModalDialog& dlg)
{
    return dlg.shown() ? "open" : dlg.EndedWithOk() ? "OK" : "cancelled";
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

    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }

    std::unique_ptr<CFileBrowserDlg> Open(bool bFileMode) const
    {
        auto pDlg = std::make_unique<CFileBrowserDlg>();
        pDlg->m_bFileMode = bFileMode;
        pDlg->m_strFolder = m_dir.Path();
        pDlg->Open();
        return pDlg;
    }

    static Names Lines(const CFileBrowserDlg& dlg)
    {
        Names astr;
        for (int nLine = 1; nLine <= dlg.m_ListEntries.size(); ++nLine)
            astr.push_back(dlg.m_ListEntries.text(nLine));
        return astr;
    }

    static std::string PathField(const CFileBrowserDlg& dlg) { return dlg.m_PathField.value(); }

    static void Select(CFileBrowserDlg& dlg, const Names& astrLines)
    {
        const Names astrAll = Lines(dlg);
        for (const std::string& strLine : astrLines) {
            const auto found = std::find(astrAll.begin(), astrAll.end(), strLine);
            ASSERT_NE(found, astrAll.end()) << strLine;
            dlg.m_ListEntries.select(static_cast<int>(found - astrAll.begin()) + 1);
        }
    }

    CTempDir m_dir;
};

const Names kFileLines{"[Empty]", "[Sub]", "[album.wav]", "B.wav", "Talk.MP3", "Talk.WAV", "a.wav", "b.wav"};
const Names kFolderLines{"[Empty]", "[Sub]", "[album.wav]"};

TEST_F(FileBrowserTest, FileModeOpensWithThePartsInPlaceAndTheSoundFiles)
{
    auto pDlg = Open(true);
    const std::tuple<const Fl_Widget*, SRect, const char*> aParts[] = {
        {&pDlg->m_ButtonOk, kBrowserOkRect, "OK"},
        {&pDlg->m_ButtonCancel, kBrowserCancelRect, "ｘ"},
        {&pDlg->m_ButtonParent, kBrowserParentRect, "親ディレクトリ"},
        {&pDlg->m_PathField, kBrowserPathRect, nullptr},
        {&pDlg->m_ListEntries, kBrowserEntriesRect, nullptr},
        {&pDlg->m_ChoiceFilter, kBrowserFilterRect, nullptr},
        {&pDlg->m_CheckFolderMode, kBrowserFolderModeRect, "ﾃﾞｨﾚｸﾄﾘ選択"},
        {pDlg.get(), {pDlg->x(), pDlg->y(), kBrowserWidth, kBrowserHeight}, ""},
    };
    for (const auto& [pPart, rect, strLabel] : aParts) {
        EXPECT_EQ(Place(*pPart), Place(rect)) << strLabel;
        EXPECT_STREQ(pPart->label(), strLabel);
        EXPECT_TRUE(pPart == pDlg.get() || pPart->labelsize() == PixelsForTenthsOfPoint(kDialogPointSize)) << strLabel;
    }
    EXPECT_EQ(PathField(*pDlg), m_dir.Path());
    EXPECT_EQ(pDlg->m_CheckFolderMode.value(), 0);
    // The first label is longer than the choice, which shows its start.
    EXPECT_EQ(ChoiceTexts(pDlg->m_ChoiceFilter),
              (Names{"音声ファイル(" + PlayablePatternList() + ")", "Wave形式(*.wav)", "全ての形式(*.*)"}));
    EXPECT_EQ(pDlg->m_ChoiceFilter.value(), 0);
    EXPECT_EQ(pDlg->m_ListEntries.type(), FL_MULTI_BROWSER);
    EXPECT_EQ(Lines(*pDlg), kFileLines);
}

TEST_F(FileBrowserTest, OkOnAFolderGoesInAndParentComesBackUpToTheRoot)
{
    auto pDlg = Open(true);
    Select(*pDlg, {"[Sub]", "a.wav"});
    pDlg->m_ButtonOk.do_callback();
    EXPECT_EQ(PathField(*pDlg), Path("Sub"));
    EXPECT_EQ(Lines(*pDlg), (Names{"[Deeper]", "s1.wav"}));
    pDlg->m_ButtonParent.do_callback();
    EXPECT_EQ(Lines(*pDlg), kFileLines);
    for (auto n = std::count(m_dir.Path().begin(), m_dir.Path().end(), '/'); n > 0; --n) {
        EXPECT_TRUE(pDlg->m_ButtonParent.active()) << PathField(*pDlg);
        pDlg->m_ButtonParent.do_callback();
    }
    EXPECT_EQ(PathField(*pDlg), "/");
    EXPECT_FALSE(pDlg->m_ButtonParent.active());
    const Names astrRoot = Lines(*pDlg);
    const std::string strTop = "[" + m_dir.Path().substr(1, m_dir.Path().find('/', 1) - 1) + "]";
    EXPECT_EQ(std::count(astrRoot.begin(), astrRoot.end(), strTop), 1) << strTop;
    EXPECT_EQ(Outcome(*pDlg), "open");
}

// Return in the path field opens the folder typed (relative to the one
// shown, or from home with "~") and takes the sound file typed; what is
// neither stays typed and ends nothing.
TEST_F(FileBrowserTest, APathTypedOpensItsFolderOrTakesItsFile)
{
    auto pDlg = Open(true);
    auto type = [&](const std::string& strPath) {
        pDlg->m_PathField.value(strPath.c_str());
        pDlg->m_PathField.do_callback();
    };
    type("Sub/");
    EXPECT_EQ(PathField(*pDlg), Path("Sub"));
    EXPECT_EQ(Lines(*pDlg), (Names{"[Deeper]", "s1.wav"}));
    for (const std::string& strNeither : {Path("notes.txt"), std::string("missing"), Path("Sub/s1.wav/x")}) {
        type(strNeither);
        EXPECT_TRUE(pDlg->shown()) << strNeither;
        EXPECT_EQ(PathField(*pDlg), strNeither);
    }
    type("../Talk.MP3");
    EXPECT_FALSE(pDlg->shown());
    EXPECT_TRUE(pDlg->EndedWithOk());
    EXPECT_EQ(pDlg->m_astrResult, Names{Path("Talk.MP3")});
    EXPECT_EQ(pDlg->m_strFolder, m_dir.Path());
}

TEST_F(FileBrowserTest, FolderSelectGathersTheSelectedOrTheCurrentFolder)
{
    const std::pair<Names, Names> aCases[] = {
        {{"[album.wav]", "[Sub]"}, {Path("Sub/Deeper/d.wav"), Path("Sub/s1.wav"), Path("album.wav/t.wav")}},
        {{"[Empty]"}, {}},
        {{}, {}}, // the current folder: its 8 sound files, its own last
    };
    for (const auto& [astrSelected, astrExpected] : aCases) {
        auto pDlg = Open(false);
        EXPECT_EQ(Lines(*pDlg), kFolderLines);
        Select(*pDlg, astrSelected);
        pDlg->m_ButtonOk.do_callback();
        EXPECT_EQ(Outcome(*pDlg), "OK");
        if (astrSelected.empty())
            EXPECT_TRUE(pDlg->m_astrResult.size() == 8 && pDlg->m_astrResult.back() == Path("b.wav"));
        else
            EXPECT_EQ(pDlg->m_astrResult, astrExpected);
    }
}

TEST_F(FileBrowserTest, ItStartsInTheFolderGivenElseAtHomeAndTellsWhereItEnded)
{
    const char* strHome = std::getenv("HOME");
    const std::string strSavedHome = strHome ? strHome : "";
    ::setenv("HOME", Path("Sub").c_str(), 1);
    for (const auto& [strFolder, strStart] : {std::pair{Path("Sub/Deeper/"), Path("Sub/Deeper")},
             std::pair{std::string(), Path("Sub")}, std::pair{Path("gone"), Path("Sub")},
             std::pair{Path("a.wav"), Path("Sub")}}) {
        CFileBrowserDlg dlg;
        dlg.m_strFolder = strFolder;
        dlg.Open();
        EXPECT_EQ(PathField(dlg), strStart) << strFolder;
    }
    if (strHome)
        ::setenv("HOME", strSavedHome.c_str(), 1);
    else
        ::unsetenv("HOME");

    // Files chosen in a folder gone into; folders gathered from the one shown.
    for (const bool bFileMode : {true, false}) {
        auto pDlg = Open(bFileMode);
        Select(*pDlg, {"[Sub]"});
        pDlg->m_ButtonOk.do_callback();
        if (bFileMode) {
            Select(*pDlg, {"s1.wav"});
            pDlg->m_ButtonOk.do_callback();
        }
        EXPECT_EQ(Outcome(*pDlg), "OK");
        EXPECT_EQ(pDlg->m_strFolder, bFileMode ? Path("Sub") : m_dir.Path());
    }
}

TEST_F(FileBrowserTest, TheModeAndTheFilterRefill)
{
    auto pDlg = Open(true);
    for (const bool bFolders : {true, false}) {
        pDlg->m_CheckFolderMode.value(bFolders);
        pDlg->m_CheckFolderMode.do_callback();
        EXPECT_EQ(pDlg->m_bFileMode, !bFolders);
        EXPECT_EQ(Lines(*pDlg), bFolders ? kFolderLines : kFileLines);
    }
    const std::pair<int, Names> aFilters[] = {
        {1, {"[Empty]", "[Sub]", "[album.wav]", "B.wav", "Talk.WAV", "a.wav", "b.wav"}},
        {2, {"[Empty]", "[Sub]", "[album.wav]", "B.wav", "README", "Talk.MP3", "Talk.WAV", "a.wav", "b.wav",
             "notes.txt"}},
        {0, kFileLines},
    };
    for (const auto& [nFilter, astrLines] : aFilters) {
        pDlg->m_ChoiceFilter.value(nFilter);
        pDlg->m_ChoiceFilter.do_callback();
        EXPECT_EQ(Lines(*pDlg), astrLines) << nFilter;
    }
}

TEST_F(FileBrowserTest, KeysStayInTheListWhichRedrawsWhole)
{
    auto pDlg = Open(true);
    CEntryList& list = pDlg->m_ListEntries;
    ASSERT_EQ(Fl::focus(), &list);
    // Down moves the cursor to the second line, Space marks it.
    for (int nKey : {FL_Down, FL_Right, FL_Left, FL_Up, FL_Down, int{' '}}) {
        DrawAll();
        ASSERT_EQ(list.damage(), 0);
        PressKey(*pDlg, nKey);
        EXPECT_EQ(Fl::focus(), &list) << nKey;
        EXPECT_EQ(list.damage() & FL_DAMAGE_ALL, FL_DAMAGE_ALL) << nKey;
    }
    EXPECT_TRUE(list.selected(2));
    // Return is the OK button's: into the marked folder.
    PressKey(*pDlg, FL_Enter);
    EXPECT_EQ(PathField(*pDlg), Path("Sub"));
    // A double-click on a line is OK too.
    DrawAll();
    Fl::e_x = list.x() + list.w() / 2;
    Fl::e_y = list.y() + 2 + list.textsize() * 3 / 2;
    Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
    Fl::e_clicks = 1;
    Fl::handle(FL_PUSH, pDlg.get());
    Fl::handle(FL_RELEASE, pDlg.get());
    EXPECT_EQ(Outcome(*pDlg), "OK");
    EXPECT_EQ(pDlg->m_astrResult, (Names{Path("Sub/s1.wav")}));
}

TEST_F(FileBrowserTest, TheModalLoopEndsOnOkOrClosingNotOnMinimising)
{
    CFileBrowserDlg dlg;
    dlg.m_strFolder = m_dir.Path();
    bool bShownAfterMinimising = false;
    WhenWaiting([&] {
        // The window system's minimising unmaps the window.
        Fl::handle(FL_HIDE, &dlg);
        WhenWaiting([&] {
            bShownAfterMinimising = dlg.shown();
            Fl::handle(FL_CLOSE, &dlg); // the close box
        });
    });
    EXPECT_FALSE(dlg.DoModal());
    EXPECT_TRUE(bShownAfterMinimising);
    WhenWaiting([&] {
        PressKey(dlg, FL_KP_Enter); // nothing selected: nothing happens
        Select(dlg, {"b.wav", "B.wav", "Talk.WAV"});
        PressKey(dlg, FL_KP_Enter);
    });
    EXPECT_TRUE(dlg.DoModal());
    EXPECT_EQ(dlg.m_astrResult, (Names{Path("B.wav"), Path("Talk.WAV"), Path("b.wav")}));
}

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

// Inside the gathering the path shows the folder searched, and nothing but
// Cancel (or Escape) does anything, a second OK included.
TEST_F(GatheringTest, ItShowsTheFolderAndOnlyCancelStopsIt)
{
    enum class EStop { Nothing, Cancel, Escape };
    for (const EStop eStop : {EStop::Nothing, EStop::Cancel, EStop::Escape}) {
        auto pDlg = Open(false);
        Select(*pDlg, {"[many]", "[Sub]"});
        Names astrPaths;
        bool bOkActive = true;
        WhenWaiting([&] {
            astrPaths.push_back(PathField(*pDlg));
            bOkActive = pDlg->m_ButtonOk.active();
            for (Fl_Widget* pPart : std::initializer_list<Fl_Widget*>{&pDlg->m_ButtonOk, &pDlg->m_ListEntries,
                                                                     &pDlg->m_ButtonParent, &pDlg->m_ChoiceFilter})
                pPart->do_callback();
            if (eStop == EStop::Cancel)
                pDlg->m_ButtonCancel.do_callback();
            if (eStop == EStop::Escape)
                PressKey(*pDlg, FL_Escape);
        });
        pDlg->m_ButtonOk.do_callback();
        EXPECT_EQ(astrPaths, (Names{Path("many")}));
        EXPECT_FALSE(bOkActive);
        EXPECT_EQ(PathField(*pDlg), m_dir.Path());
        EXPECT_TRUE(pDlg->m_ButtonOk.active());
        EXPECT_EQ(Outcome(*pDlg), eStop == EStop::Nothing ? "OK" : "cancelled");
        EXPECT_EQ(pDlg->m_astrResult.size(), eStop == EStop::Nothing ? kFiles + 2u : 0u);
    }
}

// ---- the settings dialog -------------------------------------------------------

class SettingDlgTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CDisplayEnvironment::s_pDisplay->IsRunning()); }
    static std::unique_ptr<CSettingDlg> Open(int nWaitMs)
    {
        auto pDlg = std::make_unique<CSettingDlg>();
        pDlg->m_nWaitMs = nWaitMs;
        pDlg->Open();
        return pDlg;
    }
};

TEST_F(SettingDlgTest, EveryTableValueOpensOnItsRowOthersOnTheFirst)
{
    auto pDlg = Open(0);
    const std::tuple<const Fl_Widget*, SRect, const char*> aParts[] = {
        {&pDlg->m_FrameWait, kSettingFrameRect, "再生間隔"},
        {&pDlg->m_ChoiceWait, kSettingWaitRect, nullptr},
        {&pDlg->m_CheckClear, kSettingClearRect, "明瞭モード"},
        {&pDlg->m_CheckSkip, kSettingSkipRect, "無音を短縮"},
        {&pDlg->m_ButtonOk, kSettingOkRect, "OK"},
        {&pDlg->m_ButtonCancel, kSettingCancelRect, "Cancel"},
        {pDlg.get(), {pDlg->x(), pDlg->y(), kSettingWidth, kSettingHeight}, "設定"},
    };
    for (const auto& [pPart, rect, strLabel] : aParts) {
        EXPECT_EQ(Place(*pPart), Place(rect)) << strLabel;
        EXPECT_STREQ(pPart->label(), strLabel);
    }
    bool bFits = true;
    EXPECT_EQ(ChoiceTexts(pDlg->m_ChoiceWait, &bFits),
              (Names{"０秒", "0.3秒", "0.5秒", "１秒", "２秒", "３秒", "４秒", "５秒", "６秒", "７秒", "１０秒"}));
    EXPECT_TRUE(bFits);
    const std::pair<int, int> aRows[] = {{0, 0}, {300, 1}, {500, 2}, {1000, 3}, {2000, 4}, {3000, 5}, {4000, 6},
        {5000, 7}, {6000, 8}, {7000, 9}, {10000, 10}, {8000, 0}, {-1, 0}, {301, 0}};
    for (const auto& [nWaitMs, nRow] : aRows) {
        auto pRow = Open(nWaitMs);
        EXPECT_EQ(pRow->m_ChoiceWait.value(), nRow) << nWaitMs;
        pRow->m_ButtonOk.do_callback();
        EXPECT_EQ(pRow->m_nWaitMs, g_WaitTimes[nRow].nMs) << nWaitMs;
    }
}

TEST_F(SettingDlgTest, OkOrReturnTakesTheChoiceCancelOrEscapeKeepsTheCallersValue)
{
    CSettingDlg dlg;
    const std::function<void()> aEnds[] = {
        [&] { dlg.m_ButtonOk.do_callback(); },   [&] { PressKey(dlg, FL_Enter); },
        [&] { dlg.m_ButtonCancel.do_callback(); }, [&] { PressKey(dlg, FL_Escape); },
    };
    for (size_t i = 0; i < std::size(aEnds); ++i) {
        const bool bOk = i < 2;
        dlg.m_nWaitMs = 8000;
        dlg.m_bClearSpeech = true;
        dlg.m_bSkipSilence = false;
        WhenWaiting([&] {
            EXPECT_EQ(dlg.m_CheckClear.value(), 1);
            dlg.m_ChoiceWait.value(kWaitTimeCount - 1);
            dlg.m_CheckClear.value(0);
            dlg.m_CheckSkip.value(1);
            aEnds[i]();
        });
        EXPECT_EQ(dlg.DoModal(), bOk) << i;
        EXPECT_EQ(dlg.m_nWaitMs, bOk ? 10000 : 8000) << i;
        EXPECT_EQ(dlg.m_bClearSpeech, !bOk) << i;
        EXPECT_EQ(dlg.m_bSkipSilence, bOk) << i;
    }
}

TEST_F(SettingDlgTest, TheDialogsGrowWithTheWindowScale)
{
    SetUiScale(2.0);
    const CSettingDlg setting;
    const CFileBrowserDlg browser;
    SetUiScale(1.0);
    EXPECT_EQ(Place(setting.m_ButtonOk), (std::array<int, 4>{2 * kSettingOkRect.x, 0, 2 * kSettingOkRect.w, 48}));
    EXPECT_EQ(setting.m_ChoiceWait.textsize(), 2 * PixelsForTenthsOfPoint(kDialogPointSize));
    EXPECT_EQ(browser.h(), 2 * kBrowserHeight);
    EXPECT_EQ(browser.m_ListEntries.h(), 2 * kBrowserEntriesRect.h);
}

} // namespace
