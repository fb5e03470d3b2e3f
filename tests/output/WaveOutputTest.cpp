// CWaveOutput driven through the message queue against the scripted sound
// system: priming, refills, draining, pause, reset, stale notifications and
// a device object without buffers.
#include "../WavBytes.h"
#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "FailingHeap.h"
#include "ScriptedAudioBackend.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

constexpr double kSpeed = 2.0;
constexpr uint32_t kRate = 8000;

// Mono 16-bit speech-like samples, nSamples long.
Bytes SpeechWav(size_t nSamples)
{
    std::vector<int16_t> asSamples(nSamples);
    for (size_t i = 0; i < nSamples; ++i)
        asSamples[i] = static_cast<int16_t>((i * 37 % 2000) * ((i / 700) % 2 ? 1 : -1));
    return MakeWav(1, kRate, 2, Samples16(asSamples));
}

// An engine without the Alpha tone, whose phase would run on from file to file.
std::unique_ptr<CSpeedEngine> MakeEngine()
{
    auto pEngine = std::make_unique<CSpeedEngine>(kSpeed);
    pEngine->m_bAlpha = 0;
    return pEngine;
}

// The engine's output for a file, one Fill of 30000 bytes at a time; with
// nCloseAfter, the file is closed after that many fills and the rest is what
// the engine still drains from its tracks.
std::vector<Bytes> Fills(const std::string& strPath, size_t nCloseAfter = SIZE_MAX)
{
    auto pEngine = MakeEngine();
    std::vector<Bytes> aFills;
    EXPECT_TRUE(pEngine->Open(strPath, kSpeed));
    pEngine->Seek(0);
    Bytes abBuffer(WAVE_BUFFER_BYTES);
    while (const uint32_t nBytes = pEngine->Fill(abBuffer.data(), WAVE_BUFFER_BYTES)) {
        aFills.emplace_back(abBuffer.begin(), abBuffer.begin() + nBytes);
        if (aFills.size() == nCloseAfter)
            pEngine->Close();
    }
    return aFills;
}

class WaveOutputTest : public ::testing::Test, public CMessageTarget {
protected:
    WaveOutputTest()
        : m_pEngine(MakeEngine())
    {
        while (PumpMessage()) {
        }
        m_output.SetEngine(m_pEngine.get());
    }

    ~WaveOutputTest() override
    {
        m_pEngine->Close();
        m_output.RequestStop();
        m_output.Reset();
        while (PumpMessage()) {
        }
        m_output.UnprepareAll();
        EXPECT_TRUE(m_output.Close());
    }

    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        ASSERT_EQ(message, MM_WOM_DONE);
        m_abRefills.push_back(m_output.Refill(reinterpret_cast<HWAVEOUT>(wParam), reinterpret_cast<WAVEHDR*>(lParam)));
    }

    // A file that the engine turns into exactly nFills buffers.
    std::string FileOfFills(size_t nFills)
    {
        size_t nLow = 1;
        size_t nHigh = 400000;
        while (nLow < nHigh) {
            const size_t nMid = (nLow + nHigh) / 2;
            if (Fills(m_dir.Write("probe.wav", SpeechWav(nMid))).size() < nFills)
                nLow = nMid + 1;
            else
                nHigh = nMid;
        }
        const std::string strPath = m_dir.Write("fills" + std::to_string(nFills) + ".wav", SpeechWav(nLow));
        EXPECT_EQ(Fills(strPath).size(), nFills);
        return strPath;
    }

    bool OpenAndStart(const std::string& strPath)
    {
        EXPECT_TRUE(m_pEngine->Open(strPath, kSpeed));
        m_pEngine->Seek(0);
        EXPECT_TRUE(m_output.Open(GetSafeHwnd(), m_pEngine->GetFormat()));
        return m_output.Start(GetSafeHwnd());
    }

    // Lets the sound system finish the next buffer and handles its notification.
    bool CompleteOne()
    {
        const bool bPlayed = m_sound.CompleteNext();
        while (PumpMessage()) {
        }
        return bPlayed;
    }

    int QueuedCount() const
    {
        int nQueued = 0;
        for (int nSlot = 0; nSlot < WAVE_BUFFER_COUNT; ++nSlot)
            nQueued += (m_output.GetHeader(nSlot)->dwFlags & WHDR_INQUEUE) ? 1 : 0;
        return nQueued;
    }

    bool AnyPrepared() const
    {
        for (int nSlot = 0; nSlot < WAVE_BUFFER_COUNT; ++nSlot) {
            if (m_output.GetHeader(nSlot)->dwFlags & WHDR_PREPARED)
                return true;
        }
        return false;
    }

    static Bytes Joined(const std::vector<Bytes>& aParts)
    {
        Bytes ab;
        for (const Bytes& abPart : aParts)
            ab.insert(ab.end(), abPart.begin(), abPart.end());
        return ab;
    }

    CTempDir m_dir;
    CScriptedAudioBackend m_sound;
    std::unique_ptr<CSpeedEngine> m_pEngine;
    CWaveOutput m_output;
    std::vector<bool> m_abRefills;
};

