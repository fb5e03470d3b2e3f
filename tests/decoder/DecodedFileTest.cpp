// The FFmpeg decoder held against the ffmpeg program: each format decodes to
// the samples "ffmpeg -c:a pcm_s16le" writes, a seek delivers what the full
// decode has from there on, and what must be refused is.
#include "../WavBytes.h"
#include "decoder/DecoderModule.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <sys/stat.h>

namespace {

using Samples = std::vector<int16_t>;

struct SFormat {
    const char* pszFile;      // made from the demo speech
    const char* pszEncode;    // ffmpeg's options for it
    const char* pszReference; // what the decode contract adds to the reference
    bool bExactAfterSeek;     // else only the position and length are
};

const SFormat kFormats[] = {
    { "speech.mp3", "-c:a libmp3lame -b:a 64k", "", true },
    { "speech.m4a", "-c:a aac -b:a 64k", "", false },
    { "speech.opus", "-c:a libopus -b:a 32k", "", false },
    { "speech.ogg", "-c:a libvorbis", "", true },
    { "speech.flac", "", "", true },
    { "alaw.wav", "-c:a pcm_alaw", "", true },
    { "mulaw.wav", "-c:a pcm_mulaw", "", true },
    { "s24.wav", "-c:a pcm_s24le", "", true },
    { "float.wav", "-c:a pcm_f32le", "", true },
    { "six.wav", "-af 'pan=5.1|FL=c0|FR=0.5*c0|FC=0.3*c0|LFE=0.2*c0|BL=0.7*c0|BR=0.1*c0'", "-ac 2", true },
    { "fast.wav", "-ar 96000 -c:a pcm_s24le", "-ar 48000", true },
};

class DecodedFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_pDir = new CTempDir; }
    static void TearDownTestSuite()
    {
        delete s_pDir;
        s_pDir = nullptr;
        s_made.clear();
    }
    void SetUp() override
    {
        ASSERT_EQ(std::system("command -v ffmpeg >/dev/null"), 0) << "these tests need the ffmpeg program on PATH";
    }

    // A decoded file from the module beside the test programs.
    static std::unique_ptr<IDecodedFile> NewFile()
    {
        std::string strWhy;
        std::unique_ptr<IDecodedFile> pFile = NewDecodedFile(strWhy);
        if (!pFile)
            throw std::runtime_error(strWhy);
        return pFile;
    }

    static std::string PathOf(const std::string& strName) { return s_pDir->Path() + "/" + strName; }

    static void Ffmpeg(const std::string& strArguments)
    {
        const std::string strCommand = "ffmpeg -nostdin -v error -y " + strArguments;
        ASSERT_EQ(std::system(strCommand.c_str()), 0) << strCommand;
    }

    // The demo speech encoded with these options, made once per suite.
    static std::string Make(const std::string& strName, const std::string& strOptions)
    {
        if (!s_made.count(strName))
            Ffmpeg("-i '" VELOFON_DEMO_WAV "' " + strOptions + " '" + PathOf(strName) + "'");
        s_made[strName] = true;
        return PathOf(strName);
    }

    // What the decode contract says the file decodes to: the data of the WAV
    // the ffmpeg program writes, with its channels and rate.
    static Samples Reference(const std::string& strPath, const std::string& strOptions, int* pnChannels = nullptr,
        int* pnRate = nullptr)
    {
        const std::string strWav = strPath + ".reference.wav";
        Ffmpeg("-i '" + strPath + "' -map 0:a:0 " + strOptions + " -c:a pcm_s16le -f wav '" + strWav + "'");
        const Bytes b = ReadWholeFile(strWav);
        for (size_t i = 12; i + 8 <= b.size();) {
            uint32_t nSize = 0;
            std::memcpy(&nSize, &b[i + 4], 4);
            if (!std::memcmp(&b[i], "fmt ", 4) && pnChannels && pnRate) {
                *pnChannels = b[i + 10] | b[i + 11] << 8;
                std::memcpy(pnRate, &b[i + 12], 4);
            }
            if (!std::memcmp(&b[i], "data", 4)) {
                Samples a(std::min<size_t>(nSize, b.size() - i - 8) / 2);
                std::memcpy(a.data(), &b[i + 8], a.size() * 2);
                return a;
            }
            i += 8 + nSize + (nSize & 1);
        }
        ADD_FAILURE() << "no data in " << strWav;
        return {};
    }

    // Everything Read delivers from here on, in odd-sized pieces.
    static Samples ReadToEnd(IDecodedFile& file, uint32_t nBytes = 3000)
    {
        Samples all;
        Samples piece(nBytes / 2);
        for (uint32_t n; (n = file.Read(piece.data(), nBytes)) > 0;)
            all.insert(all.end(), piece.begin(), piece.begin() + n / 2);
        return all;
    }

    static Samples Tail(const Samples& a, size_t nFrames, int nChannels)
    {
        const size_t nFrom = std::min(a.size(), nFrames * nChannels);
        return Samples(a.begin() + static_cast<ptrdiff_t>(nFrom), a.end());
    }

    static CTempDir* s_pDir;
    static std::map<std::string, bool> s_made;
};

