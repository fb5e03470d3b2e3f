// The sound device that cannot be opened, that the sound system stops under a
// run, or that goes silent: the player stops and says so, once. A program
// that did not run for a while (a suspend) is no silent device.
#include "PlayerFixture.h"

namespace {

using EC = EPlayerCommand;

class DeviceLossTest : public PlayerFixture {
protected:
    void ExpectStoppedSaying(const std::vector<std::string>& astrMessages, const std::string& strWhat)
    {
        EXPECT_EQ(State(), PS_IDLE) << strWhat;
        EXPECT_EQ(View().m_strCaption, "STOP-Kuroto") << strWhat;
        EXPECT_EQ(Playing(), kStoppedFileName) << strWhat;
        EXPECT_FALSE(m_sound.IsOpen()) << strWhat;
        EXPECT_EQ(View().m_astrMessages, astrMessages) << strWhat;
    }
};

TEST_F(DeviceLossTest, EachPressWithoutADeviceTellsWhyOnce)
{
    const std::string strMessage = std::string(kNoDeviceMessage) + "\nno sound device (scripted)";
    for (const EC eCommand : {EC::Play, EC::PlaySelected, EC::Resume}) {
        const std::string strWhat = "command " + std::to_string(static_cast<int>(eCommand));
        Start({Sound("a.wav"), Sound("b.wav"), Sound("c.wav")});
        m_sound.SetOpenFails(true);
        Select({0});
        Post(eCommand);
        Post(eCommand);
        EXPECT_EQ(State(), PS_IDLE) << strWhat;
        EXPECT_EQ(View().m_strCaption, "STOP-Kuroto") << strWhat;
        EXPECT_EQ(View().m_astrMessages, std::vector<std::string>(2, strMessage)) << strWhat;
        m_sound.SetOpenFails(false);
    }
}

// A device that goes away between two files is lost to the run.
TEST_F(DeviceLossTest, NoDeviceForTheNextEntryEndsTheRunWithAMessage)
{
    Start({Sound("a.wav"), Sound("b.wav"), Sound("c.wav")});
    Post(EC::Play);
    m_sound.SetOpenFails(true);
    Drain();
    ExpectStoppedSaying({kDeviceLostMessage}, "the next entry");
}

// Steps: N a notification, T a Tick on time, D a Tick a second late (the
// loop held up), S the program stopped for longer than the watchdog
// allows, P the Play/Pause button, L the sound system stops the device.
TEST_F(DeviceLossTest, ARunStopsWhenTheDeviceStopsOrGoesSilent)
{
    struct SCase {
        const char* strWhat;
        const char* strSteps;
        bool bLost;
    };
    const SCase aCases[] = {
        {"the device stopped, seen at a notification", "NLN", true},
        {"ticks for seconds without a notification", "NTTTTTTTTTT", true},
        {"notifications between the ticks", "NTTNTTNTTNTTN", false},
        {"a suspend: a late tick, then a late notification", "NTSTNTTNTTN", false},
        {"a suspend: a late notification, then a late tick", "NTSNTTTNTTN", false},
        {"a suspend, then silence", "NTSTTTTTTTTTT", true},
        {"a long pause", "NPTTTTTTTTTTPN", false},
        {"a loop late at every tick", "NDDDDDDN", false},
        {"a late loop, then silence", "NDDDTTTTTTTTTT", true},
    };
    for (const SCase& c : aCases) {
        Start({Sound("a.wav", 30)});
        Post(EC::Play);
        for (const char* pStep = c.strSteps; *pStep; ++pStep) {
            if (*pStep == 'N') {
                PlayOne();
            } else if (*pStep == 'T') {
                STestClock::nNowMs += kPlayerTickMs;
                Post(EC::Tick);
            } else if (*pStep == 'D') {
                STestClock::nNowMs += kPlayerTickMs + 1000;
                Post(EC::Tick);
            } else if (*pStep == 'S') {
                Stall();
            } else if (*pStep == 'P') {
                Post(EC::Play);
            } else if (*pStep == 'L') {
                m_sound.LoseDevice();
            }
        }
        if (c.bLost) {
            ExpectStoppedSaying({kDeviceLostMessage}, c.strWhat);
        } else {
            EXPECT_EQ(State(), PS_RUNNING) << c.strWhat;
            EXPECT_TRUE(m_sound.IsOpen()) << c.strWhat;
            EXPECT_TRUE(View().m_astrMessages.empty()) << c.strWhat;
        }
    }
}

} // namespace
