#include "ChapterList.h"

#include <algorithm>

std::vector<SChapter> ReadChapters(const AVFormatContext* pFormat, int nRate)
{
    std::vector<SChapter> vChapters;
    for (unsigned i = 0; pFormat && nRate > 0 && i < pFormat->nb_chapters; ++i) {
        const AVChapter* pChapter = pFormat->chapters[i];
        if (pChapter->time_base.num <= 0 || pChapter->time_base.den <= 0)
            continue;
        // Rounded down, so that a jump to a chapter never lands after its
        // first sound; the stream's start time is no part of it, as in the
        // times the container gives.
        const int64_t nStart = av_rescale_rnd(pChapter->start, int64_t { pChapter->time_base.num } * nRate,
            pChapter->time_base.den, AV_ROUND_DOWN);
        const AVDictionaryEntry* pTitle = av_dict_get(pChapter->metadata, "title", nullptr, 0);
        SChapter chapter;
        chapter.nStartFrame = static_cast<uint64_t>(std::max<int64_t>(0, nStart));
        chapter.strTitle = pTitle ? pTitle->value : "";
        vChapters.push_back(std::move(chapter));
    }
    // Of two chapters at one frame, the one the file lists first stays.
    std::stable_sort(vChapters.begin(), vChapters.end(),
        [](const SChapter& a, const SChapter& b) { return a.nStartFrame < b.nStartFrame; });
    vChapters.erase(std::unique(vChapters.begin(), vChapters.end(),
                        [](const SChapter& a, const SChapter& b) { return a.nStartFrame == b.nStartFrame; }),
        vChapters.end());
    return vChapters;
}

void CutChapters(const std::vector<SChapter>& vAll, uint64_t nLength, std::vector<SChapter>& vChapters)
{
    vChapters.clear();
    for (const SChapter& chapter : vAll) {
        if (chapter.nStartFrame >= nLength)
            break;
        if (!vChapters.empty())
            vChapters.back().nEndFrame = chapter.nStartFrame;
        vChapters.push_back(chapter);
        vChapters.back().nEndFrame = nLength;
    }
}
