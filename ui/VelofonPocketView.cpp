#include "VelofonPocketView.h"

#include "common/Program.h"

#include "AboutBox.h"
#include "ChapterMenu.h"
#include "FileBrowserDlg.h"
#include "FolderGathering.h"
#include "FolderListing.h"
#include "FormColors.h"
#include "HelpPage.h"
#include "ImageButton.h"
#include "ImageIds.h"
#include "Images.h"
#include "Layout.h"
#include "MainMenu.h"
#include "MessageBox.h"
#include "PaintLabel.h"
#include "PaintProgress.h"
#include "PlayListBox.h"
#include "SettingDlg.h"

#include "engine/SpeedSteps.h"
#include "platform/desktop/UriList.h"
#include "player/PlaybackController.h"

#include <FL/Fl.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstdint>

namespace {

// What the window shows before anything plays: 28 pairs of a full stop and a space.
const char kFileNamePlaceholder[] = ". . . . . . . . . . . . . . . . . . . . . . . . . . . . ";
// How often a gathering of folders is looked at, and what the list says meanwhile.
constexpr double kGatheringPollSeconds = 0.1;
const char kGatheringNote[] = "フォルダを集めています… ";
const char kGatheringNoteEnd[] = " 件（Esc で中止）";
const char kSleepTip[] = "スリープタイマーの残り";

SRect OnForm(const SRect& rect, int nFormTop)
{
    SRect scaled = Scaled(rect);
    scaled.y += nFormTop;
    return scaled;
}

struct SButtonDef {
    const SRect& rect;
    unsigned nNormalId;
    unsigned nPressedId;
    unsigned nDisabledId;
};

} // namespace

