// Files cut short, with odd size fields, or changed under the reader while
// it plays: the engine plays what the data chunk holds on disk and nothing
// else, and every run of Fill ends. A clean file with the same samples is
// the measure of what each one should give.
#include "../WavBytes.h"
#include "EngineProbe.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

namespace {

// Small buffers, so that even short files take several fills; one hop of
// the slowest layout below still fits.
constexpr uint32_t kSmallFill = 4400;
// Far more fills than any file here needs; reaching it means Fill never ends.
constexpr int kMaxFills = 20000;

struct SLayout {
    const char* strName;
    uint16_t nChannels;
    uint16_t nBlockAlign;
    uint32_t nRate;
    double dSpeed;
    // Bytes of a LIST chunk between the format and the data chunk.
    size_t nListBytes;
};

const SLayout kLayouts[] = {
    { "mono8", 1, 1, 8000, 4.0, 0 },
    { "mono16", 1, 2, 8000, 2.0, 0 },
    { "stereo8", 2, 2, 8000, 3.3, 0 },
    { "stereo16", 2, 4, 11025, 4.0, 0 },
    { "mono16 with a LIST chunk", 1, 2, 8000, 1.0, 30 },
};

Bytes Noise(size_t nBytes, unsigned nSeed)
{
    Bytes ab(nBytes);
    for (size_t i = 0; i < nBytes; ++i)
        ab[i] = static_cast<uint8_t>((i * i * 31 + i * nSeed + nSeed) >> 3);
    return ab;
}

Bytes WavOf(const SLayout& layout, const Bytes& abData)
{
    Bytes ab = MakeWav(layout.nChannels, layout.nRate, layout.nBlockAlign, abData);
    InsertListChunk(ab, layout.nListBytes, 'i');
    return ab;
}

// Everything Fill gives from the engine's current position on; checks the
// contract of each call and fails the test instead of looping for ever.
Bytes FillToEnd(CSpeedEngine& engine, uint32_t nCapacity, const std::string& strWhat)
{
    Bytes abAll;
    Bytes abBuffer(nCapacity + 16, 0xA5);
    for (int nFill = 0; nFill < kMaxFills; ++nFill) {
        const uint32_t n = engine.Fill(abBuffer.data(), nCapacity);
        EXPECT_EQ(n % 4, 0u) << strWhat;
        EXPECT_LE(n, nCapacity) << strWhat;
        EXPECT_EQ(abBuffer[nCapacity], 0xA5) << strWhat << ": wrote past the capacity";
        if (n == 0)
            return abAll;
        abAll.insert(abAll.end(), abBuffer.begin(), abBuffer.begin() + n);
    }
    ADD_FAILURE() << strWhat << ": Fill never reached the end";
    return abAll;
}

class BadFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (auto* pEngine : { &m_pEngine, &m_pClean }) {
            *pEngine = CSpeedEngineProbe::Make();
            (*pEngine)->m_bAlpha = 0;
            (*pEngine)->m_nMixingGain = 10;
        }
    }

    // What a clean file holding these samples gives from the start.
    Bytes CleanRender(const SLayout& layout, const Bytes& abData, uint32_t nCapacity = kSmallFill)
    {
        const std::string strPath = m_dir.Write("clean.wav", WavOf(layout, abData));
        if (!m_pClean->Open(strPath, layout.dSpeed)) {
            ADD_FAILURE() << "the clean file does not open";
            return Bytes();
        }
        m_pClean->Seek(0);
        Bytes ab = FillToEnd(*m_pClean, nCapacity, "clean file");
        m_pClean->Close();
        return ab;
    }

    CTempDir m_dir;
    std::unique_ptr<CSpeedEngine> m_pEngine;
    std::unique_ptr<CSpeedEngine> m_pClean;
};

