// The colours of the player's form. Painted controls fill their rectangles
// with the form colour, the dominant colour of the background picture, so
// that they sit on it without seams.
#pragma once

#include <FL/Enumerations.H>

// FLTK colours as 0xRRGGBB00.
constexpr Fl_Color kFormColor = 0xA5958400;          // RGB(165, 149, 132)
constexpr Fl_Color kProgressTrackColor = 0x00000000; // black
constexpr Fl_Color kProgressBarColor = 0x6464FF00;   // RGB(100, 100, 255)
// The chapters' marks: seen on the black track and on the blue bar.
constexpr Fl_Color kProgressTickColor = 0xE0E0E000;
constexpr Fl_Color kTextColor = 0x00000000;
// The hint of an empty playlist: quieter than its entries.
constexpr Fl_Color kHintColor = 0x80808000;
