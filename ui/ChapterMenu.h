// The chapters of the entry that plays as a pop-up list to jump from, the
// one being heard marked: for a right-click on the progress bar or the
// file's name, and for the key 'l'.
#pragma once

#include "decoder/DecodedFile.h"

#include <vector>

// Pops the list up at the mouse and returns the index chosen, or -1 when
// none was (or there are no chapters).
int ChooseChapter(const std::vector<SChapter>& chapters, int nCurrent, uint32_t nRate);
