// Hours of playback in simulated time. A playlist of short generated files
// (8 and 16 bits, mono and stereo, 22050 and 44100 Hz, besides a broken, an
// empty and a missing entry) is driven at random through the player's own
// commands; the scripted sound system plays buffers only when told, the
// test's clock moves with the sound played, and now and then the output
// stalls, once in a while with no device to reopen. After every step the
// controller's fields must form one of its states; every buffer handed to
// the sound system is followed until its notification is handled; the Alpha
// tone counter wraps in between; the heap and the open descriptors stay
// flat; and at the end one file played without interruption must sound
// exactly as a fresh engine renders it.
//
// VELOFON_SOAK_SEED and VELOFON_SOAK_HOURS (hours of sound played) override
// the fixed seed and the default length; both are printed.
#include "SoakTest.h"

#include "engine/SpeedSteps.h"
#include "platform/events/MessageQueue.h"

#include <climits>
#include <cstdio>

namespace {

using EC = EPlayerCommand;

// Between runs the heap holds the same blocks, give or take the text of a
// setting (the sanitizer's count includes the C library's blocks too).
constexpr long long kHeapSlackBytes = 2048;
constexpr UINT kTickMessage = 0x8300;

SoakTest* g_pSoak = nullptr;

// The controller with its notifications seen first by the soak.
class CSoakController : public CPlaybackController {
public:
    using CPlaybackController::CPlaybackController;
    void WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

} // namespace

void SoakTest::SetUp()
{
    PlayerFixture::SetUp();
    g_pSoak = this;
    // Starts before midnight, which the run crosses.
    STestClock::nNowMs = (23 * 3600 + 40 * 60) * 1000;
    m_nStartMs = STestClock::nNowMs;
    // Each reading moves the clock on by a millisecond, so that a loop
    // polling it ends even without the test's help.
    STestClock::onRead = [this] {
        ++m_nSimulatedMs;
        OnClockRead();
    };
}

void SoakTest::TearDown()
{
    g_pSoak = nullptr;
    PlayerFixture::TearDown();
}

std::unique_ptr<CPlaybackController> SoakTest::MakeController(CProfileStore& profile, IPlayerView& view)
{
    return std::make_unique<CSoakController>(*m_pEngine, m_output, profile, view);
}

void SoakTest::OnClockRead()
{
    // The wait between files polls the clock: a tick in the queue keeps it
    // from sleeping and lets the test act during the wait.
    if (CControllerProbe::Waiting(Controller()) && m_nTicksQueued == 0)
        PostTick();
}

void SoakTest::OnTick()
{
    --m_nTicksQueued;
    CheckState(false);
    if (!CControllerProbe::Waiting(Controller())) {
        m_bInWait = false;
        return;
    }
    if (!m_bInWait)
        ++m_stats.nWaits;
    m_bInWait = true;
    Advance(5 + m_random.Below(250));
    const uint32_t r = m_random.Below(1000);
    if (r < 15) {
        ++m_stats.nStopsInWait;
        Click(View().m_bStopEnabled, EC::Stop, "stop in the wait");
    } else if (r < 30) {
        ++m_stats.nTakeOvers;
        DoubleClick(RandomRow());
    } else if (r < 40) {
        PressSpeed();
    } else if (r < 45) {
        MenuCommand();
    }
}

std::string SoakTest::Where() const
{
    return " (seed " + std::to_string(m_nSeed) + ", step " + std::to_string(m_stats.nSteps) + ")";
}

void SoakTest::Advance(int64_t nMs)
{
    STestClock::nNowMs = static_cast<int>((STestClock::nNowMs + nMs) % kDayMs);
    m_nSimulatedMs += nMs;
}

void SoakTest::PostTick()
{
    ++m_nTicksQueued;
    PostMessage(m_ticker.GetSafeHwnd(), kTickMessage, 0, 0);
}

void SoakTest::Log(const char* strAction, int nArgument)
{
    m_aRecent[m_nRecent % kRecent] = SAction{m_stats.nSteps, strAction, nArgument};
    ++m_nRecent;
}

void SoakTest::PrintRecent() const
{
    std::fprintf(stderr, "soak: the last actions before the failure (seed %llu):\n",
                 static_cast<unsigned long long>(m_nSeed));
    for (size_t i = m_nRecent > kRecent ? m_nRecent - kRecent : 0; i < m_nRecent; ++i) {
        const SAction& action = m_aRecent[i % kRecent];
        std::fprintf(stderr, "  step %llu: %s %d\n", static_cast<unsigned long long>(action.nStep),
                     action.strAction, action.nArgument);
    }
}

void SoakTest::Click(bool bUsable, EPlayerCommand eCommand, const char* strName, int nValue)
{
    if (!bUsable)
        return;
    Log(strName, nValue);
    Queue(eCommand, nValue);
}

void SoakTest::ClickPlayOrPause()
{
    const CFakePlayerView& view = View();
    Click(view.m_bPlayEnabled, EC::Play, view.m_bPlayShown ? "play" : "pause");
}

void SoakTest::DoubleClick(int nRow)
{
    ++m_stats.nDoubleClicks;
    Select({nRow});
    Click(true, EC::PlaySelected, "double-click", nRow);
}

void SoakTest::PressSpeed()
{
    ++m_stats.nSpeedPresses;
    if (m_random.Chance(500))
        Click(true, EC::SpeedUp, "speed up");
    else
        Click(true, EC::SpeedDown, "speed down");
}

void SoakTest::MenuCommand()
{
    switch (m_random.Below(3)) {
    case 0:
        Click(true, EC::SetRepeat, "repeat", static_cast<int>(m_random.Below(3)));
        break;
    case 1:
        Click(true, EC::SetMixing, "mixing", 10 * static_cast<int>(m_random.Below(11)));
        break;
    default:
        View().m_bAnswerYes = m_random.Chance(800);
        Click(true, EC::SetAlpha, "alpha", 5 * static_cast<int>(m_random.Below(11)));
        break;
    }
}

void SoakTest::ChangeWait()
{
    static const int anWaitMs[] = {0, 0, 0, 300, 1500, 4000, 6500};
    View().m_bChooseOk = true;
    View().m_nChosenWaitMs = anWaitMs[m_random.Below(7)];
    Click(true, EC::Settings, "wait", View().m_nChosenWaitMs);
}

void SoakTest::Setting()
{
    const uint32_t r = m_random.Below(10);
    if (r < 4)
        PressSpeed();
    else if (r < 9)
        MenuCommand();
    else
        ChangeWait();
}

void SoakTest::AnyClick()
{
    switch (m_random.Below(6)) {
    case 0:
        ClickPlayOrPause();
        break;
    case 1:
        Click(View().m_bStopEnabled, EC::Stop, "stop");
        break;
    case 2:
        PressSpeed();
        break;
    case 3:
        DoubleClick(RandomRow());
        break;
    case 4:
        Click(true, m_random.Chance(500) ? EC::PreviousEntry : EC::NextEntry, "previous or next");
        break;
    default:
        MenuCommand();
        break;
    }
}

void SoakTest::TakePlayed()
{
    const std::vector<unsigned char>& abPlayed = m_sound.GetPlayed();
    const size_t nNew = abPlayed.size() - m_nSeen;
    if (nNew == 0)
        return;
    m_watch.Played(abPlayed.data() + m_nSeen, nNew);
    if (m_pStretch)
        m_pStretch->insert(m_pStretch->end(), abPlayed.begin() + static_cast<std::ptrdiff_t>(m_nSeen), abPlayed.end());
    m_nSeen = abPlayed.size();
    const uint64_t nRate = m_sound.GetLastSampleRate();
    const uint64_t nFrames = nNew / 4;
    m_nFrameMs += nFrames * 1000;
    Advance(static_cast<int64_t>(m_nFrameMs / nRate));
    m_nFrameMs %= nRate;
    m_dPlayedSeconds += static_cast<double>(nFrames) / static_cast<double>(nRate);
}

int SoakTest::PlayBuffers(int nCount)
{
    int nPlayed = 0;
    while (nPlayed < nCount && m_sound.CompleteNext()) {
        ++nPlayed;
        TakePlayed();
    }
    m_stats.nBuffers += static_cast<uint64_t>(nPlayed);
    return nPlayed;
}

void SoakTest::Quiet(int64_t nMs)
{
    const CPlaybackController& controller = Controller();
    if (controller.IsPlaying() && !controller.IsPaused()) {
        const int64_t nOld = CControllerProbe::LastNotificationSecond(controller);
        const int64_t nRoom = STestClock::nNowMs / 1000 >= nOld ? (nOld + 2) * 1000 - STestClock::nNowMs : 2000;
        nMs = std::clamp<int64_t>(nRoom, 0, nMs);
    }
    Log("quiet", static_cast<int>(nMs));
    Advance(nMs);
}

void SoakTest::StepIdle(uint32_t r)
{
    if (r < 500) {
        ++m_stats.nPlays;
        Select(m_random.Chance(500) ? std::vector<int>{RandomRow()} : std::vector<int>{});
        ClickPlayOrPause();
    } else if (r < 600) {
        DoubleClick(RandomRow());
    } else if (r < 700) {
        Quiet(m_random.Below(600000));
    } else if (r < 720) {
        AnyClick();
    } else {
        Setting();
    }
}

void SoakTest::StepPaused(uint32_t r)
{
    if (r < 300) {
        ClickPlayOrPause();
    } else if (r < 450) {
        Quiet(m_random.Below(600000));
    } else if (r < 550) {
        ++m_stats.nStops;
        Click(View().m_bStopEnabled, EC::Stop, "stop");
    } else if (r < 650) {
        DoubleClick(RandomRow());
    } else if (r < 800) {
        PressSpeed();
    } else {
        Setting();
    }
}

void SoakTest::StepPlaying(uint32_t r)
{
    if (r < 700) {
        const uint32_t nKind = m_random.Below(100);
        if (nKind < 85) {
            Log("play a buffer", PlayBuffers(1));
        } else if (nKind < 95) {
            Log("play buffers", PlayBuffers(2 + static_cast<int>(m_random.Below(4))));
        } else {
            ++m_stats.nPartialPlays;
            const size_t nBytes = 4 * (1 + m_random.Below(10000));
            Log("play bytes", static_cast<int>(m_sound.Play(nBytes)));
            TakePlayed();
        }
    } else if (r < 725) {
        Quiet(m_random.Below(3000));
    } else if (r < 730) {
        Suspend();
    } else if (r < 770) {
        ++m_stats.nPauses;
        ClickPlayOrPause();
    } else if (r < 785) {
        ++m_stats.nStops;
        Click(View().m_bStopEnabled, EC::Stop, "stop");
    } else if (r < 810) {
        DoubleClick(RandomRow());
    } else if (r < 860) {
        PressSpeed();
    } else if (r < 890) {
        // A click that arrives while the notification is being handled.
        ++m_stats.nNested;
        Log("nested", PlayBuffers(1));
        AnyClick();
    } else if (r < 910) {
        // Clicks faster than the player handles them.
        ++m_stats.nBursts;
        const int nClicks = 2 + static_cast<int>(m_random.Below(2));
        for (int i = 0; i < nClicks; ++i)
            AnyClick();
    } else {
        Setting();
    }
}

void SoakTest::Settle()
{
    PostTick();
    Dispatch();
    TakePlayed();
    m_sound.ForgetPlayed();
    m_nSeen = 0;
    m_bInWait = false;
}

void SoakTest::Step()
{
    ++m_stats.nSteps;
    const uint32_t r = m_random.Below(1000);
    if (State() == PS_IDLE)
        StepIdle(r);
    else if (Controller().IsPaused())
        StepPaused(r);
    else
        StepPlaying(r);
    Settle();
    CheckMessages();
    m_sound.SetOpenFails(false);
    m_bStalling = false;
    m_bDeviceGone = false;
    CheckState(true);
    if (CControllerProbe::SpeedHoldoff(Controller()) == 2)
        ++m_stats.nSpeedRestarts;
}

void SoakTest::MakePlaylist()
{
    CTempDir& dir = *m_pDir;
    m_astrPlaylist = {
        dir.Write("talk16m22.wav", SpeechWav(1, 16, 22050, 4.0, 1)),
        dir.Write("talk8s44.wav", SpeechWav(2, 8, 44100, 2.0, 2)),
        dir.Path() + "/missing.wav",
        dir.Write("talk16s44.wav", SpeechWav(2, 16, 44100, 3.0, 3)),
        dir.Write("broken.wav", Bytes{'R', 'I', 'F', 'F', 0x10, 0, 0, 0, 'W', 'A', 'V', 'E', 'j', 'u', 'n', 'k'}),
        dir.Write("talk8m22.wav", SpeechWav(1, 8, 22050, 2.5, 4)),
        dir.Write("blip16m44.wav", SpeechWav(1, 16, 44100, 0.15, 5)),
        dir.Write("empty.wav", MakeWav(1, 22050, 2, Bytes{})),
    };
    // The files of several buffers, for the stretches played whole.
    m_anLongEntries = {0, 1, 3, 5};
}

void SoakTest::ArmToneWrap(uint32_t nMaxFrames)
{
    m_nLastToneFrame = INT32_MAX - static_cast<int32_t>(m_random.Below(nMaxFrames));
    ToneFrame(*m_pEngine) = m_nLastToneFrame;
}

void SoakTest::Suspend()
{
    m_bDeviceGone = m_random.Chance(200);
    m_sound.SetOpenFails(m_bDeviceGone);
    m_bStalling = true;
    Advance(1000 * (CControllerProbe::WatchdogSeconds(Controller()) + 1 + m_random.Below(60)));
    Log(m_bDeviceGone ? "stall, the device gone" : "stall", PlayBuffers(1));
}

void CSoakController::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == MM_WOM_DONE && g_pSoak)
        g_pSoak->BeforeNotification(wParam, lParam);
    CPlaybackController::WindowProc(message, wParam, lParam);
}

