// ヘルプ: the help page, help.html, which stands beside the executable.
#pragma once

#include <string>

class Fl_Window;

// The page beside the executable at strExecutable; "help.html" alone when
// the executable is not named VelofonPocket.
std::string HelpPagePath(const std::string& strExecutable);

// Opens the page in the desktop's browser; when it is missing or cannot be
// opened, a box over pOwner says where it belongs.
void OpenHelpPage(Fl_Window* pOwner);
