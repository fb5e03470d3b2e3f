// A one-line progress bar on standard error, drawn only when it is a terminal.
#pragma once

#include <string>

class CProgressBar {
public:
    CProgressBar();
    // Redraws when the whole percent or the label changed.
    void Show(double dFraction, const std::string& strLabel);
    // Clears the line so that messages start on a clean line.
    void Clear();

private:
    bool m_bEnabled;
    int m_nShownPercent = -1;
    std::string m_strShownLabel;
};
