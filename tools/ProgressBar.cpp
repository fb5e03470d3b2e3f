#include "ProgressBar.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMaxBarCells = 30;
// A narrower bar says too little to be worth its room.
constexpr int kMinBarCells = 4;
// The name keeps this many columns before the bar starts to narrow.
constexpr int kNameColumnsBeforeBar = 12;
constexpr int kPercentColumns = 4;
constexpr int kDefaultColumns = 80;
// Plain dots: "…" is a character of ambiguous width, which terminals set up
// for East Asian text draw two columns wide.
const char kEllipsis[] = "...";
constexpr int kEllipsisColumns = 3;

// One character as the terminal shows it: its bytes, with any zero-width
// marks that follow it (combining accents), and its columns.
struct SGlyph {
    std::string strBytes;
    int nColumns;
};

std::vector<SGlyph> Glyphs(const std::string& str)
{
    std::vector<SGlyph> aGlyphs;
    std::mbstate_t state {};
    size_t nAt = 0;
    while (nAt < str.size()) {
        wchar_t wc = 0;
        const size_t nLength = std::mbrtowc(&wc, str.data() + nAt, str.size() - nAt, &state);
        // A NUL, a byte the locale cannot decode or a character cut short:
        // one '?' per byte.
        if (nLength == 0 || nLength > str.size() - nAt) {
            state = std::mbstate_t {};
            aGlyphs.push_back({"?", 1});
            ++nAt;
            continue;
        }
        const int nWidth = std::iswcntrl(static_cast<wint_t>(wc)) ? -1 : ::wcwidth(wc);
        if (nWidth < 0)
            aGlyphs.push_back({"?", 1});
        else if (nWidth > 0)
            aGlyphs.push_back({str.substr(nAt, nLength), nWidth});
        else if (!aGlyphs.empty())
            aGlyphs.back().strBytes.append(str, nAt, nLength);
        nAt += nLength;
    }
    return aGlyphs;
}

int Columns(const std::vector<SGlyph>& aGlyphs)
{
    int nColumns = 0;
    for (const SGlyph& glyph : aGlyphs)
        nColumns += glyph.nColumns;
    return nColumns;
}

std::string Join(std::vector<SGlyph>::const_iterator itFirst, std::vector<SGlyph>::const_iterator itEnd)
{
    std::string str;
    for (; itFirst != itEnd; ++itFirst)
        str += itFirst->strBytes;
    return str;
}

// The glyphs from the front that fit into nColumns.
std::string Front(const std::vector<SGlyph>& aGlyphs, int nColumns)
{
    auto it = aGlyphs.begin();
    for (int nUsed = 0; it != aGlyphs.end() && nUsed + it->nColumns <= nColumns; ++it)
        nUsed += it->nColumns;
    return Join(aGlyphs.begin(), it);
}

// The name in at most nColumns: whole, or both its ends around the ellipsis,
// since the end tells numbered parts of one recording apart.
std::string ShortName(const std::vector<SGlyph>& aName, int nColumns)
{
    if (Columns(aName) <= nColumns)
        return Join(aName.begin(), aName.end());
    const int nRoom = nColumns - kEllipsisColumns;
    const size_t nCount = aName.size();
    size_t nFront = 0;
    size_t nBack = 0;
    int nUsed = 0;
    while (nFront < nCount && nUsed + aName[nFront].nColumns <= nRoom / 2)
        nUsed += aName[nFront++].nColumns;
    while (nFront + nBack < nCount && nUsed + aName[nCount - 1 - nBack].nColumns <= nRoom)
        nUsed += aName[nCount - 1 - nBack++].nColumns;
    // A wide character that did not fit at the back may leave a column for the front.
    while (nFront + nBack < nCount && nUsed + aName[nFront].nColumns <= nRoom)
        nUsed += aName[nFront++].nColumns;
    return Join(aName.begin(), aName.begin() + static_cast<std::ptrdiff_t>(nFront)) + kEllipsis +
        Join(aName.end() - static_cast<std::ptrdiff_t>(nBack), aName.end());
}

// The terminal's width, asked at every redraw so that a resized terminal gets
// a fitting line at the next one, without a signal handler.
int TerminalColumns()
{
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    if (const char* pColumns = std::getenv("COLUMNS")) {
        char* pEnd = nullptr;
        const long nColumns = std::strtol(pColumns, &pEnd, 10);
        if (pEnd != pColumns && *pEnd == '\0' && nColumns > 0 && nColumns <= 0xFFFF)
            return static_cast<int>(nColumns);
    }
    return kDefaultColumns;
}

} // namespace

