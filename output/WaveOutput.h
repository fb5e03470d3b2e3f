// CWaveOutput: the one object through which processed audio reaches the
// sound system. It keeps four 30000-byte buffers in flight, refills each one
// that comes back (MM_WOM_DONE) from the engine, pauses, resumes and resets
// the output, and tells its caller when the ring has drained.
//
// User-interface thread only. Refill never dispatches messages, so its steps
// are never interleaved with another call's, even when the caller's handler
// runs nested.
#pragma once

#include "platform/audio/WaveOut.h"

class CSpeedEngine;

constexpr int WAVE_BUFFER_COUNT = 4;
constexpr uint32_t WAVE_BUFFER_BYTES = 30000;

// Refill states.
constexpr int WOS_RUNNING = 0;        // every returned buffer is refilled and written again
constexpr int WOS_FAILED = 1;         // a prepare or write failed; nothing more is written
constexpr int WOS_END_OF_DATA = 2;    // the engine delivered nothing; the ring drains
constexpr int WOS_STOP_REQUESTED = 3; // the caller asked the ring to drain

class CWaveOutput {
public:
    CWaveOutput();
    CWaveOutput(const CWaveOutput&) = delete;
    CWaveOutput& operator=(const CWaveOutput&) = delete;
    // Frees the buffers; an output that is still open stays open.
    virtual ~CWaveOutput();

    // 0 when all four buffers are allocated; -1 after freeing what was.
    int AllocateBuffers();
    void FreeBuffers();

    // Opens the output for 16-bit stereo at the rate of pFormat (the engine's
    // record of the open file), closing the previous output first. False when
    // that close fails (the old output stays recorded) or no output opens.
    bool Open(HWND hWnd, const WAVEFORMATEX* pFormat);
    // Primes the four buffers with the output paused, then lets it play.
    // False (and WOS_FAILED) when the engine has nothing for the first buffer,
    // a prepare or the last write fails, or the object holds no buffers.
    bool Start(HWND hWnd);
    // Fills the header's block from the engine; returns the byte count.
    uint32_t FillBuffer(WAVEHDR* pHeader);
    // For each MM_WOM_DONE: true while the run goes on, false once the ring
    // has drained or failed. A notification of an earlier output or run is
    // stale: nothing is refilled or written for it, and it returns true.
    bool Refill(HWAVEOUT hWaveOut, WAVEHDR* pHeader);
    void TogglePause();
    // Returns every queued buffer at once, each with its notification.
    MMRESULT Reset();
    void UnprepareAll();
    void RequestStop();
    // Closes the output for a caller that ends before the program does; fails
    // like Open's close step while buffers are queued. True when none is open.
    bool Close();

    int GetState() const { return m_nState; }
    // True when the sound system stopped the open output's device on its
    // own; what is written to it from then on goes nowhere.
    bool IsDeviceLost() const;
    // Bytes of the current run's buffers that have come back, played (or
    // handed back unplayed by Reset): where the sound is, behind what the
    // engine has read.
    uint64_t GetReturnedBytes() const { return m_nReturnedBytes; }
    const WAVEHDR* GetHeader(int nSlot) const { return m_pHeader[nSlot]; }

    // Whether TogglePause left the output paused.
    bool IsPaused() const { return m_bPaused; }
    // The engine the buffers are filled from; set before Start.
    void SetEngine(CSpeedEngine* pEngine) { m_pEngine = pEngine; }

private:
    int SlotOf(const WAVEHDR* pHeader) const;
    bool HasBuffers() const;
    bool FailStart();

    HWAVEOUT m_hWaveOut = nullptr;
    WAVEHDR* m_pHeader[WAVE_BUFFER_COUNT];
    bool m_bPaused;
    CSpeedEngine* m_pEngine = nullptr;
    int m_nState;
    int m_bClosed;
    // Slots written in the current run whose notification has not come yet;
    // any other notification is stale.
    unsigned m_nOutstanding = 0;
    uint64_t m_nReturnedBytes = 0;
};
