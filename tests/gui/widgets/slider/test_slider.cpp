// Slider driven by pointer messages through the real queue: ends of the
// travel, dragging past them, snapping, the value signal, wide ranges and
// degenerate tracks, and the drawn scale.
#include <gtest/gtest.h>

#include "gui/core/test_runtime_pixels.h"
#include "gui/widgets/slider/gui_slider.h"

namespace {

class SliderTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 399, 299));
        pm->Add(host, 1);
    }

    // A horizontal slider whose thumb travels exactly 100 pixels.
    GuiSlider* Make(int min, int max, unsigned style, int scale, unsigned id = 3) {
        auto* s = new GuiSlider(GuiRect(20, 20, 135, 49), min, max, id, style | GST_FRAME_NONE, scale);
        host->Add(s, 1);
        Pump();
        return s;
    }

    void Press(int x, int y) { Post(PointerAt(GM_POINTER_PRESS, x, y)); Pump(); }
    void Move(int x, int y) { Post(PointerAt(GM_POINTER_MOVE, x, y)); Pump(); }
    void Release(int x, int y) { Post(PointerAt(GM_POINTER_RELEASE, x, y)); Pump(); }

    // Values of the signals of slider `id` that reached the host.
    std::vector<intptr_t> Values(unsigned id = 3) const {
        std::vector<intptr_t> out;
        for (const auto& m : host->seen)
            if (m.type == GuiSignalType(uint16_t(id), 9)) out.push_back(m.Word(0));
        return out;
    }

    RecWindow* host = nullptr;
};

TEST_F(SliderTest, DraggingMapsTheThumbOntoTheRangeAndStopsAtTheEnds)
{
    GuiSlider* s = Make(0, 100, 0, 10);
    GuiSlideButton* thumb = s->mpThumb;
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(thumb->mHighLimit - thumb->mLowLimit - 7, 100);
    EXPECT_EQ(s->GetCurrentValue(), 0);
    EXPECT_EQ(thumb->mOuter.left, thumb->mLowLimit);

    const int y = (thumb->mOuter.top + thumb->mOuter.bottom) / 2;
    Press(thumb->mOuter.left + 2, y);
    Move(thumb->mOuter.left + 2 + 37, y);
    EXPECT_EQ(s->GetCurrentValue(), 37);
    Move(1000, y);   // past the far end
    EXPECT_EQ(s->GetCurrentValue(), 100);
    EXPECT_EQ(thumb->mOuter.right, thumb->mHighLimit);
    Move(-500, y);   // past the start
    EXPECT_EQ(s->GetCurrentValue(), 0);
    EXPECT_EQ(thumb->mOuter.left, thumb->mLowLimit);
    Release(-500, y);
    EXPECT_EQ(thumb->mDragging, 0);

    // Every change reached the parent straight, with the value.
    const auto v = Values();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0], 37);
    EXPECT_EQ(v[1], 100);
    EXPECT_EQ(v[2], 0);
}

TEST_F(SliderTest, PressOnTheTrackJumpsAndKeepsDragging)
{
    GuiSlider* s = Make(0, 100, 0, 10);
    GuiSlideButton* thumb = s->mpThumb;
    const int y = (thumb->mOuter.top + thumb->mOuter.bottom) / 2;
    Press(thumb->mLowLimit + 60, y);
    EXPECT_EQ(thumb->mOuter.left, thumb->mLowLimit + 60);
    EXPECT_EQ(s->GetCurrentValue(), 60);
    EXPECT_EQ(pm->GetPointerOwner(), thumb);
    Move(thumb->mLowLimit + 70, y);
    EXPECT_EQ(s->GetCurrentValue(), 70);
    Release(thumb->mLowLimit + 70, y);
    EXPECT_EQ(pm->GetPointerOwner(), nullptr);
}

TEST_F(SliderTest, SnappingKeepsToMultiplesOfTheScaleAndRoundsHalfwayUp)
{
    GuiSlider* s = Make(0, 100, GSS_SNAP, 10);
    GuiSlideButton* thumb = s->mpThumb;
    const int y = (thumb->mOuter.top + thumb->mOuter.bottom) / 2;
    // The thumb's centre (leading edge + 3) follows the pointer.
    Press(thumb->mLowLimit + 45 + 3, y);
    EXPECT_EQ(s->GetCurrentValue(), 50) << "halfway rounds up";
    for (int x = thumb->mLowLimit - 20; x < thumb->mHighLimit + 20; x += 3) Move(x, y);
    Move(thumb->mLowLimit + 44 + 3, y);
    EXPECT_EQ(s->GetCurrentValue(), 40);
    Release(0, y);
    const auto v = Values();
    ASSERT_FALSE(v.empty());
    for (intptr_t value : v) {
        EXPECT_EQ(value % 10, 0) << value;
        EXPECT_GE(value, 0);
        EXPECT_LE(value, 100);
    }
    // Value to place goes through 1/256 fixed point: within a pixel.
    EXPECT_NEAR(thumb->mOuter.left, thumb->mLowLimit + 40, 1);
}

TEST_F(SliderTest, ReversedRangeRunsFromTheMaximumDown)
{
    GuiSlider* s = Make(100, 0, GSS_SNAP, 25);
    GuiSlideButton* thumb = s->mpThumb;
    const int y = (thumb->mOuter.top + thumb->mOuter.bottom) / 2;
    EXPECT_EQ(s->GetCurrentValue(), 100);
    Press(s->mClient.right - 1, y);   // near the far end
    EXPECT_EQ(s->GetCurrentValue(), 0);
    Move(thumb->mLowLimit + 50 + 3, y);
    EXPECT_EQ(s->GetCurrentValue(), 50);
    Release(0, y);
}

