// The Alpha tones and the stereo output stage.
#include "EngineProbe.h"
#include "engine/Tables.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace {

struct SFrame {
    int16_t nLeft, nRight;
};

std::vector<SFrame> Stereo(CSpeedEngine& engine, const std::vector<int16_t>& asMono)
{
    std::vector<SFrame> frames(asMono.size());
    CSpeedEngineProbe::MakeStereo(engine, asMono.data(), frames.data(), static_cast<int32_t>(2 * asMono.size()));
    return frames;
}

TEST(SineTable, HoldsTruncatedTenthsOfADegree)
{
    const std::pair<int, int> aTelling[] = { { 0, 0 }, { 1, 17 }, { 2, 34 }, { 11, 191 }, { 300, 5000 }, { 450, 7071 },
        { 900, 10000 }, { 1500, 5000 }, { 1800, 0 }, { 1801, -17 }, { 2100, -4999 }, { 2700, -10000 },
        { 3300, -5000 }, { 3599, -17 } };
    for (auto [nIndex, nValue] : aTelling)
        EXPECT_EQ(g_SineTable[nIndex], nValue) << "entry " << nIndex;
    // Everywhere else: the exact value truncated toward zero.
    for (int i = 0; i < kSineTableSize; ++i) {
        if (std::any_of(std::begin(aTelling), std::end(aTelling), [i](auto entry) { return entry.first == i; }))
            continue;
        const long double dExact = 10000.0L * std::sin(i * 3.14159265358979323846264338L / 1800);
        EXPECT_EQ(g_SineTable[i], static_cast<int32_t>(dExact)) << "entry " << i;
    }
}

TEST(AlphaTone, PeriodsFollowTheSampleRate)
{
    auto pEngine = CSpeedEngineProbe::Make();
    struct { int32_t nRate, nRight, nLeft; } aCases[] = {
        { 11025, 75, 71 }, { 22050, 151, 142 }, { 44100, 303, 285 }, { 48000, 330, 310 } };
    for (const auto& c : aCases) {
        CSpeedEngineProbe::SetSampleRateForTones(*pEngine, c.nRate);
        EXPECT_EQ(static_cast<int>(CSpeedEngineProbe::LowPeriod(*pEngine)), c.nRight) << c.nRate;
        EXPECT_EQ(static_cast<int>(CSpeedEngineProbe::HighPeriod(*pEngine)), c.nLeft) << c.nRate;
    }
}

TEST(AlphaTone, ToneValuesAtMax)
{
    auto pEngine = CSpeedEngineProbe::Make();
    pEngine->m_nAlphaLevel = 50;
    CSpeedEngineProbe::SetSampleRateForTones(*pEngine, 22050);
    const int16_t anLeft[] = { 0, 54, 106, 153, 193, 223, 242, 249 };
    for (int i = 0; i < 8; ++i) {
        int16_t nRight = 0, nLeft = 0;
        CSpeedEngineProbe::AlphaTonePair(*pEngine, 5 * i, nRight, nLeft);
        EXPECT_EQ(nLeft, anLeft[i]) << "frame " << 5 * i;
    }
}

TEST(AlphaTone, MaxWithoutSpeechIsTwoPureTones)
{
    auto pEngine = CSpeedEngineProbe::Make();
    pEngine->m_nAlphaLevel = 50;
    CSpeedEngineProbe::SetSampleRateForTones(*pEngine, 22050);
    const std::vector<SFrame> frames = Stereo(*pEngine, std::vector<int16_t>(151 * 142 + 7, 0));
    int nPeakLeft = 0, nPeakRight = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
        nPeakLeft = std::max(nPeakLeft, std::abs(frames[k].nLeft));
        nPeakRight = std::max(nPeakRight, std::abs(frames[k].nRight));
        if (k >= 142) {
            ASSERT_EQ(frames[k].nLeft, frames[k - 142].nLeft) << k;
        }
        if (k >= 151) {
            ASSERT_EQ(frames[k].nRight, frames[k - 151].nRight) << k;
        }
    }
    // The crest of 250 falls between two whole samples at both periods.
    EXPECT_EQ(nPeakLeft, 249);
    EXPECT_EQ(nPeakRight, 249);
    EXPECT_EQ(CSpeedEngineProbe::ToneFrame(*pEngine), static_cast<int32_t>(frames.size()));
}

