#include "SpeedEngine.h"

#include "HotLoop.h"
#include "Tables.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Far beyond the Mixing MAX of 20; keeps sum x gain inside 32 bits for any
// four 16-bit samples.
constexpr int32_t kMaxMixingGain = 16383;

} // namespace

CSpeedEngine::CSpeedEngine(double dSpeed)
    : m_dSpeed(dSpeed)
{
}

bool CSpeedEngine::Open(std::string strPath, double dSpeed)
{
    if (!m_SoundFile.Open(strPath)) {
        m_eOpenError = m_SoundFile.GetLastError();
        m_strRefusedFormat.clear();
        return false;
    }
    const WAVEFORMATEX& wfx = *m_SoundFile.GetFormat();
    const EFormatKind eKind = FormatKindOf(wfx);
    SGeometry geometry{};
    EOpenError eError = EOpenError::None;
    if (eKind == FMT_NONE)
        eError = EOpenError::UnsupportedLayout;
    else if (wfx.nSamplesPerSec > INT32_MAX
        || !ComputeGeometry(static_cast<int32_t>(wfx.nSamplesPerSec), dSpeed, geometry))
        eError = EOpenError::UnsupportedRate;
    m_eOpenError = eError;
    m_strRefusedFormat = eError == EOpenError::None ? std::string() : m_SoundFile.GetFormatName();
    if (eError != EOpenError::None) {
        m_SoundFile.Close();
        return false;
    }
    m_nFormatKind = eKind;
    m_nSampleRate = static_cast<int32_t>(wfx.nSamplesPerSec);
    SetSpeed(dSpeed);
    Prepare(geometry);
    return true;
}

std::string CSpeedEngine::GetOpenErrorText() const
{
    if (m_strRefusedFormat.empty())
        return m_SoundFile.GetLastErrorText();
    std::string strText = DescribeOpenError(m_eOpenError) + std::string(" (") + m_strRefusedFormat;
    if (m_eOpenError == EOpenError::UnsupportedRate)
        strText += " at " + std::to_string(GetFormat()->nSamplesPerSec) + " Hz";
    return strText + ")";
}

// Segment geometry: the rate table gives the nominal segment length for the
// speed's row; the hop is that length divided by the speed, and the segment
// is rebuilt from the hop so that segments tile the input exactly.
bool CSpeedEngine::ComputeGeometry(int32_t nSampleRate, double dSpeed, SGeometry& geometry)
{
    if (nSampleRate < kLowestSampleRate || !(dSpeed > 0.0) || !(dSpeed * 10 < kSegmentRateRows))
        return false;
    const int nRow = static_cast<int>(dSpeed * 10);
    const float fNominal = static_cast<float>(nSampleRate) / g_SegmentRates[nRow].fSegmentsPerSec;
    const double dHop = static_cast<int32_t>(fNominal) / dSpeed;
    if (!(dHop <= kTrackLength))
        return false;
    const int32_t nHop = static_cast<int32_t>(dHop);
    const int32_t nSegLen = static_cast<int32_t>(nHop * dSpeed);
    // The fourth segment starts three hops ahead and must not reach the
    // unread part of its track.
    if (nSegLen > kMaxSegmentLength || 3 * nHop + nSegLen > kTrackLength)
        return false;
    if (nSampleRate / kToneLowFrequency >= kMaxTonePeriod)
        return false;
    geometry = { nHop, nSegLen };
    return true;
}

void CSpeedEngine::Prepare(const SGeometry& geometry)
{
    m_bEndOfInput = 0;
    m_nHop = geometry.nHop;
    m_nSegLen = geometry.nSegLen;
    std::memset(m_asTrack, 0, sizeof m_asTrack);
    std::fill(std::begin(m_anTrackEnd), std::end(m_anTrackEnd), 0);
    m_nReadIndex = 0;
    m_nWriteOffset = 0;
    m_nWriteAhead = 0;
    m_nNextTrack = 0;
    SetupAlphaTones();
}

// Reads the next segment, fades it and lays it on the next track: -1 when
// that track still holds an unfinished segment, 0 at the end of the input,
// otherwise the number of input samples read.
int32_t CSpeedEngine::ProduceSegment()
{
    const int32_t nTrack = m_nNextTrack;
    if (m_anTrackEnd[nTrack] >= 1)
        return -1;
    const int32_t nRead = ReadSegment(m_asScratch, m_nSegLen);
    if (nRead == 0)
        return 0;

    const int32_t nLength = m_nSegLen;
    // Neighbouring segments overlap by about this much; the speed may have
    // changed since Open, and a speed below 1 means no fade at all.
    const double dFade = nLength - nLength / m_dSpeed;
    const int32_t nFade = dFade > 0 ? static_cast<int32_t>(std::min<double>(dFade, nLength)) : 0;
    ApplyFades(m_asScratch, nLength, nFade);

    const int32_t nFirst = std::min(nLength, kTrackLength - m_nWriteOffset);
    std::memcpy(&m_asTrack[nTrack][m_nWriteOffset], m_asScratch, sizeof(int16_t) * nFirst);
    std::memcpy(&m_asTrack[nTrack][0], m_asScratch + nFirst, sizeof(int16_t) * (nLength - nFirst));

    m_anTrackEnd[nTrack] = m_nWriteAhead + nLength - 1;
    m_nWriteAhead += m_nHop;
    m_nWriteOffset = (m_nWriteOffset + m_nHop) % kTrackLength;
    m_nNextTrack = (nTrack + 1) % kTrackCount;
    return nRead;
}

