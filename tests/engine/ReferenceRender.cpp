#include "ReferenceRender.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Segments per second for speeds 1.0 to 4.0, typed in from the tuning table.
const float kRates10To40[31] = { 8, 6.5f, 6.6f, 6.7f, 6.8f, 7.5f, 7.9f, 8.1f, 9.4f, 10.3f, 10.5f, 11, 11, 11, 13, 13,
    14, 16, 17, 17, 18, 18, 19, 19, 20, 22, 22, 19, 20, 21, 22 };

int SineEntry(int i)
{
    switch (i) {
    case 0: case 1800: return 0;
    case 300: case 1500: return 5000;
    case 900: return 10000;
    case 2700: return -10000;
    case 3300: return -5000;
    case 2100: return -4999;
    default: return static_cast<int>(10000.0L * std::sin(static_cast<long double>(i) * 3.14159265358979323846264338L / 1800));
    }
}

struct SState {
    Bytes file;
    uint64_t nPos = 0;
    uint64_t nEnd = 0;
    int nKind = 0;
    int nRate = 0;
    double dSpeed = 0;
    int nHop = 0, nSegLen = 0;
    std::vector<std::vector<int16_t>> tracks = std::vector<std::vector<int16_t>>(4, std::vector<int16_t>(44100));
    int trackEnd[4] = {};
    int nNext = 0, nWriteOffset = 0, nWriteAhead = 0, nReadIndex = 0;
    std::vector<int16_t> scratch = std::vector<int16_t>(44100);
    bool bEnd = false;

    uint32_t Read(uint8_t* pOut, uint32_t nCount)
    {
        const uint64_t nDelivered = nPos < file.size() ? std::min<uint64_t>(nCount, file.size() - nPos) : 0;
        std::copy(file.begin() + static_cast<long>(nPos), file.begin() + static_cast<long>(nPos + nDelivered), pOut);
        const uint64_t p = nPos + nDelivered;
        int64_t n = static_cast<int64_t>(nDelivered);
        if (nEnd < p)
            n = std::max<int64_t>(0, n - static_cast<int64_t>(p - nEnd));
        nPos = p;
        return static_cast<uint32_t>(n);
    }

    int ReadSegment(int16_t* pDest, int n)
    {
        std::vector<uint8_t> raw(4 * static_cast<size_t>(n) + 4);
        int got = 0;
        if (nKind == 1) {
            got = static_cast<int>(Read(raw.data(), static_cast<uint32_t>(n)));
            for (int i = 0; i < got; ++i)
                pDest[i] = static_cast<int16_t>((raw[i] - 128) * 256);
        } else if (nKind == 2) {
            got = static_cast<int>(Read(raw.data(), static_cast<uint32_t>(2 * n))) / 2;
            for (int i = 0; i < got; ++i)
                pDest[i] = static_cast<int16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
        } else if (nKind == 3) {
            got = static_cast<int>(Read(raw.data(), static_cast<uint32_t>(2 * n))) / 2;
            for (int i = 0; i < got; ++i)
                pDest[i] = static_cast<int16_t>(((raw[2 * i] + raw[2 * i + 1] - 256) / 2) * 256);
        } else if (nKind == 4) {
            got = static_cast<int>(Read(raw.data(), static_cast<uint32_t>(4 * n))) / 4;
            for (int i = 0; i < got; ++i) {
                const int16_t l = static_cast<int16_t>(raw[4 * i] | (raw[4 * i + 1] << 8));
                const int16_t r = static_cast<int16_t>(raw[4 * i + 2] | (raw[4 * i + 3] << 8));
                pDest[i] = static_cast<int16_t>(l / 2 + r / 2);
            }
        }
        for (int i = got; i < n; ++i)
            pDest[i] = 0;
        return got;
    }

    int ProduceSegment()
    {
        const int t = nNext;
        if (trackEnd[t] >= 1)
            return -1;
        const int a = ReadSegment(scratch.data(), nSegLen);
        if (a == 0)
            return 0;
        const int L = nSegLen;
        const int n = static_cast<int>(L - L / dSpeed);
        for (int i = 0; i < n; ++i) {
            const int g = (100 * i) / n;
            scratch[i] = static_cast<int16_t>((scratch[i] * g) / 100);
            scratch[L - 1 - i] = static_cast<int16_t>((scratch[L - 1 - i] * g) / 100);
        }
        for (int i = 0; i < L; ++i)
            tracks[t][(nWriteOffset + i) % 44100] = scratch[i];
        trackEnd[t] = nWriteAhead + L - 1;
        nWriteAhead += nHop;
        nWriteOffset = (nWriteOffset + nHop) % 44100;
        nNext = t + 1 == 4 ? 0 : t + 1;
        return a;
    }

