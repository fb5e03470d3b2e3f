#include "VelofonPocketView.h"

#include "FormLayout.h"

#include "app/Resource.h"
#include "output/WaveOutput.h"

#include <algorithm>

namespace {

const char kCaptionWord[] = "Kuroto";
// 28 pairs of a full stop and a space, as the form shows before anything plays.
const char kFileNamePlaceholder[] = ". . . . . . . . . . . . . . . . . . . . . . . . . . . . ";

} // namespace

int CVelofonPocketView::m_nPlayState = PS_IDLE;
int CVelofonPocketView::m_nCurrent = -1;
int CVelofonPocketView::m_nPending = -1;
bool CVelofonPocketView::m_bResumeRequest = false;
uint64_t CVelofonPocketView::m_nResumePos = 0;
int CVelofonPocketView::m_nSpeedHoldoff = 0;
bool CVelofonPocketView::m_bLayoutPending = true;

IMPLEMENT_DYNCREATE(CVelofonPocketView)

BEGIN_MESSAGE_MAP(CVelofonPocketView, CFormView)
ON_BN_CLICKED(IDC_SELECT_ALL, OnSelectAll)
ON_BN_CLICKED(IDC_PLAY, OnPlay)
ON_BN_CLICKED(IDC_STOP, OnStop)
ON_BN_CLICKED(IDC_SPEED_DOWN, OnSpeedDown)
ON_BN_CLICKED(IDC_SPEED_UP, OnSpeedUp)
ON_LBN_DBLCLK(IDC_PLAYLIST, OnDblclkPlayList)
ON_WM_PAINT()
ON_BN_CLICKED(IDC_PAUSE, OnPlay)
ON_COMMAND_RANGE(ID_ALPHA_MAX, ID_ALPHA_OFF, OnAlpha)
ON_UPDATE_COMMAND_UI_RANGE(ID_ALPHA_MAX, ID_ALPHA_OFF, OnUpdateAlpha)
ON_COMMAND_RANGE(ID_MIXING_MAX, ID_MIXING_OFF, OnMixing)
ON_UPDATE_COMMAND_UI_RANGE(ID_MIXING_MAX, ID_MIXING_OFF, OnUpdateMixing)
ON_COMMAND(ID_EXIT, OnExit)
ON_COMMAND(ID_HELP_PAGE, OnHelp)
ON_COMMAND(ID_LIST_ADD, OnListAdd)
ON_COMMAND(ID_LIST_DELETE, OnListDelete)
ON_COMMAND_RANGE(ID_REPEAT_ALL, ID_REPEAT_NONE, OnRepeat)
ON_UPDATE_COMMAND_UI_RANGE(ID_REPEAT_ALL, ID_REPEAT_NONE, OnUpdateRepeat)
ON_COMMAND(ID_SETTING, OnSetting)
ON_MESSAGE(MM_WOM_DONE, OnWomDone)
ON_MESSAGE(WM_DUPLICATE, OnDuplicate)
END_MESSAGE_MAP()

CVelofonPocketView::CVelofonPocketView()
    : CFormView(IDD_VELOFONPOCKET_FORM)
{
}

void CVelofonPocketView::DoDataExchange(CDataExchange* pDX)
{
    CFormView::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_SPEED, m_SpeedLabel);
    DDX_Control(pDX, IDC_PROGRESS, m_Progress);
    DDX_Control(pDX, IDC_FILE_NAME, m_FileNameLabel);
    DDX_Control(pDX, IDC_TIME, m_TimeLabel);
    DDX_Control(pDX, IDC_SELECT_ALL, m_SelectAllButton);
    DDX_Control(pDX, IDC_STOP, m_StopButton);
    DDX_Control(pDX, IDC_SPEED_UP, m_SpeedUpButton);
    DDX_Control(pDX, IDC_SPEED_DOWN, m_SpeedDownButton);
    DDX_Control(pDX, IDC_PLAY, m_PlayButton);
    DDX_Control(pDX, IDC_PAUSE, m_PauseButton);
    DDX_Control(pDX, IDC_PLAYLIST, m_PlayListBox);
}

void CVelofonPocketView::OnInitialUpdate()
{
    CFormView::OnInitialUpdate();
    LoadSettings();
    for (int i = 0; i < kSpeedIndexCount; ++i)
        m_astrSpeedText[i] = std::to_string(1 + i / 10) + "." + std::to_string(i % 10);
    m_SpeedLabel.SetText(m_astrSpeedText[m_nSpeedIdx]);
    m_SpeedLabel.SetPointSize(180);
    m_SpeedLabel.SetCenter();
    m_TimeLabel.SetRight();
    m_FileNameLabel.SetPointSize(90);
    m_nPlayState = PS_IDLE;
    UpdateStopButton();
    // Idle shows Play; Pause shares its place.
    ShowPlayButton(true);
    m_strCaptionWord = kCaptionWord;
    UpdateCaption();
}

void CVelofonPocketView::OnPaint()
{
    CPaintDC dc(this);
    const CRect client = GetClientRect();
    if (m_bLayoutPending) {
        m_bLayoutPending = false;
        LayOut(client.Width(), client.Height());
    }
    if (NeedsBackgroundFill(client.Width(), client.Height()))
        dc.FillSolidRect(client, kFormColor);
    DrawBitmapAt(&dc, m_hBackBitmap.get(), LayoutOriginX(client.Width()), LayoutOriginY(client.Height()));
}

void CVelofonPocketView::LayOut(int nClientWidth, int nClientHeight)
{
    for (const SControlPlace& place : LandscapeLayout(nClientWidth, nClientHeight)) {
        if (CWnd* pControl = GetDlgItem(place.nID))
            pControl->MoveWindow(place.x, place.y, place.nWidth, place.nHeight, true);
    }
    m_hBackBitmap = std::make_unique<CBitmap>();
    m_hBackBitmap->LoadBitmap(IDB_BACK);
    m_PlayButton.LoadBitmaps(IDB_PLAY, IDB_PLAY_PRESSED, IDB_PLAY_DISABLED);
    m_PauseButton.LoadBitmaps(IDB_PAUSE, IDB_PAUSE_PRESSED, IDB_PAUSE_DISABLED);
    m_StopButton.LoadBitmaps(IDB_STOP, IDB_STOP_PRESSED, IDB_STOP_DISABLED);
    m_SpeedUpButton.LoadBitmaps(IDB_SPEED_UP, IDB_SPEED_UP_PRESSED, IDB_SPEED_UP_DISABLED);
    m_SpeedDownButton.LoadBitmaps(IDB_SPEED_DOWN, IDB_SPEED_DOWN_PRESSED, IDB_SPEED_DOWN_DISABLED);
    m_SelectAllButton.LoadBitmaps(IDB_SELECT_ALL, IDB_SELECT_ALL_PRESSED, IDB_SELECT_ALL_DISABLED);
    m_TimeLabel.SetText(kTimeZero);
    m_FileNameLabel.SetText(kFileNamePlaceholder);
}
