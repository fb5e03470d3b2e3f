#include "Fonts.h"

#include "Scale.h"

#include <FL/Fl.H>
#include <FL/fl_ask.H>
#include <FL/Enumerations.H>
#include <fontconfig/fontconfig.h>

const char kProportionalFace[] = "ＭＳ Ｐゴシック";
const char kFixedFace[] = "MSゴシック";

namespace {

// Characters that a font must have to show the program's texts.
const FcChar32 kRequiredChars[] = {0x8FFD /* 追 */, 0x30D8 /* ヘ */, 0x3072 /* ひ */, 0xFF71 /* ｱ */, 0xFF30 /* Ｐ */};

constexpr Fl_Font kProportionalFont = FL_FREE_FONT;
constexpr Fl_Font kFixedFont = static_cast<Fl_Font>(FL_FREE_FONT + 1);

bool HasRequiredChars(FcPattern* pFont)
{
    FcCharSet* pCharSet = nullptr;
    if (FcPatternGetCharSet(pFont, FC_CHARSET, 0, &pCharSet) != FcResultMatch)
        return false;
    for (FcChar32 c : kRequiredChars) {
        if (!FcCharSetHasChar(pCharSet, c))
            return false;
    }
    return true;
}

bool IsFixedPitch(FcPattern* pFont)
{
    int nSpacing = FC_PROPORTIONAL;
    return FcPatternGetInteger(pFont, FC_SPACING, 0, &nSpacing) == FcResultMatch && nSpacing >= FC_DUAL;
}

// The best family for the pattern, in fontconfig's order of preference, that
// covers Japanese and has the pitch asked for.
std::string MatchFamily(const char* strPattern, bool bFixedPitch)
{
    std::string strFamily;
    FcPattern* pPattern = FcNameParse(reinterpret_cast<const FcChar8*>(strPattern));
    if (!pPattern)
        return strFamily;
    FcConfigSubstitute(nullptr, pPattern, FcMatchPattern);
    FcDefaultSubstitute(pPattern);
    FcResult result;
    if (FcFontSet* pFonts = FcFontSort(nullptr, pPattern, FcFalse, nullptr, &result)) {
        for (int i = 0; i < pFonts->nfont && strFamily.empty(); ++i) {
            FcPattern* pFont = pFonts->fonts[i];
            FcChar8* pFamily = nullptr;
            if (HasRequiredChars(pFont) && IsFixedPitch(pFont) == bFixedPitch &&
                FcPatternGetString(pFont, FC_FAMILY, 0, &pFamily) == FcResultMatch)
                strFamily = reinterpret_cast<const char*>(pFamily);
        }
        FcFontSetDestroy(pFonts);
    }
    FcPatternDestroy(pPattern);
    return strFamily;
}

struct SFamilies {
    std::string strProportional;
    std::string strFixed;
};

SFamilies FindFamilies()
{
    SFamilies found;
    if (!FcInit())
        return found;
    found.strProportional = MatchFamily("sans-serif:lang=ja", false);
    found.strFixed = MatchFamily("monospace:lang=ja", true);
    if (found.strFixed.empty())
        found.strFixed = found.strProportional;
    if (found.strProportional.empty())
        found.strProportional = found.strFixed;
    return found;
}

// Found once, by whichever thread comes first; another waits for it. Never
// destroyed: a search started ahead may outlive an early end.
const SFamilies& Families()
{
    static const SFamilies* const pFamilies = new SFamilies(FindFamilies());
    return *pFamilies;
}

bool IsFixedFace(const std::string& strFaceName)
{
    // "MSゴシック" is the fixed-pitch face; the "Ｐ" (proportional) one and any
    // other name take the proportional font.
    return strFaceName == kFixedFace || strFaceName == "ＭＳ ゴシック";
}

} // namespace

void FindJapaneseFonts()
{
    Families();
}

bool InitJapaneseFonts()
{
    const SFamilies& families = Families();
    if (families.strProportional.empty())
        return false;
    // FLTK's Xft backend takes fontconfig family names after a style
    // character, ' ' for the plain style. The names must outlive the toolkit.
    static const std::string strProportional = " " + families.strProportional;
    static const std::string strFixed = " " + families.strFixed;
    Fl::set_font(kProportionalFont, strProportional.c_str());
    Fl::set_font(kFixedFont, strFixed.c_str());
    // Every default face of the toolkit shows Japanese text.
    Fl::set_font(FL_HELVETICA, strProportional.c_str());
    fl_message_font(kProportionalFont, FL_NORMAL_SIZE);
    return true;
}

std::string FontFamilyForFace(const std::string& strFaceName)
{
    return IsFixedFace(strFaceName) ? Families().strFixed : Families().strProportional;
}

int ToolkitFontForFace(const std::string& strFaceName)
{
    if (Families().strProportional.empty())
        return FL_HELVETICA;
    return IsFixedFace(strFaceName) ? kFixedFont : kProportionalFont;
}

int PixelsForTenthsOfPoint(int nTenths)
{
    return Scaled((nTenths * 96 + 360) / 720);
}
