#include "Chapters.h"

#include <algorithm>

int ChapterAt(const std::vector<SChapter>& chapters, uint64_t nFrame)
{
    const auto itAfter = std::upper_bound(chapters.begin(), chapters.end(), nFrame,
        [](uint64_t nAt, const SChapter& chapter) { return nAt < chapter.nStartFrame; });
    return static_cast<int>(itAfter - chapters.begin()) - 1;
}

std::optional<uint64_t> NextChapterStart(const std::vector<SChapter>& chapters, uint64_t nFrame)
{
    const size_t nNext = static_cast<size_t>(ChapterAt(chapters, nFrame) + 1);
    if (nNext >= chapters.size())
        return std::nullopt;
    return chapters[nNext].nStartFrame;
}

std::optional<uint64_t> PreviousChapterStart(const std::vector<SChapter>& chapters, uint64_t nFrame, uint32_t nRate)
{
    if (chapters.empty())
        return std::nullopt;
    const int nChapter = ChapterAt(chapters, nFrame);
    if (nChapter < 0)
        return 0;
    const uint64_t nStart = chapters[static_cast<size_t>(nChapter)].nStartFrame;
    if (nFrame - nStart >= uint64_t { kChapterBackSeconds } * nRate)
        return nStart;
    return nChapter > 0 ? chapters[static_cast<size_t>(nChapter) - 1].nStartFrame : 0;
}
