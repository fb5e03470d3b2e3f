#include "Tables.h"

#include <array>
#include <cstddef>

namespace {

// Segments per second by row. These values were tuned by ear on recorded
// speech: more segments per second shorten each segment, which follows fast
// syllables better but makes the overlap audible as roughness; fewer make
// longer segments that smear or stutter. The dips (1.0 above 1.1, 3.7 below
// its neighbours) are part of that tuning and are kept as heard.
constexpr float kSegmentsPerSec[kSegmentRateRows] = {
    6, 8, 8, 8, 8, 80, 80, 30, 30, 30,                   // 0.0 - 0.9
    8, 6.5f, 6.6f, 6.7f, 6.8f, 7.5f, 7.9f, 8.1f, 9.4f, 10.3f, // 1.0 - 1.9
    10.5f, 11, 11, 11, 13, 13, 14, 16, 17, 17,           // 2.0 - 2.9
    18, 18, 19, 19, 20, 22, 22, 19, 20, 21,              // 3.0 - 3.9
    22, 24, 24, 25, 26, 27, 27, 27,                      // 4.0 - 4.7
    30, 30, 30, 30, 30, 30, 30, 30,                      // 4.8 - 5.5
    40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, // 5.6 - 7.7
    40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, // 7.8 - 9.9
    40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40,     // 10.0 - 12.0
};

constexpr std::array<SSegmentRate, kSegmentRateRows> MakeSegmentRates()
{
    std::array<SSegmentRate, kSegmentRateRows> aRows{};
    for (int nRow = 0; nRow < kSegmentRateRows; ++nRow)
        aRows[static_cast<size_t>(nRow)] = { static_cast<double>(static_cast<float>(nRow) / 10.0f), kSegmentsPerSec[nRow], 0 };
    return aRows;
}

} // namespace

static_assert(sizeof(SSegmentRate) == 16, "rows are 16 bytes");

const std::array<SSegmentRate, kSegmentRateRows> g_SegmentRates = MakeSegmentRates();

const int32_t g_SineTable[kSineTableSize] = {
#include "SineTable.inc"
};
