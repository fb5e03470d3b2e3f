#include "SpeedEngine.h"

#include "HotLoop.h"
#include "Tables.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// Far beyond the Mixing MAX of 20; keeps sum x gain inside 32 bits for any
// four 16-bit samples.
constexpr int32_t kMaxMixingGain = 16383;

// Pulls up to nCount samples out of a pipe stage (the clear stretcher, the
// pause shortener), feeding it from read(pStaging, n) whenever it runs dry
// and telling it the end when read gives nothing. pStaging holds
// CSpeedEngine::kMaxSegmentLength samples, as many as one conversion makes.
template <typename TStage, typename FRead>
int32_t PullThrough(TStage& stage, int16_t* pDest, int32_t nCount, int16_t* pStaging, FRead read)
{
    int32_t nDone = 0;
    while (nDone < nCount) {
        nDone += stage.Receive(pDest + nDone, nCount - nDone);
        if (nDone == nCount || stage.IsDone())
            break;
        const int32_t nRoom = std::min(stage.GetRoom(), CSpeedEngine::kMaxSegmentLength);
        const int32_t nRead = nRoom > 0 ? read(pStaging, nRoom) : 0;
        if (nRead > 0)
            stage.Put(pStaging, nRead);
        else
            stage.EndInput();
    }
    return nDone;
}

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
    const float fNominal = static_cast<float>(nSampleRate) / g_SegmentRates[static_cast<size_t>(nRow)].fSegmentsPerSec;
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
    m_bClearActive = m_bClearSpeech;
    m_bSkipActive = m_bSkipSilence;
    if (m_bClearActive)
        m_ClearStretcher.Prepare(m_nSampleRate, static_cast<int32_t>(std::lround(m_dSpeed * 10)));
    if (m_bSkipActive)
        m_PauseShortener.Reset(m_nSampleRate);
    m_nMarks = 0;
    m_nOutputFrames = 0;
    m_nFadeOutLeft = kNoFadeOut;
    m_bStreamStarted = false;
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
    std::memcpy(&m_asTrack[nTrack][m_nWriteOffset], m_asScratch, sizeof(int16_t) * static_cast<size_t>(nFirst));
    std::memcpy(&m_asTrack[nTrack][0], m_asScratch + nFirst, sizeof(int16_t) * static_cast<size_t>(nLength - nFirst));

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
            std::memset(pTrack, 0, sizeof(int16_t) * static_cast<size_t>(nRun));
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
    if (!m_bStreamStarted) {
        m_nStreamOrigin = m_SoundFile.GetPositionFrames();
        m_bStreamStarted = true;
    }
    if (HasFadedOut())
        return 0;
    const uint64_t nStartFrame = GetNextOutputFrame();
    uint32_t nBytes = m_bClearActive ? FillClear(pBuffer, nCapacity) : FillExact(pBuffer, nCapacity);
    if (m_nFadeOutLeft != kNoFadeOut)
        nBytes = kOutputFrameBytes * ApplyFadeOut(static_cast<int16_t*>(pBuffer), nBytes / kOutputFrameBytes, nStartFrame);
    if (nBytes > 0) {
        m_aMarks[m_nMarks % kMarkCount] = SOutputMark{m_nOutputFrames, nStartFrame};
        ++m_nMarks;
        m_nOutputFrames += nBytes / 4;
    }
    return nBytes;
}

uint32_t CSpeedEngine::FillExact(void* pBuffer, uint32_t nCapacity)
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

void CSpeedEngine::SetFadeOut(uint64_t nFramesLeft, uint64_t nFadeFrames)
{
    m_nFadeOutLeft = nFramesLeft;
    m_nFadeOutFrames = nFadeFrames;
    m_nFadeStartFrame = GetNextOutputFrame();
}

// Only the frames of the fade itself are touched, so that what plays before
// it stays byte for byte what plays without a timer.
uint32_t CSpeedEngine::ApplyFadeOut(int16_t* pFrames, uint32_t nFrames, uint64_t nStartFrame)
{
    const uint32_t nKept = static_cast<uint32_t>(std::min<uint64_t>(nFrames, m_nFadeOutLeft));
    const uint64_t nBeforeFade = m_nFadeOutLeft - std::min(m_nFadeOutLeft, m_nFadeOutFrames);
    // The fade begins in this fill: its place, to the fill.
    if (nBeforeFade > 0 && nBeforeFade < nKept)
        m_nFadeStartFrame = nStartFrame;
    const int64_t nLength = static_cast<int64_t>(m_nFadeOutFrames);
    for (uint32_t i = static_cast<uint32_t>(std::min<uint64_t>(nBeforeFade, nKept)); i < nKept; ++i) {
        const int64_t nLeft = static_cast<int64_t>(m_nFadeOutLeft - i);
        pFrames[2 * i] = static_cast<int16_t>(pFrames[2 * i] * nLeft / nLength);
        pFrames[2 * i + 1] = static_cast<int16_t>(pFrames[2 * i + 1] * nLeft / nLength);
    }
    m_nFadeOutLeft -= nKept;
    return nKept;
}

