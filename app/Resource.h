// Resource and command ids of the program: dialog templates, controls,
// menus, bitmaps and strings.
#pragma once

// Dialog templates.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_VELOFONPOCKET_FORM = 101;
constexpr int IDD_FILE_BROWSER = 130;
constexpr int IDD_SETTING = 132;

// Icon, menu, accelerators and document-template string share this id.
constexpr int IDR_MAINFRAME = 128;
constexpr int IDI_ICON_LARGE = 160; // the icon's large image, for the desktop

// Bitmaps.
constexpr unsigned IDB_SELECT_ALL = 132;
constexpr unsigned IDB_SELECT_ALL_PRESSED = 133;
constexpr unsigned IDB_SELECT_ALL_DISABLED = 134;
constexpr unsigned IDB_BACK_PORTRAIT = 135;
constexpr unsigned IDB_BACK = 136;
constexpr unsigned IDB_SPEED_DOWN = 137;
constexpr unsigned IDB_SPEED_DOWN_PRESSED = 138;
constexpr unsigned IDB_SPEED_DOWN_DISABLED = 139;
constexpr unsigned IDB_PAUSE = 140;
constexpr unsigned IDB_PAUSE_PRESSED = 141;
constexpr unsigned IDB_PAUSE_DISABLED = 142;
constexpr unsigned IDB_PLAY = 143;
constexpr unsigned IDB_PLAY_PRESSED = 144;
constexpr unsigned IDB_PLAY_DISABLED = 145;
constexpr unsigned IDB_STOP = 146;
constexpr unsigned IDB_STOP_PRESSED = 147;
constexpr unsigned IDB_STOP_DISABLED = 148;
constexpr unsigned IDB_SPEED_UP = 149;
constexpr unsigned IDB_SPEED_UP_PRESSED = 150;
constexpr unsigned IDB_SPEED_UP_DISABLED = 151;

// Controls of the player form.
constexpr int IDC_PLAYLIST = 1000;
constexpr int IDC_SELECT_ALL = 1001;
constexpr int IDC_PROGRESS = 1002;
constexpr int IDC_PLAY = 1003;
constexpr int IDC_STOP = 1004;
constexpr int IDC_SPEED_DOWN = 1005;
constexpr int IDC_SPEED_UP = 1006;
constexpr int IDC_FILE_NAME = 1007;
constexpr int IDC_TIME = 1008;
constexpr int IDC_SPEED = 1009;
constexpr int IDC_PAUSE = 1010;

// Menu commands.
constexpr unsigned ID_APP_ABOUT = 57664;
constexpr unsigned ID_FILE_NEW = 57600;
constexpr unsigned ID_FILE_OPEN = 57601;
constexpr unsigned ID_FILE_SAVE = 57603;
constexpr unsigned ID_APP_EXIT = 57665;
constexpr unsigned ID_EDIT_UNDO = 57643;
constexpr unsigned ID_EDIT_CUT = 57635;
constexpr unsigned ID_EDIT_COPY = 57634;
constexpr unsigned ID_EDIT_PASTE = 57637;

constexpr unsigned ID_ALPHA_MAX = 32780; // to 32790, OFF
constexpr unsigned ID_ALPHA_OFF = 32790;
constexpr unsigned ID_MIXING_MAX = 32797; // to 32807, OFF
constexpr unsigned ID_MIXING_OFF = 32807;
constexpr unsigned ID_REPEAT_ALL = 32811;
constexpr unsigned ID_REPEAT_ONE = 32812;
constexpr unsigned ID_REPEAT_NONE = 32813;
constexpr unsigned ID_HELP_PAGE = 32775;
constexpr unsigned ID_LIST_ADD = 32817;
constexpr unsigned ID_LIST_DELETE = 32818;
constexpr unsigned ID_EXIT = 32820;
constexpr unsigned ID_SETTING = 32821;

// The window message that shows "duplicate".
constexpr unsigned WM_DUPLICATE = 501;

// Registers every resource above with the platform layer.
void RegisterResources();
