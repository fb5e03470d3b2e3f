// The Alpha tones and the stereo output stage. The left ear hears a tone
// half the beat above the centre, the right ear one half the beat below.
// Each period is a whole number of samples, so the tones repeat exactly and
// one precomputed period of each serves every frame.
#include "SpeedEngine.h"

#include "HotLoop.h"
#include "Tables.h"

#include <algorithm>
#include <climits>
#include <cstring>

void CSpeedEngine::SetupAlphaTones()
{
    const double dHalf = kToneBeat * 0.5;
    m_dToneLowPeriod = m_nSampleRate / (kToneCentre - dHalf);
    m_dToneHighPeriod = m_nSampleRate / (dHalf + kToneCentre);
    BuildToneTables();
}

// The tones of frame nFrame (>= 0): a sine of 5 x m_nAlphaLevel peak, looked
// up in tenths of a degree.
void CSpeedEngine::AlphaTonePair(int32_t nFrame, int16_t& nRight, int16_t& nLeft) const
{
    auto tone = [&](double dPeriod) {
        const int32_t nPeriod = static_cast<int32_t>(dPeriod);
        const int32_t nPhase = nFrame % nPeriod;
        const int32_t nIndex = nPhase * kSineTableSize / nPeriod;
        const int32_t nSine = g_SineTable[nIndex] * 50 / 1000;
        return static_cast<int16_t>(static_cast<int64_t>(nSine) * m_nAlphaLevel / 100);
    };
    nRight = tone(m_dToneLowPeriod);
    nLeft = tone(m_dToneHighPeriod);
}

void CSpeedEngine::BuildToneTables()
{
    const int32_t nRightPeriod = static_cast<int32_t>(m_dToneLowPeriod);
    const int32_t nLeftPeriod = static_cast<int32_t>(m_dToneHighPeriod);
    for (int32_t nFrame = 0; nFrame < std::max(nRightPeriod, nLeftPeriod); ++nFrame) {
        int16_t nRight = 0;
        int16_t nLeft = 0;
        AlphaTonePair(nFrame, nRight, nLeft);
        if (nFrame < nRightPeriod)
            m_asRightTone[nFrame] = nRight;
        if (nFrame < nLeftPeriod)
            m_asLeftTone[nFrame] = nLeft;
    }
    m_nToneTableLevel = m_nAlphaLevel;
}

namespace {

inline void StoreFrame(unsigned char* pOut, int32_t nLeft, int32_t nRight)
{
    // Loud speech plus a tone is held at the limit rather than flipping sign.
    const uint32_t nFrame = static_cast<uint16_t>(SaturateToInt16(nLeft))
        | (static_cast<uint32_t>(static_cast<uint16_t>(SaturateToInt16(nRight))) << 16);
    std::memcpy(pOut, &nFrame, sizeof nFrame);
}

} // namespace

VELOFON_HOT_LOOP void CSpeedEngine::MakeStereo(const int16_t* pMono, void* pOut, int32_t nMonoBytes)
{
    auto* pFrames = static_cast<unsigned char*>(pOut);
    const int32_t nSamples = nMonoBytes / 2;
    if (nSamples <= 0)
        return; // also before the first Open, when there are no tone periods yet
    if (!m_bAlpha) {
        for (int32_t i = 0; i < nSamples; ++i)
            StoreFrame(pFrames + 4 * i, pMono[i], pMono[i]);
        return;
    }
    if (m_nToneTableLevel != m_nAlphaLevel)
        BuildToneTables();
    const int32_t nRightPeriod = static_cast<int32_t>(m_dToneLowPeriod);
    const int32_t nLeftPeriod = static_cast<int32_t>(m_dToneHighPeriod);
    int32_t nRightPhase = m_nToneFrame % nRightPeriod;
    int32_t nLeftPhase = m_nToneFrame % nLeftPeriod;
    int32_t nDone = 0;
    while (nDone < nSamples) {
        // A run ends where either tone starts a new period or the frame
        // counter would pass its maximum (it then starts again at 0).
        const int64_t nUntilWrap = static_cast<int64_t>(INT32_MAX) - m_nToneFrame + 1;
        const int32_t nRun = static_cast<int32_t>(std::min<int64_t>(
            { nSamples - nDone, nRightPeriod - nRightPhase, nLeftPeriod - nLeftPhase, nUntilWrap }));
        const int16_t* pRight = m_asRightTone + nRightPhase;
        const int16_t* pLeft = m_asLeftTone + nLeftPhase;
        const int16_t* pIn = pMono + nDone;
        unsigned char* pDest = pFrames + 4 * nDone;
        for (int32_t j = 0; j < nRun; ++j)
            StoreFrame(pDest + 4 * j, pIn[j] + pLeft[j], pIn[j] + pRight[j]);
        nDone += nRun;
        nRightPhase = (nRightPhase + nRun) % nRightPeriod;
        nLeftPhase = (nLeftPhase + nRun) % nLeftPeriod;
        if (nRun == nUntilWrap) {
            m_nToneFrame = 0;
            nRightPhase = 0;
            nLeftPhase = 0;
        } else {
            m_nToneFrame += nRun;
        }
    }
}
