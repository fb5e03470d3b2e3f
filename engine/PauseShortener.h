// CPauseShortener: shortens long pauses in the recording before it is sped
// up, for listeners of lectures and podcasts. A pipe: Put mono samples in,
// Receive them back with the pauses shortened.
//
// Gaps under 150 ms stay as they are (a stop's closure, the doubled
// consonants of Japanese). A longer pause keeps 30 % of its length, at least
// 150 ms and at most 700 ms: its first 75 ms, then a fade of 15 ms down to
// a low floor, the cut, a fade back up and the rest of what it keeps before
// the next sound, so that a pause never becomes a hard cut to nothing.
// Speech is never removed. It records where it cut, so that what is heard
// can be mapped back to the recording.
//
// Fixed buffers, integer arithmetic; one thread only.
#pragma once

#include "SpeechActivity.h"

#include <cstdint>

class CPauseShortener {
public:
    void Reset(int32_t nSampleRate);
    // How many samples Put takes now.
    int32_t GetRoom() const;
    void Put(const int16_t* pSamples, int32_t nCount);
    // No more input: a pause at the end is shortened like any other.
    void EndInput();
    bool IsInputEnded() const { return m_bInputEnded; }
    // Writes up to nMax samples of what is ready; fewer when it needs input.
    int32_t Receive(int16_t* pOut, int32_t nMax);
    bool IsDone() const { return m_bInputEnded && m_nOutputCount == 0; }
    // The input sample (counted from Reset) that output sample nOutput came
    // from; for the output of the last few seconds.
    int64_t SourceOf(int64_t nOutput) const;
    // Input samples removed so far.
    int64_t GetRemoved() const { return m_nRemoved; }

private:
    void TakeFrame(int64_t nStart, int32_t nLength);
    void EndSilence(int64_t nAt);
    // Appends input samples [nFrom, nTo) to the output, faded from gain
    // nGainFrom to nGainTo (1 << 15 is unchanged) when the two differ.
    void Emit(int64_t nFrom, int64_t nTo, int32_t nGainFrom = kUnity, int32_t nGainTo = kUnity);
    void Drop(int64_t nTo);
    const int16_t* At(int64_t nPosition) const { return m_asInput + (nPosition - m_nInputBase); }

    static constexpr int32_t kUnity = 1 << 15;
    static constexpr int32_t kCapacity = 1 << 16;
    static constexpr int kCutRing = 256;

    struct SCut {
        int64_t nOutputAt; // the first output sample after the cut
        int64_t nRemoved;  // removed before it, this cut included
    };

    CSpeechActivity m_activity;
    int32_t m_nFrameLength = 0;
    int32_t m_nShortestPause = 0;
    int32_t m_nHead = 0;
    int32_t m_nFade = 0;
    int32_t m_nLeastKept = 0;
    int32_t m_nMostKept = 0;

    int16_t m_asInput[kCapacity] = {};
    int64_t m_nInputBase = 0;
    int32_t m_nInputCount = 0;
    int64_t m_nFramesTaken = 0;
    bool m_bInputEnded = false;
    // Input before this has been emitted or dropped.
    int64_t m_nSettled = 0;
    // The silent run under way (-1 for none), and whether it is being cut.
    int64_t m_nSilenceStart = -1;
    bool m_bCutting = false;

    int16_t m_asOutput[kCapacity] = {};
    int32_t m_nOutputRead = 0;
    int32_t m_nOutputCount = 0;
    int64_t m_nOutputTotal = 0;

    SCut m_aCuts[kCutRing] = {};
    int m_nCuts = 0;
    int64_t m_nRemoved = 0;
};
