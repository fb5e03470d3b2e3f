// Fuzz target for the FFmpeg decoder's glue under the engine. The first bytes
// of an input choose what the player chooses (speeds, the file's name, Alpha,
// Mixing, a seek position), the rest is the file. The name mostly does not end
// in ".wav", so the decoder reads it; a ".wav" name sends a WAV the reader
// does not play itself (a-law, 24-bit, six channels, ...) there too. The file
// is played as the player plays one: open, fill, seek, fill, close, and the
// reopen at another speed that a speed step makes.
//
// Nothing but the input may be opened: not a playlist's entries, not a
// reference (see CWorkFolder).
//
// FFmpeg is set up only by the decoder (decoder/DecodeSession.cpp, which
// bounds its probing to 5 MB and 5 s as for the player): this target goes
// through the engine and sets nothing of its own.
#include "FuzzInput.h"

#include "decoder/DecoderModule.h"
#include "engine/SpeedEngine.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Speed at Open, speed at the reopen, name, flags (Alpha, how the reopen goes
// on, Mixing), seek position (4 bytes).
constexpr size_t kControlBytes = 8;
// Longer files take longer without reaching new code.
constexpr size_t kMaxFileBytes = 256 * 1024;
// The player's output buffer.
constexpr uint32_t kBufferBytes = 30000;
// Buffers filled per stretch of playing. A few hundred bytes can decode to
// hours, so the end is not awaited; 16 buffers carry 120,000 frames, at
// normal speed 2.5 seconds of a 48 kHz file, past the end of every seed.
constexpr int kMaxFills = 16;

// The endings a name gets; make-corpus.py names the same by index. FFmpeg's
// probe gives weight to a known extension, and ".wav" (in either case) sends
// the file to the WAV reader first.
const char* const kEndings[] = { "", ".wav", ".WAV", ".mp3", ".m4a", ".ogg", ".opus", ".flac", ".wv", ".aiff",
    ".au", ".caf", ".mka", ".webm", ".ac3", ".amr", ".mp2", ".wma", ".aac", ".m3u8", ".ffconcat", ".txt" };

// Mostly the player's 31 steps; now and then a speed it never sends: the
// table's ends, and two the engine refuses after the decoder has opened.
double SpeedOfControl(uint8_t b)
{
    static const double kOdd[] = { 0.5, 12.0, 0.0, std::numeric_limits<double>::quiet_NaN() };
    if (static_cast<size_t>(b) < 256 - std::size(kOdd))
        return ((b % 31) + 10) * 0.1;
    return kOdd[b - (256 - std::size(kOdd))];
}

bool OutsideRateTable(double dSpeed)
{
    return !(dSpeed > 0.0) || !(dSpeed * 10 < 121);
}

// How playing goes on after the reopen: as after the player's speed step (a
// seek to where reading stopped), from the seek position, or from the start
// (by a seek to 0 as the player starts a file, or by no seek at all).
enum class EReopen { WhereStopped, SeekPosition, SeekToStart, FromStart };

EReopen ReopenOfControl(uint8_t b)
{
    static const EReopen kModes[] = { EReopen::WhereStopped, EReopen::SeekPosition, EReopen::SeekToStart,
        EReopen::FromStart };
    return kModes[(b >> 1) & 3];
}

// Bytes of the decoded stream: mostly inside what the decoder takes the
// length to be, sometimes far past any end.
uint64_t SeekOfControl(const uint8_t* p, const CSpeedEngine& engine)
{
    const uint32_t n = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    if (p[3] == 0xFF)
        return std::numeric_limits<uint64_t>::max() - (n & 0xFFFFFF);
    if (p[3] >= 0xF0)
        return n;
    const uint64_t nLengthBytes = engine.SoundFile().GetLengthFrames() * engine.GetFormat()->nBlockAlign;
    return n % (nLengthBytes + 64);
}

