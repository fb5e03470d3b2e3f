// The clear mode and the pause shortener: the same bytes for the same start,
// the length a speed promises, onsets and ends kept, pauses shortened as
// said, and the heard frame mapped back through both.
#include "../WavBytes.h"
#include "EngineProbe.h"

#include "engine/PauseShortener.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

// Speech as the stages see it: voiced syllables at a gliding pitch, hiss,
// and silences over a quiet noise floor.
struct SPart {
    enum EKind { Voiced, Hiss, Silence } eKind;
    int nMs;
};

class CSpeechMaker {
public:
    explicit CSpeechMaker(int nRate)
        : m_nRate(nRate)
    {
    }

    CSpeechMaker& Add(const std::vector<SPart>& aParts)
    {
        for (const SPart& part : aParts) {
            const int nCount = m_nRate * part.nMs / 1000;
            for (int i = 0; i < nCount; ++i) {
                const double dEnvelope = std::min({1.0, i / (0.01 * m_nRate), (nCount - i) / (0.01 * m_nRate)});
                double dValue = Noise() * 20;
                if (part.eKind == SPart::Voiced) {
                    m_dPhase += 2 * M_PI * (110 + 40 * std::sin(m_asSamples.size() * 3.0 / m_nRate)) / m_nRate;
                    for (int h = 1; h <= 5; ++h)
                        dValue += dEnvelope * 9000 / h * std::sin(h * m_dPhase);
                } else if (part.eKind == SPart::Hiss) {
                    dValue += dEnvelope * 3000 * Noise();
                }
                m_asSamples.push_back(static_cast<int16_t>(std::lround(std::clamp(dValue, -32768.0, 32767.0))));
            }
        }
        return *this;
    }
    // Words of syllables and hiss, with gaps and pauses between them, for nSeconds.
    CSpeechMaker& Talk(int nSeconds)
    {
        const int aPauses[] = {60, 400, 120, 900, 200, 1500, 80, 300};
        for (int nWord = 0; static_cast<int>(m_asSamples.size()) < nSeconds * m_nRate; ++nWord)
            Add({{SPart::Voiced, 180 + 40 * (nWord % 3)}, {SPart::Hiss, 70}, {SPart::Voiced, 150},
                 {SPart::Silence, aPauses[nWord % 8]}});
        return *this;
    }
    const std::vector<int16_t>& Samples() const { return m_asSamples; }
    Bytes Wav() const { return MakeWav(1, static_cast<uint32_t>(m_nRate), 2, Samples16(m_asSamples)); }

private:
    double Noise()
    {
        m_nSeed = m_nSeed * 1103515245 + 12345;
        return static_cast<double>((m_nSeed >> 16) & 0x7fff) / 16384.0 - 1.0;
    }

    int m_nRate;
    double m_dPhase = 0;
    uint32_t m_nSeed = 1;
    std::vector<int16_t> m_asSamples;
};

class ClearSpeechTest : public ::testing::Test {
protected:
    // Plays strFile from nStartFrame in the given modes; the left channel
    // (the Mixing gain is 1, the tones are off).
    std::vector<int16_t> Render(const std::string& strFile, double dSpeed, bool bClear, bool bSkip,
                                uint64_t nStartFrame = 0)
    {
        Open(strFile, dSpeed, bClear, bSkip, nStartFrame);
        return FillAll();
    }
    void Open(const std::string& strFile, double dSpeed, bool bClear, bool bSkip, uint64_t nStartFrame)
    {
        ApplyLevels(*m_pEngine, 50, 0);
        m_pEngine->SetClearSpeech(bClear);
        m_pEngine->SetSkipSilence(bSkip);
        m_pEngine->Close();
        ASSERT_TRUE(m_pEngine->Open(strFile, dSpeed));
        m_pEngine->SeekFrame(nStartFrame);
    }
    std::vector<int16_t> FillAll(size_t nMaxBuffers = SIZE_MAX)
    {
        std::vector<int16_t> asLeft;
        std::vector<int16_t> asBuffer(15000);
        for (uint32_t n; nMaxBuffers-- > 0 && (n = m_pEngine->Fill(asBuffer.data(), 30000)) > 0;)
            for (uint32_t i = 0; i < n / 4; ++i)
                asLeft.push_back(asBuffer[2 * i]);
        return asLeft;
    }

