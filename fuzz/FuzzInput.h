// What both fuzz targets share: they hand their input to code that reads a
// file by its path, and check what it gives back.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

// Stops the run so that the fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                                     \
    do {                                                                                                           \
        if (!(condition)) {                                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                   \
            std::abort();                                                                                          \
        }                                                                                                          \
    } while (0)

// Replaces the file at strPath with the input; a failure to write it is a
// fault of the machine, not of the code under test, so it ends the run loudly.
inline void WriteInputFile(const std::string& strPath, const uint8_t* pData, size_t nSize)
{
    const int hFile = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (hFile < 0) {
        std::perror(strPath.c_str());
        std::abort();
    }
    while (nSize > 0) {
        const ssize_t n = ::write(hFile, pData, nSize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::perror(strPath.c_str());
            std::abort();
        }
        pData += n;
        nSize -= static_cast<size_t>(n);
    }
    ::close(hFile);
}
