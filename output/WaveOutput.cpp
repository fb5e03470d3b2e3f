#include "WaveOutput.h"

#include "engine/SpeedEngine.h"
#include "platform/audio/Heap.h"
#include "platform/events/Trace.h"

namespace {

constexpr UINT kHeaderBytes = sizeof(WAVEHDR);

} // namespace

CWaveOutput::CWaveOutput()
    : m_bPaused(false)
    , m_nState(WOS_RUNNING)
    , m_bClosed(1)
{
    for (WAVEHDR*& pHeader : m_pHeader)
        pHeader = nullptr;
    // A failure leaves no buffers, and Start then refuses to run.
    AllocateBuffers();
}

CWaveOutput::~CWaveOutput()
{
    FreeBuffers();
}

int CWaveOutput::AllocateBuffers()
{
    for (WAVEHDR*& pHeader : m_pHeader) {
        pHeader = static_cast<WAVEHDR*>(HeapAllocZeroed(sizeof(WAVEHDR)));
        if (!pHeader) {
            FreeBuffers();
            return -1;
        }
        pHeader->lpData = static_cast<char*>(HeapAllocZeroed(WAVE_BUFFER_BYTES));
        pHeader->dwBufferLength = WAVE_BUFFER_BYTES;
        if (!pHeader->lpData) {
            FreeBuffers();
            return -1;
        }
    }
    return 0;
}

void CWaveOutput::FreeBuffers()
{
    for (WAVEHDR*& pHeader : m_pHeader) {
        if (!pHeader)
            continue;
        HeapFreeBlock(pHeader->lpData);
        HeapFreeBlock(pHeader);
        pHeader = nullptr;
    }
}

bool CWaveOutput::Open(HWND hWnd, const WAVEFORMATEX* pFormat)
{
    if (!Close())
        return false;

    WAVEFORMATEX format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = pFormat->nSamplesPerSec;
    format.nAvgBytesPerSec = format.nSamplesPerSec * CSpeedEngine::kOutputFrameBytes;
    format.nBlockAlign = CSpeedEngine::kOutputFrameBytes;
    format.wBitsPerSample = 16;
    format.cbSize = 18;

    if (waveOutOpen(&m_hWaveOut, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(hWnd), 0, CALLBACK_WINDOW) !=
            MMSYSERR_NOERROR ||
        !m_hWaveOut)
        return false;
    m_bClosed = 0;
    // A new output plays at once; a pause of the previous run must not show.
    m_bPaused = false;
    m_nOutstanding = 0;
    return true;
}

bool CWaveOutput::Close()
{
    if (m_bClosed)
        return true;
    if (waveOutClose(m_hWaveOut) != MMSYSERR_NOERROR)
        return false;
    m_bClosed = 1;
    return true;
}

bool CWaveOutput::IsDeviceLost() const
{
    return !m_bClosed && WaveOutIsDeviceLost(m_hWaveOut);
}

bool CWaveOutput::Start(HWND /*hWnd*/)
{
    m_nState = WOS_RUNNING;
    m_nOutstanding = 0;
    m_nReturnedBytes = 0;
    if (!HasBuffers()) {
        m_nState = WOS_FAILED;
        return false;
    }
    waveOutPause(m_hWaveOut);
    MMRESULT nLastWrite = MMSYSERR_NOERROR;
    for (int nSlot = 0; nSlot < WAVE_BUFFER_COUNT; ++nSlot) {
        WAVEHDR* const pHeader = m_pHeader[nSlot];
        FillBuffer(pHeader);
        if (m_nState == WOS_END_OF_DATA) {
            if (nSlot == 0)
                return FailStart();
            break;
        }
        if (waveOutPrepareHeader(m_hWaveOut, pHeader, kHeaderBytes) != MMSYSERR_NOERROR)
            return FailStart();
        nLastWrite = waveOutWrite(m_hWaveOut, pHeader, kHeaderBytes);
        if (nLastWrite == MMSYSERR_NOERROR)
            m_nOutstanding |= 1u << nSlot;
    }
    waveOutRestart(m_hWaveOut);
    if (nLastWrite != MMSYSERR_NOERROR)
        return FailStart();
    return true;
}

bool CWaveOutput::FailStart()
{
    waveOutReset(m_hWaveOut);
    UnprepareAll();
    m_nState = WOS_FAILED;
    return false;
}

uint32_t CWaveOutput::FillBuffer(WAVEHDR* pHeader)
{
    const uint32_t nBytes = m_pEngine ? m_pEngine->Fill(pHeader->lpData, WAVE_BUFFER_BYTES) : 0;
    pHeader->dwBufferLength = nBytes;
    if (nBytes == 0)
        m_nState = WOS_END_OF_DATA;
    return nBytes;
}

bool CWaveOutput::Refill(HWAVEOUT hWaveOut, WAVEHDR* pHeader)
{
    // A buffer of this run comes back once per write, and no longer queued.
    const int nSlot = SlotOf(pHeader);
    if (m_bClosed || hWaveOut != m_hWaveOut || nSlot < 0 || !(m_nOutstanding & (1u << nSlot)) ||
        (pHeader->dwFlags & WHDR_INQUEUE))
        return true;
    m_nOutstanding &= ~(1u << nSlot);
    m_nReturnedBytes += pHeader->dwBufferLength;

    if (m_nState != WOS_RUNNING) {
        for (const WAVEHDR* pSlot : m_pHeader) {
            if (pSlot->dwFlags & WHDR_INQUEUE)
                return true;
        }
        UnprepareAll();
        return false;
    }
    FillBuffer(pHeader);
    if (m_nState != WOS_RUNNING)
        return true;
    if (waveOutPrepareHeader(m_hWaveOut, pHeader, kHeaderBytes) == MMSYSERR_NOERROR &&
        waveOutWrite(m_hWaveOut, pHeader, kHeaderBytes) == MMSYSERR_NOERROR) {
        m_nOutstanding |= 1u << nSlot;
        return true;
    }
    UnprepareAll();
    m_nState = WOS_FAILED;
    return false;
}

void CWaveOutput::TogglePause()
{
    MMRESULT nResult;
    if (m_bPaused) {
        TRACE_POINT("pause --> play");
        m_bPaused = false;
        nResult = waveOutRestart(m_hWaveOut);
    } else {
        TRACE_POINT("play --> pause");
        m_bPaused = true;
        nResult = waveOutPause(m_hWaveOut);
    }
    if (nResult != MMSYSERR_NOERROR)
        TRACE_POINT("Pause error");
}

MMRESULT CWaveOutput::Reset()
{
    return waveOutReset(m_hWaveOut);
}

void CWaveOutput::UnprepareAll()
{
    for (WAVEHDR* pHeader : m_pHeader) {
        if (pHeader)
            waveOutUnprepareHeader(m_hWaveOut, pHeader, kHeaderBytes);
    }
}

void CWaveOutput::RequestStop()
{
    m_nState = WOS_STOP_REQUESTED;
}

int CWaveOutput::SlotOf(const WAVEHDR* pHeader) const
{
    for (int nSlot = 0; nSlot < WAVE_BUFFER_COUNT; ++nSlot) {
        if (pHeader && m_pHeader[nSlot] == pHeader)
            return nSlot;
    }
    return -1;
}

bool CWaveOutput::HasBuffers() const
{
    for (const WAVEHDR* pHeader : m_pHeader) {
        if (!pHeader)
            return false;
    }
    return true;
}
