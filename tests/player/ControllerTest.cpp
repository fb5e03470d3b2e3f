// The player's controller and commands as a state machine, without a
// display: the scripted sound system plays buffers when the test says so,
// a clock of the test's own runs the watchdog and the waits, and message
// boxes are answered by the test.
#include "../WavBytes.h"
#include "../engine/EngineProbe.h"
#include "PlayerObjects.h"

#include <gtest/gtest.h>

#include "app/Resource.h"
#include "app/VelofonPocketApp.h"
#include "decoder/DecodedFile.h"
#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/audio/ScriptedAudioBackend.h"
#include "platform/events/TimeOfDay.h"
#include "player/VelofonPocketView.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <sys/stat.h>

namespace {

// The test's clock: each reading moves it on by g_nStepMs, so that loops
// that poll it make progress; g_onAlarm runs once when it passes g_nAlarmMs.
int g_nNowMs = 0;
int g_nStepMs = 1;
int g_nAlarmMs = -1;
std::function<void()> g_onAlarm;

int TestClock()
{
    g_nNowMs = (g_nNowMs + g_nStepMs) % kMillisecondsPerDay;
    if (g_nAlarmMs >= 0 && g_nNowMs >= g_nAlarmMs) {
        g_nAlarmMs = -1;
        if (g_onAlarm)
            g_onAlarm();
    }
    return g_nNowMs;
}

int g_nAnswer = IDNO;
std::vector<std::string> g_astrAsked;

int AnswerBox(const std::string& strText, const std::string&, UINT)
{
    g_astrAsked.push_back(strText);
    return g_nAnswer;
}

using View = CVelofonPocketView;

class ControllerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_pApp = CreatePlayerObjects(TestClock, AnswerBox); }
    static void TearDownTestSuite() { DestroyPlayerObjects(s_pApp); }

    void SetUp() override
    {
        ::setenv("XDG_CONFIG_HOME", m_dir.Path().c_str(), 1);
        g_nNowMs = 12 * 3600 * 1000;
        g_nStepMs = 1;
        g_nAlarmMs = -1;
        g_onAlarm = nullptr;
        g_nAnswer = IDNO;
        g_astrAsked.clear();
        g_pEngine->Close();
        g_pEngine->m_bAlpha = 0;
    }

    void TearDown() override
    {
        // Whatever still plays is taken back before the sound system goes.
        if (m_pView && View::m_nPlayState == PS_RUNNING)
            m_pView->OnStop();
        Drain();
        g_pOutput->Close();
        s_pApp->m_pMainWnd = nullptr;
        m_pTemplate.reset();
        ::unsetenv("XDG_CONFIG_HOME");
    }

    // Speech-like 8000 Hz mono files: at 2.0x one second gives 16000 bytes, so
// a 3-second file fills two buffers and a 20-second one eleven.
    std::string Sound(const std::string& strName, size_t nSeconds = 3, uint32_t nRate = 8000)
    {
        std::vector<int16_t> asSamples(nSeconds * nRate);
        for (size_t i = 0; i < asSamples.size(); ++i)
            asSamples[i] = static_cast<int16_t>((i * (7 + strName.size())) % 3000 - 1500);
        return m_dir.Write(strName, MakeWav(1, nRate, 2, Samples16(asSamples)));
    }

    View& Start(const std::vector<std::string>& astrPlaylist, const std::string& strMoreSettings = "")
    {
        const std::string strSettings = PlaylistSettings(astrPlaylist, strMoreSettings);
        ::mkdir((m_dir.Path() + "/VelofonPocket").c_str(), 0700);
        m_dir.Write("VelofonPocket/" + s_pApp->GetAppName() + ".conf", Bytes(strSettings.begin(), strSettings.end()));
        m_pView = &OpenPlayer(*s_pApp, m_pTemplate, RUNTIME_CLASS(CVelofonPocketView));
        return *m_pView;
    }

    std::string Title() const { return m_pView->GetParent()->GetWindowText(); }

    static void Dispatch() { DispatchAll(); }
    bool PlayOne() { return PlayOneBuffer(m_sound); }
    void Drain() { PlayUntilDrained(m_sound); }

    void Click(int nID, UINT nCode = BN_CLICKED)
    {
        m_pView->PostMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(nID), nCode));
        Dispatch();
    }

    void Command(UINT nID)
    {
        m_pView->GetParent()->PostMessage(WM_COMMAND, MAKEWPARAM(nID, 0));
        Dispatch();
    }

    void Select(std::initializer_list<int> anRows)
    {
        m_pView->m_PlayListBox.SetSel(-1, false);
        for (int nRow : anRows)
            m_pView->m_PlayListBox.SetSel(nRow, true);
    }

    std::vector<int> SelectedRows() const
    {
        std::vector<int> anRows;
        for (int i = 0; i < m_pView->m_PlayListBox.GetCount(); ++i) {
            if (m_pView->m_PlayListBox.GetSel(i) > 0)
                anRows.push_back(i);
        }
        return anRows;
    }

    std::string Playing() const { return m_pView->m_FileNameLabel.GetText(); }

    static std::unique_ptr<CVelofonPocketApp> s_pApp;
    CTempDir m_dir;
    CScriptedAudioBackend m_sound;
    std::unique_ptr<CSingleDocTemplate> m_pTemplate;
    View* m_pView = nullptr;
};

