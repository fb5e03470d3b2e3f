// The about box of バージョン: the program's icon, its name and version on
// one line, and OK. Modal over the main window; Return, Escape and the
// close box close it as OK does.
#pragma once

class Fl_Window;

void ShowAboutBox(Fl_Window* pOwner);
