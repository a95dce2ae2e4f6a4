// Needle dials: value-to-angle mapping of both geometries and its
// degenerate limits, the needle end against floating point, value changes
// and the partial redraw (what it repaints, what it leaves, and that it
// stays inside the parent's client area).
#include <gtest/gtest.h>

#include <cmath>

#include "gui/widgets/gauges/gauge_fixture.h"
#include "gui/widgets/gauges/gui_dial.h"

namespace {

using namespace gauges;
using DialTest = GaugeTest;

constexpr unsigned kThin = GDS_THIN_NEEDLE;

TEST_F(DialTest, FiniteDialStoresTheEndBelowTheStartAndMapsTheLimitsToThem)
{
    GuiFiniteDial dial(GuiRect(0, 0, 100, 100), 225, 315, 0, 100, kThin);
    EXPECT_EQ(dial.mType, GT_FINITE_DIAL);
    EXPECT_EQ(dial.miEndAngle, -45);
    EXPECT_EQ(dial.ValToAngle(0), 225);
    EXPECT_EQ(dial.ValToAngle(50), 89);
    EXPECT_EQ(dial.ValToAngle(99), -44);
    EXPECT_EQ(dial.ValToAngle(100), -45);
    EXPECT_EQ(dial.ValToAngle(-5), 225);
    EXPECT_EQ(dial.ValToAngle(1000), -45);
    dial.SetValue(50, 0);
    dial.CalcNeedlePos();
    EXPECT_EQ(dial.NeedleAngle(), 89);

    // An end at or below the start stays as given.
    dial.SetLimits(90, -90, 0, 10);
    EXPECT_EQ(dial.miEndAngle, -90);
    EXPECT_EQ(dial.Value(), 0);
}

TEST_F(DialTest, CircularDialWrapsAfterOneTurn)
{
    const int origin = 90;
    GuiCircularDial dial(GuiRect(0, 0, 100, 100), origin, 60, 0, 60, kThin);
    EXPECT_EQ(dial.mType, GT_CIRCULAR_DIAL);
    const struct { long value; int angle; } cases[] = {{0, origin}, {30, origin - 183}, {59, origin - 359}, {60, origin}};
    for (const auto& c : cases) {
        dial.SetValue(c.value, 0);
        dial.CalcNeedlePos();
        EXPECT_EQ(dial.NeedleAngle(), c.angle) << c.value;
    }
}

TEST_F(DialTest, ThinNeedleEndsWhereFloatingPointPutsIt)
{
    auto* dial = new GuiCircularDial(GuiRect(100, 100, 300, 300), 0, 360, 0, 359, kThin);
    host->Add(dial, 1);
    const double kPi = 3.14159265358979323846;
    for (int angle = -180; angle <= 360; angle += 7) {
        dial->SetLimits(angle, 360, 0, 359);
        const GuiPoint cor = dial->Cor(), tip = dial->NeedleTip();
        EXPECT_EQ(cor.x, 200);
        EXPECT_EQ(cor.y, 200);
        const double length = 80.0 * 100 / 100, a = angle * kPi / 180;
        EXPECT_NEAR(tip.x, cor.x + length * std::cos(a), 1.5) << angle;
        EXPECT_NEAR(tip.y, cor.y - length * std::sin(a), 1.5) << angle;
    }
    // The drawn needle reaches its tip.
    GuiThing::mpScreen->Invalidate(dial->mOuter);
    dial->Draw();
    EXPECT_EQ(Pixel(dial->NeedleTip().x, dial->NeedleTip().y), kNeedle);
}

TEST_F(DialTest, ValueChangesClampAndSkipWhatChangesNothing)
{
    auto* dial = new Counted<GuiFiniteDial>(GuiRect(20, 20, 220, 220), 180, 0, 0, 100, kThin);
    host->Add(dial, 1);
    const int drawn = dial->draws;
    dial->SetValue(0, 1);        // the current value
    dial->SetValue(-50, 1);      // below a minimum already reached
    EXPECT_EQ(dial->draws, drawn);
    EXPECT_EQ(dial->IncrementValue(-3, 1), 0);
    EXPECT_EQ(dial->draws, drawn);

    EXPECT_EQ(dial->IncrementValue(250, 1), 100);   // stops at the maximum
    EXPECT_EQ(dial->draws, drawn + 1);
    dial->SetValue(500, 1);
    EXPECT_EQ(dial->draws, drawn + 1);
    dial->SetValue(-7, 0);                          // clamped, not drawn
    EXPECT_EQ(dial->Value(), 0);
    EXPECT_EQ(dial->draws, drawn + 1);
    EXPECT_EQ(dial->IncrementValue(LONG_MAX, 0), 100);
    EXPECT_EQ(dial->IncrementValue(LONG_MIN, 0), 0);
}

TEST_F(DialTest, RedrawRepaintsTheSweptStripOnly)
{
    auto* dial = new Counted<GuiFiniteDial>(GuiRect(100, 100, 300, 300), 180, 0, 0, 100, kThin);
    host->Add(dial, 1);
    const GuiPoint cor = dial->Cor();
    EXPECT_EQ(Pixel(cor.x - 40, cor.y), kNeedle);   // pointing left
    Mark(cor.x, cor.y + 50);                        // on the face, off both needles
    Mark(cor.x - 40, cor.y - 20);

    dial->SetValue(100, 1);                         // now pointing right
    EXPECT_EQ(Pixel(cor.x, cor.y + 50), kMarker);
    EXPECT_EQ(Pixel(cor.x - 40, cor.y - 20), kMarker);
    EXPECT_EQ(Pixel(cor.x + 40, cor.y), kNeedle);
    EXPECT_EQ(Pixel(cor.x - 40, cor.y), kFace);     // the old needle is gone

    // A value whose needle rectangle stays the same draws nothing.
    auto* clock = new Counted<GuiCircularDial>(GuiRect(320, 100, 520, 300), 90, 60, 0, 60, kThin);
    host->Add(clock, 1);
    const int drawn = clock->draws;
    clock->SetValue(60, 1);   // one full turn: back at the origin
    EXPECT_EQ(clock->draws, drawn);
    EXPECT_EQ(clock->CalcClipAndDraw(), 1);
    clock->SetValue(15, 1);
    EXPECT_EQ(clock->draws, drawn + 1);
}

TEST_F(DialTest, KiteNeedleLeavesNoTraceOfItsOldPosition)
{
    auto* dial = new GuiFiniteDial(GuiRect(100, 100, 300, 300), 180, 0, 0, 100, GDS_POLYGON_NEEDLE);
    host->Add(dial, 1);
    const GuiRect face(110, 110, 290, 290);
    EXPECT_GT(CountColour(face, kNeedle), 100);
    dial->SetValue(50, 1);
    dial->SetValue(100, 1);
    // Only the needle at the right is left, nothing of the left or top one.
    const GuiRect left(110, 110, dial->Cor().x - 8, 290);
    EXPECT_EQ(CountColour(left, kNeedle), 0);
    EXPECT_GT(CountColour(GuiRect(dial->Cor().x + 8, 110, 290, 290), kNeedle), 100);
}

TEST_F(DialTest, RedrawStaysInsideTheParentsClientArea)
{
    for (unsigned extra : {0u, unsigned(GST_TRANSPARENT)}) {
        GuiWindow* panel = Panel(GuiRect(100, 100, 299, 299));
        // The dial's right half hangs out of the panel.
        auto* dial = new GuiFiniteDial(GuiRect(220, 120, 380, 280), 180, 0, 0, 100, kThin | GDS_TICKS | extra);
        dial->miTickInterval = 10;
        panel->Add(dial, 1);
        const Frame before = Snapshot();
        dial->SetValue(100, 1);
        dial->SetValue(40, 1);
        EXPECT_EQ(ChangedOutside(before, panel->mClient), 0) << extra;
        EXPECT_EQ(Pixel(dial->Cor().x - 40, dial->Cor().y), kFace);
        host->Destroy(panel);
    }
}

TEST_F(DialTest, DegenerateLimitsDrawWithoutFault)
{
    // A finite dial of two values with ticks: both ticks on the limits.
    auto* two = new GuiFiniteDial(GuiRect(10, 10, 110, 110), 225, 315, 0, 1, kThin | GDS_TICKS);
    two->miTickInterval = 1;
    host->Add(two, 1);
    two->SetValue(1, 1);
    EXPECT_EQ(two->NeedleAngle(), -45);

    // One value per turn, or none, counts as two.
    for (long perTurn : {0L, 1L, -5L}) {
        auto* dial = new GuiCircularDial(GuiRect(120, 10, 220, 110), 90, perTurn, 0, 10, kThin | GDS_TICKS);
        dial->miTickInterval = 1;
        host->Add(dial, 1);
        dial->SetValue(7, 1);
        dial->IncrementValue(3, 1);
        EXPECT_EQ(dial->miValuesPerTurn, 2);
        host->Destroy(dial);
    }

    // A negative tick interval draws no ticks instead of running away.
    auto* back = new GuiCircularDial(GuiRect(230, 10, 330, 110), 90, 12, 0, 12, kThin | GDS_TICKS);
    back->miTickInterval = -3;
    host->Add(back, 1);
}

}  // namespace
