// Hours of playback in simulated time. A playlist of short generated files
// (8 and 16 bits, mono and stereo, 22050 and 44100 Hz, besides a broken, an
// empty and a missing entry) is driven at random through the player's own
// commands; the scripted sound system plays buffers only when told and the
// test's clock moves with the sound played. After every step the
// controller's fields must form one of its states; every buffer handed to the
// sound system is followed until its notification is handled; the Alpha
// tone counter wraps in between; the heap and the open descriptors stay
// flat; and at the end one file played without interruption must sound
// exactly as a fresh engine renders it.
//
// VELOFON_SOAK_SEED and VELOFON_SOAK_HOURS (hours of sound played) override
// the fixed seed and the default length; both are printed.
#include "../WavBytes.h"
#include "../engine/EngineProbe.h"
#include "PlayerObjects.h"

#include <gtest/gtest.h>

#include "app/Resource.h"
#include "app/VelofonPocketApp.h"
#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/audio/ScriptedAudioBackend.h"
#include "platform/events/TimeOfDay.h"
#include "player/PlayList.h"
#include "player/VelofonPocketView.h"

#include <dirent.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define VELOFON_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELOFON_SOAK_ASAN 1
#endif
#endif

#ifdef VELOFON_SOAK_ASAN
// The sanitizer's allocator serves every block, and keeps this count itself.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
// Without the sanitizer the test counts the blocks of new and delete itself:
// glibc's own figures also count the freed blocks its caches hold.
namespace {
std::atomic<long long> g_nLiveBlocks{0};
std::atomic<long long> g_nLiveBytes{0};

void* CountedAllocate(size_t nBytes)
{
    void* p = std::malloc(nBytes ? nBytes : 1);
    if (!p)
        throw std::bad_alloc();
    g_nLiveBlocks.fetch_add(1, std::memory_order_relaxed);
    g_nLiveBytes.fetch_add(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed);
    return p;
}

void CountedFree(void* p) noexcept
{
    if (!p)
        return;
    g_nLiveBlocks.fetch_sub(1, std::memory_order_relaxed);
    g_nLiveBytes.fetch_sub(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed);
    std::free(p);
}
} // namespace

