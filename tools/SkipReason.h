// Why an input cannot be played, in the words that every velofon command
// prints for a skipped file.
#pragma once

#include <string>

class CSpeedEngine;

// After a failed Open of the engine.
std::string OpenFailureReason(const CSpeedEngine& engine);
// "velofon: skipping FILE: REASON" on standard error.
void ReportSkipped(const std::string& strInput, const std::string& strReason);

std::string BaseName(const std::string& strPath);
