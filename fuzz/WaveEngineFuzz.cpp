// Fuzz target for the WAV reader and the whole engine. The first bytes of an
// input set what the player sets (speed, Mixing, Alpha, a seek position), the
// rest is the file. The file plays in the exact mode, then again in the clear
// mode, with silence skipped or not. One engine serves every input, as in the player: its
// buffers are fixed, and what one file leaves behind (the tone phase) carries
// over to the next.
#include "FuzzInput.h"

#include "engine/SpeedEngine.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <string>
#include <unistd.h>

namespace {

// Speed at Open, speed set afterwards and at the reopen, Mixing, Alpha,
// Alpha after the seek, seek position (4 bytes).
constexpr size_t kControlBytes = 9;
// Longer files take longer without reaching new code.
constexpr size_t kMaxFileBytes = 256 * 1024;
// The player's output buffer.
constexpr uint32_t kBufferBytes = 30000;

// Mostly the player's 31 steps; now and then a speed it never sends: some the
// rate table still covers, some the engine must refuse.
double SpeedOfControl(uint8_t b)
{
    static const double kOdd[] = { 0.5, 4.5, 12.0, 0.0, -1.0, 12.1, std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity() };
    if (static_cast<size_t>(b) < 256 - std::size(kOdd))
        return ((b % 31) + 10) * 0.1;
    return kOdd[b - (256 - std::size(kOdd))];
}

// True for the speeds that are outside the rate table whatever the file.
bool OutsideRateTable(double dSpeed)
{
    return !(dSpeed > 0.0) || !(dSpeed * 10 < 121);
}

// Mixing percent / 5 as the player sets it (0 to 20), or what a hand-edited
// settings file can give.
int32_t MixingOfControl(uint8_t b)
{
    static const int32_t kOdd[] = { -1, -20, 21, 100, 16383, 16384, INT32_MAX / 5, INT32_MIN / 5, INT32_MAX,
        INT32_MIN };
    if (static_cast<size_t>(b) < 256 - std::size(kOdd))
        return b % 21;
    return kOdd[b - (256 - std::size(kOdd))];
}

int32_t AlphaLevelOfControl(uint8_t b)
{
    static const int32_t kOdd[] = { -1, -50, 51, 100, 1000, 32767, 65536, INT32_MAX, INT32_MIN };
    if (static_cast<size_t>(b) < 256 - std::size(kOdd))
        return b % 51;
    return kOdd[b - (256 - std::size(kOdd))];
}

// Mostly a place inside the file; sometimes near the top of the 32-bit range.
uint32_t SeekOfControl(const uint8_t* p, size_t nFileBytes)
{
    const uint32_t n = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    if (p[3] >= 0xF0)
        return n;
    return static_cast<uint32_t>(n % (nFileBytes + 64));
}

// The file the engine opens, one per process, removed at exit.
struct STempFile {
    std::string strPath;
    STempFile()
    {
        const char* pDir = std::getenv("TMPDIR");
        strPath = std::string(pDir && pDir[0] ? pDir : "/tmp") + "/velofon-fuzz-" + std::to_string(::getpid()) + ".wav";
    }
    ~STempFile() { ::unlink(strPath.c_str()); }
};

// Fills that can carry output before the file's bytes (read from wherever
// the reader stands) are used up and the tracks drained. Each Fill that
// returns something mixes at least one hop, and all but the last fill the
// buffer; a segment moves the input on by a segment length.
uint64_t MaxFills(const CSpeedEngine& engine, size_t nFileBytes)
{
    const uint64_t nHop = static_cast<uint64_t>(std::max(engine.GetHop(), 1));
    const uint64_t nSegLen = static_cast<uint64_t>(std::max(engine.GetSegmentLength(), 1));
    const uint64_t nSegments = nFileBytes / nSegLen + CSpeedEngine::kTrackCount + 2;
    // Segments longer than four hops leave some hops without a new segment.
    const uint64_t nHops = nSegments * (nSegLen / nHop + 2);
    const uint64_t nHopsPerFill = nHop <= kBufferBytes / 16 ? kBufferBytes / 8 / nHop : 1;
    return nHops / nHopsPerFill + 2;
}

// Fills until the engine says the file is done; false when that takes more
// than nMaxFills buffers.
bool FillToEnd(CSpeedEngine& engine, uint8_t* pBuffer, uint64_t nMaxFills)
{
    uint64_t nLastHeard = 0;
    for (uint64_t nFill = 0; nFill <= nMaxFills; ++nFill) {
        const uint32_t n = engine.Fill(pBuffer, kBufferBytes);
        FUZZ_CHECK(n % 4 == 0 && n < kBufferBytes);
        if (n == 0)
            return true;
        // Whole hops only, in the exact mode.
        FUZZ_CHECK(engine.IsClearActive()
            || (engine.GetHop() > 0 && n % (4 * static_cast<uint32_t>(engine.GetHop())) == 0));
        // What the player shows while it plays.
        engine.GetPositionSec();
        engine.GetLengthSec();
        // What is heard moves on with what is played.
        const uint64_t nHeard = engine.HeardFrame(nFill * (kBufferBytes / 4));
        FUZZ_CHECK(nHeard >= nLastHeard);
        nLastHeard = nHeard;
    }
    return false;
}

// The clear mode's output of a file from nFrame on, to its end, as a hash;
// its length is at most the input's (speeds start at 1.0), so the buffers
// it fills are bounded by the file's size.
uint64_t ClearHash(CSpeedEngine& engine, const std::string& strPath, double dSpeed, uint64_t nFrame,
    uint8_t* pBuffer, size_t nFileBytes)
{
    if (!engine.Open(strPath, dSpeed))
        return 0;
    engine.SeekFrame(nFrame);
    uint64_t nHash = 14695981039346656037u; // FNV-1a
    const uint64_t nMaxFills = nFileBytes / (kBufferBytes / 4) + 4;
    uint64_t nFill = 0;
    for (uint32_t n; (n = engine.Fill(pBuffer, kBufferBytes)) > 0; ++nFill) {
        FUZZ_CHECK(n % 4 == 0 && n <= kBufferBytes && nFill < nMaxFills);
        for (uint32_t i = 0; i < n; ++i)
            nHash = (nHash ^ pBuffer[i]) * 1099511628211u;
    }
    FUZZ_CHECK(engine.Close());
    return nHash;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < kControlBytes)
        return 0;
    static CSpeedEngine s_engine(2.0);
    static const STempFile s_file;
    // Exactly the player's buffer, so that a write past it is caught.
    static uint8_t* const s_pBuffer = new uint8_t[kBufferBytes];

