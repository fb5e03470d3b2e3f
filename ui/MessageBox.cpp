#include "MessageBox.h"

#include "Fonts.h"
#include "Layout.h"

#include "common/Program.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>

#include <algorithm>

namespace {

// Marks that close a phrase stay at the end of a line rather than start the next.
const char* const kClosingMarks[] = {"。", "、", "」", "』", "）", ")", ".", ",", "!", "?", "！", "？"};

size_t CharLength(const std::string& str, size_t nAt)
{
    const auto c = static_cast<unsigned char>(str[nAt]);
    const size_t nLength = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    return std::min(nLength, str.size() - nAt);
}

bool IsClosingMark(const std::string& str, size_t nAt)
{
    return std::any_of(std::begin(kClosingMarks), std::end(kClosingMarks), [&](const char* strMark) {
        return str.compare(nAt, std::char_traits<char>::length(strMark), strMark) == 0;
    });
}

double WidthOf(const std::string& str, size_t nFrom, size_t nTo)
{
    return fl_width(str.c_str() + nFrom, static_cast<int>(nTo - nFrom));
}

std::string WrapLine(const std::string& strLine, int nWidth)
{
    std::string strResult;
    size_t nStart = 0;
    while (WidthOf(strLine, nStart, strLine.size()) > nWidth) {
        size_t nFit = nStart;
        size_t nSpace = std::string::npos;
        for (size_t i = nStart; i < strLine.size() && WidthOf(strLine, nStart, i + CharLength(strLine, i)) <= nWidth;
             i += CharLength(strLine, i)) {
            if (strLine[i] == ' ' && i > nStart)
                nSpace = i;
            nFit = i + CharLength(strLine, i);
        }
        size_t nNext;
        if (nSpace != std::string::npos) {
            nFit = nSpace;
            nNext = nSpace + 1;
        } else {
            if (nFit == nStart) // one character wider than the line
                nFit += CharLength(strLine, nFit);
            while (nFit < strLine.size() && IsClosingMark(strLine, nFit))
                nFit += CharLength(strLine, nFit);
            nNext = nFit;
        }
        strResult.append(strLine, nStart, nFit - nStart).append("\n");
        nStart = nNext;
    }
    return strResult.append(strLine, nStart, std::string::npos);
}

// A label shows '@' as the start of a symbol unless it is doubled.
std::string EscapeSymbols(const std::string& strText)
{
    std::string strEscaped;
    for (char c : strText) {
        strEscaped += c;
        if (c == '@')
            strEscaped += '@';
    }
    return strEscaped;
}

bool RunBox(Fl_Window* pOwner, const std::string& strText, bool bYesNo)
{
    const Fl_Font nFont = ToolkitFontForFace(kProportionalFace);
    const int nFontSize = Scaled(kMessageFontSize);
    fl_font(nFont, nFontSize);
    const std::string strLines = WrapText(strText, Scaled(kMessageTextWidth));
    int nTextWidth = 0;
    int nTextHeight = 0;
    fl_measure(strLines.c_str(), nTextWidth, nTextHeight, 0);

    const int nMargin = Scaled(kMessageMargin);
    const int nButtonWidth = Scaled(kMessageButtonWidth);
    const int nButtonHeight = Scaled(kMessageButtonHeight);
    const int nGap = Scaled(kMessageButtonGap);
    const int nButtons = bYesNo ? 2 : 1;
    const int nButtonsWidth = nButtons * nButtonWidth + (nButtons - 1) * nGap;
    const int nWidth = std::max(nTextWidth, nButtonsWidth) + 2 * nMargin;
    const int nButtonTop = 2 * nMargin + nTextHeight;
    Fl_Double_Window window(nWidth, nButtonTop + nButtonHeight + nMargin, kProgramName);
    auto* pText = new Fl_Box(nMargin, nMargin, nTextWidth, nTextHeight);
    pText->copy_label(EscapeSymbols(strLines).c_str());
    pText->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE);
    bool bYes = false;
    int nButtonLeft = nWidth - nMargin - nButtonsWidth;
    auto* pDefault = new Fl_Return_Button(nButtonLeft, nButtonTop, nButtonWidth, nButtonHeight, bYesNo ? "はい" : "OK");
    pDefault->callback([](Fl_Widget* pButton, void* pYes) {
        *static_cast<bool*>(pYes) = true;
        CloseWindowOf(pButton);
    }, &bYes);
    if (bYesNo) {
        nButtonLeft += nButtonWidth + nGap;
        auto* pNo = new Fl_Button(nButtonLeft, nButtonTop, nButtonWidth, nButtonHeight, "いいえ");
        pNo->callback(CloseWindowOf);
    }
    window.end();
    for (int i = 0; i < window.children(); ++i) {
        window.child(i)->labelfont(nFont);
        window.child(i)->labelsize(nFontSize);
    }
    // Escape and the close box answer いいえ (or OK).
    window.callback(CloseWindowOf);
    RunModal(window, pOwner);
    return bYes;
}

} // namespace

bool AskYesNo(Fl_Window* pOwner, const std::string& strText)
{
    return RunBox(pOwner, strText, true);
}

void ShowMessage(Fl_Window* pOwner, const std::string& strText)
{
    RunBox(pOwner, strText, false);
}

void CloseWindowOf(Fl_Widget* pWidget, void*)
{
    if (Fl_Window* pWindow = pWidget->as_window() ? pWidget->as_window() : pWidget->window())
        pWindow->hide();
}

void RunModal(Fl_Window& window, Fl_Window* pOwner)
{
    int nX, nY, nWidth, nHeight;
    if (pOwner && pOwner->shown()) {
        nX = pOwner->x();
        nY = pOwner->y();
        nWidth = pOwner->w();
        nHeight = pOwner->h();
    } else {
        Fl::screen_work_area(nX, nY, nWidth, nHeight);
    }
    // A box wider than a small owner stays on the owner's screen.
    int nScreenX, nScreenY, nScreenWidth, nScreenHeight;
    Fl::screen_work_area(nScreenX, nScreenY, nScreenWidth, nScreenHeight, nX + nWidth / 2, nY + nHeight / 2);
    auto centre = [](int nStart, int nSpace, int nScreenStart, int nScreenSpace, int nSize) {
        const int nScreenLast = std::max(nScreenStart, nScreenStart + nScreenSpace - nSize);
        return std::clamp(nStart + (nSpace - nSize) / 2, nScreenStart, nScreenLast);
    };
    window.position(centre(nX, nWidth, nScreenX, nScreenWidth, window.w()),
                    centre(nY, nHeight, nScreenY, nScreenHeight, window.h()));
    window.set_modal();
    window.show();
    while (window.shown())
        Fl::wait();
}

std::string WrapText(const std::string& strText, int nWidth)
{
    std::string strResult;
    size_t nStart = 0;
    for (size_t nEnd = strText.find('\n'); nEnd != std::string::npos; nEnd = strText.find('\n', nStart)) {
        strResult += WrapLine(strText.substr(nStart, nEnd - nStart), nWidth) + "\n";
        nStart = nEnd + 1;
    }
    return strResult + WrapLine(strText.substr(nStart), nWidth);
}
