// The time-stretch processor: geometry, fades, the mixer and the fill.
#include "../WavBytes.h"
#include "EngineProbe.h"
#include "ReferenceRender.h"

#include <gtest/gtest.h>
#include <random>

namespace {

class ProcessorTest : public ::testing::Test {
protected:
    // Opens mono 16-bit samples at a rate and speed, with gain and no tones.
    void OpenMono(const std::vector<int16_t>& as, int32_t nRate, double dSpeed, int32_t nGain = 10)
    {
        m_pEngine->Close();
        m_pEngine->m_nMixingGain = nGain;
        m_pEngine->m_bAlpha = 0;
        ASSERT_TRUE(m_pEngine->Open(m_dir.Write("p.wav", MakeWav(1, static_cast<uint32_t>(nRate), 2, Samples16(as))), dSpeed));
        m_pEngine->Seek(0);
    }

    // The mono samples (left channel) of every Fill of 30000 bytes until 0.
    std::vector<int16_t> FillAll(std::vector<uint32_t>* pSizes = nullptr)
    {
        std::vector<int16_t> asOut;
        std::vector<int16_t> asBuffer(15000);
        for (uint32_t n; (n = m_pEngine->Fill(asBuffer.data(), 30000)) > 0;) {
            if (pSizes)
                pSizes->push_back(n);
            for (uint32_t i = 0; i < n / 4; ++i)
                asOut.push_back(asBuffer[2 * i]);
        }
        return asOut;
    }