// Linear fade-in over the first nFade samples and fade-out over the last, in
// whole percent: sample i of the ramp is scaled by (100 x i) / nFade. Where
// the ramps overlap (speeds above 2.0) a sample in the first half takes the
// fade-in first, one in the second half the fade-out first; the truncation
// of each step makes that order audible in the last bit.
VELOFON_HOT_LOOP void CSpeedEngine::ApplyFades(int16_t* pSegment, int32_t nLength, int32_t nFade)
{
    if (nFade != m_nFadeGainLength) {
        int32_t nGain = 0;
        int32_t nRemainder = 0;
        for (int32_t i = 0; i < nFade; ++i) {
            m_anFadeGain[i] = static_cast<int16_t>(nGain);
            nRemainder += 100;
            while (nRemainder >= nFade) {
                nRemainder -= nFade;
                ++nGain;
            }
        }
        m_nFadeGainLength = nFade;
    }
    const int16_t* pGain = m_anFadeGain;
    const int32_t nHalf = (nLength + 1) / 2;
    for (int32_t i = 0; i < std::min(nFade, nHalf); ++i)
        pSegment[i] = static_cast<int16_t>(pSegment[i] * pGain[i] / 100);
    for (int32_t i = nLength - nFade; i < nLength; ++i)
        pSegment[i] = static_cast<int16_t>(pSegment[i] * pGain[nLength - 1 - i] / 100);
    for (int32_t i = nHalf; i < nFade; ++i)
        pSegment[i] = static_cast<int16_t>(pSegment[i] * pGain[i] / 100);
}

// Sums the four tracks over one hop from the read position, applies the
// Mixing gain (tenths) and clears what it read. Sums beyond 16 bits are held
// at the limit: wrapping them would flip loud speech into clicks.
VELOFON_HOT_LOOP void CSpeedEngine::MixHop(int16_t* pDest)
{
    const int32_t nGain = std::clamp(m_nMixingGain, -kMaxMixingGain, kMaxMixingGain);
    int32_t nDone = 0;
    while (nDone < m_nHop) {
        const int32_t nRead = m_nReadIndex;
        const int32_t nRun = std::min(m_nHop - nDone, kTrackLength - nRead);
        int16_t* p0 = &m_asTrack[0][nRead];
        int16_t* p1 = &m_asTrack[1][nRead];
        int16_t* p2 = &m_asTrack[2][nRead];
        int16_t* p3 = &m_asTrack[3][nRead];
        int16_t* pOut = pDest + nDone;
        for (int32_t j = 0; j < nRun; ++j) {
            const int32_t nSum = p0[j] + p1[j] + p2[j] + p3[j];
            pOut[j] = SaturateToInt16(nSum * nGain / 10);
        }
        for (int16_t* pTrack : { p0, p1, p2, p3 })
            std::memset(pTrack, 0, sizeof(int16_t) * nRun);
        nDone += nRun;
        m_nReadIndex = (nRead + nRun) % kTrackLength;
    }
}

void CSpeedEngine::AgeTracks()
{
    for (int32_t& nEnd : m_anTrackEnd)
        nEnd = std::max(nEnd - m_nHop, 0);
    m_nWriteAhead -= m_nHop;
}

uint32_t CSpeedEngine::Fill(void* pBuffer, uint32_t nCapacity)
{
    // Bytes of mono that fit; the staging array bounds larger buffers.
    const int64_t nLimit = std::min<int64_t>(nCapacity / 2, sizeof m_asMono);
    int32_t nProduced = 0;
    // A hop landing exactly on the limit is not taken.
    while (nProduced + 2 * static_cast<int64_t>(m_nHop) < nLimit) {
        for (int32_t nCall = 0; nCall < kTrackCount; ++nCall) {
            const int32_t nResult = ProduceSegment();
            if (nResult == -1)
                break;
            if (nResult == 0) {
                m_bEndOfInput = 1;
                break;
            }
        }
        const bool bAllFree = std::all_of(std::begin(m_anTrackEnd), std::end(m_anTrackEnd),
            [](int32_t nEnd) { return nEnd < 1; });
        if (bAllFree && m_bEndOfInput)
            break;
        MixHop(m_asMono + nProduced / 2);
        AgeTracks();
        nProduced += 2 * m_nHop;
    }
    MakeStereo(m_asMono, pBuffer, nProduced);
    return 2 * static_cast<uint32_t>(nProduced);
}

uint64_t HeardFrames(uint64_t nPlayedOutputFrames, int32_t nSegmentLength, int32_t nHop, uint64_t nTotalFrames)
{
    if (nHop <= 0 || nSegmentLength <= 0)
        return 0;
    const uint64_t nHop64 = static_cast<uint64_t>(nHop);
    const uint64_t nSegment64 = static_cast<uint64_t>(nSegmentLength);
    // Whole hops first, so that hours of sound cannot overflow the product.
    const uint64_t nHeard = nPlayedOutputFrames / nHop64 * nSegment64 + nPlayedOutputFrames % nHop64 * nSegment64 / nHop64;
    return std::min(nHeard, nTotalFrames);
}
