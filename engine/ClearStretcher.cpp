#include "ClearStretcher.h"

#include "HotLoop.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// What the stretcher reads ahead of its output: the pauses it plans the
// speech rate around. Longer sees more pauses coming but delays the first
// sound of a file and of every seek by reading that much first.
constexpr int32_t kLookaheadMs = 2500;
// Voice pitch between these: the period search looks no further.
constexpr int32_t kLowestPitchHz = 65;
constexpr int32_t kHighestPitchHz = 400;
// The coarse period search runs on the input decimated to about this rate;
// the period found there is refined at the full rate.
constexpr int32_t kSearchRate = 4000;
// Below this rate there is no room for a pitch period search.
constexpr int32_t kLowestSearchedRate = 4000;
// A lag is a period when the waveforms one lag apart differ by less than
// this share (in thousandths) of their summed magnitudes; noise gives about
// 700. Lower takes fewer sounds for voiced and cuts more of them as grains.
constexpr int64_t kVoicedDifference = 400;
// A sub-multiple of the best lag wins when its difference is within this
// many thousandths of the best one's: the period, not its double.
constexpr int64_t kOctaveTolerance = 1150;
// Periods dropped per cross-fade, in thousandths per unit of speed above 1:
// at 2x one period is dropped over a one-period fade; higher speeds drop
// several at once, so that each fade still spans about a period.
constexpr int32_t kPeriodsPerSpeedStep = 1200;
constexpr int32_t kMaxPeriodsDropped = 4;
// Unvoiced sound is shortened in grains of this much output, half of it a
// cross-fade: short enough not to smear, long enough not to buzz.
constexpr int32_t kGrainMs = 10;
// The longest plain copy in one piece.
constexpr int32_t kMaxCopyMs = 40;
// Pauses from this long are pauses; shorter gaps belong to the speech
// (a stop's closure, the doubled consonants of Japanese).
constexpr int32_t kShortestPauseMs = 150;
// A pause is not shortened below this (a phrase break), nor beyond its
// share of the speed times kPauseCompression (in tenths); and never less
// than the speed itself would shorten it.
constexpr int32_t kPauseKeptMs = 100;
constexpr int32_t kPauseCompression = 40;
// What a shortened pause keeps of its start, and the cross-fade of the cut.
constexpr int32_t kPauseHeadMs = 50;
constexpr int32_t kPauseFadeMs = 10;
// The speech rate stays within these thousandths of the speed: the time a
// pause frees slows the speech, but not to a crawl, and a debt is not
// paid by a rush.
constexpr int32_t kSlowestSpeech = 600;
constexpr int32_t kFastestSpeech = 1250;
// Where the voice changes faster than this (a period differs from the next
// by this share of their magnitudes, in thousandths), a period is copied
// rather than dropped, and a steadier one later dropped in its place, so
// that transitions between sounds keep their length; the output runs at
// most kMaxAheadMs ahead of the rate so. Lower spares more transitions.
constexpr int32_t kTransitionDifference = 200;
constexpr int32_t kMaxAheadMs = 30;
// Within a long run of speech the rate is planned anew at the first gap
// after this much input.
constexpr int32_t kReplanMs = 1000;

// Sum of |a[i] - b[i]| over nCount samples: the average magnitude
// difference of a lag, unnormalised. In 32 bits, so that it vectorises: the
// windows stay below 32768 samples.
VELOFON_HOT_LOOP int32_t Difference(const int16_t* a, const int16_t* b, int32_t nCount)
{
    int32_t nSum = 0;
    for (int32_t i = 0; i < nCount; ++i)
        nSum += std::abs(static_cast<int32_t>(a[i]) - static_cast<int32_t>(b[i]));
    return nSum;
}

} // namespace

void CClearStretcher::Prepare(int32_t nSampleRate, int32_t nSpeedTenths)
{
    m_nSampleRate = std::clamp(nSampleRate, 1, kMaxSampleRate);
    m_nSpeedTenths = std::clamp(nSpeedTenths, kMinSpeedTenths, kMaxSpeedTenths);
    m_activity.Reset(m_nSampleRate);
    m_nFrameLength = m_activity.GetFrameLength();
    m_nLookahead = SamplesOfMs(m_nSampleRate, kLookaheadMs);
    m_nMinPeriod = std::max(2, m_nSampleRate / kHighestPitchHz);
    m_nMaxPeriod = std::max(m_nMinPeriod + 1, m_nSampleRate / kLowestPitchHz);
    m_nDecimation = std::max(1, m_nSampleRate / kSearchRate);
    m_bSearchPeriods = m_nSampleRate >= kLowestSearchedRate;
    m_nInputBase = 0;
    m_nInputCount = 0;
    m_bInputEnded = false;
    m_nFramesClassified = 0;
    m_nPosition = 0;
    m_nOutputTotal = 0;
    m_piece = SPiece{};
    m_nSpeechRate = m_nSpeedTenths * 100;
    m_nRateError = 0;
    m_nPauseEasing = 0;
    m_nLastPlan = -1;
    m_bAfterPause = true;
}

