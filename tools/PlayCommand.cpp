// velofon play: the player's road without its window. The files go one after
// the other through the engine, the wave output device and the message queue,
// as the player drives them: open and start per file, refill on every
// MM_WOM_DONE until the ring has drained. A jump within the file cuts off
// what is queued and starts the ring again from the engine reopened at the
// new frame, on the same device.
#include "Commands.h"
#include "Interrupt.h"
#include "PlayKeys.h"
#include "PlaybackOptions.h"
#include "ProgressBar.h"
#include "SkipReason.h"

#include "common/Program.h"
#include "engine/Chapters.h"
#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

const char kPlayUsageLine[] =
    "usage: velofon play [--speed-index K | --speed S] [--mixing P] [--alpha P] [--start TIME] [--clear]\n"
    "                    [--skip-silence] IN [IN ...]\n";

const char kPlayHelp[] =
    "\n"
    "Plays the sound files (WAV, MP3, M4A/M4B, Opus, Ogg, FLAC and whatever\n"
    "else FFmpeg reads) one after the other at the chosen speed through the\n"
    "default sound device. A file that cannot be played is skipped with a\n"
    "message. On a terminal: space pauses and resumes, Left and Right jump\n"
    "10 seconds back and on, Shift+Left and Shift+Right 60 seconds,\n"
    "Ctrl+Right to the next chapter, Ctrl+Left to the start of this one (the\n"
    "one before within its first 3 seconds), '<' and '>' go to the previous\n"
    "and next file; Ctrl+C stops. The line shows the time left at the speed\n"
    "and the chapter's title.\n"
    "\n"
    "options:\n";

const char kPlayExitHelp[] =
    "\n"
    "exit status: 0 every input played, 1 an input skipped, no sound device or\n"
    "one that stopped playing, 2 usage error, 128+N stopped by signal N (130\n"
    "for Ctrl+C).\n";

constexpr int kPollMs = 50;
constexpr uint32_t kFramesPerBuffer = WAVE_BUFFER_BYTES / CSpeedEngine::kOutputFrameBytes;

using Clock = std::chrono::steady_clock;

// A loop turn this much later than the one before means the process was
// stopped (Ctrl+Z) or starved; the device had no chance to return buffers.
constexpr auto kLateTurn = std::chrono::seconds(1);

// Left: a key took the run to another file, or the previous one.
enum class EFileResult { Played, Left, Skipped, NoDevice, Stalled, Interrupted };

class CTerminalPlayer : public CMessageTarget {
public:
    explicit CTerminalPlayer(const SCommandLine& line)
        : m_line(line)
        , m_pEngine(std::make_unique<CSpeedEngine>(2.0))
        , m_pOutput(std::make_unique<CWaveOutput>())
        , m_abUnplayable(line.astrInputs.size(), false)
    {
        line.options.ApplyTo(*m_pEngine);
    }

