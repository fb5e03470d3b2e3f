// The ids of the pictures built into the executable: the form's background,
// each button's three states (normal, pressed, disabled) and the icon.
#pragma once

// The program's icon: 48 x 48 for the about box, 256 x 256 for the desktop.
constexpr unsigned IDI_ICON = 128;
constexpr unsigned IDI_ICON_LARGE = 160;

constexpr unsigned IDB_SELECT_ALL = 132;
constexpr unsigned IDB_SELECT_ALL_PRESSED = 133;
constexpr unsigned IDB_SELECT_ALL_DISABLED = 134;
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
