#include "PaintProgress.h"

#include "FormColors.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>
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
    if (m_bChoosing)
        return static_cast<int>(std::lround(m_dChosen * w()));
    // Whole percent first, as the bar always moved: in steps of a hundredth.
    const int64_t nRange = static_cast<int64_t>(m_nMaximum) - m_nMinimum;
    const int64_t nPercent = static_cast<int64_t>(m_nPosition) * 100 / (nRange == 0 ? 1 : nRange);
    return static_cast<int>(std::clamp<int64_t>(w() * nPercent / 100, 0, w()));
}

void CPaintProgress::SetSeekHandler(std::function<bool()> canSeek, std::function<void(double)> onSeek)
{
    m_canSeek = std::move(canSeek);
    m_onSeek = std::move(onSeek);
}

double CPaintProgress::FractionAtMouse() const
{
    return std::clamp(static_cast<double>(Fl::event_x() - x()) / w(), 0.0, 1.0);
}

int CPaintProgress::handle(int nEvent)
{
    switch (nEvent) {
    case FL_PUSH:
        if (Fl::event_button() == FL_RIGHT_MOUSE && m_onMenu) {
            m_onMenu();
            return 1;
        }
        if (Fl::event_button() != FL_LEFT_MOUSE || !m_canSeek || !m_canSeek())
            return 0;
        m_bChoosing = true;
        m_dChosen = FractionAtMouse();
        redraw();
        return 1;
    case FL_DRAG:
        if (!m_bChoosing)
            return 0;
        m_dChosen = FractionAtMouse();
        redraw();
        return 1;
    case FL_RELEASE:
        if (!m_bChoosing)
            return 0;
        m_bChoosing = false;
        m_dChosen = FractionAtMouse();
        // The bar stays where it was let go until the player shows the new place.
        m_nPosition = m_nMinimum + static_cast<int>(m_dChosen * (static_cast<int64_t>(m_nMaximum) - m_nMinimum));
        redraw();
        if (m_onSeek)
            m_onSeek(m_dChosen);
        return 1;
    default:
        return Fl_Widget::handle(nEvent);
    }
}

void CPaintProgress::draw()
{
    fl_rectf(x(), y(), w(), h(), kProgressTrackColor);
    fl_rectf(x(), y(), GetFillWidth(), h(), kProgressBarColor);
    // A notch from above and below, so that the bar's middle stays readable.
    const int64_t nRange = std::max<int64_t>(1, static_cast<int64_t>(m_nMaximum) - m_nMinimum);
    const int nNotch = std::max(2, h() / 4);
    fl_color(kProgressTickColor);
    for (const int nTick : m_anTicks) {
        const int nX = x() + static_cast<int>(std::clamp<int64_t>((nTick - m_nMinimum) * w() / nRange, 0, w() - 1));
        fl_yxline(nX, y(), y() + nNotch - 1);
        fl_yxline(nX, y() + h() - nNotch, y() + h() - 1);
    }
}

void CPaintProgress::SetTicks(const std::vector<int>& anPositions)
{
    if (anPositions == m_anTicks)
        return;
    m_anTicks = anPositions;
    redraw();
}
