// Pictures of windows for the GUI tests: the pixels of an X window, and a
// PNG file of them for people to look at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SPicture {
    int nWidth = 0;
    int nHeight = 0;
    std::vector<uint8_t> abRgb; // 3 bytes per pixel, rows top to bottom

    uint32_t Pixel(int x, int y) const; // 0xRRGGBB
    // The colour that most pixels have, leaving out the rectangle given.
    uint32_t DominantColor(int nSkipX = 0, int nSkipY = 0, int nSkipWidth = 0, int nSkipHeight = 0) const;
};

// The window's pixels as they are on the screen; empty when it cannot be read.
SPicture CaptureWindow(unsigned long hWindow);
// Writes an 8-bit RGB PNG, each pixel nScale x nScale; false on failure.
bool WritePng(const std::string& strPath, const SPicture& picture, int nScale = 1);
