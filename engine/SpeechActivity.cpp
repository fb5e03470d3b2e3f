#include "SpeechActivity.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {

// A frame is speech only this many times (6 dB) above the noise floor...
constexpr uint64_t kNoiseMargin = 4;
// ...where the floor counts as at most this far (20 dB) below the speech
// level, so that in a recording without pauses the quietest syllables do
// not become the floor; before any speech the level counts as that of quiet
// speech (-40 dBFS), so that a file's leading silence is silence...
constexpr uint64_t kFloorBelowSpeech = 100;
constexpr uint64_t kQuietSpeechEnergy = 107374;
// ...within this ratio (35 dB) of the loudest recent speech: the quietest
// consonants lie about 30 dB below the vowels around them...
constexpr uint64_t kSpeechRange = 3162;
// ...and above a mean square of this (an RMS of 4, about -78 dBFS), so that
// dither in digital silence is no speech.
constexpr uint64_t kLeastSpeechEnergy = 16;
// The speech level falls by 1/kLevelDecay a frame (about 3.4 dB a second),
// so that a loud passage does not hide a quieter speaker after it.
constexpr uint64_t kLevelDecay = 128;

} // namespace

void CSpeechActivity::Reset(int32_t nSampleRate)
{
    m_nFrameLength = std::max(nSampleRate / 100, kMinFrameLength);
    std::fill(std::begin(m_anBlockFloor), std::end(m_anBlockFloor), UINT64_MAX);
    m_nCurrentBlockFloor = UINT64_MAX;
    m_nFramesInBlock = 0;
    m_nBlock = 0;
    m_nSpeechLevel = 0;
}

bool CSpeechActivity::IsSpeech(const int16_t* pFrame, int32_t nCount)
{
    if (nCount <= 0)
        return false;
    uint64_t nSum = 0;
    for (int32_t i = 0; i < nCount; ++i)
        nSum += static_cast<uint64_t>(static_cast<int32_t>(pFrame[i]) * pFrame[i]);
    const uint64_t nEnergy = nSum / static_cast<uint64_t>(nCount);

    // Only whole blocks count.
    const uint64_t nFloor = *std::min_element(std::begin(m_anBlockFloor), std::end(m_anBlockFloor));
    m_nCurrentBlockFloor = std::min(m_nCurrentBlockFloor, nEnergy);
    if (++m_nFramesInBlock == kFramesPerBlock) {
        m_anBlockFloor[m_nBlock] = m_nCurrentBlockFloor;
        m_nBlock = (m_nBlock + 1) % kFloorBlocks;
        m_nCurrentBlockFloor = UINT64_MAX;
        m_nFramesInBlock = 0;
    }
    m_nSpeechLevel = std::max(m_nSpeechLevel - m_nSpeechLevel / kLevelDecay, nEnergy);
    const uint64_t nNoise = std::min(nFloor, std::max(m_nSpeechLevel, kQuietSpeechEnergy) / kFloorBelowSpeech);

    return nEnergy >= kLeastSpeechEnergy && nEnergy > kNoiseMargin * nNoise && nEnergy * kSpeechRange > m_nSpeechLevel;
}
