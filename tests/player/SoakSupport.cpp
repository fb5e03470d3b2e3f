#include "SoakSupport.h"

#include "../engine/EngineProbe.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

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
// Without the sanitizer the soak counts the blocks of new and delete itself:
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

void* CountedAllocateOrNull(size_t nBytes) noexcept
{
    try {
        return CountedAllocate(nBytes);
    } catch (...) {
        return nullptr;
    }
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
    return CountedAllocateOrNull(nBytes);
}
void* operator new[](size_t nBytes, const std::nothrow_t&) noexcept
{
    return CountedAllocateOrNull(nBytes);
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

namespace {

constexpr double kPi = 3.14159265358979323846;

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

} // namespace

uint64_t CRandom::Next()
{
    uint64_t z = (m_nState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double DefaultSoakHours()
{
#if defined(VELOFON_SOAK_ASAN) || !defined(NDEBUG)
    return 3.0;
#else
    return 12.0;
#endif
}

double EnvNumber(const char* strName, double dDefault)
{
    const char* str = std::getenv(strName);
    if (!str || !*str)
        return dDefault;
    char* pEnd = nullptr;
    const double d = std::strtod(str, &pEnd);
    return pEnd && *pEnd == '\0' && d > 0 ? d : dDefault;
}

uint64_t EnvSeed(uint64_t nDefault)
{
    const char* str = std::getenv("VELOFON_SOAK_SEED");
    return str && *str ? std::strtoull(str, nullptr, 0) : nDefault;
}

Bytes SpeechWav(uint16_t nChannels, uint16_t nBits, uint32_t nRate, double dSeconds, uint32_t nVoice)
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

SResources MeasureResources()
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

int32_t& ToneFrame(CSpeedEngine& engine)
{
    return CSpeedEngineProbe::ToneFrame(engine);
}

double EngineSpeed(const CSpeedEngine& engine)
{
    return CSpeedEngineProbe::Speed(engine);
}

void ExpectTonePeriodsOfItsRate(const CSpeedEngine& engine, const std::string& strWhere)
{
    const int32_t nRate = CSpeedEngineProbe::SampleRate(engine);
    const int32_t nLow = static_cast<int32_t>(CSpeedEngineProbe::LowPeriod(engine));
    const int32_t nHigh = static_cast<int32_t>(CSpeedEngineProbe::HighPeriod(engine));
    EXPECT_EQ(nLow, static_cast<int32_t>(nRate / CSpeedEngine::kToneLowFrequency)) << strWhere;
    EXPECT_TRUE(nHigh > 0 && nHigh <= nLow && nLow <= CSpeedEngine::kMaxTonePeriod)
        << nHigh << " " << nLow << strWhere;
}

int64_t ExpectTonesAcrossTheWrap(CSpeedEngine& tones, const Bytes& abTones, const std::string& strPath, double dSpeed,
                                 int32_t nToneStart)
{
    // Opening the file sets the tones up for its rate.
    EXPECT_TRUE(tones.Open(strPath, dSpeed));
    tones.Close();
    int64_t nWrapAt = -1;
    for (size_t i = 0; i < abTones.size() / 4; ++i) {
        int64_t nFrame = static_cast<int64_t>(nToneStart) + static_cast<int64_t>(i);
        if (nFrame > INT32_MAX) {
            nFrame -= static_cast<int64_t>(INT32_MAX) + 1;
            if (nWrapAt < 0)
                nWrapAt = static_cast<int64_t>(i);
        }
        int16_t nRight = 0;
        int16_t nLeft = 0;
        CSpeedEngineProbe::AlphaTonePair(tones, static_cast<int32_t>(nFrame), nRight, nLeft);
        const uint8_t* p = abTones.data() + 4 * i;
        const int16_t nPlayedLeft = static_cast<int16_t>(p[0] | (p[1] << 8));
        const int16_t nPlayedRight = static_cast<int16_t>(p[2] | (p[3] << 8));
        if (nPlayedLeft != nLeft || nPlayedRight != nRight) {
            ADD_FAILURE() << strPath << ": frame " << i << " (tone frame " << nFrame << ") is " << nPlayedLeft << "/"
                          << nPlayedRight << ", the tones are " << nLeft << "/" << nRight;
            break;
        }
    }
    return nWrapAt;
}

CBufferWatch::CBufferWatch(const CWaveOutput& output, std::function<void()> onWrite)
    : m_output(output)
    , m_onWrite(std::move(onWrite))
{
    for (auto& abSlot : m_abWritten)
        abSlot.resize(WAVE_BUFFER_BYTES);
    m_owed.reserve(64);
    SetWaveOutObserver(this);
}

CBufferWatch::~CBufferWatch()
{
    SetWaveOutObserver(nullptr);
}

int CBufferWatch::SlotOf(const WAVEHDR* pHeader) const
{
    for (int nSlot = 0; nSlot < WAVE_BUFFER_COUNT; ++nSlot) {
        if (m_output.GetHeader(nSlot) == pHeader)
            return nSlot;
    }
    return -1;
}

int CBufferWatch::QueuedHeaders() const
{
    int nQueued = 0;
    for (int nSlot = 0; nSlot < WAVE_BUFFER_COUNT; ++nSlot)
        nQueued += (m_output.GetHeader(nSlot)->dwFlags & WHDR_INQUEUE) ? 1 : 0;
    return nQueued;
}

void CBufferWatch::BeforeWrite(HWAVEOUT hwo, const WAVEHDR* pwh)
{
    ++m_nWrites;
    const int nSlot = SlotOf(pwh);
    EXPECT_GE(nSlot, 0) << "a header that is not one of the output's";
    if (nSlot < 0)
        return;
    EXPECT_FALSE(pwh->dwFlags & WHDR_INQUEUE) << "slot " << nSlot << " written again while still queued";
    EXPECT_EQ(Owed(hwo, nSlot), 0) << "slot " << nSlot << " written again before its notification was handled";
    for (const SQueued& queued : m_queue) {
        EXPECT_EQ(queued.hwo, hwo) << "a second output written while the first still holds buffers";
        EXPECT_NE(queued.nSlot, nSlot) << "slot " << nSlot << " queued twice";
    }
    m_onWrite();
    const uint32_t nBytes = pwh->dwBufferLength;
    EXPECT_TRUE(nBytes > 0 && nBytes <= WAVE_BUFFER_BYTES && nBytes % 4 == 0) << nBytes << " bytes";
}

void CBufferWatch::AfterWrite(HWAVEOUT hwo, const WAVEHDR* pwh, MMRESULT nResult)
{
    const int nSlot = SlotOf(pwh);
    if (nSlot < 0)
        return;
    EXPECT_EQ(nResult, MMSYSERR_NOERROR) << "the sound system refused slot " << nSlot;
    const uint32_t nBytes = pwh->dwBufferLength;
    if (nResult == MMSYSERR_NOERROR && nBytes <= WAVE_BUFFER_BYTES) {
        std::memcpy(m_abWritten[nSlot].data(), pwh->lpData, nBytes);
        m_queue.push_back(SQueued{hwo, nSlot, nBytes, 0});
    }
}

void CBufferWatch::BeforeReset(HWAVEOUT hwo)
{
    ++m_nResets;
    // Every buffer still queued comes back with a notification of its own.
    for (const SQueued& queued : m_queue) {
        EXPECT_EQ(queued.hwo, hwo) << "a reset of one output while another holds buffers";
        ++Owed(queued.hwo, queued.nSlot);
    }
    m_queue.clear();
}

void CBufferWatch::AfterReset(HWAVEOUT, MMRESULT nResult)
{
    EXPECT_EQ(nResult, MMSYSERR_NOERROR);
}

void CBufferWatch::Played(const unsigned char* pData, size_t nBytes)
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

void CBufferWatch::Delivered(HWAVEOUT hwo, const WAVEHDR* pwh)
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

int CBufferWatch::OwedCount() const
{
    int nOwed = 0;
    for (const SOwed& owed : m_owed)
        nOwed += owed.nCount;
    return nOwed;
}

std::vector<CBufferWatch::SOwed>::iterator CBufferWatch::Find(HWAVEOUT hwo, int nSlot)
{
    return std::find_if(m_owed.begin(), m_owed.end(),
                        [&](const SOwed& owed) { return owed.hwo == hwo && owed.nSlot == nSlot; });
}

int& CBufferWatch::Owed(HWAVEOUT hwo, int nSlot)
{
    auto owed = Find(hwo, nSlot);
    if (owed != m_owed.end())
        return owed->nCount;
    m_owed.push_back(SOwed{hwo, nSlot, 0});
    return m_owed.back().nCount;
}
