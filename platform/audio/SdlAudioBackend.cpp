// The desktop's sound system behind the wave-out calls: one SDL audio device
// per open output, 16-bit stereo at the file's own rate. SDL picks the driver
// (PipeWire, PulseAudio, ALSA, or "disk" and "dummy" through SDL_AUDIODRIVER)
// and converts when the hardware wants another rate or format.
//
// SDL's audio thread runs only the callback, which copies queued bytes and
// posts notifications (CWaveOutStream::Pull); decisions stay on the
// user-interface thread.
#include "AudioBackend.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>

namespace {

// SDL is taken from its library when sound is first wanted rather than
// linked: linked, it and the 34 libraries it brings (the sound servers'
// clients, Wayland, codecs) were mapped at every start of both programs,
// milliseconds before the player's window could show.
constexpr char kSdlLibrary[] = "libSDL2-2.0.so.0";

#define VELOFON_SDL_CALLS(CALL)                                                                                        \
    CALL(SetHint)                                                                                                      \
    CALL(InitSubSystem)                                                                                                \
    CALL(QuitSubSystem)                                                                                                \
    CALL(GetError)                                                                                                     \
    CALL(OpenAudioDevice)                                                                                              \
    CALL(CloseAudioDevice)                                                                                             \
    CALL(PauseAudioDevice)                                                                                             \
    CALL(LockAudioDevice)                                                                                              \
    CALL(UnlockAudioDevice)                                                                                            \
    CALL(GetAudioDeviceStatus)                                                                                         \
    CALL(Delay)

struct SSdlCalls {
#define VELOFON_SDL_DECLARE(name) decltype(&SDL_##name) name = nullptr;
    VELOFON_SDL_CALLS(VELOFON_SDL_DECLARE)
#undef VELOFON_SDL_DECLARE
};

// False with the reason when the library or one of its calls is missing.
bool LoadSdl(SSdlCalls& sdl, std::string& strError)
{
    // Bound lazily, as the loader binds a linked library: binding SDL and its
    // libraries at once would touch pages of each for calls never made.
    void* pLibrary = ::dlopen(kSdlLibrary, RTLD_LAZY | RTLD_LOCAL);
    if (!pLibrary) {
        strError = std::string(::dlerror()) + " (on Debian, the package libsdl2-2.0-0 has it)";
        return false;
    }
    // The library stays loaded to the end: its threads may outlive a close.
    bool bComplete = true;
#define VELOFON_SDL_TAKE(name)                                                                                         \
    sdl.name = reinterpret_cast<decltype(sdl.name)>(::dlsym(pLibrary, "SDL_" #name));                                  \
    bComplete = bComplete && sdl.name;
    VELOFON_SDL_CALLS(VELOFON_SDL_TAKE)
#undef VELOFON_SDL_TAKE
    if (!bComplete)
        strError = std::string(kSdlLibrary) + " is not the SDL 2 library it is named for";
    return bComplete;
}

// About 20 ms per device period at the higher rates, short enough that a
// pause, a reset or the end of a file is heard at once, and never less than
// a 4096-byte page: a driver that writes through a page-sized stdio buffer
// (SDL's disk driver) would otherwise hold a period back until the next one
// fills the page.
uint16_t DevicePeriodFrames(uint32_t nSamplesPerSec)
{
    uint32_t nFrames = 1024;
    while (nFrames < 4096 && nFrames * 50 < nSamplesPerSec)
        nFrames *= 2;
    return static_cast<uint16_t>(nFrames);
}

class CSdlAudioBackend : public CAudioBackend {
public:
    // Loading SDL, its start, its connection to the sound server and,
    // through its session-bus helper, to the session bus (where none runs,
    // libdbus first tries to start one): milliseconds that would come
    // between a click on Play and the sound. Any thread; an Open meanwhile
    // waits for it.
    void Prepare() override { Initialise(); }

    bool Open(CWaveOutStream& stream) override
    {
        if (!Initialise())
            return false;
        if (stream.GetSampleRate() > static_cast<uint32_t>(INT32_MAX)) {
            m_strError = "sample rate out of range";
            return false;
        }
        SDL_AudioSpec want {};
        want.freq = static_cast<int>(stream.GetSampleRate());
        want.format = AUDIO_S16LSB;
        want.channels = 2;
        want.samples = DevicePeriodFrames(stream.GetSampleRate());
        want.callback = &CSdlAudioBackend::OnAudio;
        want.userdata = &stream;
        SDL_AudioSpec have {};
        // No changes allowed: SDL converts to whatever the device needs, so
        // what the callback delivers is exactly the stream's own format.
        const SDL_AudioDeviceID nDevice = m_sdl.OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (nDevice == 0) {
            m_strError = m_sdl.GetError();
            return false;
        }
        if (have.freq != want.freq || have.format != want.format || have.channels != want.channels) {
            m_sdl.CloseAudioDevice(nDevice);
            m_strError = "the sound system changed the requested format";
            return false;
        }
        // SDL's thread fills its first period as soon as it starts, before
        // the caller has queued anything: held back until the stream runs
        // with a buffer, that period carries the first sound, not silence.
        m_sdl.LockAudioDevice(nDevice);
        m_aDevices[stream.GetHandle()] = SDevice{nDevice, have.samples, true};
        m_sdl.PauseAudioDevice(nDevice, 0);
        return true;
    }

    void SetPaused(CWaveOutStream& stream, bool bPaused) override
    {
        const auto found = m_aDevices.find(stream.GetHandle());
        if (found == m_aDevices.end())
            return;
        m_sdl.PauseAudioDevice(found->second.nId, bPaused ? 1 : 0);
        LetFirstPeriodGoWhenRunning(found->second, stream);
    }

    void Queued(CWaveOutStream& stream) override
    {
        const auto found = m_aDevices.find(stream.GetHandle());
        if (found != m_aDevices.end())
            LetFirstPeriodGoWhenRunning(found->second, stream);
    }

    // SDL marks a device it lost as stopped, and goes on calling its callback
    // in the device's time; its SDL_AUDIODEVICEREMOVED event says no more.
    bool IsDeviceAlive(CWaveOutStream& stream) override
    {
        const auto found = m_aDevices.find(stream.GetHandle());
        return found == m_aDevices.end() || m_sdl.GetAudioDeviceStatus(found->second.nId) != SDL_AUDIO_STOPPED;
    }

    void Close(CWaveOutStream& stream) override
    {
        const auto found = m_aDevices.find(stream.GetHandle());
        if (found == m_aDevices.end())
            return;
        // Closing joins SDL's thread, which waits for the first period.
        LetFirstPeriodGo(found->second);
        // The device still holds the last period it was given; let it play
        // out so that the end of a file is not cut off.
        if (stream.LastPullHadSound() && m_sdl.GetAudioDeviceStatus(found->second.nId) == SDL_AUDIO_PLAYING)
            m_sdl.Delay(std::min<uint32_t>(250, 2000u * found->second.nPeriodFrames / stream.GetSampleRate() + 1));
        m_sdl.CloseAudioDevice(found->second.nId);
        m_aDevices.erase(found);
    }

    std::string GetError() const override { return m_strError; }

    void Shutdown() override
    {
        std::lock_guard<std::mutex> lock(m_initialising);
        if (m_bInitialised)
            m_sdl.QuitSubSystem(SDL_INIT_AUDIO);
        m_bInitialised = false;
    }

private:
    struct SDevice {
        SDL_AudioDeviceID nId;
        uint16_t nPeriodFrames;
        bool bFirstPeriodHeld;
    };

    bool Initialise()
    {
        std::lock_guard<std::mutex> lock(m_initialising);
        if (m_bInitialised)
            return true;
        if (!m_bLoaded && !(m_bLoaded = LoadSdl(m_sdl, m_strError)))
            return false;
        // SDL would otherwise turn SIGINT and SIGTERM into quit events that
        // nobody here reads, and the program could not be ended.
        m_sdl.SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (m_sdl.InitSubSystem(SDL_INIT_AUDIO) != 0) {
            m_strError = m_sdl.GetError();
            return false;
        }
        m_bInitialised = true;
        return true;
    }

    void LetFirstPeriodGoWhenRunning(SDevice& device, CWaveOutStream& stream)
    {
        if (device.bFirstPeriodHeld && !stream.IsPaused() && stream.HasQueued())
            LetFirstPeriodGo(device);
    }

    void LetFirstPeriodGo(SDevice& device)
    {
        if (device.bFirstPeriodHeld)
            m_sdl.UnlockAudioDevice(device.nId);
        device.bFirstPeriodHeld = false;
    }

    static void OnAudio(void* pUser, Uint8* pOut, int nBytes)
    {
        const size_t nWanted = static_cast<size_t>(nBytes);
        const size_t nCopied = static_cast<CWaveOutStream*>(pUser)->Pull(pOut, nWanted);
        std::memset(pOut + nCopied, 0, nWanted - nCopied);
    }

    // Prepare may run on a thread of its own; the rest is the
    // user-interface thread's.
    std::mutex m_initialising;
    SSdlCalls m_sdl;
    bool m_bLoaded = false;
    bool m_bInitialised = false;
    std::string m_strError;
    std::map<HWAVEOUT, SDevice> m_aDevices;
};

} // namespace

CAudioBackend& GetSdlAudioBackend()
{
    // Never destroyed: the exit handler of the wave-out calls closes the
    // devices through it after static objects have started to go.
    static CSdlAudioBackend* const pBackend = new CSdlAudioBackend;
    return *pBackend;
}
