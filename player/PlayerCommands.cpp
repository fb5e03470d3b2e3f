// The player's commands besides playback: the speed buttons, the select-all
// bar, the playlist, repeat, Mixing and Alpha menus, help, settings and exit.
// Each command that changes a setting or the playlist saves everything.
#include "VelofonPocketView.h"

#include "app/Resource.h"
#include "app/SettingDlg.h"
#include "engine/PlayableFiles.h"
#include "engine/SpeedEngine.h"
#include "platform/desktop/Desktop.h"
#include "ui/FileBrowserDlg.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

const char kAlphaQuestion[] =
    "ｱﾙﾌｧｰｺﾝﾄﾛｰﾙを使用した場合に処理速度の問題で音が途切れたり操作が出来なくなったりする場合が有ります。ｱﾙﾌｧｰｺﾝﾄﾛｰﾙを\n"
    "　使用する場合は「はい」\n"
    "　使用しない場合は「いいえ」\n"
    "を選択して下さい。";

namespace {

const char kHelpPage[] = "help.html";
const char kExecutableName[] = "/VelofonPocket";

} // namespace

int RepeatOfCommand(UINT nID)
{
    switch (nID) {
    case ID_REPEAT_ALL:
        return REPEAT_ALL;
    case ID_REPEAT_ONE:
        return REPEAT_ONE;
    default:
        return REPEAT_NONE;
    }
}

int MixingOfCommand(UINT nID)
{
    return 100 - static_cast<int>(nID - ID_MIXING_MAX) * 10;
}

int AlphaOfCommand(UINT nID)
{
    return 50 - static_cast<int>(nID - ID_ALPHA_MAX) * 5;
}

void CVelofonPocketView::ChangeSpeed(int nDelta)
{
    if (m_nSpeedHoldoff != 0)
        return;
    m_nSpeedIdx = std::clamp(m_nSpeedIdx + nDelta, 0, kSpeedIndexCount - 1);
    m_SpeedLabel.SetText(m_astrSpeedText[m_nSpeedIdx]);
    TheSpeedEngine().SetSpeed((m_nSpeedIdx + 10) * 0.1);
    RequestSpeedRestart();
    SaveSettings();
}

void CVelofonPocketView::OnSpeedDown()
{
    ChangeSpeed(-1);
}

void CVelofonPocketView::OnSpeedUp()
{
    ChangeSpeed(+1);
}

void CVelofonPocketView::OnSelectAll()
{
    if (m_PlayList.GetCount() == 0)
        return;
    // Only line 0 decides: all on when it is off, all off when it is on.
    const bool bSelect = m_PlayListBox.GetSel(0) <= 0;
    for (int nRow = 0; nRow < m_PlayListBox.GetCount(); ++nRow)
        m_PlayListBox.SetSel(nRow, bSelect);
}

void CVelofonPocketView::OnListAdd()
{
    CFileBrowserDlg dialog;
    dialog.m_bFileMode = m_nFileSelect != 0;
    if (dialog.DoModal() != IDOK)
        return;
    for (const std::string& strPath : dialog.m_astrResult) {
        if (!HasPlayableExtension(strPath))
            continue;
        m_PlayList.Add(strPath);
        m_PlayListBox.AddString(m_PlayList.GetDisplayName(m_PlayList.GetCount() - 1));
    }
    m_nFileSelect = dialog.m_bFileMode ? 1 : 0;
    SaveSettings();
}

void CVelofonPocketView::OnListDelete()
{
    for (int nRow = m_PlayListBox.GetCount() - 1; nRow >= 0; --nRow) {
        if (m_PlayListBox.GetSel(nRow) > 0) {
            m_PlayListBox.DeleteString(nRow);
            m_PlayList.RemoveAt(nRow);
        }
    }
    SaveSettings();
}

void CVelofonPocketView::OnRepeat(UINT nID)
{
    m_nRepeat = RepeatOfCommand(nID);
    SaveSettings();
}

void CVelofonPocketView::OnUpdateRepeat(CCmdUI* pCmdUI)
{
    pCmdUI->SetCheck(m_nRepeat == RepeatOfCommand(pCmdUI->m_nID) ? 1 : 0);
}

void CVelofonPocketView::OnMixing(UINT nID)
{
    m_nMixingVolume = MixingOfCommand(nID);
    SaveSettings();
    TheSpeedEngine().m_nMixingGain = m_nMixingVolume / 5;
}

void CVelofonPocketView::OnUpdateMixing(CCmdUI* pCmdUI)
{
    pCmdUI->SetCheck(m_nMixingVolume == MixingOfCommand(pCmdUI->m_nID) ? 1 : 0);
}

void CVelofonPocketView::OnAlpha(UINT nID)
{
    const int nLevel = AlphaOfCommand(nID);
    if (nLevel != 0 && !ConfirmAlpha())
        return;
    m_nAlphaControl = nLevel;
    SaveSettings();
    CSpeedEngine& engine = TheSpeedEngine();
    engine.m_nAlphaLevel = nLevel;
    engine.m_bAlpha = nLevel != 0 ? 1 : 0;
}

void CVelofonPocketView::OnUpdateAlpha(CCmdUI* pCmdUI)
{
    pCmdUI->SetCheck(m_nAlphaControl == AlphaOfCommand(pCmdUI->m_nID) ? 1 : 0);
}

bool CVelofonPocketView::ConfirmAlpha()
{
    if (m_nAlphaControl != 0)
        return true;
    return MessageBox(this, kAlphaQuestion, AfxGetApp()->GetAppName(), MB_YESNO) == IDYES;
}

std::string HelpPagePath(const std::string& strExecutable)
{
    // The page stands beside the executable. Only the file name is looked
    // for, at the end of the path: the folder may carry the same name.
    const size_t nNameLength = sizeof kExecutableName - 1;
    std::string strPath = kHelpPage;
    if (strExecutable.size() >= nNameLength &&
        strExecutable.compare(strExecutable.size() - nNameLength, nNameLength, kExecutableName) == 0)
        strPath = strExecutable.substr(0, strExecutable.size() - nNameLength) + "/" + kHelpPage;
    for (size_t nAt = strPath.find("//"); nAt != std::string::npos; nAt = strPath.find("//", nAt))
        strPath.erase(nAt, 1);
    return strPath;
}

void CVelofonPocketView::OnHelp()
{
    ShellOpen(HelpPagePath(GetModuleFileName()));
}

void CVelofonPocketView::OnSetting()
{
    CSettingDlg dialog;
    dialog.m_nWaitMs = m_nWaitSec;
    if (dialog.DoModal() != IDOK)
        return;
    m_nWaitSec = dialog.m_nWaitMs;
    SaveSettings();
}

void CVelofonPocketView::OnExit()
{
    std::exit(0);
}

LRESULT CVelofonPocketView::OnDuplicate(WPARAM /*wParam*/, LPARAM /*lParam*/)
{
    MessageBox(this, "duplicate", std::string(), MB_OK);
    return 0;
}
