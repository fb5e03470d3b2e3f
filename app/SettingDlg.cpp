#include "SettingDlg.h"

CSettingDlg::CSettingDlg(CWnd* pParent)
    : CDialog(IDD, pParent)
{
}

void CSettingDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_SETTING_WAIT, m_ComboWait);
}

bool CSettingDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    int nRow = 0;
    for (int i = 0; i < kWaitTimeCount; ++i) {
        m_ComboWait.AddString(g_WaitTimes[i].strLabel);
        if (g_WaitTimes[i].nMs == m_nWaitMs)
            nRow = i;
    }
    m_ComboWait.SetCurSel(nRow);
    return true;
}

void CSettingDlg::OnOK()
{
    const int nRow = m_ComboWait.GetCurSel();
    if (nRow >= 0 && nRow < kWaitTimeCount)
        m_nWaitMs = g_WaitTimes[nRow].nMs;
    CDialog::OnOK();
}
