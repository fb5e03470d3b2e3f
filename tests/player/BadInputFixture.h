// The player fed what it did not expect, as its tests run it: the scripted
// sound system plays buffers when the test says so, and a clock of the
// test's own runs the waits between files.
#pragma once

#include "PlayerFixture.h"

#include <cstdint>
#include <string>
#include <vector>

std::string Text(const Bytes& ab);
Bytes Joined(Bytes abFirst, const Bytes& abSecond);

class BadInputTest : public PlayerFixture {
protected:
    // Outside the wait between files each reading of the clock moves it on
    // by a millisecond; during the wait by m_nWaitStepMs, so that waits of
    // days pass in a few readings. The wait's readings are counted, and
    // after m_nStopAfterWaitReadings of them Stop is pressed: a wait that
    // would never end fails the test instead of hanging it.
    void SetUp() override;

    // Adds the entry as the add command does, without its filter, and saves.
    void AddAndSave(const std::string& strPath);
    std::vector<std::string> Paths();

    int m_nWaitStepMs = 3600 * 1000;
    int64_t m_nWaitedMs = 0;
    int m_nWaitReadings = 0;
    int m_nStopAfterWaitReadings = 1000;
};