std::unique_ptr<CVelofonPocketApp> ControllerTest::s_pApp;

const char kStoppedName[] = " . . . . . . . . . . . . . . . . . . . . . . . . . . . . ";

TEST_F(ControllerTest, PlayWithAnEmptyPlaylistStaysIdle)
{
    View& view = Start({});
    EXPECT_EQ(Title(), "STOP-Kuroto");
    Click(IDC_PLAY);
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_EQ(Title(), "STOP-Kuroto");
    EXPECT_EQ(view.m_FileNameLabel.GetText(), kStoppedName);
    EXPECT_EQ(view.m_TimeLabel.GetText(), "00:00:00");
    EXPECT_FALSE(m_sound.IsOpen());
}

TEST_F(ControllerTest, PlayStartsAtTheSelectionAndRunsToTheEndOfTheList)
{
    View& view = Start({Sound("a.wav"), Sound("b.wav"), Sound("c.wav"), Sound("d.wav")});
    Select({2});
    Click(IDC_PLAY);
    EXPECT_EQ(View::m_nPlayState, PS_RUNNING);
    EXPECT_EQ(Playing(), "c.wav");
    EXPECT_EQ(Title(), "PLAY-Kuroto");
    EXPECT_EQ(SelectedRows(), std::vector<int> {2});
    EXPECT_TRUE(view.m_StopButton.IsWindowEnabled());
    EXPECT_TRUE(view.m_PauseButton.IsWindowVisible());
    EXPECT_FALSE(view.m_PlayButton.IsWindowVisible());

    while (Playing() == "c.wav" && PlayOne()) {
    }
    EXPECT_EQ(Playing(), "d.wav");
    EXPECT_EQ(SelectedRows(), std::vector<int> {3});
    Drain();
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_EQ(View::m_nCurrent, -1);
    EXPECT_TRUE(SelectedRows().empty());
    EXPECT_EQ(view.m_FileNameLabel.GetText(), kStoppedName);
    EXPECT_EQ(view.m_TimeLabel.GetText(), "00:00:00");
    EXPECT_EQ(Title(), "STOP-Kuroto");
    EXPECT_FALSE(view.m_StopButton.IsWindowEnabled());
}

TEST_F(ControllerTest, PlayAfterStopStartsAtTheFirstEntry)
{
    Start({Sound("a.wav"), Sound("b.wav")});
    Select({1});
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "b.wav");
    Click(IDC_STOP);
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_TRUE(SelectedRows().empty());
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "a.wav");
}

TEST_F(ControllerTest, UnreadableEntriesAreSkipped)
{
    const std::string strMissing = m_dir.Path() + "/missing.wav";
    View& view = Start({strMissing, Sound("b.wav"), strMissing});
    Select({0});
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "b.wav");
    Click(IDC_STOP);

    // The selected entry is the last one and unreadable: nothing plays and
    // the display is left as it was.
    view.m_FileNameLabel.SetText("kept.wav");
    Select({2});
    Click(IDC_PLAY);
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_EQ(view.m_FileNameLabel.GetText(), "kept.wav");
}

