// Constant tables of the engine: segment rates per speed and the tone sine.
#pragma once

#include <array>
#include <cstdint>

// One row per tenth of speed, 0.0 to 12.0. The geometry reads only the
// segments per second; the row's own speed is kept for reference.
struct SSegmentRate {
    double dSpeed;           // the single-precision value of row / 10
    float fSegmentsPerSec;   // input segments per second at that speed
    uint32_t nReserved;      // always 0; keeps rows 16 bytes long
};

constexpr int kSegmentRateRows = 121;
extern const std::array<SSegmentRate, kSegmentRateRows> g_SegmentRates;

// 10000 x sin(i tenths of a degree), truncated toward zero, entry 2100 being -4999.
constexpr int kSineTableSize = 3600;
extern const int32_t g_SineTable[kSineTableSize];
