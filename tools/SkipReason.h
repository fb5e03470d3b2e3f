// How every velofon command tells the user about a file it skips (the reason
// is the engine's, GetOpenErrorText), and the file names it shows.
#pragma once

#include <string>

// "velofon: skipping FILE: REASON" on standard error.
void ReportSkipped(const std::string& strInput, const std::string& strReason);

std::string BaseName(const std::string& strPath);