    CTempDir m_dir;
    std::unique_ptr<CSpeedEngine> m_pEngine = CSpeedEngineProbe::Make();
};

double Energy(const std::vector<int16_t>& as, size_t nFrom, size_t nTo)
{
    double dSum = 0;
    for (size_t i = nFrom; i < std::min(nTo, as.size()); ++i)
        dSum += static_cast<double>(as[i]) * as[i];
    return dSum;
}

TEST_F(ClearSpeechTest, TheSameStartGivesTheSameBytes)
{
    const std::string strFile = m_dir.Write("talk.wav", CSpeechMaker(22050).Talk(12).Wav());
    for (const bool bSkip : {false, true}) {
        const std::vector<int16_t> asWhole = Render(strFile, 2.5, true, bSkip);
        EXPECT_EQ(Render(strFile, 2.5, true, bSkip), asWhole);
        // A seek restarts the stretch cleanly: whatever played before, the
        // sound from a frame is what a start there gives.
        const uint64_t nFrame = 5 * 22050 + 777;
        const std::vector<int16_t> asFromStart = Render(strFile, 2.5, true, bSkip, nFrame);
        Open(strFile, 3.0, true, bSkip, 0);
        FillAll(3);
        EXPECT_EQ(Render(strFile, 2.5, true, bSkip, nFrame), asFromStart) << "skip " << bSkip;
        EXPECT_NE(asFromStart, asWhole);
    }
}

TEST_F(ClearSpeechTest, LastsTheLengthOverTheSpeed)
{
    for (const int nRate : {8000, 16000, 44100}) {
        const CSpeechMaker talk = CSpeechMaker(nRate).Talk(70);
        const std::string strFile = m_dir.Write("talk.wav", talk.Wav());
        for (const double dSpeed : {1.0, 1.1, 1.5, 2.0, 2.5, 3.0, 3.7, 4.0}) {
            const double dWanted = talk.Samples().size() / dSpeed;
            const double dLength = static_cast<double>(Render(strFile, dSpeed, true, false).size());
            EXPECT_NEAR(dLength / dWanted, 1.0, 0.02) << nRate << " Hz at " << dSpeed;
        }
    }
}

// A sound after a second of silence comes through at its full strength, and
// so does the sound that ends a file without a pause after it.
TEST_F(ClearSpeechTest, KeepsOnsetsAndTheEnd)
{
    const int nRate = 16000;
    CSpeechMaker talk(nRate);
    talk.Add({{SPart::Silence, 1000}, {SPart::Voiced, 80}, {SPart::Silence, 1000}, {SPart::Voiced, 300}});
    const std::string strFile = m_dir.Write("onset.wav", talk.Wav());
    const std::vector<int16_t>& asIn = talk.Samples();
    const size_t nOnset = nRate, nBurst = nRate * 80 / 1000;
    for (const double dSpeed : {1.5, 2.0, 3.0, 4.0}) {
        for (const bool bSkip : {false, true}) {
            const std::vector<int16_t> asOut = Render(strFile, dSpeed, true, bSkip);
            // The burst lies in the first half of the output, whatever the pauses became.
            EXPECT_GT(Energy(asOut, 0, asOut.size() / 2), 0.5 * Energy(asIn, nOnset, nOnset + nBurst) / dSpeed)
                << dSpeed << " skip " << bSkip;
            const size_t nLast = nRate / 50;
            EXPECT_GT(Energy(asOut, asOut.size() - nLast, asOut.size()),
                0.25 * Energy(asIn, asIn.size() - nLast, asIn.size()))
                << dSpeed << " skip " << bSkip;
        }
    }
}