// The clear stretcher's output, with the Mixing gain.
uint32_t CSpeedEngine::FillClear(void* pBuffer, uint32_t nCapacity)
{
    const int32_t nWanted = static_cast<int32_t>(std::min<uint32_t>(nCapacity / 4, kMonoCapacity));
    const int32_t nDone = PullThrough(m_ClearStretcher, m_asMono, nWanted, m_asScratch,
        [this](int16_t* pDest, int32_t nFrames) { return ReadStream(pDest, nFrames); });
    m_bEndOfInput = m_ClearStretcher.IsInputEnded() ? 1 : 0;
    ApplyGain(m_asMono, nDone);
    MakeStereo(m_asMono, pBuffer, 2 * nDone);
    return 4 * static_cast<uint32_t>(nDone);
}

VELOFON_HOT_LOOP void CSpeedEngine::ApplyGain(int16_t* pSamples, int32_t nCount) const
{
    const int32_t nGain = std::clamp(m_nMixingGain, -kMaxMixingGain, kMaxMixingGain);
    for (int32_t i = 0; i < nCount; ++i)
        pSamples[i] = SaturateToInt16(pSamples[i] * nGain / 10);
}

int32_t CSpeedEngine::ReadStream(int16_t* pDest, int32_t nFrames)
{
    if (!m_bSkipActive)
        return ConvertSamples(pDest, nFrames);
    return PullThrough(m_PauseShortener, pDest, nFrames, m_asStreamStaging,
        [this](int16_t* pTo, int32_t nCount) { return ConvertSamples(pTo, nCount); });
}

uint64_t CSpeedEngine::FrameOfStream(int64_t nStreamSample) const
{
    const int64_t nSource = m_bSkipActive ? m_PauseShortener.SourceOf(nStreamSample) : nStreamSample;
    return m_nStreamOrigin + static_cast<uint64_t>(std::max<int64_t>(0, nSource));
}

uint64_t CSpeedEngine::GetNextOutputFrame() const
{
    if (!m_bStreamStarted)
        return m_SoundFile.GetPositionFrames();
    if (m_bClearActive)
        return FrameOfStream(m_ClearStretcher.GetNextOutputSource());
    // Segment k, laid k hops into the output, starts k segments into the input.
    const uint64_t nSegments = m_nHop > 0 ? m_nOutputFrames / static_cast<uint64_t>(m_nHop) : 0;
    return FrameOfStream(static_cast<int64_t>(nSegments * static_cast<uint64_t>(m_nSegLen)));
}

uint64_t CSpeedEngine::HeardFrame(uint64_t nPlayedFrames) const
{
    const uint64_t nRead = m_SoundFile.GetPositionFrames();
    if (m_nMarks == 0)
        return std::min(GetNextOutputFrame(), nRead);
    const int nOldest = std::max(0, m_nMarks - kMarkCount);
    int nMark = m_nMarks - 1;
    while (nMark > nOldest && m_aMarks[nMark % kMarkCount].nOutputFrame > nPlayedFrames)
        --nMark;
    const SOutputMark& mark = m_aMarks[nMark % kMarkCount];
    const SOutputMark next = nMark + 1 < m_nMarks ? m_aMarks[(nMark + 1) % kMarkCount]
                                                  : SOutputMark{m_nOutputFrames, GetNextOutputFrame()};
    uint64_t nHeard = mark.nInputFrame;
    if (nPlayedFrames > mark.nOutputFrame && next.nOutputFrame > mark.nOutputFrame && next.nInputFrame > mark.nInputFrame) {
        // Within a buffer the input is taken to run evenly.
        const uint64_t nInto = std::min(nPlayedFrames, next.nOutputFrame) - mark.nOutputFrame;
        nHeard += nInto * (next.nInputFrame - mark.nInputFrame) / (next.nOutputFrame - mark.nOutputFrame);
    }
    return std::min(nHeard, nRead);
}
