#include "AboutBox.h"

#include "Fonts.h"
#include "ImageIds.h"
#include "Images.h"
#include "Layout.h"
#include "MessageBox.h"

#include "common/Program.h"
#include "common/Version.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Button.H>

namespace {

const char kVersionText[] = "VelofonPocket Version " VELOFON_VERSION;

} // namespace

void ShowAboutBox(Fl_Window* pOwner)
{
    Fl_Double_Window window(Scaled(kAboutWidth), Scaled(kAboutHeight), kProgramName);
    const SRect icon = Scaled(kAboutIconRect);
    auto* pIcon = new Fl_Box(icon.x, icon.y, icon.w, icon.h);
    pIcon->image(GetImageAtSize(IDI_ICON, icon.w, icon.h));
    const SRect text = Scaled(kAboutTextRect);
    auto* pText = new Fl_Box(text.x, text.y, text.w, text.h, kVersionText);
    pText->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    const SRect ok = Scaled(kAboutOkRect);
    auto* pOk = new Fl_Button(ok.x, ok.y, ok.w, ok.h, "OK");
    pOk->shortcut(FL_Enter);
    pOk->callback(CloseWindowOf);
    window.end();
    for (Fl_Widget* pWidget : {static_cast<Fl_Widget*>(pText), static_cast<Fl_Widget*>(pOk)}) {
        pWidget->labelfont(ToolkitFontForFace(kProportionalFace));
        pWidget->labelsize(PixelsForTenthsOfPoint(kAboutPointSize));
    }
    window.callback(CloseWindowOf);
    RunModal(window, pOwner);
}
