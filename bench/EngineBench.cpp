// Engine throughput in input frames per second: open, fill 30000-byte
// buffers until the end, close, as `velofon render` and the player do.
#include "engine/SpeedEngine.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSeconds = 30;

// A file of kSeconds of a wandering, speech-like signal, made once per layout.
std::string MakeInput(int nRate, int nChannels)
{
    const std::string strPath = (std::filesystem::temp_directory_path() / "velofon-bench-").string() + std::to_string(nRate) + "-" + std::to_string(nChannels) + "-"
        + std::to_string(::getpid()) + ".wav";
    const uint32_t nDataBytes = static_cast<uint32_t>(nRate) * kSeconds * 2 * nChannels;
    std::vector<unsigned char> ab(44 + nDataBytes);
    auto put = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            ab[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    std::copy_n("RIFF\0\0\0\0WAVEfmt ", 16, ab.begin());
    put(4, 36 + nDataBytes, 4);
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, nChannels, 2);
    put(24, nRate, 4);
    put(28, nRate * 2 * nChannels, 4);
    put(32, 2 * nChannels, 2);
    put(34, 16, 2);
    std::copy_n("data", 4, ab.begin() + 36);
    put(40, nDataBytes, 4);
    uint32_t nState = 1;
    int nValue = 0;
    for (size_t i = 44; i + 1 < ab.size(); i += 2) {
        nState = nState * 1664525u + 1013904223u;
        nValue = (nValue * 15) / 16 + static_cast<int>(nState >> 20) - 2048;
        put(i, static_cast<uint16_t>(nValue * 4), 2);
    }
    FILE* pFile = std::fopen(strPath.c_str(), "wb");
    std::fwrite(ab.data(), 1, ab.size(), pFile);
    std::fclose(pFile);
    return strPath;
}

void BM_Render(benchmark::State& state)
{
    const int nRate = static_cast<int>(state.range(0));
    const int nChannels = static_cast<int>(state.range(1));
    const double dSpeed = state.range(2) / 10.0;
    const int nAlpha = static_cast<int>(state.range(3));
    const std::string strPath = MakeInput(nRate, nChannels);
    auto pEngine = std::make_unique<CSpeedEngine>(2.0);
    pEngine->m_nMixingGain = 10;
    pEngine->m_nAlphaLevel = nAlpha;
    pEngine->m_bAlpha = nAlpha != 0;
    std::vector<unsigned char> abBuffer(30000);
    for (auto _ : state) {
        pEngine->Open(strPath, dSpeed);
        pEngine->Seek(0);
        while (pEngine->Fill(abBuffer.data(), 30000) > 0)
            benchmark::DoNotOptimize(abBuffer.data());
        pEngine->Close();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(nRate) * kSeconds);
    std::remove(strPath.c_str());
}

} // namespace

// rate, channels, speed x 10, Alpha level (0 off, 50 MAX)
BENCHMARK(BM_Render)
    ->ArgNames({ "rate", "ch", "speed10", "alpha" })
    ->ArgsProduct({ { 22050 }, { 1 }, { 10, 20, 40 }, { 0, 50 } })
    ->ArgsProduct({ { 44100 }, { 2 }, { 10, 20, 40 }, { 0, 50 } })
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