    const double dSpeed = SpeedOfControl(pData[0]);
    const double dNextSpeed = SpeedOfControl(pData[1]);
    const int32_t nAlphaLevelLater = AlphaLevelOfControl(pData[4]);
    const size_t nFileBytes = std::min(nSize - kControlBytes, kMaxFileBytes);
    const uint32_t nSeek = SeekOfControl(pData + 5, nFileBytes);
    s_engine.m_nMixingGain = MixingOfControl(pData[2]);
    s_engine.m_bAlpha = pData[3] & 1;
    s_engine.m_nAlphaLevel = AlphaLevelOfControl(pData[3]);

    const std::string& strPath = s_file.strPath;
    WriteInputFile(strPath, pData + kControlBytes, nFileBytes);

    if (s_engine.Open(strPath, dSpeed)) {
        FUZZ_CHECK(!OutsideRateTable(dSpeed));
        FUZZ_CHECK(s_engine.GetFormat() != nullptr);
        FUZZ_CHECK(!s_engine.Open(strPath, dSpeed) && s_engine.GetOpenError() == EOpenError::AlreadyOpen);
        FUZZ_CHECK(FillToEnd(s_engine, s_pBuffer, MaxFills(s_engine, nFileBytes)));

        // The player's seek after a restart, and a speed step and an Alpha
        // change while a file plays.
        s_engine.Seek(nSeek);
        s_engine.SetSpeed(dNextSpeed);
        s_engine.m_nAlphaLevel = nAlphaLevelLater;
        FUZZ_CHECK(FillToEnd(s_engine, s_pBuffer, MaxFills(s_engine, nFileBytes)));
        FUZZ_CHECK(s_engine.Close());
    } else {
        FUZZ_CHECK(s_engine.GetOpenError() != EOpenError::None);
    }
    // A failed Open leaves nothing open.
    FUZZ_CHECK(!s_engine.Close());

    if (s_engine.Open(strPath, dNextSpeed)) {
        FUZZ_CHECK(!OutsideRateTable(dNextSpeed));
        s_engine.Seek(nSeek);
        FUZZ_CHECK(FillToEnd(s_engine, s_pBuffer, MaxFills(s_engine, nFileBytes)));
        FUZZ_CHECK(s_engine.Close());
    }

    // The clear mode ends, and a start at a frame sounds the same however
    // the engine got there (without the tones, whose phase runs on).
    s_engine.SetClearSpeech(true);
    s_engine.SetSkipSilence(pData[4] & 1);
    s_engine.m_bAlpha = 0;
    const uint64_t nFrame = nSeek / 4;
    const uint64_t nHash = ClearHash(s_engine, strPath, dSpeed, nFrame, s_pBuffer, nFileBytes);
    ClearHash(s_engine, strPath, dNextSpeed, 0, s_pBuffer, nFileBytes);
    FUZZ_CHECK(ClearHash(s_engine, strPath, dSpeed, nFrame, s_pBuffer, nFileBytes) == nHash);
    s_engine.SetClearSpeech(false);
    s_engine.SetSkipSilence(false);
    return 0;
}
