// velofon render as a user runs it: exit codes, messages, and the bytes it writes.
#include "../WavBytes.h"
#include "engine/ReferenceRender.h"

#include <cstdlib>
#include <filesystem>
#include <set>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

class RenderCommandTest : public ::testing::Test {
protected:
    // Runs velofon with the arguments; keeps standard error in m_strErr.
    int Run(const std::string& strArgs)
    {
        const std::string strErr = m_dir.Path() + "/stderr.txt";
        const std::string strCommand = std::string(VELOFON_EXE) + " " + strArgs + " 2>" + strErr;
        const int nStatus = std::system(strCommand.c_str());
        const Bytes abErr = ReadWholeFile(strErr);
        m_strErr.assign(abErr.begin(), abErr.end());
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    std::string Speech(const std::string& strName, uint16_t nChannels, uint32_t nRate, size_t nBytes)
    {
        Bytes ab(nBytes);
        for (size_t i = 0; i < nBytes; ++i)
            ab[i] = static_cast<uint8_t>((i * i) >> 5);
        return m_dir.Write(strName, MakeWav(nChannels, nRate, static_cast<uint16_t>(2 * nChannels), ab));
    }

    std::string Out(const std::string& strName) const { return m_dir.Path() + "/" + strName; }

    CTempDir m_dir;
    std::string m_strErr;
};

TEST_F(RenderCommandTest, UsageErrorsExitWithTwo)
{
    const std::string strIn = Speech("in.wav", 1, 22050, 1000);
    for (const std::string& strArgs : { std::string(), std::string("frobnicate"), "render " + strIn,
             "render -o " + Out("o.wav"), "render --speed 4.5 -o " + Out("o.wav") + " " + strIn,
             "render --speed 2.05 -o " + Out("o.wav") + " " + strIn, "render --speed-index 31 -o x.wav " + strIn,
             "render --mixing 101 -o x.wav " + strIn, "render --alpha 51 -o x.wav " + strIn,
             "render --alpha -o x.wav " + strIn, "render --loud -o x.wav " + strIn }) {
        EXPECT_EQ(Run(strArgs), 2) << strArgs;
        EXPECT_NE(m_strErr.find("velofon: "), std::string::npos) << strArgs;
    }
    EXPECT_EQ(Run("--help"), 0);
    EXPECT_EQ(Run("render --help"), 0);
}

TEST_F(RenderCommandTest, RawOutputIsTheEnginesAcrossFiles)
{
    const std::string strA = Speech("a.wav", 1, 22050, 50000);
    const std::string strB = Speech("b.wav", 2, 44100, 80000);
    ASSERT_EQ(Run("render --speed 2.5 --mixing 75 --alpha 20 --raw -o " + Out("o.raw") + " " + strA + " " + strB), 0)
        << m_strErr;
    SReferenceSettings settings;
    settings.dSpeed = (15 + 10.0) * 0.1;
    settings.nMixingGain = 15;
    settings.bAlpha = 1;
    settings.nAlphaLevel = 20;
    CReferenceRender reference;
    Bytes abExpected = reference.Render(ReadWholeFile(strA), settings);
    const Bytes abSecond = reference.Render(ReadWholeFile(strB), settings);
    abExpected.insert(abExpected.end(), abSecond.begin(), abSecond.end());
    EXPECT_TRUE(ReadWholeFile(Out("o.raw")) == abExpected);
}

TEST_F(RenderCommandTest, WavOutputHasACanonicalHeaderAtTheFirstRate)
{
    const std::string strA = Speech("a.wav", 2, 11025, 30000);
    const std::string strB = Speech("b.wav", 1, 22050, 30000);
    ASSERT_EQ(Run("render --speed-index 0 -o " + Out("o.wav") + " " + strA + " " + strB), 0) << m_strErr;
    EXPECT_NE(m_strErr.find("velofon: wrote " + Out("o.wav")), std::string::npos) << m_strErr;
    ASSERT_EQ(Run("render --speed 1.0 --raw -o - " + strA + " " + strB + " >" + Out("o.raw")), 0) << m_strErr;
    const Bytes abWav = ReadWholeFile(Out("o.wav"));
    const Bytes abRaw = ReadWholeFile(Out("o.raw"));
    ASSERT_GT(abRaw.size(), 0u);
    ASSERT_EQ(abWav.size(), abRaw.size() + 44);
    Bytes abHeader = MakeWav(2, 11025, 4, Bytes());
    PutU32(abHeader, 4, static_cast<uint32_t>(36 + abRaw.size()));
    PutU32(abHeader, 40, static_cast<uint32_t>(abRaw.size()));
    EXPECT_TRUE(std::equal(abHeader.begin(), abHeader.end(), abWav.begin()));
    EXPECT_TRUE(std::equal(abRaw.begin(), abRaw.end(), abWav.begin() + 44));
}

TEST_F(RenderCommandTest, WavThroughAPipeCarriesUnknownSizes)
{
    const std::string strIn = Speech("a.wav", 1, 8000, 30000);
    ASSERT_EQ(Run("render -o - " + strIn + " | cat >" + Out("piped.wav")), 0) << m_strErr;
    ASSERT_EQ(Run("render -o - " + strIn + " >" + Out("redirected.wav")), 0) << m_strErr;
    Bytes abPiped = ReadWholeFile(Out("piped.wav"));
    const Bytes abRedirected = ReadWholeFile(Out("redirected.wav"));
    ASSERT_EQ(abPiped.size(), abRedirected.size());
    EXPECT_EQ(std::vector<uint8_t>(abPiped.begin() + 40, abPiped.begin() + 44), Bytes(4, 0xFF));
    EXPECT_EQ(std::vector<uint8_t>(abPiped.begin() + 4, abPiped.begin() + 8), Bytes(4, 0xFF));
    // A redirected file is completed like any output file.
    PutU32(abPiped, 4, static_cast<uint32_t>(abPiped.size() - 8));
    PutU32(abPiped, 40, static_cast<uint32_t>(abPiped.size() - 44));
    EXPECT_TRUE(abPiped == abRedirected);
}

TEST_F(RenderCommandTest, UnplayableInputsAreSkippedWithTheirReason)
{
    const std::string strGood = Speech("good.wav", 1, 22050, 20000);
    const std::string strFast = Speech("fast.wav", 1, 64000, 40000);
    const std::string strBad = m_dir.Write("bad.wav", Bytes(100, 'x'));
    const std::string strMissing = Out("missing.wav");
    Bytes abStreamed = ReadWholeFile(strGood);
    PutU32(abStreamed, 40, 0xFFFFFFFFu); // the size a streaming writer leaves
    const std::string strStreamed = m_dir.Write("streamed.wav", abStreamed);
    EXPECT_EQ(Run("render --speed 1 --raw -o " + Out("o.raw") + " " + strBad + " " + strMissing + " " + strFast + " "
                  + strGood + " " + m_dir.Path() + " " + strStreamed),
        1);
    EXPECT_NE(m_strErr.find("skipping " + strBad + ": no data chunk"), std::string::npos) << m_strErr;
    EXPECT_NE(m_strErr.find("skipping " + strMissing + ": cannot be opened"), std::string::npos) << m_strErr;
    EXPECT_NE(m_strErr.find("skipping " + strFast + ": sample rate 64000 Hz is too high"), std::string::npos) << m_strErr;
    EXPECT_NE(m_strErr.find("skipping " + m_dir.Path() + ": not a .wav file name"), std::string::npos) << m_strErr;
    EXPECT_NE(m_strErr.find("skipping " + strStreamed + ": its data size field (4294967295 bytes) reaches past 4 GiB"),
        std::string::npos) << m_strErr;
    // A file without samples is rendered, to nothing.
    EXPECT_EQ(Run("render --raw -o " + Out("empty.raw") + " " + m_dir.Write("empty.wav", MakeWav(1, 8000, 1, {}))), 0);
    EXPECT_TRUE(ReadWholeFile(Out("empty.raw")).empty());
    ASSERT_EQ(Run("render --speed 1 --raw -o " + Out("good.raw") + " " + strGood), 0);
    EXPECT_TRUE(ReadWholeFile(Out("o.raw")) == ReadWholeFile(Out("good.raw"))) << "skipped files add nothing";
}

TEST_F(RenderCommandTest, RefusesToOverwriteAnInputAndLeavesNoTemporaryFile)
{
    const std::string strIn = Speech("in.wav", 1, 22050, 20000);
    const Bytes abBefore = ReadWholeFile(strIn);
    EXPECT_EQ(Run("render -o " + m_dir.Path() + "/./in.wav " + strIn), 2);
    EXPECT_NE(m_strErr.find("is also an input"), std::string::npos) << m_strErr;
    EXPECT_TRUE(ReadWholeFile(strIn) == abBefore);

    EXPECT_EQ(Run("render -o " + Out("o.wav") + " " + strIn), 0);
    EXPECT_EQ(Run("render -o " + m_dir.Path() + "/no-such-folder/o.wav " + strIn), 1);
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, std::set<std::string>({ "in.wav", "o.wav", "stderr.txt" }));
}

} // namespace
