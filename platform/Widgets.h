// The FLTK widgets behind the program's windows. Each points back at the
// CWnd that owns it (its user data), turns the toolkit's events into posted
// WM_COMMAND notifications, and lets the owner paint it. Only platform/ code
// includes this file.
#pragma once

#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Widget.H>

#include <string>
#include <vector>

// Makes the widget act as if the left button went down on it.
void PressWidget(Fl_Widget& widget);

// Posts WM_COMMAND with the notification code to the owner's parent.
void NotifyParent(Fl_Widget& widget, unsigned int nCode);

class CFlButton : public Fl_Button {
public:
    CFlButton(int x, int y, int w, int h, bool bOwnerDraw);
    int handle(int nEvent) override;
    void Press();

protected:
    void draw() override;

private:
    bool m_bOwnerDraw;
};

class CFlCheckButton : public Fl_Check_Button {
public:
    CFlCheckButton(int x, int y, int w, int h);
};

// A static text or a progress bar: the owner paints it when its map has
// WM_PAINT, otherwise it shows its label.
class CFlPaintBox : public Fl_Widget {
public:
    CFlPaintBox(int x, int y, int w, int h);

protected:
    void draw() override;
};

// A list box keeps its lines and their selection itself and shows them in
// the toolkit's browser. The browser measures text as lines are added, which
// needs a display; without one (the player's logic under test) only the
// lines here change, and the browser takes them over at its first draw.
class CFlListBox : public Fl_Browser {
public:
    CFlListBox(int x, int y, int w, int h, bool bMultipleSelection);

    int GetCount() const { return static_cast<int>(m_astrLines.size()); }
    const std::string& GetLine(int nIndex) const { return m_astrLines[static_cast<size_t>(nIndex)]; }
    bool IsSelected(int nIndex) const { return m_abSelected[static_cast<size_t>(nIndex)]; }
    void AddLine(const std::string& strText);
    void RemoveLine(int nIndex);
    void RemoveAll();
    // A single-selection box deselects the others.
    void SelectLine(int nIndex, bool bSelect);
    // Takes the selection the user made in the browser.
    void TakeSelectionFromBrowser();

protected:
    void draw() override;

private:
    bool CanShow() const;
    void ShowAll();

    bool m_bMultiple;
    bool m_bShown = true;
    std::vector<std::string> m_astrLines;
    std::vector<bool> m_abSelected;
};

class CFlComboBox : public Fl_Choice {
public:
    CFlComboBox(int x, int y, int w, int h);
};

// A form or a dialog's client: its owner paints the background, then the
// children draw themselves.
class CFlForm : public Fl_Group {
public:
    CFlForm(int x, int y, int w, int h);

protected:
    void draw() override;
};

// A top-level window (frame or dialog), painted by its owner when the
// owner's map has WM_PAINT.
class CFlTopWindow : public Fl_Double_Window {
public:
    CFlTopWindow(int w, int h, const char* strLabel);

protected:
    void draw() override;
};
