#include "ImageButton.h"

#include "FocusMark.h"
#include "FormColors.h"
#include "Images.h"
#include "Scale.h"

#include <FL/Fl.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_draw.H>

namespace {

// The focus mark runs inside the button's outline.
constexpr int kFocusInset = 3;

bool HasModifier()
{
    return (Fl::event_state() & (FL_SHIFT | FL_CTRL | FL_ALT | FL_META)) != 0;
}

} // namespace

CImageButton::CImageButton(int x, int y, int w, int h, unsigned nNormalId, unsigned nPressedId,
                           unsigned nDisabledId)
    : Fl_Button(x, y, w, h)
    , m_pNormal(GetScaledImage(nNormalId))
    , m_pPressed(GetScaledImage(nPressedId))
    , m_pDisabled(GetScaledImage(nDisabledId))
{
    color(kFormColor);
}

Fl_RGB_Image* CImageButton::GetShownImage() const
{
    if (!active_r())
        return m_pDisabled;
    return value() || m_bKeyHeld ? m_pPressed : m_pNormal;
}

void CImageButton::draw()
{
    fl_rectf(x(), y(), w(), h(), kFormColor);
    if (Fl_RGB_Image* pImage = GetShownImage())
        pImage->draw(x(), y());
    if (Fl::focus() == this) {
        const int nInset = Scaled(kFocusInset);
        DrawFocusMark(x() + nInset, y() + nInset, w() - 2 * nInset, h() - 2 * nInset);
    }
}

int CImageButton::handle(int nEvent)
{
    switch (nEvent) {
    case FL_KEYBOARD:
        // Other keys go on to the window (the player's keys, Tab).
        if (Fl::focus() != this || HasModifier())
            return 0;
        if (Fl::event_key() == ' ') {
            if (!m_bKeyHeld) {
                m_bKeyHeld = true;
                redraw();
            }
            return 1;
        }
        if (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter) {
            do_callback();
            return 1;
        }
        return 0;
    case FL_KEYUP:
        if (!m_bKeyHeld || Fl::event_key() != ' ')
            return 0;
        m_bKeyHeld = false;
        redraw();
        do_callback();
        return 1;
    case FL_UNFOCUS:
    case FL_HIDE:
    case FL_DEACTIVATE:
        m_bKeyHeld = false;
        break;
    default:
        break;
    }
    return Fl_Button::handle(nEvent);
}