TEST_F(BadFileTest, EveryPrefixOfAFileOpensAsWhatItHoldsOrIsRefused)
{
    for (const SLayout& layout : kLayouts) {
        const Bytes abData = Noise(900, layout.nBlockAlign);
        const Bytes abFile = WavOf(layout, abData);
        const size_t nDataOffset = abFile.size() - abData.size();
        // Keyed by the whole frames a prefix holds.
        std::map<size_t, Bytes> cleanByFrames;
        for (size_t nLength = 0; nLength <= abFile.size(); ++nLength) {
            const std::string strWhat = std::string(layout.strName) + ", first " + std::to_string(nLength) + " bytes";
            const std::string strPath = m_dir.Write("prefix.wav", Bytes(abFile.begin(), abFile.begin() + nLength));
            const bool bOpened = m_pEngine->Open(strPath, layout.dSpeed);
            if (nLength < CWaveFile::kMinimumHeaderBytes) {
                EXPECT_FALSE(bOpened) << strWhat;
                EXPECT_EQ(m_pEngine->GetOpenError(), EOpenError::TooShort) << strWhat;
                continue;
            }
            if (nLength < nDataOffset) {
                EXPECT_FALSE(bOpened) << strWhat;
                EXPECT_EQ(m_pEngine->GetOpenError(), EOpenError::NoDataChunk) << strWhat;
                continue;
            }
            ASSERT_TRUE(bOpened) << strWhat;
            const size_t nFrames = (nLength - nDataOffset) / layout.nBlockAlign;
            if (cleanByFrames.count(nFrames) == 0) {
                const Bytes abWhole(abData.begin(), abData.begin() + nFrames * layout.nBlockAlign);
                cleanByFrames[nFrames] = CleanRender(layout, abWhole);
            }
            const Bytes& abExpected = cleanByFrames[nFrames];

            m_pEngine->Seek(0);
            EXPECT_TRUE(FillToEnd(*m_pEngine, kSmallFill, strWhat) == abExpected) << strWhat;
            // A seek inside what is there plays the same as in the clean file;
            // one past the end of the file finds nothing more to read.
            const uint32_t nMiddle = static_cast<uint32_t>(nDataOffset + nFrames / 2 * layout.nBlockAlign);
            m_pEngine->Seek(nMiddle);
            const Bytes abFromMiddle = FillToEnd(*m_pEngine, kSmallFill, strWhat + ", from the middle");
            ASSERT_TRUE(m_pClean->Open(m_dir.Path() + "/clean.wav", layout.dSpeed));
            m_pClean->Seek(0);
            FillToEnd(*m_pClean, kSmallFill, "clean file");
            m_pClean->Seek(nMiddle);
            EXPECT_TRUE(abFromMiddle == FillToEnd(*m_pClean, kSmallFill, "clean file")) << strWhat;
            m_pClean->Close();
            // (The last 16 bytes of the declared data, where such a seek lands, are
            // missing unless the file is nearly whole.)
            for (uint32_t nPosition : { static_cast<uint32_t>(nLength + 100), 0xFFFFFFFFu }) {
                m_pEngine->Seek(nPosition);
                const Bytes abPast = FillToEnd(*m_pEngine, kSmallFill, strWhat + ", past the end");
                if (nLength + 16 <= abFile.size()) {
                    EXPECT_TRUE(abPast.empty()) << strWhat;
                }
            }
            EXPECT_TRUE(m_pEngine->Close()) << strWhat;
        }
    }
}

TEST_F(BadFileTest, SizeFieldsTheReaderDoesNotUseChangeNothing)
{
    const SLayout& layout = kLayouts[1];
    const Bytes abData = Noise(30000, 7);
    const Bytes abExpected = CleanRender(layout, abData, 30000);
    ASSERT_FALSE(abExpected.empty());
    // The RIFF size at 4 and the format chunk's size at 16.
    for (size_t nField : { size_t{ 4 }, size_t{ 16 } }) {
        for (uint32_t nValue : { 0u, 0xFFFFFFFFu }) {
            Bytes ab = WavOf(layout, abData);
            PutU32(ab, nField, nValue);
            ASSERT_TRUE(m_pEngine->Open(m_dir.Write("f.wav", ab), layout.dSpeed));
            m_pEngine->Seek(0);
            EXPECT_TRUE(FillToEnd(*m_pEngine, 30000, "field") == abExpected) << "field at " << nField << " = " << nValue;
            m_pEngine->Close();
        }
    }
}