TEST_F(ControllerTest, RepeatOneAndRepeatAll)
{
    Start({Sound("a.wav", 1), Sound("b.wav", 1)}, "Repeat=2\n");
    Select({1});
    Click(IDC_PLAY);
    const int nOpens = m_sound.GetOpenCount();
    while (m_sound.GetOpenCount() == nOpens && PlayOne()) {
    }
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(View::m_nCurrent, 1);

    Command(ID_REPEAT_ALL);
    const int nOpensAll = m_sound.GetOpenCount();
    while (m_sound.GetOpenCount() == nOpensAll && PlayOne()) {
    }
    EXPECT_EQ(Playing(), "a.wav");
    EXPECT_EQ(View::m_nCurrent, 0);
}

TEST_F(ControllerTest, TheWaitBetweenFilesAndStopDuringIt)
{
    View& view = Start({Sound("a.wav", 1), Sound("b.wav", 1)}, "WaitSec=2000\n");
    Click(IDC_PLAY);
    g_nStepMs = 50;
    const int nEndOfFirst = g_nNowMs;
    bool bSeenWaiting = false;
    g_nAlarmMs = g_nNowMs + 1000;
    g_onAlarm = [&] {
        bSeenWaiting = view.m_bPlayWaitFlag && !view.m_PlayButton.IsWindowEnabled() &&
            view.m_StopButton.IsWindowEnabled();
    };
    while (Playing() == "a.wav" && PlayOne()) {
    }
    EXPECT_TRUE(bSeenWaiting);
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_GE(g_nNowMs - nEndOfFirst, 2000);
    EXPECT_TRUE(view.m_PlayButton.IsWindowEnabled());

    // Stop in the middle of the next wait.
    g_nAlarmMs = g_nNowMs + 1000;
    g_onAlarm = [&] { m_pView->PostMessage(WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED)); };
    Drain();
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_FALSE(view.m_bPlayWaitFlag);
    EXPECT_EQ(view.m_FileNameLabel.GetText(), kStoppedName);
    EXPECT_EQ(View::m_nCurrent, -1);
}

TEST_F(ControllerTest, AWaitAcrossMidnightEndsAfterItsTime)
{
    Start({Sound("a.wav", 1), Sound("b.wav", 1)}, "WaitSec=3000\n");
    g_nNowMs = kMillisecondsPerDay - 1000;
    Click(IDC_PLAY);
    g_nStepMs = 100;
    while (Playing() == "a.wav" && PlayOne()) {
    }
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_GE(g_nNowMs, 2000 - 1000);
    EXPECT_LT(g_nNowMs, 60000);
}

TEST_F(ControllerTest, ADoubleClickDuringTheWaitTakesOver)
{
    View& view = Start({Sound("a.wav", 1), Sound("b.wav", 1), Sound("c.wav", 1)}, "WaitSec=2000\n");
    Click(IDC_PLAY);
    g_nStepMs = 50;
    g_nAlarmMs = g_nNowMs + 500;
    g_onAlarm = [&] {
        Select({2});
        m_pView->PostMessage(WM_COMMAND, MAKEWPARAM(IDC_PLAYLIST, LBN_DBLCLK));
    };
    while (Playing() == "a.wav" && PlayOne()) {
    }
    // The chosen entry plays; the end of the wait started and stopped nothing.
    EXPECT_EQ(Playing(), "c.wav");
    EXPECT_EQ(View::m_nPlayState, PS_RUNNING);
    EXPECT_EQ(View::m_nCurrent, 2);
    EXPECT_FALSE(view.m_bPlayWaitFlag);
    EXPECT_TRUE(view.m_StopButton.IsWindowEnabled());
    EXPECT_EQ(SelectedRows(), std::vector<int> {2});
}

TEST_F(ControllerTest, PauseAndResumeWithoutTheWatchdogFiring)
{
    Start({Sound("a.wav", 20)});
    Click(IDC_PLAY);
    PlayOne();
    Click(IDC_PAUSE);
    EXPECT_TRUE(g_pOutput->m_bPaused);
    EXPECT_EQ(Title(), "PAUSE-Kuroto");
    EXPECT_TRUE(m_pView->m_PlayButton.IsWindowVisible());
    EXPECT_FALSE(PlayOne());
    g_nNowMs += 60000; // a long pause
    Click(IDC_PLAY);
    EXPECT_FALSE(g_pOutput->m_bPaused);
    EXPECT_EQ(Title(), "PLAY-Kuroto");
    EXPECT_TRUE(PlayOne());
    EXPECT_EQ(View::m_nPlayState, PS_RUNNING);
}