TEST_F(WaveOutputTest, AFilePlaysExactlyAsTheEngineFillsIt)
{
    const std::string strPath = FileOfFills(9);
    const std::vector<Bytes> aFills = Fills(strPath);
    ASSERT_LT(aFills.back().size(), WAVE_BUFFER_BYTES);

    ASSERT_TRUE(OpenAndStart(strPath));
    EXPECT_EQ(m_sound.GetLastSampleRate(), kRate);
    EXPECT_EQ(QueuedCount(), 4);
    EXPECT_FALSE(m_output.IsPaused());
    EXPECT_FALSE(m_sound.IsPaused()); // primed while paused, then restarted
    while (CompleteOne()) {
    }
    EXPECT_EQ(m_sound.GetPlayed(), Joined(aFills));

    // The short last block played only its own bytes; then the ring drained
    // and exactly the last notification ended the run.
    ASSERT_EQ(m_abRefills.size(), aFills.size());
    for (size_t i = 0; i + 1 < m_abRefills.size(); ++i)
        EXPECT_TRUE(m_abRefills[i]) << i;
    EXPECT_FALSE(m_abRefills.back());
    EXPECT_EQ(m_output.GetState(), WOS_END_OF_DATA);
    EXPECT_FALSE(AnyPrepared());
}

TEST_F(WaveOutputTest, NothingForTheFirstBufferFailsTheStart)
{
    const std::string strPath = m_dir.Write("empty.wav", MakeWav(1, kRate, 2, Bytes()));
    EXPECT_FALSE(OpenAndStart(strPath));
    EXPECT_EQ(m_output.GetState(), WOS_FAILED);
    EXPECT_EQ(QueuedCount(), 0);
    EXPECT_FALSE(AnyPrepared());
    EXPECT_FALSE(m_sound.CompleteNext());
    EXPECT_EQ(GetQueuedMessageCount(), 0u);
}

TEST_F(WaveOutputTest, EndOfDataAtTheThirdSlotPrimesTwoBuffers)
{
    ASSERT_TRUE(OpenAndStart(FileOfFills(2)));
    EXPECT_EQ(m_output.GetState(), WOS_END_OF_DATA);
    EXPECT_EQ(QueuedCount(), 2);
    EXPECT_TRUE(CompleteOne());
    EXPECT_TRUE(CompleteOne());
    const std::vector<bool> abExpected {true, false};
    EXPECT_EQ(m_abRefills, abExpected);
    EXPECT_FALSE(AnyPrepared());
}

TEST_F(WaveOutputTest, OpenFailsWhileBuffersAreQueuedAndKeepsTheOldOutput)
{
    const std::string strPath = FileOfFills(12);
    ASSERT_TRUE(OpenAndStart(strPath));
    EXPECT_FALSE(m_output.Open(GetSafeHwnd(), m_pEngine->GetFormat()));
    EXPECT_EQ(m_sound.GetOpenCount(), 1);
    // The old output still runs: its notifications are not stale.
    EXPECT_TRUE(CompleteOne());
    EXPECT_EQ(QueuedCount(), 4);
    EXPECT_EQ(m_sound.GetPlayed(), Fills(strPath)[0]);
}

