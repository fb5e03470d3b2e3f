// velofon play: the player's road without its window. The files go one after
// the other through the engine, the wave output device and the message queue,
// as the player drives them: open and start per file, refill on every
// MM_WOM_DONE until the ring has drained.
#include "Commands.h"
#include "Interrupt.h"
#include "PlaybackOptions.h"
#include "ProgressBar.h"
#include "SkipReason.h"

#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

const char kPlayUsageLine[] =
    "usage: velofon play [--speed-index K | --speed S] [--mixing P] [--alpha P] IN [IN ...]\n";

const char kPlayHelp[] =
    "\n"
    "Plays the sound files (WAV, MP3, M4A/M4B, Opus, Ogg, FLAC and whatever\n"
    "else FFmpeg reads) one after the other at the chosen speed through the\n"
    "default sound device. A file that cannot be played is skipped with a\n"
    "message. On a terminal, the space key pauses and resumes; Ctrl+C stops.\n"
    "\n"
    "options:\n";

const char kPlayExitHelp[] =
    "\n"
    "exit status: 0 every input played, 1 an input skipped or no sound device,\n"
    "2 usage error, 128+N stopped by signal N (130 for Ctrl+C).\n";

constexpr int kPollMs = 50;
// 16-bit stereo.
constexpr uint32_t kOutputFrameBytes = 4;
constexpr uint32_t kFramesPerBuffer = WAVE_BUFFER_BYTES / kOutputFrameBytes;

using Clock = std::chrono::steady_clock;

// Single key presses from a terminal on standard input, without echo; the
// terminal gets its settings back when the object goes.
class CTerminalKeys {
public:
    CTerminalKeys()
        : m_bActive(::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &m_saved) == 0)
    {
        if (!m_bActive)
            return;
        termios raw = m_saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    CTerminalKeys(const CTerminalKeys&) = delete;
    CTerminalKeys& operator=(const CTerminalKeys&) = delete;
    ~CTerminalKeys()
    {
        if (m_bActive)
            ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }

    // The next key pressed, or 0 when none is waiting.
    char Next()
    {
        pollfd poll {STDIN_FILENO, POLLIN, 0};
        char cKey = 0;
        if (m_bActive && ::poll(&poll, 1, 0) > 0 && ::read(STDIN_FILENO, &cKey, 1) == 1)
            return cKey;
        return 0;
    }

private:
    termios m_saved {};
    bool m_bActive;
};

std::string FormatTime(uint64_t nSeconds)
{
    char strTime[48];
    std::snprintf(strTime, sizeof strTime, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(nSeconds / 3600),
        static_cast<unsigned long long>(nSeconds / 60 % 60), static_cast<unsigned long long>(nSeconds % 60));
    return strTime;
}

enum class EFileResult { Played, Skipped, NoDevice, Stalled, Interrupted };

class CTerminalPlayer : public CMessageTarget {
public:
    explicit CTerminalPlayer(const SCommandLine& line)
        : m_line(line)
        , m_pEngine(std::make_unique<CSpeedEngine>(2.0))
        , m_pOutput(std::make_unique<CWaveOutput>())
    {
        line.options.ApplyLevels(*m_pEngine);
    }

    // Returns the exit status.
    int Run()
    {
        int nStatus = kExitOk;
        for (const std::string& strInput : m_line.astrInputs) {
            const EFileResult eResult = PlayFile(strInput);
            if (eResult == EFileResult::Skipped)
                nStatus = kExitSkipped;
            if (eResult == EFileResult::NoDevice || eResult == EFileResult::Stalled) {
                nStatus = kExitSkipped;
                break;
            }
            if (eResult == EFileResult::Interrupted) {
                m_progress.Clear();
                std::fputs("velofon: interrupted\n", stderr);
                nStatus = InterruptedExitStatus();
                break;
            }
        }
        m_progress.Clear();
        m_pOutput->Reset();
        m_pOutput->UnprepareAll();
        m_pOutput->Close();
        return nStatus;
    }

    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message != MM_WOM_DONE)
            return;
        m_lastNotice = Clock::now();
        if (!m_pOutput->Refill(reinterpret_cast<HWAVEOUT>(wParam), reinterpret_cast<WAVEHDR*>(lParam)))
            m_bRunOver = true;
    }

