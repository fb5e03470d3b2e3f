#include "ChapterMenu.h"

#include "Fonts.h"
#include "Layout.h"
#include "player/PlaybackController.h"

#include <FL/Fl.H>
#include <FL/Fl_Menu_Item.H>

#include <string>

int ChooseChapter(const std::vector<SChapter>& chapters, int nCurrent, uint32_t nRate)
{
    if (chapters.empty() || nRate == 0)
        return -1;
    std::vector<std::string> astrTexts;
    astrTexts.reserve(chapters.size());
    for (size_t i = 0; i < chapters.size(); ++i) {
        const uint64_t nSeconds = chapters[i].nStartFrame / nRate;
        std::string strText = FormatElapsed(nSeconds) + "  ";
        // A title is shown as it is: its '&' underlines nothing, its '@' draws no symbol.
        for (const char c : chapters[i].strTitle.empty() ? std::to_string(i + 1) : chapters[i].strTitle) {
            if (c == '&' || c == '@')
                strText += c;
            strText += c;
        }
        astrTexts.push_back(std::move(strText));
    }
    std::vector<Fl_Menu_Item> aItems;
    for (size_t i = 0; i < astrTexts.size(); ++i) {
        const int nFlags = FL_MENU_RADIO | (static_cast<int>(i) == nCurrent ? FL_MENU_VALUE : 0);
        aItems.push_back(Fl_Menu_Item{astrTexts[i].c_str(), 0, nullptr, nullptr, nFlags,
                                      static_cast<uchar>(FL_NORMAL_LABEL), ToolkitFontForFace(kFixedFace),
                                      PixelsForTenthsOfPoint(kFileNamePointSize), 0});
    }
    aItems.push_back(Fl_Menu_Item{});
    const Fl_Menu_Item* pChosen = aItems.front().popup(Fl::event_x(), Fl::event_y(), nullptr,
        nCurrent >= 0 ? &aItems[static_cast<size_t>(nCurrent)] : nullptr);
    return pChosen ? static_cast<int>(pChosen - aItems.data()) : -1;
}
