// The player form in a real window on an X server of the test's own: its
// settings and playlist from the profile, its controls, menus and title.
#include "../WavBytes.h"
#include "PlayerObjects.h"
#include "../XvfbDisplay.h"

#include <gtest/gtest.h>

#include "app/Resource.h"
#include "app/VelofonPocketApp.h"
#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/Fonts.h"
#include "player/VelofonPocketView.h"

#include <FL/Fl.H>
#include <FL/Fl_Widget.H>
#include <FL/x.H>

#include <fstream>
#include <memory>

namespace {


} // namespace

namespace {

class PlayerViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_pDisplay = std::make_unique<CXvfbDisplay>(800, 600);
        g_pEngine = std::make_unique<CSpeedEngine>(2.0);
        g_pOutput = std::make_unique<CWaveOutput>();
        s_pApp = std::make_unique<CVelofonPocketApp>();
        if (s_pDisplay->IsRunning()) {
            Fl::display(s_pDisplay->Name().c_str());
            fl_open_display();
            s_bFonts = InitJapaneseFonts();
        }
        RegisterResources();
    }

    static void TearDownTestSuite()
    {
        s_pApp.reset();
        g_pOutput.reset();
        g_pEngine.reset();
        s_pDisplay.reset();
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_pDisplay->IsRunning()) << "Xvfb could not be started";
        ::setenv("XDG_CONFIG_HOME", m_dir.Path().c_str(), 1);
    }

    void TearDown() override
    {
        Close();
        ::unsetenv("XDG_CONFIG_HOME");
    }

    // Ends the player's window, as a restart of the program would.
    void Close()
    {
        if (GetFrame())
            GetFrame()->GetWidget()->hide();
        s_pApp->m_pMainWnd = nullptr;
        m_pTemplate.reset();
    }

    void WriteSettings(const std::string& strLines)
    {
        const std::string strFolder = m_dir.Path() + "/VelofonPocket";
        ::mkdir(strFolder.c_str(), 0700);
        std::ofstream(strFolder + "/" + s_pApp->GetAppName() + ".conf") << "[VelofonSettings]\n" << strLines;
    }

    // Starts the player's frame and form as the program does, and paints it.
    CVelofonPocketView& Start()
    {
        s_pApp->SetRegistryKey("VelofonPocket");
        CVelofonPocketView::m_bLayoutPending = true;
        m_pTemplate = std::make_unique<CSingleDocTemplate>(IDR_MAINFRAME, RUNTIME_CLASS(CVelofonPocketDoc),
            RUNTIME_CLASS(CMainFrame), RUNTIME_CLASS(CVelofonPocketView));
        CFrameWnd* pFrame = m_pTemplate->OpenDocumentFile();
        EXPECT_NE(pFrame, nullptr);
        s_pApp->m_pMainWnd = pFrame;
        pFrame->ShowWindow(true);
        for (int i = 0; i < 20; ++i)
            Fl::wait(0.01);
        return *static_cast<CVelofonPocketView*>(pFrame->GetActiveView());
    }

    CMainFrame* GetFrame() const { return static_cast<CMainFrame*>(s_pApp->m_pMainWnd ? s_pApp->m_pMainWnd : nullptr); }

    static std::unique_ptr<CXvfbDisplay> s_pDisplay;
    static std::unique_ptr<CVelofonPocketApp> s_pApp;
    static bool s_bFonts;
    CTempDir m_dir;
    std::unique_ptr<CSingleDocTemplate> m_pTemplate;
};

std::unique_ptr<CXvfbDisplay> PlayerViewTest::s_pDisplay;
std::unique_ptr<CVelofonPocketApp> PlayerViewTest::s_pApp;
bool PlayerViewTest::s_bFonts = false;

std::vector<std::string> ListLines(const CListBox& list)
{
    std::vector<std::string> astrLines;
    for (int i = 0; i < list.GetCount(); ++i)
        astrLines.push_back(list.GetText(i));
    return astrLines;
}

TEST_F(PlayerViewTest, AFirstRunHasTheDefaults)
{
    CVelofonPocketView& view = Start();
    EXPECT_EQ(view.m_nSpeedIdx, 10);
    EXPECT_EQ(view.m_SpeedLabel.GetText(), "2.0");
    EXPECT_EQ(view.m_nRepeat, REPEAT_NONE);
    EXPECT_EQ(view.m_nMixingVolume, 50);
    EXPECT_EQ(g_pEngine->m_nMixingGain, 10);
    EXPECT_EQ(view.m_nAlphaControl, 0);
    EXPECT_EQ(g_pEngine->m_bAlpha, 0);
    EXPECT_EQ(view.m_nFileSelect, 1);
    EXPECT_EQ(view.m_nWaitSec, 0);
    EXPECT_EQ(view.m_PlayList.GetCount(), 0);
    EXPECT_EQ(view.m_PlayListBox.GetCount(), 0);
}

