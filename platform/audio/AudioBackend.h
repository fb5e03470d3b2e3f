// What stands behind the wave-out calls: the queue of one open output
// (CWaveOutStream) and the sound system that pulls bytes from it
// (CAudioBackend). The desktop backend is SDL's audio subsystem; tests put in
// a backend that plays only when told to.
//
// Threads: the backend's Pull may run on its own thread. Pull only copies
// bytes and posts MM_WOM_DONE; every other member runs on the user-interface
// thread, which owns the headers' flags.
#pragma once

#include "WaveOut.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

class CWaveOutStream {
public:
    CWaveOutStream(HWAVEOUT hWaveOut, HWND hWnd, uint32_t nSamplesPerSec);
    CWaveOutStream(const CWaveOutStream&) = delete;
    CWaveOutStream& operator=(const CWaveOutStream&) = delete;

    HWAVEOUT GetHandle() const { return m_hWaveOut; }
    uint32_t GetSampleRate() const { return m_nSamplesPerSec; }

    // Any thread. Copies up to nBytes of queued sound to pOut and returns the
    // count copied; the caller fills the rest with silence. Nothing while
    // paused. Posts MM_WOM_DONE for every buffer whose last byte went out.
    size_t Pull(unsigned char* pOut, size_t nBytes);
    // True while a written buffer has bytes (or its end) still to hand over.
    bool HasUnplayed();
    // Bytes still to be handed over of the buffer being played, 0 when none is queued.
    size_t BytesLeftInCurrentBuffer();
    // True when the last Pull handed over sound rather than nothing.
    bool LastPullHadSound() const { return m_bLastPullHadSound; }

    // User-interface thread only.
    void Append(WAVEHDR* pHeader);
    void SetPaused(bool bPaused);
    // Marks played buffers done: all of them, or those up to pUpTo when it is
    // one of them (nothing when it is not).
    void CollectPlayed(const WAVEHDR* pUpTo = nullptr);
    // Takes every buffer off the queue, marks it done and posts the
    // notifications of those that had not been played.
    void ReturnAll();
    bool IsQueued(const WAVEHDR* pHeader);
    bool HasQueued();
    bool IsPaused();

private:
    void MarkDone(WAVEHDR* pHeader);

    const HWAVEOUT m_hWaveOut;
    const HWND m_hWnd;
    const uint32_t m_nSamplesPerSec;
    std::mutex m_mutex;
    // Written buffers in order, linked through lpNext. Those before m_pPlaying
    // have been played and wait to be marked done.
    WAVEHDR* m_pFirst = nullptr;
    WAVEHDR* m_pLast = nullptr;
    WAVEHDR* m_pPlaying = nullptr;
    size_t m_nPlayedBytes = 0; // of m_pPlaying
    bool m_bPaused = false;
    std::atomic<bool> m_bLastPullHadSound{false};
};

class CAudioBackend {
public:
    virtual ~CAudioBackend() = default;
    // Starts what the first Open would otherwise wait for; its failure is
    // left to Open to tell.
    virtual void Prepare() {}
    // Starts pulling from the stream at its sample rate, 16-bit stereo.
    // False when no sound device can be opened; GetError says why.
    virtual bool Open(CWaveOutStream& stream) = 0;
    virtual void SetPaused(CWaveOutStream& stream, bool bPaused) = 0;
    // A buffer was appended to the stream.
    virtual void Queued(CWaveOutStream& /*stream*/) {}
    // False once the sound system has stopped the stream's device on its
    // own: unplugged, its server gone, a write that failed. Pull may go on
    // being called all the same, into nothing.
    virtual bool IsDeviceAlive(CWaveOutStream& stream) = 0;
    // Stops pulling; once it returns, nothing touches the stream any more.
    virtual void Close(CWaveOutStream& stream) = 0;
    virtual std::string GetError() const = 0;
    // Called once at process exit, after every stream is closed.
    virtual void Shutdown() {}
};

// The backend for outputs opened from now on; null puts back the desktop's.
// User-interface thread only.
void SetAudioBackend(CAudioBackend* pBackend);
// Closes every output still open on pBackend, for a backend that goes away
// first; their handles are then invalid.
void CloseOutputsOf(CAudioBackend* pBackend);

CAudioBackend& GetSdlAudioBackend();
