#include "Scale.h"

#include <FL/Enumerations.H>
#include <FL/Fl.H>

#include <algorithm>
#include <cmath>
#include <locale>
#include <sstream>

namespace {

constexpr double kMinimumFactor = 1.0;
constexpr double kMaximumFactor = 4.0;
// The toolkit's own sizes at factor 1: the default font and the scroll bars.
constexpr int kNormalFontSize = 14;
constexpr int kScrollbarSize = 16;

double g_dUiScale = 1.0;

} // namespace

double ParseScaleFactor(const char* strValue)
{
    if (!strValue)
        return kMinimumFactor;
    // Read with the C locale: a desktop in a language that writes "1,5"
    // still sets its factor as "1.5".
    std::istringstream stream(strValue);
    stream.imbue(std::locale::classic());
    double dValue = 0.0;
    stream >> dValue;
    if (stream.fail() || !std::isfinite(dValue))
        return kMinimumFactor;
    stream >> std::ws;
    if (!stream.eof())
        return kMinimumFactor;
    return std::clamp(std::round(dValue * 4.0) / 4.0, kMinimumFactor, kMaximumFactor);
}

void SetUiScale(double dFactor)
{
    g_dUiScale = dFactor;
    // Widgets made from now on take these: every label, menu, tooltip and
    // scroll bar of the program grows with the layout.
    FL_NORMAL_SIZE = Scaled(kNormalFontSize);
    Fl::scrollbar_size(Scaled(kScrollbarSize));
}

double UiScale()
{
    return g_dUiScale;
}

int Scaled(int nPixels)
{
    return static_cast<int>(std::lround(nPixels * g_dUiScale));
}
