// What the per-sample loops share. They are compiled for AVX2 and for the
// plain x86-64 baseline, and the loader picks what the processor runs:
// integer arithmetic gives the same bytes on both, only faster with wider
// vectors. clang takes the attribute only on a function's first declaration,
// which for these is in the class, so clang builds keep the baseline alone.
#pragma once

#include <algorithm>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) \
    && !defined(__SANITIZE_UNDEFINED__)
#define VELOFON_HOT_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define VELOFON_HOT_LOOP
#endif

// Holds a sum at the 16-bit limits instead of letting it wrap to the opposite
// sign, which would be heard as a loud click. Branch-free, so the loops still
// vectorise (to a pack with saturation).
inline int16_t SaturateToInt16(int32_t nValue)
{
    return static_cast<int16_t>(std::clamp<int32_t>(nValue, INT16_MIN, INT16_MAX));
}
