// A sound system for tests: nothing plays until the test says so, so that
// every order of buffer completions, pauses and resets can be scripted
// without a sound device or a clock. Everything runs on the calling thread.
#pragma once

#include "platform/audio/AudioBackend.h"

#include <vector>

class CScriptedAudioBackend : public CAudioBackend {
public:
    // Puts itself behind the wave-out calls for its lifetime.
    CScriptedAudioBackend();
    ~CScriptedAudioBackend() override;

    bool Open(CWaveOutStream& stream) override;
    void SetPaused(CWaveOutStream& stream, bool bPaused) override;
    bool IsDeviceAlive(CWaveOutStream& stream) override;
    void Close(CWaveOutStream& stream) override;
    std::string GetError() const override;

    // The next opens fail as a machine without a sound device does.
    void SetOpenFails(bool bFails) { m_bOpenFails = bFails; }
    // The open output's device stops as an unplugged one does: it goes on
    // taking sound, into nothing. The next open gets a working one.
    void LoseDevice() { m_bDeviceLost = true; }

    // Plays the rest of the buffer at the head of the open output's queue, so
    // that its MM_WOM_DONE is posted. False when nothing is queued, the output
    // is paused or none is open.
    bool CompleteNext();
    // Plays up to nBytes of the queue; returns how many were played.
    size_t Play(size_t nBytes);

    bool IsOpen() const { return m_pStream != nullptr; }
    bool IsPaused() const { return m_bPaused; }
    int GetOpenCount() const { return m_nOpenCount; }
    uint32_t GetLastSampleRate() const { return m_nLastSampleRate; }
    // Every byte played since construction (or ForgetPlayed), in order, across opens.
    const std::vector<unsigned char>& GetPlayed() const { return m_abPlayed; }
    // Lets a test that plays for hours drop what it has looked at already.
    void ForgetPlayed() { std::vector<unsigned char>().swap(m_abPlayed); }

private:
    CWaveOutStream* m_pStream = nullptr;
    bool m_bOpenFails = false;
    bool m_bDeviceLost = false;
    bool m_bPaused = false;
    int m_nOpenCount = 0;
    uint32_t m_nLastSampleRate = 0;
    std::vector<unsigned char> m_abPlayed;
};
