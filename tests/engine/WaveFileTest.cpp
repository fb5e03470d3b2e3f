// The WAV reader: header fields at fixed places, the first "data" tag, reads
// kept inside the data, block-rounded seeks, and the files it refuses.
#include "../WavBytes.h"
#include "engine/SoundFile.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Bytes Ramp(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 7 + 3);
    return b;
}

// Reads everything the reader delivers, in pieces of nPiece bytes.
Bytes Drain(CSoundFile& file, uint32_t nPiece = 1000)
{
    Bytes all;
    Bytes piece(nPiece);
    for (uint32_t n; (n = file.Read(piece.data(), nPiece)) > 0;)
        all.insert(all.end(), piece.begin(), piece.begin() + n);
    return all;
}

// A header with a LIST chunk between "fmt " and "data".
Bytes WithListChunk(const std::string& strListText, const Bytes& abData)
{
    Bytes b = MakeWav(1, 8000, 2, abData);
    Bytes list;
    Append(list, "LIST");
    AppendU32(list, static_cast<uint32_t>(strListText.size()));
    Append(list, strListText);
    b.insert(b.begin() + 36, list.begin(), list.end());
    return b;
}

class WaveFileTest : public ::testing::Test {
protected:
    CTempDir m_dir;
    CSoundFile m_file;
};

// The reader takes names ending in ".wav" in any case; FFmpeg any other,
// whatever it holds.
TEST_F(WaveFileTest, ExtensionChoosesTheReaderWithoutRegardToCase)
{
    const Bytes wav = MakeWav(1, 8000, 2, Ramp(100));
    const struct { const char* strName; bool bDecoded; } aCases[] = {
        { "a.WAV", false }, { "b.Wav", false }, { "c.wav", false }, { "d.wave", true }, { "e.mp3", true }, { "wav", true },
    };
    for (const auto& c : aCases) {
        CSoundFile file;
        ASSERT_TRUE(file.Open(m_dir.Write(c.strName, wav))) << c.strName;
        EXPECT_EQ(file.IsDecoded(), c.bDecoded) << c.strName;
        EXPECT_EQ(Drain(file), Ramp(100)) << c.strName;
    }
}

// a-law and µ-law bytes have the layout of 8-bit PCM but are no unsigned
// samples: read as such, quiet speech would play as loud noise. Their tag,
// direct or as an extensible header's subformat, sends them to FFmpeg.
TEST_F(WaveFileTest, LogarithmicTagsAreDecodedNotReadAsBytes)
{
    const Bytes abQuiet(800, 0xD5); // a-law's smallest positive step
    Bytes alaw = MakeWav(1, 8000, 1, abQuiet);
    PutU16(alaw, 20, 6);
    // The same as µ-law (0xFE is its -1) in a 40-byte extensible format chunk.
    Bytes mulaw = MakeWav(1, 8000, 1, Bytes(800, 0xFE));
    PutU32(mulaw, 16, 40);
    PutU16(mulaw, 20, 0xFFFE);
    const Bytes abExtension = { 22, 0, 8, 0, 4, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71 };
    mulaw.insert(mulaw.begin() + 36, abExtension.begin(), abExtension.end());
    for (const Bytes& abFile : { alaw, mulaw }) {
        CSoundFile file;
        ASSERT_TRUE(file.Open(m_dir.Write("law.wav", abFile)));
        EXPECT_TRUE(file.IsDecoded());
        EXPECT_EQ(file.GetFormat()->wBitsPerSample, 16u);
        const Bytes abSamples = Drain(file);
        ASSERT_EQ(abSamples.size(), 2 * abQuiet.size());
        for (size_t i = 0; i < abSamples.size(); i += 2)
            ASSERT_LE(std::abs(static_cast<int16_t>(abSamples[i] | (abSamples[i + 1] << 8))), 8) << "sample " << i / 2;
    }
}

