// The program's message boxes: plain modal FLTK windows with the program's
// name as title, the text wrapped to a readable width (also Japanese text,
// which has no spaces to break at) and "はい"/"いいえ" or OK. Return answers
// the default button (はい, OK), Escape and the close box いいえ or OK.
// While a box is open the toolkit keeps serving events, and with them the
// program's queue. User-interface thread only.
#pragma once

#include <string>

class Fl_Widget;
class Fl_Window;

// True for "はい". The box stands centred over pOwner (the screen when null).
bool AskYesNo(Fl_Window* pOwner, const std::string& strText);
void ShowMessage(Fl_Window* pOwner, const std::string& strText);

// The callback that closes the window a widget stands in (or the window itself).
void CloseWindowOf(Fl_Widget* pWidget, void* = nullptr);

// Shows the window modal, centred over pOwner (the screen when null), and
// serves events until it is hidden.
void RunModal(Fl_Window& window, Fl_Window* pOwner);

// The text broken into lines no wider than nWidth pixels in the current
// font: at spaces where a line has them, else between any two characters,
// never before a closing mark such as "。" or "」".
std::string WrapText(const std::string& strText, int nWidth);
