// Lights: state stepping round the ends, the per-state tables as the
// number of states changes, the round and rectangular colour light, and
// the bitmap light with and without a bitmap for its state.
#include <gtest/gtest.h>

#include "gui/widgets/gauges/gauge_fixture.h"
#include "gui/widgets/gauges/gui_light.h"

namespace {

using namespace gauges;
using LightTest = GaugeTest;

TEST_F(LightTest, StatesWrapRoundBothEnds)
{
    auto* light = new Counted<GuiColorLight>(GuiRect(10, 10, 49, 49), 3, GLS_RECTANGLE);
    host->Add(light, 1);
    EXPECT_EQ(light->State(), 0u);
    EXPECT_EQ(light->DecrementState(0), 2u);
    EXPECT_EQ(light->IncrementState(0), 0u);
    light->SetState(2, 0);
    EXPECT_EQ(light->IncrementState(0), 0u);

    // Out of range keeps the state, and still redraws when asked.
    const int drawn = light->draws;
    EXPECT_EQ(light->SetState(3, 1), 0u);
    EXPECT_EQ(light->draws, drawn + 1);

    // Without states there is nothing to step to.
    GuiColorLight none(GuiRect(0, 0, 9, 9), 0, GLS_ROUND);
    EXPECT_EQ(none.DecrementState(0), 0u);
    EXPECT_EQ(none.IncrementState(0), 0u);
    EXPECT_EQ(none.SetNumStates(0), 0u);
}

TEST_F(LightTest, TablesFollowTheNumberOfStates)
{
    GuiColorLight light(GuiRect(0, 0, 9, 9), 4, GLS_RECTANGLE);
    EXPECT_EQ(light.SetStateColor(4, 0x123456), 0);
    ASSERT_NE(light.mpColors, nullptr);
    for (unsigned s = 0; s < 4; ++s) EXPECT_EQ(light.SetStateColor(s, 0x100 + s), 1);
    light.SetState(3, 0);

    EXPECT_EQ(light.SetNumStates(2), 2u);   // shrinking: the last state is current
    EXPECT_EQ(light.State(), 1u);
    EXPECT_EQ(light.SetNumStates(5), 5u);   // growing: kept entries, zero after them
    EXPECT_EQ(light.mpColors[0], 0x100u);
    EXPECT_EQ(light.mpColors[1], 0x101u);
    for (unsigned s = 2; s < 5; ++s) EXPECT_EQ(light.mpColors[s], 0u);
    EXPECT_EQ(light.State(), 1u);
}

TEST_F(LightTest, RoundLightShowsEachColourInABlackRing)
{
    auto* light = new GuiColorLight(GuiRect(100, 100, 160, 160), 3, GLS_ROUND | GST_TRANSPARENT);
    EXPECT_EQ(light->mType, GT_COLOR_LIGHT);
    const uint32_t colours[3] = {0xFF0000, 0xFFFF00, 0x00FF00};
    for (unsigned s = 0; s < 3; ++s) light->SetStateColor(s, colours[s]);
    host->Add(light, 1);
    for (unsigned s = 0; s < 3; ++s) {
        light->SetState(s, 1);
        EXPECT_EQ(Pixel(130, 130), colours[s]) << s;
        EXPECT_EQ(Pixel(130 + 30, 130), 0x000000u);
        EXPECT_EQ(Pixel(130, 130 - 30), 0x000000u);
        EXPECT_EQ(Pixel(130 + 29, 130), colours[s]);
        EXPECT_EQ(Pixel(101, 101), kHostFill);   // the corner shows the parent
    }

    // A rectangular light fills its whole area.
    auto* box = new GuiColorLight(GuiRect(200, 100, 239, 139), 2, GLS_RECTANGLE | GST_FRAME_NONE);
    box->SetStateColor(1, 0x0000FF);
    host->Add(box, 1);
    box->IncrementState(1);
    EXPECT_EQ(CountColour(box->mOuter, 0x0000FF), 40 * 40);
}

TEST_F(LightTest, BitmapLightSizesToItsFirstBitmapAndSkipsAMissingOne)
{
    SolidBitmap on(20, 10, 0x00FF00), off(20, 10, 0x404040);
    auto* light = new GuiBitmapLight(300, 100, 3);
    EXPECT_EQ(light->mType, GT_BITMAP_LIGHT);
    EXPECT_EQ(light->mStyle, GST_FRAME_NONE);
    EXPECT_EQ(light->SetStateBitmap(0, nullptr), 1);   // no size to take
    EXPECT_EQ(light->mOuter, GuiRect(300, 100, 400, 200));

    auto* sized = new GuiBitmapLight(GuiRect(300, 250, 399, 349), 3);
    EXPECT_EQ(sized->SetStateBitmap(5, &on), 0);
    EXPECT_EQ(sized->mOuter, GuiRect(300, 250, 319, 259));
    EXPECT_EQ(sized->SetStateBitmap(1, &on), 1);
    EXPECT_EQ(sized->SetStateBitmap(2, &off), 1);
    host->Add(sized, 1);
    host->Add(light, 1);

    // State 0 has no bitmap: the screen under it stays as it was.
    EXPECT_EQ(Pixel(305, 255), kHostFill);
    sized->SetState(1, 1);
    EXPECT_EQ(CountColour(sized->mOuter, 0x00FF00), 200);
    sized->SetState(2, 1);
    EXPECT_EQ(Pixel(305, 255), 0x404040u);
    light->IncrementState(1);
    light->DecrementState(1);
}

}  // namespace
