#include "AudioBackend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

CWaveOutStream::CWaveOutStream(HWAVEOUT hWaveOut, HWND hWnd, uint32_t nSamplesPerSec)
    : m_hWaveOut(hWaveOut)
    , m_hWnd(hWnd)
    , m_nSamplesPerSec(nSamplesPerSec)
{
}

size_t CWaveOutStream::Pull(unsigned char* pOut, size_t nBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t nCopied = 0;
    // A buffer with nothing left is finished even when no byte is wanted.
    while (!m_bPaused && m_pPlaying && (nCopied < nBytes || m_nPlayedBytes == m_pPlaying->dwBufferLength)) {
        const size_t nLeft = m_pPlaying->dwBufferLength - m_nPlayedBytes;
        const size_t nTake = std::min(nLeft, nBytes - nCopied);
        if (nTake > 0)
            std::memcpy(pOut + nCopied, m_pPlaying->lpData + m_nPlayedBytes, nTake);
        nCopied += nTake;
        m_nPlayedBytes += nTake;
        if (m_nPlayedBytes == m_pPlaying->dwBufferLength) {
            PostWomDone(m_hWnd, {m_hWaveOut, m_pPlaying});
            m_pPlaying = m_pPlaying->lpNext;
            m_nPlayedBytes = 0;
        }
    }
    m_bLastPullHadSound = nCopied > 0;
    return nCopied;
}

bool CWaveOutStream::HasUnplayed()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pPlaying != nullptr;
}

size_t CWaveOutStream::BytesLeftInCurrentBuffer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pPlaying ? m_pPlaying->dwBufferLength - m_nPlayedBytes : 0;
}

void CWaveOutStream::Append(WAVEHDR* pHeader)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    pHeader->lpNext = nullptr;
    pHeader->dwFlags = (pHeader->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    if (m_pLast)
        m_pLast->lpNext = pHeader;
    else
        m_pFirst = pHeader;
    m_pLast = pHeader;
    if (!m_pPlaying) {
        m_pPlaying = pHeader;
        m_nPlayedBytes = 0;
    }
}

void CWaveOutStream::SetPaused(bool bPaused)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bPaused = bPaused;
}

void CWaveOutStream::MarkDone(WAVEHDR* pHeader)
{
    m_pFirst = pHeader->lpNext;
    if (!m_pFirst)
        m_pLast = nullptr;
    pHeader->lpNext = nullptr;
    pHeader->dwFlags = (pHeader->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
}

void CWaveOutStream::CollectPlayed(const WAVEHDR* pUpTo)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (pUpTo) {
        bool bPlayed = false;
        for (const WAVEHDR* p = m_pFirst; p != m_pPlaying && !bPlayed; p = p->lpNext)
            bPlayed = p == pUpTo;
        if (!bPlayed)
            return;
    }
    while (m_pFirst != m_pPlaying) {
        WAVEHDR* const pDone = m_pFirst;
        MarkDone(pDone);
        if (pDone == pUpTo)
            break;
    }
}

void CWaveOutStream::ReturnAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    bool bPlayed = true;
    while (m_pFirst) {
        WAVEHDR* const pDone = m_pFirst;
        if (pDone == m_pPlaying)
            bPlayed = false;
        MarkDone(pDone);
        if (!bPlayed)
            PostWomDone(m_hWnd, {m_hWaveOut, pDone});
    }
    m_pPlaying = nullptr;
    m_nPlayedBytes = 0;
}

bool CWaveOutStream::IsQueued(const WAVEHDR* pHeader)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const WAVEHDR* p = m_pFirst; p; p = p->lpNext) {
        if (p == pHeader)
            return true;
    }
    return false;
}

bool CWaveOutStream::HasQueued()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pFirst != nullptr;
}

bool CWaveOutStream::IsPaused()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bPaused;
}

