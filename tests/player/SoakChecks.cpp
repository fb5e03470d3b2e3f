// The soak's checks: the controller's states after every step and in the
// middle of nested handling, the buffers and messages, the tone counter, and
// at the end a file played whole against a fresh engine.
#include "SoakTest.h"

#include "engine/SpeedSteps.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

using EC = EPlayerCommand;

const char kCaptionPlay[] = "PLAY-Kuroto";
const char kCaptionPause[] = "PAUSE-Kuroto";
const char kCaptionStop[] = "STOP-Kuroto";

} // namespace

void SoakTest::BeforeNotification(WPARAM wParam, LPARAM lParam)
{
    m_watch.Delivered(reinterpret_cast<HWAVEOUT>(wParam), reinterpret_cast<const WAVEHDR*>(lParam));
    const CPlaybackController& controller = Controller();
    const int nSince = (STestClock::nNowMs + 1) / 1000 - CControllerProbe::LastNotificationSecond(controller);
    if (controller.IsPlaying() && !controller.IsPaused() && nSince > CControllerProbe::WatchdogSeconds(controller)) {
        EXPECT_TRUE(m_bStalling) << "a stall the soak did not make" << Where();
        ++m_stats.nStalls;
    }
}

void SoakTest::CheckWrite()
{
    EXPECT_EQ(State(), PS_RUNNING) << "a buffer written while the player is idle" << Where();
    EXPECT_EQ(m_output.GetState(), WOS_RUNNING) << "a buffer written after its run was stopped or ran dry" << Where();
    EXPECT_TRUE(EngineOpen()) << "a buffer filled from a closed engine" << Where();
}

void SoakTest::CheckMessages()
{
    std::vector<std::string>& astrMessages = View().m_astrMessages;
    for (const std::string& strMessage : astrMessages) {
        ++m_stats.nDevicesLost;
        // A run that loses its device, or a start while it is gone.
        EXPECT_TRUE(strMessage == kDeviceLostMessage || strMessage.rfind(kNoDeviceMessage, 0) == 0)
            << strMessage << Where();
        EXPECT_TRUE(m_bDeviceGone) << "a device reported lost that opens" << Where();
        EXPECT_EQ(State(), PS_IDLE) << Where();
    }
    // What the form keeps is forgotten, or the heap would grow with it.
    astrMessages.clear();
    View().m_astrAsked.clear();
}

void SoakTest::CheckTone()
{
    const int32_t nFrame = ToneFrame(*m_pEngine);
    EXPECT_GE(nFrame, 0) << "the tone frame counter left its range" << Where();
    if (nFrame < m_nLastToneFrame) {
        ++m_stats.nToneWraps;
        m_bToneWrapped = true;
    }
    m_nLastToneFrame = nFrame;
    // Until a file is opened the tone periods are not set.
    if (m_sound.GetOpenCount() > 0)
        ExpectTonePeriodsOfItsRate(*m_pEngine, Where());
}