private:
    EFileResult PlayFile(const std::string& strInput)
    {
        if (WasInterrupted())
            return EFileResult::Interrupted;
        CSpeedEngine& engine = *m_pEngine;
        const double dSpeed = m_line.options.Speed();
        if (!engine.Open(strInput, dSpeed))
            return Skip(strInput, engine.GetOpenErrorText());
        engine.Seek(0);
        m_pOutput->m_pEngine = &engine;
        if (!m_pOutput->Open(GetSafeHwnd(), engine.GetFormat())) {
            engine.Close();
            m_progress.Clear();
            std::fprintf(stderr, "velofon: no sound device can be opened: %s\n", WaveOutGetBackendError().c_str());
            return EFileResult::NoDevice;
        }
        if (!m_pOutput->Start(GetSafeHwnd())) {
            // Nothing to play: a file without samples.
            engine.Close();
            return EFileResult::Played;
        }
        const EFileResult eResult = RunUntilDrained(BaseName(strInput), engine.GetFormat()->nSamplesPerSec);
        m_pOutput->UnprepareAll();
        engine.Close();
        return eResult;
    }

    EFileResult Skip(const std::string& strInput, const std::string& strReason)
    {
        m_progress.Clear();
        ReportSkipped(strInput, strReason);
        return EFileResult::Skipped;
    }

    // Dispatches notifications until the ring has drained, minding the keys.
    EFileResult RunUntilDrained(const std::string& strName, uint32_t nRate)
    {
        // A device that has four buffers queued and returns none for this
        // long has stopped playing.
        const auto stallLimit = std::chrono::seconds(4) + std::chrono::milliseconds(2000ull * kFramesPerBuffer / nRate);
        EFileResult eResult = EFileResult::Played;
        m_bRunOver = false;
        m_lastNotice = Clock::now();
        while (!m_bRunOver) {
            if (eResult == EFileResult::Played && WasInterrupted()) {
                eResult = EFileResult::Interrupted;
                StopRun();
            }
            if (eResult == EFileResult::Played && !m_pOutput->m_bPaused && Clock::now() - m_lastNotice > stallLimit) {
                eResult = EFileResult::Stalled;
                m_progress.Clear();
                std::fputs("velofon: the sound device stopped playing\n", stderr);
                StopRun();
            }
            if (m_keys.Next() == ' ') {
                m_pOutput->TogglePause();
                m_lastNotice = Clock::now();
            }
            ShowProgress(strName);
            WaitMessage(kPollMs);
            while (PumpMessage()) {
            }
        }
        // The last buffer has just come back: the line shows the whole file.
        if (eResult == EFileResult::Played)
            ShowProgress(strName);
        return eResult;
    }

    // As the player's Stop: resume if paused, then have every buffer back at once.
    void StopRun()
    {
        if (m_pOutput->m_bPaused)
            m_pOutput->TogglePause();
        m_pOutput->RequestStop();
        m_pOutput->Reset();
    }

    // What is heard, not what was read: the engine reads ahead of the sound
    // by the four buffers in the device ring and the segments on its tracks,
    // seconds at low rates. The output frames that came back map to input
    // frames exactly, and standing still while paused comes with them.
    void ShowProgress(const std::string& strName)
    {
        const CSpeedEngine& engine = *m_pEngine;
        const WAVEFORMATEX& format = *engine.GetFormat();
        const uint64_t nTotal = engine.SoundFile().GetLengthFrames();
        const uint64_t nHeard = HeardFrames(m_pOutput->GetReturnedBytes() / kOutputFrameBytes, engine.GetSegmentLength(),
            engine.GetHop(), nTotal);
        std::string strTimes = FormatTime(nHeard / format.nSamplesPerSec) + " / " + FormatTime(nTotal / format.nSamplesPerSec);
        if (m_pOutput->m_bPaused)
            strTimes += "  [paused]";
        m_progress.Show(nTotal == 0 ? 0.0 : static_cast<double>(nHeard) / static_cast<double>(nTotal), strName, strTimes);
    }

    const SCommandLine& m_line;
    std::unique_ptr<CSpeedEngine> m_pEngine;
    std::unique_ptr<CWaveOutput> m_pOutput;
    CProgressBar m_progress;
    CTerminalKeys m_keys;
    bool m_bRunOver = false;
    Clock::time_point m_lastNotice;
};

} // namespace

int RunPlay(int argc, char** argv)
{
    SCommandLine line {kPlayUsageLine, kPlayHelp, kPlayExitHelp, nullptr, {}, {}};
    const int nParsed = line.Parse(argc, argv);
    if (nParsed >= 0)
        return nParsed;
    CatchInterrupts();
    return CTerminalPlayer(line).Run();
}
