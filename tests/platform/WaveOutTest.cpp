// The wave-out calls over the scripted sound system: header flags, results,
// notifications and the bytes that reach the sound system.
#include "ScriptedAudioBackend.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct CDoneRecorder : CMessageTarget {
    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        ASSERT_EQ(message, MM_WOM_DONE);
        const auto* pHeader = reinterpret_cast<WAVEHDR*>(lParam);
        // By the time its notification is handled, the buffer is marked done.
        EXPECT_TRUE(pHeader->dwFlags & WHDR_DONE);
        EXPECT_FALSE(pHeader->dwFlags & WHDR_INQUEUE);
        aDone.emplace_back(reinterpret_cast<HWAVEOUT>(wParam), pHeader);
    }

    std::vector<std::pair<HWAVEOUT, const WAVEHDR*>> aDone;
};

class WaveOutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        while (PumpMessage()) {
        }
        for (size_t i = 0; i < 3; ++i) {
            m_aabData[i].assign(8, static_cast<char>('a' + i));
            m_aHeaders[i].lpData = m_aabData[i].data();
            m_aHeaders[i].dwBufferLength = 8;
        }
    }

    HWAVEOUT Open(uint32_t nRate = 22050)
    {
        WAVEFORMATEX format;
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 2;
        format.nSamplesPerSec = nRate;
        format.nAvgBytesPerSec = nRate * 4;
        format.nBlockAlign = 4;
        format.wBitsPerSample = 16;
        format.cbSize = 18;
        HWAVEOUT hwo = nullptr;
        EXPECT_EQ(waveOutOpen(&hwo, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(m_window.GetSafeHwnd()), 0,
                      CALLBACK_WINDOW),
            MMSYSERR_NOERROR);
        return hwo;
    }

    void Queue(HWAVEOUT hwo, WAVEHDR& header)
    {
        ASSERT_EQ(waveOutPrepareHeader(hwo, &header, sizeof header), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(hwo, &header, sizeof header), MMSYSERR_NOERROR);
    }

    void Dispatch()
    {
        while (PumpMessage()) {
        }
    }

    CScriptedAudioBackend m_sound;
    CDoneRecorder m_window;
    std::vector<char> m_aabData[3];
    WAVEHDR m_aHeaders[3];
};

TEST_F(WaveOutTest, BuffersPlayInOrderAndComeBackWithTheirHandle)
{
    const HWAVEOUT hwo = Open();
    for (WAVEHDR& header : m_aHeaders)
        Queue(hwo, header);
    EXPECT_EQ(m_aHeaders[0].dwFlags, WHDR_PREPARED | WHDR_INQUEUE);

    EXPECT_EQ(m_sound.Play(12), 12u); // all of the first, half of the second
    // Played, but the flags change only when the notification is handled.
    EXPECT_TRUE(m_aHeaders[0].dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(GetQueuedMessageCount(), 1u);
    Dispatch();
    ASSERT_EQ(m_window.aDone.size(), 1u);
    EXPECT_EQ(m_window.aDone[0].first, hwo);
    EXPECT_EQ(m_window.aDone[0].second, &m_aHeaders[0]);
    EXPECT_TRUE(m_aHeaders[1].dwFlags & WHDR_INQUEUE);

    EXPECT_TRUE(m_sound.CompleteNext());
    EXPECT_TRUE(m_sound.CompleteNext());
    EXPECT_FALSE(m_sound.CompleteNext());
    Dispatch();
    EXPECT_EQ(m_window.aDone.size(), 3u);
    EXPECT_EQ(std::string(m_sound.GetPlayed().begin(), m_sound.GetPlayed().end()), "aaaaaaaabbbbbbbbcccccccc");
    EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, ResultsFollowTheHeaderFlags)
{
    const HWAVEOUT hwo = Open();
    WAVEHDR& header = m_aHeaders[0];
    EXPECT_EQ(waveOutWrite(hwo, &header, sizeof header), WAVERR_UNPREPARED);
    EXPECT_EQ(waveOutPrepareHeader(hwo, &header, 4), MMSYSERR_INVALPARAM);
    Queue(hwo, header);
    EXPECT_EQ(waveOutWrite(hwo, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(hwo, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(hwo), WAVERR_STILLPLAYING);

    // Played but not yet handled: a call on the device sees it done.
    m_sound.CompleteNext();
    EXPECT_EQ(waveOutUnprepareHeader(hwo, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, WHDR_DONE);
    EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutPrepareHeader(hwo, &header, sizeof header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(hwo), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(hwo), MMSYSERR_INVALHANDLE);
    Dispatch();
    EXPECT_EQ(m_window.aDone.size(), 1u); // the notification still arrives, with the old handle
}

TEST_F(WaveOutTest, ResetReturnsEveryQueuedBufferAtOnce)
{
    const HWAVEOUT hwo = Open();
    for (WAVEHDR& header : m_aHeaders)
        Queue(hwo, header);
    m_sound.Play(3);
    EXPECT_EQ(waveOutReset(hwo), MMSYSERR_NOERROR);
    for (const WAVEHDR& header : m_aHeaders)
        EXPECT_EQ(header.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(GetQueuedMessageCount(), 3u);
    EXPECT_FALSE(m_sound.CompleteNext());
    Dispatch();
    ASSERT_EQ(m_window.aDone.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(m_window.aDone[i].second, &m_aHeaders[i]);
    EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, APausedOutputPlaysNothingUntilRestarted)
{
    const HWAVEOUT hwo = Open();
    EXPECT_EQ(waveOutPause(hwo), MMSYSERR_NOERROR);
    Queue(hwo, m_aHeaders[0]);
    EXPECT_TRUE(m_sound.IsPaused());
    EXPECT_FALSE(m_sound.CompleteNext());
    EXPECT_EQ(m_sound.Play(100), 0u);
    EXPECT_EQ(waveOutRestart(hwo), MMSYSERR_NOERROR);
    EXPECT_TRUE(m_sound.CompleteNext());
    Dispatch();
    EXPECT_EQ(m_window.aDone.size(), 1u);
    EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, OpenRefusesOtherFormatsAndReportsAMissingDevice)
{
    WAVEFORMATEX format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    HWAVEOUT hwo = reinterpret_cast<HWAVEOUT>(1);
    const DWORD_PTR hWnd = reinterpret_cast<DWORD_PTR>(m_window.GetSafeHwnd());
    EXPECT_EQ(waveOutOpen(&hwo, WAVE_MAPPER, &format, hWnd, 0, CALLBACK_WINDOW), WAVERR_BADFORMAT);
    EXPECT_EQ(hwo, nullptr);
    format.nChannels = 2;
    format.nBlockAlign = 4;
    EXPECT_EQ(waveOutOpen(&hwo, 3, &format, hWnd, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&hwo, WAVE_MAPPER, &format, hWnd, 0, 0), MMSYSERR_INVALFLAG);
    m_sound.SetOpenFails(true);
    EXPECT_EQ(waveOutOpen(&hwo, WAVE_MAPPER, &format, hWnd, 0, CALLBACK_WINDOW), MMSYSERR_NODRIVER);
    EXPECT_EQ(hwo, nullptr);
    EXPECT_FALSE(WaveOutGetBackendError().empty());
    m_sound.SetOpenFails(false);

    const HWAVEOUT hFirst = Open();
    EXPECT_EQ(waveOutClose(hFirst), MMSYSERR_NOERROR);
    const HWAVEOUT hSecond = Open();
    EXPECT_NE(hFirst, hSecond);
    EXPECT_EQ(waveOutClose(hSecond), MMSYSERR_NOERROR);
}

} // namespace
