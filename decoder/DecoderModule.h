// The FFmpeg decoder module, velofon-decoder.so: found from the running
// executable, never by a prefix compiled in, and loaded once, the first time
// a file needs it (or earlier, when a program knows it soon will).
#pragma once

#include "DecodedFile.h"

#include <memory>
#include <string>

// Where the module is: the first that exists of the file beside the
// executable (the installed player's own folder) and the one in
// lib/VelofonPocket/ beside the executable's folder (the command-line tool in
// bin/, and the build tree); empty when neither does. Loads nothing.
std::string FindDecoderModule();

// Loads the module unless that was done; calls from other threads meanwhile
// wait for the first. False with strWhy saying what to install.
bool LoadDecoderModule(std::string& strWhy);
// A new decoded file from the module, loading it if need be; nullptr with
// strWhy saying what to install.
std::unique_ptr<IDecodedFile> NewDecodedFile(std::string& strWhy);