TEST_F(BadFileTest, DataLargerThanTheFilePlaysWhatIsThere)
{
    const SLayout& layout = kLayouts[3];
    const Bytes abData = Noise(40000, 3);
    Bytes ab = WavOf(layout, abData);
    PutU32(ab, 40, 0x7FFFFFF0u);
    ASSERT_TRUE(m_pEngine->Open(m_dir.Write("big.wav", ab), layout.dSpeed));
    m_pEngine->Seek(0);
    EXPECT_TRUE(FillToEnd(*m_pEngine, 30000, "declared larger") == CleanRender(layout, abData, 30000));
    // A seek into the declared but absent part finds nothing.
    m_pEngine->Seek(0x10000000u);
    EXPECT_TRUE(FillToEnd(*m_pEngine, 30000, "absent part").empty());
}

// A seek past the end goes 16 bytes back from it, but never back in front of
// the data: with less than 16 bytes of data, or none, that would play the
// header as sound.
// (A size of 0 says nothing: that data runs to the end of the file.)
TEST_F(BadFileTest, ASeekPastTheEndOfATinyChunkPlaysNoHeaderByte)
{
    const SLayout& layout = kLayouts[1];
    for (uint32_t nSize : { 2u, 8u, 14u }) {
        Bytes ab = WavOf(layout, Bytes(16, 0x40));
        PutU32(ab, 40, nSize);
        // A trailing chunk, so that there is something to read after the data.
        Append(ab, "LIST");
        AppendU32(ab, 4000);
        ab.resize(ab.size() + 4000, 0x7F);
        const std::string strPath = m_dir.Write("tiny.wav", ab);
        ASSERT_TRUE(m_pEngine->Open(strPath, layout.dSpeed));
        m_pEngine->Seek(0);
        const Bytes abFromStart = FillToEnd(*m_pEngine, 30000, "from the start");
        for (uint32_t nPosition : { 44u + 16u, 1000u, 0xFFFFFFFFu }) {
            m_pEngine->Close();
            ASSERT_TRUE(m_pEngine->Open(strPath, layout.dSpeed));
            m_pEngine->Seek(nPosition);
            EXPECT_GE(m_pEngine->GetPosition(), 44u) << "size " << nSize << ", seek to " << nPosition;
            EXPECT_TRUE(FillToEnd(*m_pEngine, 30000, "past the end") == abFromStart)
                << "size " << nSize << ", seek to " << nPosition;
        }
        m_pEngine->Close();
    }
}

class ChangingFileTest : public BadFileTest {
protected:
    const SLayout& m_layout = kLayouts[1];
    const Bytes m_abData = Noise(160000, 5);

    void SetFileSize(off_t nSize) { ASSERT_EQ(::truncate(m_strPath.c_str(), nSize), 0); }

    void AppendToFile(const Bytes& ab)
    {
        std::ofstream file(m_strPath, std::ios::binary | std::ios::app);
        file.write(reinterpret_cast<const char*>(ab.data()), static_cast<std::streamsize>(ab.size()));
        ASSERT_TRUE(file.good());
    }

    // Opens the file and plays the first buffer; returns the reader's position.
    uint64_t OpenAndFillOnce(const Bytes& abFile, Bytes& abPlayed)
    {
        m_strPath = m_dir.Write("changing.wav", abFile);
        EXPECT_TRUE(m_pEngine->Open(m_strPath, m_layout.dSpeed));
        m_pEngine->Seek(0);
        Bytes abBuffer(30000);
        const uint32_t n = m_pEngine->Fill(abBuffer.data(), 30000);
        EXPECT_GT(n, 0u);
        abPlayed.assign(abBuffer.begin(), abBuffer.begin() + n);
        return m_pEngine->GetPosition();
    }

