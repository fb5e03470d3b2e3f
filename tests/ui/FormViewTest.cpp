// The player's main window on an X server of the test's own, with a
// controller that records what the window posts instead of running it:
// the keys, the focus, the drawing of the list, the pressed look of a
// button, the menus' marks, the message boxes and the scale.
#include "../Screenshot.h"
#include "../WavBytes.h"
#include "../XvfbDisplay.h"

#include <gtest/gtest.h>

#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "ScriptedAudioBackend.h"
#include "platform/events/MessageQueue.h"
#include "platform/settings/ProfileStore.h"
#include "player/PlaybackController.h"
#include "ui/FocusMark.h"
#include "ui/Fonts.h"
#include "ui/HelpPage.h"
#include "ui/ImageButton.h"
#include "ui/ImageIds.h"
#include "ui/Images.h"
#include "ui/Layout.h"
#include "ui/MainMenu.h"
#include "ui/MessageBox.h"
#include "ui/PaintLabel.h"
#include "ui/PaintProgress.h"
#include "ui/PlayListBox.h"
#include "ui/Scale.h"
#include "ui/VelofonPocketView.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

using Posted = std::vector<std::pair<EPlayerCommand, int64_t>>;

class CRecordingController : public CPlaybackController {
public:
    using CPlaybackController::CPlaybackController;
    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_PLAYER_COMMAND)
            m_aPosted.emplace_back(static_cast<EPlayerCommand>(wParam), static_cast<int64_t>(lParam));
    }
    Posted m_aPosted;
};

// One X server for the whole program: the toolkit keeps its connection to
// the first display it opened.
std::unique_ptr<CXvfbDisplay> g_pDisplay;
bool g_bFonts = false;

class CDisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_pDisplay = std::make_unique<CXvfbDisplay>(800, 600);
        if (g_pDisplay->IsRunning()) {
            Fl::display(g_pDisplay->Name().c_str());
            fl_open_display();
            g_bFonts = InitJapaneseFonts();
        }
    }
    void TearDown() override { g_pDisplay.reset(); }
};

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new CDisplayEnvironment);

// A key as X delivers it: pressed (or released) with the modifiers held.
void SendKey(Fl_Window& window, int nKey, int nState = 0, const char* strText = "", int nEvent = FL_KEYBOARD)
{
    static char strBuffer[8];
    std::strncpy(strBuffer, strText, sizeof strBuffer - 1);
    Fl::e_keysym = nKey;
    Fl::e_state = nState;
    Fl::e_text = strBuffer;
    Fl::e_length = static_cast<int>(std::strlen(strBuffer));
    Fl::handle(nEvent, &window);
}

// Lets the window handle what is pending and draw, and the server take it all.
void Settle()
{
    for (int i = 0; i < 10; ++i)
        Fl::wait(0.01);
    Fl::flush();
    XSync(fl_display, False);
}

class FormViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(g_pDisplay->IsRunning()) << "Xvfb could not be started";
        m_pView = std::make_unique<CVelofonPocketView>();
        m_pController = std::make_unique<CRecordingController>(m_engine, m_output, m_profile, *m_pView);
        m_pView->SetController(*m_pController);
        m_pView->SetExitHandler([this] { ++m_nExits; });
        for (const char* strName : {"one.wav", "two.wav", "three.wav"})
            m_pView->AddRow(strName, std::string("/talks/") + strName);
        m_pView->show();
        Settle();
        m_pView->GetPlayListBox().take_focus();
    }

    void TearDown() override
    {
        m_pView->hide();
        Settle();
        while (DispatchOneMessage()) {
        }
    }

    void Key(int nKey, int nState = 0, const char* strText = "") { SendKey(*m_pView, nKey, nState, strText); }

    // What the window posted since the last look.
    Posted TakePosted()
    {
        while (DispatchOneMessage()) {
        }
        return std::exchange(m_pController->m_aPosted, {});
    }

    std::vector<bool> Selection() const
    {
        std::vector<bool> abSelected;
        for (int nRow = 0; nRow < m_pView->GetPlayListBox().GetRowCount(); ++nRow)
            abSelected.push_back(m_pView->IsRowSelected(nRow));
        return abSelected;
    }

    // Plays a sound of nFrames at 8000 a second, as a file opened from outside does.
    void PlaySound(size_t nFrames)
    {
        const Bytes abWav = MakeWav(1, 8000, 2, Samples16(std::vector<int16_t>(nFrames, 1000)));
        m_pController->QueueOpen({m_dir.Write("talk.wav", abWav)});
        m_pController->CPlaybackController::WindowProc(WM_PLAYER_COMMAND,
                                                       static_cast<WPARAM>(EPlayerCommand::OpenQueued), 0);
        TakePosted();
    }

    // Nothing reaches a sound device; nothing plays unless a test says so.
    CScriptedAudioBackend m_sound;
    CTempDir m_dir;
    CSpeedEngine m_engine {2.0};
    CWaveOutput m_output;
    CProfileStore m_profile;
    std::unique_ptr<CVelofonPocketView> m_pView;
    std::unique_ptr<CRecordingController> m_pController;
    int m_nExits = 0;
};

