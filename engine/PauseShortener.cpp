#include "PauseShortener.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t kShortestPauseMs = 150;
// A pause keeps this share (in percent) of its length, within the bounds.
constexpr int32_t kKeptPercent = 30;
constexpr int32_t kLeastKeptMs = 150;
constexpr int32_t kMostKeptMs = 700;
constexpr int32_t kHeadMs = 75;
constexpr int32_t kFadeMs = 15;
// The level at the cut, against the pause's own: low enough that the cut is
// not heard, high enough that the room's sound goes on (1 << 15 is unchanged).
constexpr int32_t kFloorGain = 3277;

} // namespace

void CPauseShortener::Reset(int32_t nSampleRate)
{
    m_activity.Reset(nSampleRate);
    m_nFrameLength = m_activity.GetFrameLength();
    m_nShortestPause = SamplesOfMs(nSampleRate, kShortestPauseMs);
    m_nHead = SamplesOfMs(nSampleRate, kHeadMs);
    m_nFade = std::min(m_nHead, SamplesOfMs(nSampleRate, kFadeMs));
    m_nLeastKept = std::max(SamplesOfMs(nSampleRate, kLeastKeptMs), 2 * m_nHead);
    m_nMostKept = std::max(SamplesOfMs(nSampleRate, kMostKeptMs), m_nLeastKept);
    m_nInputBase = 0;
    m_nInputCount = 0;
    m_nFramesTaken = 0;
    m_bInputEnded = false;
    m_nSettled = 0;
    m_nSilenceStart = -1;
    m_bCutting = false;
    m_nOutputRead = 0;
    m_nOutputCount = 0;
    m_nOutputTotal = 0;
    m_nCuts = 0;
    m_nRemoved = 0;
}

int32_t CPauseShortener::GetRoom() const
{
    if (m_bInputEnded)
        return 0;
    // Taking a frame may release a whole kept pause at once.
    const int32_t nBurst = m_nMostKept + 2 * m_nFrameLength;
    const int32_t nInputRoom = kCapacity - m_nInputCount;
    const int32_t nOutputRoom = kCapacity - (m_nOutputRead + m_nOutputCount) - nBurst;
    return std::max(0, std::min(nInputRoom, nOutputRoom));
}

void CPauseShortener::Put(const int16_t* pSamples, int32_t nCount)
{
    if (m_bInputEnded)
        return;
    // What no frame needs any more makes room at the front.
    const int64_t nUnneeded = std::min(m_nSettled, m_nFramesTaken * m_nFrameLength) - m_nInputBase;
    if (nUnneeded > 0) {
        m_nInputCount -= static_cast<int32_t>(nUnneeded);
        std::memmove(m_asInput, m_asInput + nUnneeded, sizeof(int16_t) * static_cast<size_t>(m_nInputCount));
        m_nInputBase += nUnneeded;
    }
    nCount = std::clamp(nCount, 0, kCapacity - m_nInputCount);
    std::memcpy(m_asInput + m_nInputCount, pSamples, sizeof(int16_t) * static_cast<size_t>(nCount));
    m_nInputCount += nCount;
    for (int64_t nStart; (nStart = m_nFramesTaken * m_nFrameLength) + m_nFrameLength <= m_nInputBase + m_nInputCount;)
        TakeFrame(nStart, m_nFrameLength);
}

void CPauseShortener::EndInput()
{
    if (m_bInputEnded)
        return;
    const int64_t nStart = m_nFramesTaken * m_nFrameLength;
    const int64_t nEnd = m_nInputBase + m_nInputCount;
    if (nEnd > nStart)
        TakeFrame(nStart, static_cast<int32_t>(nEnd - nStart));
    m_bInputEnded = true;
    EndSilence(nEnd);
}