void CTicker::WindowProc(UINT, WPARAM, LPARAM)
{
    if (g_pSoak)
        g_pSoak->OnTick();
}

TEST_F(SoakTest, HoursOfRandomUseKeepTheStatesBuffersToneAndHeapSound)
{
    const double dHours = EnvNumber("VELOFON_SOAK_HOURS", DefaultSoakHours());
    std::printf("soak: seed %llu (VELOFON_SOAK_SEED), %.2f hours of sound (VELOFON_SOAK_HOURS)\n",
                static_cast<unsigned long long>(m_nSeed), dHours);
    std::fflush(stdout);

    MakePlaylist();
    WritePlaylist(m_astrPlaylist, "Repeat=1\nSpeedIdx=10\nMixingVolume=50\nAlphaControl=25\nWaitSec=1500\n");
    Start();
    ASSERT_EQ(Controller().GetPlayList().GetCount(), static_cast<int>(m_astrPlaylist.size()));
    ArmToneWrap(10 * 60 * 44100);
    CheckState(true);

    const double dTarget = dHours * 3600;
    const uint64_t nStepLimit = static_cast<uint64_t>(dTarget * 50) + 10000;
    SResources baseline{};
    bool bBaseline = false;
    while (m_dPlayedSeconds < dTarget && m_stats.nSteps < nStepLimit) {
        Step();
        if (HasFailure()) {
            PrintRecent();
            break;
        }
        if (State() != PS_IDLE)
            continue;
        // Measured only between runs, where nothing of a file is held.
        if (!bBaseline && m_dPlayedSeconds >= dTarget * 0.1) {
            baseline = MeasureResources();
            bBaseline = true;
        }
        // Once past its maximum, the counter is put before it again: each
        // wrap stands for another half day of tones.
        if (m_bToneWrapped) {
            m_bToneWrapped = false;
            ArmToneWrap(30 * 60 * 44100);
        }
    }
    ASSERT_FALSE(HasFailure());
    EXPECT_GE(m_dPlayedSeconds, dTarget) << "the soak stopped after " << m_stats.nSteps << " steps" << Where();

    // Back to idle and measured there, as the baseline was.
    Click(View().m_bStopEnabled, EC::Stop, "stop");
    Settle();
    CheckState(true);
    ASSERT_TRUE(bBaseline) << "too short to measure the heap after a warm-up";
    const SResources end = MeasureResources();
    PrintStats(baseline, end);

    // Nothing a run holds is left behind by thousands of them: between runs
    // the same blocks live at the end as after the warm-up.
    EXPECT_LE(end.nHeapBytes - baseline.nHeapBytes, kHeapSlackBytes) << "the heap grew" << Where();
    if (baseline.nHeapBlocks >= 0) {
        EXPECT_LE(end.nHeapBlocks - baseline.nHeapBlocks, 8) << "blocks were left behind" << Where();
    }
    EXPECT_EQ(end.nDescriptors, baseline.nDescriptors) << "descriptors leaked" << Where();

    // Every path the soak is for was taken.
    EXPECT_GT(m_watch.m_nWrites, 0u) << "the wrapped write saw nothing";
    if (dHours >= 0.5) {
        EXPECT_GT(m_stats.nWaits, 0u);
        EXPECT_GT(m_stats.nSpeedRestarts, 0u);
        EXPECT_GT(m_stats.nToneWraps, 0u);
        EXPECT_GT(m_stats.nPartialPlays, 0u);
        EXPECT_GT(m_stats.nStalls, 0u);
        EXPECT_GT(m_stats.nDevicesLost, 0u);
        EXPECT_GT(Midnights(), 0);
    }

    CheckUninterruptedPlayback();
}

