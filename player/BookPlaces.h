// How far back playing resumes after the listener was away, who by then has
// lost the thread of the sentence. A pure rule over frames of the file's own
// time, so that the speed it plays at does not change it.
#pragma once

#include <cstdint>

// Where a file at nRate Hz resumes that was left at nFrame nAwayMs ago: up to
// 20 seconds before it, the longer away the further, but never before
// nFloorFrame (nor the file's start) and never after nFrame. A negative time
// away (the clock set back) goes back nothing.
uint64_t RewindOnResume(uint64_t nFrame, uint64_t nFloorFrame, int64_t nAwayMs, uint32_t nRate);
