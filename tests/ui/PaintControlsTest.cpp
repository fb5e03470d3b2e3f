// The painted controls' decisions: which bitmap a button shows in each
// state, how far the progress bar fills, and how a label aligns its text.
#include "ui/PaintControls.h"

#include <gtest/gtest.h>

namespace {

TEST(PaintControlsTest, AButtonShowsItsBitmapByFocusSelectionAndEnabling)
{
    struct SCase {
        UINT nState;
        EButtonImage eExpected;
    };
    const SCase aCases[] = {
        {0, EButtonImage::Normal},
        {ODS_FOCUS, EButtonImage::Normal},
        {ODS_FOCUS | ODS_SELECTED, EButtonImage::Pressed},
        {ODS_SELECTED, EButtonImage::Normal}, // pressed, but the focus went elsewhere
        {ODS_DISABLED, EButtonImage::Disabled},
        {ODS_DISABLED | ODS_SELECTED, EButtonImage::Disabled},
        {ODS_FOCUS | ODS_DISABLED, EButtonImage::Normal}, // the focus never shows disabled
        {ODS_FOCUS | ODS_DISABLED | ODS_SELECTED, EButtonImage::Pressed},
    };
    for (const SCase& c : aCases)
        EXPECT_EQ(ChooseButtonImage(c.nState), c.eExpected) << "state " << c.nState;
}

TEST(PaintControlsTest, TheProgressBarFillsWholePercentsOfItsWidth)
{
    EXPECT_EQ(ProgressPercent(0, 0, 100), 0);
    EXPECT_EQ(ProgressPercent(33, 0, 100), 33);
    EXPECT_EQ(ProgressPercent(1, 0, 3), 33); // truncates
    EXPECT_EQ(ProgressPercent(2, 0, 3), 66);
    EXPECT_EQ(ProgressFillWidth(117, 66), 77);
    EXPECT_EQ(ProgressFillWidth(117, 100), 117);
    // Above the maximum the percentage passes 100; the paint clips the fill.
    EXPECT_EQ(ProgressPercent(150, 0, 100), 150);
    EXPECT_EQ(ProgressFillWidth(117, 150), 175);
    // Negative positions give negative fills: an all-black bar.
    EXPECT_EQ(ProgressPercent(-5, 0, 100), -5);
    EXPECT_LT(ProgressFillWidth(117, -5), 0);
    // The position counts from 0, not from the minimum.
    EXPECT_EQ(ProgressPercent(50, 10, 110), 50);
    // A range without width counts as one and does not divide by zero.
    EXPECT_EQ(ProgressPercent(3, 7, 7), 300);
    EXPECT_EQ(ProgressPercent(INT32_MAX, 0, 1), INT32_MAX);
}

TEST(PaintControlsTest, ARangeMaximumOfZeroIsStoredAsOne)
{
    CPaintProgress progress;
    EXPECT_EQ(progress.GetMaximum(), 100);
    progress.SetRange(0, 0);
    EXPECT_EQ(progress.GetMinimum(), 0);
    EXPECT_EQ(progress.GetMaximum(), 1);
    progress.SetRange(0, 2400);
    EXPECT_EQ(progress.GetMaximum(), 2400);
    progress.SetPos(7);
    EXPECT_EQ(progress.GetPos(), 7);
    EXPECT_EQ(ProgressPercent(1, 0, 1), 100);
}

TEST(PaintControlsTest, ALabelCentresOverRightAlignsOverLeftAligns)
{
    EXPECT_EQ(LabelTextFormat(false, false), DT_SINGLELINE | DT_VCENTER | DT_LEFT);
    EXPECT_EQ(LabelTextFormat(false, true), DT_SINGLELINE | DT_VCENTER | DT_RIGHT);
    EXPECT_EQ(LabelTextFormat(true, false), DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    EXPECT_EQ(LabelTextFormat(true, true), DT_SINGLELINE | DT_VCENTER | DT_CENTER);

    CPaintLabel label;
    EXPECT_EQ(label.GetPointSize(), 105);
    EXPECT_EQ(label.GetTextFormat(), LabelTextFormat(false, false));
    label.SetRight();
    label.SetCenter();
    EXPECT_EQ(label.GetTextFormat(), LabelTextFormat(true, true));
}

} // namespace
