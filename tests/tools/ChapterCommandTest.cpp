// velofon info, and render --chapter and --end, over a short book made at
// test time by the ffmpeg program from one FFMETADATA file, in the
// containers listeners have: the chapters are those ffprobe reads, and a
// stretch renders as its frames cut into a file of their own do.
#include "../WavBytes.h"
#include "tools/SkipReason.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace {

// 6.144 s at 48 kHz: whole AAC and MP3 frames, so that no encoder pads the
// end, and a whole number of frames in each millisecond.
constexpr uint32_t kBookRate = 48000;
constexpr uint64_t kBookFrames = 294912;
// The chapters' first frames, as the metadata gives them.
constexpr uint64_t kBookChapterStarts[] = { 0, 1234 * 48, 3500 * 48 };

void Ffmpeg(const std::string& strArguments)
{
    const std::string strCommand = "ffmpeg -nostdin -v error -y " + strArguments;
    if (std::system(strCommand.c_str()) != 0)
        throw std::runtime_error("failed: " + strCommand);
}

// Containers' chapters for M4B and MP3; Ogg and FLAC keep tags and chapters
// in the stream's comments.
const char kMetadata[] = ";FFMETADATA1\n"
                         "title=The Book\nartist=An Author\nalbum=\u7B2C\u4E00\u5DFB\n"
                         "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1234\ntitle=Opening\n"
                         "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1234\nEND=3500\ntitle=\u7B2C\u4E8C\u7AE0 The Middle\n"
                         "[CHAPTER]\nTIMEBASE=1/1000\nSTART=3500\nEND=6144\ntitle=Ending\n"
                         "[STREAM]\n"
                         "title=The Book\nartist=An Author\nalbum=\u7B2C\u4E00\u5DFB\n"
                         "CHAPTER001=00:00:00.000\nCHAPTER001NAME=Opening\n"
                         "CHAPTER002=00:00:01.234\nCHAPTER002NAME=\u7B2C\u4E8C\u7AE0 The Middle\n"
                         "CHAPTER003=00:00:03.500\nCHAPTER003NAME=Ending\n";

// The book as strName in dir: an M4B's chapter list, an MP3's CHAP frames,
// CHAPTERnnn tags in Ogg and FLAC; the wav is the source, without chapters.
std::string MakeChapterBook(const CTempDir& dir, const std::string& strName)
{
    Bytes abData(kBookFrames * 2);
    for (size_t i = 0; i < abData.size(); ++i)
        abData[i] = static_cast<uint8_t>((i * i + 7 * i) >> 7);
    const std::string strSource = dir.Write("book-source.wav", MakeWav(1, kBookRate, 2, abData));
    const std::string strExtension = strName.substr(strName.rfind('.') + 1);
    if (strExtension == "wav")
        return strSource;
    const std::string strMetadata = dir.Write("book.txt", Bytes(std::begin(kMetadata), std::end(kMetadata) - 1));
    const std::string strOptions = strExtension == "m4b" ? "-map_metadata 1 -map_chapters 1 -c:a aac"
        : strExtension == "mp3"                          ? "-map_metadata 1 -map_chapters 1 -c:a libmp3lame"
        : strExtension == "ogg"                          ? "-map_metadata:s:a:0 1:s:0 -map_chapters -1 -c:a libvorbis"
                                                         : "-map_metadata 1:s:0 -map_chapters -1";
    const std::string strPath = dir.Path() + "/" + strName;
    Ffmpeg("-i '" + strSource + "' -i '" + strMetadata + "' -map 0:a " + strOptions + " '" + strPath + "'");
    return strPath;
}

// What the ffmpeg program decodes strPath to, as the decoder promises.
Bytes DecodedFrames(const std::string& strPath)
{
    Ffmpeg("-i '" + strPath + "' -map 0:a:0 -c:a pcm_s16le -f s16le '" + strPath + ".raw'");
    return ReadWholeFile(strPath + ".raw");
}