TEST_F(ControllerTest, StopWhilePausedResumesResetsAndAllowsANewStart)
{
    Start({Sound("a.wav", 20)});
    Click(IDC_PLAY);
    PlayOne();
    Click(IDC_PAUSE);
    const size_t nPlayed = m_sound.GetPlayed().size();
    Click(IDC_STOP);
    EXPECT_FALSE(g_pOutput->m_bPaused);
    EXPECT_FALSE(m_sound.IsPaused());
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_EQ(Title(), "STOP-Kuroto");
    Drain();
    EXPECT_EQ(m_sound.GetPlayed().size(), nPlayed) << "nothing plays after Stop";
    Click(IDC_PLAY);
    EXPECT_EQ(View::m_nPlayState, PS_RUNNING);
    EXPECT_TRUE(PlayOne());
}

TEST_F(ControllerTest, ADoubleClickWhilePlayingCutsOverToTheChosenEntry)
{
    Start({Sound("a.wav", 20), Sound("b.wav"), Sound("c.wav")}, "WaitSec=5000\nRepeat=2\n");
    Click(IDC_PLAY);
    PlayOne();
    const int nClock = g_nNowMs;
    const size_t nPlayed = m_sound.GetPlayed().size();
    Select({2});
    // The returned buffers come back at once; handling them starts the entry.
    Click(IDC_PLAYLIST, LBN_DBLCLK);
    EXPECT_EQ(Playing(), "c.wav");
    EXPECT_EQ(m_sound.GetPlayed().size(), nPlayed) << "nothing more of the old file";
    EXPECT_EQ(View::m_nCurrent, 2);
    EXPECT_EQ(View::m_nPending, -1);
    EXPECT_EQ(View::m_nPlayState, PS_RUNNING);
    EXPECT_LT(g_nNowMs - nClock, 5000) << "the wait is not applied to a double-click";
}

TEST_F(ControllerTest, ASpeedChangeRestartsTheFileWhereTheEngineWas)
{
    View& view = Start({Sound("a.wav", 20)});
    Click(IDC_PLAY);
    PlayOne();
    const int nRange = view.m_Progress.GetMaximum();
    const uint64_t nPosition = g_pEngine->GetPosition();
    size_t nInFlight = 0;
    for (int nSlot = 0; nSlot < WAVE_BUFFER_COUNT; ++nSlot) {
        if (g_pOutput->GetHeader(nSlot)->dwFlags & WHDR_INQUEUE)
            nInFlight += g_pOutput->GetHeader(nSlot)->dwBufferLength;
    }
    const size_t nPlayedBefore = m_sound.GetPlayed().size();
    const int nOpens = m_sound.GetOpenCount();
    Click(IDC_SPEED_UP);
    Click(IDC_SPEED_UP); // a second press before the restart moves the index only
    EXPECT_EQ(view.m_SpeedLabel.GetText(), "2.2");
    EXPECT_TRUE(View::m_bResumeRequest);
    EXPECT_EQ(View::m_nResumePos, nPosition);
    EXPECT_EQ(g_pOutput->GetState(), WOS_STOP_REQUESTED);

    // The buffers in flight play out and nothing more is written.
    while (m_sound.GetOpenCount() == nOpens && PlayOne()) {
    }
    EXPECT_EQ(m_sound.GetOpenCount(), nOpens + 1) << "one restart";
    EXPECT_EQ(m_sound.GetPlayed().size(), nPlayedBefore + nInFlight)
        << "only the buffers still in flight played before the restart";
    EXPECT_EQ(View::m_nPlayState, PS_RUNNING);
    EXPECT_FALSE(View::m_bResumeRequest);
    EXPECT_EQ(View::m_nSpeedHoldoff, 2);
    EXPECT_EQ(view.m_Progress.GetMaximum(), nRange);

    // The hold-off swallows speed presses until two notifications passed.
    Click(IDC_SPEED_UP);
    EXPECT_EQ(view.m_SpeedLabel.GetText(), "2.2");
    PlayOne();
    PlayOne();
    Click(IDC_SPEED_DOWN);
    EXPECT_EQ(view.m_SpeedLabel.GetText(), "2.1");
}

