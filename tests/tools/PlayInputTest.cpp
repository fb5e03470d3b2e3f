// What the user types: --start times, and the keys velofon play takes.
#include "tools/PlayKeys.h"
#include "tools/PlaybackOptions.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TEST(StartTime, GoodTimesGiveTheFrameRoundedDown)
{
    struct SCase {
        const char* strTime;
        uint32_t nRate;
        uint64_t nFrame;
    };
    const SCase aCases[] = {
        {"0", 44100, 0},
        {"90", 8000, 720000},
        {"90.5", 22050, 1995525},
        {"1:30", 8000, 720000},
        {"1:30.25", 44100, 3980025},
        {"01:02:03", 1000, 3723000},
        {"1:02:03.5", 48000, 178728000},
        {"150:00", 100, 900000},
        // A double would make this 12788.999...
        {"0.29", 44100, 12789},
        {"0.0000226757", 44100, 0},
        {"0.0000226758", 44100, 1},
        {"4294967295.999999999999", UINT32_MAX, uint64_t {UINT32_MAX} * UINT32_MAX + UINT32_MAX - 1},
    };
    for (const SCase& c : aCases)
        EXPECT_EQ(ParseStartTime(c.strTime).Frame(c.nRate), c.nFrame) << c.strTime;
}

TEST(StartTime, BadTimesSayWhatIsTaken)
{
    for (const char* strTime : {"", "-5", "-0", "+5", " 5", "5 ", "abc", "nan", "inf", "1e3", "0x10", "1:60", "1:5",
             "1:005", "1::2", ":30", "1:30:", "1:02:60", "1:2:03", "1:00:00:00", "90.", ".5", "1.5:30", "1:30.5.5",
             "1,5", "4294967296", "71582789:00", "1193047:00:00", "99999999999999999999999"}) {
        try {
            ParseStartTime(strTime);
            ADD_FAILURE() << "taken: '" << strTime << "'";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(std::string(error.what()).rfind("--start ", 0), 0u) << error.what();
        }
    }
}

TEST(PlayKeys, TerminalBytesDecodeToKeys)
{
    struct SCase {
        std::string strBytes;
        EPlayKey eKey;
        size_t nBytes;
    };
    const SCase aCases[] = {
        {" ", EPlayKey::PauseResume, 1},
        {"<>", EPlayKey::PreviousInput, 1},
        {">", EPlayKey::NextInput, 1},
        {"\033[D", EPlayKey::Back, 3},
        {"\033[C ", EPlayKey::Forward, 3},
        {"\033OD", EPlayKey::Back, 3},
        {"\033[1;2D", EPlayKey::BackFar, 6},
        {"\033[1;2C", EPlayKey::ForwardFar, 6},
        // Other keys are taken whole and mean nothing here.
        {"q", EPlayKey::None, 1},
        {"\033[A", EPlayKey::None, 3},
        {"\033[1;5C", EPlayKey::NextChapter, 6},
        {"\033[1;5D", EPlayKey::PreviousChapter, 6},
        {"\033[1;3C", EPlayKey::None, 6},
        {"\033[15~", EPlayKey::None, 5},
        {"\033x", EPlayKey::None, 2},
        // Sequences whose rest has not come yet.
        {"", EPlayKey::None, 0},
        {"\033", EPlayKey::None, 0},
        {"\033[", EPlayKey::None, 0},
        {"\033[1;2", EPlayKey::None, 0},
        {"\033O", EPlayKey::None, 0},
    };
    for (const SCase& c : aCases) {
        const SKeyPress press = DecodeKey(c.strBytes);
        EXPECT_EQ(press.eKey, c.eKey) << testing::PrintToString(c.strBytes);
        EXPECT_EQ(press.nBytes, c.nBytes) << testing::PrintToString(c.strBytes);
    }
}

} // namespace
