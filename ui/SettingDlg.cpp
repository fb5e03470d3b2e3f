#include "SettingDlg.h"

CSettingDlg::CSettingDlg()
    : CModalDialog(kSettingWidth, kSettingHeight, "設定")
    , m_FrameWait(FL_ENGRAVED_FRAME, 0, 0, 0, 0, "再生間隔")
    , m_ChoiceWait(0, 0, 0, 0)
    , m_CheckClear(0, 0, 0, 0, "明瞭モード")
    , m_CheckSkip(0, 0, 0, 0, "無音を短縮")
    , m_CheckBookSpeed(0, 0, 0, 0, "本ごとに速度を記憶")
    , m_CheckRewind(0, 0, 0, 0, "再開時に少し戻す")
    , m_ButtonOk("OK")
    , m_ButtonCancel(0, 0, 0, 0, "Cancel")
{
    EndLayout({{&m_FrameWait, kSettingFrameRect}, {&m_ChoiceWait, kSettingWaitRect},
               {&m_CheckClear, kSettingClearRect}, {&m_CheckSkip, kSettingSkipRect},
               {&m_CheckBookSpeed, kSettingBookSpeedRect}, {&m_CheckRewind, kSettingRewindRect},
               {&m_ButtonOk, kSettingOkRect}, {&m_ButtonCancel, kSettingCancelRect}},
              m_ButtonOk, m_ButtonCancel);
    m_FrameWait.align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE);
    for (const SWaitTime& wait : g_WaitTimes)
        m_ChoiceWait.add(wait.strLabel, 0, nullptr);
}

void CSettingDlg::OnInitDialog()
{
    int nRow = 0;
    for (int nWait = 0; nWait < kWaitTimeCount; ++nWait) {
        if (g_WaitTimes[nWait].nMs == m_nWaitMs)
            nRow = nWait;
    }
    m_ChoiceWait.value(nRow);
    m_CheckClear.value(m_bClearSpeech ? 1 : 0);
    m_CheckSkip.value(m_bSkipSilence ? 1 : 0);
    m_CheckBookSpeed.value(m_bSpeedPerBook ? 1 : 0);
    m_CheckRewind.value(m_bRewindOnResume ? 1 : 0);
}

void CSettingDlg::OnOK()
{
    const int nRow = m_ChoiceWait.value();
    if (nRow >= 0 && nRow < kWaitTimeCount)
        m_nWaitMs = g_WaitTimes[nRow].nMs;
    m_bClearSpeech = m_CheckClear.value() != 0;
    m_bSkipSilence = m_CheckSkip.value() != 0;
    m_bSpeedPerBook = m_CheckBookSpeed.value() != 0;
    m_bRewindOnResume = m_CheckRewind.value() != 0;
    CModalDialog::OnOK();
}