// What a stretch of playing gave: how many buffers, their sizes and a hash of
// each, to compare two stretches that must sound the same.
struct SStretch {
    int nFills = 0;
    bool bEnded = false;
    uint32_t anBytes[kMaxFills] = {};
    uint64_t anHash[kMaxFills] = {};

    bool operator==(const SStretch& other) const
    {
        if (nFills != other.nFills || bEnded != other.bEnded)
            return false;
        for (int i = 0; i < nFills; ++i) {
            if (anBytes[i] != other.anBytes[i] || anHash[i] != other.anHash[i])
                return false;
        }
        return true;
    }
};

uint64_t Hash(const uint8_t* p, uint32_t n)
{
    uint64_t h = 14695981039346656037u; // FNV-1a
    for (uint32_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 1099511628211u;
    return h;
}

SStretch FillSome(CSpeedEngine& engine, uint8_t* pBuffer)
{
    SStretch stretch;
    while (stretch.nFills < kMaxFills) {
        const uint32_t n = engine.Fill(pBuffer, kBufferBytes);
        // The clear mode may fill the whole buffer.
        FUZZ_CHECK(n % 4 == 0 && (n < kBufferBytes || (engine.IsClearActive() && n == kBufferBytes)));
        if (n == 0) {
            stretch.bEnded = true;
            break;
        }
        // Whole hops only, in the exact mode.
        FUZZ_CHECK(engine.IsClearActive()
            || (engine.GetHop() > 0 && n % (4 * static_cast<uint32_t>(engine.GetHop())) == 0));
        stretch.anBytes[stretch.nFills] = n;
        stretch.anHash[stretch.nFills] = Hash(pBuffer, n);
        ++stretch.nFills;
        // What the player shows while it plays.
        engine.GetPositionSec();
        engine.GetLengthSec();
    }
    return stretch;
}

// The decoder delivers 16-bit frames of one or two channels at a rate the
// engine plays (at most 48 kHz, which fits every speed of the table).
void CheckDecodedFormat(const CSpeedEngine& engine)
{
    const WAVEFORMATEX* pFormat = engine.GetFormat();
    FUZZ_CHECK(pFormat != nullptr);
    FUZZ_CHECK(pFormat->nChannels == 1 || pFormat->nChannels == 2);
    FUZZ_CHECK(pFormat->nBlockAlign == 2 * pFormat->nChannels && pFormat->wBitsPerSample == 16);
    FUZZ_CHECK(pFormat->nSamplesPerSec >= CSoundFile::kLowestRate && pFormat->nSamplesPerSec <= 48000);
}

// A decoded file's seek lands on the frame asked for, or short of it where
// the decoder can read no further: its end, or a decode error (in a damaged
// file whose timestamps disagree with its sample counts, that may come before
// the end a play from the start found). Short of it, nothing more comes: the
// fills after the seek leave the position where it is.
SStretch SeekAndFill(CSpeedEngine& engine, uint64_t nPosition, uint8_t* pBuffer)
{
    engine.Seek(nPosition);
    const CSoundFile& file = engine.SoundFile();
    if (!file.IsDecoded())
        return FillSome(engine, pBuffer);
    const uint64_t nTarget = nPosition / engine.GetFormat()->nBlockAlign;
    const uint64_t nAt = file.GetPositionFrames();
    FUZZ_CHECK(nAt <= nTarget);
    FUZZ_CHECK(engine.GetPosition() == nAt * engine.GetFormat()->nBlockAlign);
    const SStretch stretch = FillSome(engine, pBuffer);
    if (nAt < nTarget)
        FUZZ_CHECK(file.GetPositionFrames() == nAt);
    return stretch;
}

// A folder of this process's own in the temporary folder, holding the input
// under one of the names and a bait, "bait.wav", that a seed names as a
// playlist entry. The decoder may open the input and nothing else: every open
// in the folder is watched, and any but the input's fails the run.
class CWorkFolder {
public:
    CWorkFolder()
    {
        const char* pDir = std::getenv("TMPDIR");
        m_strPath = std::string(pDir && pDir[0] ? pDir : "/tmp") + "/velofon-fuzz-decoder-" + std::to_string(::getpid());
        if (::mkdir(m_strPath.c_str(), 0700) != 0 && errno != EEXIST) {
            std::perror(m_strPath.c_str());
            std::abort();
        }
        WriteInputFile(m_strPath + "/bait.wav", kBait, sizeof kBait);
        // Without inotify (none left, or none in this kernel) the watch is
        // skipped; everything else still runs.
        m_hNotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_hNotify >= 0 && ::inotify_add_watch(m_hNotify, m_strPath.c_str(), IN_OPEN) < 0) {
            ::close(m_hNotify);
            m_hNotify = -1;
        }
    }
    ~CWorkFolder()
    {
        for (const char* pEnding : kEndings)
            ::unlink(InputPath(pEnding).c_str());
        ::unlink((m_strPath + "/bait.wav").c_str());
        ::rmdir(m_strPath.c_str());
    }

    std::string InputPath(const char* pEnding) const { return m_strPath + "/input" + pEnding; }

    // Fails the run if anything in the folder but strName was opened since
    // the last call.
    void CheckOnlyOpened(const std::string& strName) const
    {
        if (m_hNotify < 0)
            return;
        alignas(inotify_event) char ach[4096];
        for (;;) {
            const ssize_t n = ::read(m_hNotify, ach, sizeof ach);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n;) {
                const auto* pEvent = reinterpret_cast<const inotify_event*>(ach + i);
                if (pEvent->len == 0 || strName != pEvent->name) {
                    std::fprintf(stderr, "opened beside the input: %s\n", pEvent->len ? pEvent->name : "the folder");
                    std::abort();
                }
                i += static_cast<ssize_t>(sizeof(inotify_event) + pEvent->len);
            }
        }
    }

