// CVelofonPocketView: the one form of the player. It owns the playlist box,
// the six bitmap buttons, the three painted labels and the progress bar, the
// playlist, the settings (loaded once at start, saved whole at each change)
// and the state of playback.
#pragma once

#include "PlayList.h"

#include "platform/DocView.h"
#include "ui/PaintControls.h"

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
// The profile entry of playlist entry nIndex: "PlayFile%05d".
std::string PlayFileEntryName(int nIndex);

class CVelofonPocketView : public CFormView {
    DECLARE_DYNCREATE(CVelofonPocketView)

public:
    CVelofonPocketView();

    void OnInitialUpdate() override;
    void LoadSettings();
    void SaveSettings();
    void UpdateCaption();
    void UpdateStopButton();

    // Program-wide state of playback.
    static int m_nPlayState;
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

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnPaint();
    // Places every control and loads the bitmaps: once, at the first paint.
    void LayOut(int nClientWidth, int nClientHeight);

    DECLARE_MESSAGE_MAP()
};
