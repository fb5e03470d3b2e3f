// VelofonPocket: the player. One instance per settings file; it runs until it
// is asked to end (終了, Ctrl+Q, closing its window, or a signal from the
// session), never because its window was minimised, unmapped or left on
// another desktop.
//
// The objects belong to main (the engine on the heap, for its size) and go
// in the reverse order of their making: the controller first, then the
// form, the wave output device with its buffers, and the engine with its
// sound file.
#include "CommandLine.h"
#include "MediaControlsAdapter.h"

#include "common/Program.h"
#include "decoder/DecoderModule.h"
#include "engine/SoundFile.h"
#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/audio/WaveOut.h"
#include "platform/desktop/Desktop.h"
#include "platform/desktop/EndSignals.h"
#include "platform/handover/HandOver.h"
#include "platform/events/MessageQueue.h"
#include "platform/positions/PositionStore.h"
#include "platform/settings/ProfileStore.h"
#include "player/PlaybackController.h"
#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/Scale.h"
#include "ui/VelofonPocketView.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

namespace {

// Beside the settings file, after the program's name: one player per settings
// file, whatever the runtime folder.
const char kLockFileSuffix[] = ".lock";
const char kPositionsFileSuffix[] = ".positions.db";
// Where earlier versions kept the places, carried over once.
const char kOldPositionsFileSuffix[] = ".positions";

constexpr double kInitialSpeed = 2.0;
// What desktops count as a scale of 1.
constexpr double kStandardDpi = 96.0;

// ---- one instance ----

bool BringToFrontWhenMatching(XWINDOW hWnd, intptr_t /*lParam*/)
{
    char strCaption[512];
    GetTopLevelWindowText(hWnd, strCaption, sizeof strCaption);
    if (std::strstr(strCaption, kCaptionWord)) {
        ShowTopLevelWindow(hWnd);
        SetForegroundTopLevelWindow(hWnd);
    }
    return true;
}

// The program's file of this suffix in the settings folder; empty without a
// settings file.
std::string BesideSettings(const std::string& strSettingsPath, const char* strSuffix)
{
    return strSettingsPath.empty()
        ? strSettingsPath
        : std::filesystem::path(strSettingsPath).replace_filename(kProgramName + std::string(strSuffix)).string();
}

// A second start: the running player takes the paths and comes to the front.
int HandOverToRunningPlayer(const std::string& strLockPath, const std::vector<std::string>& astrPaths)
{
    std::string strWhy;
    const bool bTaken = astrPaths.empty() || HandOver(strLockPath, astrPaths, strWhy);
    EnumTopLevelWindows(BringToFrontWhenMatching, 0);
    if (!bTaken)
        std::fprintf(stderr, "VelofonPocket: the running player did not take the files: %s\n", strWhy.c_str());
    return bTaken ? 0 : 1;
}

// The hand-over socket in the event loop: every connection is watched on
// its own and read as it comes, and a timer drops the slow ones, so that
// nothing a client does holds up the sound or the window.
struct SHandOver {
    CHandOverServer server;
    CVelofonPocketView* pView = nullptr;
    bool bListening = false;
};

constexpr double kHandOverCheckSeconds = 0.25;

void OnHandOverListener(FL_SOCKET, void* pHandOver);

// The listener is watched while there is room for another connection.
void WatchListener(SHandOver& handOver)
{
    const bool bWanted = !handOver.server.IsFull();
    if (bWanted == handOver.bListening)
        return;
    handOver.bListening = bWanted;
    if (bWanted)
        Fl::add_fd(handOver.server.GetListener(), OnHandOverListener, &handOver);
    else
        Fl::remove_fd(handOver.server.GetListener());
}

// What a second start handed over is opened, and the window raised.
void OnHandOverConnection(FL_SOCKET hConnection, void* pHandOver)
{
    auto& handOver = *static_cast<SHandOver*>(pHandOver);
    bool bClosed = false;
    const auto astrPaths = handOver.server.Read(hConnection, bClosed);
    if (bClosed)
        Fl::remove_fd(hConnection);
    if (astrPaths) {
        handOver.pView->OpenPaths(*astrPaths);
        handOver.pView->show();
    }
    WatchListener(handOver);
}

void OnHandOverListener(FL_SOCKET, void* pHandOver)
{
    auto& handOver = *static_cast<SHandOver*>(pHandOver);
    for (const int hConnection : handOver.server.Accept())
        Fl::add_fd(hConnection, OnHandOverConnection, &handOver);
    WatchListener(handOver);
}

void OnHandOverTimer(void* pHandOver)
{
    auto& handOver = *static_cast<SHandOver*>(pHandOver);
    for (const int hConnection : handOver.server.DropLate())
        Fl::remove_fd(hConnection);
    WatchListener(handOver);
    Fl::repeat_timeout(kHandOverCheckSeconds, OnHandOverTimer, pHandOver);
}

// ---- window scale ----

// VELOFON_SCALE when set, else what the desktop's font resolution asks for.
double ChooseUiScale()
{
    const char* strSetting = std::getenv("VELOFON_SCALE");
    if (strSetting && *strSetting)
        return ParseScaleFactor(strSetting);
    const double dDpi = GetXftDpi();
    if (dDpi <= 0)
        return 1.0;
    char strFactor[32];
    std::snprintf(strFactor, sizeof strFactor, "%.4f", dDpi / kStandardDpi);
    return ParseScaleFactor(strFactor);
}

// ---- the toolkit's side of the message queue ----

bool g_bGathering = false;
bool g_bExitRequested = false;
int g_nExitStatus = 0;

// Every wait of the toolkit (the main loop, its menus, the dialogs' loops)
// dispatches what was posted, so playback goes on while a dialog is open.
// Only PumpMessage's own gathering of input does not, so that a pump
// dispatches at most one message.
void OnAwake(void*)
{
    if (g_bGathering)
        return;
    while (!g_bExitRequested && DispatchOneMessage()) {
    }
}

void GatherInput()
{
    g_bGathering = true;
    Fl::check();
    g_bGathering = false;
}

// Runs on the posting thread, the audio thread among them.
void Wake()
{
    Fl::awake(OnAwake, nullptr);
}

// The controller's clock, which finds a sound device that has gone silent:
// such a device sends nothing to look at.
void OnTickTimer(void* pController)
{
    static_cast<CPlaybackController*>(pController)->Post(EPlayerCommand::Tick);
    Fl::repeat_timeout(kPlayerTickMs / 1000.0, OnTickTimer, pController);
}

// ---- once the window is painted ----

// What neither the window nor the first Play should wait for runs on threads
// of its own once the window is painted: the sound system's start (loading
// SDL, its server and bus connections) and, when the list or the command
// line holds files that need them, FFmpeg's libraries (tens of milliseconds).
struct SAfterPaint {
    const CPlayList& list;
    const std::vector<std::string>& astrOpened;
    std::thread audio;
    std::thread decoder;
};

bool NeedsDecoder(const CPlayList& list, const std::vector<std::string>& astrOpened)
{
    for (int i = 0; i < list.GetCount(); ++i) {
        if (TakesDecodedRoad(list.GetPath(i)))
            return true;
    }
    return std::any_of(astrOpened.begin(), astrOpened.end(), TakesDecodedRoad);
}

void OnWindowPainted(SAfterPaint& after)
{
    after.audio = std::thread(WaveOutPrepare);
    if (NeedsDecoder(after.list, after.astrOpened)) {
        after.decoder = std::thread([] {
            std::string strWhy; // told when a file needs the module
            LoadDecoderModule(strWhy);
        });
    }
}

void JoinAfterPaint(SAfterPaint& after)
{
    for (std::thread* pThread : {&after.audio, &after.decoder}) {
        if (pThread->joinable())
            pThread->join();
    }
}

// ---- ending ----

// Every window goes, so that the loops of open dialogs end and the main
// loop is reached.
void RequestExit(int nStatus)
{
    if (!g_bExitRequested) {
        g_bExitRequested = true;
        g_nExitStatus = nStatus;
    }
    while (Fl_Window* pWindow = Fl::first_window())
        pWindow->hide();
}

// A signal ends the player as a shell reports a process the signal ended,
// as the velofon commands do.
void OnEndSignal(FL_SOCKET /*hPipe*/, void*)
{
    if (const int nSignal = TakeEndSignal())
        RequestExit(128 + nSignal);
}

int RunUntilExit()
{
    while (!g_bExitRequested) {
        // Block in the toolkit only while our queue is empty: a post made
        // while input was gathered has woken nobody.
        Fl::wait(GetQueuedMessageCount() > 0 ? 0.0 : 1e20);
        while (!g_bExitRequested && DispatchOneMessage()) {
        }
    }
    return g_nExitStatus;
}

} // namespace

