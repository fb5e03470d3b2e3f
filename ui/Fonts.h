// Fonts by face name. The program names the faces of its handheld origin
// ("ＭＳ Ｐゴシック", "MSゴシック"); they map to installed fonts that have
// Japanese glyphs, found through fontconfig, and every widget, menu, list
// and message box uses them. User-interface thread only, but for
// FindJapaneseFonts.
#pragma once

#include <string>

// The faces the program names: the proportional one of its lists, menus
// and boxes, and the fixed-pitch one of the form's labels.
extern const char kProportionalFace[];
extern const char kFixedFace[];

// Finds the Japanese fonts and makes them the toolkit's defaults, message
// boxes at the scaled normal size (SetUiScale comes first). False when no
// installed font covers Japanese text (labels would show empty boxes).
bool InitJapaneseFonts();
// Searches for the fonts once, on any thread: ahead of InitJapaneseFonts,
// which then waits for the search under way.
void FindJapaneseFonts();
// The family that stands for a face name, as fontconfig matched it.
std::string FontFamilyForFace(const std::string& strFaceName);
// The toolkit font number of a face name.
int ToolkitFontForFace(const std::string& strFaceName);
// Tenths of a point to pixels on a 96-dpi screen, rounded, at the scale factor.
int PixelsForTenthsOfPoint(int nTenths);