TEST_F(FormViewTest, TabVisitsTheListAndTheEnabledButtonsInOrder)
{
    CImageButton& selectAll = m_pView->GetButton(EFormButton::SelectAll);
    CImageButton& speedDown = m_pView->GetButton(EFormButton::SpeedDown);
    CImageButton& speedUp = m_pView->GetButton(EFormButton::SpeedUp);
    CImageButton& play = m_pView->GetButton(EFormButton::Play);
    // Stop is disabled while idle, Pause hidden behind Play.
    const std::vector<Fl_Widget*> apOrder {&selectAll, &speedDown, &speedUp, &play, &m_pView->GetPlayListBox()};
    for (Fl_Widget* pExpected : apOrder) {
        Key(FL_Tab);
        EXPECT_EQ(Fl::focus(), pExpected);
    }
    Key(FL_Tab, FL_SHIFT);
    EXPECT_EQ(Fl::focus(), &play);
    EXPECT_TRUE(TakePosted().empty());
}

TEST_F(FormViewTest, ArrowsMoveInTheListAndNeverMoveTheFocus)
{
    Key(FL_Down);
    Key(FL_Down);
    EXPECT_EQ(Fl::focus(), &m_pView->GetPlayListBox());
    EXPECT_EQ(Selection(), (std::vector<bool> {false, false, true}));
    Key(FL_Up, FL_SHIFT);
    EXPECT_EQ(Selection(), (std::vector<bool> {false, true, true}));
    Key(FL_Home);
    EXPECT_EQ(Selection(), (std::vector<bool> {true, false, false}));
    Key(FL_End);
    EXPECT_EQ(Selection(), (std::vector<bool> {false, false, true}));
    // Each move asks the player to show the selected entry's place.
    EXPECT_EQ(TakePosted(), Posted(5, {EPlayerCommand::ShowSelected, 0}));

    CImageButton& speedUp = m_pView->GetButton(EFormButton::SpeedUp);
    Fl::focus(&speedUp);
    for (int nKey : {FL_Left, FL_Right, FL_Up, FL_Down}) {
        Key(nKey);
        EXPECT_EQ(Fl::focus(), &speedUp) << nKey;
    }
    EXPECT_EQ(TakePosted(), (Posted {{EPlayerCommand::SeekBy, -10}, {EPlayerCommand::SeekBy, 10}}));
}

