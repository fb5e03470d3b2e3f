// The wave-out calls of the handheld platform, over a desktop sound system.
//
// Contract:
// - Every waveOut... call runs on the user-interface thread.
// - Written buffers are handed to the sound system in the order written, on
//   the sound system's own thread. That thread only copies bytes and posts:
//   when the last byte of a buffer has been handed over it posts MM_WOM_DONE
//   to the window given at open, with the device handle as wParam and the
//   header's address as lParam.
// - The header's flags are the user-interface thread's: a finished buffer
//   is marked done (WHDR_INQUEUE cleared, WHDR_DONE set) right before its
//   MM_WOM_DONE is dispatched, or at once when a call (reset, close, prepare,
//   write, unprepare) on its device comes first. So the flags never change
//   under code that reads them, and a handler that sees a header still
//   queued can count on that header's own notification still to come.
// - waveOutReset returns every queued buffer at once, each with its notification.
//   waveOutClose fails with WAVERR_STILLPLAYING while a buffer is queued.
// - A handle is never reused, so a notification of a closed device is
//   recognisable by its handle.
// - The sound system plays 16-bit stereo at the rate asked for; it converts
//   when the hardware needs another rate.
#pragma once

#include "platform/events/MessageQueue.h"
#include "WaveFormat.h"

#include <cstdint>
#include <string>

using DWORD = uint32_t;
using DWORD_PTR = uintptr_t;
using MMRESULT = UINT;

struct HWAVEOUT__;
using HWAVEOUT = HWAVEOUT__*;

struct WAVEHDR {
    char* lpData = nullptr;
    DWORD dwBufferLength = 0;
    DWORD dwBytesRecorded = 0;
    DWORD_PTR dwUser = 0;
    DWORD dwFlags = 0;
    DWORD dwLoops = 0;
    WAVEHDR* lpNext = nullptr; // the device's own link while the buffer is queued
    DWORD_PTR reserved = 0;
};

constexpr UINT MM_WOM_DONE = 0x3BD;

// What an MM_WOM_DONE carries: the output, and the buffer it has played
// (WPARAM and LPARAM). The one place that packs and unpacks them.
struct SWomDone {
    HWAVEOUT hWaveOut;
    WAVEHDR* pHeader;
};
inline SWomDone DecodeWomDone(WPARAM wParam, LPARAM lParam)
{
    return {reinterpret_cast<HWAVEOUT>(wParam), reinterpret_cast<WAVEHDR*>(lParam)};
}
inline void PostWomDone(HWND hWnd, const SWomDone& done)
{
    PostMessage(hWnd, MM_WOM_DONE, reinterpret_cast<WPARAM>(done.hWaveOut), reinterpret_cast<LPARAM>(done.pHeader));
}

constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);
constexpr DWORD CALLBACK_WINDOW = 0x10000;

constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_INQUEUE = 0x10;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

// Registers what the calls below need of the program: the hook by which a
// buffer's MM_WOM_DONE marks it done before the notification is dispatched,
// and the close of every open output at exit, so that no sound thread reads
// a buffer while its owner goes. Once, at start; a second call does nothing.
void WaveOutInstall();

// Opens the default output (uDeviceID WAVE_MAPPER or 0) for 16-bit stereo PCM
// at pwfx's rate, with window notification (fdwOpen CALLBACK_WINDOW, dwCallback
// the window's handle). MMSYSERR_NODRIVER when no sound device can be opened;
// WaveOutGetBackendError then says why; MMSYSERR_ERROR before WaveOutInstall.
// The output starts running.
MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
// Queues a prepared header that is not queued already; its dwBufferLength
// bytes are played.
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
MMRESULT waveOutReset(HWAVEOUT hwo);
// Fails with WAVERR_STILLPLAYING while the header is queued.
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutClose(HWAVEOUT hwo);

// What a test follows of the output: every write and reset, before the call
// acts and with its result after. Called on the thread that makes the call.
class IWaveOutObserver {
public:
    virtual ~IWaveOutObserver() = default;
    virtual void BeforeWrite(HWAVEOUT hwo, const WAVEHDR* pwh) = 0;
    virtual void AfterWrite(HWAVEOUT hwo, const WAVEHDR* pwh, MMRESULT nResult) = 0;
    virtual void BeforeReset(HWAVEOUT hwo) = 0;
    virtual void AfterReset(HWAVEOUT hwo, MMRESULT nResult) = 0;
};
// One observer at a time; null for none.
void SetWaveOutObserver(IWaveOutObserver* pObserver);

// Gets the sound system ready without opening a device, so that the first
// waveOutOpen does not wait for it (loading SDL, its start, its session-bus
// connection). Any thread: beside the user-interface thread, an open made
// meanwhile waits for it. A failure here is told by that open.
void WaveOutPrepare();
// The sound system's own words for the last failed open.
std::string WaveOutGetBackendError();
// True when the sound system has stopped the open output's device on its
// own (unplugged, its server gone, a write that failed). Its buffers may go
// on coming back, played into nothing. False for a handle that is not open.
bool WaveOutIsDeviceLost(HWAVEOUT hwo);