    std::string m_strPath;
};

TEST_F(ChangingFileTest, AFileThatShrinksBetweenFillsEndsWithWhatWasThere)
{
    const Bytes abFile = WavOf(m_layout, m_abData);
    for (const off_t nCut : { off_t{ 0 }, off_t{ 20 }, off_t{ 44 }, off_t{ 1000 }, off_t{ -1 }, off_t{ -2 } }) {
        Bytes abPlayed;
        const uint64_t nPosition = OpenAndFillOnce(abFile, abPlayed);
        ASSERT_LT(nPosition + 10000, abFile.size()) << "the first buffer must leave data unread";
        // Negative: that many thousand bytes, plus one, beyond the reader.
        const uint64_t nSize = nCut >= 0 ? static_cast<uint64_t>(nCut) : nPosition - 1000 * nCut + 1;
        SetFileSize(static_cast<off_t>(nSize));
        const std::string strWhat = "cut to " + std::to_string(nSize) + " bytes";
        const Bytes abRest = FillToEnd(*m_pEngine, 30000, strWhat);
        abPlayed.insert(abPlayed.end(), abRest.begin(), abRest.end());
        // What the reader had taken, or what is left when that is more.
        const size_t nKept = static_cast<size_t>(std::max(nSize, nPosition) - 44) / 2 * 2;
        EXPECT_TRUE(abPlayed == CleanRender(m_layout, Bytes(m_abData.begin(), m_abData.begin() + nKept), 30000))
            << strWhat;
        EXPECT_TRUE(m_pEngine->m_bEndOfInput) << strWhat;
        EXPECT_EQ(m_pEngine->GetLengthSec(), nSize / 8000 / 2) << strWhat;

        // Seeks on the shrunk file read only what is left.
        m_pEngine->Seek(0);
        const Bytes abAgain = FillToEnd(*m_pEngine, 30000, strWhat + ", again");
        if (nSize <= 44) {
            EXPECT_TRUE(abAgain.empty()) << strWhat;
        }
        m_pEngine->Close();
    }
}

TEST_F(ChangingFileTest, AFileThatGrowsPlaysNoMoreThanItsDataChunk)
{
    const Bytes abMore = Noise(60000, 9);
    Bytes abWhole = m_abData;
    abWhole.insert(abWhole.end(), abMore.begin(), abMore.end());

    // The size was written with the first part: what follows is another chunk.
    Bytes abPlayed;
    OpenAndFillOnce(WavOf(m_layout, m_abData), abPlayed);
    AppendToFile(abMore);
    Bytes abRest = FillToEnd(*m_pEngine, 30000, "exact size");
    abPlayed.insert(abPlayed.end(), abRest.begin(), abRest.end());
    EXPECT_TRUE(abPlayed == CleanRender(m_layout, m_abData, 30000));
    m_pEngine->Close();

    // A recorder that wrote the final size first: what arrives in time plays,
    // up to the declared end.
    Bytes abRecording = WavOf(m_layout, m_abData);
    PutU32(abRecording, 40, static_cast<uint32_t>(m_abData.size() + abMore.size() / 2));
    OpenAndFillOnce(abRecording, abPlayed);
    AppendToFile(abMore);
    abRest = FillToEnd(*m_pEngine, 30000, "declared size");
    abPlayed.insert(abPlayed.end(), abRest.begin(), abRest.end());
    EXPECT_TRUE(abPlayed
        == CleanRender(m_layout, Bytes(abWhole.begin(), abWhole.begin() + m_abData.size() + abMore.size() / 2), 30000));
    m_pEngine->Close();
}

} // namespace