TEST_F(FormViewTest, KeysPostTheirCommands)
{
    struct SCase {
        int nKey;
        int nState;
        const char* strText;
        EPlayerCommand eCommand;
        int nValue = 0;
    };
    const SCase aCases[] = {
        {FL_Delete, 0, "", EPlayerCommand::DeleteSelected},
        {FL_Enter, 0, "\r", EPlayerCommand::PlaySelected},
        {' ', 0, " ", EPlayerCommand::Play},
        {']', 0, "]", EPlayerCommand::SpeedUp},
        {'=', FL_SHIFT, "+", EPlayerCommand::SpeedUp},
        {'[', 0, "[", EPlayerCommand::SpeedDown},
        {'-', 0, "-", EPlayerCommand::SpeedDown},
        {',', FL_SHIFT, "<", EPlayerCommand::PreviousEntry},
        {'.', FL_SHIFT, ">", EPlayerCommand::NextEntry},
        // Both modes are off: the keys switch them on.
        {'c', 0, "c", EPlayerCommand::SetClearSpeech, 1},
        {'s', 0, "s", EPlayerCommand::SetSkipSilence, 1},
        {FL_Left, 0, "", EPlayerCommand::SeekBy, -10},
        {FL_Right, 0, "", EPlayerCommand::SeekBy, 10},
        {FL_Left, FL_SHIFT, "", EPlayerCommand::SeekBy, -60},
        {FL_Right, FL_SHIFT, "", EPlayerCommand::SeekBy, 60},
        {FL_Right, FL_CTRL, "", EPlayerCommand::NextChapter},
        {FL_Left, FL_CTRL, "", EPlayerCommand::PreviousChapter},
        {'t', 0, "t", EPlayerCommand::ToggleTimeDisplay},
    };
    for (const SCase& c : aCases) {
        Key(c.nKey, c.nState, c.strText);
        EXPECT_EQ(TakePosted(), (Posted {{c.eCommand, c.nValue}})) << c.nKey;
    }
    // Left and Right leave the list as it was.
    EXPECT_EQ(Selection(), (std::vector<bool> {false, false, false}));
    // The player's keys work with the focus on a button too.
    Fl::focus(&m_pView->GetButton(EFormButton::SelectAll));
    Key(']', 0, "]");
    EXPECT_EQ(TakePosted(), (Posted {{EPlayerCommand::SpeedUp, 0}}));

    Fl::focus(&m_pView->GetPlayListBox());
    Key('a', FL_CTRL, "\001");
    EXPECT_EQ(Selection(), (std::vector<bool> {true, true, true}));
    EXPECT_EQ(TakePosted(), (Posted {{EPlayerCommand::ShowSelected, 0}}));
}

TEST_F(FormViewTest, AClickOrADragOnTheProgressBarJumpsThere)
{
    CPaintProgress& progress = m_pView->GetProgress();
    auto mouse = [&](int nEvent, int nOffset) {
        Fl::e_x = progress.x() + nOffset;
        Fl::e_y = progress.y() + progress.h() / 2;
        Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
        Fl::e_state = nEvent == FL_RELEASE ? 0 : FL_BUTTON1;
        Fl::handle(nEvent, m_pView.get());
    };
    auto click = [&](int nPress, int nRelease) {
        mouse(FL_PUSH, nPress);
        mouse(FL_DRAG, (nPress + nRelease) / 2);
        mouse(FL_RELEASE, nRelease);
        return TakePosted();
    };
    EXPECT_TRUE(click(progress.w() / 2, progress.w() / 2).empty()) << "nothing plays";

    const int64_t nLength = 16000;
    PlaySound(nLength);
    ASSERT_EQ(m_pController->GetLengthFrames(), static_cast<uint64_t>(nLength));
    const int nQuarter = progress.w() / 4;
    const std::pair<int, int> aCases[] = {{nQuarter, nQuarter}, {0, progress.w() + 20}, {nQuarter, -5}};
    for (const auto& [nPress, nRelease] : aCases) {
        const double dFraction = std::clamp(static_cast<double>(nRelease) / progress.w(), 0.0, 1.0);
        EXPECT_EQ(click(nPress, nRelease),
                  (Posted {{EPlayerCommand::SeekTo, static_cast<int64_t>(dFraction * static_cast<double>(nLength))}}))
            << nPress << " to " << nRelease;
    }
}

TEST_F(FormViewTest, EscapeKeepsTheWindowAndCtrlQExits)
{
    Key(FL_Escape, 0, "\033");
    EXPECT_TRUE(m_pView->shown());
    EXPECT_EQ(m_nExits, 0);
    Key('q', FL_CTRL, "\021");
    EXPECT_EQ(m_nExits, 1);
}

