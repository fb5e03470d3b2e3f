// CPaintLabel: one line of black text on the form colour, in the form's
// fixed-pitch face at its own point size, left-aligned, centred or
// right-aligned and centred vertically. It draws the text as it is: no
// '@' symbols, no '&' underlines. With a click handler, a press of any
// mouse button on it goes there.
#pragma once

#include <FL/Fl_Widget.H>

#include <functional>
#include <string>

class CPaintLabel : public Fl_Widget {
public:
    // nPointSize in tenths of a point; eAlign FL_ALIGN_LEFT, FL_ALIGN_CENTER or FL_ALIGN_RIGHT.
    CPaintLabel(int x, int y, int w, int h, int nPointSize, Fl_Align eAlign);

    void SetText(const std::string& strText);
    const std::string& GetText() const { return m_strText; }
    // Receives the button pressed (FL_LEFT_MOUSE, FL_RIGHT_MOUSE, ...).
    void SetClickHandler(std::function<void(int)> onClick) { m_onClick = std::move(onClick); }

    int handle(int nEvent) override;

protected:
    void draw() override;

private:
    std::string m_strText;
    int m_nPointSize;
    Fl_Align m_eAlign;
    std::function<void(int)> m_onClick;
};