TEST_F(PlayerViewTest, TheWindowShowsTheStoredSettingsAndPlaylist)
{
    WriteSettings("SpeedIdx=15\nRepeat=2\nMixingVolume=7\nAlphaControl=50\nFileSelect=0\nWaitSec=300\n"
                  "PlayListCount=3\nPlayFile00000=/home/user/lecture one.wav\nPlayFile00001=/tmp/二番目.wav\n"
                  "PlayFile00002=third.WAV\n");
    CVelofonPocketView& view = Start();
    EXPECT_EQ(GetFrame()->GetWindowText(), "STOP-Kuroto");
    EXPECT_EQ(view.m_SpeedLabel.GetText(), "2.5");
    EXPECT_EQ(view.m_nRepeat, REPEAT_ONE);
    EXPECT_EQ(g_pEngine->m_nMixingGain, 1);
    // Stored Alpha switches the tones on without asking.
    EXPECT_EQ(g_pEngine->m_bAlpha, 1);
    EXPECT_EQ(g_pEngine->m_nAlphaLevel, 50);
    EXPECT_EQ(view.m_nFileSelect, 0);
    EXPECT_EQ(view.m_nWaitSec, 300);
    const std::vector<std::string> astrLines {"lecture one.wav", "二番目.wav", "third.WAV"};
    EXPECT_EQ(ListLines(view.m_PlayListBox), astrLines);
    EXPECT_EQ(view.m_PlayList.GetPath(0), "/home/user/lecture one.wav");
    // Idle: Stop disabled, Play shown in the place it shares with Pause.
    EXPECT_FALSE(view.m_StopButton.IsWindowEnabled());
    EXPECT_TRUE(view.m_PlayButton.IsWindowVisible());
    EXPECT_FALSE(view.m_PauseButton.IsWindowVisible());
}

TEST_F(PlayerViewTest, TheWaitRuleAndTheSpeedBounds)
{
    struct SCase {
        const char* strStored;
        int nWait;
    };
    for (const SCase& c : {SCase {"10", 0}, SCase {"11", 11}, SCase {"300", 300}, SCase {"4294967295", 0},
             SCase {"-20", 0}}) {
        WriteSettings(std::string("WaitSec=") + c.strStored + "\n");
        EXPECT_EQ(Start().m_nWaitSec, c.nWait) << c.strStored;
        Close();
    }
    for (const auto& [strStored, strLabel] : {std::pair {"31", "4.0"}, std::pair {"-3", "1.0"},
             std::pair {"2147483647", "4.0"}, std::pair {"0", "1.0"}}) {
        WriteSettings(std::string("SpeedIdx=") + strStored + "\n");
        EXPECT_EQ(Start().m_SpeedLabel.GetText(), strLabel) << strStored;
        Close();
    }
}

TEST_F(PlayerViewTest, AMissingEntryLoadsAsAnEmptyLine)
{
    WriteSettings("PlayListCount=3\nPlayFile00000=/a.wav\nPlayFile00002=/c.wav\n");
    CVelofonPocketView& view = Start();
    ASSERT_EQ(view.m_PlayList.GetCount(), 3);
    EXPECT_EQ(view.m_PlayList.GetPath(1), "");
    EXPECT_EQ(ListLines(view.m_PlayListBox), (std::vector<std::string> {"a.wav", "", "c.wav"}));
    WriteSettings("PlayListCount=-4\nPlayFile00000=/a.wav\n");
    Close();
    EXPECT_EQ(Start().m_PlayList.GetCount(), 0);
}

TEST_F(PlayerViewTest, SavingAShorterListLeavesTheOldEntriesUnread)
{
    WriteSettings("PlayListCount=5\nPlayFile00000=/0.wav\nPlayFile00001=/1.wav\nPlayFile00002=/2.wav\n"
                  "PlayFile00003=/3.wav\nPlayFile00004=/4.wav\nMixingVolume=90\n");
    CVelofonPocketView& view = Start();
    view.m_PlayList.RemoveAt(0);
    view.m_PlayList.RemoveAt(3);
    view.m_PlayList.RemoveAt(2);
    view.m_nRepeat = REPEAT_ALL;
    view.SaveSettings();

    CProfileStore& profile = s_pApp->GetProfileStore();
    EXPECT_EQ(profile.GetProfileInt(kSettingsSection, "PlayListCount", -1), 2);
    EXPECT_EQ(profile.GetProfileString(kSettingsSection, "PlayFile00000", ""), "/1.wav");
    EXPECT_EQ(profile.GetProfileString(kSettingsSection, "PlayFile00001", ""), "/2.wav");
    EXPECT_EQ(profile.GetProfileString(kSettingsSection, "PlayFile00004", ""), "/4.wav");
    for (const char* strEntry : {"SpeedIdx", "Repeat", "MixingVolume", "AlphaControl", "FileSelect", "WaitSec"})
        EXPECT_NE(profile.GetProfileInt(kSettingsSection, strEntry, -12345), -12345) << strEntry;

    Close();
    CVelofonPocketView& reloaded = Start();
    EXPECT_EQ(ListLines(reloaded.m_PlayListBox), (std::vector<std::string> {"1.wav", "2.wav"}));
    EXPECT_EQ(reloaded.m_nRepeat, REPEAT_ALL);
    EXPECT_EQ(reloaded.m_nMixingVolume, 90);
}