int32_t CClearStretcher::GetRoom() const
{
    if (m_bInputEnded)
        return 0;
    const int64_t nWanted = m_nPosition + m_nLookahead + 4096 - (m_nInputBase + m_nInputCount);
    return static_cast<int32_t>(std::clamp<int64_t>(nWanted, 0, kInputCapacity - m_nInputCount));
}

void CClearStretcher::Put(const int16_t* pSamples, int32_t nCount)
{
    nCount = std::min(nCount, kInputCapacity - m_nInputCount);
    if (m_bInputEnded || nCount <= 0)
        return;
    std::memcpy(m_asInput + m_nInputCount, pSamples, sizeof(int16_t) * static_cast<size_t>(nCount));
    m_nInputCount += nCount;
    ClassifyFrames();
}

void CClearStretcher::EndInput()
{
    if (m_bInputEnded)
        return;
    m_bInputEnded = true;
    ClassifyFrames();
    std::memset(m_asInput + m_nInputCount, 0, sizeof(int16_t) * kEndPadding);
}

void CClearStretcher::ClassifyFrames()
{
    const int64_t nEnd = m_nInputBase + m_nInputCount;
    for (;;) {
        const int64_t nStart = m_nFramesClassified * m_nFrameLength;
        const int64_t nLength = std::min<int64_t>(m_nFrameLength, nEnd - nStart);
        if (nLength <= 0 || (nLength < m_nFrameLength && !m_bInputEnded))
            return;
        m_abSpeechFrame[m_nFramesClassified % kFrameRing]
            = m_activity.IsSpeech(At(nStart), static_cast<int32_t>(nLength)) ? 1 : 0;
        ++m_nFramesClassified;
    }
}

bool CClearStretcher::IsSpeechFrame(int64_t nFrame) const
{
    // Before the stream there is silence, so that its first sound is an onset;
    // what is not read yet counts as speech, so that no pause runs into it.
    if (nFrame < 0)
        return false;
    if (nFrame >= m_nFramesClassified)
        return true;
    return m_abSpeechFrame[nFrame % kFrameRing] != 0;
}

bool CClearStretcher::IsDone() const
{
    return m_bInputEnded && m_nPosition >= m_nInputBase + m_nInputCount && m_piece.nDone >= m_piece.Length();
}

int64_t CClearStretcher::GetNextOutputSource() const
{
    const SPiece& piece = m_piece;
    const int32_t nDone = piece.nDone;
    if (nDone >= piece.Length())
        return m_nPosition;
    if (nDone < piece.nHeadLength)
        return piece.nHeadFrom + nDone;
    const int32_t nInFade = nDone - piece.nHeadLength;
    if (nInFade < piece.nFadeLength) {
        const int64_t nSpan = piece.nFadeInFrom + piece.nFadeLength - piece.nFadeOutFrom;
        return piece.nFadeOutFrom + nSpan * nInFade / piece.nFadeLength;
    }
    return piece.nFadeInFrom + nInFade;
}

void CClearStretcher::Compact()
{
    const int64_t nShift = m_nPosition - m_nInputBase;
    if (nShift < kInputCapacity / 2)
        return;
    const int32_t nKept = static_cast<int32_t>(std::max<int64_t>(0, m_nInputCount - nShift));
    std::memmove(m_asInput, m_asInput + nShift, sizeof(int16_t) * static_cast<size_t>(nKept));
    m_nInputBase += nShift;
    m_nInputCount = nKept;
    if (m_bInputEnded)
        std::memset(m_asInput + m_nInputCount, 0, sizeof(int16_t) * kEndPadding);
}