TEST_F(WaveOutputTest, PauseTwiceLeavesTheOutputRunning)
{
    ASSERT_TRUE(OpenAndStart(FileOfFills(12)));
    m_output.TogglePause();
    EXPECT_TRUE(m_output.IsPaused());
    EXPECT_TRUE(m_sound.IsPaused());
    EXPECT_FALSE(CompleteOne());
    m_output.TogglePause();
    EXPECT_FALSE(m_output.IsPaused());
    EXPECT_FALSE(m_sound.IsPaused());
    EXPECT_TRUE(CompleteOne());
}

TEST_F(WaveOutputTest, RequestStopDrainsTheBuffersInFlight)
{
    const std::string strPath = FileOfFills(12);
    ASSERT_TRUE(OpenAndStart(strPath));
    ASSERT_TRUE(CompleteOne());
    m_output.RequestStop();
    while (CompleteOne()) {
    }
    const std::vector<bool> abExpected {true, true, true, true, false};
    EXPECT_EQ(m_abRefills, abExpected);
    const std::vector<Bytes> aFills = Fills(strPath);
    EXPECT_EQ(m_sound.GetPlayed(), Joined({aFills.begin(), aFills.begin() + 5}));
    EXPECT_EQ(m_output.GetState(), WOS_STOP_REQUESTED);
    EXPECT_FALSE(AnyPrepared());
}

TEST_F(WaveOutputTest, ResetReturnsAllBuffersAsOrdinaryNotifications)
{
    const std::string strPath = FileOfFills(12);
    ASSERT_TRUE(OpenAndStart(strPath));
    m_output.TogglePause();
    m_pEngine->Close(); // as the player does before cutting a file off
    m_output.Reset();
    EXPECT_EQ(m_output.GetState(), WOS_RUNNING);
    EXPECT_TRUE(m_output.IsPaused());
    EXPECT_EQ(QueuedCount(), 0);
    EXPECT_EQ(GetQueuedMessageCount(), 4u);

    // The returned buffers are refilled by state, like any others: with what
    // the closed engine still drains from its tracks, until it gives nothing.
    m_output.TogglePause();
    while (PumpMessage() || CompleteOne()) {
    }
    const std::vector<Bytes> aFills = Fills(strPath, 4);
    EXPECT_EQ(m_sound.GetPlayed(), Joined({aFills.begin() + 4, aFills.end()}));
    ASSERT_FALSE(m_abRefills.empty());
    EXPECT_FALSE(m_abRefills.back());
    EXPECT_EQ(m_output.GetState(), WOS_END_OF_DATA);
    EXPECT_FALSE(AnyPrepared());
}

TEST_F(WaveOutputTest, StaleNotificationsNeverTouchTheNewRun)
{
    const std::string strFirst = FileOfFills(12);
    ASSERT_TRUE(OpenAndStart(strFirst));
    m_output.Reset(); // four notifications wait in the queue
    m_output.UnprepareAll();
    m_pEngine->Close();

    // Same output, second run primed before the old notifications arrive.
    const std::string strSecond = FileOfFills(6);
    ASSERT_TRUE(m_pEngine->Open(strSecond, kSpeed));
    m_pEngine->Seek(0);
    ASSERT_TRUE(m_output.Start(GetSafeHwnd()));
    while (PumpMessage()) {
    }
    EXPECT_EQ(m_abRefills, std::vector<bool>(4, true));
    EXPECT_EQ(QueuedCount(), 4);
    EXPECT_TRUE(m_sound.GetPlayed().empty());

    // A new output, with the second run's notifications still waiting.
    m_output.Reset();
    m_output.UnprepareAll();
    m_pEngine->Close();
    m_abRefills.clear();
    ASSERT_TRUE(OpenAndStart(strSecond));
    EXPECT_EQ(m_sound.GetOpenCount(), 2);
    while (PumpMessage()) {
    }
    EXPECT_EQ(m_abRefills, std::vector<bool>(4, true));
    EXPECT_EQ(QueuedCount(), 4);

    // The new run then plays its file whole, unharmed.
    while (CompleteOne()) {
    }
    EXPECT_EQ(m_sound.GetPlayed(), Joined(Fills(strSecond)));
    EXPECT_FALSE(m_abRefills.back());
}