// A speed change never changes a sample of a decoded file: the restart takes
// the parked decoder back where the engine stopped reading, without a seek.
// What plays after the restart is compared with the engine reading an
// uninterrupted decode, saved as a plain WAV, from the same frame.
TEST_F(ControllerTest, ASpeedChangeContinuesTheDecoderWhereItStood)
{
    for (const char* strCodec : { "libmp3lame", "libopus" }) {
        const std::string strSource = Sound("source.wav", 20);
        const std::string strCoded = m_dir.Path() + "/speech." + (std::string(strCodec) == "libopus" ? "opus" : "mp3");
        const std::string strEncode = "ffmpeg -nostdin -loglevel error -y -i " + strSource + " -c:a " + strCodec + " "
            + strCoded;
        ASSERT_EQ(std::system(strEncode.c_str()), 0) << "the tests need the ffmpeg program";
        CDecodedFile decoded;
        ASSERT_TRUE(decoded.Open(strCoded)) << decoded.GetError();
        Bytes abDecoded(1 << 20);
        size_t nDecoded = 0;
        for (uint32_t n; (n = decoded.Read(abDecoded.data() + nDecoded, 1 << 16)) > 0;) {
            nDecoded += n;
            abDecoded.resize(nDecoded + (1 << 16));
        }
        abDecoded.resize(nDecoded);
        const uint16_t nBlock = static_cast<uint16_t>(2 * decoded.GetChannels());
        const std::string strReference = m_dir.Write("reference.wav",
            MakeWav(decoded.GetChannels(), decoded.GetSampleRate(), nBlock, abDecoded));

        Start({ strCoded });
        Click(IDC_PLAY);
        PlayOne();
        Click(IDC_SPEED_UP);
        const uint64_t nResumePos = View::m_nResumePos;
        ASSERT_GT(nResumePos, 0u);
        const int nOpens = m_sound.GetOpenCount();
        while (m_sound.GetOpenCount() == nOpens && PlayOne()) {
        }
        ASSERT_EQ(m_sound.GetOpenCount(), nOpens + 1) << strCodec << ": one restart";
        const size_t nRestartedAt = m_sound.GetPlayed().size();
        for (int i = 0; i < 6; ++i)
            PlayOne();
        const Bytes abAfter(m_sound.GetPlayed().begin() + static_cast<long>(nRestartedAt), m_sound.GetPlayed().end());
        ASSERT_GT(abAfter.size(), 0u);
        m_pView->OnStop();
        Drain();

        CSpeedEngine reference(1.0);
        reference.m_nMixingGain = g_pEngine->m_nMixingGain;
        reference.m_bAlpha = 0;
        ASSERT_TRUE(reference.Open(strReference, SpeedOfIndex(m_pView->m_nSpeedIdx)));
        reference.Seek(44 + nResumePos); // past the canonical header
        Bytes abExpected;
        Bytes abBuffer(WAVE_BUFFER_BYTES);
        while (abExpected.size() < abAfter.size()) {
            const uint32_t n = reference.Fill(abBuffer.data(), WAVE_BUFFER_BYTES);
            ASSERT_GT(n, 0u);
            abExpected.insert(abExpected.end(), abBuffer.begin(), abBuffer.begin() + n);
        }
        abExpected.resize(abAfter.size());
        EXPECT_TRUE(abAfter == abExpected) << strCodec;
    }
}

TEST_F(ControllerTest, StopDuringASpeedHoldoffFreesTheSpeedButtons)
{
    View& view = Start({Sound("a.wav", 20)});
    Click(IDC_PLAY);
    PlayOne();
    // A restart close to the end fills fewer buffers than the hold-off
    // counts, so Stop returns fewer notifications than it waits for.
    Click(IDC_SPEED_UP);
    View::m_nResumePos = g_pEngine->SoundFile().WaveFile().DataEnd() - 12000;
    const int nOpens = m_sound.GetOpenCount();
    while (m_sound.GetOpenCount() == nOpens && PlayOne()) {
    }
    ASSERT_EQ(View::m_nSpeedHoldoff, 2);
    Click(IDC_STOP);
    Click(IDC_SPEED_UP);
    EXPECT_EQ(view.m_SpeedLabel.GetText(), "2.2");
}