void* operator new(size_t nBytes)
{
    return CountedAllocate(nBytes);
}
void* operator new[](size_t nBytes)
{
    return CountedAllocate(nBytes);
}
void* operator new(size_t nBytes, const std::nothrow_t&) noexcept
{
    try {
        return CountedAllocate(nBytes);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t nBytes, const std::nothrow_t&) noexcept
{
    try {
        return CountedAllocate(nBytes);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept
{
    CountedFree(p);
}
void operator delete[](void* p) noexcept
{
    CountedFree(p);
}
void operator delete(void* p, size_t) noexcept
{
    CountedFree(p);
}
void operator delete[](void* p, size_t) noexcept
{
    CountedFree(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    CountedFree(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    CountedFree(p);
}
#endif

// tests/CMakeLists.txt links this test with these two calls wrapped, so that
// it sees every buffer handed to the sound system and every reset.
extern "C" {
MMRESULT __real__Z12waveOutWriteP10HWAVEOUT__P7WAVEHDRj(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT __real__Z12waveOutResetP10HWAVEOUT__(HWAVEOUT hwo);
MMRESULT __wrap__Z12waveOutWriteP10HWAVEOUT__P7WAVEHDRj(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT __wrap__Z12waveOutResetP10HWAVEOUT__(HWAVEOUT hwo);
}

namespace {

using View = CVelofonPocketView;

#if defined(VELOFON_SOAK_ASAN) || !defined(NDEBUG)
// Unoptimised, instrumented code runs the engine many times slower.
constexpr double kDefaultHours = 3.0;
#else
constexpr double kDefaultHours = 12.0;
#endif
constexpr uint64_t kDefaultSeed = 20240611;
// Between runs the heap holds the same blocks, give or take the text of a
// setting (the sanitizer's count includes the C library's blocks too).
constexpr long long kHeapSlackBytes = 2048;
constexpr int64_t kDayMs = kMillisecondsPerDay;
const char kCaptionPlay[] = "PLAY-Kuroto";
const char kCaptionPause[] = "PAUSE-Kuroto";
const char kCaptionStop[] = "STOP-Kuroto";
constexpr UINT kTickMessage = WM_USER + 0x300;
constexpr double kPi = 3.14159265358979323846;

// SplitMix64: the same sequence from a seed with every compiler and library.
class CRandom {
public:
    explicit CRandom(uint64_t nSeed)
        : m_nState(nSeed)
    {
    }
    uint64_t Next()
    {
        uint64_t z = (m_nState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
    bool Chance(uint32_t nPerMille) { return Below(1000) < nPerMille; }

private:
    uint64_t m_nState;
};

double EnvNumber(const char* strName, double dDefault)
{
    const char* str = std::getenv(strName);
    if (!str || !*str)
        return dDefault;
    char* pEnd = nullptr;
    const double d = std::strtod(str, &pEnd);
    return pEnd && *pEnd == '\0' && d > 0 ? d : dDefault;
}

uint64_t EnvSeed()
{
    const char* str = std::getenv("VELOFON_SOAK_SEED");
    if (!str || !*str)
        return kDefaultSeed;
    return std::strtoull(str, nullptr, 0);
}

// ---- the clock ---------------------------------------------------------------

int g_nNowMs = 0;
int64_t g_nSimulatedMs = 0;
int g_nMidnights = 0;

void Advance(int64_t nMs)
{
    const int64_t nNext = g_nNowMs + nMs;
    g_nMidnights += static_cast<int>(nNext / kDayMs);
    g_nNowMs = static_cast<int>(nNext % kDayMs);
    g_nSimulatedMs += nMs;
}

class SoakTest;
SoakTest* g_pSoak = nullptr;

// Each reading moves the clock on by a millisecond, so that a loop polling it
// ends even without the test's help.
int SoakClock();

int g_nAnswer = IDYES;

int AnswerBox(const std::string&, const std::string&, UINT)
{
    return g_nAnswer;
}

// The player saves its settings, flushed to disk, at every change: thousands
// of them go to a memory file system where there is one.
std::unique_ptr<CTempDir> MakeDir()
{
    const char* strOld = std::getenv("TMPDIR");
    const std::string strKept = strOld ? strOld : "";
    if (::access("/dev/shm", W_OK) == 0)
        ::setenv("TMPDIR", "/dev/shm", 1);
    auto pDir = std::make_unique<CTempDir>();
    if (strOld)
        ::setenv("TMPDIR", strKept.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    return pDir;
}

bool EngineOpen()
{
    return g_pEngine->SoundFile().WaveFile().IsOpen();
}

int SlotOf(const WAVEHDR* pHeader)
{
    for (int nSlot = 0; nSlot < WAVE_BUFFER_COUNT; ++nSlot) {
        if (g_pOutput->GetHeader(nSlot) == pHeader)
            return nSlot;
    }
    return -1;
}

int QueuedHeaders()
{
    int nQueued = 0;
    for (int nSlot = 0; nSlot < WAVE_BUFFER_COUNT; ++nSlot)
        nQueued += (g_pOutput->GetHeader(nSlot)->dwFlags & WHDR_INQUEUE) ? 1 : 0;
    return nQueued;
}

// ---- the buffers -------------------------------------------------------------

// Mirrors the sound system's queue from the wrapped calls and from the bytes
// the scripted backend plays, and counts the notifications each buffer is owed.
class CBufferWatch {
public:
    CBufferWatch()
    {
        for (auto& abSlot : m_abWritten)
            abSlot.resize(WAVE_BUFFER_BYTES);
        m_owed.reserve(64);
    }

    MMRESULT Write(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
    {
        ++m_nWrites;
        const int nSlot = SlotOf(pwh);
        EXPECT_GE(nSlot, 0) << "a header that is not one of the output's";
        if (nSlot < 0)
            return __real__Z12waveOutWriteP10HWAVEOUT__P7WAVEHDRj(hwo, pwh, cbwh);
        EXPECT_FALSE(pwh->dwFlags & WHDR_INQUEUE) << "slot " << nSlot << " written again while still queued";
        EXPECT_EQ(Owed(hwo, nSlot), 0) << "slot " << nSlot << " written again before its notification was handled";
        for (const SQueued& queued : m_queue) {
            EXPECT_EQ(queued.hwo, hwo) << "a second output written while the first still holds buffers";
            EXPECT_NE(queued.nSlot, nSlot) << "slot " << nSlot << " queued twice";
        }
        EXPECT_EQ(View::m_nPlayState, PS_RUNNING) << "a buffer written while the player is idle";
        EXPECT_EQ(g_pOutput->GetState(), WOS_RUNNING) << "a buffer written after its run was stopped or ran dry";
        EXPECT_TRUE(EngineOpen()) << "a buffer filled from a closed engine";
        const uint32_t nBytes = pwh->dwBufferLength;
        EXPECT_TRUE(nBytes > 0 && nBytes <= WAVE_BUFFER_BYTES && nBytes % 4 == 0) << nBytes << " bytes";
        const MMRESULT nResult = __real__Z12waveOutWriteP10HWAVEOUT__P7WAVEHDRj(hwo, pwh, cbwh);
        EXPECT_EQ(nResult, MMSYSERR_NOERROR) << "the sound system refused slot " << nSlot;
        if (nResult == MMSYSERR_NOERROR && nBytes <= WAVE_BUFFER_BYTES) {
            std::memcpy(m_abWritten[nSlot].data(), pwh->lpData, nBytes);
            m_queue.push_back(SQueued{hwo, nSlot, nBytes, 0});
        }
        return nResult;
    }

    MMRESULT Reset(HWAVEOUT hwo)
    {
        ++m_nResets;
        // Every buffer still queued comes back with a notification of its own.
        for (const SQueued& queued : m_queue) {
            EXPECT_EQ(queued.hwo, hwo) << "a reset of one output while another holds buffers";
            ++Owed(queued.hwo, queued.nSlot);
        }
        m_queue.clear();
        const MMRESULT nResult = __real__Z12waveOutResetP10HWAVEOUT__(hwo);
        EXPECT_EQ(nResult, MMSYSERR_NOERROR);
        return nResult;
    }

    // Bytes the backend played, in order: each must be what its buffer held
    // when it was written.
    void Played(const unsigned char* pData, size_t nBytes)
    {
        while (nBytes > 0) {
            if (m_queue.empty()) {
                ADD_FAILURE() << nBytes << " bytes played that nobody wrote";
                return;
            }
            SQueued& front = m_queue.front();
            const size_t nTake = std::min<size_t>(nBytes, front.nBytes - front.nPlayed);
            EXPECT_EQ(std::memcmp(pData, m_abWritten[front.nSlot].data() + front.nPlayed, nTake), 0)
                << "slot " << front.nSlot << " changed while it was queued";
            front.nPlayed += static_cast<uint32_t>(nTake);
            pData += nTake;
            nBytes -= nTake;
            if (front.nPlayed == front.nBytes) {
                ++Owed(front.hwo, front.nSlot);
                m_queue.pop_front();
            }
        }
    }

    // An MM_WOM_DONE about to reach the player.
    void Delivered(HWAVEOUT hwo, const WAVEHDR* pwh)
    {
        ++m_nDelivered;
        const int nSlot = SlotOf(pwh);
        auto owed = Find(hwo, nSlot);
        if (owed == m_owed.end() || owed->nCount == 0) {
            ADD_FAILURE() << "a notification for slot " << nSlot << " that no write or reset owed";
            return;
        }
        if (--owed->nCount == 0)
            m_owed.erase(owed);
    }

    size_t QueuedCount() const { return m_queue.size(); }
    int OwedCount() const
    {
        int nOwed = 0;
        for (const SOwed& owed : m_owed)
            nOwed += owed.nCount;
        return nOwed;
    }

    uint64_t m_nWrites = 0;
    uint64_t m_nResets = 0;
    uint64_t m_nDelivered = 0;

private:
    struct SQueued {
        HWAVEOUT hwo;
        int nSlot;
        uint32_t nBytes;
        uint32_t nPlayed;
    };
    struct SOwed {
        HWAVEOUT hwo;
        int nSlot;
        int nCount;
    };

    std::vector<SOwed>::iterator Find(HWAVEOUT hwo, int nSlot)
    {
        return std::find_if(m_owed.begin(), m_owed.end(),
                            [&](const SOwed& owed) { return owed.hwo == hwo && owed.nSlot == nSlot; });
    }
    int& Owed(HWAVEOUT hwo, int nSlot)
    {
        auto owed = Find(hwo, nSlot);
        if (owed != m_owed.end())
            return owed->nCount;
        m_owed.push_back(SOwed{hwo, nSlot, 0});
        return m_owed.back().nCount;
    }

    std::deque<SQueued> m_queue;
    std::vector<SOwed> m_owed;
    std::vector<unsigned char> m_abWritten[WAVE_BUFFER_COUNT];
};

CBufferWatch* g_pWatch = nullptr;

// ---- the player's window, watched --------------------------------------------

// The player's view with its notifications seen first by the test.
class CSoakView : public CVelofonPocketView {
    DECLARE_DYNCREATE(CSoakView)
public:
    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

IMPLEMENT_DYNCREATE(CSoakView)

// Checks the state in the middle of nested handling, and moves the clock and
// plays the user while the player waits between files.
class CTicker : public CMessageTarget {
public:
    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

struct SStats {
    uint64_t nSteps = 0;
    uint64_t nBuffers = 0;
    uint64_t nPartialPlays = 0;
    uint64_t nPlays = 0;
    uint64_t nPauses = 0;
    uint64_t nStops = 0;
    uint64_t nDoubleClicks = 0;
    uint64_t nSpeedPresses = 0;
    uint64_t nSpeedRestarts = 0;
    uint64_t nWaits = 0;
    uint64_t nStopsInWait = 0;
    uint64_t nTakeOvers = 0;
    uint64_t nNested = 0;
    uint64_t nBursts = 0;
    uint64_t nToneWraps = 0;
};

struct SResources {
    long long nHeapBytes;
    long long nHeapBlocks; // -1 where only the bytes are known
    int nDescriptors;
};

SResources Measure()
{
    SResources resources{};
#ifdef VELOFON_SOAK_ASAN
    resources.nHeapBytes = static_cast<long long>(__sanitizer_get_current_allocated_bytes());
    resources.nHeapBlocks = -1;
#else
    resources.nHeapBytes = g_nLiveBytes.load();
    resources.nHeapBlocks = g_nLiveBlocks.load();
#endif
    if (DIR* pDir = ::opendir("/proc/self/fd")) {
        while (::readdir(pDir))
            ++resources.nDescriptors;
        ::closedir(pDir);
    }
    return resources;
}

// A speech-like signal: two partials under a syllable envelope, with pauses.
std::vector<int16_t> Speech(size_t nFrames, uint32_t nRate, uint32_t nVoice)
{
    std::vector<int16_t> asSamples(nFrames);
    uint32_t nNoise = 12345 + nVoice;
    for (size_t i = 0; i < nFrames; ++i) {
        const double t = static_cast<double>(i) / nRate;
        const double dEnvelope = std::max(0.0, std::sin(2 * kPi * 3.1 * t + nVoice));
        nNoise = nNoise * 1103515245u + 12345u;
        const double dNoise = static_cast<int>((nNoise >> 16) & 0x7FF) - 1024;
        const double d = dEnvelope * (9000 * std::sin(2 * kPi * (140 + 20 * nVoice) * t) +
                                      4000 * std::sin(2 * kPi * 1130 * t)) + dNoise;
        asSamples[i] = static_cast<int16_t>(std::clamp(d, -32768.0, 32767.0));
    }
    return asSamples;
}

Bytes WavOf(uint16_t nChannels, uint16_t nBits, uint32_t nRate, double dSeconds, uint32_t nVoice)
{
    const size_t nFrames = static_cast<size_t>(dSeconds * nRate);
    const std::vector<int16_t> asLeft = Speech(nFrames, nRate, nVoice);
    const std::vector<int16_t> asRight = Speech(nFrames, nRate, nVoice + 3);
    std::vector<int16_t> asSamples;
    for (size_t i = 0; i < nFrames; ++i) {
        asSamples.push_back(asLeft[i]);
        if (nChannels == 2)
            asSamples.push_back(asRight[i]);
    }
    if (nBits == 16)
        return MakeWav(nChannels, nRate, static_cast<uint16_t>(2 * nChannels), Samples16(asSamples));
    Bytes abData;
    for (int16_t s : asSamples)
        abData.push_back(static_cast<uint8_t>((s >> 8) + 128));
    return MakeWav(nChannels, nRate, nChannels, abData);
}

// ---- the soak ----------------------------------------------------------------

class SoakTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_pApp = CreatePlayerObjects(SoakClock, AnswerBox); }
    static void TearDownTestSuite() { DestroyPlayerObjects(s_pApp); }

    void SetUp() override
    {
        ::setenv("XDG_CONFIG_HOME", m_pDir->Path().c_str(), 1);
        g_pWatch = &m_watch;
        g_pSoak = this;
    }

    void TearDown() override
    {
        g_pSoak = nullptr;
        g_pWatch = nullptr;
        if (m_pView && View::m_nPlayState == PS_RUNNING)
            m_pView->OnStop();
        Dispatch();
        while (m_sound.CompleteNext())
            Dispatch();
        g_pOutput->Close();
        s_pApp->m_pMainWnd = nullptr;
        m_pTemplate.reset();
        ::unsetenv("XDG_CONFIG_HOME");
    }

public:
    void OnClockRead()
    {
        // The wait between files polls the clock: a tick in the queue keeps it
        // from sleeping and lets the test act during the wait.
        if (m_pView && m_pView->m_bPlayWaitFlag && m_nTicksQueued == 0)
            PostTick();
    }

    void OnTick()
    {
        --m_nTicksQueued;
        CheckState(false);
        if (!m_pView->m_bPlayWaitFlag) {
            m_bInWait = false;
            return;
        }
        if (!m_bInWait)
            ++m_stats.nWaits;
        m_bInWait = true;
        Advance(5 + m_random.Below(250));
        const uint32_t r = m_random.Below(1000);
        if (r < 15) {
            Log("stop in the wait", 0);
            ++m_stats.nStopsInWait;
            Click(IDC_STOP);
        } else if (r < 30) {
            ++m_stats.nTakeOvers;
            DoubleClick(static_cast<int>(m_random.Below(static_cast<uint32_t>(m_astrPlaylist.size()))));
        } else if (r < 40) {
            PressSpeed();
        } else if (r < 45) {
            MenuCommand();
        }
    }

    void BeforeNotification(WPARAM wParam, LPARAM lParam)
    {
        m_watch.Delivered(reinterpret_cast<HWAVEOUT>(wParam), reinterpret_cast<const WAVEHDR*>(lParam));
        // The handler ends the program when the notifications stalled longer
        // than this; the test keeps them coming, so it must never happen.
        const WAVEFORMATEX* pFormat = g_pEngine->GetFormat();
        const int nRate = pFormat && pFormat->nSamplesPerSec > 0 ? static_cast<int>(pFormat->nSamplesPerSec) : 1;
        const int nLimit = 4 + static_cast<int>((WAVE_BUFFER_BYTES / 4) / nRate);
        EXPECT_LE((g_nNowMs + 1) / 1000 - m_pView->m_nOldSec2, nLimit) << "the watchdog would fire" << Where();
    }

    std::string Where() const
    {
        return " (seed " + std::to_string(m_nSeed) + ", step " + std::to_string(m_stats.nSteps) + ")";
    }

    uint64_t m_nSeed = EnvSeed();
    SStats m_stats;

protected:
    // ---- driving ----

    void Dispatch() { DispatchAll(); }

    void PostTick()
    {
        ++m_nTicksQueued;
        PostMessage(m_ticker.GetSafeHwnd(), kTickMessage, 0, 0);
    }

    void Log(const char* strAction, int nArgument)
    {
        m_aRecent[m_nRecent % kRecent] = SAction{m_stats.nSteps, strAction, nArgument};
        ++m_nRecent;
    }

    void PrintRecent() const
    {
        std::fprintf(stderr, "soak: the last actions before the failure (seed %llu):\n",
                     static_cast<unsigned long long>(m_nSeed));
        for (size_t i = m_nRecent > kRecent ? m_nRecent - kRecent : 0; i < m_nRecent; ++i) {
            const SAction& action = m_aRecent[i % kRecent];
            std::fprintf(stderr, "  step %llu: %s %d\n", static_cast<unsigned long long>(action.nStep),
                         action.strAction, action.nArgument);
        }
    }

    static bool Usable(const CWnd& button) { return button.IsWindowVisible() && button.IsWindowEnabled(); }

    void Click(int nID, UINT nCode = BN_CLICKED)
    {
        m_pView->PostMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(nID), nCode));
    }

    // Only a button the user could click now is clicked.
    void ClickButton(CWnd& button, int nID, const char* strName)
    {
        if (!Usable(button))
            return;
        Log(strName, 0);
        Click(nID);
    }

    void Select(int nRow)
    {
        m_pView->m_PlayListBox.SetSel(-1, false);
        if (nRow >= 0)
            m_pView->m_PlayListBox.SetSel(nRow, true);
    }

    void DoubleClick(int nRow)
    {
        Log("double-click", nRow);
        ++m_stats.nDoubleClicks;
        Select(nRow);
        Click(IDC_PLAYLIST, LBN_DBLCLK);
    }

    void Command(UINT nID)
    {
        m_pView->GetParent()->PostMessage(WM_COMMAND, MAKEWPARAM(nID, 0));
    }

    void PressSpeed()
    {
        ++m_stats.nSpeedPresses;
        if (m_random.Chance(500))
            ClickButton(m_pView->m_SpeedUpButton, IDC_SPEED_UP, "speed up");
        else
            ClickButton(m_pView->m_SpeedDownButton, IDC_SPEED_DOWN, "speed down");
    }

    void MenuCommand()
    {
        switch (m_random.Below(3)) {
        case 0: {
            static const UINT anRepeat[] = {ID_REPEAT_NONE, ID_REPEAT_ALL, ID_REPEAT_ONE};
            const UINT nID = anRepeat[m_random.Below(3)];
            Log("repeat", static_cast<int>(nID - ID_REPEAT_ALL));
            Command(nID);
            break;
        }
        case 1: {
            const UINT nID = ID_MIXING_MAX + m_random.Below(11);
            Log("mixing", MixingOfCommand(nID));
            Command(nID);
            break;
        }
        default: {
            const UINT nID = ID_ALPHA_MAX + m_random.Below(11);
            g_nAnswer = m_random.Chance(800) ? IDYES : IDNO;
            Log("alpha", AlphaOfCommand(nID));
            Command(nID);
            break;
        }
        }
    }

    void ChangeWait()
    {
        static const int anWaitMs[] = {0, 0, 0, 300, 1500, 4000, 6500};
        m_pView->m_nWaitSec = anWaitMs[m_random.Below(7)];
        Log("wait", m_pView->m_nWaitSec);
    }

    void Setting()
    {
        const uint32_t r = m_random.Below(10);
        if (r < 4)
            PressSpeed();
        else if (r < 9)
            MenuCommand();
        else
            ChangeWait();
    }

    // What a user could click at this moment, at random.
    void AnyClick()
    {
        switch (m_random.Below(5)) {
        case 0:
            ClickButton(m_pView->m_PlayButton, IDC_PLAY, "play");
            ClickButton(m_pView->m_PauseButton, IDC_PAUSE, "pause");
            break;
        case 1:
            ClickButton(m_pView->m_StopButton, IDC_STOP, "stop");
            break;
        case 2:
            PressSpeed();
            break;
        case 3:
            DoubleClick(static_cast<int>(m_random.Below(static_cast<uint32_t>(m_astrPlaylist.size()))));
            break;
        default:
            MenuCommand();
            break;
        }
    }

    // Takes what the backend played since the last look: checks it against
    // what was written and moves the clock by its length.
    void TakePlayed()
    {
        const std::vector<unsigned char>& abPlayed = m_sound.GetPlayed();
        const size_t nNew = abPlayed.size() - m_nSeen;
        if (nNew == 0)
            return;
        m_watch.Played(abPlayed.data() + m_nSeen, nNew);
        if (m_pStretch)
            m_pStretch->insert(m_pStretch->end(), abPlayed.begin() + static_cast<std::ptrdiff_t>(m_nSeen), abPlayed.end());
        m_nSeen = abPlayed.size();
        const uint64_t nRate = m_sound.GetLastSampleRate();
        const uint64_t nFrames = nNew / 4;
        m_nFrameMs += nFrames * 1000;
        Advance(static_cast<int64_t>(m_nFrameMs / nRate));
        m_nFrameMs %= nRate;
        m_dPlayedSeconds += static_cast<double>(nFrames) / static_cast<double>(nRate);
    }

    int PlayBuffers(int nCount)
    {
        int nPlayed = 0;
        while (nPlayed < nCount && m_sound.CompleteNext()) {
            ++nPlayed;
            TakePlayed();
        }
        m_stats.nBuffers += static_cast<uint64_t>(nPlayed);
        return nPlayed;
    }

    // Lets time pass without a notification, short of what the watchdog
    // takes for a stall while sound should be playing.
    void Quiet(int64_t nMs)
    {
        if (View::m_nPlayState == PS_RUNNING && !g_pOutput->m_bPaused) {
            const int64_t nOld = m_pView->m_nOldSec2;
            const int64_t nRoom = g_nNowMs / 1000 >= nOld ? (nOld + 2) * 1000 - g_nNowMs : 2000;
            nMs = std::clamp<int64_t>(nRoom, 0, nMs);
        }
        Log("quiet", static_cast<int>(nMs));
        Advance(nMs);
    }

    int RandomRow() { return static_cast<int>(m_random.Below(static_cast<uint32_t>(m_astrPlaylist.size()))); }

    void StepIdle(uint32_t r)
    {
        if (r < 500) {
            ++m_stats.nPlays;
            Select(m_random.Chance(500) ? RandomRow() : -1);
            ClickButton(m_pView->m_PlayButton, IDC_PLAY, "play");
        } else if (r < 600) {
            DoubleClick(RandomRow());
        } else if (r < 700) {
            Quiet(m_random.Below(600000));
        } else if (r < 720) {
            AnyClick();
        } else {
            Setting();
        }
    }

    void StepPaused(uint32_t r)
    {
        if (r < 300) {
            ClickButton(m_pView->m_PlayButton, IDC_PLAY, "resume");
        } else if (r < 450) {
            Quiet(m_random.Below(600000));
        } else if (r < 550) {
            ++m_stats.nStops;
            ClickButton(m_pView->m_StopButton, IDC_STOP, "stop");
        } else if (r < 650) {
            DoubleClick(RandomRow());
        } else if (r < 800) {
            PressSpeed();
        } else {
            Setting();
        }
    }

    void StepPlaying(uint32_t r)
    {
        if (r < 700) {
            const uint32_t nKind = m_random.Below(100);
            if (nKind < 85) {
                Log("play a buffer", PlayBuffers(1));
            } else if (nKind < 95) {
                Log("play buffers", PlayBuffers(2 + static_cast<int>(m_random.Below(4))));
            } else {
                ++m_stats.nPartialPlays;
                const size_t nBytes = 4 * (1 + m_random.Below(10000));
                Log("play bytes", static_cast<int>(m_sound.Play(nBytes)));
                TakePlayed();
            }
        } else if (r < 730) {
            Quiet(m_random.Below(3000));
        } else if (r < 770) {
            ++m_stats.nPauses;
            ClickButton(m_pView->m_PauseButton, IDC_PAUSE, "pause");
        } else if (r < 785) {
            ++m_stats.nStops;
            ClickButton(m_pView->m_StopButton, IDC_STOP, "stop");
        } else if (r < 810) {
            DoubleClick(RandomRow());
        } else if (r < 860) {
            PressSpeed();
        } else if (r < 890) {
            // A click that arrives while the notification is being handled.
            ++m_stats.nNested;
            Log("nested", PlayBuffers(1));
            AnyClick();
        } else if (r < 910) {
            // Clicks faster than the player handles them.
            ++m_stats.nBursts;
            const int nClicks = 2 + static_cast<int>(m_random.Below(2));
            for (int i = 0; i < nClicks; ++i)
                AnyClick();
        } else {
            Setting();
        }
    }

    void Step()
    {
        ++m_stats.nSteps;
        const uint32_t r = m_random.Below(1000);
        if (View::m_nPlayState == PS_IDLE)
            StepIdle(r);
        else if (g_pOutput->m_bPaused)
            StepPaused(r);
        else
            StepPlaying(r);
        PostTick();
        Dispatch();
        TakePlayed();
        m_sound.ForgetPlayed();
        m_nSeen = 0;
        m_bInWait = false;
        CheckState(true);
        if (View::m_nSpeedHoldoff == 2)
            ++m_stats.nSpeedRestarts;
        if (m_bTrace)
            std::printf("step %llu: state %d current %d pending %d resume %d output %d paused %d opens %d speed %d %s\n",
                        static_cast<unsigned long long>(m_stats.nSteps), View::m_nPlayState, View::m_nCurrent,
                        View::m_nPending, View::m_bResumeRequest, g_pOutput->GetState(), g_pOutput->m_bPaused,
                        m_sound.GetOpenCount(), m_pView->m_nSpeedIdx, m_pView->m_FileNameLabel.GetText().c_str());
    }

    // ---- checking ----

    std::string Caption() const { return m_pView->GetParent()->GetWindowText(); }

    void CheckTone()
    {
        CSpeedEngine& engine = *g_pEngine;
        const int32_t nFrame = CSpeedEngineProbe::ToneFrame(engine);
        EXPECT_GE(nFrame, 0) << "the tone frame counter left its range" << Where();
        if (nFrame < m_nLastToneFrame) {
            ++m_stats.nToneWraps;
            m_bToneWrapped = true;
        }
        m_nLastToneFrame = nFrame;
        if (m_sound.GetOpenCount() == 0)
            return; // no file has set the tone periods yet
        // The periods, and so the tables the counter indexes, are the open
        // file's rate's.
        const int32_t nRate = CSpeedEngineProbe::SampleRate(engine);
        const int32_t nLow = static_cast<int32_t>(CSpeedEngineProbe::LowPeriod(engine));
        const int32_t nHigh = static_cast<int32_t>(CSpeedEngineProbe::HighPeriod(engine));
        EXPECT_EQ(nLow, static_cast<int32_t>(nRate / CSpeedEngine::kToneLowFrequency)) << Where();
        EXPECT_TRUE(nHigh > 0 && nHigh <= nLow && nLow <= CSpeedEngine::kMaxTonePeriod) << nHigh << " " << nLow;
    }

    // The controller's fields must form one of its states: Idle, Waiting
    // (nested in a notification only), Playing, Paused, or draining for a
    // restart. Settled means the queue is empty: nothing is handled halfway.
    void CheckState(bool bSettled)
    {
        View& view = *m_pView;
        const int nState = View::m_nPlayState;
        const int nCount = view.m_PlayList.GetCount();
        const bool bWaiting = view.m_bPlayWaitFlag;
        const bool bPaused = g_pOutput->m_bPaused;
        const int nOutput = g_pOutput->GetState();
        const int nQueued = QueuedHeaders();
        const bool bEngineOpen = EngineOpen();

        ASSERT_TRUE(nState == PS_RUNNING || nState == PS_IDLE) << nState << Where();
        EXPECT_TRUE(View::m_nCurrent >= -1 && View::m_nCurrent < nCount) << View::m_nCurrent << Where();
        EXPECT_TRUE(View::m_nPending >= -1 && View::m_nPending < nCount) << View::m_nPending << Where();
        EXPECT_TRUE(View::m_nSpeedHoldoff >= 0 && View::m_nSpeedHoldoff <= 2) << View::m_nSpeedHoldoff << Where();
        EXPECT_EQ(view.m_SpeedLabel.GetText(), view.m_astrSpeedText[view.m_nSpeedIdx]) << Where();
        EXPECT_DOUBLE_EQ(CSpeedEngineProbe::Speed(*g_pEngine), SpeedOfIndex(view.m_nSpeedIdx)) << Where();
        EXPECT_EQ(g_pEngine->m_nMixingGain, view.m_nMixingVolume / 5) << Where();
        EXPECT_EQ(g_pEngine->m_bAlpha, view.m_nAlphaControl != 0 ? 1 : 0) << Where();
        EXPECT_EQ(g_pEngine->m_nAlphaLevel, view.m_nAlphaControl) << Where();
        CheckTone();

        if (bWaiting) {
            EXPECT_EQ(nState, PS_IDLE) << "waiting while a file runs" << Where();
            EXPECT_FALSE(bPaused) << Where();
            EXPECT_EQ(nQueued, 0) << Where();
            EXPECT_FALSE(bEngineOpen) << Where();
            EXPECT_TRUE(view.m_PlayButton.IsWindowVisible() && !view.m_PlayButton.IsWindowEnabled()) << Where();
            EXPECT_FALSE(view.m_PauseButton.IsWindowVisible()) << Where();
            EXPECT_TRUE(view.m_StopButton.IsWindowEnabled()) << Where();
            EXPECT_EQ(Caption(), kCaptionPlay) << "the list still plays during the wait" << Where();
        } else if (nState == PS_IDLE) {
            EXPECT_TRUE(Usable(view.m_PlayButton)) << Where();
            EXPECT_FALSE(view.m_PauseButton.IsWindowVisible()) << Where();
            EXPECT_FALSE(view.m_StopButton.IsWindowEnabled()) << Where();
            // The pause flag of the last output may stay set (a Pause between
            // a double-click and a pending entry that fails to open): nothing
            // reads it while idle, and every start opens a new output.
            EXPECT_EQ(Caption(), kCaptionStop) << Where();
        } else {
            EXPECT_NE(nOutput, WOS_FAILED) << Where();
            EXPECT_TRUE(view.m_StopButton.IsWindowEnabled()) << Where();
            EXPECT_GE(View::m_nCurrent, 0) << Where();
        }
        if (!bSettled)
            return;

        EXPECT_FALSE(bWaiting) << Where();
        EXPECT_EQ(m_watch.OwedCount(), 0) << "notifications not handled" << Where();
        EXPECT_EQ(static_cast<int>(m_watch.QueuedCount()), nQueued) << "the queue and the header flags disagree" << Where();
        if (nState == PS_IDLE) {
            EXPECT_EQ(nQueued, 0) << Where();
            EXPECT_FALSE(bEngineOpen) << Where();
            EXPECT_EQ(View::m_nPending, -1) << "an entry still pending while idle" << Where();
            // The device itself may stay paused: a start that failed leaves
            // it so, and the next start opens another.
            return;
        }
        EXPECT_TRUE(bEngineOpen) << Where();
        switch (nOutput) {
        case WOS_RUNNING:
            EXPECT_EQ(nQueued, WAVE_BUFFER_COUNT) << Where();
            EXPECT_FALSE(View::m_bResumeRequest) << Where();
            break;
        case WOS_END_OF_DATA:
            EXPECT_GE(nQueued, 1) << Where();
            EXPECT_FALSE(View::m_bResumeRequest) << Where();
            break;
        case WOS_STOP_REQUESTED:
            EXPECT_GE(nQueued, 1) << Where();
            EXPECT_TRUE(View::m_bResumeRequest) << "draining with no restart to come" << Where();
            EXPECT_LE(View::m_nResumePos, g_pEngine->SoundFile().WaveFile().DataEnd()) << Where();
            break;
        default:
            ADD_FAILURE() << "output state " << nOutput << Where();
        }
        EXPECT_EQ(Caption(), bPaused ? kCaptionPause : kCaptionPlay) << Where();
        EXPECT_EQ(view.m_PlayButton.IsWindowVisible(), bPaused) << Where();
        EXPECT_EQ(view.m_PauseButton.IsWindowVisible(), !bPaused) << Where();
        EXPECT_TRUE(view.m_PlayButton.IsWindowEnabled()) << Where();
        EXPECT_TRUE(m_sound.IsOpen()) << Where();
        EXPECT_EQ(m_sound.IsPaused(), bPaused) << Where();
        EXPECT_EQ(static_cast<int32_t>(m_sound.GetLastSampleRate()), CSpeedEngineProbe::SampleRate(*g_pEngine)) << Where();
        EXPECT_EQ(view.m_FileNameLabel.GetText(), FileNameOfPath(view.m_PlayList.GetPath(View::m_nCurrent))) << Where();
    }

    // ---- set-up ----

    void MakePlaylist()
    {
        m_astrPlaylist = {
            m_pDir->Write("talk16m22.wav", WavOf(1, 16, 22050, 4.0, 1)),
            m_pDir->Write("talk8s44.wav", WavOf(2, 8, 44100, 2.0, 2)),
            m_pDir->Path() + "/missing.wav",
            m_pDir->Write("talk16s44.wav", WavOf(2, 16, 44100, 3.0, 3)),
            m_pDir->Write("broken.wav", Bytes{'R', 'I', 'F', 'F', 0x10, 0, 0, 0, 'W', 'A', 'V', 'E', 'j', 'u', 'n', 'k'}),
            m_pDir->Write("talk8m22.wav", WavOf(1, 8, 22050, 2.5, 4)),
            m_pDir->Write("blip16m44.wav", WavOf(1, 16, 44100, 0.15, 5)),
            m_pDir->Write("empty.wav", MakeWav(1, 22050, 2, Bytes{})),
        };
        // The files of several buffers, for the stretches played whole.
        m_anLongEntries = {0, 1, 3, 5};
    }

    View& Open(const std::string& strMoreSettings)
    {
        const std::string strSettings = PlaylistSettings(m_astrPlaylist, strMoreSettings);
        ::mkdir((m_pDir->Path() + "/VelofonPocket").c_str(), 0700);
        m_pDir->Write("VelofonPocket/" + s_pApp->GetAppName() + ".conf", Bytes(strSettings.begin(), strSettings.end()));
        m_pView = &OpenPlayer(*s_pApp, m_pTemplate, RUNTIME_CLASS(CSoakView));
        return *m_pView;
    }

    // Puts the tone counter a random stretch of sound before its maximum.
    void ArmToneWrap(uint32_t nMaxFrames)
    {
        m_nLastToneFrame = INT32_MAX - static_cast<int32_t>(m_random.Below(nMaxFrames));
        CSpeedEngineProbe::ToneFrame(*g_pEngine) = m_nLastToneFrame;
    }

    // ---- the uninterrupted stretch ----

    // Plays entry nEntry alone from start to end at the present speed with
    // the given levels, the tone counter passing its maximum on the way, and
    // returns the bytes the backend received.
    Bytes PlayWhole(int nEntry, UINT nMixingCommand, UINT nAlphaCommand, int32_t& nToneStart, uint32_t nFrames)
    {
        Command(ID_REPEAT_NONE);
        Command(nMixingCommand);
        g_nAnswer = IDYES;
        Command(nAlphaCommand);
        m_pView->m_nWaitSec = 0;
        PostTick();
        Dispatch();
        nToneStart = INT32_MAX - static_cast<int32_t>(m_random.Below(nFrames));
        CSpeedEngineProbe::ToneFrame(*g_pEngine) = nToneStart;
        m_nLastToneFrame = nToneStart;

        Bytes abStretch;
        m_pStretch = &abStretch;
        const int nOpens = m_sound.GetOpenCount();
        Select(nEntry);
        Click(IDC_PLAY);
        PostTick();
        Dispatch();
        EXPECT_EQ(m_sound.GetOpenCount(), nOpens + 1) << "entry " << nEntry << " did not start" << Where();
        EXPECT_EQ(View::m_nCurrent, nEntry) << Where();
        const int nStarted = m_sound.GetOpenCount();
        while (m_sound.GetOpenCount() == nStarted && PlayBuffers(1) == 1) {
            PostTick();
            Dispatch();
            CheckState(true);
        }
        m_pStretch = nullptr;
        m_sound.ForgetPlayed();
        m_nSeen = 0;
        ClickButton(m_pView->m_StopButton, IDC_STOP, "stop");
        Dispatch();
        return abStretch;
    }

    static Bytes Render(CSpeedEngine& engine, const std::string& strPath, double dSpeed)
    {
        Bytes abOut;
        EXPECT_TRUE(engine.Open(strPath, dSpeed));
        engine.Seek(0);
        Bytes abBuffer(WAVE_BUFFER_BYTES);
        while (const uint32_t nBytes = engine.Fill(abBuffer.data(), WAVE_BUFFER_BYTES))
            abOut.insert(abOut.end(), abBuffer.begin(), abBuffer.begin() + nBytes);
        engine.Close();
        return abOut;
    }

    std::unique_ptr<CSpeedEngine> FreshEngine() const
    {
        auto pEngine = std::make_unique<CSpeedEngine>(SpeedOfIndex(m_pView->m_nSpeedIdx));
        pEngine->m_nMixingGain = g_pEngine->m_nMixingGain;
        pEngine->m_bAlpha = g_pEngine->m_bAlpha;
        pEngine->m_nAlphaLevel = g_pEngine->m_nAlphaLevel;
        return pEngine;
    }

    static size_t FirstDifference(const Bytes& a, const Bytes& b)
    {
        const auto mismatch = std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(std::min(a.size(), b.size())), b.begin());
        return static_cast<size_t>(mismatch.first - a.begin());
    }

    void CheckUninterruptedPlayback()
    {
        ASSERT_EQ(View::m_nPlayState, PS_IDLE);
        const double dSpeed = SpeedOfIndex(m_pView->m_nSpeedIdx);

        // Speech and tones together: byte for byte what a fresh engine makes.
        const int nEntry = m_anLongEntries[m_random.Below(static_cast<uint32_t>(m_anLongEntries.size()))];
        const std::string& strPath = m_astrPlaylist[static_cast<size_t>(nEntry)];
        const UINT nMixing = ID_MIXING_MAX + m_random.Below(10);
        const UINT nAlpha = ID_ALPHA_MAX + m_random.Below(10);
        uint32_t nFrames = 0;
        {
            auto pProbe = FreshEngine();
            nFrames = static_cast<uint32_t>(Render(*pProbe, strPath, dSpeed).size() / 4);
        }
        ASSERT_GT(nFrames, 0u);
        int32_t nToneStart = 0;
        const Bytes abPlayed = PlayWhole(nEntry, nMixing, nAlpha, nToneStart, nFrames);
        auto pFresh = FreshEngine();
        CSpeedEngineProbe::ToneFrame(*pFresh) = nToneStart;
        const Bytes abExpected = Render(*pFresh, strPath, dSpeed);
        std::printf("soak: %s played whole at %.1fx, Mixing %d%%, Alpha %d%%: %zu bytes against a fresh engine's %zu\n",
                    FileNameOfPath(strPath).c_str(), dSpeed, MixingOfCommand(nMixing), AlphaOfCommand(nAlpha),
                    abPlayed.size(), abExpected.size());
        EXPECT_EQ(abPlayed.size(), abExpected.size()) << strPath << " at " << dSpeed << Where();
        EXPECT_TRUE(abPlayed == abExpected) << strPath << " at " << dSpeed << ", Mixing "
                                            << MixingOfCommand(nMixing) << ", Alpha " << AlphaOfCommand(nAlpha)
                                            << ": first difference at byte " << FirstDifference(abPlayed, abExpected);

        // The tones alone, across the counter's wrap: each frame is the tone
        // pair of its own frame number, counted on from 0 after the maximum.
        const int nToneEntry = m_anLongEntries[m_random.Below(static_cast<uint32_t>(m_anLongEntries.size()))];
        const std::string& strTonePath = m_astrPlaylist[static_cast<size_t>(nToneEntry)];
        {
            auto pProbe = FreshEngine();
            nFrames = static_cast<uint32_t>(Render(*pProbe, strTonePath, dSpeed).size() / 4);
        }
        const Bytes abTones = PlayWhole(nToneEntry, ID_MIXING_OFF, ID_ALPHA_MAX + m_random.Below(10), nToneStart, nFrames);
        ASSERT_EQ(abTones.size(), 4u * nFrames) << strTonePath;
        auto pTones = FreshEngine();
        ASSERT_TRUE(pTones->Open(strTonePath, dSpeed));
        pTones->Close();
        int64_t nWrapAt = -1;
        for (uint32_t i = 0; i < nFrames; ++i) {
            int64_t nFrame = static_cast<int64_t>(nToneStart) + i;
            if (nFrame > INT32_MAX) {
                nFrame -= static_cast<int64_t>(INT32_MAX) + 1;
                if (nWrapAt < 0)
                    nWrapAt = i;
            }
            int16_t nRight = 0;
            int16_t nLeft = 0;
            CSpeedEngineProbe::AlphaTonePair(*pTones, static_cast<int32_t>(nFrame), nRight, nLeft);
            const uint8_t* p = abTones.data() + 4 * i;
            const int16_t nPlayedLeft = static_cast<int16_t>(p[0] | (p[1] << 8));
            const int16_t nPlayedRight = static_cast<int16_t>(p[2] | (p[3] << 8));
            if (nPlayedLeft != nLeft || nPlayedRight != nRight) {
                ADD_FAILURE() << strTonePath << ": frame " << i << " (tone frame " << nFrame << ") is " << nPlayedLeft
                              << "/" << nPlayedRight << ", the tones are " << nLeft << "/" << nRight;
                break;
            }
        }
        std::printf("soak: %s as tones alone: %u frames, the counter wrapping after frame %lld\n",
                    FileNameOfPath(strTonePath).c_str(), nFrames, static_cast<long long>(nWrapAt));
        EXPECT_GE(nWrapAt, 0) << "the counter did not pass its maximum in " << strTonePath;
    }

    static std::unique_ptr<CVelofonPocketApp> s_pApp;
    std::unique_ptr<CTempDir> m_pDir = MakeDir();
    CScriptedAudioBackend m_sound;
    CBufferWatch m_watch;
    CTicker m_ticker;
    std::unique_ptr<CSingleDocTemplate> m_pTemplate;
    View* m_pView = nullptr;
    CRandom m_random{EnvSeed()};
    std::vector<std::string> m_astrPlaylist;
    std::vector<int> m_anLongEntries;
    int m_nTicksQueued = 0;
    bool m_bInWait = false;
    size_t m_nSeen = 0;
    uint64_t m_nFrameMs = 0;
    double m_dPlayedSeconds = 0;
    int32_t m_nLastToneFrame = 0;
    // VELOFON_SOAK_TRACE=1 prints the state after every step.
    bool m_bTrace = std::getenv("VELOFON_SOAK_TRACE") != nullptr;
    bool m_bToneWrapped = false;
    Bytes* m_pStretch = nullptr;

    struct SAction {
        uint64_t nStep;
        const char* strAction;
        int nArgument;
    };
    static constexpr size_t kRecent = 40;
    SAction m_aRecent[kRecent] = {};
    size_t m_nRecent = 0;
};

std::unique_ptr<CVelofonPocketApp> SoakTest::s_pApp;

int SoakClock()
{
    Advance(1);
    if (g_pSoak)
        g_pSoak->OnClockRead();
    return g_nNowMs;
}

void CSoakView::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == MM_WOM_DONE && g_pSoak)
        g_pSoak->BeforeNotification(wParam, lParam);
    CVelofonPocketView::WindowProc(message, wParam, lParam);
}

void CTicker::WindowProc(UINT, WPARAM, LPARAM)
{
    if (g_pSoak)
        g_pSoak->OnTick();
}

// The watchdog ends the program with exit(): say why the test vanished.
void ReportExitDuringSoak()
{
    if (g_pSoak)
        std::fprintf(stderr, "soak: the program ended in the middle of the soak%s\n", g_pSoak->Where().c_str());
}

TEST_F(SoakTest, HoursOfRandomUseKeepTheStatesBuffersToneAndHeapSound)
{
    const double dHours = EnvNumber("VELOFON_SOAK_HOURS", kDefaultHours);
    std::printf("soak: seed %llu (VELOFON_SOAK_SEED), %.2f hours of sound (VELOFON_SOAK_HOURS)\n",
                static_cast<unsigned long long>(m_nSeed), dHours);
    std::fflush(stdout);
    std::atexit(ReportExitDuringSoak);

    // Starts before midnight, which the run crosses.
    g_nNowMs = (23 * 3600 + 40 * 60) * 1000;
    MakePlaylist();
    Open("Repeat=1\nSpeedIdx=10\nMixingVolume=50\nAlphaControl=25\nWaitSec=1500\n");
    ASSERT_EQ(m_pView->m_PlayList.GetCount(), static_cast<int>(m_astrPlaylist.size()));
    ArmToneWrap(10 * 60 * 44100);
    CheckState(true);

    const double dTarget = dHours * 3600;
    const uint64_t nStepLimit = static_cast<uint64_t>(dTarget * 50) + 10000;
    SResources baseline{};
    bool bBaseline = false;
    while (m_dPlayedSeconds < dTarget && m_stats.nSteps < nStepLimit) {
        Step();
        if (HasFailure()) {
            PrintRecent();
            break;
        }
        if (View::m_nPlayState != PS_IDLE)
            continue;
        if (m_bTrace && m_stats.nSteps % 2000 < 20)
            std::printf("heap %lld bytes at %.3f h\n", Measure().nHeapBytes, m_dPlayedSeconds / 3600);
        // Measured only between runs, where nothing of a file is held.
        if (!bBaseline && m_dPlayedSeconds >= dTarget * 0.1) {
            baseline = Measure();
            bBaseline = true;
        }
        // Once past its maximum, the counter is put before it again: each
        // wrap stands for another half day of tones.
        if (m_bToneWrapped) {
            m_bToneWrapped = false;
            ArmToneWrap(30 * 60 * 44100);
        }
    }
    ASSERT_FALSE(HasFailure());
    EXPECT_GE(m_dPlayedSeconds, dTarget) << "the soak stopped after " << m_stats.nSteps << " steps" << Where();

    // Back to idle and measured there, as the baseline was.
    ClickButton(m_pView->m_StopButton, IDC_STOP, "stop");
    PostTick();
    Dispatch();
    m_sound.ForgetPlayed();
    m_nSeen = 0;
    CheckState(true);
    ASSERT_TRUE(bBaseline) << "too short to measure the heap after a warm-up";
    const SResources end = Measure();

    std::printf("soak: %.2f h of sound in %.2f h of clock, %d midnights, %llu steps, %llu buffers, %llu partial plays,\n"
                "      %llu writes, %llu resets, %llu notifications, %d opens, %llu plays, %llu pauses, %llu stops,\n"
                "      %llu double-clicks, %llu speed presses, >= %llu restarts, %llu waits (%llu stopped, %llu taken\n"
                "      over), %llu nested and %llu burst clicks, %llu tone counter wraps;\n"
                "      heap %lld -> %lld bytes, %lld -> %lld blocks, %d -> %d descriptors\n",
                m_dPlayedSeconds / 3600, static_cast<double>(g_nSimulatedMs) / 3600000, g_nMidnights,
                static_cast<unsigned long long>(m_stats.nSteps), static_cast<unsigned long long>(m_stats.nBuffers),
                static_cast<unsigned long long>(m_stats.nPartialPlays), static_cast<unsigned long long>(m_watch.m_nWrites),
                static_cast<unsigned long long>(m_watch.m_nResets), static_cast<unsigned long long>(m_watch.m_nDelivered),
                m_sound.GetOpenCount(), static_cast<unsigned long long>(m_stats.nPlays),
                static_cast<unsigned long long>(m_stats.nPauses), static_cast<unsigned long long>(m_stats.nStops),
                static_cast<unsigned long long>(m_stats.nDoubleClicks),
                static_cast<unsigned long long>(m_stats.nSpeedPresses),
                static_cast<unsigned long long>(m_stats.nSpeedRestarts), static_cast<unsigned long long>(m_stats.nWaits),
                static_cast<unsigned long long>(m_stats.nStopsInWait), static_cast<unsigned long long>(m_stats.nTakeOvers),
                static_cast<unsigned long long>(m_stats.nNested), static_cast<unsigned long long>(m_stats.nBursts),
                static_cast<unsigned long long>(m_stats.nToneWraps), baseline.nHeapBytes, end.nHeapBytes,
                baseline.nHeapBlocks, end.nHeapBlocks, baseline.nDescriptors, end.nDescriptors);

    // Nothing a run holds is left behind by thousands of them: between runs
    // the same blocks live at the end as after the warm-up.
    EXPECT_LE(end.nHeapBytes - baseline.nHeapBytes, kHeapSlackBytes) << "the heap grew" << Where();
    if (baseline.nHeapBlocks >= 0) {
        EXPECT_LE(end.nHeapBlocks - baseline.nHeapBlocks, 8) << "blocks were left behind" << Where();
    }
    EXPECT_EQ(end.nDescriptors, baseline.nDescriptors) << "descriptors leaked" << Where();

    // Every path the soak is for was taken.
    EXPECT_GT(m_watch.m_nWrites, 0u) << "the wrapped write saw nothing";
    if (dHours >= 0.5) {
        EXPECT_GT(m_stats.nWaits, 0u);
        EXPECT_GT(m_stats.nSpeedRestarts, 0u);
        EXPECT_GT(m_stats.nToneWraps, 0u);
        EXPECT_GT(m_stats.nPartialPlays, 0u);
        EXPECT_GT(g_nMidnights, 0);
    }

    CheckUninterruptedPlayback();
}

} // namespace

extern "C" MMRESULT __wrap__Z12waveOutWriteP10HWAVEOUT__P7WAVEHDRj(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
{
    if (g_pWatch)
        return g_pWatch->Write(hwo, pwh, cbwh);
    return __real__Z12waveOutWriteP10HWAVEOUT__P7WAVEHDRj(hwo, pwh, cbwh);
}

extern "C" MMRESULT __wrap__Z12waveOutResetP10HWAVEOUT__(HWAVEOUT hwo)
{
    if (g_pWatch)
        return g_pWatch->Reset(hwo);
    return __real__Z12waveOutResetP10HWAVEOUT__(hwo);
}
