#include "FocusMark.h"

#include "FormColors.h"
#include "Scale.h"

#include <FL/fl_draw.H>

void DrawFocusMark(int x, int y, int w, int h)
{
    const int nWidth = Scaled(1);
    fl_color(kTextColor);
    fl_line_style(FL_DASH, nWidth);
    // A wide line is centred on the path: kept inside the rectangle.
    const int nHalf = nWidth / 2;
    fl_rect(x + nHalf, y + nHalf, w - 2 * nHalf, h - 2 * nHalf);
    fl_line_style(FL_SOLID);
}