int64_t CClearStretcher::SilenceEnd(int64_t nAt, bool& bOpen) const
{
    const int64_t nInputEnd = m_nInputBase + m_nInputCount;
    int64_t nFrame = nAt / m_nFrameLength;
    bOpen = false;
    while (nFrame < m_nFramesClassified && !IsSpeechFrame(nFrame))
        ++nFrame;
    if (nFrame >= m_nFramesClassified) {
        bOpen = !m_bInputEnded;
        return m_bInputEnded ? nInputEnd : m_nFramesClassified * m_nFrameLength;
    }
    return nFrame * m_nFrameLength;
}

int64_t CClearStretcher::SilenceStart(int64_t nAt) const
{
    int64_t nFrame = nAt / m_nFrameLength;
    const int64_t nOldest = std::max<int64_t>(0, m_nFramesClassified - kFrameRing + 1);
    while (nFrame > nOldest && !IsSpeechFrame(nFrame - 1))
        --nFrame;
    return std::min(nAt, nFrame * m_nFrameLength);
}

int64_t CClearStretcher::NextOnset(int64_t nFrom, int64_t nTo) const
{
    for (int64_t nFrame = nFrom / m_nFrameLength + 1; nFrame * m_nFrameLength <= nTo; ++nFrame) {
        if (nFrame >= m_nFramesClassified)
            break;
        if (IsSpeechFrame(nFrame) && !IsSpeechFrame(nFrame - 1))
            return nFrame * m_nFrameLength;
    }
    return nTo + 1;
}

int32_t CClearStretcher::PauseOutput(int64_t nPauseLength) const
{
    const int64_t nAtSpeed = nPauseLength * 10 / m_nSpeedTenths;
    // The extra compression grows in from nothing at 1.0x to the full at 2.0x.
    const int64_t nCompression
        = 10 + (kPauseCompression - 10) * std::min<int32_t>(m_nSpeedTenths - 10, 10) / 10;
    const int64_t nCompressed = nAtSpeed * 10 / nCompression;
    const int64_t nKept = SamplesOfMs(m_nSampleRate, kPauseKeptMs);
    const int64_t nShortened = std::min(nAtSpeed, std::max(nKept, nCompressed));
    return static_cast<int32_t>(nShortened + (nAtSpeed - nShortened) * m_nPauseEasing / 1000);
}

// The speech rate until the next plan: the input of the window ahead
// (speech, and pauses at their shortened length) is to last its share of the
// whole, plus what the output lacks so far. When the speech cannot slow down
// enough to take the time the pauses free, the pauses give less of it.
void CClearStretcher::Replan()
{
    m_nLastPlan = m_nPosition;
    m_nRateError = 0;
    m_nPauseEasing = 0;
    const int32_t nTenths = m_nSpeedTenths;
    if (nTenths == 10) {
        m_nSpeechRate = 1000;
        return;
    }
    const int64_t nInputEnd = m_nInputBase + m_nInputCount;
    const int64_t nWindowEnd = std::min(m_nPosition + m_nLookahead,
        m_bInputEnded ? nInputEnd : m_nFramesClassified * m_nFrameLength);
    const int64_t nShortestPause = SamplesOfMs(m_nSampleRate, kShortestPauseMs);
    int64_t nSpeech = 0;
    int64_t nPauseOutput = 0;
    int64_t nPauseAtSpeed = 0;
    for (int64_t nAt = m_nPosition; nAt < nWindowEnd;) {
        const int64_t nFrameEnd = std::min(nWindowEnd, (nAt / m_nFrameLength + 1) * m_nFrameLength);
        if (IsSpeechFrame(nAt / m_nFrameLength)) {
            nSpeech += nFrameEnd - nAt;
            nAt = nFrameEnd;
            continue;
        }
        bool bOpen = false;
        const int64_t nSilenceEnd = SilenceEnd(nAt, bOpen);
        const int64_t nRunEnd = std::min(nSilenceEnd, nWindowEnd);
        if (nSilenceEnd - SilenceStart(nAt) >= nShortestPause || bOpen) {
            nPauseOutput += PauseOutput(nRunEnd - nAt);
            nPauseAtSpeed += (nRunEnd - nAt) * 10 / nTenths;
        } else {
            nSpeech += nRunEnd - nAt;
        }
        nAt = std::max(nRunEnd, nFrameEnd);
    }
    const int64_t nLack = (10 * m_nPosition - nTenths * m_nOutputTotal) / nTenths;
    const int64_t nTarget = (nWindowEnd - m_nPosition) * 10 / nTenths + nLack;
    const int32_t nSlowest = std::max(1000, nTenths * kSlowestSpeech / 10);
    const int32_t nFastest = nTenths * kFastestSpeech / 10;
    const int64_t nBudget = nTarget - nPauseOutput;
    if (nBudget <= 0) {
        m_nSpeechRate = nFastest;
        return;
    }
    const int64_t nRate = nSpeech * 1000 / nBudget;
    m_nSpeechRate = static_cast<int32_t>(std::clamp<int64_t>(nRate, nSlowest, nFastest));
    if (nRate < nSlowest && nPauseAtSpeed > nPauseOutput) {
        const int64_t nPausesNeed = nTarget - nSpeech * 1000 / nSlowest;
        m_nPauseEasing = static_cast<int32_t>(
            std::clamp<int64_t>((nPausesNeed - nPauseOutput) * 1000 / (nPauseAtSpeed - nPauseOutput), 0, 1000));
    }
}

