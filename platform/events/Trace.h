// Debug trace points: a text, the source file and the line mark a branch of
// the player. The released program does nothing with them; they stay in the
// code as markers of the branches and as a place to hook a debugger.
#pragma once

inline void DebugTrace(const char* /*strText*/, const char* /*strFile*/, int /*nLine*/) {}

#define TRACE_POINT(text) DebugTrace((text), __FILE__, __LINE__)