int main(int argc, char** argv)
{
    const SPlayerCommandLine commandLine = ParseCommandLine(argc, argv);
    if (commandLine.nExitStatus >= 0)
        return commandLine.nExitStatus;
    const std::string strSettingsPath = CProfileStore::LocationOf(kProgramName, kProgramName);
    const std::string strLockPath = BesideSettings(strSettingsPath, kLockFileSuffix);
    int nLockError = 0;
    const EInstanceLock eLock = LockSingleInstance(strLockPath, nLockError);
    if (eLock == EInstanceLock::HeldByAnother)
        return HandOverToRunningPlayer(strLockPath, commandLine.astrPaths);
    SHandOver handOver;
    std::string strHandOverError;
    const bool bHandOver = eLock == EInstanceLock::Ours && handOver.server.Listen(strLockPath, strHandOverError);

    const int hEndSignals = CatchEndSignals();
    UseComposeCache();
    // fontconfig reads its configuration and the pictures are decoded while
    // the display opens.
    std::thread lookAhead([] {
        FindJapaneseFonts();
        DecodeAllImages();
    });
    WaveOutInstall();
    Fl::lock(); // lets the audio thread wake the toolkit
    Fl::visual(FL_DOUBLE | FL_RGB); // opens the display, or ends with a message
    SetUiScale(ChooseUiScale());
    if (!InitJapaneseFonts())
        std::fprintf(stderr, "VelofonPocket: no font with Japanese letters found (fonts-ipafont-gothic has them)\n");
    Fl_Window::default_xclass(kProgramName);

    CProfileStore profile;
    // Where each file was left lives beside the settings.
    CPositionStore positions;
    // Without the lock another player may be writing the same files: this
    // one plays but writes none, and says so at the start.
    if (eLock != EInstanceLock::Ours) {
        const std::string strReason = (strLockPath.empty() ? "$HOME" : strLockPath) + ": " + std::strerror(nLockError);
        profile.SetReadOnly(strReason);
        positions.SetReadOnly(strReason);
    }
    profile.SetLocation(kProgramName, kProgramName);
    positions.SetPath(BesideSettings(profile.GetPath(), kPositionsFileSuffix),
        BesideSettings(profile.GetPath(), kOldPositionsFileSuffix));
    // Its fixed buffers hold seconds of sound: on the heap, not on the stack.
    const auto pEngine = std::make_unique<CSpeedEngine>(kInitialSpeed);
    CSpeedEngine& engine = *pEngine;
    CWaveOutput output;
    CVelofonPocketView view;
    lookAhead.join();
    CPlaybackController controller(engine, output, profile, view);
    controller.SetPositionStore(&positions);
    view.SetController(controller);
    view.SetExitHandler([] { RequestExit(0); });

    SetMessageQueueHooks(GatherInput, Wake);
    if (hEndSignals >= 0)
        Fl::add_fd(hEndSignals, OnEndSignal);
    // The desktop's media keys and sound menus, when a session bus runs:
    // the name is owned before any message of the start stands in the way.
    // While the sound plays it also keeps the desktop from idle suspend.
    CMediaControlsAdapter mediaControls(controller, engine, [&view] { view.show(); }, [] { RequestExit(0); });
    SAfterPaint afterPaint{controller.GetPlayList(), commandLine.astrPaths, {}, {}};
    view.SetFirstPaintHandler([&afterPaint] { OnWindowPainted(afterPaint); });
    // Shown before the settings are loaded, so that a message about them
    // stands over the player's window.
    view.show();
    controller.Start();
    mediaControls.OnPlayerChanged();
    if (bHandOver) {
        handOver.pView = &view;
        WatchListener(handOver);
        Fl::add_timeout(kHandOverCheckSeconds, OnHandOverTimer, &handOver);
    } else if (!strHandOverError.empty()) {
        view.ShowMessage(HandOverFailedMessage(strHandOverError));
    }
    view.OpenPaths(commandLine.astrPaths);
    Fl::add_timeout(kPlayerTickMs / 1000.0, OnTickTimer, &controller);
    const int nStatus = RunUntilExit();
    JoinAfterPaint(afterPaint);

    // The sound device closes before the buffers it plays from are freed.
    controller.OnStop();
    Fl::remove_timeout(OnTickTimer, &controller);
    if (hEndSignals >= 0)
        Fl::remove_fd(hEndSignals);
    if (bHandOver) {
        Fl::remove_timeout(OnHandOverTimer, &handOver);
        if (handOver.bListening)
            Fl::remove_fd(handOver.server.GetListener());
        handOver.bListening = false;
    }
    SetMessageQueueHooks(nullptr, nullptr);
    return nStatus;
}
