#include "PaintProgress.h"

#include "FormColors.h"

#include <FL/fl_draw.H>

#include <algorithm>
#include <cstdint>

CPaintProgress::CPaintProgress(int x, int y, int w, int h)
    : Fl_Widget(x, y, w, h)
{
    clear_visible_focus();
}

void CPaintProgress::SetRange(int nMinimum, int nMaximum)
{
    m_nMinimum = nMinimum;
    m_nMaximum = nMaximum == 0 ? 1 : nMaximum;
    redraw();
}

void CPaintProgress::SetPos(int nPosition)
{
    if (nPosition == m_nPosition)
        return;
    m_nPosition = nPosition;
    redraw();
}

int CPaintProgress::GetFillWidth() const
{
    // Whole percent first, as the bar always moved: in steps of a hundredth.
    const int64_t nRange = static_cast<int64_t>(m_nMaximum) - m_nMinimum;
    const int64_t nPercent = static_cast<int64_t>(m_nPosition) * 100 / (nRange == 0 ? 1 : nRange);
    return static_cast<int>(std::clamp<int64_t>(w() * nPercent / 100, 0, w()));
}

void CPaintProgress::draw()
{
    fl_rectf(x(), y(), w(), h(), kProgressTrackColor);
    fl_rectf(x(), y(), GetFillWidth(), h(), kProgressBarColor);
}
