// velofon info, and render --chapter and --end, over a book with chapters:
// the chapters are those ffprobe reads, and a stretch renders as its frames
// cut into a file of their own do.
#include "ChapterBook.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

namespace {

struct SChapterLine {
    uint64_t nStartMs;
    uint64_t nEndMs;
    std::string strTitle;
    bool operator==(const SChapterLine& other) const
    {
        return nStartMs == other.nStartMs && nEndMs == other.nEndMs && strTitle == other.strTitle;
    }
};

std::ostream& operator<<(std::ostream& out, const SChapterLine& line)
{
    return out << line.nStartMs << "-" << line.nEndMs << " '" << line.strTitle << "'";
}

// "H:MM:SS.mmm" in milliseconds.
uint64_t Milliseconds(const std::string& strTime)
{
    unsigned long long nHours = 0, nMinutes = 0, nSeconds = 0, nMilliseconds = 0;
    EXPECT_EQ(std::sscanf(strTime.c_str(), "%llu:%2llu:%2llu.%3llu", &nHours, &nMinutes, &nSeconds, &nMilliseconds), 4)
        << strTime;
    return ((nHours * 60 + nMinutes) * 60 + nSeconds) * 1000 + nMilliseconds;
}

// ffprobe's "4.000000", rounded down to the millisecond.
uint64_t ProbeMilliseconds(const std::string& strSeconds)
{
    const size_t nPoint = strSeconds.find('.');
    const std::string strDecimals = (strSeconds.substr(nPoint + 1) + "000").substr(0, 3);
    return std::stoull(strSeconds.substr(0, nPoint)) * 1000 + std::stoull(strDecimals);
}

class ChapterCommandTest : public ::testing::Test {
protected:
    // Runs velofon; keeps standard output in m_strOut and error in m_strErr.
    int Run(const std::string& strArgs)
    {
        const std::string strCommand = std::string(VELOFON_EXE) + " " + strArgs + " >" + Path("stdout.txt") + " 2>"
            + Path("stderr.txt");
        const int nStatus = std::system(strCommand.c_str());
        m_strOut = Text(Path("stdout.txt"));
        m_strErr = Text(Path("stderr.txt"));
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }

    static std::string Text(const std::string& strPath)
    {
        const Bytes ab = ReadWholeFile(strPath);
        return std::string(ab.begin(), ab.end());
    }

    std::vector<SChapterLine> InfoChapters(const std::string& strFile)
    {
        EXPECT_EQ(Run("info '" + strFile + "'"), 0) << m_strErr;
        std::vector<SChapterLine> lines;
        std::istringstream out(m_strOut);
        for (std::string strLine; std::getline(out, strLine);) {
            char strStart[32] = {}, strEnd[32] = {};
            unsigned nNumber = 0;
            int nTitleAt = 0;
            if (std::sscanf(strLine.c_str(), "chapter %u %31s %31s %n", &nNumber, strStart, strEnd, &nTitleAt) < 3)
                continue;
            EXPECT_EQ(nNumber, lines.size() + 1) << strLine;
            lines.push_back({ Milliseconds(strStart), Milliseconds(strEnd), strLine.substr(static_cast<size_t>(nTitleAt)) });
        }
        return lines;
    }

    std::vector<SChapterLine> ProbedChapters(const std::string& strFile)
    {
        const std::string strCommand = "ffprobe -v error -show_entries chapter=start_time,end_time:chapter_tags=title "
                                       "-of csv=p=0 '" + strFile + "' >" + Path("probe.txt");
        EXPECT_EQ(std::system(strCommand.c_str()), 0) << strCommand;
        std::vector<SChapterLine> lines;
        std::istringstream out(Text(Path("probe.txt")));
        for (std::string strLine; std::getline(out, strLine);) {
            const size_t nFirst = strLine.find(',');
            const size_t nSecond = strLine.find(',', nFirst + 1);
            lines.push_back({ ProbeMilliseconds(strLine.substr(0, nFirst)),
                ProbeMilliseconds(strLine.substr(nFirst + 1, nSecond - nFirst - 1)), strLine.substr(nSecond + 1) });
        }
        return lines;
    }

