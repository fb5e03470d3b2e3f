// The mark of the part that has the keys: a dashed frame one pixel wide at
// factor 1 and as wide as the scale makes a pixel above, so that it shows at
// every factor (the toolkit's own is a faint dotted line of one pixel).
#pragma once

void DrawFocusMark(int x, int y, int w, int h);
