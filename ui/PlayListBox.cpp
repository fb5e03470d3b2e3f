#include "PlayListBox.h"

#include "FocusMark.h"
#include "FormColors.h"
#include "Fonts.h"
#include "Layout.h"

#include <FL/Fl.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/Fl_Tooltip.H>
#include <FL/fl_draw.H>

#include <algorithm>

const char CPlayListBox::kEmptyHint[] = "編集→追加 で\nファイルを追加して下さい";

namespace {

// Every row starts with this format code, "show the rest as it is", so
// that a name starting with '@' is not taken for formatting.
const char kPlainText[] = "@.";
constexpr int kHintMargin = 4;

} // namespace

CPlayListBox::CPlayListBox(int x, int y, int w, int h)
    : Fl_Browser(x, y, w, h)
{
    type(FL_MULTI_BROWSER);
    has_scrollbar(VERTICAL);
    textfont(ToolkitFontForFace(kProportionalFace));
    textsize(PixelsForTenthsOfPoint(kPlayListPointSize));
    // The selection is read when a command needs it; no callback.
    when(FL_WHEN_NEVER);
    // The scroll bar moves the list by whole rows.
    scrollbar.callback(OnScrollbar, this);
}

void CPlayListBox::OnScrollbar(Fl_Widget* pScrollbar, void* pList)
{
    auto* pThis = static_cast<CPlayListBox*>(pList);
    pThis->position(static_cast<int>(static_cast<Fl_Scrollbar*>(pScrollbar)->value()));
    pThis->SnapToRows();
}

int CPlayListBox::GetRowHeight() const
{
    return size() > 0 ? item_height(find_line(1)) : 0;
}

void CPlayListBox::SnapToRows()
{
    const int nRowHeight = GetRowHeight();
    const int nPosition = position();
    if (nRowHeight > 0 && nPosition % nRowHeight != 0)
        position((nPosition / nRowHeight + 1) * nRowHeight);
}

void CPlayListBox::AddRow(const std::string& strName, const std::string& strPath)
{
    add((kPlainText + strName).c_str());
    m_astrPaths.push_back(strPath);
    if (size() == 1)
        redraw(); // the hint goes
}

void CPlayListBox::RemoveRow(int nRow)
{
    if (nRow < 0 || nRow >= size())
        return;
    remove(nRow + 1);
    m_astrPaths.erase(m_astrPaths.begin() + nRow);
    HideTooltip();
    KeepScrollInRange();
    if (size() == 0)
        redraw(); // the hint comes
}

bool CPlayListBox::IsRowSelected(int nRow) const
{
    return nRow >= 0 && nRow < size() && selected(nRow + 1);
}

void CPlayListBox::SelectRow(int nRow, bool bSelect)
{
    if (nRow < 0 || nRow >= size())
        return;
    // Only the row's mark changes; the focus row stays where it is.
    void* pItem = find_line(nRow + 1);
    if ((item_selected(pItem) != 0) != bSelect) {
        item_select(pItem, bSelect ? 1 : 0);
        redraw_line(pItem);
    }
}

void CPlayListBox::SelectAllRows()
{
    for (int nRow = 0; nRow < size(); ++nRow)
        SelectRow(nRow, true);
}

void CPlayListBox::ShowRow(int nRow)
{
    if (nRow >= 0 && nRow < size()) {
        make_visible(nRow + 1);
        SnapToRows();
    }
}

void CPlayListBox::KeepScrollInRange()
{
    int nX, nY, nWidth, nHeight;
    bbox(nX, nY, nWidth, nHeight);
    const int nLast = std::max(0, full_height() - nHeight);
    if (position() > nLast)
        position(nLast);
    SnapToRows();
}

int CPlayListBox::RowsPerPage() const
{
    int nX, nY, nWidth, nHeight;
    bbox(nX, nY, nWidth, nHeight);
    const int nRowHeight = GetRowHeight();
    // A page keeps one row of the last one in sight.
    return std::max(1, nHeight / std::max(1, nRowHeight) - 1);
}

void CPlayListBox::MoveTo(int nLine)
{
    if (size() == 0)
        return;
    nLine = std::clamp(nLine, 1, size());
    if (Fl::event_state(FL_SHIFT)) {
        const int nFirst = std::min(m_nAnchorLine, nLine);
        const int nLast = std::max(m_nAnchorLine, nLine);
        for (int i = 1; i <= size(); ++i)
            SelectRow(i - 1, i >= nFirst && i <= nLast);
    } else if (!Fl::event_state(FL_CTRL)) {
        for (int i = 1; i <= size(); ++i)
            SelectRow(i - 1, i == nLine);
        m_nAnchorLine = nLine;
    }
    select(nLine, selected(nLine)); // the focus row, its mark unchanged
    make_visible(nLine);
    SnapToRows();
    Command(EPlayerCommand::ShowSelected);
}

int CPlayListBox::HandleKey()
{
    if (Fl::event_state(FL_ALT | FL_META))
        return 0;
    const bool bCtrl = Fl::event_state(FL_CTRL) != 0;
    const int nLine = value();
    switch (Fl::event_key()) {
    case FL_Up:
        MoveTo(nLine - 1);
        return 1;
    case FL_Down:
        MoveTo(nLine + 1);
        return 1;
    case FL_Page_Up:
        MoveTo(nLine - RowsPerPage());
        return 1;
    case FL_Page_Down:
        MoveTo(nLine + RowsPerPage());
        return 1;
    case FL_Home:
        MoveTo(1);
        return 1;
    case FL_End:
        MoveTo(size());
        return 1;
    case FL_Enter:
    case FL_KP_Enter:
        Command(EPlayerCommand::PlaySelected);
        return 1;
    case FL_Delete:
        Command(EPlayerCommand::DeleteSelected);
        return 1;
    case 'a':
        if (!bCtrl)
            return 0;
        SelectAllRows();
        Command(EPlayerCommand::ShowSelected);
        return 1;
    case ' ':
        // A plain Space is the player's (play or pause).
        if (!bCtrl || nLine == 0)
            return 0;
        select(nLine, !selected(nLine));
        m_nAnchorLine = nLine;
        Command(EPlayerCommand::ShowSelected);
        return 1;
    default:
        return 0;
    }
}

