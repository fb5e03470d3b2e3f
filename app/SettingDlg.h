// CSettingDlg: the pause the player makes between two files of the list.
#pragma once

#include "platform/Dialog.h"

constexpr int IDC_SETTING_WAIT = 1027;

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

class CSettingDlg : public CDialog {
public:
    static constexpr int IDD = 132;

    explicit CSettingDlg(CWnd* pParent = nullptr);

    CComboBox m_ComboWait;
    // The pause in milliseconds: the caller's value in, the choice out on OK.
    // A value not in the table shows as the first row.
    int m_nWaitMs = 0;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
};