void SoakTest::CheckState(bool bSettled)
{
    CPlaybackController& controller = Controller();
    const CFakePlayerView& view = View();
    const int nState = State();
    const int nCount = controller.GetPlayList().GetCount();
    const int nPending = CControllerProbe::Pending(controller);
    const int nHoldoff = CControllerProbe::SpeedHoldoff(controller);
    const bool bWaiting = CControllerProbe::Waiting(controller);
    const bool bResume = CControllerProbe::ResumeRequest(controller);
    const bool bPaused = controller.IsPaused();
    const int nOutput = m_output.GetState();
    const int nQueued = m_watch.QueuedHeaders();
    const bool bEngineOpen = EngineOpen();

    ASSERT_TRUE(nState == PS_RUNNING || nState == PS_IDLE) << nState << Where();
    EXPECT_TRUE(Current() >= -1 && Current() < nCount) << Current() << Where();
    EXPECT_TRUE(nPending >= -1 && nPending < nCount) << nPending << Where();
    EXPECT_TRUE(nHoldoff >= 0 && nHoldoff <= 2) << nHoldoff << Where();
    EXPECT_EQ(view.m_strSpeed, SpeedText(controller.GetSpeedIndex())) << Where();
    EXPECT_DOUBLE_EQ(EngineSpeed(*m_pEngine), SpeedOfIndex(controller.GetSpeedIndex())) << Where();
    EXPECT_EQ(m_pEngine->m_nMixingGain, controller.GetMixingVolume() / 5) << Where();
    EXPECT_EQ(m_pEngine->m_bAlpha, controller.GetAlphaControl() != 0 ? 1 : 0) << Where();
    EXPECT_EQ(m_pEngine->m_nAlphaLevel, controller.GetAlphaControl()) << Where();
    CheckTone();

    if (bWaiting) {
        EXPECT_EQ(nState, PS_IDLE) << "waiting while a file runs" << Where();
        EXPECT_FALSE(bPaused) << Where();
        EXPECT_EQ(nQueued, 0) << Where();
        EXPECT_FALSE(bEngineOpen) << Where();
        EXPECT_TRUE(view.m_bPlayShown && !view.m_bPlayEnabled) << Where();
        EXPECT_TRUE(view.m_bStopEnabled) << Where();
        EXPECT_EQ(view.m_strCaption, kCaptionPlay) << "the list still plays during the wait" << Where();
        EXPECT_FALSE(m_sound.IsOpen()) << "the device stays open during the wait" << Where();
    } else if (nState == PS_IDLE) {
        EXPECT_TRUE(view.m_bPlayShown && view.m_bPlayEnabled) << Where();
        EXPECT_FALSE(view.m_bStopEnabled) << Where();
        EXPECT_EQ(view.m_strCaption, kCaptionStop) << Where();
    } else {
        EXPECT_NE(nOutput, WOS_FAILED) << Where();
        EXPECT_TRUE(view.m_bStopEnabled) << Where();
        EXPECT_GE(Current(), 0) << Where();
    }
    if (!bSettled)
        return;

    EXPECT_FALSE(bWaiting) << Where();
    EXPECT_EQ(m_watch.OwedCount(), 0) << "notifications not handled" << Where();
    EXPECT_EQ(static_cast<int>(m_watch.QueuedCount()), nQueued) << "the queue and the header flags disagree" << Where();
    if (nState == PS_IDLE) {
        EXPECT_EQ(nQueued, 0) << Where();
        EXPECT_FALSE(bEngineOpen) << Where();
        EXPECT_EQ(nPending, -1) << "an entry still pending while idle" << Where();
        EXPECT_FALSE(m_sound.IsOpen()) << "the device stays open while nothing plays" << Where();
        return;
    }
    EXPECT_TRUE(bEngineOpen) << Where();
    switch (nOutput) {
    case WOS_RUNNING:
        EXPECT_EQ(nQueued, WAVE_BUFFER_COUNT) << Where();
        EXPECT_FALSE(bResume) << Where();
        break;
    case WOS_END_OF_DATA:
        EXPECT_GE(nQueued, 1) << Where();
        EXPECT_FALSE(bResume) << Where();
        break;
    case WOS_STOP_REQUESTED:
        EXPECT_GE(nQueued, 1) << Where();
        EXPECT_TRUE(bResume) << "draining with no restart to come" << Where();
        EXPECT_LE(CControllerProbe::ResumePos(controller), m_pEngine->SoundFile().WaveFile().DataEnd()) << Where();
        break;
    default:
        ADD_FAILURE() << "output state " << nOutput << Where();
    }
    EXPECT_EQ(view.m_strCaption, bPaused ? kCaptionPause : kCaptionPlay) << Where();
    EXPECT_EQ(view.m_bPlayShown, bPaused) << Where();
    EXPECT_TRUE(view.m_bPlayEnabled) << Where();
    EXPECT_TRUE(m_sound.IsOpen()) << Where();
    EXPECT_EQ(m_sound.IsPaused(), bPaused) << Where();
    EXPECT_EQ(m_sound.GetLastSampleRate(), m_pEngine->GetFormat()->nSamplesPerSec) << Where();
    EXPECT_EQ(Playing(), FileNameOfPath(controller.GetPlayList().GetPath(Current()))) << Where();
    EXPECT_EQ(view.SelectedRows(), std::vector<int>{Current()}) << Where();
}

Bytes SoakTest::PlayWhole(int nEntry, int nMixing, int nAlpha, int32_t& nToneStart)
{
    const uint32_t nFrames = FramesOf(m_astrPlaylist[static_cast<size_t>(nEntry)]);
    EXPECT_GT(nFrames, 0u) << Where();
    Queue(EC::SetRepeat, REPEAT_NONE);
    Queue(EC::SetMixing, nMixing);
    View().m_bAnswerYes = true;
    Queue(EC::SetAlpha, nAlpha);
    View().m_bChooseOk = true;
    View().m_nChosenWaitMs = 0;
    Queue(EC::Settings);
    Settle();
    nToneStart = INT32_MAX - static_cast<int32_t>(m_random.Below(std::max(nFrames, 1u)));
    ToneFrame(*m_pEngine) = nToneStart;
    m_nLastToneFrame = nToneStart;

    Bytes abStretch;
    m_pStretch = &abStretch;
    const int nOpens = m_sound.GetOpenCount();
    Select({nEntry});
    Post(EC::Play);
    EXPECT_EQ(m_sound.GetOpenCount(), nOpens + 1) << "entry " << nEntry << " did not start" << Where();
    EXPECT_EQ(Current(), nEntry) << Where();
    while (m_sound.GetOpenCount() == nOpens + 1 && PlayBuffers(1) == 1) {
        PostTick();
        Dispatch();
        CheckState(true);
    }
    m_pStretch = nullptr;
    Post(EC::Stop);
    Settle();
    return abStretch;
}

std::unique_ptr<CSpeedEngine> SoakTest::FreshEngine() const
{
    auto pEngine = std::make_unique<CSpeedEngine>(Speed());
    pEngine->m_nMixingGain = m_pEngine->m_nMixingGain;
    pEngine->m_bAlpha = m_pEngine->m_bAlpha;
    pEngine->m_nAlphaLevel = m_pEngine->m_nAlphaLevel;
    return pEngine;
}

