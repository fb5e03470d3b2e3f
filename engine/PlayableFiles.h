// Which files the player offers, gathers and keeps in its playlist: those
// whose name ends in the extension of a format it plays, in any case. The
// engine itself opens any file (it asks FFmpeg about names it does not know);
// this list is what the user is shown and what folder gathering collects.
#pragma once

#include <string>

// "wav", "mp3", ... in lower case, without the dot; null-terminated.
extern const char* const kPlayableExtensions[];

// True when strPath ends in "." and one of the extensions, in any case.
bool HasPlayableExtension(const std::string& strPath);

// The extensions as a browser pattern list: "*.wav;*.mp3;...".
std::string PlayablePatternList();