bool CClearStretcher::StartPiece()
{
    Compact();
    const int64_t nInputEnd = m_nInputBase + m_nInputCount;
    if (m_nPosition >= nInputEnd && m_bInputEnded)
        return false;
    if (!m_bInputEnded && nInputEnd - m_nPosition < m_nLookahead)
        return false;
    const int64_t nFrame = m_nPosition / m_nFrameLength;
    const bool bSpeech = IsSpeechFrame(nFrame);
    if (m_nLastPlan < 0 || (m_bAfterPause && bSpeech)
        || (!bSpeech && m_nPosition - m_nLastPlan >= SamplesOfMs(m_nSampleRate, kReplanMs)))
        Replan();
    if (!bSpeech && m_nSpeedTenths > 10) {
        bool bOpen = false;
        const int64_t nEnd = SilenceEnd(m_nPosition, bOpen);
        if (bOpen || nEnd - SilenceStart(m_nPosition) >= SamplesOfMs(m_nSampleRate, kShortestPauseMs)) {
            PlanPause(nEnd);
            if (m_piece.Length() > 0) {
                m_bAfterPause = true;
                return true;
            }
        }
    }
    if (bSpeech)
        m_bAfterPause = false;
    PlanSpeech();
    return true;
}

void CClearStretcher::PlanPause(int64_t nPauseEnd)
{
    const int64_t nStart = SilenceStart(m_nPosition);
    const int64_t nLength = nPauseEnd - nStart;
    const int64_t nLeft = nPauseEnd - m_nPosition;
    // What a speech piece took of the pause already counts as its share.
    const int64_t nOutput = nLength > 0 ? PauseOutput(nLength) * nLeft / nLength : 0;
    const int32_t nHead = static_cast<int32_t>(std::min<int64_t>(nOutput / 2, SamplesOfMs(m_nSampleRate, kPauseHeadMs)));
    const int32_t nFade = static_cast<int32_t>(std::min<int64_t>(nOutput - nHead, SamplesOfMs(m_nSampleRate, kPauseFadeMs)));
    m_piece = SPiece{};
    if (nLeft - nOutput < nFade || nFade <= 0)
        return;
    m_piece.nHeadFrom = m_nPosition;
    m_piece.nHeadLength = nHead;
    m_piece.nFadeOutFrom = m_nPosition + nHead;
    m_piece.nFadeInFrom = nPauseEnd - (nOutput - nHead);
    m_piece.nFadeLength = nFade;
    m_piece.nTailLength = static_cast<int32_t>(nOutput - nHead - nFade);
    m_nPosition = nPauseEnd;
}

