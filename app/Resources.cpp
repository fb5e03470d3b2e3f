// The program's resources as data: dialog templates, the command-bar menus,
// the accelerators, the strings and the built-in images.
#include "Resource.h"

#include "DialogResources.h"

#include "platform/DocView.h"

void RegisterEmbeddedImages();

namespace {

const char kDialogFont[] = "ＭＳ Ｐゴシック";

// The handheld puts OK in the caption bar; a desktop title bar has no such
// button, so it stands at the right of the box.
const SDialogItem kAboutItems[] = {
    {EControlKind::Icon, -1, "#128", 0, 0, 1, 20, 20},
    {EControlKind::Static, -1, "VelofonPocket Version 1.0", SS_LEFT, 24, 3, 80, 20},
    {EControlKind::PushButton, IDOK, "OK", BS_DEFPUSHBUTTON, 106, 5, 30, 14},
};

// The form's controls; the first paint moves them to their pixel places.
const SDialogItem kFormItems[] = {
    {EControlKind::ListBox, IDC_PLAYLIST, nullptr, LBS_NOTIFY | LBS_EXTENDEDSEL, 15, 17, 113, 96},
    {EControlKind::PushButton, IDC_SELECT_ALL, nullptr, BS_OWNERDRAW, 8, 8, 7, 105},
    {EControlKind::ProgressBar, IDC_PROGRESS, "Progress1", 0, 129, 17, 78, 12},
    {EControlKind::PushButton, IDC_PLAY, "Play", BS_OWNERDRAW, 181, 87, 28, 26},
    {EControlKind::PushButton, IDC_STOP, "Stop", BS_OWNERDRAW, 153, 87, 28, 26},
    {EControlKind::PushButton, IDC_SPEED_DOWN, "↓", BS_OWNERDRAW, 129, 49, 28, 26},
    {EControlKind::PushButton, IDC_SPEED_UP, "↑", BS_OWNERDRAW, 181, 49, 28, 26},
    {EControlKind::Static, IDC_FILE_NAME, " . . . . . . . . . . . . . . . . . . . . . . . . . . . . ", SS_LEFT, 16, 8,
     167, 9},
    {EControlKind::Static, IDC_TIME, "00:00:00", SS_LEFT, 129, 31, 78, 9},
    {EControlKind::Static, IDC_SPEED, "2.0", SS_LEFT, 156, 51, 25, 23},
    {EControlKind::PushButton, IDC_PAUSE, "Pause", BS_OWNERDRAW, 181, 87, 28, 26},
};

const SMenuItemDef kEditItems[] = {{"追加", ID_LIST_ADD}, {"削除", ID_LIST_DELETE}};
const SMenuItemDef kRepeatItems[] = {{"しない", ID_REPEAT_NONE}, {"全部", ID_REPEAT_ALL}, {"ひとつ", ID_REPEAT_ONE}};
const SMenuItemDef kMixingItems[] = {
    {"MAX", 32797}, {"90%", 32798}, {"80%", 32799}, {"70%", 32800}, {"60%", 32801}, {"50%", 32802},
    {"40%", 32803}, {"30%", 32804}, {"20%", 32805}, {"10%", 32806}, {"OFF", 32807},
};
const SMenuItemDef kAlphaItems[] = {
    {"MAX", 32780}, {"45%", 32781}, {"40%", 32782}, {"35%", 32783}, {"30%", 32784}, {"25%", 32785},
    {"20%", 32786}, {"15%", 32787}, {"10%", 32788}, {"5%", 32789},  {"OFF", 32790},
};
const SMenuItemDef kHelpItems[] = {
    {"バージョン", ID_APP_ABOUT}, {"ヘルプ", ID_HELP_PAGE}, {"設定", ID_SETTING}, {"終了", ID_EXIT}};

template <size_t N>
constexpr SPopupDef Popup(const char* strCaption, const SMenuItemDef (&aItems)[N])
{
    return SPopupDef{strCaption, aItems, N};
}

const SPopupDef kMainMenu[] = {
    Popup("編集", kEditItems),     Popup("リピート", kRepeatItems), Popup("Mixing", kMixingItems),
    Popup("Alpha", kAlphaItems), Popup("ヘルプ", kHelpItems),
};

const SAccelerator kAccelerators[] = {
    {'N', ID_FILE_NEW},   {'O', ID_FILE_OPEN}, {'S', ID_FILE_SAVE}, {'Q', ID_APP_EXIT},
    {'Z', ID_EDIT_UNDO}, {'X', ID_EDIT_CUT},  {'C', ID_EDIT_COPY}, {'V', ID_EDIT_PASTE},
};

} // namespace

void RegisterResources()
{
    RegisterDialogTemplate(MakeDialogTemplate(IDD_ABOUTBOX, "VelofonPocket", kDialogFont, 9, 139, 25, kAboutItems));
    RegisterDialogTemplate(MakeDialogTemplate(IDD_VELOFONPOCKET_FORM, "", kDialogFont, 9, 213, 125, kFormItems));
    RegisterMenuResource(SMenuResource{IDR_MAINFRAME, kMainMenu, sizeof kMainMenu / sizeof kMainMenu[0]});
    RegisterAccelerators(IDR_MAINFRAME, kAccelerators, sizeof kAccelerators / sizeof kAccelerators[0]);
    RegisterString(IDR_MAINFRAME, "VelofonPocket\n\nVelofonPocket\n\n\nVelofonPocket.Document\nVelofonPocket Document");
    RegisterDialogResources();
    RegisterEmbeddedImages();
}