CVelofonPocketView::CVelofonPocketView()
    : Fl_Double_Window(Scaled(kMainWindowWidth), Scaled(kMenuBarHeight) + Scaled(kFormHeight))
    , m_pGathering(std::make_unique<CFolderGathering>())
{
    const int nFormTop = Scaled(kMenuBarHeight);
    m_pMenu = new CMainMenu(0, 0, w(), nFormTop);
    // The parts in the order the form has always painted them: where two
    // touch, the later one is on top.
    const SRect list = OnForm(kPlayListRect, nFormTop);
    m_pPlayList = new CPlayListBox(list.x, list.y, list.w, list.h);
    auto addButton = [&](const SButtonDef& def, EPlayerCommand eCommand) {
        const SRect rect = OnForm(def.rect, nFormTop);
        auto* pButton =
            new CImageButton(rect.x, rect.y, rect.w, rect.h, def.nNormalId, def.nPressedId, def.nDisabledId);
        pButton->callback(OnButton, reinterpret_cast<void*>(static_cast<uintptr_t>(eCommand)));
        return pButton;
    };
    m_pSelectAll = addButton({kSelectAllRect, IDB_SELECT_ALL, IDB_SELECT_ALL_PRESSED, IDB_SELECT_ALL_DISABLED},
                             EPlayerCommand::SelectAll);
    const SRect progress = OnForm(kProgressRect, nFormTop);
    m_pProgress = new CPaintProgress(progress.x, progress.y, progress.w, progress.h);
    // Pause is Play's other face: both post Play.
    m_pPlay = addButton({kPlayPauseRect, IDB_PLAY, IDB_PLAY_PRESSED, IDB_PLAY_DISABLED}, EPlayerCommand::Play);
    m_pStop = addButton({kStopRect, IDB_STOP, IDB_STOP_PRESSED, IDB_STOP_DISABLED}, EPlayerCommand::Stop);
    m_pSpeedDown = addButton({kSpeedDownRect, IDB_SPEED_DOWN, IDB_SPEED_DOWN_PRESSED, IDB_SPEED_DOWN_DISABLED},
                             EPlayerCommand::SpeedDown);
    m_pSpeedUp = addButton({kSpeedUpRect, IDB_SPEED_UP, IDB_SPEED_UP_PRESSED, IDB_SPEED_UP_DISABLED},
                           EPlayerCommand::SpeedUp);
    auto addLabel = [&](const SRect& place, int nPointSize, Fl_Align eAlign, const char* strText) {
        const SRect rect = OnForm(place, nFormTop);
        auto* pLabel = new CPaintLabel(rect.x, rect.y, rect.w, rect.h, nPointSize, eAlign);
        pLabel->SetText(strText);
        return pLabel;
    };
    m_pFileName = addLabel(kFileNameRect, kFileNamePointSize, FL_ALIGN_LEFT, kFileNamePlaceholder);
    m_pTime = addLabel(kTimeRect, kTimePointSize, FL_ALIGN_RIGHT, kTimeZero);
    m_pSleep = addLabel(kSleepRect, kSleepPointSize, FL_ALIGN_LEFT, "");
    m_pSleep->tooltip(kSleepTip);
    m_pSpeed = addLabel(kSpeedRect, kSpeedPointSize, FL_ALIGN_CENTER, SpeedText(kDefaultSpeedIndex).c_str());
    m_pPause = addButton({kPlayPauseRect, IDB_PAUSE, IDB_PAUSE_PRESSED, IDB_PAUSE_DISABLED}, EPlayerCommand::Play);
    end();
    // Tab goes from the playlist over the buttons as the eye reads them.
    m_apTabOrder = {m_pPlayList, m_pSelectAll, m_pSpeedDown, m_pSpeedUp, m_pStop, m_pPlay, m_pPause};

    m_pBackground = GetScaledImage(IDB_BACK);
    m_pPause->hide();
    m_pStop->deactivate();
    m_pMenu->SetChooseHandler([this](const SMenuEntry& entry) {
        switch (entry.eAction) {
        case EMenuAction::Post:
            Post(entry.eCommand, entry.nValue);
            break;
        case EMenuAction::About:
            ShowAboutBox(this);
            break;
        case EMenuAction::Help:
            OpenHelpPage(this);
            break;
        case EMenuAction::Exit:
            Exit();
            break;
        }
    });
    m_pPlayList->SetCommandHandler([this](EPlayerCommand eCommand) { Post(eCommand); });
    m_pProgress->SetSeekHandler([this] { return CanSeek(); }, [this](double dFraction) { SeekToFraction(dFraction); });
    m_pProgress->SetMenuHandler([this] { ChooseChapterToPlay(); });
    m_pFileName->SetClickHandler([this](int nButton) {
        if (nButton == FL_RIGHT_MOUSE)
            ChooseChapterToPlay();
    });
    m_pTime->SetClickHandler([this](int nButton) {
        if (nButton == FL_LEFT_MOUSE)
            Post(EPlayerCommand::ToggleTimeDisplay);
    });

    size_range(w(), h(), w(), h());
    xclass(kProgramName);
    callback(OnClose);
    Fl::add_handler(OnDropElsewhere);
}

CVelofonPocketView::~CVelofonPocketView()
{
    Fl::remove_handler(OnDropElsewhere);
    Fl::remove_timeout(OnGatheringTimer, this);
    Fl::remove_timeout(OnPainted, this);
}

void CVelofonPocketView::SetController(CPlaybackController& controller)
{
    m_pController = &controller;
    m_pMenu->SetController(controller);
}

void CVelofonPocketView::SetExitHandler(std::function<void()> onExit)
{
    m_onExit = std::move(onExit);
}

CImageButton& CVelofonPocketView::GetButton(EFormButton eButton)
{
    switch (eButton) {
    case EFormButton::SelectAll:
        return *m_pSelectAll;
    case EFormButton::SpeedDown:
        return *m_pSpeedDown;
    case EFormButton::SpeedUp:
        return *m_pSpeedUp;
    case EFormButton::Stop:
        return *m_pStop;
    case EFormButton::Play:
        return *m_pPlay;
    case EFormButton::Pause:
        break;
    }
    return *m_pPause;
}