void CClearStretcher::PlanSpeech()
{
    const int64_t nAt = m_nPosition;
    const int64_t nInputEnd = m_nInputBase + m_nInputCount;
    const int32_t nRate = m_nSpeechRate;
    const int32_t nMaxCopy = SamplesOfMs(m_nSampleRate, kMaxCopyMs);
    m_piece = SPiece{};
    auto copy = [&](int64_t nLength) {
        if (m_bInputEnded)
            nLength = std::min(nLength, nInputEnd - nAt);
        const int32_t nCount = static_cast<int32_t>(std::max<int64_t>(1, nLength));
        m_piece.nFadeInFrom = nAt;
        m_piece.nTailLength = nCount;
        m_nRateError += static_cast<int64_t>(1000 - nRate) * nCount;
        m_nPosition = nAt + nCount;
    };
    if (nRate <= 1000) {
        copy(nMaxCopy);
        return;
    }
    const int64_t nFrame = nAt / m_nFrameLength;
    int32_t nChange = 0;
    const int32_t nPeriod = IsSpeechFrame(nFrame) && m_bSearchPeriods ? FindPeriod(nAt, nChange) : 0;
    if (nPeriod > 0 && nChange > kTransitionDifference) {
        const int64_t nAhead = -m_nRateError / (nRate - 1000);
        if (nAhead + nPeriod <= SamplesOfMs(m_nSampleRate, kMaxAheadMs)) {
            copy(nPeriod);
            return;
        }
    }
    int32_t nSkip = 0;
    int32_t nFadeMax = 0;
    if (nPeriod > 0) {
        const int32_t nPeriods
            = std::clamp(((nRate - 1000) * kPeriodsPerSpeedStep + 500000) / 1000000, 1, kMaxPeriodsDropped);
        nSkip = nPeriods == 1 ? nPeriod
                              : RefineLag(nAt, nPeriods * nPeriod - nPeriod / 4, nPeriods * nPeriod + nPeriod / 4,
                                  nPeriod);
        nFadeMax = nPeriod;
    } else {
        const int32_t nGrain = SamplesOfMs(m_nSampleRate, kGrainMs);
        nSkip = std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(nRate - 1000) * nGrain / 1000));
        nFadeMax = std::max(1, nGrain / 2);
    }
    int64_t nOutput = (1000 * static_cast<int64_t>(nSkip) + m_nRateError) / (nRate - 1000);
    if (nOutput > nMaxCopy) {
        copy(nMaxCopy);
        return;
    }
    nOutput = std::max<int64_t>(nOutput, std::max(1, nFadeMax / 4));
    // A piece never runs over an onset, nor past the end of the input: it
    // ends there, so that the onset and the last sound are heard.
    int64_t nLimit = NextOnset(nAt, nAt + nSkip + nOutput);
    if (m_bInputEnded)
        nLimit = std::min(nLimit, nInputEnd);
    if (nLimit <= nAt + nSkip + nOutput) {
        const int64_t nBefore = nLimit - nAt;
        const int64_t nFitted = nBefore * 1000 / nRate;
        if (nFitted < 2) {
            copy(nBefore);
            return;
        }
        nOutput = nFitted;
        nSkip = static_cast<int32_t>(nBefore - nFitted);
    }
    const int32_t nFade = static_cast<int32_t>(std::min<int64_t>(nOutput, nFadeMax));
    m_piece.nFadeOutFrom = nAt;
    m_piece.nFadeInFrom = nAt + nSkip;
    m_piece.nFadeLength = nFade;
    m_piece.nTailLength = static_cast<int32_t>(nOutput - nFade);
    m_nRateError += 1000 * (nSkip + nOutput) - nRate * nOutput;
    m_nPosition = nAt + nSkip + nOutput;
}

// The lag in [nFrom, nTo] at which the input at nAt repeats best over
// nWindow samples.
int32_t CClearStretcher::RefineLag(int64_t nAt, int32_t nFrom, int32_t nTo, int32_t nWindow) const
{
    const int16_t* pAt = At(nAt);
    int32_t nBest = nFrom;
    int64_t nBestDifference = INT64_MAX;
    for (int32_t nLag = nFrom; nLag <= nTo; ++nLag) {
        const int64_t nDifference = Difference(pAt, pAt + nLag, nWindow);
        if (nDifference < nBestDifference) {
            nBestDifference = nDifference;
            nBest = nLag;
        }
    }
    return nBest;
}

