// What the playback controller needs from the form that shows it. The form
// (an FLTK window in the program, a recording fake in tests) implements it;
// the controller knows nothing of the toolkit.
#pragma once

#include <string>
#include <vector>

// What the settings dialog sets.
struct SPlayerSettings {
    int nWaitMs = 0;            // the pause between files
    bool bClearSpeech = false;  // the clear mode
    bool bSkipSilence = false;  // long pauses shortened beyond the speed
    bool bSpeedPerBook = true;  // each file resumes at the speed it last played at
    bool bRewindOnResume = true; // resuming after a while away goes back a little
};

class IPlayerView {
public:
    virtual ~IPlayerView() = default;

    // Play and Pause share one place: true shows Play, false shows Pause.
    virtual void ShowPlayButton(bool bPlay) = 0;
    virtual void EnablePlay(bool bEnable) = 0;
    virtual void EnableStop(bool bEnable) = 0;

    virtual void SetSpeedText(const std::string& strText) = 0;
    virtual void SetFileName(const std::string& strText) = 0;
    virtual void SetTimeText(const std::string& strText) = 0;
    // What the elapsed time tells when the pointer rests on it; empty for nothing.
    virtual void SetTimeTip(const std::string& strTip) = 0;
    // The progress bar's range is 0..nMaximum (seconds of the file).
    virtual void SetProgressRange(int nMaximum) = 0;
    virtual void SetProgressPos(int nPosition) = 0;
    // Marks on the progress bar at these seconds (the chapters' starts).
    virtual void SetProgressTicks(const std::vector<int>& anSeconds) = 0;
    // What is left of the sleep timer; empty while none runs.
    virtual void SetSleepText(const std::string& strText) = 0;
    virtual void SetCaption(const std::string& strCaption) = 0;

    // The playlist's rows mirror the playlist: a display name per entry,
    // and the full path for its tooltip.
    virtual void AddRow(const std::string& strName, const std::string& strPath) = 0;
    virtual void RemoveRow(int nRow) = 0;
    virtual bool IsRowSelected(int nRow) const = 0;
    virtual void SelectRow(int nRow, bool bSelect) = 0;
    // Scrolls the list so that the row is visible.
    virtual void ShowRow(int nRow) = 0;

    // A modal question with "はい" and "いいえ"; true for "はい".
    virtual bool AskYesNo(const std::string& strText) = 0;
    // A modal message with OK.
    virtual void ShowMessage(const std::string& strText) = 0;

    // The file browser: starts in strFolder (the home folder when empty), in
    // file mode when bFileMode is true; on OK fills astrPaths, sets bFileMode
    // and strFolder to the mode and folder it ended in and returns true.
    virtual bool ChooseFiles(bool& bFileMode, std::string& strFolder, std::vector<std::string>& astrPaths) = 0;
    // The settings dialog: the pause between files, the two modes and the
    // two switches of resuming; true on OK.
    virtual bool ChooseSettings(SPlayerSettings& settings) = 0;
};
