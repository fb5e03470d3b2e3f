// CClearStretcher: the clear mode's time stretch, which keeps sped-up
// speech understandable. A pipe: Put mono samples in, Receive the shortened
// stream out.
//
// Voiced speech is shortened by whole pitch periods: the period is found by
// average magnitude difference on a decimated copy and refined at the full
// rate, and a period (or a few, at high speeds) is dropped with a cross-fade
// between two waveforms that line up; below 2x a cross-faded period is
// followed by plain copy. Where no period stands out (hiss, noise, breath),
// short fixed grains are cross-faded instead. The compression goes to the
// pauses first: pauses of 150 ms or more are shortened more than the speech
// (but kept at a phrase break's length), the speech is slowed by the time
// that frees so that the stream still lasts its length / speed, and the rate
// changes only between words. Onsets after a silence are kept whole.
//
// Fixed buffers, integer arithmetic per sample: the same input, sample rate
// and speed give the same output on every machine. One thread only.
#pragma once

#include "SpeechActivity.h"

#include <cstdint>

class CClearStretcher {
public:
    static constexpr int32_t kMaxSampleRate = 48000;
    // Speeds are whole tenths: 10 (1.0x) to 40 (4.0x).
    static constexpr int32_t kMinSpeedTenths = 10;
    static constexpr int32_t kMaxSpeedTenths = 40;

    // Starts a new stream; nothing of the previous one remains.
    void Prepare(int32_t nSampleRate, int32_t nSpeedTenths);
    // How many samples Put takes now: the stretcher reads ahead a few seconds
    // to see pauses coming, and no further.
    int32_t GetRoom() const;
    void Put(const int16_t* pSamples, int32_t nCount);
    // No more input: the rest is played out, to the last sample.
    void EndInput();
    bool IsInputEnded() const { return m_bInputEnded; }
    // Writes up to nMax samples; fewer when it needs input (GetRoom > 0) or
    // when the stream has ended (IsDone).
    int32_t Receive(int16_t* pOut, int32_t nMax);
    bool IsDone() const;
    // The input sample, counted from Prepare, that the next output sample
    // comes from.
    int64_t GetNextOutputSource() const;

private:
    // One step of output: an optional plain copy, a cross-fade from one place
    // of the input to a later one, then a plain copy that continues the later
    // one. Source positions are absolute input sample numbers.
    struct SPiece {
        int64_t nHeadFrom = 0;
        int32_t nHeadLength = 0;
        int64_t nFadeOutFrom = 0;
        int64_t nFadeInFrom = 0;
        int32_t nFadeLength = 0;
        int32_t nTailLength = 0; // copied from nFadeInFrom + nFadeLength
        int32_t nDone = 0;       // output samples of the piece written so far
        int32_t Length() const { return nHeadLength + nFadeLength + nTailLength; }
    };

    bool StartPiece();
    void Replan();
    void PlanPause(int64_t nPauseEnd);
    void PlanSpeech();
    int32_t FindPeriod(int64_t nAt, int32_t& nDifference);
    int32_t RefineLag(int64_t nAt, int32_t nFrom, int32_t nTo, int32_t nWindow) const;
    int32_t PauseOutput(int64_t nPauseLength) const;
    void ClassifyFrames();
    bool IsSpeechFrame(int64_t nFrame) const;
    // The end of the silent run that holds input sample nAt (nAt itself when it
    // is speech); bOpen tells that the run goes on beyond what was read.
    int64_t SilenceEnd(int64_t nAt, bool& bOpen) const;
    int64_t SilenceStart(int64_t nAt) const;
    // The first sample of a speech frame after a silent one in (nFrom, nTo], or nTo + 1.
    int64_t NextOnset(int64_t nFrom, int64_t nTo) const;
    const int16_t* At(int64_t nPosition) const { return m_asInput + (nPosition - m_nInputBase); }
    void Compact();

    // Input: samples [m_nInputBase, m_nInputBase + m_nInputCount), then zeros
    // after the end of the stream.
    static constexpr int32_t kInputCapacity = 1 << 18;
    // Kept free after the input for those zeros: more than one piece reads
    // beyond the last sample.
    static constexpr int32_t kEndPadding = 16384;
    static constexpr int32_t kFrameRing = kInputCapacity / CSpeechActivity::kMinFrameLength;

    int16_t m_asInput[kInputCapacity + kEndPadding] = {};
    int64_t m_nInputBase = 0;
    int32_t m_nInputCount = 0;
    bool m_bInputEnded = false;

    CSpeechActivity m_activity;
    uint8_t m_abSpeechFrame[kFrameRing] = {};
    int64_t m_nFramesClassified = 0;

    int32_t m_nSampleRate = 0;
    int32_t m_nSpeedTenths = 10;
    int32_t m_nFrameLength = 0;
    int32_t m_nLookahead = 0;
    int32_t m_nMinPeriod = 0;
    int32_t m_nMaxPeriod = 0;
    int32_t m_nDecimation = 1;
    bool m_bSearchPeriods = false;

    int64_t m_nPosition = 0;      // the next input sample a piece starts from
    int64_t m_nOutputTotal = 0;   // output samples of finished pieces
    SPiece m_piece;
    // The speech rate in thousandths, and the input and output it has left
    // unbalanced: 1000 x input - rate x output.
    int32_t m_nSpeechRate = 1000;
    int64_t m_nRateError = 0;
    // How much of the extra pause compression is given up, in thousandths:
    // where the speech cannot take the time that frees.
    int32_t m_nPauseEasing = 0;
    int64_t m_nLastPlan = -1;
    bool m_bAfterPause = true;

    int16_t m_asDecimated[2048] = {};
};
