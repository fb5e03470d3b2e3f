#include "PlayerObjects.h"

#include "app/Resource.h"
#include "app/VelofonPocketApp.h"
#include "platform/events/MessageQueue.h"
#include "platform/audio/ScriptedAudioBackend.h"
#include "platform/events/TimeOfDay.h"
#include "player/VelofonPocketView.h"

#include <cstdlib>

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

std::unique_ptr<CVelofonPocketApp> CreatePlayerObjects(int (*pfnClock)(), MessageBoxAnswer pfnAnswer)
{
    // The controller's logic needs no display.
    ::unsetenv("DISPLAY");
    g_pEngine = std::make_unique<CSpeedEngine>(2.0);
    g_pOutput = std::make_unique<CWaveOutput>();
    auto pApp = std::make_unique<CVelofonPocketApp>();
    RegisterResources();
    SetTimeOfDaySource(pfnClock);
    SetMessageBoxResponder(pfnAnswer);
    return pApp;
}

void DestroyPlayerObjects(std::unique_ptr<CVelofonPocketApp>& pApp)
{
    SetMessageBoxResponder(nullptr);
    SetTimeOfDaySource(nullptr);
    pApp.reset();
    g_pOutput.reset();
    g_pEngine.reset();
}

std::string PlaylistSettings(const std::vector<std::string>& astrPaths, const std::string& strMore)
{
    std::string strSettings = "[VelofonSettings]\nPlayListCount=" + std::to_string(astrPaths.size()) + "\n";
    for (size_t i = 0; i < astrPaths.size(); ++i)
        strSettings += PlayFileEntryName(static_cast<int>(i)) + "=" + astrPaths[i] + "\n";
    return strSettings + strMore;
}

CVelofonPocketView& OpenPlayer(CVelofonPocketApp& app, std::unique_ptr<CSingleDocTemplate>& pTemplate,
                               const SRuntimeClass* pViewClass)
{
    // The controller's program-wide fields start as in a new process.
    CVelofonPocketView::m_nPlayState = PS_IDLE;
    CVelofonPocketView::m_nCurrent = -1;
    CVelofonPocketView::m_nPending = -1;
    CVelofonPocketView::m_bResumeRequest = false;
    CVelofonPocketView::m_nResumePos = 0;
    CVelofonPocketView::m_nSpeedHoldoff = 0;
    app.SetRegistryKey("VelofonPocket");
    pTemplate = std::make_unique<CSingleDocTemplate>(IDR_MAINFRAME, RUNTIME_CLASS(CVelofonPocketDoc),
                                                     RUNTIME_CLASS(CMainFrame), pViewClass);
    CFrameWnd* pFrame = pTemplate->OpenDocumentFile();
    app.m_pMainWnd = pFrame;
    return *static_cast<CVelofonPocketView*>(pFrame->GetActiveView());
}

void DispatchAll()
{
    while (PumpMessage()) {
    }
}

bool PlayOneBuffer(CScriptedAudioBackend& sound)
{
    const bool bPlayed = sound.CompleteNext();
    DispatchAll();
    return bPlayed;
}

void PlayUntilDrained(CScriptedAudioBackend& sound)
{
    DispatchAll();
    while (PlayOneBuffer(sound)) {
    }
}