// The pitch period at nAt in samples, or 0 when the sound there has none.
int32_t CClearStretcher::FindPeriod(int64_t nAt, int32_t& nChange)
{
    const int32_t nDecimation = m_nDecimation;
    const int32_t nMinLag = std::max(1, m_nMinPeriod / nDecimation);
    const int32_t nMaxLag = (m_nMaxPeriod + nDecimation - 1) / nDecimation;
    const int32_t nWindow = nMaxLag;
    const int32_t nCount = std::min<int32_t>(nWindow + nMaxLag + 1, static_cast<int32_t>(std::size(m_asDecimated)));
    const int16_t* pAt = At(nAt);
    for (int32_t j = 0; j < nCount; ++j) {
        int32_t nSum = 0;
        for (int32_t k = 0; k < nDecimation; ++k)
            nSum += pAt[j * nDecimation + k];
        m_asDecimated[j] = static_cast<int16_t>(nSum / nDecimation);
    }
    int64_t anDifference[512];
    const int32_t nLags = std::min<int32_t>(nMaxLag, static_cast<int32_t>(std::size(anDifference)) - 1);
    const int32_t nUsedWindow = std::min(nWindow, nCount - nLags - 1);
    int32_t nBest = nMinLag;
    for (int32_t nLag = nMinLag; nLag <= nLags; ++nLag) {
        anDifference[nLag] = Difference(m_asDecimated, m_asDecimated + nLag, nUsedWindow);
        if (anDifference[nLag] < anDifference[nBest])
            nBest = nLag;
    }
    // The period rather than a multiple of it.
    for (int32_t nDivisor = 3; nDivisor >= 2; --nDivisor) {
        const int32_t nCandidate = (nBest + nDivisor / 2) / nDivisor;
        if (nCandidate < nMinLag)
            continue;
        int32_t nLocal = nCandidate;
        for (int32_t nLag = std::max(nMinLag, nCandidate - 1); nLag <= std::min(nLags, nCandidate + 1); ++nLag)
            if (anDifference[nLag] < anDifference[nLocal])
                nLocal = nLag;
        if (anDifference[nLocal] * 1000 <= anDifference[nBest] * kOctaveTolerance) {
            nBest = nLocal;
            break;
        }
    }
    const int32_t nCoarse = nBest * nDecimation;
    const int32_t nPeriod = RefineLag(nAt, std::max(m_nMinPeriod, nCoarse - nDecimation + 1),
        std::min(m_nMaxPeriod, nCoarse + nDecimation - 1), nCoarse);
    // Voiced when the two periods differ by little against their size.
    int64_t nMagnitude = 0;
    for (int32_t i = 0; i < nPeriod; ++i)
        nMagnitude += std::abs(static_cast<int32_t>(pAt[i])) + std::abs(static_cast<int32_t>(pAt[i + nPeriod]));
    const int64_t nDifference = Difference(pAt, pAt + nPeriod, nPeriod);
    nChange = nMagnitude > 0 ? static_cast<int32_t>(nDifference * 1000 / nMagnitude) : 1000;
    return nMagnitude > 0 && nDifference * 1000 < nMagnitude * kVoicedDifference ? nPeriod : 0;
}

VELOFON_HOT_LOOP int32_t CClearStretcher::Receive(int16_t* pOut, int32_t nMax)
{
    int32_t nWritten = 0;
    while (nWritten < nMax) {
        SPiece& piece = m_piece;
        if (piece.nDone >= piece.Length()) {
            m_nOutputTotal += piece.Length();
            piece = SPiece{};
            if (!StartPiece())
                break;
            continue;
        }
        int32_t nRun = 0;
        if (piece.nDone < piece.nHeadLength) {
            nRun = std::min(nMax - nWritten, piece.nHeadLength - piece.nDone);
            std::memcpy(pOut + nWritten, At(piece.nHeadFrom + piece.nDone), sizeof(int16_t) * static_cast<size_t>(nRun));
        } else if (piece.nDone < piece.nHeadLength + piece.nFadeLength) {
            const int32_t nFrom = piece.nDone - piece.nHeadLength;
            nRun = std::min(nMax - nWritten, piece.nFadeLength - nFrom);
            const int16_t* pFadeOut = At(piece.nFadeOutFrom + nFrom);
            const int16_t* pFadeIn = At(piece.nFadeInFrom + nFrom);
            const int64_t nStep = (int64_t{32768} << 16) / piece.nFadeLength;
            int16_t* pDest = pOut + nWritten;
            for (int32_t i = 0; i < nRun; ++i) {
                const int32_t nWeight = static_cast<int32_t>((nFrom + i) * nStep >> 16);
                pDest[i] = static_cast<int16_t>((pFadeOut[i] * (32768 - nWeight) + pFadeIn[i] * nWeight) >> 15);
            }
        } else {
            const int32_t nFrom = piece.nDone - piece.nHeadLength;
            nRun = std::min(nMax - nWritten, piece.Length() - piece.nDone);
            std::memcpy(pOut + nWritten, At(piece.nFadeInFrom + nFrom), sizeof(int16_t) * static_cast<size_t>(nRun));
        }
        piece.nDone += nRun;
        nWritten += nRun;
    }
    return nWritten;
}