private:
    // A WAV header with no samples: whatever opens it finds a file.
    static constexpr uint8_t kBait[44] = { 'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16,
        0, 0, 0, 1, 0, 1, 0, 0x40, 0x1f, 0, 0, 0x80, 0x3e, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0 };
    std::string m_strPath;
    int m_hNotify = -1;
};

} // namespace

// The module is loaded before the first input: libFuzzer counts the coverage
// of what was loaded when it started, and without the module every input
// would be refused unread.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string strWhy;
    if (!LoadDecoderModule(strWhy)) {
        std::fprintf(stderr, "fuzz_decoder: %s\n", strWhy.c_str());
        std::exit(1);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < kControlBytes)
        return 0;
    // One engine serves every input, as in the player.
    static CSpeedEngine s_engine(2.0);
    // Exactly the player's buffer, so that a write past it is caught.
    static uint8_t* const s_pBuffer = new uint8_t[kBufferBytes];
    static const CWorkFolder s_folder;

    const double dSpeed = SpeedOfControl(pData[0]);
    const double dNextSpeed = SpeedOfControl(pData[1]);
    const size_t nEnding = pData[2] % std::size(kEndings);
    const EReopen eReopen = ReopenOfControl(pData[3]);
    s_engine.m_bAlpha = pData[3] & 1;
    s_engine.m_nAlphaLevel = 5;
    s_engine.m_nMixingGain = (pData[3] >> 3) % 21;
    const uint8_t* const pSeek = pData + 4;
    const size_t nFileBytes = std::min(nSize - kControlBytes, kMaxFileBytes);

    // The decoder keeps the last file's session for a reopen of the same
    // file, which it recognises by name, inode, size and time; this input's
    // file may look the same to it, so an open of a missing file, as of any
    // other, lets it go.
    const std::string strPath = s_folder.InputPath(kEndings[nEnding]);
    FUZZ_CHECK(!s_engine.Open(strPath + ".missing", dSpeed));
    WriteInputFile(strPath, pData + kControlBytes, nFileBytes);

    const bool bDecoderRoad = nEnding != 1 && nEnding != 2;
    SStretch first;
    const bool bOpened = s_engine.Open(strPath, dSpeed);
    if (bOpened) {
        FUZZ_CHECK(!OutsideRateTable(dSpeed));
        FUZZ_CHECK(s_engine.GetFormat() != nullptr);
        FUZZ_CHECK(s_engine.SoundFile().IsDecoded() || !bDecoderRoad);
        if (s_engine.SoundFile().IsDecoded())
            CheckDecodedFormat(s_engine);
        FUZZ_CHECK(!s_engine.Open(strPath, dSpeed) && s_engine.GetOpenError() == EOpenError::AlreadyOpen);
        // The player's seek to where a file starts.
        first = SeekAndFill(s_engine, 0, s_pBuffer);

        // A seek from the progress bar, and a speed step.
        s_engine.SetSpeed(dNextSpeed);
        SeekAndFill(s_engine, SeekOfControl(pSeek, s_engine), s_pBuffer);
    } else {
        FUZZ_CHECK(s_engine.GetOpenError() != EOpenError::None);
        FUZZ_CHECK(!s_engine.GetOpenErrorText().empty());
    }
    const uint64_t nStopped = s_engine.GetPosition();
    FUZZ_CHECK(s_engine.Close() == bOpened);
    FUZZ_CHECK(!s_engine.Close());

    // The speed step's reopen takes the decoder back where it stood; it cannot
    // fail where the first open worked and the speed is in the table.
    const bool bReopened = s_engine.Open(strPath, dNextSpeed);
    if (bOpened)
        FUZZ_CHECK(bReopened == !OutsideRateTable(dNextSpeed));
    if (bReopened) {
        FUZZ_CHECK(!OutsideRateTable(dNextSpeed));
        if (s_engine.SoundFile().IsDecoded())
            CheckDecodedFormat(s_engine);
        SStretch again;
        if (eReopen == EReopen::WhereStopped)
            again = SeekAndFill(s_engine, nStopped, s_pBuffer);
        else if (eReopen == EReopen::SeekPosition)
            again = SeekAndFill(s_engine, SeekOfControl(pSeek, s_engine), s_pBuffer);
        else if (eReopen == EReopen::SeekToStart)
            again = SeekAndFill(s_engine, 0, s_pBuffer);
        else
            again = FillSome(s_engine, s_pBuffer);
        // From the start, at the same speed and without the tones (whose phase
        // runs on), the file sounds as it did the first time: the decoder
        // starts again exactly.
        const bool bFromStart = eReopen == EReopen::SeekToStart || eReopen == EReopen::FromStart;
        if (bOpened && bFromStart && !s_engine.m_bAlpha && dSpeed == dNextSpeed)
            FUZZ_CHECK(again == first);
        FUZZ_CHECK(s_engine.Close());
    }

    // The clear mode, with silence skipped or not: a start sounds the same
    // the second time (without the tones, whose phase runs on).
    s_engine.SetClearSpeech(true);
    s_engine.SetSkipSilence(pData[2] & 0x80);
    s_engine.m_bAlpha = 0;
    SStretch aClear[2];
    for (SStretch& clear : aClear) {
        if (!s_engine.Open(strPath, dSpeed))
            break;
        clear = SeekAndFill(s_engine, SeekOfControl(pSeek, s_engine), s_pBuffer);
        FUZZ_CHECK(s_engine.Close());
    }
    FUZZ_CHECK(aClear[0] == aClear[1]);
    s_engine.SetClearSpeech(false);
    s_engine.SetSkipSilence(false);

    s_folder.CheckOnlyOpened(std::string("input") + kEndings[nEnding]);
    ::unlink(strPath.c_str());
    return 0;
}
