// The program-wide engine and output device for the player's tests, which
// build and tear them down around their test suites, and what the tests that
// run the player without a display share.
#pragma once

#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/DocView.h"

#include <memory>
#include <string>
#include <vector>

class CScriptedAudioBackend;
class CVelofonPocketApp;
class CVelofonPocketView;

extern std::unique_ptr<CSpeedEngine> g_pEngine;
extern std::unique_ptr<CWaveOutput> g_pOutput;

using MessageBoxAnswer = int (*)(const std::string& strText, const std::string& strCaption, UINT nType);

// Makes the engine, the output and the application with its resources, for
// a suite that runs the player's logic without a display, on the test's
// clock and with its answers to message boxes.
std::unique_ptr<CVelofonPocketApp> CreatePlayerObjects(int (*pfnClock)(), MessageBoxAnswer pfnAnswer);
void DestroyPlayerObjects(std::unique_ptr<CVelofonPocketApp>& pApp);

// The settings file's text for this playlist, followed by strMore (lines).
std::string PlaylistSettings(const std::vector<std::string>& astrPaths, const std::string& strMore = "");

// Opens the player's frame and view (of pViewClass, a CVelofonPocketView)
// on the settings stored under XDG_CONFIG_HOME, as the program starts.
CVelofonPocketView& OpenPlayer(CVelofonPocketApp& app, std::unique_ptr<CSingleDocTemplate>& pTemplate,
                               const SRuntimeClass* pViewClass);

// Handles every message waiting, nested ones included.
void DispatchAll();
// Lets the sound system finish one buffer, and the player handle it; false
// when none was queued.
bool PlayOneBuffer(CScriptedAudioBackend& sound);
// Plays until nothing is queued any more.
void PlayUntilDrained(CScriptedAudioBackend& sound);
