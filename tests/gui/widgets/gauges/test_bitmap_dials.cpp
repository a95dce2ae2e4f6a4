// Bitmap needle dials: background and needle through the composite, the
// anchor bitmap only at the true COR, the COR styles, and new backgrounds.
#include <gtest/gtest.h>

#include "gui/widgets/gauges/gauge_fixture.h"
#include "gui/widgets/gauges/gui_bitmap_dial.h"

namespace {

using namespace gauges;
using BitmapDialTest = GaugeTest;

constexpr uint32_t kBackground = 0x2040A0, kAnchor = 0x00FF00;

TEST_F(BitmapDialTest, BackgroundNeedleAndAnchorReachTheScreenThroughTheComposite)
{
    SolidBitmap background(101, 101, kBackground), anchor(9, 9, kAnchor);
    // Whatever COR style is asked for, a circular dial starts at the centre.
    auto* dial = new GuiCircularBitmapDial(50, 50, 90, 60, 0, 59, &background, &anchor,
                                           GDS_THIN_NEEDLE | GDS_COR_OFFSET);
    EXPECT_EQ(dial->mType, GT_CIRCULAR_BITMAP_DIAL);
    EXPECT_EQ(dial->mStyle & (GDS_SMALL_KITE | GDS_COR_OFFSET), GDS_SMALL_KITE);
    EXPECT_EQ(dial->mOuter, GuiRect(50, 50, 150, 150));
    host->Add(dial, 1);

    ASSERT_NE(dial->mpComposite, nullptr);
    EXPECT_EQ(dial->mpComposite->width, 101);
    EXPECT_EQ(Pixel(52, 52), kBackground);
    EXPECT_EQ(Pixel(100, 100), kAnchor);           // COR at the centre
    EXPECT_EQ(Pixel(100, 100 - 30), kNeedle);      // value 0 points up
    EXPECT_EQ(CountColour(GuiRect(96, 96, 104, 104), kAnchor), 81);

    // A value change moves the needle through the composite.
    dial->SetValue(15, 1);
    EXPECT_EQ(Pixel(100, 100 - 30), kBackground);
    EXPECT_GT(CountColour(GuiRect(110, 97, 135, 103), kNeedle), 20);   // about -1 degree

    // With a COR offset the anchor bitmap is left out.
    dial->UseTrueCOR(0);
    dial->SetCOR(10, 90, 1);
    EXPECT_EQ(dial->Cor().x, 60);
    EXPECT_EQ(dial->Cor().y, 140);
    EXPECT_EQ(CountColour(dial->mOuter, kAnchor), 0);
    EXPECT_GT(CountColour(dial->mOuter, kNeedle), 20);
}

TEST_F(BitmapDialTest, FiniteDialKeepsTheCorStyleAndDrawsANeedleWithoutBackground)
{
    GuiFiniteBitmapDial offset(GuiRect(0, 0, 100, 100), 180, 0, 0, 10, nullptr, nullptr,
                               GDS_THIN_NEEDLE | GDS_COR_OFFSET);
    EXPECT_EQ(offset.mStyle & (GDS_SMALL_KITE | GDS_COR_OFFSET), GDS_COR_OFFSET);
    EXPECT_EQ(offset.Cor().x, 0);

    auto* dial = new GuiFiniteBitmapDial(GuiRect(200, 200, 300, 300), 180, 0, 0, 10, nullptr, nullptr,
                                         GDS_THIN_NEEDLE);
    EXPECT_EQ(dial->mType, GT_FINITE_BITMAP_DIAL);
    EXPECT_EQ(dial->mStyle & (GDS_SMALL_KITE | GDS_COR_OFFSET), GDS_SMALL_KITE);
    host->Add(dial, 1);
    EXPECT_EQ(dial->mpComposite, nullptr);
    EXPECT_EQ(Pixel(250 - 30, 250), kNeedle);
    EXPECT_EQ(Pixel(250, 250), 0u);   // the drawn anchor
}

TEST_F(BitmapDialTest, NewBackgroundResizesOnlyWhenTheSizeDiffers)
{
    SolidBitmap same(101, 101, kBackground), small(60, 40, 0x804000);
    small.bitmap.flags = GUI_BMP_TRANSPARENT;
    auto* dial = new GuiFiniteBitmapDial(GuiRect(10, 10, 110, 110), 225, 315, 0, 100, nullptr, nullptr,
                                         GDS_POLYGON_NEEDLE);
    host->Add(dial, 1);
    dial->SetBkgBitmap(&same);
    EXPECT_EQ(dial->mOuter, GuiRect(10, 10, 110, 110));
    ASSERT_NE(dial->mpComposite, nullptr);
    EXPECT_FALSE(dial->mpComposite->flags & GUI_BMP_TRANSPARENT);

    dial->SetBkgBitmap(&small);
    EXPECT_EQ(dial->mOuter, GuiRect(10, 10, 69, 49));
    ASSERT_NE(dial->mpComposite, nullptr);
    EXPECT_EQ(dial->mpComposite->width, 60);
    EXPECT_TRUE(dial->mpComposite->flags & GUI_BMP_TRANSPARENT);
    GuiThing::mpScreen->Invalidate(dial->mOuter);
    dial->Draw();
    EXPECT_EQ(Pixel(12, 12), 0x804000u);

    dial->SetBkgBitmap(nullptr);
    EXPECT_EQ(dial->mpComposite, nullptr);
}

}  // namespace
