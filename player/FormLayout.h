// Where the player form puts its controls and its background picture in a
// client area of a given size: the 320 x 188 landscape layout, centred.
// Offsets truncate toward zero, so a width of 319 or 321 both give 0.
#pragma once

#include <array>

struct SControlPlace {
    int nID;
    int x, y, nWidth, nHeight;
};

constexpr int kBackWidth = 320;
constexpr int kBackHeight = 188;

// The origin of the layout (and of the background picture) in the client.
int LayoutOriginX(int nClientWidth);
int LayoutOriginY(int nClientHeight);
// The eleven controls, at the layout's offsets from the origin.
std::array<SControlPlace, 11> LandscapeLayout(int nClientWidth, int nClientHeight);
// Whether the paint fills the client with the form colour before the picture.
bool NeedsBackgroundFill(int nClientWidth, int nClientHeight);