TEST_F(WaveFileTest, CanonicalHeaderGivesFormatAndDataAt44)
{
    Bytes wav = MakeWav(2, 22050, 4, Ramp(400));
    PutU16(wav, 20, 0x55); // a compressed format tag is ignored
    ASSERT_TRUE(m_file.Open(m_dir.Write("x.wav", wav)));
    const WAVEFORMATEX& wfx = *m_file.GetFormat();
    EXPECT_EQ(wfx.wFormatTag, 1);
    EXPECT_EQ(wfx.nChannels, 2);
    EXPECT_EQ(wfx.nSamplesPerSec, 22050u);
    EXPECT_EQ(wfx.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(wfx.nBlockAlign, 4);
    EXPECT_EQ(wfx.wBitsPerSample, 16);
    EXPECT_EQ(wfx.cbSize, 0);
    EXPECT_EQ(m_file.WaveFile().DataOffset(), 44u);
    EXPECT_EQ(m_file.WaveFile().DataSize(), 400u);
    EXPECT_EQ(m_file.GetPosition(), 44u);
    EXPECT_EQ(Drain(m_file, 64), Ramp(400));
}

TEST_F(WaveFileTest, FirstDataTagWinsEvenInsideAnotherChunk)
{
    ASSERT_TRUE(m_file.Open(m_dir.Write("list.wav", WithListChunk("INFOtitle", Ramp(50)))));
    EXPECT_EQ(m_file.WaveFile().DataOffset(), 44u + 17u);
    EXPECT_EQ(Drain(m_file), Ramp(50));
    ASSERT_TRUE(m_file.Close());

    // "data" inside the LIST text: the 4 bytes after it are taken as the size.
    Bytes wav = WithListChunk(std::string("xxdata\x08\x00\x00\x00yyzz", 14), Ramp(50));
    ASSERT_TRUE(m_file.Open(m_dir.Write("trap.wav", wav)));
    EXPECT_EQ(m_file.WaveFile().DataOffset(), 36u + 8u + 2u + 8u);
    EXPECT_EQ(m_file.WaveFile().DataSize(), 8u);
    EXPECT_EQ(Drain(m_file), Bytes({ 'y', 'y', 'z', 'z', 'd', 'a', 't', 'a' }));
}

TEST_F(WaveFileTest, LongFormatChunkShiftsDataButNotTheSeekGrid)
{
    // An 18-byte format chunk puts the data at 46; blocks count from byte 0.
    Bytes wav = MakeWav(2, 8000, 4, Ramp(64));
    PutU32(wav, 16, 18);
    wav.insert(wav.begin() + 36, { 0, 0 });
    ASSERT_TRUE(m_file.Open(m_dir.Write("fmt18.wav", wav)));
    EXPECT_EQ(m_file.GetPosition(), 46u);
    m_file.Seek(0);
    EXPECT_EQ(m_file.GetPosition(), 44u);
    Bytes piece(4);
    EXPECT_EQ(m_file.Read(piece.data(), 4), 4u);
    // The upper half of the size field, then the first two data bytes.
    EXPECT_EQ(piece, Bytes({ 0, 0, 3, 10 }));
}

TEST_F(WaveFileTest, TrailingChunkIsNeverDeliveredButCountsInLength)
{
    Bytes wav = MakeWav(1, 8000, 1, Ramp(1000));
    Append(wav, "LIST");
    AppendU32(wav, 7000);
    wav.resize(wav.size() + 7000, 0xEE);
    ASSERT_TRUE(m_file.Open(m_dir.Write("tail.wav", wav)));
    EXPECT_EQ(m_file.GetLengthSec(), wav.size() / 8000 / 1);
    EXPECT_EQ(Drain(m_file, 3000), Ramp(1000));
    // Each read moved the position on as if the trailing bytes had been read:
    // the one that delivered the last 1000 bytes and the one that found nothing.
    EXPECT_EQ(m_file.GetPosition(), 44u + 2u * 3000u);
    EXPECT_EQ(m_file.GetPositionSec(), 0u);
}

TEST_F(WaveFileTest, DeclaredSizesOutsideTheFile)
{
    // Data size at offset 40 set so that offset + size reaches 2^32, as
    // streaming writers leave it, or 0, as a recorder that died leaves it:
    // the data runs to the end of the file, and a seek past it lands 16 bytes
    // before that end. One less than 2^32 keeps its meaning.
    Bytes wav = MakeWav(1, 8000, 2, Ramp(100));
    for (uint32_t nSize : { 0xFFFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFD4u, 0u }) {
        PutU32(wav, 40, nSize);
        ASSERT_TRUE(m_file.Open(m_dir.Write("wrap.wav", wav)));
        EXPECT_TRUE(m_file.WaveFile().DataRunsToEnd());
        EXPECT_EQ(Drain(m_file, 33), Ramp(100)) << nSize;
        m_file.Seek(0xFFFFFFFFu);
        EXPECT_EQ(m_file.GetPosition(), 44u + 100u - 16u);
        m_file.Close();
    }
    PutU32(wav, 40, 0xFFFFFFD3u);
    ASSERT_TRUE(m_file.Open(m_dir.Write("nowrap.wav", wav)));
    EXPECT_FALSE(m_file.WaveFile().DataRunsToEnd());
    m_file.Seek(0xFFFFFFFFu);
    EXPECT_EQ(m_file.GetPosition(), 0xFFFFFFFEu) << "the declared end is inside, rounded down to a block";
    m_file.Close();

    // Larger than the file: reads run to the physical end.
    PutU32(wav, 40, 1000000);
    ASSERT_TRUE(m_file.Open(m_dir.Write("big.wav", wav)));
    EXPECT_EQ(Drain(m_file, 33), Ramp(100));
}

TEST_F(WaveFileTest, SeekClampsIntoTheDataAndRoundsToBlocks)
{
    ASSERT_TRUE(m_file.Open(m_dir.Write("s.wav", MakeWav(2, 8000, 4, Ramp(400)))));
    m_file.Seek(0);
    EXPECT_EQ(m_file.GetPosition(), 44u);
    m_file.Seek(103);
    EXPECT_EQ(m_file.GetPosition(), 100u);
    m_file.Seek(444);
    EXPECT_EQ(m_file.GetPosition(), 444u) << "the end itself is inside";
    m_file.Seek(445);
    EXPECT_EQ(m_file.GetPosition(), 428u) << "16 bytes before the end";
    m_file.Seek(0xFFFFFFFFu);
    EXPECT_EQ(m_file.GetPosition(), 428u);
}

TEST_F(WaveFileTest, SecondsDivideByRateThenBlockAlignment)
{
    Bytes wav = MakeWav(2, 22050, 4, Bytes(882000));
    ASSERT_EQ(wav.size(), 882044u);
    ASSERT_TRUE(m_file.Open(m_dir.Write("ten.wav", wav)));
    EXPECT_EQ(m_file.GetLengthSec(), 10u);
    m_file.Seek(44 + 441000);
    EXPECT_EQ(m_file.GetPositionSec(), 5u);
}

TEST_F(WaveFileTest, SecondOpenFailsAndFirstFileStaysReadable)
{
    ASSERT_TRUE(m_file.Open(m_dir.Write("one.wav", MakeWav(1, 8000, 1, Ramp(10)))));
    EXPECT_FALSE(m_file.Open(m_dir.Write("two.wav", MakeWav(1, 8000, 1, Ramp(20)))));
    EXPECT_EQ(m_file.GetLastError(), EOpenError::AlreadyOpen);
    EXPECT_EQ(Drain(m_file), Ramp(10));
    EXPECT_TRUE(m_file.Close());
    EXPECT_FALSE(m_file.Close());
}

TEST_F(WaveFileTest, ClosedReaderAnswersZero)
{
    ASSERT_TRUE(m_file.Open(m_dir.Write("c.wav", MakeWav(1, 8000, 1, Ramp(10)))));
    m_file.Close();
    Bytes piece(10);
    EXPECT_EQ(m_file.Read(piece.data(), 10), 0u);
    EXPECT_EQ(m_file.GetLengthSec(), 0u);
    EXPECT_EQ(m_file.GetPositionSec(), 0u);
    EXPECT_EQ(m_file.GetPosition(), 0u);
    m_file.Seek(50);
    EXPECT_EQ(m_file.GetPosition(), 0u);
    ASSERT_NE(m_file.GetFormat(), nullptr);
    EXPECT_EQ(m_file.GetFormat()->nSamplesPerSec, 8000u) << "the last file's record stays";
}

struct SRefusal {
    const char* strName;
    Bytes abFile;
    EOpenError eError;
};

TEST_F(WaveFileTest, RefusedFilesLeaveNothingOpen)
{
    const Bytes good = MakeWav(1, 8000, 2, Ramp(100));
    Bytes noTag = MakeWav(1, 8000, 2, Ramp(5000));
    std::memcpy(&noTag[36], "dat_", 4);
    Bytes tagTooLate = noTag;
    std::memcpy(&tagTooLate[4100], "data", 4);
    Bytes cutSize(good.begin(), good.begin() + 43); // tag at n - 7
    Bytes cutSize2(good.begin(), good.begin() + 41); // tag at n - 5
    Bytes rate0 = good;
    PutU32(rate0, 24, 0);
    Bytes align0 = good;
    PutU16(align0, 32, 0);
    const SRefusal aCases[] = {
        { "empty", Bytes(), EOpenError::TooShort },
        { "35 bytes", Bytes(good.begin(), good.begin() + 35), EOpenError::TooShort },
        { "no data tag", noTag, EOpenError::NoDataChunk },
        { "tag beyond 4096", tagTooLate, EOpenError::NoDataChunk },
        { "size field cut at n-7", cutSize, EOpenError::NoDataChunk },
        { "size field cut at n-5", cutSize2, EOpenError::NoDataChunk },
        { "rate at offset 24 set to 0", rate0, EOpenError::UnsupportedRate },
        { "block alignment at offset 32 set to 0", align0, EOpenError::UnsupportedLayout },
    };
    for (const SRefusal& refusal : aCases) {
        CWaveFile file;
        EXPECT_FALSE(file.Open(m_dir.Write("r.wav", refusal.abFile))) << refusal.strName;
        EXPECT_EQ(file.GetLastError(), refusal.eError) << refusal.strName;
        EXPECT_FALSE(file.Close()) << refusal.strName << ": nothing stays open";
        EXPECT_TRUE(file.Open(m_dir.Write("ok.wav", good))) << refusal.strName;
    }
    // The shortest acceptable file: 36 header bytes and a complete tag.
    Bytes minimal(good.begin(), good.begin() + 44);
    EXPECT_TRUE(CSoundFile().Open(m_dir.Write("min.wav", minimal)));
}

TEST_F(WaveFileTest, OnlyRegularFilesOpen)
{
    CSoundFile file;
    EXPECT_FALSE(file.Open(m_dir.Path() + "/missing.wav"));
    EXPECT_EQ(file.GetLastError(), EOpenError::CannotOpen);
    EXPECT_EQ(file.GetLastErrno(), ENOENT);

    const std::string strFifo = m_dir.Path() + "/fifo.wav";
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    const auto tStart = std::chrono::steady_clock::now();
    EXPECT_FALSE(file.Open(strFifo)) << "a FIFO without writer must not block";
    EXPECT_EQ(file.GetLastError(), EOpenError::NotRegularFile);
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(5));

    const std::string strDir = m_dir.Path() + "/folder.wav";
    ASSERT_EQ(::mkdir(strDir.c_str(), 0700), 0);
    EXPECT_FALSE(file.Open(strDir));
    EXPECT_EQ(file.GetLastError(), EOpenError::NotRegularFile);

    const std::string strDevice = m_dir.Path() + "/null.wav";
    ASSERT_EQ(::symlink("/dev/null", strDevice.c_str()), 0);
    EXPECT_FALSE(file.Open(strDevice));
    EXPECT_EQ(file.GetLastError(), EOpenError::NotRegularFile);
}

} // namespace
