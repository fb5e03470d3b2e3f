// CModalDialog: the window under the file browser and the settings dialog.
// DoModal shows it over the window in front and serves the toolkit's events
// (and through them the program's own, so playback goes on) until OK or
// Cancel ends it. Escape and the close box are Cancel, Return is OK;
// minimising the dialog ends nothing. User-interface thread only.
#pragma once

#include "Layout.h"

#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>

#include <initializer_list>

// The default button: it takes Return, and looks like any other button.
class CDefaultButton : public Fl_Return_Button {
public:
    explicit CDefaultButton(const char* strLabel);

protected:
    void draw() override;
};

class CModalDialog : public Fl_Double_Window {
public:
    // Shows the dialog and waits until it ends; true when it ended with OK.
    bool DoModal();
    // Shows the dialog without waiting (DoModal begins so); tests drive it from here.
    void Open();
    // How the dialog ended the last time: true for OK.
    bool EndedWithOk() const { return m_bOk; }

protected:
    // The window, in pixels at scale factor 1; the parts a subclass declares
    // as members come inside it.
    CModalDialog(int nWidth, int nHeight, const char* strTitle);
    struct SPlace {
        Fl_Widget* pPart;
        SRect rect; // at scale factor 1
    };
    // Closes the window to further parts, puts them in their places, gives
    // every one the dialog's face and binds the OK and Cancel buttons.
    void EndLayout(std::initializer_list<SPlace> aPlaces, Fl_Button& ok, Fl_Button& cancel);

    // Before the dialog shows: the parts take the caller's values.
    virtual void OnInitDialog() {}
    // The part that has the keys when the dialog shows; null: the first that takes them.
    virtual Fl_Widget* FirstFocus() { return nullptr; }
    virtual void OnOK();
    virtual void OnCancel();
    void EndDialog(bool bOk);

private:
    // Over the window in front rather than wherever the window system puts it.
    void CenterOverFrontWindow();

    bool m_bOk = false;
};