    CTempDir m_dir;
    std::string m_strOut;
    std::string m_strErr;
};

TEST_F(ChapterCommandTest, InfoListsTheChaptersFfprobeReads)
{
    struct SCase {
        const char* strName;
        const char* strFormat;
    };
    for (const SCase& c : { SCase { "book.m4b", "AAC" }, SCase { "book.mp3", "MP3" }, SCase { "book.ogg", "Vorbis" } }) {
        const std::string strFile = MakeChapterBook(m_dir, c.strName);
        const std::vector<SChapterLine> probed = ProbedChapters(strFile);
        EXPECT_EQ(probed.size(), std::size(kBookChapters)) << c.strName;
        EXPECT_EQ(InfoChapters(strFile), probed) << c.strName;
        EXPECT_EQ(m_strOut.substr(0, m_strOut.find("chapter 1 ")),
            "path: " + strFile + "\nformat: " + c.strFormat
                + "\nduration: 0:00:06.144\ntitle: The Book\nartist: An Author\nalbum: \u7B2C\u4E00\u5DFB\n")
            << c.strName;
    }
}

// Chapters come sorted, one per start, and none from the end on; a file that
// cannot be read is told and the others still printed, a blank line apart.
TEST_F(ChapterCommandTest, InfoPrintsEveryReadableFileInItsLines)
{
    const std::string strMetadata = ";FFMETADATA1\ntitle=Odd\n"
                                    "CHAPTER001=00:00:03.000\nCHAPTER001NAME=C\n"
                                    "CHAPTER002=00:00:00.000\nCHAPTER002NAME=A\n"
                                    "CHAPTER003=00:00:01.500\nCHAPTER003NAME=B\tand tab\n"
                                    "CHAPTER004=00:00:01.500\nCHAPTER004NAME=B again\n"
                                    "CHAPTER005=00:00:07.000\nCHAPTER005NAME=Past the end\n";
    const std::string strSource = MakeChapterBook(m_dir, "book.wav");
    const std::string strCommand = "ffmpeg -nostdin -v error -y -i '" + strSource + "' -i '"
        + m_dir.Write("odd.txt", Bytes(strMetadata.begin(), strMetadata.end())) + "' -map 0:a -map_metadata 1 '"
        + Path("odd.flac") + "'";
    ASSERT_EQ(std::system(strCommand.c_str()), 0) << strCommand;
    EXPECT_EQ(Run("info " + Path("odd.flac") + " " + Path("missing.mp3") + " " + strSource), 1);
    EXPECT_EQ(m_strOut,
        "path: " + Path("odd.flac") + "\nformat: FLAC\nduration: 0:00:06.144\ntitle: Odd\nartist: \nalbum: \n"
        "chapter 1 0:00:00.000 0:00:01.500 A\n"
        "chapter 2 0:00:01.500 0:00:03.000 B and tab\n"
        "chapter 3 0:00:03.000 0:00:06.144 C\n"
        "\n"
        "path: " + strSource + "\nformat: WAV\nduration: 0:00:06.144\ntitle: \nartist: \nalbum: \n");
    EXPECT_NE(m_strErr.find("velofon: skipping " + Path("missing.mp3") + ": cannot be opened"), std::string::npos)
        << m_strErr;
    EXPECT_EQ(Run("info"), 2);
    EXPECT_EQ(Run("info --frobnicate " + strSource), 2);
}

// The stretch of the first input renders as its frames of the full decode,
// cut into a WAV of their own, do; the input after it plays whole.
TEST_F(ChapterCommandTest, ChapterAndEndRenderTheFramesCutIntoAFileOfTheirOwn)
{
    struct SCase {
        const char* strName;
        std::string strStretch;
        std::string strOptions;
        uint64_t nStart;
        uint64_t nEnd;
    };
    const SCase aCases[] = {
        { "book.mp3", "--chapter 2", "--speed 2.5", kBookChapters[1].nStartFrame, kBookChapters[2].nStartFrame },
        { "book.ogg", "--chapter 3", "--clear --speed 3.2", kBookChapters[2].nStartFrame, kBookFrames },
        { "book.flac", "--chapter 1", "--speed 1.0 --alpha 20", 0, kBookChapters[1].nStartFrame },
        { "book.mp3", "--end 0:02.5", "--speed 3", 0, 120000 },
        { "book.wav", "--start 1.5 --end 4.2501", "--skip-silence --speed 1.7", 72000, 204004 },
    };
    for (const SCase& c : aCases) {
        SCOPED_TRACE(std::string(c.strName) + " " + c.strStretch);
        const std::string strFile = MakeChapterBook(m_dir, c.strName);
        const Bytes abFrames = DecodedFrames(strFile);
        ASSERT_EQ(abFrames.size(), kBookFrames * 2);
        const std::string strCut = m_dir.Write("cut.wav",
            MakeWav(1, kBookRate, 2, Bytes(abFrames.begin() + static_cast<ptrdiff_t>(c.nStart * 2),
                                         abFrames.begin() + static_cast<ptrdiff_t>(c.nEnd * 2))));
        ASSERT_EQ(Run("render --raw " + c.strOptions + " -o " + Path("cut.raw") + " " + strCut + " " + strFile), 0)
            << m_strErr;
        ASSERT_EQ(Run("render --raw " + c.strOptions + " " + c.strStretch + " -o " + Path("stretch.raw") + " "
                      + strFile + " " + strFile), 0) << m_strErr;
        EXPECT_EQ(m_strErr.find("warning"), std::string::npos) << m_strErr;
        EXPECT_GT(ReadWholeFile(Path("cut.raw")).size(), 0u);
        EXPECT_TRUE(ReadWholeFile(Path("stretch.raw")) == ReadWholeFile(Path("cut.raw")));
    }
}

TEST_F(ChapterCommandTest, AChapterTheInputLacksSkipsItAndBadStretchesAreUsageErrors)
{
    const std::string strMp3 = MakeChapterBook(m_dir, "book.mp3");
    const std::string strWav = MakeChapterBook(m_dir, "book.wav");
    const std::string strOut = " -o " + Path("o.wav") + " ";
    EXPECT_EQ(Run("render --chapter 4" + strOut + strMp3 + " " + strWav), 1);
    EXPECT_NE(m_strErr.find("velofon: skipping " + strMp3 + ": no chapter 4 (it has 3)"), std::string::npos) << m_strErr;
    EXPECT_EQ(Run("render --chapter=1" + strOut + strWav), 1);
    EXPECT_NE(m_strErr.find("velofon: skipping " + strWav + ": no chapter 1 (it has none)"), std::string::npos)
        << m_strErr;
    for (const char* strStretch : { "--chapter 0", "--chapter x", "--chapter 2 --end 3", "--start 1 --chapter 2",
             "--start 3 --end 2", "--start 2.50 --end 2.5", "--end 0", "--end 1:60", "--end" }) {
        EXPECT_EQ(Run(std::string("render ") + strStretch + strOut + strMp3), 2) << strStretch;
        EXPECT_NE(m_strErr.find("velofon: "), std::string::npos) << strStretch;
    }
}

} // namespace