std::string FormatProgressLine(int nColumns, double dFraction, const std::string& strName, const std::string& strTail,
    const std::string& strAside)
{
    const int nBudget = std::max(nColumns - 1, 0);
    const std::vector<SGlyph> aTail = Glyphs(strTail);
    const int nTailColumns = Columns(aTail);
    if (nTailColumns >= nBudget)
        return Front(aTail, nBudget);

    // Room is handed out from the most needed piece to the least; each piece
    // but the first costs a gap of two spaces (one between bar and percent).
    int nFree = nBudget - nTailColumns;
    int nPieces = aTail.empty() ? 0 : 1;
    auto gap = [&nPieces] { return nPieces > 0 ? 2 : 0; };

    bool bPercent = false;
    if (kPercentColumns + gap() <= nFree) {
        nFree -= kPercentColumns + gap();
        bPercent = true;
        ++nPieces;
    }

    const std::vector<SGlyph> aName = Glyphs(strName);
    const int nNameColumns = Columns(aName);
    int nNameRoom = std::min({nNameColumns, kNameColumnsBeforeBar, nFree - gap()});
    // A shortened name shows at least one character besides the ellipsis.
    if (nNameRoom > 0 && (nNameRoom == nNameColumns || nNameRoom > kEllipsisColumns)) {
        nFree -= nNameRoom + gap();
        ++nPieces;
    } else {
        nNameRoom = 0;
    }

    const std::vector<SGlyph> aAside = Glyphs(strAside);
    const int nAsideRoom = std::min(Columns(aAside), nFree - gap());
    const bool bAside = nAsideRoom >= kMinAsideColumns;
    if (bAside) {
        nFree -= nAsideRoom + gap();
        ++nPieces;
    }

    const int nBarGap = bPercent ? 1 : gap();
    int nBarCells = std::min(kMaxBarCells, nFree - nBarGap - 2);
    if (nBarCells >= kMinBarCells)
        nFree -= nBarCells + 2 + nBarGap;
    else
        nBarCells = 0;

    if (nNameRoom > 0)
        nNameRoom = std::min(nNameColumns, nNameRoom + nFree);

    // NaN shows as nothing done.
    const double dDone = dFraction > 0.0 ? std::min(dFraction, 1.0) : 0.0;
    const int nPercent = static_cast<int>(dDone * 100);
    std::string strLine;
    auto append = [&strLine](const std::string& strPiece, const char* pGap) {
        if (!strLine.empty())
            strLine += pGap;
        strLine += strPiece;
    };
    if (nBarCells > 0) {
        std::string strBar(static_cast<size_t>(nPercent * nBarCells / 100), '#');
        strBar.resize(static_cast<size_t>(nBarCells), '.');
        append("[" + strBar + "]", "");
    }
    if (bPercent) {
        char strPercent[8];
        std::snprintf(strPercent, sizeof strPercent, "%3d%%", nPercent);
        append(strPercent, " ");
    }
    if (nNameRoom > 0)
        append(ShortName(aName, nNameRoom), "  ");
    if (!aTail.empty())
        append(Join(aTail.begin(), aTail.end()), "  ");
    if (bAside) {
        // A cut between two words leaves no space at the end of the line.
        std::string strShownAside = Front(aAside, nAsideRoom);
        strShownAside.erase(strShownAside.find_last_not_of(' ') + 1);
        append(strShownAside, "  ");
    }
    return strLine;
}

CProgressBar::CProgressBar()
    : m_bEnabled(::isatty(STDERR_FILENO) != 0)
{
    // velofon starts in the C locale, which knows no multibyte characters;
    // the user's locale says how names are encoded and how wide they show.
    // A locale the program chose itself stays.
    const char* pLocale = m_bEnabled ? std::setlocale(LC_CTYPE, nullptr) : nullptr;
    if (pLocale && std::strcmp(pLocale, "C") == 0)
        std::setlocale(LC_CTYPE, "");
}

void CProgressBar::Show(double dFraction, const std::string& strName, const std::string& strTail,
    const std::string& strAside)
{
    if (!m_bEnabled)
        return;
    const std::string strLine = FormatProgressLine(TerminalColumns(), dFraction, strName, strTail, strAside);
    if (m_bShown && strLine == m_strShownLine)
        return;
    m_bShown = true;
    m_strShownLine = strLine;
    std::fprintf(stderr, "\r\033[K%s", strLine.c_str());
    std::fflush(stderr);
}

void CProgressBar::Clear()
{
    if (m_bEnabled && m_bShown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    m_bShown = false;
    m_strShownLine.clear();
}