TEST_F(WaveOutputTest, AForgedNotificationForAQueuedBufferIsIgnored)
{
    ASSERT_TRUE(OpenAndStart(FileOfFills(12)));
    WAVEHDR* pQueued = const_cast<WAVEHDR*>(m_output.GetHeader(2));
    const Bytes abBefore(pQueued->lpData, pQueued->lpData + pQueued->dwBufferLength);
    EXPECT_TRUE(m_output.Refill(nullptr, pQueued));
    WAVEHDR foreign;
    EXPECT_TRUE(m_output.Refill(nullptr, &foreign));
    EXPECT_EQ(QueuedCount(), 4);
    EXPECT_EQ(Bytes(pQueued->lpData, pQueued->lpData + pQueued->dwBufferLength), abBefore);
}

TEST_F(WaveOutputTest, ANewOutputStartsUnpaused)
{
    // The last buffer finishes just as the user pauses: the run ends paused.
    const std::string strPath = FileOfFills(2);
    ASSERT_TRUE(OpenAndStart(strPath));
    EXPECT_TRUE(m_sound.CompleteNext());
    EXPECT_TRUE(m_sound.CompleteNext());
    m_output.TogglePause();
    while (PumpMessage()) {
    }
    ASSERT_FALSE(m_abRefills.back());
    EXPECT_TRUE(m_output.IsPaused());
    m_output.UnprepareAll();
    m_pEngine->Close();

    ASSERT_TRUE(OpenAndStart(strPath));
    EXPECT_FALSE(m_output.IsPaused());
    EXPECT_FALSE(m_sound.IsPaused());
    EXPECT_TRUE(CompleteOne());
}

TEST_F(WaveOutputTest, WithoutASoundDeviceOpenFails)
{
    m_sound.SetOpenFails(true);
    ASSERT_TRUE(m_pEngine->Open(FileOfFills(3), kSpeed));
    EXPECT_FALSE(m_output.Open(GetSafeHwnd(), m_pEngine->GetFormat()));
    EXPECT_FALSE(m_output.Start(GetSafeHwnd()));
    EXPECT_EQ(m_output.GetState(), WOS_FAILED);
}

TEST_F(WaveOutputTest, ADeviceObjectWithoutBuffersRefusesToStart)
{
    const std::string strPath = FileOfFills(3);
    // Eight allocations make the four buffers; fail each one in turn.
    for (int nSuccesses = 0; nSuccesses < 2 * WAVE_BUFFER_COUNT; ++nSuccesses) {
        FailHeapAllocationsAfter(nSuccesses);
        CWaveOutput output;
        FailHeapAllocationsAfter(-1);
        for (int nSlot = 0; nSlot < WAVE_BUFFER_COUNT; ++nSlot)
            EXPECT_EQ(output.GetHeader(nSlot), nullptr);
        output.SetEngine(m_pEngine.get());
        ASSERT_TRUE(m_pEngine->Open(strPath, kSpeed));
        ASSERT_TRUE(output.Open(GetSafeHwnd(), m_pEngine->GetFormat()));
        EXPECT_FALSE(output.Start(GetSafeHwnd()));
        EXPECT_EQ(output.GetState(), WOS_FAILED);
        EXPECT_FALSE(m_sound.CompleteNext());
        EXPECT_TRUE(output.Close());
        m_pEngine->Close();
    }
    CWaveOutput whole;
    EXPECT_NE(whole.GetHeader(3), nullptr);
}

} // namespace
