// The engine's operations as the player calls them.
#include "../WavBytes.h"
#include "EngineProbe.h"
#include "ReferenceRender.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class EngineTest : public ::testing::Test {
protected:
    std::string Mono16(const std::string& strName, uint32_t nRate, size_t nSamples)
    {
        std::vector<int16_t> as(nSamples);
        for (size_t i = 0; i < nSamples; ++i)
            as[i] = static_cast<int16_t>((i * 131) % 20000);
        return m_dir.Write(strName, MakeWav(1, nRate, 2, Samples16(as)));
    }

    Bytes RenderAll()
    {
        Bytes abOut;
        Bytes abBuffer(30000);
        for (uint32_t n; (n = m_pEngine->Fill(abBuffer.data(), 30000)) > 0;)
            abOut.insert(abOut.end(), abBuffer.begin(), abBuffer.begin() + n);
        return abOut;
    }

    CTempDir m_dir;
    std::unique_ptr<CSpeedEngine> m_pEngine = CSpeedEngineProbe::Make();
};

TEST_F(EngineTest, InitialState)
{
    EXPECT_EQ(CSpeedEngineProbe::Speed(*m_pEngine), 2.0);
    EXPECT_EQ(CSpeedEngineProbe::SampleRate(*m_pEngine), 22050);
    EXPECT_EQ(m_pEngine->m_nMixingGain, 15);
    EXPECT_EQ(m_pEngine->m_bAlpha, 1);
    EXPECT_EQ(m_pEngine->m_nAlphaLevel, 5);
    EXPECT_EQ(m_pEngine->GetFormat(), nullptr);
    EXPECT_EQ(m_pEngine->GetLengthSec(), 0u);
    EXPECT_FALSE(m_pEngine->Close());
}

TEST_F(EngineTest, SpeedIndexEndsAreExact)
{
    EXPECT_EQ(SpeedOfIndex(0), 1.0);
    EXPECT_EQ(SpeedOfIndex(30), 4.0);
    for (int k = 0; k <= 30; ++k)
        EXPECT_EQ(static_cast<int>(SpeedOfIndex(k) * 10), k + 10) << "index " << k << " reads its own row";
}

TEST_F(EngineTest, FailedOpenLeavesTheEngineAsItWas)
{
    ASSERT_TRUE(m_pEngine->Open(Mono16("a.wav", 11025, 100), 3.0));
    m_pEngine->Close();
    EXPECT_FALSE(m_pEngine->Open(m_dir.Path() + "/missing.wav", 1.0));
    EXPECT_EQ(m_pEngine->GetOpenError(), EOpenError::CannotOpen);
    EXPECT_EQ(CSpeedEngineProbe::Speed(*m_pEngine), 3.0);
    EXPECT_EQ(CSpeedEngineProbe::SampleRate(*m_pEngine), 11025);
    EXPECT_EQ(m_pEngine->GetFormat()->nSamplesPerSec, 11025u);
    EXPECT_EQ(m_pEngine->GetHop(), 204);
}

TEST_F(EngineTest, SecondOpenFailsAndTheFirstFilePlaysOn)
{
    ASSERT_TRUE(m_pEngine->Open(Mono16("a.wav", 22050, 30000), 2.0));
    EXPECT_FALSE(m_pEngine->Open(Mono16("b.wav", 44100, 100), 1.0));
    EXPECT_EQ(m_pEngine->GetOpenError(), EOpenError::AlreadyOpen);
    EXPECT_EQ(m_pEngine->GetHop(), 1050);
    // 15 segments of 2100 laid a hop apart; the last drains over two more hops.
    EXPECT_EQ(RenderAll().size(), 4u * 1050 * 16);
}

// The road is the file's alone, whatever the speed: WAVs the engine cannot
// read itself are decoded by FFmpeg (above 48 kHz resampled to 48 kHz), and
// below 155 Hz no road plays.
TEST_F(EngineTest, WavsOutsideItsOwnFormatAreDecodedAtEverySpeed)
{
    const Bytes data(4000, 0x40);
    struct { const char* strName; Bytes abFile; uint32_t nRate; } aCases[] = {
        { "24-bit mono", MakeWav(1, 22050, 3, data), 22050 },
        { "three channels", MakeWav(3, 22050, 6, data), 22050 },
        { "96000 Hz", MakeWav(2, 96000, 4, data), 48000 },
        { "48000 Hz", MakeWav(2, 48000, 4, data), 48000 },
    };
    for (const auto& c : aCases) {
        for (double dSpeed : { 1.0, 1.7, 4.0 }) {
            ASSERT_TRUE(m_pEngine->Open(m_dir.Write("x.wav", c.abFile), dSpeed)) << c.strName << " at " << dSpeed;
            EXPECT_EQ(m_pEngine->SoundFile().IsDecoded(), std::string(c.strName) != "48000 Hz") << c.strName;
            EXPECT_EQ(m_pEngine->GetFormat()->nSamplesPerSec, c.nRate) << c.strName;
            EXPECT_TRUE(m_pEngine->Close());
        }
    }
    for (const Bytes& abFile : { MakeWav(1, 154, 2, data), MakeWav(1, 0x80000000u, 2, data) }) {
        EXPECT_FALSE(m_pEngine->Open(m_dir.Write("x.wav", abFile), 1.0));
        EXPECT_EQ(m_pEngine->GetOpenError(), EOpenError::UnsupportedRate);
        EXPECT_FALSE(m_pEngine->Close()) << "nothing stays open";
    }
}

