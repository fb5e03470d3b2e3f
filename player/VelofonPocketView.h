// CVelofonPocketView: the one form of the player. It owns the playlist box,
// the six bitmap buttons, the three painted labels and the progress bar, the
// playlist, the settings (loaded once at start, saved whole at each change)
// and the state of playback.
#pragma once

#include "PlayList.h"

#include "platform/DocView.h"
#include "ui/PaintControls.h"

#include <cstdint>
#include <memory>
#include <string>

class CSpeedEngine;
class CWaveOutput;

// The program-wide engine and output device; the application defines them.
CSpeedEngine& TheSpeedEngine();
CWaveOutput& TheWaveOutput();

constexpr int PS_RUNNING = 0;
constexpr int PS_IDLE = 1;

constexpr int REPEAT_NONE = 0;
constexpr int REPEAT_ALL = 1;
constexpr int REPEAT_ONE = 2;

constexpr int kSpeedIndexCount = 31;

extern const char kSettingsSection[];
extern const char kTimeZero[];
// The values of the menu items by command id.
int RepeatOfCommand(UINT nID);
int MixingOfCommand(UINT nID);
int AlphaOfCommand(UINT nID);

// The help page beside the executable at strExecutable ("help.html" alone
// when the executable is not named VelofonPocket).
std::string HelpPagePath(const std::string& strExecutable);

// The question asked before the Alpha tones are first switched on.
extern const char kAlphaQuestion[];

// The profile entry of playlist entry nIndex: "PlayFile%05d".
std::string PlayFileEntryName(int nIndex);

class CVelofonPocketView : public CFormView {
    DECLARE_DYNCREATE(CVelofonPocketView)

public:
    CVelofonPocketView();

    void OnInitialUpdate() override;
    void LoadSettings();
    void SaveSettings();

    // ---- playback ----
    bool StartFile(const std::string& strPath, uint64_t nPosition, bool bSpeedRestart);
    std::string NextFile();
    std::string CurrentFile() const;
    bool PlayNext();
    void ResetToIdle(bool bResetDisplay);
    void SyncListSelection();
    void UpdateCaption();
    void UpdateStopButton();
    // True when Stop ended the wait.
    bool WaitBetweenFiles();
    void RequestSpeedRestart();

    void OnPlay();
    void OnStop();
    void OnDblclkPlayList();
    LRESULT OnWomDone(WPARAM wParam, LPARAM lParam);

    // ---- commands ----
    void OnSpeedDown();
    void OnSpeedUp();
    void OnSelectAll();
    void OnListAdd();
    void OnListDelete();
    void OnHelp();
    void OnSetting();
    void OnExit();
    LRESULT OnDuplicate(WPARAM wParam, LPARAM lParam);
    // True when the Alpha tones may be switched on (asks when they are off).
    bool ConfirmAlpha();
    // The repeat, Mixing and Alpha items; each knows its value by its id.
    void OnRepeat(UINT nID);
    void OnMixing(UINT nID);
    void OnAlpha(UINT nID);
    void OnUpdateRepeat(CCmdUI* pCmdUI);
    void OnUpdateMixing(CCmdUI* pCmdUI);
    void OnUpdateAlpha(CCmdUI* pCmdUI);

    // Program-wide state of playback.
    static int m_nPlayState;
    static int m_nCurrent;
    static int m_nPending;
    static bool m_bResumeRequest;
    static uint64_t m_nResumePos;
    static int m_nSpeedHoldoff;
    // Set at start; the first paint lays the form out and clears it.
    static bool m_bLayoutPending;

    CPaintLabel m_SpeedLabel;
    CPaintProgress m_Progress;
    CPaintLabel m_FileNameLabel;
    CPaintLabel m_TimeLabel;
    CImageButton m_SelectAllButton;
    CImageButton m_StopButton;
    CImageButton m_SpeedUpButton;
    CImageButton m_SpeedDownButton;
    CImageButton m_PlayButton;
    CImageButton m_PauseButton;
    CListBox m_PlayListBox;
    CPlayList m_PlayList;
    int m_nSpeedIdx = 10;
    std::string m_astrSpeedText[kSpeedIndexCount];
    int m_nLastShownSec = 0;
    std::string m_strCaptionWord;
    int m_nRepeat = REPEAT_NONE;
    int m_nMixingVolume = 50;
    int m_nAlphaControl = 0;
    int m_nFileSelect = 1;
    bool m_bPlayWaitFlag = false;
    bool m_bStopWait = false;
    std::unique_ptr<CBitmap> m_hBackBitmap;
    int m_nOldSec2 = 0;
    int m_nWaitSec = 0;
    // A double-click started an entry during the wait; the wait then ends
    // and starts nothing itself.
    bool m_bWaitTakenOver = false;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnPaint();
    void ShowPlayButton(bool bPlay);
    // Resumes a paused output and has every buffer back at once, none refilled.
    void CutOffOutput();
    int FirstSelectedRow() const;
    void ChangeSpeed(int nDelta);
    // The seconds between two notifications after which the output counts as stalled.
    int WatchdogSeconds() const;

    // Places every control and loads the bitmaps: once, at the first paint.
    void LayOut(int nClientWidth, int nClientHeight);

    DECLARE_MESSAGE_MAP()
};
