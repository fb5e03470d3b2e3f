// The keys velofon play takes from a terminal: what their bytes mean, and
// the terminal set to hand over single key presses while it plays.
#pragma once

#include <cstddef>
#include <string>

enum class EPlayKey {
    None,
    PauseResume,   // space
    Back,          // Left: 10 seconds back
    Forward,       // Right: 10 seconds on
    BackFar,       // Shift+Left: 60 seconds back
    ForwardFar,    // Shift+Right: 60 seconds on
    PreviousInput, // <
    NextInput,     // >
    PreviousChapter, // Ctrl+Left
    NextChapter,     // Ctrl+Right
};

struct SKeyPress {
    EPlayKey eKey;
    // The bytes the key took from the front; 0 when they only begin an
    // escape sequence whose rest has not arrived yet.
    size_t nBytes;
};

// The first key of strBytes, as a terminal sends it: the arrows as
// "ESC [ C" (or "ESC O C" in application mode), with Shift as
// "ESC [ 1 ; 2 C", with Ctrl as "ESC [ 1 ; 5 C". Any other key or escape sequence is taken whole as None.
SKeyPress DecodeKey(const std::string& strBytes);

// Standard input without echo and without waiting for Return, while the
// object lives, when it is a terminal and this process is in its foreground.
// The terminal gets its settings back when the object goes, and before a
// signal's default action stops or ends the process (Ctrl+Z, a crash); back
// in the foreground, it hands over single keys again.
class CTerminalKeys {
public:
    CTerminalKeys();
    CTerminalKeys(const CTerminalKeys&) = delete;
    CTerminalKeys& operator=(const CTerminalKeys&) = delete;
    ~CTerminalKeys();

    // The next key pressed, None when none is waiting.
    EPlayKey Next();

private:
    bool m_bActive;
    std::string m_strPending;
};