uint32_t SoakTest::FramesOf(const std::string& strPath) const
{
    return static_cast<uint32_t>(RenderWith(*FreshEngine(), strPath, 0, Speed()).size() / 4);
}

double SoakTest::Speed() const
{
    return SpeedOfIndex(Controller().GetSpeedIndex());
}

void SoakTest::CheckUninterruptedPlayback()
{
    ASSERT_EQ(State(), PS_IDLE);
    const double dSpeed = Speed();

    // Speech and tones together: byte for byte what a fresh engine makes.
    const int nEntry = RandomLongEntry();
    const std::string& strPath = m_astrPlaylist[static_cast<size_t>(nEntry)];
    const int nMixing = 10 * (1 + static_cast<int>(m_random.Below(10)));
    const int nAlpha = 5 * (1 + static_cast<int>(m_random.Below(10)));
    int32_t nToneStart = 0;
    const Bytes abPlayed = PlayWhole(nEntry, nMixing, nAlpha, nToneStart);
    auto pFresh = FreshEngine();
    ToneFrame(*pFresh) = nToneStart;
    const Bytes abExpected = RenderWith(*pFresh, strPath, 0, dSpeed);
    std::printf("soak: %s played whole at %.1fx, Mixing %d%%, Alpha %d%%: %zu bytes against a fresh engine's %zu\n",
                FileNameOfPath(strPath).c_str(), dSpeed, nMixing, nAlpha, abPlayed.size(), abExpected.size());
    EXPECT_EQ(abPlayed.size(), abExpected.size()) << strPath << " at " << dSpeed << Where();
    const auto mismatch = std::mismatch(abPlayed.begin(), abPlayed.end(), abExpected.begin(), abExpected.end());
    EXPECT_TRUE(abPlayed == abExpected) << strPath << " at " << dSpeed << ", Mixing " << nMixing << ", Alpha "
                                        << nAlpha << ": first difference at byte " << mismatch.first - abPlayed.begin();

    // The tones alone, across the counter's wrap.
    const int nToneEntry = RandomLongEntry();
    const std::string& strTonePath = m_astrPlaylist[static_cast<size_t>(nToneEntry)];
    const int nToneAlpha = 5 * (1 + static_cast<int>(m_random.Below(10)));
    const Bytes abTones = PlayWhole(nToneEntry, 0, nToneAlpha, nToneStart);
    const uint32_t nToneFrames = FramesOf(strTonePath);
    ASSERT_EQ(abTones.size(), 4u * nToneFrames) << strTonePath;
    const int64_t nWrapAt = ExpectTonesAcrossTheWrap(*FreshEngine(), abTones, strTonePath, dSpeed, nToneStart);
    std::printf("soak: %s as tones alone: %u frames, the counter wrapping after frame %lld\n",
                FileNameOfPath(strTonePath).c_str(), nToneFrames, static_cast<long long>(nWrapAt));
    EXPECT_GE(nWrapAt, 0) << "the counter did not pass its maximum in " << strTonePath;
}

int SoakTest::RandomLongEntry()
{
    return m_anLongEntries[m_random.Below(static_cast<uint32_t>(m_anLongEntries.size()))];
}

void SoakTest::PrintStats(const SResources& baseline, const SResources& end) const
{
    const auto n = [](uint64_t nCount) { return static_cast<unsigned long long>(nCount); };
    std::printf("soak: %.2f h of sound in %.2f h of clock, %lld midnights, %llu steps, %llu buffers, %llu partial "
                "plays,\n      %llu writes, %llu resets, %llu notifications, %d opens, %llu plays, %llu pauses, "
                "%llu stops,\n      %llu double-clicks, %llu speed presses, >= %llu restarts, %llu waits (%llu "
                "stopped, %llu taken over),\n      %llu nested and %llu burst clicks, %llu stalls (%llu without a "
                "device), %llu tone counter wraps;\n      heap %lld -> %lld bytes, %lld -> %lld blocks, %d -> %d "
                "descriptors\n",
                m_dPlayedSeconds / 3600, static_cast<double>(m_nSimulatedMs) / 3600000,
                static_cast<long long>(Midnights()), n(m_stats.nSteps), n(m_stats.nBuffers),
                n(m_stats.nPartialPlays), n(m_watch.m_nWrites), n(m_watch.m_nResets), n(m_watch.m_nDelivered),
                m_sound.GetOpenCount(), n(m_stats.nPlays), n(m_stats.nPauses), n(m_stats.nStops),
                n(m_stats.nDoubleClicks), n(m_stats.nSpeedPresses), n(m_stats.nSpeedRestarts), n(m_stats.nWaits),
                n(m_stats.nStopsInWait), n(m_stats.nTakeOvers), n(m_stats.nNested), n(m_stats.nBursts),
                n(m_stats.nStalls), n(m_stats.nDevicesLost), n(m_stats.nToneWraps), baseline.nHeapBytes,
                end.nHeapBytes, baseline.nHeapBlocks, end.nHeapBlocks, baseline.nDescriptors, end.nDescriptors);
}