namespace {

struct SOpenOutput {
    std::unique_ptr<CWaveOutStream> pStream;
    CAudioBackend* pBackend; // the one it was opened with
};

struct SOutputs {
    CAudioBackend* pBackend = nullptr;
    IWaveOutObserver* pObserver = nullptr;
    std::map<HWAVEOUT, SOpenOutput> streams;
    uintptr_t nLastHandle = 0;
    std::string strLastError;
    bool bInstalled = false;
};

// Never destroyed: the exit handler below still needs it after the static
// objects of this file would be gone.
SOutputs& Outputs()
{
    static SOutputs* const pOutputs = new SOutputs;
    return *pOutputs;
}

CAudioBackend& Backend()
{
    SOutputs& outputs = Outputs();
    return outputs.pBackend ? *outputs.pBackend : GetSdlAudioBackend();
}

// Closes what is still open when the program ends.
void CloseAllAtExit()
{
    SOutputs& outputs = Outputs();
    for (auto& entry : outputs.streams)
        entry.second.pBackend->Close(*entry.second.pStream);
    outputs.streams.clear();
    GetSdlAudioBackend().Shutdown();
}

void CollectBeforeDispatch(const MSG& msg)
{
    const SWomDone done = DecodeWomDone(msg.wParam, msg.lParam);
    const auto found = Outputs().streams.find(done.hWaveOut);
    if (found != Outputs().streams.end())
        found->second.pStream->CollectPlayed(done.pHeader);
}

// The open output of a handle with its played buffers marked done, or null.
SOpenOutput* Output(HWAVEOUT hwo)
{
    const auto found = Outputs().streams.find(hwo);
    if (found == Outputs().streams.end())
        return nullptr;
    found->second.pStream->CollectPlayed();
    return &found->second;
}

CWaveOutStream* Stream(HWAVEOUT hwo)
{
    SOpenOutput* pOutput = Output(hwo);
    return pOutput ? pOutput->pStream.get() : nullptr;
}

bool IsValidHeader(const WAVEHDR* pwh, UINT cbwh)
{
    return pwh && cbwh >= sizeof(WAVEHDR);
}

} // namespace

void WaveOutInstall()
{
    SOutputs& outputs = Outputs();
    if (outputs.bInstalled)
        return;
    std::atexit(CloseAllAtExit);
    SetBeforeDispatchHook(MM_WOM_DONE, CollectBeforeDispatch);
    outputs.bInstalled = true;
}

void SetWaveOutObserver(IWaveOutObserver* pObserver)
{
    Outputs().pObserver = pObserver;
}

void SetAudioBackend(CAudioBackend* pBackend)
{
    Outputs().pBackend = pBackend;
}

void CloseOutputsOf(CAudioBackend* pBackend)
{
    auto& streams = Outputs().streams;
    for (auto entry = streams.begin(); entry != streams.end();) {
        if (entry->second.pBackend == pBackend) {
            pBackend->Close(*entry->second.pStream);
            entry = streams.erase(entry);
        } else {
            ++entry;
        }
    }
}

MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR /*dwInstance*/, DWORD fdwOpen)
{
    if (!phwo || !pwfx)
        return MMSYSERR_INVALPARAM;
    *phwo = nullptr;
    if (uDeviceID != WAVE_MAPPER && uDeviceID != 0)
        return MMSYSERR_BADDEVICEID;
    if (fdwOpen != CALLBACK_WINDOW)
        return MMSYSERR_INVALFLAG;
    if (pwfx->wFormatTag != WAVE_FORMAT_PCM || pwfx->nChannels != 2 || pwfx->wBitsPerSample != 16 ||
        pwfx->nBlockAlign != 4 || pwfx->nSamplesPerSec == 0)
        return WAVERR_BADFORMAT;

    SOutputs& outputs = Outputs();
    if (!outputs.bInstalled)
        return MMSYSERR_ERROR;
    const HWAVEOUT hwo = reinterpret_cast<HWAVEOUT>(++outputs.nLastHandle);
    auto pStream = std::make_unique<CWaveOutStream>(hwo, reinterpret_cast<HWND>(dwCallback), pwfx->nSamplesPerSec);
    if (!Backend().Open(*pStream)) {
        outputs.strLastError = Backend().GetError();
        return MMSYSERR_NODRIVER;
    }
    outputs.streams[hwo] = SOpenOutput{std::move(pStream), &Backend()};
    *phwo = hwo;
    return MMSYSERR_NOERROR;
}

