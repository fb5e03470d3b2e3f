// CPaintProgress: the playback progress, a blue bar growing over a black
// track. The window is double-buffered, so the bar never flickers while it
// moves.
#pragma once

#include <FL/Fl_Widget.H>

class CPaintProgress : public Fl_Widget {
public:
    CPaintProgress(int x, int y, int w, int h);

    // A maximum of 0 counts as 1.
    void SetRange(int nMinimum, int nMaximum);
    void SetPos(int nPosition);
    int GetPos() const { return m_nPosition; }
    // The width of the blue bar: whole percent of the range, within the track.
    int GetFillWidth() const;

protected:
    void draw() override;

private:
    int m_nMinimum = 0;
    int m_nMaximum = 100;
    int m_nPosition = 0;
};