TEST_F(FormViewTest, SpaceHoldsAFocusedButtonDownUntilItIsReleased)
{
    CImageButton& speedUp = m_pView->GetButton(EFormButton::SpeedUp);
    Fl::focus(&speedUp);
    Key(' ', 0, " ");
    EXPECT_EQ(speedUp.GetShownImage(), GetScaledImage(IDB_SPEED_UP_PRESSED));
    EXPECT_TRUE(TakePosted().empty());
    SendKey(*m_pView, ' ', 0, " ", FL_KEYUP);
    EXPECT_EQ(speedUp.GetShownImage(), GetScaledImage(IDB_SPEED_UP));
    EXPECT_EQ(TakePosted(), (Posted {{EPlayerCommand::SpeedUp, 0}}));
    EXPECT_EQ(m_pView->GetButton(EFormButton::Stop).GetShownImage(), GetScaledImage(IDB_STOP_DISABLED));
}

TEST_F(FormViewTest, TheListStaysWhollyDrawnAfterTheKeys)
{
    const SRect list = Scaled(kPlayListRect);
    const int nTop = Scaled(kMenuBarHeight) + list.y;
    auto capture = [&] {
        Settle();
        return CaptureWindow(fl_xid(m_pView.get()));
    };
    const SPicture before = capture();
    Key(FL_Down);
    Key(FL_Down);
    const SPicture after = capture();
    ASSERT_EQ(after.nWidth, m_pView->w());
    // The frame stays, and below the three rows the list is white to its bottom.
    for (int y = nTop; y < nTop + list.h; ++y)
        EXPECT_EQ(after.Pixel(list.x, y), before.Pixel(list.x, y)) << y;
    const int nRowsBottom = nTop + 3 * (fl_height(m_pView->GetPlayListBox().textfont(),
                                                  m_pView->GetPlayListBox().textsize()) + 2) + 4;
    for (int y = nRowsBottom; y < nTop + list.h - 3; y += 7) {
        for (int x = list.x + 3; x < list.x + list.w - 3; x += 7)
            ASSERT_EQ(after.Pixel(x, y), 0xFFFFFFu) << x << "," << y;
    }
}

// Paths from outside are gathered off the loop: nothing is asked of the
// player until the gathering ends, and Escape cancels it.
TEST_F(FormViewTest, PathsFromOutsideAreGatheredOffTheLoopAndEscapeCancels)
{
    const std::string strFolder = m_dir.Path() + "/book";
    ::mkdir(strFolder.c_str(), 0700);
    for (const char* strName : {"Chapter 2.mp3", "Chapter 1.mp3"})
        m_dir.Write(std::string("book/") + strName, Bytes{'x'});
    m_pView->OpenPaths({strFolder});
    EXPECT_TRUE(TakePosted().empty()) << "the window waited for the gathering";
    Posted posted;
    for (int i = 0; i < 300 && posted.empty(); ++i) {
        Fl::wait(0.01);
        posted = TakePosted();
    }
    EXPECT_EQ(posted, (Posted {{EPlayerCommand::OpenQueued, 0}}));

    m_pView->OpenPaths({strFolder});
    SendKey(*m_pView, FL_Escape, 0, "\033", FL_SHORTCUT);
    for (int i = 0; i < 30; ++i)
        Fl::wait(0.01);
    EXPECT_TRUE(TakePosted().empty()) << "a cancelled gathering opened its files";
}

// The list scrolls by whole rows, however it is scrolled, so that its top
// row is never drawn cut.
TEST_F(FormViewTest, TheListScrollsByWholeRows)
{
    CPlayListBox& list = m_pView->GetPlayListBox();
    for (int i = 0; i < 30; ++i)
        m_pView->AddRow("more.wav", "/more.wav");
    Settle();
    const int nRowHeight = list.GetRowHeight();
    const std::function<void()> aScrolls[] = {
        [&] { m_pView->ShowRow(32); },
        [&] {
            Fl::e_x = list.x() + 10;
            Fl::e_y = list.y() + 10;
            Fl::e_dy = -1;
            Fl::handle(FL_MOUSEWHEEL, m_pView.get());
        },
        [&] {
            list.scrollbar.value(nRowHeight * 3 + nRowHeight / 2);
            list.scrollbar.do_callback();
        },
    };
    for (size_t i = 0; i < std::size(aScrolls); ++i) {
        aScrolls[i]();
        EXPECT_GT(list.position(), 0) << i;
        EXPECT_EQ(list.position() % nRowHeight, 0) << i;
    }
}

