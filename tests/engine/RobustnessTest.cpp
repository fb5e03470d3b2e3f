// Damaged and hostile files: whatever the header says, the engine neither
// crashes nor hangs nor writes outside its buffers (the sanitizer build
// checks the last), and Fill keeps its contract.
#include "../WavBytes.h"
#include "EngineProbe.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

namespace {

// Renders at most nMaxFills buffers; checks every Fill's result.
void RenderChecked(CSpeedEngine& engine, const std::string& strPath, double dSpeed, int nMaxFills, const char* strWhat)
{
    if (!engine.Open(strPath, dSpeed))
        return;
    engine.Seek(0);
    std::vector<uint8_t> abBuffer(30000 + 16, 0xA5);
    for (int nFill = 0; nFill < nMaxFills; ++nFill) {
        const uint32_t n = engine.Fill(abBuffer.data(), 30000);
        ASSERT_EQ(n % 4, 0u) << strWhat;
        ASSERT_LT(n, 30000u) << strWhat;
        ASSERT_EQ(abBuffer[30000], 0xA5) << strWhat << ": wrote past the capacity";
        if (n == 0)
            break;
    }
    engine.Close();
}

TEST(Robustness, MutatedHeadersNeverBreakTheEngine)
{
    CTempDir dir;
    std::mt19937 random(4242);
    auto pEngine = CSpeedEngineProbe::Make();
    pEngine->m_nAlphaLevel = 50;
    Bytes abData(20000);
    for (uint8_t& b : abData)
        b = static_cast<uint8_t>(random());
    const Bytes abBase = MakeWav(2, 22050, 4, abData);
    const uint32_t anInteresting[] = { 0, 1, 2, 3, 4, 154, 155, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 96000, 192000,
        0x7FFFFFFF, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu };
    const size_t anFields[] = { 22, 24, 28, 32, 34, 40, 4, 16 };
    for (int nCase = 0; nCase < 400; ++nCase) {
        Bytes ab = abBase;
        for (int nChange = 0; nChange < 1 + static_cast<int>(random() % 3); ++nChange) {
            const uint32_t nValue = anInteresting[random() % std::size(anInteresting)];
            const size_t nField = anFields[random() % std::size(anFields)];
            if (nField == 22 || nField == 32 || nField == 34)
                PutU16(ab, nField, static_cast<uint16_t>(nValue));
            else
                PutU32(ab, nField, nValue);
        }
        if (random() % 5 == 0)
            ab.resize(random() % ab.size());
        if (random() % 7 == 0)
            ab[random() % std::min<size_t>(ab.size() + 1, 60)] ^= 0xFF;
        const std::string strWhat = "case " + std::to_string(nCase);
        RenderChecked(*pEngine, dir.Write("m.wav", ab), SpeedOfIndex(static_cast<int>(random() % 31)), 1000,
            strWhat.c_str());
    }
}

TEST(Robustness, FilesBeyondFourGibibytes)
{
    CTempDir dir;
    const std::string strPath = dir.Path() + "/huge.wav";
    Bytes abHeader = MakeWav(2, 44100, 4, Bytes());
    PutU32(abHeader, 40, 0xFFFFFF00u);
    const int hFile = ::open(strPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(hFile, 0);
    const off_t nSize = (off_t(1) << 32) + 70000;
    const bool bSparse = ::ftruncate(hFile, nSize) == 0
        && ::pwrite(hFile, abHeader.data(), abHeader.size(), 0) == static_cast<ssize_t>(abHeader.size());
    ::close(hFile);
    if (!bSparse)
        GTEST_SKIP() << "the temporary folder cannot hold a sparse file of 4 GiB";

    auto pEngine = CSpeedEngineProbe::Make();
    ASSERT_TRUE(pEngine->Open(strPath, 4.0));
    EXPECT_EQ(pEngine->GetLengthSec(), static_cast<uint32_t>(nSize / 44100 / 4));
    // Near the 32-bit end of the data: reads stop there, not at the file's end.
    pEngine->Seek(0xFFFFFFFFu);
    EXPECT_EQ(pEngine->GetPosition(), 0xFFFFFF2Cu - 16);
    std::vector<uint8_t> abBuffer(30000);
    uint32_t nTotal = 0;
    for (uint32_t n; (n = pEngine->Fill(abBuffer.data(), 30000)) > 0;)
        nTotal += n;
    EXPECT_GT(nTotal, 0u);
    EXPECT_TRUE(pEngine->m_bEndOfInput);
    EXPECT_LE(pEngine->GetPosition(), static_cast<uint64_t>(nSize));
}

} // namespace
