// CSettingDlg: the pause the player makes between two files of the list,
// how it speeds speech up: the clear mode and the skipping of silence, and
// how it resumes: each book at its own speed, a little back after a while away.
#pragma once

#include "ModalDialog.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>

struct SWaitTime {
    const char* strLabel;
    int nMs;
};

// The choices of the box, in its order.
inline constexpr SWaitTime g_WaitTimes[] = {
    {"０秒", 0},       {"0.3秒", 300},   {"0.5秒", 500},   {"１秒", 1000},
    {"２秒", 2000},    {"３秒", 3000},   {"４秒", 4000},   {"５秒", 5000},
    {"６秒", 6000},    {"７秒", 7000},   {"１０秒", 10000},
};
constexpr int kWaitTimeCount = static_cast<int>(sizeof g_WaitTimes / sizeof g_WaitTimes[0]);

class CSettingDlg : public CModalDialog {
public:
    CSettingDlg();

    // The pause in milliseconds: the caller's value in, the choice out on OK.
    // A value not in the table shows as the first row.
    int m_nWaitMs = 0;
    bool m_bClearSpeech = false;
    bool m_bSkipSilence = false;
    bool m_bSpeedPerBook = true;
    bool m_bRewindOnResume = true;

    // The parts, in the order the focus goes through them. The frame comes
    // first so that the choice draws over it.
    Fl_Box m_FrameWait;
    Fl_Choice m_ChoiceWait;
    Fl_Check_Button m_CheckClear;
    Fl_Check_Button m_CheckSkip;
    Fl_Check_Button m_CheckBookSpeed;
    Fl_Check_Button m_CheckRewind;
    CDefaultButton m_ButtonOk;
    Fl_Button m_ButtonCancel;

protected:
    void OnInitDialog() override;
    void OnOK() override;
};
