#include "BadInputFixture.h"

#include "platform/events/TimeOfDay.h"

std::string Text(const Bytes& ab)
{
    return std::string(ab.begin(), ab.end());
}

Bytes Joined(Bytes abFirst, const Bytes& abSecond)
{
    abFirst.insert(abFirst.end(), abSecond.begin(), abSecond.end());
    return abFirst;
}

void BadInputTest::SetUp()
{
    PlayerFixture::SetUp();
    STestClock::onRead = [this] {
        if (!CControllerProbe::Waiting(Controller()))
            return;
        STestClock::nNowMs = (STestClock::nNowMs + m_nWaitStepMs - 1) % kMillisecondsPerDay;
        m_nWaitedMs += m_nWaitStepMs;
        if (++m_nWaitReadings == m_nStopAfterWaitReadings)
            Queue(EPlayerCommand::Stop);
    };
}

void BadInputTest::AddAndSave(const std::string& strPath)
{
    CControllerProbe::Add(Controller(), strPath);
    Controller().SaveSettings();
}

std::vector<std::string> BadInputTest::Paths()
{
    std::vector<std::string> astrPaths;
    for (int i = 0; i < Controller().GetPlayList().GetCount(); ++i)
        astrPaths.push_back(Controller().GetPlayList().GetPath(i));
    return astrPaths;
}
