// The file browser's and the settings dialog's templates as data.
#include "DialogResources.h"

#include "Resource.h"
#include "SettingDlg.h"

#include "ui/FileBrowserDlg.h"

static_assert(CFileBrowserDlg::IDD == IDD_FILE_BROWSER, "the browser uses its template");
static_assert(CSettingDlg::IDD == IDD_SETTING, "the settings dialog uses its template");

namespace {

const char kDialogFont[] = "ＭＳ Ｐゴシック";

// A list box has its border and a combo box is a drop-down list by their
// kind. A drop-down shows its list itself, so the combo boxes are one line
// high here instead of the height of their open list.
const SDialogItem kFileBrowserItems[] = {
    {EControlKind::PushButton, IDOK, "OK", BS_DEFPUSHBUTTON, 104, 0, 16, 10},
    {EControlKind::PushButton, IDCANCEL, "ｘ", BS_PUSHBUTTON, 121, 0, 16, 10},
    {EControlKind::PushButton, IDC_BROWSER_PARENT, "親ディレクトリ", BS_PUSHBUTTON, 0, 0, 43, 10},
    {EControlKind::Static, IDC_BROWSER_PATH, "", SS_LEFT | SS_SUNKEN, 0, 11, 136, 10},
    {EControlKind::ListBox, IDC_BROWSER_ENTRIES, nullptr, LBS_NOTIFY | LBS_EXTENDEDSEL, 0, 22, 137, 89},
    {EControlKind::ComboBox, IDC_BROWSER_FILTER, nullptr, 0, 0, 111, 137, 12},
    {EControlKind::CheckBox, IDC_BROWSER_FOLDER_MODE, "ﾃﾞｨﾚｸﾄﾘ選択", BS_AUTOCHECKBOX, 54, 0, 53, 10},
};

// The group box comes first so that the combo box draws over its frame; the
// combo box is wider than 30 units so that "１０秒" fits beside its arrow.
const SDialogItem kSettingItems[] = {
    {EControlKind::GroupBox, -1, "再生間隔", 0, 15, 10, 70, 40},
    {EControlKind::ComboBox, IDC_SETTING_WAIT, nullptr, 0, 35, 25, 42, 12},
    {EControlKind::PushButton, IDOK, "OK", BS_DEFPUSHBUTTON, 100, 0, 35, 15},
    {EControlKind::PushButton, IDCANCEL, "Cancel", BS_PUSHBUTTON, 100, 15, 35, 15},
};

} // namespace

void RegisterDialogResources()
{
    RegisterDialogTemplate(MakeDialogTemplate(IDD_FILE_BROWSER, "", kDialogFont, 9, 139, 123, kFileBrowserItems));
    RegisterDialogTemplate(MakeDialogTemplate(IDD_SETTING, "設定", kDialogFont, 9, 139, 55, kSettingItems));
}
