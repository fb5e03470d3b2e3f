#include "ModalDialog.h"

#include "Fonts.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser_.H>
#include <FL/Fl_Input_.H>
#include <FL/Fl_Menu_.H>

namespace {

// The face the dialogs were drawn with.
const char kDialogFace[] = "ＭＳ Ｐゴシック";

} // namespace

CDefaultButton::CDefaultButton(const char* strLabel)
    : Fl_Return_Button(0, 0, 0, 0, strLabel)
{
}

void CDefaultButton::draw()
{
    // Without the return arrow, which leaves no room for the label in the dialogs' small buttons.
    Fl_Button::draw();
}

CModalDialog::CModalDialog(int nWidth, int nHeight, const char* strTitle)
    : Fl_Double_Window(Scaled(nWidth), Scaled(nHeight))
{
    copy_label(strTitle);
    set_modal();
    // The close box and Escape come here.
    callback([](Fl_Widget* pWindow, void*) { static_cast<CModalDialog*>(pWindow)->OnCancel(); });
}

void CModalDialog::EndLayout(std::initializer_list<SPlace> aPlaces, Fl_Button& ok, Fl_Button& cancel)
{
    end();
    for (const SPlace& place : aPlaces) {
        const SRect rect = Scaled(place.rect);
        place.pPart->resize(rect.x, rect.y, rect.w, rect.h);
    }
    ok.callback([](Fl_Widget*, void* pDialog) { static_cast<CModalDialog*>(pDialog)->OnOK(); }, this);
    cancel.callback([](Fl_Widget*, void* pDialog) { static_cast<CModalDialog*>(pDialog)->OnCancel(); }, this);
    const Fl_Font nFont = ToolkitFontForFace(kDialogFace);
    const Fl_Fontsize nSize = PixelsForTenthsOfPoint(kDialogPointSize);
    for (int nChild = 0; nChild < children(); ++nChild) {
        Fl_Widget* pPart = child(nChild);
        pPart->labelfont(nFont);
        pPart->labelsize(nSize);
        if (auto* pMenu = dynamic_cast<Fl_Menu_*>(pPart)) {
            pMenu->textfont(nFont);
            pMenu->textsize(nSize);
        }
        if (auto* pList = dynamic_cast<Fl_Browser_*>(pPart)) {
            pList->textfont(nFont);
            pList->textsize(nSize);
        }
        if (auto* pInput = dynamic_cast<Fl_Input_*>(pPart)) {
            pInput->textfont(nFont);
            pInput->textsize(nSize);
        }
    }
}

bool CModalDialog::DoModal()
{
    Open();
    while (shown())
        Fl::wait();
    return m_bOk;
}

void CModalDialog::Open()
{
    m_bOk = false;
    OnInitDialog();
    CenterOverFrontWindow();
    show();
    if (Fl_Widget* pFocus = FirstFocus())
        pFocus->take_focus();
}

void CModalDialog::CenterOverFrontWindow()
{
    int nX = Fl::x();
    int nY = Fl::y();
    int nWidth = Fl::w();
    int nHeight = Fl::h();
    if (const Fl_Window* pFront = Fl::first_window(); pFront && pFront != this) {
        nX = pFront->x();
        nY = pFront->y();
        nWidth = pFront->w();
        nHeight = pFront->h();
    }
    position(nX + (nWidth - w()) / 2, nY + (nHeight - h()) / 2);
}

void CModalDialog::OnOK()
{
    EndDialog(true);
}

void CModalDialog::OnCancel()
{
    EndDialog(false);
}

void CModalDialog::EndDialog(bool bOk)
{
    m_bOk = bOk;
    hide();
}