class ChapterCommandTest : public ::testing::Test {
protected:
    // Runs velofon; keeps standard output in m_strOut and error in m_strErr.
    int Run(const std::string& strArgs)
    {
        const int nStatus = std::system((std::string(VELOFON_EXE) + " " + strArgs + " >" + Path("out.txt") + " 2>"
            + Path("err.txt")).c_str());
        m_strOut = Text(Path("out.txt"));
        m_strErr = Text(Path("err.txt"));
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }

    static std::string Text(const std::string& strPath)
    {
        const Bytes ab = ReadWholeFile(strPath);
        return std::string(ab.begin(), ab.end());
    }

    // ffprobe's chapters as info's lines: "4.000000" rounded down to the millisecond.
    std::string ProbedChapterLines(const std::string& strFile)
    {
        const std::string strCommand = "ffprobe -v error -show_entries chapter=start_time,end_time:chapter_tags=title "
                                       "-of csv=p=0 '" + strFile + "' >" + Path("probe.txt");
        EXPECT_EQ(std::system(strCommand.c_str()), 0) << strCommand;
        auto time = [](const std::string& strSeconds) {
            const size_t nPoint = strSeconds.find('.');
            return FormatFrameTime(std::stoull(strSeconds.substr(0, nPoint)) * 1000
                    + std::stoull(strSeconds.substr(nPoint + 1, 3)), 1000);
        };
        std::istringstream probe(Text(Path("probe.txt")));
        std::string strLines;
        int nChapter = 0;
        for (std::string strStart, strEnd, strTitle; std::getline(probe, strStart, ',') && std::getline(probe, strEnd, ',')
             && std::getline(probe, strTitle);) {
            strLines += "chapter " + std::to_string(++nChapter) + " " + time(strStart) + " " + time(strEnd) + " "
                + strTitle + "\n";
        }
        return strLines;
    }

    CTempDir m_dir;
    std::string m_strOut;
    std::string m_strErr;
};

TEST_F(ChapterCommandTest, InfoListsTheTagsAndTheChaptersFfprobeReads)
{
    for (const auto& [strName, strFormat] : { std::pair("book.m4b", "AAC"), std::pair("book.mp3", "MP3"),
             std::pair("book.ogg", "Vorbis") }) {
        const std::string strFile = MakeChapterBook(m_dir, strName);
        const std::string strChapters = ProbedChapterLines(strFile);
        EXPECT_EQ(std::count(strChapters.begin(), strChapters.end(), '\n'), 3) << strChapters;
        EXPECT_EQ(Run("info " + strFile), 0) << m_strErr;
        EXPECT_EQ(m_strOut, "path: " + strFile + "\nformat: " + strFormat + "\nduration: 0:00:06.144\n"
                "title: The Book\nartist: An Author\nalbum: \u7B2C\u4E00\u5DFB\n" + strChapters);
    }
}

