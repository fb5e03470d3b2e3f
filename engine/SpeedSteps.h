// The player's units, shared by the player, its settings and velofon: the
// speed steps (1.0x to 4.0x in tenths) and the Mixing and Alpha levels.
#pragma once

#include "SpeedEngine.h"

#include <algorithm>
#include <string>

constexpr int kSpeedIndexCount = 31;
constexpr int kDefaultSpeedIndex = 10;
constexpr int kMaxMixing = 100;
constexpr int kDefaultMixing = 50;
constexpr int kMaxAlpha = 50;

// The speed of a step, computed in double precision as the player always has.
constexpr double SpeedOfIndex(int nSpeedIdx)
{
    return (nSpeedIdx + 10) * 0.1;
}

// How the form shows a step: "1.0" to "4.0".
inline std::string SpeedText(int nSpeedIdx)
{
    return std::to_string(1 + nSpeedIdx / 10) + "." + std::to_string(nSpeedIdx % 10);
}

// Out-of-range values (a damaged settings file) are taken as the nearest
// bound: a level beyond its menu would wrap the samples into loud noise.
constexpr int ClampSpeedIndex(int nSpeedIdx)
{
    return std::clamp(nSpeedIdx, 0, kSpeedIndexCount - 1);
}
constexpr int ClampMixing(int nMixing)
{
    return std::clamp(nMixing, 0, kMaxMixing);
}
constexpr int ClampAlpha(int nAlpha)
{
    return std::clamp(nAlpha, 0, kMaxAlpha);
}

// Hands the Mixing and Alpha levels (percent) to the engine.
inline void ApplyLevels(CSpeedEngine& engine, int nMixing, int nAlpha)
{
    engine.m_nMixingGain = ClampMixing(nMixing) / 5;
    engine.m_nAlphaLevel = ClampAlpha(nAlpha);
    engine.m_bAlpha = engine.m_nAlphaLevel != 0 ? 1 : 0;
}
