// Where the chapter keys lead, at, near and past a chapter's start.
#include "engine/Chapters.h"

#include <gtest/gtest.h>

namespace {

TEST(Chapters, KeysLeadToTheChapterStartsAroundAFrame)
{
    // At 1000 frames a second, the 3 s back are 3000 frames.
    constexpr uint32_t kRate = 1000;
    const std::vector<SChapter> three = { { 0, 10000, "" }, { 10000, 20000, "" }, { 20000, 30000, "" } };
    const std::vector<SChapter> leadIn = { { 5000, 15000, "" }, { 15000, 30000, "" } };
    const std::vector<SChapter> none;
    struct SCase {
        const std::vector<SChapter>& chapters;
        uint64_t nFrame;
        int nAt;
        std::optional<uint64_t> next;
        std::optional<uint64_t> previous;
    };
    const SCase aCases[] = {
        { three, 0, 0, 10000, 0 },
        { three, 9999, 0, 10000, 0 },
        // Back within the first 3 s of a chapter leads to the one before.
        { three, 10000, 1, 20000, 0 },
        { three, 12999, 1, 20000, 0 },
        { three, 13000, 1, 20000, 10000 },
        { three, 20000, 2, std::nullopt, 10000 },
        { three, 40000, 2, std::nullopt, 20000 },
        // Before the first chapter, the way back is the file's start.
        { leadIn, 4999, -1, 5000, 0 },
        { leadIn, 5000, 0, 15000, 0 },
        { leadIn, 9000, 0, 15000, 5000 },
        { none, 5000, -1, std::nullopt, std::nullopt },
    };
    for (const SCase& c : aCases) {
        SCOPED_TRACE(testing::Message() << "frame " << c.nFrame << " of " << c.chapters.size() << " chapters");
        EXPECT_EQ(ChapterAt(c.chapters, c.nFrame), c.nAt);
        EXPECT_EQ(NextChapterStart(c.chapters, c.nFrame), c.next);
        EXPECT_EQ(PreviousChapterStart(c.chapters, c.nFrame, kRate), c.previous);
    }
}

} // namespace
