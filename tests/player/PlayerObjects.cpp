#include "PlayerObjects.h"

#include "player/VelofonPocketView.h"

std::unique_ptr<CSpeedEngine> g_pEngine;
std::unique_ptr<CWaveOutput> g_pOutput;

CSpeedEngine& TheSpeedEngine()
{
    return *g_pEngine;
}

CWaveOutput& TheWaveOutput()
{
    return *g_pOutput;
}