// At factor 2 the focus mark is two pixels wide.
TEST(FocusMarkTest, GrowsWithTheScale)
{
    class CMarked : public Fl_Widget {
    public:
        CMarked()
            : Fl_Widget(0, 0, 40, 40)
        {
        }
        void draw() override
        {
            fl_rectf(x(), y(), w(), h(), FL_WHITE);
            DrawFocusMark(x() + 10, y() + 10, 20, 20);
        }
    };
    for (const double dScale : {1.0, 2.0}) {
        SetUiScale(dScale);
        Fl_Double_Window window(40, 40);
        CMarked marked;
        window.end();
        window.show();
        Settle();
        const SPicture picture = CaptureWindow(fl_xid(&window));
        int nDarkColumns = 0;
        for (int x = 8; x < 14; ++x) {
            bool bDark = false;
            for (int y = 14; y < 26; ++y)
                bDark = bDark || picture.Pixel(x, y) == 0;
            nDarkColumns += bDark ? 1 : 0;
        }
        EXPECT_EQ(nDarkColumns, static_cast<int>(dScale)) << dScale;
        window.hide();
    }
    SetUiScale(1.0);
}

TEST_F(FormViewTest, AnEmptyListShowsItsHintAndRowsRemovedLeaveNoScrolling)
{
    CPlayListBox& list = m_pView->GetPlayListBox();
    for (int i = 0; i < 30; ++i)
        m_pView->AddRow("more.wav", "/more.wav");
    m_pView->ShowRow(32);
    Settle();
    EXPECT_GT(list.position(), 0);
    while (list.GetRowCount() > 1)
        m_pView->RemoveRow(list.GetRowCount() - 1);
    EXPECT_EQ(list.position(), 0);
    m_pView->RemoveRow(0);
    Settle();
    const SPicture picture = CaptureWindow(fl_xid(m_pView.get()));
    const SRect rect = Scaled(kPlayListRect);
    int nHintPixels = 0;
    for (int y = rect.y + Scaled(kMenuBarHeight) + 3; y < rect.y + Scaled(kMenuBarHeight) + rect.h - 3; ++y) {
        for (int x = rect.x + 3; x < rect.x + rect.w - 3; ++x)
            nHintPixels += picture.Pixel(x, y) != 0xFFFFFFu;
    }
    EXPECT_GT(nHintPixels, 50) << "no hint in the empty list";
}

TEST_F(FormViewTest, TheMenusMarkTheControllersSettings)
{
    CMainMenu& menu = m_pView->GetMenu();
    menu.UpdateMarks();
    auto isMarked = [&](const char* strPath) {
        const Fl_Menu_Item* pItem = menu.find_item(strPath);
        return pItem && pItem->value() != 0;
    };
    EXPECT_TRUE(isMarked("リピート/しない"));
    EXPECT_FALSE(isMarked("リピート/全部"));
    EXPECT_TRUE(isMarked("Mixing/50%"));
    EXPECT_TRUE(isMarked("Alpha/OFF"));
    EXPECT_FALSE(isMarked("Alpha/MAX"));
    EXPECT_TRUE(isMarked("リピート/スリープタイマー/オフ"));
    EXPECT_FALSE(isMarked("リピート/スリープタイマー/章の終わり"));
    // A click on the time switches what it shows.
    CPaintLabel& time = m_pView->GetTimeLabel();
    Fl::e_x = time.x() + time.w() / 2;
    Fl::e_y = time.y() + time.h() / 2;
    Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
    Fl::handle(FL_PUSH, m_pView.get());
    EXPECT_EQ(TakePosted(), (Posted {{EPlayerCommand::ToggleTimeDisplay, 0}}));
}