// Chapters come sorted, one per start, and none from the end on; a file that
// cannot be read is told and the others still printed, a blank line apart.
TEST_F(ChapterCommandTest, InfoPrintsEveryReadableFileInItsLines)
{
    const std::string strMetadata = ";FFMETADATA1\ntitle=Odd\nCHAPTER001=00:00:03.000\nCHAPTER001NAME=C\n"
                                    "CHAPTER002=00:00:00.000\nCHAPTER002NAME=A\nCHAPTER003=00:00:01.500\n"
                                    "CHAPTER003NAME=B\tand tab\nCHAPTER004=00:00:01.500\nCHAPTER004NAME=B again\n"
                                    "CHAPTER005=00:00:07.000\nCHAPTER005NAME=Past the end\n";
    const std::string strWav = MakeChapterBook(m_dir, "book.wav");
    const std::string strFlac = Path("odd.flac");
    Ffmpeg("-i '" + strWav + "' -i '" + m_dir.Write("odd.txt", Bytes(strMetadata.begin(), strMetadata.end()))
        + "' -map 0:a -map_metadata 1 '" + strFlac + "'");
    EXPECT_EQ(Run("info " + strFlac + " " + Path("missing.mp3") + " " + strWav), 1);
    EXPECT_EQ(m_strOut, "path: " + strFlac + "\nformat: FLAC\nduration: 0:00:06.144\ntitle: Odd\nartist: \nalbum: \n"
            "chapter 1 0:00:00.000 0:00:01.500 A\nchapter 2 0:00:01.500 0:00:03.000 B and tab\n"
            "chapter 3 0:00:03.000 0:00:06.144 C\n\n"
            "path: " + strWav + "\nformat: WAV\nduration: 0:00:06.144\ntitle: \nartist: \nalbum: \n");
    EXPECT_NE(m_strErr.find("velofon: skipping " + Path("missing.mp3") + ": cannot be opened"), std::string::npos);
}

// The stretch of the first input renders as its frames of the full decode,
// cut into a WAV of their own, do; the input after it plays whole.
TEST_F(ChapterCommandTest, ChapterAndEndRenderTheFramesCutIntoAFileOfTheirOwn)
{
    struct SCase {
        const char* strName;
        std::string strOptions;
        std::string strStretch;
        uint64_t nStart;
        uint64_t nEnd;
    };
    const SCase aCases[] = {
        { "book.mp3", "--speed 2.5", "--chapter 2", kBookChapterStarts[1], kBookChapterStarts[2] },
        { "book.ogg", "--clear --speed 3.2", "--chapter 3", kBookChapterStarts[2], kBookFrames },
        { "book.flac", "--speed 1.0 --alpha 20", "--chapter 1", 0, kBookChapterStarts[1] },
        { "book.mp3", "--speed 3", "--end 0:02.5", 0, 120000 },
        { "book.wav", "--skip-silence --speed 1.7", "--start 1.5 --end 4.2501", 72000, 204004 },
    };
    for (const SCase& c : aCases) {
        SCOPED_TRACE(std::string(c.strName) + " " + c.strStretch);
        const std::string strFile = MakeChapterBook(m_dir, c.strName);
        const Bytes abFrames = DecodedFrames(strFile);
        ASSERT_EQ(abFrames.size(), kBookFrames * 2);
        const std::string strCut = m_dir.Write("cut.wav", MakeWav(1, kBookRate, 2,
            Bytes(abFrames.begin() + static_cast<ptrdiff_t>(c.nStart * 2), abFrames.begin() + static_cast<ptrdiff_t>(c.nEnd * 2))));
        ASSERT_EQ(Run("render --raw " + c.strOptions + " -o " + Path("cut.raw") + " " + strCut + " " + strFile), 0);
        ASSERT_EQ(Run("render --raw " + c.strOptions + " " + c.strStretch + " -o " + Path("stretch.raw") + " " + strFile
                      + " " + strFile), 0) << m_strErr;
        EXPECT_EQ(m_strErr.find("warning"), std::string::npos) << m_strErr;
        EXPECT_TRUE(ReadWholeFile(Path("stretch.raw")) == ReadWholeFile(Path("cut.raw")));
    }
    const std::string strMp3 = Path("book.mp3");
    EXPECT_EQ(Run("render --chapter 4 -o " + Path("o.wav") + " " + strMp3), 1);
    EXPECT_NE(m_strErr.find("skipping " + strMp3 + ": no chapter 4 (it has 3)"), std::string::npos) << m_strErr;
    for (const char* strStretch : { "--chapter 0", "--chapter 2 --end 3", "--start 2.50 --end 2.5", "--end 1:60" })
        EXPECT_EQ(Run(std::string("render ") + strStretch + " -o " + Path("o.wav") + " " + strMp3), 2) << strStretch;
}

} // namespace
