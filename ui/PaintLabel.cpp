#include "PaintLabel.h"

#include "FormColors.h"
#include "Fonts.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

CPaintLabel::CPaintLabel(int x, int y, int w, int h, int nPointSize, Fl_Align eAlign)
    : Fl_Widget(x, y, w, h)
    , m_nPointSize(nPointSize)
    , m_eAlign(eAlign)
{
    clear_visible_focus();
}

void CPaintLabel::SetText(const std::string& strText)
{
    if (strText == m_strText)
        return;
    m_strText = strText;
    redraw();
}

int CPaintLabel::handle(int nEvent)
{
    if (nEvent == FL_PUSH && m_onClick) {
        m_onClick(Fl::event_button());
        return 1;
    }
    return Fl_Widget::handle(nEvent);
}

void CPaintLabel::draw()
{
    fl_rectf(x(), y(), w(), h(), kFormColor);
    fl_color(kTextColor);
    fl_font(ToolkitFontForFace(kFixedFace), PixelsForTenthsOfPoint(m_nPointSize));
    fl_push_clip(x(), y(), w(), h());
    fl_draw(m_strText.c_str(), x(), y(), w(), h(), m_eAlign | FL_ALIGN_INSIDE | FL_ALIGN_CLIP, nullptr, 0);
    fl_pop_clip();
}
