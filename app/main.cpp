// VelofonPocket: the player. The program-wide objects are built in this
// order and destroyed in the reverse order at exit: the application, the
// wave output device with its four buffers, and the engine at speed 2.0
// (which holds the sound-file object).
#include "VelofonPocketApp.h"

#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "player/VelofonPocketView.h"

namespace {

CVelofonPocketApp theApp;
CWaveOutput g_WaveOutput;
CSpeedEngine g_SpeedEngine(2.0);

} // namespace

CSpeedEngine& TheSpeedEngine()
{
    return g_SpeedEngine;
}

CWaveOutput& TheWaveOutput()
{
    return g_WaveOutput;
}

int main(int argc, char** argv)
{
    return AfxWinMain(argc, argv);
}
