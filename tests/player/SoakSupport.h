// What the soak of the player stands on besides the player itself: a
// repeatable random sequence, generated speech, a watch over every buffer
// handed to the sound system, the engine's Alpha tone counter, and the heap
// and descriptors the process holds.
#pragma once

#include "../WavBytes.h"

#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// SplitMix64: the same sequence from a seed with every compiler and library.
class CRandom {
public:
    explicit CRandom(uint64_t nSeed)
        : m_nState(nSeed)
    {
    }
    uint64_t Next();
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
    bool Chance(uint32_t nPerMille) { return Below(1000) < nPerMille; }

private:
    uint64_t m_nState;
};

// Hours of sound a soak plays by default: fewer where the code runs unoptimised
// or instrumented, many times slower.
double DefaultSoakHours();
// A positive number from the environment, else dDefault.
double EnvNumber(const char* strName, double dDefault);
uint64_t EnvSeed(uint64_t nDefault);

// A WAV of a speech-like signal: two partials under a syllable envelope, with
// pauses; each voice sounds different.
Bytes SpeechWav(uint16_t nChannels, uint16_t nBits, uint32_t nRate, double dSeconds, uint32_t nVoice);

struct SResources {
    long long nHeapBytes;
    long long nHeapBlocks; // -1 where only the bytes are known
    int nDescriptors;
};
SResources MeasureResources();

// The engine's Alpha tone counter, which runs on across files.
int32_t& ToneFrame(CSpeedEngine& engine);
double EngineSpeed(const CSpeedEngine& engine);
// The tone periods, and so the tables the counter indexes, are the open
// file's rate's.
void ExpectTonePeriodsOfItsRate(const CSpeedEngine& engine, const std::string& strWhere);
// Checks that every frame of abTones (the file's tones alone, its speech at
// level 0) is the tone pair that tones, an engine with the player's levels,
// makes for its own frame number, counted from nToneStart and on from 0
// after the counter's maximum. Returns the frame at which the counter
// wrapped, -1 when it did not.
int64_t ExpectTonesAcrossTheWrap(CSpeedEngine& tones, const Bytes& abTones, const std::string& strPath, double dSpeed,
                                 int32_t nToneStart);

// Follows every buffer the output hands to the sound system, as the wave-out
// calls' observer, and the bytes the scripted backend plays: a buffer must not change or be written
// again while it is queued, and each must get exactly the notifications its
// write or a reset owes. Only one watch at a time.
class CBufferWatch : public IWaveOutObserver {
public:
    // onWrite checks the player's state before each write.
    CBufferWatch(const CWaveOutput& output, std::function<void()> onWrite);
    ~CBufferWatch() override;
    CBufferWatch(const CBufferWatch&) = delete;
    CBufferWatch& operator=(const CBufferWatch&) = delete;

    void BeforeWrite(HWAVEOUT hwo, const WAVEHDR* pwh) override;
    void AfterWrite(HWAVEOUT hwo, const WAVEHDR* pwh, MMRESULT nResult) override;
    void BeforeReset(HWAVEOUT hwo) override;
    void AfterReset(HWAVEOUT hwo, MMRESULT nResult) override;
    // Bytes the backend played, in order.
    void Played(const unsigned char* pData, size_t nBytes);
    // An MM_WOM_DONE about to reach the player.
    void Delivered(HWAVEOUT hwo, const WAVEHDR* pwh);

    size_t QueuedCount() const { return m_queue.size(); }
    int QueuedHeaders() const;
    int OwedCount() const;

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

    int SlotOf(const WAVEHDR* pHeader) const;
    std::vector<SOwed>::iterator Find(HWAVEOUT hwo, int nSlot);
    int& Owed(HWAVEOUT hwo, int nSlot);

    const CWaveOutput& m_output;
    std::function<void()> m_onWrite;
    std::deque<SQueued> m_queue;
    std::vector<SOwed> m_owed;
    std::vector<unsigned char> m_abWritten[WAVE_BUFFER_COUNT];
};
