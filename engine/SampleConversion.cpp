// Conversion of the four supported layouts to signed 16-bit mono: one bulk
// read into fixed staging, then one integer pass. Two channels are mixed
// down by halving each before the sum, so the result never leaves 16 bits.
#include "SpeedEngine.h"

#include "HotLoop.h"

#include <cstring>

VELOFON_HOT_LOOP int32_t CSpeedEngine::ConvertSamples(int16_t* pDest, int32_t nFrames)
{
    switch (m_nFormatKind) {
    case FMT_MONO8: {
        const int32_t nBytes = static_cast<int32_t>(m_SoundFile.Read(m_abStaging8, static_cast<uint32_t>(nFrames)));
        for (int32_t i = 0; i < nBytes; ++i)
            pDest[i] = static_cast<int16_t>((m_abStaging8[i] - 128) * 256);
        return nBytes;
    }
    case FMT_MONO16:
        return static_cast<int32_t>(m_SoundFile.Read(pDest, static_cast<uint32_t>(2 * nFrames))) / 2;
    case FMT_STEREO8: {
        const int32_t nPairs = static_cast<int32_t>(m_SoundFile.Read(m_abStaging8, static_cast<uint32_t>(2 * nFrames))) / 2;
        for (int32_t i = 0; i < nPairs; ++i)
            pDest[i] = static_cast<int16_t>((m_abStaging8[2 * i] + m_abStaging8[2 * i + 1] - 256) / 2 * 256);
        return nPairs;
    }
    case FMT_STEREO16: {
        const int32_t nPairs = static_cast<int32_t>(m_SoundFile.Read(m_asStaging16, static_cast<uint32_t>(4 * nFrames))) / 4;
        for (int32_t i = 0; i < nPairs; ++i)
            pDest[i] = static_cast<int16_t>(m_asStaging16[2 * i] / 2 + m_asStaging16[2 * i + 1] / 2);
        return nPairs;
    }
    default:
        return 0;
    }
}

// Always yields nFrames samples: what the file gave, then silence, so that
// the processor lays whole segments even at the end of the data.
int32_t CSpeedEngine::ReadSegment(int16_t* pDest, int32_t nFrames)
{
    const int32_t nConverted = ReadStream(pDest, nFrames);
    std::memset(pDest + nConverted, 0, sizeof(int16_t) * static_cast<size_t>(nFrames - nConverted));
    return nConverted;
}
