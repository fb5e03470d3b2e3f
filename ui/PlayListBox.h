// CPlayListBox: the playlist on the form, one row per entry, several rows
// selectable. The mouse selects as FLTK's browser does; the keyboard moves
// with the arrows, Page Up, Page Down, Home and End (Shift extends the
// selection, Ctrl moves only the focus row, Ctrl+Space toggles it) and
// Ctrl+A selects every row. A double-click or Return asks the player to play
// the selection, Delete to remove it; every change of the selection by the
// mouse or the keys asks it to show the selected entry. An entry's tooltip is its full path;
// an empty list says how to fill it. It scrolls by whole rows, and the row
// with the focus carries a mark that shows at every scale.
#pragma once

#include "player/PlaybackController.h"

#include <FL/Fl_Browser.H>

#include <functional>
#include <string>
#include <vector>

class CPlayListBox : public Fl_Browser {
public:
    CPlayListBox(int x, int y, int w, int h);

    // Receives the commands that the keys and the double-click give.
    void SetCommandHandler(std::function<void(EPlayerCommand)> onCommand) { m_onCommand = std::move(onCommand); }

    // Rows count from 0.
    int GetRowCount() const { return size(); }
    // Every row has this height: one line of the list's font.
    int GetRowHeight() const;
    void AddRow(const std::string& strName, const std::string& strPath);
    void RemoveRow(int nRow);
    bool IsRowSelected(int nRow) const;
    void SelectRow(int nRow, bool bSelect);
    void SelectAllRows();
    // Scrolls the least that shows the row whole.
    void ShowRow(int nRow);

    // A line over the list's foot that tells what goes on (a gathering); empty for none.
    void SetNote(const std::string& strNote);

    // The text an empty list shows.
    static const char kEmptyHint[];

protected:
    void draw() override;
    int handle(int nEvent) override;

private:
    int HandleKey();
    // Moves the focus row to nLine (1-based, kept within the list) and
    // selects as the modifiers say.
    void MoveTo(int nLine);
    int RowsPerPage() const;
    // The list holds no blank space after its last row once rows are gone.
    void KeepScrollInRange();
    // Scrolled by whole rows: the top row is never drawn cut.
    void SnapToRows();
    static void OnScrollbar(Fl_Widget* pScrollbar, void* pList);
    void ShowTooltipAt(int nMouseY);
    void HideTooltip();
    void Command(EPlayerCommand eCommand);

    std::function<void(EPlayerCommand)> m_onCommand;
    std::string m_strNote;
    std::vector<std::string> m_astrPaths;
    // Where Shift+arrow selections start: the row last moved to without Shift.
    int m_nAnchorLine = 1;
    // The row whose path the tooltip shows (1-based, 0 for none), and two
    // copies of paths, the one shown and the one before.
    int m_nTooltipLine = 0;
    std::string m_astrTooltip[2];
    int m_nTooltipCopy = 0;
};
