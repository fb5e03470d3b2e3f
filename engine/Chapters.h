// Where the chapter keys lead: the rules the window's controller and
// velofon play share, over a file's chapters as the decoder gives them
// (sorted by start, one per start frame).
#pragma once

#include "decoder/DecodedFile.h"

#include <cstdint>
#include <optional>
#include <vector>

// Within this much of a chapter's start, going back leads to the chapter
// before, as a second press comes within it.
constexpr uint32_t kChapterBackSeconds = 3;

// The chapter that holds nFrame, -1 when there are none or nFrame lies before the first.
int ChapterAt(const std::vector<SChapter>& chapters, uint64_t nFrame);

// Ctrl+Right: the next chapter's start, or nullopt when nFrame is in the last (or none).
std::optional<uint64_t> NextChapterStart(const std::vector<SChapter>& chapters, uint64_t nFrame);

// Ctrl+Left: the start of the chapter that holds nFrame, or of the previous one while nFrame lies
// within the first 3 s (kChapterBackSeconds, of the file's own time, at nRate) of it; nullopt
// without chapters. Before the first chapter, and back from within the first 3 s of it, that is
// the file's first frame.
std::optional<uint64_t> PreviousChapterStart(const std::vector<SChapter>& chapters, uint64_t nFrame, uint32_t nRate);