TEST_F(ControllerTest, ASpeedChangeWhileIdleIsDroppedByTheNextPlay)
{
    View& view = Start({Sound("a.wav")});
    Click(IDC_SPEED_DOWN);
    EXPECT_TRUE(View::m_bResumeRequest);
    Click(IDC_PLAY);
    EXPECT_FALSE(View::m_bResumeRequest);
    EXPECT_EQ(view.m_SpeedLabel.GetText(), "1.9");
    Drain();
    EXPECT_EQ(m_sound.GetOpenCount(), 1) << "no restart after the end";
}

TEST_F(ControllerTest, ADoubleClickDuringASpeedDrainWaitsForTheRestartedFile)
{
    Start({Sound("a.wav", 20), Sound("b.wav", 1), Sound("c.wav", 1)});
    Click(IDC_PLAY);
    PlayOne();
    Click(IDC_SPEED_UP);
    const int nOpens = m_sound.GetOpenCount();
    Select({2});
    // The reset returns every buffer at once and the drain ends at once.
    Click(IDC_PLAYLIST, LBN_DBLCLK);
    EXPECT_EQ(m_sound.GetOpenCount(), nOpens + 1);
    EXPECT_EQ(Playing(), "a.wav") << "the restart comes first";
    EXPECT_EQ(View::m_nPending, 2);
    const int nOpensRestarted = m_sound.GetOpenCount();
    while (m_sound.GetOpenCount() == nOpensRestarted && PlayOne()) {
    }
    EXPECT_EQ(Playing(), "c.wav") << "then the chosen entry, in place of the next one";
}

TEST_F(ControllerTest, AStopRightAfterADoubleClickLeavesNothingPending)
{
    Start({Sound("a.wav", 1), Sound("b.wav", 1), Sound("c.wav", 1)});
    Click(IDC_PLAY);
    PlayOne();
    // Both clicks wait in the queue: Stop comes before the returned buffers.
    Select({2});
    m_pView->PostMessage(WM_COMMAND, MAKEWPARAM(IDC_PLAYLIST, LBN_DBLCLK));
    m_pView->PostMessage(WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED));
    Dispatch();
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_EQ(View::m_nPending, -1);

    // The next run goes through the list in order.
    Click(IDC_PLAY);
    EXPECT_EQ(Playing(), "a.wav");
    while (Playing() == "a.wav" && PlayOne()) {
    }
    EXPECT_EQ(Playing(), "b.wav");
}

TEST_F(ControllerTest, APauseClickHandledDuringTheWaitStartsNothing)
{
    View& view = Start({Sound("a.wav", 1), Sound("b.wav", 1), Sound("c.wav", 1)}, "WaitSec=2000\n");
    Click(IDC_PLAY);
    g_nStepMs = 50;
    // a.wav fits one buffer. Pause is clicked as it ends: the click waits in
    // the queue behind the notification and is handled by the wait.
    ASSERT_EQ(g_pOutput->GetState(), WOS_END_OF_DATA);
    m_sound.CompleteNext();
    m_pView->PostMessage(WM_COMMAND, MAKEWPARAM(IDC_PAUSE, BN_CLICKED));
    Dispatch();
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(View::m_nCurrent, 1);
    EXPECT_EQ(View::m_nPlayState, PS_RUNNING);
    EXPECT_TRUE(view.m_StopButton.IsWindowEnabled());
    EXPECT_EQ(m_sound.GetOpenCount(), 2) << "only b.wav started after a.wav";
}

TEST_F(ControllerTest, ARestartWithNothingLeftToReadGoesOnToTheNextFile)
{
    Start({Sound("a.wav", 20), Sound("b.wav")});
    Click(IDC_PLAY);
    PlayOne();
    Click(IDC_SPEED_UP);
    // The reader runs ahead of what is heard: it may have read the whole file
    // by the time the speed changes, before it has seen the end.
    View::m_nResumePos = g_pEngine->SoundFile().WaveFile().DataEnd();
    const int nOpens = m_sound.GetOpenCount();
    while (m_sound.GetOpenCount() == nOpens && PlayOne()) {
    }
    EXPECT_EQ(Playing(), "b.wav");
    EXPECT_EQ(View::m_nCurrent, 1);
    EXPECT_EQ(View::m_nPlayState, PS_RUNNING);
    EXPECT_FALSE(View::m_bResumeRequest);
}

