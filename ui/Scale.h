// The window half's scale factor for high-density screens. FLTK 1.3 does
// not scale by itself, so every pixel size the windows use (layout, fonts,
// scroll bars, bitmaps) goes through Scaled(). The factor is set once at
// start, before any window is made; it is 1 until then.
#pragma once

// A factor from text (VELOFON_SCALE, or Xft.dpi / 96): rounded to a quarter
// and kept within 1 to 4; 1 for anything that is not a number.
double ParseScaleFactor(const char* strValue);

void SetUiScale(double dFactor);
double UiScale();
// A length in pixels at factor 1, at the current factor (rounded).
int Scaled(int nPixels);
