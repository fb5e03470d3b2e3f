// The player's own keys in the main window.
#include "VelofonPocketView.h"

#include "ImageButton.h"
#include "MainMenu.h"

#include "common/Program.h"
#include "player/PlaybackController.h"

#include <FL/Fl.H>

bool CVelofonPocketView::HandlePlayerKey()
{
    // A shortcut can reach the window under the mouse while a dialog is
    // open; the dialog has the keys then.
    if (Fl::modal() && Fl::modal() != this)
        return false;
    const int nModifiers = Fl::event_state() & (FL_CTRL | FL_ALT | FL_META);
    const int nKey = Fl::event_key();
    if (nModifiers == FL_CTRL && nKey == 'q') {
        Exit();
        return true;
    }
    if (nModifiers == FL_CTRL && (nKey == FL_Left || nKey == FL_Right)) {
        Post(nKey == FL_Right ? EPlayerCommand::NextChapter : EPlayerCommand::PreviousChapter);
        return true;
    }
    if (nModifiers != 0)
        return false;
    if (nKey == FL_F + 10) {
        m_pMenu->OpenFirstMenu();
        return true;
    }
    if (nKey == FL_Left || nKey == FL_Right) {
        const int nSeconds = Fl::event_state(FL_SHIFT) ? kLongJumpSeconds : kShortJumpSeconds;
        Post(EPlayerCommand::SeekBy, nKey == FL_Left ? -nSeconds : nSeconds);
        return true;
    }
    if (nKey == ' ') {
        // As the button in Play's place would: not while it is disabled.
        const CImageButton* pPlayPause = m_pPlay->visible() ? m_pPlay : m_pPause;
        if (pPlayPause->active())
            Post(EPlayerCommand::Play);
        return true;
    }
    switch (Fl::event_length() == 1 ? Fl::event_text()[0] : 0) {
    case ']':
    case '+':
        Post(EPlayerCommand::SpeedUp);
        return true;
    case '[':
    case '-':
        Post(EPlayerCommand::SpeedDown);
        return true;
    case '<':
        Post(EPlayerCommand::PreviousEntry);
        return true;
    case '>':
        Post(EPlayerCommand::NextEntry);
        return true;
    case 'c':
        if (m_pController)
            Post(EPlayerCommand::SetClearSpeech, m_pController->IsClearSpeech() ? 0 : 1);
        return true;
    case 's':
        if (m_pController)
            Post(EPlayerCommand::SetSkipSilence, m_pController->IsSkipSilence() ? 0 : 1);
        return true;
    case 't':
        Post(EPlayerCommand::ToggleTimeDisplay);
        return true;
    case 'l':
        ChooseChapterToPlay();
        return true;
    default:
        return false;
    }
}