TEST_F(ControllerTest, StaleNotificationsDoNotTouchANewRun)
{
    const std::string strA = Sound("a.wav", 2);
    Start({strA});
    Click(IDC_PLAY);
    // Stop, and start again before the returned buffers are handled.
    m_pView->OnStop();
    m_pView->OnPlay();
    Drain();
    // The new run played its file whole: every byte the engine makes for it.
    auto pReference = std::make_unique<CSpeedEngine>(2.0);
    pReference->m_bAlpha = 0;
    pReference->m_nMixingGain = g_pEngine->m_nMixingGain;
    ASSERT_TRUE(pReference->Open(strA, 2.0));
    pReference->Seek(0);
    Bytes abExpected;
    Bytes abBuffer(WAVE_BUFFER_BYTES);
    while (const uint32_t nBytes = pReference->Fill(abBuffer.data(), WAVE_BUFFER_BYTES))
        abExpected.insert(abExpected.end(), abBuffer.begin(), abBuffer.begin() + nBytes);
    EXPECT_EQ(m_sound.GetPlayed(), abExpected);
}

TEST_F(ControllerTest, StopDispatchedInsideTheBufferHandlingEndsTheRun)
{
    Start({Sound("a.wav")});
    Click(IDC_PLAY);
    // Queued before the notification, so one of its three pumps handles it.
    m_sound.CompleteNext();
    m_pView->PostMessage(WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED));
    Dispatch();
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    Drain();
    EXPECT_EQ(View::m_nPlayState, PS_IDLE);
    EXPECT_EQ(Title(), "STOP-Kuroto");
}

TEST_F(ControllerTest, NotificationsStallingEndTheProgram)
{
    EXPECT_EXIT(
        {
            Start({Sound("a.wav")});
            Click(IDC_PLAY);
            g_nNowMs += 5000;
            PlayOne();
        },
        ::testing::ExitedWithCode(255), "");
}

TEST_F(ControllerTest, SpeedButtonsMoveTheIndexWithinItsBoundsAndSave)
{
    View& view = Start({});
    for (int i = 0; i < 9; ++i)
        Click(IDC_SPEED_UP);
    EXPECT_EQ(view.m_SpeedLabel.GetText(), "2.9");
    EXPECT_EQ(s_pApp->GetProfileInt(kSettingsSection, "SpeedIdx", -1), 19);
    for (int i = 0; i < 20; ++i)
        Click(IDC_SPEED_UP);
    EXPECT_EQ(view.m_SpeedLabel.GetText(), "4.0");
    View::m_bResumeRequest = false;
    Click(IDC_SPEED_UP);
    EXPECT_EQ(view.m_nSpeedIdx, 30);
    EXPECT_TRUE(View::m_bResumeRequest) << "a press at the bound still requests a restart";

    View::m_nSpeedHoldoff = 1;
    Click(IDC_SPEED_DOWN);
    EXPECT_EQ(view.m_SpeedLabel.GetText(), "4.0");
    EXPECT_EQ(s_pApp->GetProfileInt(kSettingsSection, "SpeedIdx", -1), 30);
}

