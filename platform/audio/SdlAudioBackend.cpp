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
#include <map>

namespace {

// About 20 ms per device period: short enough that a pause, a reset or the
// end of a file is heard at once, long enough not to wake the CPU too often.
uint16_t DevicePeriodFrames(uint32_t nSamplesPerSec)
{
    uint32_t nFrames = 256;
    while (nFrames < 4096 && nFrames * 50 < nSamplesPerSec)
        nFrames *= 2;
    return static_cast<uint16_t>(nFrames);
}

class CSdlAudioBackend : public CAudioBackend {
public:
    // SDL's audio start connects to the sound server and, through its
    // session-bus helper, to the session bus (where none runs, libdbus first
    // tries to start one): milliseconds that would come between a click on
    // Play and the sound.
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
        const SDL_AudioDeviceID nDevice = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (nDevice == 0) {
            m_strError = SDL_GetError();
            return false;
        }
        if (have.freq != want.freq || have.format != want.format || have.channels != want.channels) {
            SDL_CloseAudioDevice(nDevice);
            m_strError = "the sound system changed the requested format";
            return false;
        }
        m_aDevices[stream.GetHandle()] = SDevice{nDevice, have.samples};
        SDL_PauseAudioDevice(nDevice, 0);
        return true;
    }

    void SetPaused(CWaveOutStream& stream, bool bPaused) override
    {
        const auto found = m_aDevices.find(stream.GetHandle());
        if (found != m_aDevices.end())
            SDL_PauseAudioDevice(found->second.nId, bPaused ? 1 : 0);
    }

    // SDL marks a device it lost as stopped, and goes on calling its callback
    // in the device's time; its SDL_AUDIODEVICEREMOVED event says no more.
    bool IsDeviceAlive(CWaveOutStream& stream) override
    {
        const auto found = m_aDevices.find(stream.GetHandle());
        return found == m_aDevices.end() || SDL_GetAudioDeviceStatus(found->second.nId) != SDL_AUDIO_STOPPED;
    }

    void Close(CWaveOutStream& stream) override
    {
        const auto found = m_aDevices.find(stream.GetHandle());
        if (found == m_aDevices.end())
            return;
        // The device still holds the last period it was given; let it play
        // out so that the end of a file is not cut off.
        if (stream.LastPullHadSound() && SDL_GetAudioDeviceStatus(found->second.nId) == SDL_AUDIO_PLAYING)
            SDL_Delay(std::min<uint32_t>(250, 2000u * found->second.nPeriodFrames / stream.GetSampleRate() + 1));
        SDL_CloseAudioDevice(found->second.nId);
        m_aDevices.erase(found);
    }

    std::string GetError() const override { return m_strError; }

    void Shutdown() override
    {
        if (m_bInitialised)
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        m_bInitialised = false;
    }

private:
    bool Initialise()
    {
        if (m_bInitialised)
            return true;
        // SDL would otherwise turn SIGINT and SIGTERM into quit events that
        // nobody here reads, and the program could not be ended.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            m_strError = SDL_GetError();
            return false;
        }
        m_bInitialised = true;
        return true;
    }

    struct SDevice {
        SDL_AudioDeviceID nId;
        uint16_t nPeriodFrames;
    };

    static void OnAudio(void* pUser, Uint8* pOut, int nBytes)
    {
        const size_t nWanted = static_cast<size_t>(nBytes);
        const size_t nCopied = static_cast<CWaveOutStream*>(pUser)->Pull(pOut, nWanted);
        std::memset(pOut + nCopied, 0, nWanted - nCopied);
    }

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
