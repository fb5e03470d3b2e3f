// CVelofonPocketView: the player's main window. The menu bar stands above
// the form: its background picture with the playlist, the select-all bar,
// the file name, progress, time and speed, the speed buttons, Stop and
// Play/Pause (which share one place). The window shows what the controller
// tells it (IPlayerView) and posts what the user asks for to the
// controller; it runs no player command itself.
//
// Keys: Tab and Shift+Tab move the focus over the playlist and the buttons;
// the arrows never move it. Wherever the focus is, Space plays or pauses
// (on a button, it presses that button), ']' or '+' speeds up, '[' or '-'
// slows down, '<' and '>' step through the playlist, 'c' switches the clear
// mode and 's' the skipping of silence, Left and Right jump 10 seconds back
// and on (60 with Shift; the playlist moves with Up and Down only),
// Ctrl+Right and Ctrl+Left go to the next chapter and back, 'l' lists the
// chapters, 't' switches the time between elapsed and left, F10 opens the
// menus and Ctrl+Q exits. Escape closes nothing. A click or a drag on the
// progress bar jumps there; a right-click on it or on the file's name lists
// the chapters, a click on the time switches it. User-interface thread only.
#pragma once

#include "player/PlayerView.h"

#include <FL/Fl_Double_Window.H>

#include <array>
#include <deque>
#include <memory>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CFolderGathering;
class CImageButton;
class CMainMenu;
class CPaintLabel;
class CPaintProgress;
class CPlayListBox;
class CPlaybackController;
class Fl_RGB_Image;
enum class EPlayerCommand : unsigned;

enum class EFormButton { SelectAll, SpeedDown, SpeedUp, Stop, Play, Pause };

class CVelofonPocketView : public Fl_Double_Window, public IPlayerView {
public:
    // Builds the whole window at UiScale(). Its size is fixed.
    CVelofonPocketView();
    ~CVelofonPocketView() override;

    // The controller the window posts to and whose settings the menus show; before show().
    void SetController(CPlaybackController& controller);
    // Runs for 終了, Ctrl+Q and the window's close box; without one the window hides.
    void SetExitHandler(std::function<void()> onExit);
    // Appends the files and folders from outside (a command line, a drop, a
    // second start) to the playlist, folders gathered as the file browser
    // does, and plays the first of them. The gathering runs on a thread of
    // its own, the list telling how far it is; Escape cancels it.
    void OpenPaths(const std::vector<std::string>& astrPaths);

    // ---- IPlayerView ----
    void ShowPlayButton(bool bPlay) override;
    void EnablePlay(bool bEnable) override;
    void EnableStop(bool bEnable) override;
    void SetSpeedText(const std::string& strText) override;
    void SetFileName(const std::string& strText) override;
    void SetTimeText(const std::string& strText) override;
    void SetTimeTip(const std::string& strTip) override;
    void SetProgressRange(int nMaximum) override;
    void SetProgressPos(int nPosition) override;
    void SetProgressTicks(const std::vector<int>& anSeconds) override;
    void SetSleepText(const std::string& strText) override;
    void SetCaption(const std::string& strCaption) override;
    void AddRow(const std::string& strName, const std::string& strPath) override;
    void RemoveRow(int nRow) override;
    bool IsRowSelected(int nRow) const override;
    void SelectRow(int nRow, bool bSelect) override;
    void ShowRow(int nRow) override;
    bool AskYesNo(const std::string& strText) override;
    void ShowMessage(const std::string& strText) override;
    bool ChooseFiles(bool& bFileMode, std::string& strFolder, std::vector<std::string>& astrPaths) override;
    bool ChooseSettings(SPlayerSettings& settings) override;

    // The parts, for tests.
    CPlayListBox& GetPlayListBox() { return *m_pPlayList; }
    CImageButton& GetButton(EFormButton eButton);
    CPaintLabel& GetSpeedLabel() { return *m_pSpeed; }
    CPaintLabel& GetTimeLabel() { return *m_pTime; }
    CPaintLabel& GetSleepLabel() { return *m_pSleep; }
    CPaintLabel& GetFileNameLabel() { return *m_pFileName; }
    CPaintProgress& GetProgress() { return *m_pProgress; }
    CMainMenu& GetMenu() { return *m_pMenu; }

    int handle(int nEvent) override;
    // Called once, when the window's first paint has gone out.
    void SetFirstPaintHandler(std::function<void()> onFirstPaint) { m_onFirstPaint = std::move(onFirstPaint); }

protected:
    void draw() override;

private:
    static void OnButton(Fl_Widget* pButton, void* pCommand);
    static void OnClose(Fl_Widget* pWindow, void*);
    // The toolkit's handler of events no widget used: the drops of this window.
    static int OnDropElsewhere(int nEvent);

    void Post(EPlayerCommand eCommand, int64_t nValue = 0);
    // Something plays whose length is known: the progress bar can jump in it.
    bool CanSeek() const;
    // Jumps to the place at dFraction (0 to 1) of the file that plays.
    void SeekToFraction(double dFraction);
    // The chapters' list at the mouse; the chosen one plays.
    void ChooseChapterToPlay();
    void Exit();
    // The player's own keys; true when the key was one.
    bool HandlePlayerKey();
    // Drag and drop onto the window; 0 for every other event.
    int HandleDrop(int nEvent);
    // Tab and Shift+Tab: the next part in m_apTabOrder that can take the focus takes it.
    void MoveFocus(bool bBackward);
    // The focus is kept in the window when the part that held it goes.
    void KeepFocus(bool bHadFocus);
    void Enable(Fl_Widget& part, bool bEnable);
    // The next paths waiting to be gathered, when no gathering runs.
    void StartGathering();
    void CancelGathering();
    static void OnGatheringTimer(void* pView);
    static void OnPainted(void* pView);

    CMainMenu* m_pMenu;
    CPlayListBox* m_pPlayList;
    CImageButton* m_pSelectAll;
    CImageButton* m_pSpeedDown;
    CImageButton* m_pSpeedUp;
    CImageButton* m_pStop;
    CImageButton* m_pPlay;
    CImageButton* m_pPause;
    CPaintLabel* m_pFileName;
    CPaintProgress* m_pProgress;
    CPaintLabel* m_pTime;
    CPaintLabel* m_pSleep;
    CPaintLabel* m_pSpeed;
    Fl_RGB_Image* m_pBackground;
    std::array<Fl_Widget*, 7> m_apTabOrder;

    CPlaybackController* m_pController = nullptr;
    std::function<void()> m_onExit;
    std::function<void()> m_onFirstPaint;
    bool m_bPainted = false;
    std::unique_ptr<CFolderGathering> m_pGathering;
    std::deque<std::vector<std::string>> m_aastrToGather;
};