TEST_F(ControllerTest, TheAlphaQuestionGuardsSwitchingTheTonesOn)
{
    View& view = Start({});
    CCommandBar& bar = static_cast<CMainFrame*>(view.GetParent())->m_wndCommandBar;
    g_nAnswer = IDNO;
    Command(ID_ALPHA_MAX + 9); // 5%
    ASSERT_EQ(g_astrAsked.size(), 1u);
    EXPECT_EQ(g_astrAsked[0], kAlphaQuestion);
    EXPECT_EQ(view.m_nAlphaControl, 0);
    EXPECT_EQ(g_pEngine->m_bAlpha, 0);
    bar.UpdateMenuItems();
    EXPECT_TRUE(bar.IsItemChecked(ID_ALPHA_OFF));

    g_nAnswer = IDYES;
    Command(ID_ALPHA_MAX + 9);
    EXPECT_EQ(view.m_nAlphaControl, 5);
    EXPECT_EQ(g_pEngine->m_bAlpha, 1);
    EXPECT_EQ(g_pEngine->m_nAlphaLevel, 5);
    Command(ID_ALPHA_MAX + 1); // 45%: no question while the tones are on
    EXPECT_EQ(g_astrAsked.size(), 2u);
    EXPECT_EQ(g_pEngine->m_nAlphaLevel, 45);
    Command(ID_ALPHA_OFF);
    EXPECT_EQ(g_astrAsked.size(), 2u);
    EXPECT_EQ(g_pEngine->m_bAlpha, 0);
    EXPECT_EQ(s_pApp->GetProfileInt(kSettingsSection, "AlphaControl", -1), 0);
    bar.UpdateMenuItems();
    EXPECT_TRUE(bar.IsItemChecked(ID_ALPHA_OFF));
    EXPECT_FALSE(bar.IsItemChecked(ID_ALPHA_MAX + 1));
}

TEST_F(ControllerTest, MixingAndRepeatItemsSetTheirValuesAndMarks)
{
    View& view = Start({});
    CCommandBar& bar = static_cast<CMainFrame*>(view.GetParent())->m_wndCommandBar;
    Command(ID_MIXING_MAX + 1); // 90%
    EXPECT_EQ(g_pEngine->m_nMixingGain, 18);
    Command(ID_MIXING_OFF);
    EXPECT_EQ(g_pEngine->m_nMixingGain, 0);
    EXPECT_EQ(s_pApp->GetProfileInt(kSettingsSection, "MixingVolume", -1), 0);
    Command(ID_REPEAT_ONE);
    EXPECT_EQ(view.m_nRepeat, REPEAT_ONE);
    bar.UpdateMenuItems();
    EXPECT_TRUE(bar.IsItemChecked(ID_MIXING_OFF));
    EXPECT_FALSE(bar.IsItemChecked(ID_MIXING_MAX));
    EXPECT_TRUE(bar.IsItemChecked(ID_REPEAT_ONE));
    EXPECT_FALSE(bar.IsItemChecked(ID_REPEAT_NONE));
    // Items without update handlers are enabled and unmarked.
    EXPECT_TRUE(bar.IsItemEnabled(ID_LIST_ADD));
    EXPECT_FALSE(bar.IsItemChecked(ID_LIST_ADD));
    EXPECT_EQ(MixingOfCommand(ID_MIXING_MAX + 5), 50);
    EXPECT_EQ(AlphaOfCommand(ID_ALPHA_MAX), 50);
}

TEST_F(ControllerTest, RemovingAndSelectingPlaylistLines)
{
    View& view = Start({"/0.wav", "/1.wav", "/2.wav", "/3.wav", "/4.wav"});
    Select({1, 3});
    Command(ID_LIST_DELETE);
    EXPECT_EQ(view.m_PlayList.GetCount(), 3);
    EXPECT_EQ(view.m_PlayList.GetPath(1), "/2.wav");
    EXPECT_EQ(view.m_PlayListBox.GetText(2), "4.wav");
    EXPECT_EQ(s_pApp->GetProfileInt(kSettingsSection, "PlayListCount", -1), 3);

    Select({0, 2});
    Click(IDC_SELECT_ALL);
    EXPECT_TRUE(SelectedRows().empty());
    Select({2});
    Click(IDC_SELECT_ALL);
    EXPECT_EQ(SelectedRows(), (std::vector<int> {0, 1, 2}));
}

TEST_F(ControllerTest, TheHelpPageStandsBesideTheExecutable)
{
    EXPECT_EQ(HelpPagePath("/opt/VelofonPocket/VelofonPocket"), "/opt/VelofonPocket/help.html");
    EXPECT_EQ(HelpPagePath("/usr/lib/velofonpocket/VelofonPocket"), "/usr/lib/velofonpocket/help.html");
    EXPECT_EQ(HelpPagePath("/home/u/bin/player"), "help.html");
    EXPECT_EQ(HelpPagePath("/home/u/bin/velofonpocket"), "help.html");
}

} // namespace