CTempDir* DecodedFileTest::s_pDir = nullptr;
std::map<std::string, bool> DecodedFileTest::s_made;

class FormatTest : public DecodedFileTest, public ::testing::WithParamInterface<SFormat> { };

TEST_P(FormatTest, DecodesToWhatTheFfmpegProgramWrites)
{
    const std::string strPath = Make(GetParam().pszFile, GetParam().pszEncode);
    int nChannels = 0;
    int nRate = 0;
    const Samples reference = Reference(strPath, GetParam().pszReference, &nChannels, &nRate);
    const auto pFile = NewFile();
    IDecodedFile& file = *pFile;
    ASSERT_TRUE(file.Open(strPath)) << file.GetError();
    EXPECT_EQ(file.GetChannels(), nChannels);
    EXPECT_EQ(file.GetSampleRate(), static_cast<uint32_t>(nRate));
    EXPECT_EQ(ReadToEnd(file), reference);
    EXPECT_EQ(file.GetPositionFrames(), reference.size() / nChannels);
    EXPECT_EQ(file.GetLengthFrames(), reference.size() / nChannels);
}

TEST_P(FormatTest, SeekDeliversWhatTheFullDecodeHasFromThere)
{
    const std::string strPath = Make(GetParam().pszFile, GetParam().pszEncode);
    const Samples reference = Reference(strPath, GetParam().pszReference);
    const auto pFile = NewFile();
    IDecodedFile& file = *pFile;
    ASSERT_TRUE(file.Open(strPath)) << file.GetError();
    const int nChannels = file.GetChannels();
    const uint64_t nLength = reference.size() / nChannels;
    // Backwards and forwards, far and near; past the end stops at the end.
    for (uint64_t nFrame : { nLength / 2 + 7, nLength / 5, uint64_t { 0 }, nLength - 100, nLength / 3, nLength + 999 }) {
        file.Seek(nFrame);
        EXPECT_EQ(file.GetPositionFrames(), std::min(nFrame, nLength)) << nFrame;
        const Samples rest = ReadToEnd(file);
        if (GetParam().bExactAfterSeek)
            EXPECT_EQ(rest, Tail(reference, nFrame, nChannels)) << "from frame " << nFrame;
        else
            EXPECT_EQ(rest.size(), Tail(reference, nFrame, nChannels).size()) << "from frame " << nFrame;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatTest, ::testing::ValuesIn(kFormats),
    [](const auto& testCase) {
        std::string strName = testCase.param.pszFile;
        std::replace(strName.begin(), strName.end(), '.', '_');
        return strName;
    });

// A speed change closes and reopens the file and seeks to where reading
// stopped; that must not change a sample. AAC shows that no seek happened:
// its noise bands would come out different after one.
TEST_F(DecodedFileTest, ReopeningForASpeedChangeChangesNoSample)
{
    for (const SFormat& format : { kFormats[0], kFormats[1], kFormats[2] }) {
        const std::string strPath = Make(format.pszFile, format.pszEncode);
        const Samples reference = Reference(strPath, "");
        const auto pFile = NewFile();
        IDecodedFile& file = *pFile;
        ASSERT_TRUE(file.Open(strPath)) << file.GetError();
        Samples heard(reference.size() / 2 + 1000);
        heard.resize(file.Read(heard.data(), static_cast<uint32_t>(reference.size())) / 2);
        const uint64_t nStopped = file.GetPositionFrames();
        EXPECT_TRUE(file.Close());
        ASSERT_TRUE(file.Open(strPath)) << file.GetError();
        file.Seek(nStopped);
        const Samples rest = ReadToEnd(file);
        heard.insert(heard.end(), rest.begin(), rest.end());
        EXPECT_EQ(heard, reference) << format.pszFile;

        // Opened again and read without a seek, it starts at the beginning.
        file.Close();
        ASSERT_TRUE(file.Open(strPath));
        EXPECT_EQ(file.GetPositionFrames(), 0u);
        EXPECT_EQ(ReadToEnd(file, 4000), reference) << format.pszFile;
    }
}

TEST_F(DecodedFileTest, RefusesWhatIsNoAudioFile)
{
    const std::string strFifo = PathOf("fifo.mp3");
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    const Bytes text = { 'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't', '\n' };
    const std::string strVideo = PathOf("video.mp4");
    Ffmpeg("-f lavfi -i testsrc=d=1:s=64x48 -c:v mpeg4 " + strVideo);
    const std::pair<std::string, std::string> kCases[] = {
        { strFifo, "not a regular file" },
        { s_pDir->Path(), "not a regular file" },
        { PathOf("missing.mp3"), "cannot be opened (No such file or directory)" },
        { s_pDir->Write("text.mp3", text), "not an audio file FFmpeg can read" },
        { s_pDir->Write("empty.ogg", {}), "not an audio file FFmpeg can read" },
        { strVideo, "no audio stream" },
    };
    for (const auto& [strPath, strError] : kCases) {
        const auto pFile = NewFile();
        IDecodedFile& file = *pFile;
        EXPECT_FALSE(file.Open(strPath)) << strPath;
        EXPECT_EQ(file.GetError(), strError) << strPath;
        EXPECT_FALSE(file.IsOpen());
    }
}

// A playlist names another file; opening that one (here a FIFO without a
// writer) would hang, so getting past Open proves it was never opened.
TEST_F(DecodedFileTest, APlaylistOpensNothingElse)
{
    const std::string strPointed = PathOf("segment.mp3");
    ASSERT_EQ(::mkfifo(strPointed.c_str(), 0600), 0);
    const std::string strList = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10.0,\n" + strPointed + "\n#EXT-X-ENDLIST\n";
    const auto pFile = NewFile();
    IDecodedFile& file = *pFile;
    if (file.Open(s_pDir->Write("list.mp3", Bytes(strList.begin(), strList.end())))) {
        EXPECT_TRUE(ReadToEnd(file).empty());
    }
}

TEST_F(DecodedFileTest, AColonInTheNameIsPartOfTheName)
{
    const std::string strPath = Make(kFormats[0].pszFile, kFormats[0].pszEncode);
    const Samples reference = Reference(strPath, "");
    const std::string strColon = s_pDir->Write("ch1:intro.mp3", ReadWholeFile(strPath));
    const auto pFile = NewFile();
    IDecodedFile& file = *pFile;
    ASSERT_TRUE(file.Open(strColon)) << file.GetError();
    EXPECT_EQ(ReadToEnd(file), reference);
}

TEST_F(DecodedFileTest, ATruncatedFilePlaysWhatItHasAndEnds)
{
    const Bytes whole = ReadWholeFile(Make(kFormats[0].pszFile, kFormats[0].pszEncode));
    const std::string strCut = s_pDir->Write("cut.mp3", Bytes(whole.begin(), whole.begin() + whole.size() * 2 / 5));
    const Samples reference = Reference(strCut, "");
    const auto pFile = NewFile();
    IDecodedFile& file = *pFile;
    ASSERT_TRUE(file.Open(strCut)) << file.GetError();
    const Samples heard = ReadToEnd(file);
    EXPECT_GT(heard.size(), 0u);
    EXPECT_EQ(heard, reference);
}

} // namespace
