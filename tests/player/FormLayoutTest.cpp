// Where the form puts its controls and its picture for a client size.
#include "app/Resource.h"
#include "player/FormLayout.h"

#include <gtest/gtest.h>

namespace {

SControlPlace PlaceOf(const std::array<SControlPlace, 11>& aPlaces, int nID)
{
    for (const SControlPlace& place : aPlaces) {
        if (place.nID == nID)
            return place;
    }
    ADD_FAILURE() << "no control " << nID;
    return SControlPlace {};
}

TEST(FormLayoutTest, AClientOfThePictureSizePutsEveryControlAtItsOffset)
{
    const auto aPlaces = LandscapeLayout(320, 188);
    EXPECT_EQ(LayoutOriginX(320), 0);
    EXPECT_EQ(LayoutOriginY(188), 0);
    const SControlPlace playList = PlaceOf(aPlaces, IDC_PLAYLIST);
    EXPECT_EQ(playList.x, 22);
    EXPECT_EQ(playList.y, 25);
    EXPECT_EQ(playList.nWidth, 170);
    EXPECT_EQ(playList.nHeight, 144);
    const SControlPlace speed = PlaceOf(aPlaces, IDC_SPEED);
    EXPECT_EQ(speed.x, 234);
    EXPECT_EQ(speed.y, 76);
    // Play and Pause share one rectangle.
    const SControlPlace play = PlaceOf(aPlaces, IDC_PLAY);
    const SControlPlace pause = PlaceOf(aPlaces, IDC_PAUSE);
    EXPECT_EQ(play.x, pause.x);
    EXPECT_EQ(play.y, pause.y);
    EXPECT_EQ(play.x, 271);
    EXPECT_EQ(play.y, 130);
    // Every button is the size of its bitmaps.
    for (int nID : {IDC_PLAY, IDC_PAUSE, IDC_STOP, IDC_SPEED_UP, IDC_SPEED_DOWN}) {
        EXPECT_EQ(PlaceOf(aPlaces, nID).nWidth, 42);
        EXPECT_EQ(PlaceOf(aPlaces, nID).nHeight, 39);
    }
    EXPECT_TRUE(NeedsBackgroundFill(320, 188));
}

TEST(FormLayoutTest, OffsetsTruncateTowardZero)
{
    EXPECT_EQ(LayoutOriginX(319), 0);
    EXPECT_EQ(LayoutOriginX(321), 0);
    EXPECT_EQ(LayoutOriginX(323), 1);
    EXPECT_EQ(LayoutOriginX(317), -1);
    EXPECT_EQ(LayoutOriginY(187), 0);
    EXPECT_EQ(LayoutOriginY(400), 106);
    const SControlPlace stop = PlaceOf(LandscapeLayout(640, 400), IDC_STOP);
    EXPECT_EQ(stop.x, 160 + 230);
    EXPECT_EQ(stop.y, 106 + 130);
}

TEST(FormLayoutTest, APortraitClientStartsThePictureLeftOfTheEdgeAndIsNotFilled)
{
    EXPECT_EQ(LayoutOriginX(240), -40);
    EXPECT_EQ(LayoutOriginY(268), 40);
    EXPECT_FALSE(NeedsBackgroundFill(240, 268));
    EXPECT_TRUE(NeedsBackgroundFill(240, 269));
    EXPECT_TRUE(NeedsBackgroundFill(241, 268));
    EXPECT_EQ(PlaceOf(LandscapeLayout(240, 268), IDC_SELECT_ALL).x, -28);
}

} // namespace
