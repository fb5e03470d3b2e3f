#include "FormLayout.h"

#include "app/Resource.h"

int LayoutOriginX(int nClientWidth)
{
    return (nClientWidth - kBackWidth) / 2;
}

int LayoutOriginY(int nClientHeight)
{
    return (nClientHeight - kBackHeight) / 2;
}

std::array<SControlPlace, 11> LandscapeLayout(int nClientWidth, int nClientHeight)
{
    const int ox = LayoutOriginX(nClientWidth);
    const int oy = LayoutOriginY(nClientHeight);
    return {{
        {IDC_SELECT_ALL, ox + 12, oy + 12, 10, 157},
        {IDC_PLAYLIST, ox + 22, oy + 25, 170, 144},
        {IDC_FILE_NAME, ox + 24, oy + 12, 250, 13},
        {IDC_PROGRESS, ox + 194, oy + 25, 117, 18},
        {IDC_TIME, ox + 194, oy + 46, 117, 13},
        {IDC_SPEED_DOWN, ox + 194, oy + 73, 42, 39},
        {IDC_SPEED, ox + 234, oy + 76, 37, 34},
        {IDC_SPEED_UP, ox + 271, oy + 73, 42, 39},
        {IDC_STOP, ox + 230, oy + 130, 42, 39},
        {IDC_PLAY, ox + 271, oy + 130, 42, 39},
        {IDC_PAUSE, ox + 271, oy + 130, 42, 39},
    }};
}

bool NeedsBackgroundFill(int nClientWidth, int nClientHeight)
{
    return nClientHeight > 268 || nClientWidth > 240;
}