TEST(AlphaTone, OffCopiesMonoToBothChannelsAndHoldsThePhase)
{
    auto pEngine = CSpeedEngineProbe::Make();
    pEngine->m_bAlpha = 0;
    CSpeedEngineProbe::ToneFrame(*pEngine) = 77;
    const std::vector<SFrame> frames = Stereo(*pEngine, { -32768, 5, 32767 });
    EXPECT_EQ(frames[0].nLeft, -32768);
    EXPECT_EQ(frames[0].nRight, -32768);
    EXPECT_EQ(frames[2].nLeft, 32767);
    EXPECT_EQ(frames[2].nRight, 32767);
    EXPECT_EQ(CSpeedEngineProbe::ToneFrame(*pEngine), 77);
}

TEST(AlphaTone, SumsSaturateAndTheLevelAppliesFromTheNextBuffer)
{
    auto pEngine = CSpeedEngineProbe::Make();
    pEngine->m_nAlphaLevel = 50;
    CSpeedEngineProbe::SetSampleRateForTones(*pEngine, 22050);
    // Frame 35 is the left tone's peak of 249; 36 at the right period of 151 is 250 x sin(85.8 deg).
    CSpeedEngineProbe::ToneFrame(*pEngine) = 35;
    std::vector<SFrame> frames = Stereo(*pEngine, { 32767 });
    EXPECT_EQ(frames[0].nLeft, 32767) << "held at the limit, not wrapped to the negative";
    CSpeedEngineProbe::ToneFrame(*pEngine) = 35;
    frames = Stereo(*pEngine, { -32768 + 100 });
    EXPECT_EQ(frames[0].nLeft, -32768 + 100 + 249) << "sums inside the range are exact";
    pEngine->m_nAlphaLevel = 5;
    frames = Stereo(*pEngine, { 0 });
    int16_t nRight = 0, nLeft = 0;
    CSpeedEngineProbe::AlphaTonePair(*pEngine, 36, nRight, nLeft);
    EXPECT_EQ(frames[0].nLeft, nLeft);
    EXPECT_EQ(frames[0].nRight, nRight);
    EXPECT_LE(std::abs(nLeft), 25);
}

TEST(AlphaTone, FrameCounterWrapsToZeroAtItsMaximum)
{
    auto pEngine = CSpeedEngineProbe::Make();
    pEngine->m_nAlphaLevel = 50;
    CSpeedEngineProbe::SetSampleRateForTones(*pEngine, 44100);
    CSpeedEngineProbe::ToneFrame(*pEngine) = INT32_MAX - 1;
    const std::vector<SFrame> frames = Stereo(*pEngine, std::vector<int16_t>(4, 0));
    int16_t nRight = 0, nLeft = 0;
    CSpeedEngineProbe::AlphaTonePair(*pEngine, INT32_MAX, nRight, nLeft);
    EXPECT_EQ(frames[1].nLeft, nLeft);
    EXPECT_EQ(frames[1].nRight, nRight);
    for (int k = 0; k < 2; ++k) {
        CSpeedEngineProbe::AlphaTonePair(*pEngine, k, nRight, nLeft);
        EXPECT_EQ(frames[2 + k].nLeft, nLeft) << "frame " << k << " after the wrap";
        EXPECT_EQ(frames[2 + k].nRight, nRight);
    }
    EXPECT_EQ(CSpeedEngineProbe::ToneFrame(*pEngine), 2);
}

} // namespace
