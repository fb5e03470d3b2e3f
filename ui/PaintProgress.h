// CPaintProgress: the playback progress, a blue bar growing over a black
// track. The window is double-buffered, so the bar never flickers while it
// moves. A click or a drag on it chooses a place in the file: while the
// button is down the bar follows the mouse, and the place is handed on only
// when it is released, since each jump drops what the sound device holds
// and a stream of them would stutter. Ticks mark the chapters' starts; a
// right-click asks for the list of chapters.
#pragma once

#include <FL/Fl_Widget.H>

#include <functional>
#include <vector>

class CPaintProgress : public Fl_Widget {
public:
    CPaintProgress(int x, int y, int w, int h);

    // A maximum of 0 counts as 1.
    void SetRange(int nMinimum, int nMaximum);
    void SetPos(int nPosition);
    int GetPos() const { return m_nPosition; }
    // The width of the blue bar: whole percent of the range, within the
    // track; under the mouse while a place is being chosen.
    int GetFillWidth() const;

    // canSeek is asked at each press whether a place may be chosen (something
    // plays); onSeek receives the place chosen, from 0 (the start) to 1 (the
    // end of the track).
    void SetSeekHandler(std::function<bool()> canSeek, std::function<void(double)> onSeek);
    // Marks at these positions of the range.
    void SetTicks(const std::vector<int>& anPositions);
    const std::vector<int>& GetTicks() const { return m_anTicks; }
    void SetMenuHandler(std::function<void()> onMenu) { m_onMenu = std::move(onMenu); }

    int handle(int nEvent) override;

protected:
    void draw() override;

private:
    // The place under the mouse, within the track.
    double FractionAtMouse() const;

    int m_nMinimum = 0;
    int m_nMaximum = 100;
    int m_nPosition = 0;
    std::function<bool()> m_canSeek;
    std::function<void(double)> m_onSeek;
    std::function<void()> m_onMenu;
    std::vector<int> m_anTicks;
    bool m_bChoosing = false;
    double m_dChosen = 0;
};
