// Conversion of the four layouts to 16-bit mono, and the zero fill of short reads.
#include "../WavBytes.h"
#include "EngineProbe.h"

#include <gtest/gtest.h>

namespace {

class ConversionTest : public ::testing::Test {
protected:
    // Opens a file of the given layout and converts up to nFrames of it.
    std::vector<int16_t> Convert(uint16_t nChannels, uint16_t nBlockAlign, const Bytes& abData, int32_t nFrames,
        int32_t* pConverted = nullptr)
    {
        m_pEngine->Close();
        EXPECT_TRUE(m_pEngine->Open(m_dir.Write("c.wav", MakeWav(nChannels, 8000, nBlockAlign, abData)), 1.0));
        std::vector<int16_t> as(static_cast<size_t>(nFrames), 0x5555);
        const int32_t nConverted = CSpeedEngineProbe::ReadSegment(*m_pEngine, as.data(), nFrames);
        if (pConverted)
            *pConverted = nConverted;
        return as;
    }

    CTempDir m_dir;
    std::unique_ptr<CSpeedEngine> m_pEngine = CSpeedEngineProbe::Make();
};

TEST_F(ConversionTest, LayoutIsChosenByChannelsAndBlockAlignment)
{
    struct { uint16_t nChannels, nBlockAlign; int32_t nKind; } aCases[] = {
        { 1, 1, FMT_MONO8 },
        { 1, 2, FMT_MONO16 },
        { 2, 2, FMT_STEREO8 },
        { 2, 4, FMT_STEREO16 },
    };
    EXPECT_EQ(CSpeedEngineProbe::FormatKind(*m_pEngine), FMT_MONO16) << "before the first Open";
    for (const auto& c : aCases) {
        Convert(c.nChannels, c.nBlockAlign, Bytes(16), 1);
        EXPECT_EQ(CSpeedEngineProbe::FormatKind(*m_pEngine), c.nKind);
    }
}

TEST_F(ConversionTest, Mono8IsCentredAndScaled)
{
    EXPECT_EQ(Convert(1, 1, { 0, 128, 255, 1 }, 4), std::vector<int16_t>({ -32768, 0, 32512, -32512 }));
}

TEST_F(ConversionTest, Mono16IsTakenAsItIs)
{
    const std::vector<int16_t> as = { -32768, -1, 0, 1, 32767 };
    EXPECT_EQ(Convert(1, 2, Samples16(as), 5), as);
}

TEST_F(ConversionTest, Stereo8HalvesTheSumTowardZero)
{
    EXPECT_EQ(Convert(2, 2, { 0, 0, 255, 255, 128, 127, 129, 128 }, 4),
        std::vector<int16_t>({ -32768, 32512, 0, 0 }));
}

TEST_F(ConversionTest, Stereo16HalvesEachChannelBeforeTheSum)
{
    EXPECT_EQ(Convert(2, 4, Samples16({ -3, -3, 32767, 32767, -32768, -32768, 3, -1 }), 4),
        std::vector<int16_t>({ -2, 32766, -32768, 1 }));
}

TEST_F(ConversionTest, ShortReadIsCompletedWithSilence)
{
    std::vector<int16_t> as(1000);
    for (size_t i = 0; i < as.size(); ++i)
        as[i] = static_cast<int16_t>(i + 1);
    int32_t nConverted = 0;
    const std::vector<int16_t> out = Convert(1, 2, Samples16(as), 3391, &nConverted);
    EXPECT_EQ(nConverted, 1000);
    EXPECT_TRUE(std::equal(as.begin(), as.end(), out.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + 1000, out.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(ConversionTest, IncompleteLastFrameIsNotConverted)
{
    int32_t nConverted = 0;
    EXPECT_EQ(Convert(1, 2, { 0x10, 0x20, 0x30 }, 3, &nConverted), std::vector<int16_t>({ 0x2010, 0, 0 }));
    EXPECT_EQ(nConverted, 1);
    EXPECT_EQ(Convert(2, 4, { 0, 1, 0, 1, 0, 1 }, 2, &nConverted), std::vector<int16_t>({ 256, 0 }));
    EXPECT_EQ(nConverted, 1);
    EXPECT_EQ(Convert(2, 2, { 200, 200, 7 }, 2, &nConverted), std::vector<int16_t>({ 72 * 256, 0 }));
    EXPECT_EQ(nConverted, 1);
}

TEST_F(ConversionTest, EndOfDataYieldsNothing)
{
    int32_t nConverted = -1;
    EXPECT_EQ(Convert(1, 1, Bytes(), 3, &nConverted), std::vector<int16_t>(3, 0));
    EXPECT_EQ(nConverted, 0);
}

} // namespace
