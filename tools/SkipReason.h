// How every velofon command tells the user about a file it skips (the reason
// is the engine's, GetOpenErrorText), and the file names and times it shows.
#pragma once

#include <cstdint>
#include <string>

// "velofon: skipping FILE: REASON" on standard error.
void ReportSkipped(const std::string& strInput, const std::string& strReason);

std::string BaseName(const std::string& strPath);

// "HH:MM:SS", the hours going on past 99.
std::string FormatTime(uint64_t nSeconds);
// "H:MM:SS", the hours in as many digits as they take.
std::string FormatClock(uint64_t nSeconds);
// "H:MM:SS.mmm" of nFrames at nRate, rounded down to the millisecond.
std::string FormatFrameTime(uint64_t nFrames, uint32_t nRate);