TEST_F(PlayerViewTest, EntryNamesHaveAtLeastFiveDigits)
{
    EXPECT_EQ(PlayFileEntryName(0), "PlayFile00000");
    EXPECT_EQ(PlayFileEntryName(42), "PlayFile00042");
    EXPECT_EQ(PlayFileEntryName(99999), "PlayFile99999");
    EXPECT_EQ(PlayFileEntryName(100000), "PlayFile100000");
}

TEST_F(PlayerViewTest, TheCommandBarHasTheFiveMenusInOrder)
{
    Start();
    CCommandBar* pBar = GetFrame()->GetCommandBar();
    ASSERT_NE(pBar, nullptr);
    EXPECT_EQ(pBar->GetMenuCaptions(), (std::vector<std::string> {"編集", "リピート", "Mixing", "Alpha", "ヘルプ"}));
    EXPECT_EQ(pBar->GetMenuItems(0), (std::vector<std::string> {"追加", "削除"}));
    EXPECT_EQ(pBar->GetMenuItems(1), (std::vector<std::string> {"しない", "全部", "ひとつ"}));
    EXPECT_EQ(pBar->GetMenuItems(2), (std::vector<std::string> {"MAX", "90%", "80%", "70%", "60%", "50%", "40%",
                                          "30%", "20%", "10%", "OFF"}));
    EXPECT_EQ(pBar->GetMenuItems(3), (std::vector<std::string> {"MAX", "45%", "40%", "35%", "30%", "25%", "20%",
                                          "15%", "10%", "5%", "OFF"}));
    EXPECT_EQ(pBar->GetMenuItems(4), (std::vector<std::string> {"バージョン", "ヘルプ", "設定", "終了"}));
    // The application answers the about command.
    pBar->UpdateMenuItems();
    EXPECT_TRUE(pBar->IsItemEnabled(ID_APP_ABOUT));
}

TEST_F(PlayerViewTest, TheFirstPaintLaysTheFormOutAndLoadsTheBitmaps)
{
    CVelofonPocketView& view = Start();
    EXPECT_FALSE(CVelofonPocketView::m_bLayoutPending);
    const CRect client = view.GetClientRect();
    EXPECT_EQ(client.Width(), 320);
    EXPECT_EQ(client.Height(), 188);
    const Fl_Widget* pForm = view.GetWidget();
    const Fl_Widget* pStop = view.m_StopButton.GetWidget();
    EXPECT_EQ(pStop->x() - pForm->x(), 230);
    EXPECT_EQ(pStop->y() - pForm->y(), 130);
    EXPECT_EQ(pStop->w(), 42);
    EXPECT_EQ(view.m_TimeLabel.GetText(), "00:00:00");
    EXPECT_EQ(view.m_FileNameLabel.GetText(), ". . . . . . . . . . . . . . . . . . . . . . . . . . . . ");
    EXPECT_EQ(view.m_SpeedLabel.GetPointSize(), 180);
    EXPECT_EQ(view.m_FileNameLabel.GetPointSize(), 90);
    EXPECT_EQ(view.m_TimeLabel.GetTextFormat() & DT_RIGHT, DT_RIGHT);
    for (EButtonImage eImage : {EButtonImage::Normal, EButtonImage::Pressed, EButtonImage::Disabled}) {
        const HBITMAP hBitmap = view.m_StopButton.GetBitmap(eImage);
        ASSERT_NE(hBitmap, nullptr);
        EXPECT_EQ(hBitmap->GetWidth(), 42);
        EXPECT_EQ(hBitmap->GetHeight(), 39);
    }
    EXPECT_EQ(view.m_SelectAllButton.GetBitmap(EButtonImage::Normal)->GetHeight(), 157);
}

TEST_F(PlayerViewTest, TheJapaneseFontHasTheGlyphs)
{
    EXPECT_TRUE(s_bFonts) << "no installed font covers Japanese text";
    EXPECT_FALSE(FontFamilyForFace("ＭＳ Ｐゴシック").empty());
    EXPECT_FALSE(FontFamilyForFace("MSゴシック").empty());
}

} // namespace