namespace {

// Preparing and unpreparing only mark the header: the buffer is read in
// place while it is queued, so neither may touch a queued header.
MMRESULT SetPrepared(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh, bool bPrepared)
{
    CWaveOutStream* pStream = Stream(hwo);
    if (!pStream)
        return MMSYSERR_INVALHANDLE;
    if (!IsValidHeader(pwh, cbwh))
        return MMSYSERR_INVALPARAM;
    if (pStream->IsQueued(pwh))
        return WAVERR_STILLPLAYING;
    pwh->dwFlags = bPrepared ? (pwh->dwFlags | WHDR_PREPARED) : (pwh->dwFlags & ~WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

} // namespace

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
{
    return SetPrepared(hwo, pwh, cbwh, true);
}

namespace {

MMRESULT Write(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
{
    SOpenOutput* pOutput = Output(hwo);
    if (!pOutput)
        return MMSYSERR_INVALHANDLE;
    CWaveOutStream* const pStream = pOutput->pStream.get();
    if (!IsValidHeader(pwh, cbwh) || (!pwh->lpData && pwh->dwBufferLength > 0))
        return MMSYSERR_INVALPARAM;
    if (!(pwh->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (pStream->IsQueued(pwh))
        return WAVERR_STILLPLAYING;
    pStream->Append(pwh);
    pOutput->pBackend->Queued(*pStream);
    return MMSYSERR_NOERROR;
}

MMRESULT Reset(HWAVEOUT hwo)
{
    CWaveOutStream* pStream = Stream(hwo);
    if (!pStream)
        return MMSYSERR_INVALHANDLE;
    pStream->ReturnAll();
    return MMSYSERR_NOERROR;
}

} // namespace

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
{
    IWaveOutObserver* pObserver = Outputs().pObserver;
    if (pObserver)
        pObserver->BeforeWrite(hwo, pwh);
    const MMRESULT nResult = Write(hwo, pwh, cbwh);
    if (pObserver)
        pObserver->AfterWrite(hwo, pwh, nResult);
    return nResult;
}

namespace {

MMRESULT SetPaused(HWAVEOUT hwo, bool bPaused)
{
    SOpenOutput* pOutput = Output(hwo);
    if (!pOutput)
        return MMSYSERR_INVALHANDLE;
    pOutput->pStream->SetPaused(bPaused);
    pOutput->pBackend->SetPaused(*pOutput->pStream, bPaused);
    return MMSYSERR_NOERROR;
}

} // namespace

MMRESULT waveOutPause(HWAVEOUT hwo)
{
    return SetPaused(hwo, true);
}

MMRESULT waveOutRestart(HWAVEOUT hwo)
{
    return SetPaused(hwo, false);
}

MMRESULT waveOutReset(HWAVEOUT hwo)
{
    IWaveOutObserver* pObserver = Outputs().pObserver;
    if (pObserver)
        pObserver->BeforeReset(hwo);
    const MMRESULT nResult = Reset(hwo);
    if (pObserver)
        pObserver->AfterReset(hwo, nResult);
    return nResult;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
{
    return SetPrepared(hwo, pwh, cbwh, false);
}

MMRESULT waveOutClose(HWAVEOUT hwo)
{
    SOpenOutput* pOutput = Output(hwo);
    if (!pOutput)
        return MMSYSERR_INVALHANDLE;
    if (pOutput->pStream->HasQueued())
        return WAVERR_STILLPLAYING;
    pOutput->pBackend->Close(*pOutput->pStream);
    Outputs().streams.erase(hwo);
    return MMSYSERR_NOERROR;
}

void WaveOutPrepare()
{
    Backend().Prepare();
}

std::string WaveOutGetBackendError()
{
    return Outputs().strLastError;
}

bool WaveOutIsDeviceLost(HWAVEOUT hwo)
{
    const auto found = Outputs().streams.find(hwo);
    return found != Outputs().streams.end() && !found->second.pBackend->IsDeviceAlive(*found->second.pStream);
}