TEST_F(EngineTest, PositionIsTheReadersAndSeekResumesThere)
{
    ASSERT_TRUE(m_pEngine->Open(Mono16("p.wav", 22050, 88200), 2.0));
    EXPECT_EQ(m_pEngine->GetLengthSec(), 4u);
    m_pEngine->Seek(0);
    EXPECT_EQ(m_pEngine->GetPosition(), 44u);
    Bytes abBuffer(30000);
    m_pEngine->Fill(abBuffer.data(), 30000);
    // Seven hops: four segments laid at the first, then one a hop from the third on.
    EXPECT_EQ(m_pEngine->GetPosition(), 44u + 9u * 2100u * 2u);
    const uint64_t nSaved = m_pEngine->GetPosition();
    m_pEngine->Close();
    EXPECT_EQ(m_pEngine->GetPosition(), 0u);
    ASSERT_TRUE(m_pEngine->Open(m_dir.Path() + "/p.wav", 1.0));
    m_pEngine->Seek(static_cast<uint32_t>(nSaved + 1));
    EXPECT_EQ(m_pEngine->GetPosition(), nSaved) << "rounded down to a whole frame";
    EXPECT_EQ(m_pEngine->GetPositionSec(), static_cast<uint32_t>(nSaved / 22050 / 2));
}

TEST_F(EngineTest, SpeedChangeTakesEffectAtTheNextOpen)
{
    const std::string strPath = Mono16("s.wav", 22050, 50000);
    ASSERT_TRUE(m_pEngine->Open(strPath, 2.0));
    m_pEngine->SetSpeed(3.0);
    EXPECT_EQ(m_pEngine->GetHop(), 1050) << "geometry unchanged until reopened";
    m_pEngine->Close();
    ASSERT_TRUE(m_pEngine->Open(strPath, 3.0));
    EXPECT_EQ(m_pEngine->GetHop(), 408);
    EXPECT_EQ(m_pEngine->GetSegmentLength(), 1224);
}

TEST_F(EngineTest, ToneRunsOnFromFileToFile)
{
    const Bytes a = MakeWav(1, 22050, 2, Bytes(9000, 3));
    const Bytes b = MakeWav(2, 44100, 4, Bytes(12000, 250));
    SReferenceSettings settings;
    settings.dSpeed = 1.5;
    settings.bAlpha = 1;
    settings.nAlphaLevel = 35;
    m_pEngine->m_nMixingGain = settings.nMixingGain;
    m_pEngine->m_nAlphaLevel = settings.nAlphaLevel;
    CReferenceRender reference;
    for (const Bytes& file : { a, b, a }) {
        ASSERT_TRUE(m_pEngine->Open(m_dir.Write("t.wav", file), settings.dSpeed));
        m_pEngine->Seek(0);
        EXPECT_TRUE(RenderAll() == reference.Render(file, settings));
        m_pEngine->Close();
    }
    EXPECT_GT(reference.nToneFrame, 0);
    EXPECT_EQ(CSpeedEngineProbe::ToneFrame(*m_pEngine), reference.nToneFrame);
}

TEST_F(EngineTest, AFadeOutKeepsTheSoundBeforeItAndEndsAfterItsFrames)
{
    const std::string strPath = Mono16("f.wav", 22050, 200000);
    // Without the tones, whose phase runs on from one open to the next.
    m_pEngine->m_bAlpha = 0;
    ASSERT_TRUE(m_pEngine->Open(strPath, 2.0));
    const Bytes abWhole = RenderAll();
    m_pEngine->Close();
    // Fills of any size: the fade counts frames, not buffers.
    constexpr uint64_t kLeft = 40001;
    constexpr uint64_t kFade = 10000;
    ASSERT_TRUE(m_pEngine->Open(strPath, 2.0));
    m_pEngine->SetFadeOut(kLeft, kFade);
    Bytes abFaded;
    Bytes abBuffer(30000);
    for (uint32_t n; (n = m_pEngine->Fill(abBuffer.data(), 4 * 1777)) > 0;)
        abFaded.insert(abFaded.end(), abBuffer.begin(), abBuffer.begin() + n);
    ASSERT_EQ(abFaded.size(), 4 * kLeft);
    EXPECT_TRUE(m_pEngine->HasFadedOut());
    const size_t nBefore = 4 * (kLeft - kFade);
    EXPECT_TRUE(std::equal(abFaded.begin(), abFaded.begin() + static_cast<long>(nBefore), abWhole.begin()));
    // Each faded sample is the whole one scaled by the frames left over the fade's length.
    for (uint64_t nFrame = kLeft - kFade; nFrame < kLeft; nFrame += 997) {
        const size_t i = 4 * nFrame;
        const int nWhole = static_cast<int16_t>(abWhole[i] | abWhole[i + 1] << 8);
        const int nSample = static_cast<int16_t>(abFaded[i] | abFaded[i + 1] << 8);
        EXPECT_EQ(nSample, static_cast<int>(nWhole * static_cast<int64_t>(kLeft - nFrame) / static_cast<int64_t>(kFade)))
            << nFrame;
    }
    EXPECT_EQ(m_pEngine->Fill(abBuffer.data(), 30000), 0u) << "nothing after the fade";
}

} // namespace