TEST_F(SliderTest, DegenerateRangesScalesAndTracksDoNotDivideByZero)
{
    struct Case { GuiRect rect; int min, max; unsigned style; int scale; };
    const Case cases[] = {
        {GuiRect(20, 20, 135, 49), 0, 100, GSS_SNAP, 0},     // scale 0: no snapping
        {GuiRect(20, 20, 135, 49), 5, 5, GSS_SNAP, 10},      // maximum = minimum
        {GuiRect(20, 20, 135, 49), 5, 5, 0, 10},
        {GuiRect(20, 60, 26, 66), 0, 100, GSS_SNAP, 10},     // 7-pixel track
        {GuiRect(20, 60, 21, 61), 0, 100, 0, 10},            // no travel at all
        {GuiRect(20, 60, 20, 60), 0, 100, GSS_SNAP, 10},
    };
    unsigned id = 10;
    for (const Case& c : cases) {
        auto* s = new GuiSlider(c.rect, c.min, c.max, id, c.style | GST_FRAME_NONE, c.scale);
        host->Add(s, 1);
        Pump();
        GuiSlideButton* thumb = s->mpThumb;
        const int y = (c.rect.top + c.rect.bottom) / 2;
        Press(c.rect.left, y);
        for (int x = c.rect.left - 10; x <= c.rect.right + 10; ++x) Move(x, y);
        Release(c.rect.right, y);
        const int v = s->GetCurrentValue();
        EXPECT_GE(v, std::min(c.min, c.max)) << id;
        EXPECT_LE(v, std::max(c.min, c.max)) << id;
        if (thumb->mHighLimit - thumb->mLowLimit <= 7) {
            EXPECT_EQ(v, c.min) << id;
        }
        host->Remove(s, 1);
        delete s;
        ++id;
    }
}

TEST_F(SliderTest, WideRangesMapWithoutOverflow)
{
    GuiSlider* s = Make(-2000000000, 2000000000, 0, -1);
    GuiSlideButton* thumb = s->mpThumb;
    s->SetCurrentValue(2000000000, 1);
    EXPECT_EQ(thumb->mOuter.right, thumb->mHighLimit);
    s->SetCurrentValue(0, 1);
    EXPECT_EQ(thumb->mOuter.left, thumb->mLowLimit + 50);
    const int y = (thumb->mOuter.top + thumb->mOuter.bottom) / 2;
    Press(thumb->mOuter.left, y);
    Move(2000, y);
    EXPECT_EQ(s->GetCurrentValue(), 2000000000);
    Move(-2000, y);
    EXPECT_EQ(s->GetCurrentValue(), -2000000000);
    Release(0, y);

    GuiSlider* m = Make(0, 10000000, 0, 1000000, 4);
    m->SetCurrentValue(10000000, 1);
    EXPECT_EQ(m->mpThumb->mOuter.right, m->mpThumb->mHighLimit);
    m->SetCurrentValue(5000000, 1);
    EXPECT_EQ(m->mpThumb->mOuter.left, m->mpThumb->mLowLimit + 50);
}

TEST_F(SliderTest, ScaleDrawsTicksAndGroove)
{
    // Vertical, 0..100 by 25: five ticks down the left sixth.
    auto* s = new GuiSlider(GuiRect(200, 20, 247, 219), 0, 100, 5, GST_FRAME_NONE, 25);
    host->Add(s, 1);
    Pump();
    const GuiRect c = s->mClient;
    const int tickEnd = c.left + c.Width() / 6;
    int ticks = 0;
    for (int y = c.top; y <= c.bottom; ++y) ticks += Pixel(c.left, y) == 0x000000u && Pixel(tickEnd, y) == 0x000000u;
    EXPECT_EQ(ticks, 5);
    const int xm = (tickEnd + c.right) >> 1;
    EXPECT_EQ(Pixel(xm - 1, c.top + c.Height() / 2 + 30), 0x808080u);
    EXPECT_EQ(Pixel(xm + 1, c.top + c.Height() / 2 + 30), 0xFFFFFFu);

    // Scale -1: neither ticks nor groove. A later SetScale draws ticks but
    // keeps the thumb's snap step.
    auto* bare = new GuiSlider(GuiRect(300, 20, 347, 219), 0, 100, 6, GST_FRAME_NONE | GSS_SNAP, -1);
    host->Add(bare, 1);
    Pump();
    EXPECT_EQ(CountColour(GuiRect(300, 20, 307, 219), 0x000000), 0);
    bare->SetScale(50);
    bare->SetMaxValue(100);
    EXPECT_GT(CountColour(GuiRect(300, 20, 307, 219), 0x000000), 0);
    EXPECT_EQ(bare->mpThumb->mScale, -1);

    // A scale of 1 over a huge range is capped to what the track can show.
    auto* dense = new GuiSlider(GuiRect(20, 250, 219, 279), 0, 2000000000, 7, GST_FRAME_NONE, 1);
    host->Add(dense, 1);
    Pump();
    EXPECT_GT(CountColour(dense->mClient, 0x000000), 0);
}

TEST_F(SliderTest, ZeroIdSendsNoSignal)
{
    GuiSlider* s = Make(0, 100, 0, 10, 0);
    const int y = (s->mpThumb->mOuter.top + s->mpThumb->mOuter.bottom) / 2;
    Press(s->mpThumb->mLowLimit + 30, y);
    Release(0, y);
    EXPECT_EQ(s->GetCurrentValue(), 30);
    for (const auto& m : host->seen) EXPECT_LT(m.type, GM_SIGNAL_BASE);
}

}  // namespace