    void MixHop(int nGain)
    {
        for (int j = 0; j < nHop; ++j) {
            const int r = nReadIndex;
            const int sum = tracks[0][r] + tracks[1][r] + tracks[2][r] + tracks[3][r];
            scratch[j] = static_cast<int16_t>(std::clamp(sum * nGain / 10, -32768, 32767));
            for (auto& track : tracks)
                track[r] = 0;
            nReadIndex = (r + 1) % 44100;
        }
    }

    void AgeTracks()
    {
        for (int& e : trackEnd)
            e = std::max(e - nHop, 0);
        nWriteAhead -= nHop;
    }
};

int16_t Tone(int k, double dPeriod, int nLevel)
{
    const int P = static_cast<int>(dPeriod);
    const int phase = k % P;
    const int index = (phase * 3600) / P;
    const int t = (SineEntry(index) * 50) / 1000;
    return static_cast<int16_t>((t * nLevel) / 100);
}

} // namespace

Bytes CReferenceRender::Render(const Bytes& abFile, const SReferenceSettings& settings)
{
    SState s;
    s.file = abFile;
    auto u16 = [&](size_t at) { return static_cast<uint32_t>(abFile[at] | (abFile[at + 1] << 8)); };
    auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
    const uint32_t nChannels = u16(22), nBlockAlign = u16(32);
    s.nRate = static_cast<int>(u32(24));
    size_t i = 0;
    while (std::memcmp(&abFile[i], "data", 4) != 0)
        ++i;
    const uint32_t nOffset = static_cast<uint32_t>(i + 8);
    // A size that reaches 4 GiB past the data's start means "to the end of the file".
    s.nEnd = uint64_t{nOffset} + u32(i + 4) > UINT32_MAX ? std::max<uint64_t>(abFile.size(), nOffset) : nOffset + u32(i + 4);
    s.nKind = nChannels == 1 && nBlockAlign == 1 ? 1 : nChannels == 1 && nBlockAlign == 2 ? 2
        : nChannels == 2 && nBlockAlign == 2 ? 3 : nChannels == 2 && nBlockAlign == 4 ? 4 : 0;

    s.dSpeed = settings.dSpeed;
    const int nRow = static_cast<int>(s.dSpeed * 10);
    const int nNominal = static_cast<int>(static_cast<float>(s.nRate) / kRates10To40[nRow - 10]);
    s.nHop = static_cast<int>(nNominal / s.dSpeed);
    s.nSegLen = static_cast<int>(s.nHop * s.dSpeed);
    const double dLow = s.nRate / (150.0 - 9.3 * 0.5);
    const double dHigh = s.nRate / (9.3 * 0.5 + 150.0);

    // Seek(0): clamped to the data offset (never past the end, which lies at
    // or after it), rounded down to a block.
    s.nPos = nOffset - nOffset % nBlockAlign;

    Bytes out;
    for (;;) {
        const int limit = 30000 / 2;
        int produced = 0;
        std::vector<int16_t> mono(15000);
        for (;;) {
            if (!(produced + 2 * s.nHop < limit))
                break;
            for (int c = 0; c < 4; ++c) {
                const int r = s.ProduceSegment();
                if (r == -1)
                    break;
                if (r == 0) {
                    s.bEnd = true;
                    break;
                }
            }
            int nFree = 0;
            for (int e : s.trackEnd)
                nFree += e < 1;
            if (nFree == 4 && s.bEnd)
                break;
            s.MixHop(settings.nMixingGain);
            std::copy(s.scratch.begin(), s.scratch.begin() + s.nHop, mono.begin() + produced / 2);
            s.AgeTracks();
            produced += 2 * s.nHop;
        }
        if (produced == 0)
            return out;
        for (int k = 0; k < produced / 2; ++k) {
            int left = mono[k], right = mono[k];
            if (settings.bAlpha) {
                right += Tone(nToneFrame, dLow, settings.nAlphaLevel);
                left += Tone(nToneFrame, dHigh, settings.nAlphaLevel);
                ++nToneFrame;
            }
            for (int v : { std::clamp(left, -32768, 32767), std::clamp(right, -32768, 32767) }) {
                out.push_back(static_cast<uint8_t>(v & 0xFF));
                out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
            }
        }
    }
}
