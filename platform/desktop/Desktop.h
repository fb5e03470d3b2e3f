// Services of the desktop session that the player needs outside its own
// windows: the single-instance lock that marks a running player, the other
// programs' top-level windows (to bring a running player to the front), the
// executable's path, opening a document with its default program, keeping
// the screen awake while sound plays, and the desktop's font resolution.
//
// The lock is a file, locked with flock for the life of the process; the
// player keeps it beside its settings file. Windows are reached through Xlib
// on a connection of this module's own; without a display, enumeration finds
// nothing and the rest do nothing. That connection follows $DISPLAY: it is reopened when the variable
// changes or the server went away. While one of these functions runs, X
// errors of that connection are caught (the program's handlers are restored
// afterwards). User-interface thread only.
#pragma once

#include <cstdint>
#include <string>

// A top-level window of any program on the X display.
using XWINDOW = unsigned long;

enum class EInstanceLock { Ours, HeldByAnother, Unavailable };
// Locks the file at strPath for the life of the process (the kernel drops the
// lock however the process ends), making it (mode 0600) and its folders
// (0700) when missing. Unavailable, with the system's error in nError, when
// it cannot be made or locked: a missing folder that cannot be made, a
// read-only one, a link, FIFO or folder in its place, another user's file.
EInstanceLock LockSingleInstance(const std::string& strPath, int& nError);

// Calls pfnVisit for every top-level window (the root window's children and,
// for window-manager frames, the client window inside them, in stacking
// order from the bottom) until it returns false. Returns false when there is
// no display. A root child is visited itself when it has WM_STATE, else its
// client (the first descendant with WM_STATE); a child without either counts
// only when it has a caption and is no override-redirect window (that is how
// windows look without a window manager), mapped or not.
bool EnumTopLevelWindows(bool (*pfnVisit)(XWINDOW hWnd, intptr_t lParam), intptr_t lParam);
// Copies at most nMaxChars - 1 characters of the window's caption
// (_NET_WM_NAME, else WM_NAME, as UTF-8) and a terminating zero into strText;
// returns the number of bytes copied. strText holds nMaxChars bytes: the copy
// also stays within nMaxChars - 1 bytes and never cuts a UTF-8 sequence, so
// a caption of other than ASCII yields fewer characters.
int GetTopLevelWindowText(XWINDOW hWnd, char* strText, int nMaxChars);
// Maps and raises the window (the platform's show command 1, "normal").
bool ShowTopLevelWindow(XWINDOW hWnd);
// Asks the window manager to activate the window (_NET_ACTIVE_WINDOW); gives
// it the input focus directly when no window manager runs.
bool SetForegroundTopLevelWindow(XWINDOW hWnd);

// The full path of the running executable (/proc/self/exe).
std::string GetModuleFileName();
// Opens a file or address with the desktop's default program (xdg-open,
// started without a shell, not waited for). False when it cannot be started.
bool ShellOpen(const std::string& strPathOrUrl);

// Counts as user activity for the screen saver (no-op without a display).
void KeepDisplayAwake();

// The desktop's font resolution in dots per inch (the X resource Xft.dpi,
// which desktops set to scale programs up on dense screens); 0 when it is not
// set or there is no display.
double GetXftDpi();

// Gives libX11 a folder for its compiled copy of the locale's compose table
// ($XDG_CACHE_HOME/VelofonPocket/compose, made 0700), unless XCOMPOSECACHE
// already names one. Without it, opening the display's input method parses
// the whole table (512 KB for the UTF-8 locales, some 10 ms) at every start.
// libX11 keeps no copy for root, so neither does this. Before the display
// opens and before any other thread starts: it sets a variable of the
// environment.
void UseComposeCache();
