// Where the windows put their parts, in pixels at scale factor 1. Windows
// multiply every value by the scale factor (Scaled) when they are built.
#pragma once

#include "Scale.h"

struct SRect {
    int x;
    int y;
    int w;
    int h;
};

// The rectangle at the current scale factor.
inline SRect Scaled(const SRect& rect)
{
    return SRect{Scaled(rect.x), Scaled(rect.y), Scaled(rect.w), Scaled(rect.h)};
}

// ---- the main window: the menu bar above the form ----

constexpr int kMenuBarHeight = 26;
// The form is the size of its background picture.
constexpr int kFormWidth = 320;
constexpr int kFormHeight = 188;
constexpr int kMainWindowWidth = kFormWidth;
constexpr int kMainWindowHeight = kMenuBarHeight + kFormHeight;

// The controls of the form, relative to the form's top-left corner.
constexpr SRect kSelectAllRect{12, 12, 10, 157};
constexpr SRect kPlayListRect{22, 25, 170, 144};
constexpr SRect kFileNameRect{24, 12, 250, 13};
constexpr SRect kProgressRect{194, 25, 117, 18};
// The time is right-aligned, in room for "-HH:MM:SS"; the sleep timer's
// time left is beside it.
constexpr SRect kTimeRect{244, 46, 67, 13};
constexpr SRect kSleepRect{196, 46, 46, 13};
constexpr SRect kSpeedDownRect{194, 73, 42, 39};
constexpr SRect kSpeedRect{234, 76, 37, 34};
constexpr SRect kSpeedUpRect{271, 73, 42, 39};
constexpr SRect kStopRect{230, 130, 42, 39};
// Play and Pause share one place; one of them shows at a time.
constexpr SRect kPlayPauseRect{271, 130, 42, 39};

// Label font sizes in tenths of a point.
constexpr int kFileNamePointSize = 90;
constexpr int kTimePointSize = 105;
constexpr int kSleepPointSize = 90;
constexpr int kSpeedPointSize = 180;
// The playlist's text: the form's 9-point face.
constexpr int kPlayListPointSize = 90;

// ---- the about box ----

constexpr int kAboutWidth = 260;
constexpr int kAboutHeight = 48;
constexpr SRect kAboutIconRect{8, 8, 32, 32};
// Wide enough for the version line on one line.
constexpr SRect kAboutTextRect{48, 8, 160, 32};
constexpr SRect kAboutOkRect{212, 12, 40, 24};
constexpr int kAboutPointSize = 90;

// ---- the message boxes ----

// Text wraps at this width; the box grows to fit it and its buttons.
constexpr int kMessageTextWidth = 360;
constexpr int kMessageMargin = 12;
constexpr int kMessageButtonWidth = 80;
constexpr int kMessageButtonHeight = 26;
constexpr int kMessageButtonGap = 8;
constexpr int kMessageFontSize = 14;

// ---- the file browser and the settings dialog ----
// (kept by the dialogs' author; add their rectangles below this line)

// Their 9-point face measures 7 x 13 pixels for 4 x 8 dialog units, the
// units the dialogs were first drawn in.
constexpr int kDialogPointSize = 90;

// The file browser. The folder-mode box reaches under OK, as it always has.
constexpr int kBrowserWidth = 243;
constexpr int kBrowserHeight = 200;
constexpr SRect kBrowserOkRect{182, 0, 28, 16};
constexpr SRect kBrowserCancelRect{212, 0, 28, 16};
constexpr SRect kBrowserParentRect{0, 0, 75, 16};
constexpr SRect kBrowserPathRect{0, 18, 238, 16};
constexpr SRect kBrowserEntriesRect{0, 36, 240, 145};
constexpr SRect kBrowserFilterRect{0, 180, 240, 20};
constexpr SRect kBrowserFolderModeRect{95, 0, 93, 16};

// The settings dialog: the frame of the pause choice, the choice, OK, Cancel.
constexpr int kSettingWidth = 243;
constexpr int kSettingHeight = 195;
constexpr SRect kSettingFrameRect{26, 16, 123, 65};
constexpr SRect kSettingWaitRect{61, 41, 74, 20};
constexpr SRect kSettingOkRect{175, 0, 61, 24};
constexpr SRect kSettingCancelRect{175, 24, 61, 24};
// The two modes below the pause, each a check box.
constexpr SRect kSettingClearRect{26, 90, 150, 22};
constexpr SRect kSettingSkipRect{26, 115, 150, 22};
// Below them the two switches of resuming, wider for their longer labels.
constexpr SRect kSettingBookSpeedRect{26, 140, 200, 22};
constexpr SRect kSettingRewindRect{26, 165, 200, 22};