void CPauseShortener::TakeFrame(int64_t nStart, int32_t nLength)
{
    ++m_nFramesTaken;
    const int64_t nEnd = nStart + nLength;
    if (m_activity.IsSpeech(At(nStart), nLength)) {
        EndSilence(nStart);
        Emit(nStart, nEnd);
        return;
    }
    if (m_nSilenceStart < 0)
        m_nSilenceStart = nStart;
    const int64_t nFadeStart = m_nSilenceStart + m_nHead - m_nFade;
    if (!m_bCutting) {
        Emit(m_nSettled, std::min(nEnd, nFadeStart));
        if (nEnd - m_nSilenceStart < m_nShortestPause)
            return;
        // A pause for certain: its head fades to the floor, and what follows
        // waits to see how much of it the pause keeps.
        m_bCutting = true;
        Emit(nFadeStart, nFadeStart + m_nFade, kUnity, kFloorGain);
    }
    // Older than the longest tail a pause keeps: cut, whatever its length.
    Drop(nEnd - (m_nMostKept - m_nHead));
}

// The silent run ends at nAt: a short one goes out as it was, a pause keeps
// the end of its share, faded up from the floor.
void CPauseShortener::EndSilence(int64_t nAt)
{
    if (m_nSilenceStart < 0)
        return;
    if (m_bCutting) {
        const int64_t nLength = nAt - m_nSilenceStart;
        const int64_t nKept = std::clamp<int64_t>(nLength * kKeptPercent / 100, m_nLeastKept, m_nMostKept);
        const int64_t nTailStart = nAt - (nKept - m_nHead);
        Drop(nTailStart);
        m_aCuts[m_nCuts % kCutRing] = SCut{m_nOutputTotal, m_nRemoved};
        ++m_nCuts;
        const int64_t nFadeEnd = std::min(nAt, nTailStart + m_nFade);
        Emit(nTailStart, nFadeEnd, kFloorGain, kUnity);
        Emit(nFadeEnd, nAt);
    } else {
        Emit(m_nSettled, nAt);
    }
    m_nSilenceStart = -1;
    m_bCutting = false;
}

void CPauseShortener::Drop(int64_t nTo)
{
    if (nTo <= m_nSettled)
        return;
    m_nRemoved += nTo - m_nSettled;
    m_nSettled = nTo;
}

void CPauseShortener::Emit(int64_t nFrom, int64_t nTo, int32_t nGainFrom, int32_t nGainTo)
{
    if (nTo <= nFrom)
        return;
    if (m_nOutputRead > 0) {
        std::memmove(m_asOutput, m_asOutput + m_nOutputRead, sizeof(int16_t) * static_cast<size_t>(m_nOutputCount));
        m_nOutputRead = 0;
    }
    const int32_t nCount = static_cast<int32_t>(std::min<int64_t>(nTo - nFrom, kCapacity - m_nOutputCount));
    const int16_t* pFrom = At(nFrom);
    int16_t* pTo = m_asOutput + m_nOutputCount;
    if (nGainFrom == nGainTo) {
        std::memcpy(pTo, pFrom, sizeof(int16_t) * static_cast<size_t>(nCount));
    } else {
        for (int32_t i = 0; i < nCount; ++i) {
            const int32_t nGain = nGainFrom + (nGainTo - nGainFrom) * (i + 1) / nCount;
            pTo[i] = static_cast<int16_t>(pFrom[i] * nGain >> 15);
        }
    }
    m_nOutputCount += nCount;
    m_nOutputTotal += nCount;
    m_nSettled = std::max(m_nSettled, nFrom + nCount);
}

int32_t CPauseShortener::Receive(int16_t* pOut, int32_t nMax)
{
    const int32_t nCount = std::clamp(nMax, 0, m_nOutputCount);
    std::memcpy(pOut, m_asOutput + m_nOutputRead, sizeof(int16_t) * static_cast<size_t>(nCount));
    m_nOutputRead += nCount;
    m_nOutputCount -= nCount;
    return nCount;
}

int64_t CPauseShortener::SourceOf(int64_t nOutput) const
{
    for (int nCut = m_nCuts - 1; nCut >= std::max(0, m_nCuts - kCutRing); --nCut) {
        const SCut& cut = m_aCuts[nCut % kCutRing];
        if (cut.nOutputAt <= nOutput)
            return nOutput + cut.nRemoved;
    }
    return nOutput + (m_nCuts > kCutRing ? m_aCuts[m_nCuts % kCutRing].nRemoved : 0);
}