TEST_F(FormViewTest, MessageBoxesAnswerReturnAndEscape)
{
    struct SCase {
        int nKey;
        bool bAnswer;
    };
    for (const SCase& c : {SCase {FL_Enter, true}, SCase {FL_Escape, false}}) {
        static int s_nKey;
        s_nKey = c.nKey;
        Fl::add_timeout(0.2, [](void*) {
            Fl_Window* pBox = Fl::modal();
            ASSERT_NE(pBox, nullptr);
            // The question wraps: the box stays narrow.
            EXPECT_LE(pBox->w(), Scaled(kMessageTextWidth + 2 * kMessageMargin));
            Fl::focus(pBox);
            SendKey(*pBox, s_nKey);
        });
        EXPECT_EQ(m_pView->AskYesNo(kAlphaQuestion), c.bAnswer);
    }
}

TEST_F(FormViewTest, AtFactorTwoTheWindowIsTwiceAsLarge)
{
    SetUiScale(2.0);
    CVelofonPocketView view;
    SetUiScale(1.0);
    EXPECT_EQ(view.w(), 2 * kMainWindowWidth);
    EXPECT_EQ(view.h(), 2 * kMainWindowHeight);
    EXPECT_EQ(view.GetPlayListBox().x(), 2 * kPlayListRect.x);
    EXPECT_EQ(view.GetButton(EFormButton::Stop).w(), 2 * kStopRect.w);
    EXPECT_EQ(view.GetButton(EFormButton::Stop).GetShownImage()->w(), 2 * kStopRect.w);
    EXPECT_EQ(m_pView->w(), kMainWindowWidth);
}

TEST(FormPartsTest, TheScaleFactorIsAQuarterWithinOneToFour)
{
    const std::pair<const char*, double> aCases[] = {{"1", 1.0},   {"1.5", 1.5}, {"1.3", 1.25}, {"2.2 ", 2.25},
                                                     {"0.5", 1.0}, {"9", 4.0},   {"", 1.0},     {"abc", 1.0},
                                                     {"2x", 1.0},  {"nan", 1.0}, {nullptr, 1.0}};
    for (const auto& [strValue, dFactor] : aCases)
        EXPECT_EQ(ParseScaleFactor(strValue), dFactor) << (strValue ? strValue : "null");
}

TEST(FormPartsTest, TheHelpPageStandsBesideThePlayer)
{
    EXPECT_EQ(HelpPagePath("/usr/lib/VelofonPocket/VelofonPocket"), "/usr/lib/VelofonPocket/help.html");
    EXPECT_EQ(HelpPagePath("/opt//VelofonPocket"), "/opt/help.html");
    EXPECT_EQ(HelpPagePath("/usr/bin/other"), "help.html");
}

TEST(FormPartsTest, TheProgressBarFillsWholePercentsWithinItsTrack)
{
    CPaintProgress progress(0, 0, 117, 18);
    const std::pair<int, int> aCases[] = {{0, 0}, {50, 58}, {99, 115}, {100, 117}, {250, 117}, {-5, 0}};
    for (const auto& [nPos, nWidth] : aCases) {
        progress.SetPos(nPos);
        EXPECT_EQ(progress.GetFillWidth(), nWidth) << nPos;
    }
    progress.SetRange(0, 0);
    progress.SetPos(1);
    EXPECT_EQ(progress.GetFillWidth(), 117);
}

TEST(FormPartsTest, LongJapaneseTextWrapsWithinTheWidth)
{
    ASSERT_TRUE(g_bFonts) << "no installed font covers Japanese text";
    fl_font(ToolkitFontForFace(kProportionalFace), 14);
    const std::string strWrapped = WrapText(kAlphaQuestion, 300);
    size_t nStart = 0;
    int nLines = 0;
    for (size_t nEnd = 0; nEnd != std::string::npos; nStart = nEnd + 1, ++nLines) {
        nEnd = strWrapped.find('\n', nStart);
        const std::string strLine = strWrapped.substr(nStart, nEnd == std::string::npos ? nEnd : nEnd - nStart);
        EXPECT_LE(fl_width(strLine.c_str()), 300 + fl_width("。")) << strLine;
    }
    EXPECT_GT(nLines, 4);
    EXPECT_EQ(WrapText("a few words here", 1000), "a few words here");
}

} // namespace
