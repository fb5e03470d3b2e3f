// A one-line progress bar on standard error, drawn only when it is a terminal.
#pragma once

#include <cstdint>
#include <string>

class CProgressBar {
public:
    CProgressBar();
    // Redraws when the line to draw differs from the one shown, as it does
    // when the percent, the name, the tail or the terminal's width changed.
    // strTail (the play command's times) is kept whole, strAside (what it
    // tells besides) as room allows; see FormatProgressLine.
    void Show(double dFraction, const std::string& strName, const std::string& strTail = std::string(),
        const std::string& strAside = std::string());
    // Clears the line so that messages start on a clean line.
    void Clear();

private:
    bool m_bEnabled;
    bool m_bShown = false;
    std::string m_strShownLine;
};

// The progress line for a terminal nColumns wide, without the carriage return
// and clear that precede it: "[####....] 45%  name  tail  aside". It takes at
// most nColumns - 1 display columns, so that the cursor never wraps. As the
// width shrinks, the name is shortened in the middle ("...") down to a few
// characters, then the bar narrows down to none, then the aside is cut at its
// end and goes once fewer than kMinAsideColumns are left for it, then the
// name goes, then the percent; the tail goes last, cut at its end. Characters
// the current locale cannot show, and control characters, become '?'.
std::string FormatProgressLine(int nColumns, double dFraction, const std::string& strName, const std::string& strTail,
    const std::string& strAside = std::string());

// An aside narrower than this ("-H:MM:SS") says too little to be worth its room.
constexpr int kMinAsideColumns = 8;
