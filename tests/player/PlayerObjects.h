// The program-wide engine and output device for the player's tests, which
// build and tear them down around their test suites.
#pragma once

#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"

#include <memory>

extern std::unique_ptr<CSpeedEngine> g_pEngine;
extern std::unique_ptr<CWaveOutput> g_pOutput;