// Gaps under 150 ms stay sample for sample; a pause keeps 30 % of its length
// within 150 and 700 ms; speech passes unchanged; output maps back to input.
TEST(PauseShortenerTest, ShortensPausesAndNothingElse)
{
    const int nRate = 8000;
    const int nMs = nRate / 1000;
    CSpeechMaker talk(nRate);
    talk.Add({{SPart::Voiced, 500}, {SPart::Silence, 100}, {SPart::Voiced, 500}, {SPart::Silence, 1000},
              {SPart::Voiced, 500}, {SPart::Silence, 3000}, {SPart::Voiced, 500}, {SPart::Silence, 400}});
    const std::vector<int16_t>& asIn = talk.Samples();
    CPauseShortener shortener;
    shortener.Reset(nRate);
    std::vector<int16_t> asOut;
    int16_t asChunk[1000];
    for (size_t nAt = 0; !shortener.IsDone();) {
        const int32_t nPut = std::min<int32_t>({shortener.GetRoom(), 777, static_cast<int32_t>(asIn.size() - nAt)});
        if (nPut > 0)
            shortener.Put(asIn.data() + nAt, nPut);
        else if (nAt == asIn.size())
            shortener.EndInput();
        nAt += static_cast<size_t>(nPut);
        for (int32_t n; (n = shortener.Receive(asChunk, 1000)) > 0;)
            asOut.insert(asOut.end(), asChunk, asChunk + n);
    }
    const int64_t nRemoved = (1000 - 300 + 3000 - 700 + 400 - 150) * nMs;
    EXPECT_EQ(shortener.GetRemoved(), nRemoved);
    ASSERT_EQ(static_cast<int64_t>(asOut.size()), static_cast<int64_t>(asIn.size()) - nRemoved);
    // Speech, gap, speech and the pause's first 60 ms are untouched.
    const size_t nUntouched = static_cast<size_t>((500 + 100 + 500 + 60) * nMs);
    EXPECT_TRUE(std::equal(asIn.begin(), asIn.begin() + nUntouched, asOut.begin()));
    // Each later syllable comes out whole, where SourceOf says it came from.
    struct SSyllable {
        int64_t nInMs, nOutMs;
    };
    for (const SSyllable& s : {SSyllable{2100, 1400}, SSyllable{5600, 2600}}) {
        const int64_t nOut = s.nOutMs * nMs;
        EXPECT_EQ(shortener.SourceOf(nOut), s.nInMs * nMs);
        EXPECT_TRUE(std::equal(asOut.begin() + nOut, asOut.begin() + nOut + 500 * nMs, asIn.begin() + s.nInMs * nMs))
            << s.nInMs;
    }
}

// What is heard maps back to the file: in the exact mode as the segments
// tile the input, in the clear mode through the record of each buffer.
TEST_F(ClearSpeechTest, HeardFrameFollowsTheOutput)
{
    const std::string strFile = m_dir.Write("talk.wav", CSpeechMaker(22050).Talk(20).Wav());
    const uint64_t nStart = 22050;
    Open(strFile, 2.0, false, false, nStart);
    const size_t nOut = FillAll(4).size();
    const int32_t nHop = m_pEngine->GetHop(), nSeg = m_pEngine->GetSegmentLength();
    for (const uint64_t nPlayed : {uint64_t{0}, uint64_t{7349}, uint64_t{7351}, uint64_t{nOut}})
        EXPECT_EQ(m_pEngine->HeardFrame(nPlayed), nStart + nPlayed / nHop * nSeg + nPlayed % nHop * nSeg / nHop);

    for (const bool bSkip : {false, true}) {
        Open(strFile, 2.0, true, bSkip, nStart);
        const size_t nTotal = FillAll().size();
        uint64_t nLast = nStart;
        for (uint64_t nPlayed = 0; nPlayed <= nTotal; nPlayed += 997) {
            const uint64_t nHeard = m_pEngine->HeardFrame(nPlayed);
            EXPECT_GE(nHeard, nLast);
            nLast = nHeard;
        }
        EXPECT_EQ(m_pEngine->HeardFrame(nTotal), m_pEngine->SoundFile().GetLengthFrames()) << "skip " << bSkip;
        // Halfway through the sound is about halfway through the file.
        const double dHalf = static_cast<double>(m_pEngine->HeardFrame(nTotal / 2) - nStart);
        EXPECT_NEAR(dHalf / (m_pEngine->SoundFile().GetLengthFrames() - nStart), 0.5, 0.1) << "skip " << bSkip;
    }
}

} // namespace
