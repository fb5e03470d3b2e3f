// CImageButton: a push button that shows one of three pictures: normal,
// pressed (while the mouse or Space holds it down) and disabled. It takes
// the keyboard focus with Tab and then shows a dotted mark; Space or Return
// presses it. Every press is a click of its own, so a double-click gives two.
#pragma once

#include <FL/Fl_Button.H>

class Fl_RGB_Image;

class CImageButton : public Fl_Button {
public:
    // The pictures by id (ImageIds.h), at the scale factor.
    CImageButton(int x, int y, int w, int h, unsigned nNormalId, unsigned nPressedId, unsigned nDisabledId);

    // The picture the button shows in its present state.
    Fl_RGB_Image* GetShownImage() const;

protected:
    void draw() override;
    int handle(int nEvent) override;

private:
    Fl_RGB_Image* m_pNormal;
    Fl_RGB_Image* m_pPressed;
    Fl_RGB_Image* m_pDisabled;
    // Space went down while the button had the focus; its release clicks.
    bool m_bKeyHeld = false;
};