void CVelofonPocketView::OnButton(Fl_Widget* pButton, void* pCommand)
{
    auto* pView = static_cast<CVelofonPocketView*>(pButton->window());
    pView->Post(static_cast<EPlayerCommand>(reinterpret_cast<uintptr_t>(pCommand)));
}

void CVelofonPocketView::OnClose(Fl_Widget* pWindow, void*)
{
    // FLTK closes a window on Escape; here Escape ends nothing but the
    // gathering of folders under way.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) {
        static_cast<CVelofonPocketView*>(pWindow)->CancelGathering();
        return;
    }
    static_cast<CVelofonPocketView*>(pWindow)->Exit();
}

void CVelofonPocketView::Post(EPlayerCommand eCommand, int64_t nValue)
{
    if (m_pController)
        m_pController->Post(eCommand, nValue);
}

void CVelofonPocketView::OpenPaths(const std::vector<std::string>& astrPaths)
{
    if (!m_pController || astrPaths.empty())
        return;
    m_aastrToGather.push_back(astrPaths);
    StartGathering();
}

void CVelofonPocketView::StartGathering()
{
    if (m_pGathering->IsRunning() || m_aastrToGather.empty())
        return;
    m_pGathering->Start(std::move(m_aastrToGather.front()));
    m_aastrToGather.pop_front();
    Fl::add_timeout(kGatheringPollSeconds, OnGatheringTimer, this);
}

// Polled from the loop: the gathering thread calls nothing of the window's.
void CVelofonPocketView::OnGatheringTimer(void* pView)
{
    auto* pThis = static_cast<CVelofonPocketView*>(pView);
    CFolderGathering& gathering = *pThis->m_pGathering;
    if (!gathering.IsDone()) {
        pThis->m_pPlayList->SetNote(kGatheringNote + std::to_string(gathering.GetFoundCount()) + kGatheringNoteEnd);
        Fl::repeat_timeout(kGatheringPollSeconds, OnGatheringTimer, pView);
        return;
    }
    pThis->m_pPlayList->SetNote("");
    const std::vector<std::string> astrFiles = gathering.TakeResult();
    if (!astrFiles.empty()) {
        pThis->m_pController->QueueOpen(astrFiles);
        pThis->Post(EPlayerCommand::OpenQueued);
    }
    pThis->StartGathering();
}

void CVelofonPocketView::CancelGathering()
{
    m_aastrToGather.clear();
    m_pGathering->Cancel();
}

bool CVelofonPocketView::CanSeek() const
{
    return m_pController && m_pController->GetCurrentEntry() >= 0 && m_pController->GetLengthFrames() > 0;
}

void CVelofonPocketView::SeekToFraction(double dFraction)
{
    // The file may have ended while the mouse button was down.
    if (!CanSeek())
        return;
    const auto nLength = static_cast<double>(m_pController->GetLengthFrames());
    Post(EPlayerCommand::SeekTo, static_cast<int64_t>(dFraction * nLength));
}

void CVelofonPocketView::Exit()
{
    if (m_onExit)
        m_onExit();
    else
        hide();
}

void CVelofonPocketView::draw()
{
    // The picture is painted only when the window itself needs it. A part
    // that redraws a piece of itself (a row of the list, a label) must not
    // find the picture painted over the rest of it.
    if (damage() & ~FL_DAMAGE_CHILD) {
        const int nFormTop = Scaled(kMenuBarHeight);
        if (m_pBackground)
            m_pBackground->draw(0, nFormTop);
        else
            fl_rectf(0, nFormTop, w(), h() - nFormTop, kFormColor);
    }
    draw_children();
    if (!m_bPainted) {
        m_bPainted = true;
        Fl::add_timeout(0.0, OnPainted, this);
    }
}

// Once the first paint has gone out. The icon's 256 x 256 pixels, made into
// a window property, would otherwise come between the start and the window.
void CVelofonPocketView::OnPainted(void* pView)
{
    auto& view = *static_cast<CVelofonPocketView*>(pView);
    view.icon(GetImage(IDI_ICON_LARGE));
    if (view.m_onFirstPaint)
        view.m_onFirstPaint();
}

