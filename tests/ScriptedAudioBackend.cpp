#include "ScriptedAudioBackend.h"

CScriptedAudioBackend::CScriptedAudioBackend()
{
    // A test's sound system stands for the program's start.
    WaveOutInstall();
    SetAudioBackend(this);
}

CScriptedAudioBackend::~CScriptedAudioBackend()
{
    CloseOutputsOf(this);
    SetAudioBackend(nullptr);
}

bool CScriptedAudioBackend::Open(CWaveOutStream& stream)
{
    if (m_bOpenFails)
        return false;
    m_pStream = &stream;
    m_bPaused = false;
    m_bDeviceLost = false;
    ++m_nOpenCount;
    m_nLastSampleRate = stream.GetSampleRate();
    return true;
}

void CScriptedAudioBackend::SetPaused(CWaveOutStream& stream, bool bPaused)
{
    if (&stream == m_pStream)
        m_bPaused = bPaused;
}

bool CScriptedAudioBackend::IsDeviceAlive(CWaveOutStream& stream)
{
    return &stream != m_pStream || !m_bDeviceLost;
}

void CScriptedAudioBackend::Close(CWaveOutStream& stream)
{
    if (&stream == m_pStream)
        m_pStream = nullptr;
}

std::string CScriptedAudioBackend::GetError() const
{
    return "no sound device (scripted)";
}

bool CScriptedAudioBackend::CompleteNext()
{
    if (!m_pStream || m_bPaused || !m_pStream->HasUnplayed())
        return false;
    Play(m_pStream->BytesLeftInCurrentBuffer());
    return true;
}

size_t CScriptedAudioBackend::Play(size_t nBytes)
{
    if (!m_pStream || m_bPaused)
        return 0;
    const size_t nOld = m_abPlayed.size();
    m_abPlayed.resize(nOld + nBytes);
    const size_t nPlayed = m_pStream->Pull(m_abPlayed.data() + nOld, nBytes);
    m_abPlayed.resize(nOld + nPlayed);
    return nPlayed;
}
