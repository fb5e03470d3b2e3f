// Runs a fuzz target's LLVMFuzzerTestOneInput once on every file of the
// folders given, in sorted order, so that the seed corpus and every input a
// fuzzer has found are checked in each build, with or without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);
// Defined by the targets that set something up first, as libFuzzer calls it.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* pArgc, char*** pArgv);

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER...\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    size_t nRun = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        std::vector<std::filesystem::path> aFiles;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
            if (entry.is_regular_file())
                aFiles.push_back(entry.path());
        }
        if (error) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
        // An empty folder would let a broken corpus path pass unnoticed.
        if (aFiles.empty()) {
            std::fprintf(stderr, "%s: no inputs\n", argv[i]);
            return 1;
        }
        std::sort(aFiles.begin(), aFiles.end());
        for (const auto& path : aFiles) {
            std::ifstream file(path, std::ios::binary);
            const std::vector<char> ach((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            if (file.bad()) {
                std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
                return 1;
            }
            // A buffer of exactly the input's size, as libFuzzer gives, so
            // that a read past it is caught; never null, also when empty.
            static const uint8_t kNothing = 0;
            const std::vector<uint8_t> ab(ach.begin(), ach.end());
            LLVMFuzzerTestOneInput(ab.empty() ? &kNothing : ab.data(), ab.size());
            ++nRun;
        }
    }
    std::printf("ran %zu inputs\n", nRun);
    return 0;
}
