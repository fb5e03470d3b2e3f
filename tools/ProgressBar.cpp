#include "ProgressBar.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kBarWidth = 30;
constexpr size_t kMaxLabel = 40;

} // namespace

CProgressBar::CProgressBar()
    : m_bEnabled(::isatty(STDERR_FILENO) != 0)
{
}

void CProgressBar::Show(double dFraction, const std::string& strLabel)
{
    if (!m_bEnabled)
        return;
    const int nPercent = static_cast<int>(std::clamp(dFraction, 0.0, 1.0) * 100);
    if (nPercent == m_nShownPercent && strLabel == m_strShownLabel)
        return;
    m_nShownPercent = nPercent;
    m_strShownLabel = strLabel;
    const int nFilled = nPercent * kBarWidth / 100;
    std::string strBar(static_cast<size_t>(nFilled), '#');
    strBar.resize(kBarWidth, '.');
    const std::string strShort = strLabel.size() > kMaxLabel ? "..." + strLabel.substr(strLabel.size() - kMaxLabel) : strLabel;
    std::fprintf(stderr, "\r\033[K[%s] %3d%%  %s", strBar.c_str(), nPercent, strShort.c_str());
    std::fflush(stderr);
}

void CProgressBar::Clear()
{
    if (m_bEnabled && m_nShownPercent >= 0) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    m_nShownPercent = -1;
    m_strShownLabel.clear();
}
