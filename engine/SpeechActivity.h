// CSpeechActivity: tells pauses from speech, one frame of about 10 ms at a
// time, for the stages that treat pauses apart from speech (the clear
// stretch and the pause shortener).
//
// A frame is speech when its energy stands clearly above the recording's
// noise floor (the quietest frame of the last second and a half) and within
// reach of its recent speech level; weak consonants at the end of a word
// count as speech. Integer arithmetic only, so the same samples always give
// the same answer.
#pragma once

#include <cstdint>

// nMs milliseconds of sound at nRate, at least one sample.
inline int32_t SamplesOfMs(int32_t nRate, int32_t nMs)
{
    const int64_t nSamples = static_cast<int64_t>(nRate) * nMs / 1000;
    return nSamples < 1 ? 1 : static_cast<int32_t>(nSamples);
}

class CSpeechActivity {
public:
    // Frames are 10 ms long, but never shorter than this many samples, so that
    // a very low rate does not make a frame of every sample.
    static constexpr int32_t kMinFrameLength = 32;

    void Reset(int32_t nSampleRate);
    int32_t GetFrameLength() const { return m_nFrameLength; }
    // Takes the next frame of nCount samples (GetFrameLength, or fewer for the
    // last one of a file); true when it is speech.
    bool IsSpeech(const int16_t* pFrame, int32_t nCount);

private:
    // The noise floor is the lowest frame energy over kFloorBlocks blocks of
    // kFramesPerBlock frames.
    static constexpr int kFramesPerBlock = 16;
    static constexpr int kFloorBlocks = 10;

    int32_t m_nFrameLength = kMinFrameLength;
    uint64_t m_anBlockFloor[kFloorBlocks] = {};
    uint64_t m_nCurrentBlockFloor = 0;
    int m_nFramesInBlock = 0;
    int m_nBlock = 0;
    uint64_t m_nSpeechLevel = 0;
};
