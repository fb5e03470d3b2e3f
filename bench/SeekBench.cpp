// How long a jump in a long file keeps the listener waiting: the time from
// Seek to the first tenth of a second read after it, as the player refills
// after a click on the progress bar, in a file opened once and played on.
//
// The first jump finds the file not yet scanned; the later ones come after
// SETTLE seconds of listening (default 20), when the scan has read the file.
// Each later landing is checked against a jump to the same frame in a newly
// opened file, sample for sample.
//
// Usage: seek_bench FILE [--check]   (bench/long-seeks.sh makes a 10-hour MP3)
//   --check   exit 1 when the median of the later jumps exceeds 250 ms or a
//             landing differs.
#include "decoder/DecoderModule.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kMedianGoalMs = 250;

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Jumps to nFrame and reads a tenth of a second; the milliseconds it took.
double Jump(IDecodedFile& file, uint64_t nFrame, std::vector<int16_t>& vOut)
{
    vOut.assign(file.GetSampleRate() / 10 * file.GetChannels(), 0);
    const Clock::time_point start = Clock::now();
    file.Seek(nFrame);
    const uint32_t nBytes = file.Read(vOut.data(), static_cast<uint32_t>(vOut.size() * 2));
    const double dMs = MillisecondsSince(start);
    vOut.resize(nBytes / 2);
    return dMs;
}

} // namespace

int main(int argc, char** argv)
{
    std::string strPath;
    bool bCheck = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--check"))
            bCheck = true;
        else
            strPath = argv[i];
    }
    if (strPath.empty()) {
        std::fprintf(stderr, "usage: seek_bench FILE [--check]\n");
        return 2;
    }
    const char* pszSettle = std::getenv("SETTLE");
    const int nSettleSeconds = pszSettle ? std::atoi(pszSettle) : 20;

    std::string strWhy;
    const std::unique_ptr<IDecodedFile> pFile = NewDecodedFile(strWhy);
    if (!pFile) {
        std::fprintf(stderr, "seek_bench: %s\n", strWhy.c_str());
        return 2;
    }
    IDecodedFile& file = *pFile;
    if (!file.Open(strPath)) {
        std::fprintf(stderr, "seek_bench: %s: %s\n", strPath.c_str(), file.GetError().c_str());
        return 2;
    }
    const uint64_t nRate = file.GetSampleRate();
    const uint64_t nLength = file.GetLengthFrames();
    std::printf("%s: %.0f s\n", strPath.c_str(), static_cast<double>(nLength) / nRate);

    std::vector<int16_t> vLanded;
    std::printf("first jump, to the middle: %.0f ms\n", Jump(file, nLength / 2, vLanded));
    std::this_thread::sleep_for(std::chrono::seconds(nSettleSeconds));

    std::vector<double> aMs;
    bool bAllExact = true;
    for (int nNinth : { 3, 6, 8, 1, 4, 7, 2, 5 }) {
        // Off the whole second, where a coarse index would land first.
        const uint64_t nFrame = nLength * nNinth / 9 + nRate / 3;
        aMs.push_back(Jump(file, nFrame, vLanded));
        const std::unique_ptr<IDecodedFile> pFresh = NewDecodedFile(strWhy);
        std::vector<int16_t> vReference;
        pFresh->Open(strPath);
        Jump(*pFresh, nFrame, vReference);
        const bool bExact = vLanded == vReference && !vLanded.empty();
        bAllExact = bAllExact && bExact;
        std::printf("jump to %.0f s: %.0f ms%s\n", static_cast<double>(nFrame) / nRate, aMs.back(),
            bExact ? "" : "  (LANDED ELSEWHERE)");
    }
    std::sort(aMs.begin(), aMs.end());
    const double dMedian = (aMs[aMs.size() / 2 - 1] + aMs[aMs.size() / 2]) / 2;
    std::printf("after %d s: median %.0f ms, longest %.0f ms (goal: median at most %.0f ms)\n", nSettleSeconds,
        dMedian, aMs.back(), kMedianGoalMs);
    return bCheck && (dMedian > kMedianGoalMs || !bAllExact) ? 1 : 0;
}