void CVelofonPocketView::MoveFocus(bool bBackward)
{
    const int nCount = static_cast<int>(m_apTabOrder.size());
    int nAt = static_cast<int>(std::find(m_apTabOrder.begin(), m_apTabOrder.end(), Fl::focus()) - m_apTabOrder.begin());
    // From outside the parts, Tab starts at the first and Shift+Tab at the last.
    if (nAt == nCount)
        nAt = bBackward ? 0 : nCount - 1;
    for (int nStep = 1; nStep <= nCount; ++nStep) {
        if (m_apTabOrder[static_cast<size_t>((nAt + (bBackward ? nCount - nStep : nStep)) % nCount)]->take_focus())
            return;
    }
}

// Files and folders dropped from a file manager; while a dialog is open the
// window takes none, as it takes no keys.
int CVelofonPocketView::HandleDrop(int nEvent)
{
    if (Fl::modal() && Fl::modal() != this)
        return 0;
    switch (nEvent) {
    case FL_DND_ENTER:
    case FL_DND_DRAG:
        // The drop comes to the widget below the mouse: the window, not a part of it.
        Fl::belowmouse(this);
        return 1;
    case FL_DND_LEAVE:
    case FL_DND_RELEASE:
        return 1;
    case FL_PASTE:
        OpenPaths(PathsOfUriList(Fl::event_text() ? Fl::event_text() : ""));
        return 1;
    default:
        return 0;
    }
}

// When the drag's grab ends, the toolkit makes the part under the mouse the
// widget below it, often before the drop arrives, which then goes to that
// part. A part that refuses it hands it to the window.
int CVelofonPocketView::OnDropElsewhere(int nEvent)
{
    Fl_Widget* pBelow = Fl::belowmouse();
    if (nEvent != FL_DND_RELEASE || !pBelow)
        return 0;
    auto* pView = dynamic_cast<CVelofonPocketView*>(pBelow->top_window());
    if (!pView || !pView->HandleDrop(nEvent))
        return 0;
    Fl::belowmouse(pView);
    return 1;
}

int CVelofonPocketView::handle(int nEvent)
{
    if (const int nUsed = HandleDrop(nEvent))
        return nUsed;
    // Keys reach the window when the part with the focus leaves them, or as
    // shortcuts when no part has the focus; either way before the group's
    // own focus moves.
    if ((nEvent == FL_KEYBOARD || nEvent == FL_SHORTCUT) && HandlePlayerKey())
        return 1;
    if (nEvent == FL_KEYBOARD) {
        switch (Fl::event_key()) {
        case FL_Left:
        case FL_Right:
        case FL_Up:
        case FL_Down:
            return 1;
        case FL_Tab:
            MoveFocus(Fl::event_state(FL_SHIFT) != 0);
            return 1;
        default:
            break;
        }
    }
    return Fl_Double_Window::handle(nEvent);
}

// ---- IPlayerView ----

void CVelofonPocketView::KeepFocus(bool bHadFocus)
{
    if (!bHadFocus)
        return;
    CImageButton* pPlayPause = m_pPlay->visible() ? m_pPlay : m_pPause;
    if (!pPlayPause->take_focus())
        m_pPlayList->take_focus();
}

void CVelofonPocketView::ShowPlayButton(bool bPlay)
{
    CImageButton* pShown = bPlay ? m_pPlay : m_pPause;
    CImageButton* pHidden = bPlay ? m_pPause : m_pPlay;
    if (pShown->visible() && !pHidden->visible())
        return;
    const bool bHadFocus = Fl::focus() == pHidden;
    pHidden->hide();
    pShown->show();
    KeepFocus(bHadFocus);
}

void CVelofonPocketView::Enable(Fl_Widget& part, bool bEnable)
{
    if ((part.active() != 0) == bEnable)
        return;
    const bool bHadFocus = Fl::focus() == &part;
    if (bEnable)
        part.activate();
    else
        part.deactivate();
    KeepFocus(bHadFocus && !bEnable);
}