void CPlayListBox::ShowTooltipAt(int nMouseY)
{
    int nX, nY, nWidth, nHeight;
    bbox(nX, nY, nWidth, nHeight);
    void* pItem = Fl::event_inside(nX, nY, nWidth, nHeight) ? find_item(nMouseY) : nullptr;
    const int nLine = pItem ? lineno(pItem) : 0;
    if (nLine == m_nTooltipLine)
        return;
    m_nTooltipLine = nLine;
    if (nLine == 0) {
        HideTooltip();
        return;
    }
    // Every row has the same height: one line of the list's font. The
    // tooltip takes the row's place relative to the list, and shows below it.
    // The toolkit takes a text at the address it had for the same tooltip:
    // each row's text goes to the other copy.
    const int nRowHeight = item_height(pItem);
    m_nTooltipCopy = 1 - m_nTooltipCopy;
    m_astrTooltip[m_nTooltipCopy] = m_astrPaths[static_cast<size_t>(nLine - 1)];
    Fl_Tooltip::enter_area(this, nX - x(), nY - y() + (nLine - 1) * nRowHeight - position(), nWidth, nRowHeight,
                           m_astrTooltip[m_nTooltipCopy].c_str());
}

void CPlayListBox::HideTooltip()
{
    m_nTooltipLine = 0;
    Fl_Tooltip::enter_area(this, 0, 0, 0, 0, nullptr);
}

void CPlayListBox::Command(EPlayerCommand eCommand)
{
    if (m_onCommand)
        m_onCommand(eCommand);
}

int CPlayListBox::handle(int nEvent)
{
    switch (nEvent) {
    case FL_KEYBOARD:
        HideTooltip();
        // Keys the list does not take (Tab, Space, the player's keys) go
        // on to the window; the browser's own key handling is replaced.
        return HandleKey();
    case FL_FOCUS:
        // The focus row shows the focus; give the list one.
        if (value() == 0 && size() > 0)
            select(1, selected(1));
        break;
    case FL_PUSH: {
        HideTooltip();
        int nX, nY, nWidth, nHeight;
        bbox(nX, nY, nWidth, nHeight);
        const bool bOnRow = Fl::event_inside(nX, nY, nWidth, nHeight) && find_item(Fl::event_y()) != nullptr;
        const int nResult = Fl_Browser::handle(nEvent);
        if (bOnRow) {
            m_nAnchorLine = value();
            if (Fl::event_button() == FL_LEFT_MOUSE && Fl::event_clicks() > 0)
                Command(EPlayerCommand::PlaySelected);
        }
        return nResult;
    }
    case FL_RELEASE:
        Fl_Browser::handle(nEvent);
        Command(EPlayerCommand::ShowSelected);
        return 1;
    case FL_MOVE:
    case FL_ENTER:
        Fl_Browser::handle(nEvent);
        ShowTooltipAt(Fl::event_y());
        return 1;
    case FL_LEAVE:
        HideTooltip();
        break;
    case FL_MOUSEWHEEL: {
        const int nResult = Fl_Browser::handle(nEvent);
        SnapToRows();
        return nResult;
    }
    default:
        break;
    }
    return Fl_Browser::handle(nEvent);
}

void CPlayListBox::SetNote(const std::string& strNote)
{
    if (strNote == m_strNote)
        return;
    m_strNote = strNote;
    redraw();
}

void CPlayListBox::draw()
{
    Fl_Browser::draw();
    int nX, nY, nWidth, nHeight;
    bbox(nX, nY, nWidth, nHeight);
    if (!m_strNote.empty()) {
        const int nNoteHeight = fl_height(textfont(), textsize()) + 2;
        const int nNoteY = nY + nHeight - nNoteHeight;
        fl_push_clip(nX, nY, nWidth, nHeight);
        fl_rectf(nX, nNoteY, nWidth, nNoteHeight, kFormColor);
        fl_font(textfont(), textsize());
        fl_color(kTextColor);
        fl_draw(m_strNote.c_str(), nX + Scaled(kHintMargin), nNoteY, nWidth, nNoteHeight, FL_ALIGN_LEFT, nullptr, 0);
        fl_pop_clip();
    }
    if (size() > 0) {
        // The focus row carries the program's mark over the toolkit's faint one.
        if (Fl::focus() == this && value() > 0) {
            const int nRowHeight = GetRowHeight();
            fl_push_clip(nX, nY, nWidth, nHeight);
            DrawFocusMark(nX, nY + (value() - 1) * nRowHeight - position(), nWidth, nRowHeight);
            fl_pop_clip();
        }
        return;
    }
    const int nMargin = Scaled(kHintMargin);
    fl_push_clip(nX, nY, nWidth, nHeight);
    fl_font(textfont(), textsize());
    fl_color(kHintColor);
    fl_draw(kEmptyHint, nX + nMargin, nY + nMargin, nWidth - 2 * nMargin, nHeight - 2 * nMargin,
            FL_ALIGN_CENTER | FL_ALIGN_INSIDE, nullptr, 0);
    if (Fl::focus() == this)
        DrawFocusMark(nX + 1, nY + 1, nWidth - 2, nHeight - 2);
    fl_pop_clip();
}