    CTempDir m_dir;
    std::unique_ptr<CSpeedEngine> m_pEngine = CSpeedEngineProbe::Make();
};

TEST(Geometry, FollowsTheRateTable)
{
    struct { int32_t nRate; int nIndex; int32_t nHop, nSegLen; } aCases[] = {
        { 22050, 0, 2756, 2756 }, { 22050, 1, 3083, 3391 }, { 22050, 10, 1050, 2100 }, { 22050, 30, 250, 1000 },
        { 44100, 0, 5512, 5512 }, { 44100, 10, 2100, 4200 }, { 44100, 30, 501, 2004 },
        { 22050, 20, 408, 1224 }, { 22050, 26, 278, 1000 }, { 22050, 27, 313, 1158 },
    };
    for (const auto& c : aCases) {
        int32_t nHop = 0, nSegLen = 0;
        ASSERT_TRUE(CSpeedEngineProbe::Geometry(c.nRate, SpeedOfIndex(c.nIndex), nHop, nSegLen));
        EXPECT_EQ(nHop, c.nHop) << c.nRate << " Hz, index " << c.nIndex;
        EXPECT_EQ(nSegLen, c.nSegLen) << c.nRate << " Hz, index " << c.nIndex;
    }
}

TEST(Geometry, RefusesWhatDoesNotFitTheBuffers)
{
    int32_t nHop = 0, nSegLen = 0;
    EXPECT_TRUE(CSpeedEngineProbe::Geometry(155, 1.0, nHop, nSegLen));
    EXPECT_FALSE(CSpeedEngineProbe::Geometry(154, 1.0, nHop, nSegLen)) << "a tone period would be 0";
    EXPECT_TRUE(CSpeedEngineProbe::Geometry(88200, 1.0, nHop, nSegLen)) << "four hops of 11025 fill the track";
    EXPECT_FALSE(CSpeedEngineProbe::Geometry(88208, 1.0, nHop, nSegLen));
    EXPECT_FALSE(CSpeedEngineProbe::Geometry(96000, 1.0, nHop, nSegLen));
    EXPECT_TRUE(CSpeedEngineProbe::Geometry(96000, 1.5, nHop, nSegLen));
    EXPECT_TRUE(CSpeedEngineProbe::Geometry(485143, 4.0, nHop, nSegLen));
    EXPECT_EQ(nSegLen, 22048);
    EXPECT_FALSE(CSpeedEngineProbe::Geometry(485144, 4.0, nHop, nSegLen)) << "segment of 22052";
    for (double dSpeed : { 0.0, -1.0, 12.1, std::nan("") })
        EXPECT_FALSE(CSpeedEngineProbe::Geometry(22050, dSpeed, nHop, nSegLen)) << dSpeed;
}

TEST(Fades, TenSamplesAtDoubleSpeed)
{
    auto pEngine = CSpeedEngineProbe::Make();
    std::vector<int16_t> as(10, 10000);
    CSpeedEngineProbe::ApplyFades(*pEngine, as.data(), 10, 5);
    EXPECT_EQ(as, std::vector<int16_t>({ 0, 2000, 4000, 6000, 8000, 8000, 6000, 4000, 2000, 0 }));
}

TEST(Fades, OverlappingRampsApplyInTheirOrder)
{
    auto pEngine = CSpeedEngineProbe::Make();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    for (int32_t nLength : { 1, 2, 9, 10, 11, 1224, 1225, 2004 }) {
        for (int32_t nFade : { 0, 1, nLength / 3, nLength / 2, nLength / 2 + 1, 2 * nLength / 3, nLength - 1, nLength }) {
            if (nFade < 0 || nFade > nLength)
                continue;
            std::vector<int16_t> as(static_cast<size_t>(nLength));
            for (int16_t& s : as)
                s = static_cast<int16_t>(sample(random));
            std::vector<int16_t> asExpected = as;
            for (int32_t i = 0; i < nFade; ++i) {
                const int32_t g = 100 * i / nFade;
                asExpected[i] = static_cast<int16_t>(asExpected[i] * g / 100);
                asExpected[nLength - 1 - i] = static_cast<int16_t>(asExpected[nLength - 1 - i] * g / 100);
            }
            CSpeedEngineProbe::ApplyFades(*pEngine, as.data(), nLength, nFade);
            ASSERT_EQ(as, asExpected) << "length " << nLength << ", fade " << nFade;
        }
    }
}

TEST_F(ProcessorTest, UnitSpeedAndGainGiveTheInputBack)
{
    std::vector<int16_t> as(10000);
    for (size_t i = 0; i < as.size(); ++i)
        as[i] = static_cast<int16_t>(i * 37 - 20000);
    OpenMono(as, 22050, 1.0);
    const std::vector<int16_t> asOut = FillAll();
    ASSERT_EQ(asOut.size(), 4u * 2756u) << "whole segments of 2756";
    EXPECT_TRUE(std::equal(as.begin(), as.end(), asOut.begin()));
    EXPECT_TRUE(std::all_of(asOut.begin() + 10000, asOut.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(ProcessorTest, MixingGainScalesInTenthsAndSaturates)
{
    OpenMono(std::vector<int16_t>(3000, 20000), 22050, 1.0, 20);
    EXPECT_EQ(FillAll()[5], 32767) << "40000 held at the limit";
    OpenMono(std::vector<int16_t>(3000, -20000), 22050, 1.0, 20);
    EXPECT_EQ(FillAll()[5], -32768) << "-40000 held at the limit";
    OpenMono(std::vector<int16_t>(3000, -7), 22050, 1.0, 15);
    EXPECT_EQ(FillAll()[5], -10) << "-10.5 truncated toward zero";
    OpenMono(std::vector<int16_t>(3000, 20000), 22050, 2.0, 0);
    const std::vector<int16_t> asOff = FillAll();
    EXPECT_FALSE(asOff.empty());
    EXPECT_TRUE(std::all_of(asOff.begin(), asOff.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(ProcessorTest, BuffersHoldWholeHopsBelowTheLimit)
{
    struct { int32_t nRate; double dSpeed; uint32_t nBytes; } aCases[] = {
        { 22050, 1.0, 22048 }, { 22050, 2.0, 29400 }, { 44100, 1.0, 22048 }, { 44100, 2.0, 25200 },
        { 48000, 1.0, 24000 },
    };
    for (const auto& c : aCases) {
        OpenMono(std::vector<int16_t>(200000, 1), c.nRate, c.dSpeed);
        std::vector<uint32_t> anSizes;
        FillAll(&anSizes);
        ASSERT_GE(anSizes.size(), 2u);
        EXPECT_EQ(anSizes[0], c.nBytes) << c.nRate << " Hz at " << c.dSpeed;
    }
}

TEST_F(ProcessorTest, FirstFillLaysFourSegments)
{
    OpenMono(std::vector<int16_t>(50000, 1), 22050, 2.0);
    std::vector<int16_t> asBuffer(15000);
    EXPECT_EQ(m_pEngine->Fill(asBuffer.data(), 8400), 4200u) << "room for one hop only";
    const int32_t* pEnds = CSpeedEngineProbe::TrackEnds(*m_pEngine);
    // One hop mixed: segments of 2100 laid 0, 1, 2 and 3 hops ahead, aged by one hop.
    EXPECT_EQ(pEnds[0], 2099 - 1050);
    EXPECT_EQ(pEnds[1], 1050 + 2099 - 1050);
    EXPECT_EQ(pEnds[2], 2100 + 2099 - 1050);
    EXPECT_EQ(pEnds[3], 3150 + 2099 - 1050);
}

TEST_F(ProcessorTest, EndOfInputDrainsTheTracks)
{
    OpenMono(std::vector<int16_t>(500, 9000), 22050, 2.0);
    const std::vector<int16_t> asOut = FillAll();
    EXPECT_EQ(asOut.size(), 2100u) << "one zero-filled segment laid over two hops";
    EXPECT_EQ(asOut[0], 0);
    EXPECT_EQ(asOut[499], 9000 * (100 * 499 / 1050) / 100);
    EXPECT_TRUE(m_pEngine->m_bEndOfInput);
    std::vector<int16_t> asBuffer(15000);
    EXPECT_EQ(m_pEngine->Fill(asBuffer.data(), 30000), 0u) << "ended stays ended";

    OpenMono({}, 22050, 2.0);
    EXPECT_EQ(m_pEngine->Fill(asBuffer.data(), 30000), 0u);
    EXPECT_TRUE(m_pEngine->m_bEndOfInput);
}

TEST_F(ProcessorTest, HopTooLargeForTheBufferGivesNothing)
{
    // A hop of 6000 samples at 48 kHz and 1.0x is 12000 bytes of mono.
    OpenMono(std::vector<int16_t>(100000, 1), 48000, 1.0);
    std::vector<int16_t> asBuffer(30000);
    EXPECT_EQ(m_pEngine->Fill(asBuffer.data(), 24000), 0u);
    EXPECT_FALSE(m_pEngine->m_bEndOfInput) << "nothing was read";
    EXPECT_GT(m_pEngine->Fill(asBuffer.data(), 30000), 0u) << "a larger buffer takes the hop";
}

TEST_F(ProcessorTest, FillWithoutAFileReturnsNothing)
{
    std::vector<int16_t> asBuffer(15000);
    EXPECT_EQ(m_pEngine->Fill(asBuffer.data(), 30000), 0u);
}

// Random files in every layout, rate, speed, gain and tone level against the
// naive implementation.
TEST(Processor, MatchesTheReferenceByteForByte)
{
    CTempDir dir;
    std::mt19937 random(20261207);
    // The rates the engine reads itself; higher ones are resampled by FFmpeg.
    const uint32_t anRates[] = { 155, 8000, 11025, 16000, 22050, 32000, 44100, 47999, 48000 };
    const struct { uint16_t nChannels, nBlockAlign; } aLayouts[] = { { 1, 1 }, { 1, 2 }, { 2, 2 }, { 2, 4 } };
    auto pEngine = CSpeedEngineProbe::Make();
    CReferenceRender reference;
    for (int nCase = 0; nCase < 80; ++nCase) {
        const auto layout = aLayouts[random() % 4];
        const uint32_t nRate = anRates[random() % std::size(anRates)];
        Bytes abData(random() % 120000 + (random() % 3 == 0 ? 1 : 0));
        // Speech-like: a loud wandering signal, sometimes clipping.
        int nValue = 0;
        for (uint8_t& b : abData) {
            nValue += static_cast<int>(random() % 61) - 30;
            b = static_cast<uint8_t>(nValue + static_cast<int>(random() % 9));
        }
        Bytes wav = MakeWav(layout.nChannels, nRate, layout.nBlockAlign, abData);
        if (random() % 4 == 0) {
            Append(wav, "LIST");
            AppendU32(wav, 300);
            wav.resize(wav.size() + 300, 0x7F);
        }
        SReferenceSettings settings;
        settings.dSpeed = SpeedOfIndex(static_cast<int>(random() % 31));
        settings.nMixingGain = static_cast<int>(random() % 21);
        settings.nAlphaLevel = static_cast<int>(random() % 11) * 5;
        settings.bAlpha = settings.nAlphaLevel != 0;
        pEngine->m_nMixingGain = settings.nMixingGain;
        pEngine->m_nAlphaLevel = settings.nAlphaLevel;
        pEngine->m_bAlpha = settings.bAlpha;

        const std::string strPath = dir.Write("r.wav", wav);
        ASSERT_TRUE(pEngine->Open(strPath, settings.dSpeed)) << "case " << nCase;
        pEngine->Seek(0);
        Bytes abOut;
        Bytes abBuffer(30000);
        for (uint32_t n; (n = pEngine->Fill(abBuffer.data(), 30000)) > 0;)
            abOut.insert(abOut.end(), abBuffer.begin(), abBuffer.begin() + n);
        pEngine->Close();
        const Bytes abExpected = reference.Render(wav, settings);
        ASSERT_EQ(abOut.size(), abExpected.size()) << "case " << nCase;
        ASSERT_TRUE(abOut == abExpected) << "case " << nCase << ": " << nRate << " Hz, " << layout.nChannels
                                         << " ch, align " << layout.nBlockAlign << ", speed " << settings.dSpeed;
        ASSERT_EQ(CSpeedEngineProbe::ToneFrame(*pEngine), reference.nToneFrame) << "the tone runs on across files";
    }
}

} // namespace