void CVelofonPocketView::EnablePlay(bool bEnable)
{
    Enable(*m_pPlay, bEnable);
    Enable(*m_pPause, bEnable);
}

void CVelofonPocketView::EnableStop(bool bEnable)
{
    Enable(*m_pStop, bEnable);
}

void CVelofonPocketView::SetSpeedText(const std::string& strText)
{
    m_pSpeed->SetText(strText);
}

void CVelofonPocketView::SetFileName(const std::string& strText)
{
    m_pFileName->SetText(strText);
}

void CVelofonPocketView::SetTimeText(const std::string& strText)
{
    m_pTime->SetText(strText);
}

void CVelofonPocketView::SetTimeTip(const std::string& strTip)
{
    m_pTime->copy_tooltip(strTip.empty() ? nullptr : strTip.c_str());
}

void CVelofonPocketView::SetProgressRange(int nMaximum)
{
    m_pProgress->SetRange(0, nMaximum);
}

void CVelofonPocketView::SetProgressPos(int nPosition)
{
    m_pProgress->SetPos(nPosition);
}

void CVelofonPocketView::SetProgressTicks(const std::vector<int>& anSeconds)
{
    m_pProgress->SetTicks(anSeconds);
}

void CVelofonPocketView::SetSleepText(const std::string& strText)
{
    m_pSleep->SetText(strText);
}

void CVelofonPocketView::ChooseChapterToPlay()
{
    if (!m_pController)
        return;
    const int nChosen = ChooseChapter(m_pController->GetChapters(), m_pController->GetCurrentChapter(),
        m_pController->GetSampleRate());
    if (nChosen >= 0)
        Post(EPlayerCommand::SeekToChapter, nChosen);
}

void CVelofonPocketView::SetCaption(const std::string& strCaption)
{
    copy_label(strCaption.c_str());
}

void CVelofonPocketView::AddRow(const std::string& strName, const std::string& strPath)
{
    m_pPlayList->AddRow(strName, strPath);
}

void CVelofonPocketView::RemoveRow(int nRow)
{
    m_pPlayList->RemoveRow(nRow);
}

bool CVelofonPocketView::IsRowSelected(int nRow) const
{
    return m_pPlayList->IsRowSelected(nRow);
}

void CVelofonPocketView::SelectRow(int nRow, bool bSelect)
{
    m_pPlayList->SelectRow(nRow, bSelect);
}

void CVelofonPocketView::ShowRow(int nRow)
{
    m_pPlayList->ShowRow(nRow);
}

bool CVelofonPocketView::AskYesNo(const std::string& strText)
{
    return ::AskYesNo(this, strText);
}

void CVelofonPocketView::ShowMessage(const std::string& strText)
{
    ::ShowMessage(this, strText);
}

bool CVelofonPocketView::ChooseFiles(bool& bFileMode, std::string& strFolder, std::vector<std::string>& astrPaths)
{
    CFileBrowserDlg dialog;
    dialog.m_bFileMode = bFileMode;
    dialog.m_strFolder = strFolder;
    if (!dialog.DoModal())
        return false;
    bFileMode = dialog.m_bFileMode;
    strFolder = dialog.m_strFolder;
    astrPaths = dialog.m_astrResult;
    return true;
}

bool CVelofonPocketView::ChooseSettings(SPlayerSettings& settings)
{
    CSettingDlg dialog;
    dialog.m_nWaitMs = settings.nWaitMs;
    dialog.m_bClearSpeech = settings.bClearSpeech;
    dialog.m_bSkipSilence = settings.bSkipSilence;
    dialog.m_bSpeedPerBook = settings.bSpeedPerBook;
    dialog.m_bRewindOnResume = settings.bRewindOnResume;
    if (!dialog.DoModal())
        return false;
    settings = SPlayerSettings{dialog.m_nWaitMs, dialog.m_bClearSpeech, dialog.m_bSkipSilence, dialog.m_bSpeedPerBook,
        dialog.m_bRewindOnResume};
    return true;
}