    // Returns the exit status.
    int Run()
    {
        int nStatus = kExitOk;
        for (bool bFirstPlay = true; m_nInput < m_line.astrInputs.size(); bFirstPlay = false) {
            // --start belongs to the first input as the command line begins, not
            // to a later return to it.
            const EFileResult eResult = PlayFile(bFirstPlay);
            if (eResult == EFileResult::Skipped) {
                nStatus = kExitSkipped;
                m_abUnplayable[m_nInput] = true;
            }
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
            m_nInput = m_nNextInput;
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
        const SWomDone done = DecodeWomDone(wParam, lParam);
        if (!m_pOutput->Refill(done.hWaveOut, done.pHeader))
            m_bRunOver = true;
    }

private:
    EFileResult PlayFile(bool bFirstPlay)
    {
        if (WasInterrupted())
            return EFileResult::Interrupted;
        const std::string& strInput = m_line.astrInputs[m_nInput];
        m_nNextInput = m_nInput + 1;
        CSpeedEngine& engine = *m_pEngine;
        if (!engine.Open(strInput, m_line.options.Speed()))
            return Skip(strInput, engine.GetOpenErrorText());
        if (!m_line.options.SeekToStart(engine, strInput, bFirstPlay)) {
            engine.Close();
            return EFileResult::Played;
        }
        m_nRunStartFrame = engine.SoundFile().GetPositionFrames();
        m_pOutput->SetEngine(&engine);
        if (!m_pOutput->Open(GetSafeHwnd(), engine.GetFormat())) {
            engine.Close();
            m_progress.Clear();
            std::fprintf(stderr, "velofon: no sound device can be opened: %s\n", WaveOutGetBackendError().c_str());
            return EFileResult::NoDevice;
        }
        m_bHeld = false;
        StartRing();
        // Nothing to play: a file without samples.
        if (m_bRunOver) {
            engine.Close();
            return EFileResult::Played;
        }
        const EFileResult eResult = RunUntilDrained(strInput, engine.GetFormat()->nSamplesPerSec);
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

    void StartRing()
    {
        m_bRunOver = !m_pOutput->Start(GetSafeHwnd());
        m_lastNotice = Clock::now();
    }

    // Dispatches notifications until the ring has drained, minding the keys.
    EFileResult RunUntilDrained(const std::string& strInput, uint32_t nRate)
    {
        // A device that has four buffers queued and returns none for this
        // long has stopped playing.
        const auto stallLimit = std::chrono::seconds(4) + std::chrono::milliseconds(2000ull * kFramesPerBuffer / nRate);
        const std::string strName = BaseName(strInput);
        m_eResult = EFileResult::Played;
        Clock::time_point lastTurn = Clock::now();
        while (!m_bRunOver) {
            const Clock::time_point now = Clock::now();
            if (now - lastTurn > kLateTurn)
                m_lastNotice += now - lastTurn;
            lastTurn = now;
            if (m_eResult == EFileResult::Played && WasInterrupted()) {
                m_eResult = EFileResult::Interrupted;
                StopRun();
            }
            // A device that the sound system stopped may go on taking sound,
            // into nothing; one that is dead returns nothing.
            const bool bSilent = !m_pOutput->IsPaused() && now - m_lastNotice > stallLimit;
            if (m_eResult == EFileResult::Played && (bSilent || m_pOutput->IsDeviceLost())) {
                m_eResult = EFileResult::Stalled;
                m_progress.Clear();
                std::fputs("velofon: the sound device stopped playing\n", stderr);
                StopRun();
            }
            for (EPlayKey eKey; m_eResult == EFileResult::Played && (eKey = m_keys.Next()) != EPlayKey::None;)
                OnKey(eKey, strInput);
            // Once a key or a signal has ended the run, the buffers coming
            // back unplayed are no sound heard.
            if (m_eResult == EFileResult::Played)
                ShowProgress(strName);
            WaitMessage(kPollMs);
            while (PumpMessage()) {
            }
        }
        // The last buffer has just come back: the line shows the whole file.
        if (m_eResult == EFileResult::Played)
            ShowProgress(strName);
        return m_eResult;
    }

    void OnKey(EPlayKey eKey, const std::string& strInput)
    {
        switch (eKey) {
        case EPlayKey::PauseResume:
            m_pOutput->TogglePause();
            m_lastNotice = Clock::now();
            if (m_bHeld) {
                m_bHeld = false;
                StartRing();
            }
            break;
        case EPlayKey::Back:
            JumpBy(strInput, false, kShortJumpSeconds);
            break;
        case EPlayKey::Forward:
            JumpBy(strInput, true, kShortJumpSeconds);
            break;
        case EPlayKey::BackFar:
            JumpBy(strInput, false, kLongJumpSeconds);
            break;
        case EPlayKey::ForwardFar:
            JumpBy(strInput, true, kLongJumpSeconds);
            break;
        case EPlayKey::PreviousChapter:
            JumpTo(strInput, PreviousChapterStart(Chapters(), HeardFrame(), m_pEngine->GetFormat()->nSamplesPerSec));
            break;
        case EPlayKey::NextChapter:
            JumpTo(strInput, NextChapterStart(Chapters(), HeardFrame()));
            break;
        case EPlayKey::PreviousInput:
            // Inputs that could not be played are passed over, or the way
            // back would lead forward again.
            for (size_t nInput = m_nInput; nInput-- > 0;) {
                if (!m_abUnplayable[nInput]) {
                    LeaveFor(nInput);
                    break;
                }
            }
            break;
        case EPlayKey::NextInput:
            if (m_nInput + 1 < m_line.astrInputs.size())
                LeaveFor(m_nInput + 1);
            break;
        case EPlayKey::None:
            break;
        }
    }

    void LeaveFor(size_t nInput)
    {
        m_nNextInput = nInput;
        m_eResult = EFileResult::Left;
        StopRun();
    }

    const std::vector<SChapter>& Chapters() const { return m_pEngine->SoundFile().GetChapters(); }

    // The heard position plus or minus nSeconds, kept within the file.
    void JumpBy(const std::string& strInput, bool bForward, uint64_t nSeconds)
    {
        const CSpeedEngine& engine = *m_pEngine;
        const uint64_t nStep = nSeconds * engine.GetFormat()->nSamplesPerSec;
        const uint64_t nHeard = HeardFrame();
        JumpTo(strInput, bForward ? std::min(nHeard + nStep, engine.SoundFile().GetLengthFrames())
                                  : nHeard - std::min(nStep, nHeard));
    }

    // The engine reopens at the target, as for a start there, on the same
    // device; none leaves the sound as it is. What is queued is cut off; a
    // pause holds the ring until it ends.
    void JumpTo(const std::string& strInput, std::optional<uint64_t> target)
    {
        if (!target)
            return;
        CSpeedEngine& engine = *m_pEngine;
        if (!m_bHeld) {
            // Every buffer comes back at once; a notification left queued
            // would count against the new ring.
            m_pOutput->RequestStop();
            m_pOutput->Reset();
            while (PumpMessage()) {
            }
            m_pOutput->UnprepareAll();
        }
        engine.Close();
        if (!engine.Open(strInput, m_line.options.Speed())) {
            m_eResult = Skip(strInput, engine.GetOpenErrorText());
            m_bRunOver = true;
            return;
        }
        engine.SeekFrame(*target);
        m_nRunStartFrame = engine.SoundFile().GetPositionFrames();
        m_bHeld = m_pOutput->IsPaused();
        if (m_bHeld)
            m_bRunOver = false;
        else
            StartRing();
    }

    // As the player's Stop: resume if paused, then have every buffer back at
    // once. A ring held by a pause has nothing queued.
    void StopRun()
    {
        if (m_bHeld) {
            m_bHeld = false;
            m_bRunOver = true;
            return;
        }
        if (m_pOutput->IsPaused())
            m_pOutput->TogglePause();
        m_pOutput->RequestStop();
        m_pOutput->Reset();
    }

    // What is heard, not what was read: the engine reads ahead of the sound
    // by the four buffers in the device ring and the segments on its tracks,
    // seconds at low rates. The output frames that came back map to input
    // frames exactly, from the frame the ring started at, and standing still
    // while paused comes with them.
    uint64_t HeardFrame() const
    {
        const CSpeedEngine& engine = *m_pEngine;
        const uint64_t nTotal = engine.SoundFile().GetLengthFrames();
        const uint64_t nStart = std::min(m_nRunStartFrame, nTotal);
        if (m_bHeld)
            return nStart;
        return std::min(engine.HeardFrame(m_pOutput->GetReturnedBytes() / CSpeedEngine::kOutputFrameBytes), nTotal);
    }

    void ShowProgress(const std::string& strName)
    {
        const CSpeedEngine& engine = *m_pEngine;
        const uint32_t nRate = engine.GetFormat()->nSamplesPerSec;
        const uint64_t nTotal = engine.SoundFile().GetLengthFrames();
        const uint64_t nHeard = HeardFrame();
        std::string strTimes = FormatTime(nHeard / nRate) + " / " + FormatTime(nTotal / nRate);
        if (m_pOutput->IsPaused())
            strTimes += "  [paused]";
        // What is left of the file takes this long at the speed: the step k
        // plays (k + 10) tenths of a second per second.
        const uint64_t nLeftFrames = nTotal - std::min(nHeard, nTotal);
        std::string strAside = "-" + FormatClock(nLeftFrames * 10 / (uint64_t { nRate } * (m_line.options.nSpeedIdx + 10)));
        const int nChapter = ChapterAt(Chapters(), nHeard);
        if (nChapter >= 0) {
            const std::string& strTitle = Chapters()[static_cast<size_t>(nChapter)].strTitle;
            strAside += "  " + (strTitle.empty() ? "chapter " + std::to_string(nChapter + 1) : strTitle);
        }
        m_progress.Show(nTotal == 0 ? 0.0 : static_cast<double>(nHeard) / static_cast<double>(nTotal), strName, strTimes,
            strAside);
    }

    const SCommandLine& m_line;
    std::unique_ptr<CSpeedEngine> m_pEngine;
    std::unique_ptr<CWaveOutput> m_pOutput;
    CProgressBar m_progress;
    CTerminalKeys m_keys;
    // Inputs that were skipped; '<' passes over them.
    std::vector<bool> m_abUnplayable;
    size_t m_nInput = 0;
    size_t m_nNextInput = 0;
    EFileResult m_eResult = EFileResult::Played;
    // The file frame the ring started from: the start, or the target of a jump.
    uint64_t m_nRunStartFrame = 0;
    // The engine stands at a jump's target, and the ring waits for the pause to end.
    bool m_bHeld = false;
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
    WaveOutInstall();
    return CTerminalPlayer(line).Run();
}
