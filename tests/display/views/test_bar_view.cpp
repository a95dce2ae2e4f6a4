// Bar graphs fed through the gateway: the bar end in each orientation, the
// clamp at the ends, an empty range, solid and stacked zones, ticks.
#include "display/views/cbarview.h"
#include "display_view_fixture.h"

namespace {

constexpr uint32_t kBar = 0x00C000, kBarBg = 0x202020, kBorderBg = 0x000030;
constexpr uint32_t kLowBar = 0x0000F0, kUpBar = 0xF00000;

bargraph_deco_s Deco(uint32_t bar) {
    bargraph_deco_s d{};
    XmlInitBarGraphDeco(&d);
    d.style = STYLE_NONE;
    d.BorderBGCol = Rgb(kBorderBg);
    d.BorderFGCol = Rgb(0x808080);
    d.BarBGCol = Rgb(kBarBg);
    d.BarFGCol = Rgb(bar);
    d.TicksCol = Rgb(0xFFFF00);
    d.TitleFGCol = Rgb(0xFFFFFF);
    d.TitleBGCol = Rgb(0x000000);
    return d;
}

// Client from x 100 to 332: the bar from 116 to 316 (scale 2 on 0..100).
display_elem_s Bar(BargrOrientType_t o) {
    display_elem_s e{};
    XmlInitBarGraph(&e);
    e.pos_x = 100, e.pos_y = 100, e.size_x = 233, e.size_y = 233;
    bargraph_s& g = e.bargraph;
    g.orientation = o;
    g.min = 0, g.max = 100;
    g.ch_in = ChannelOf("throttle", TE_FLOAT);
    g.deco_middle = Deco(kBar);
    return e;
}

class BarView : public DisplayViewTest {
protected:
    CBarView* Make(display_elem_s* e) {
        auto* v = new CBarView(page->mOuter, e, page, GST_FRAME_NONE);
        Connect(v, e);
        page->Add(v, 1);
        return v;
    }
    void Show(double value, CBarView* v) {
        signalPage()->throttle = float(value);
        Tick();
        v->update();
    }
    // The pixel on the bar's axis through its middle.
    uint32_t At(const CBarView* v, int p) {
        const GuiRect& r = v->barRect;
        return v->horizontal ? Pixel(p, (r.top + r.bottom) / 2) : Pixel((r.left + r.right) / 2, p);
    }
};

TEST_F(BarView, FiftyOnZeroToHundredEndsAtTheComputedPixelInEachOrientation) {
    for (BargrOrientType_t o : {BARGR_HORI_LR, BARGR_HORI_RL, BARGR_VERT_BT, BARGR_VERT_TB}) {
        SCOPED_TRACE(int(o));
        display_elem_s e = Bar(o);
        CBarView* v = Make(&e);
        Start();
        Show(50, v);
        const GuiRect& r = v->barRect;
        const bool h = v->horizontal;
        const int lo = h ? r.left : r.top, hi = h ? r.right : r.bottom;
        const int mid = (lo + hi) / 2;   // 50 of 0..100 lies half-way
        EXPECT_EQ(v->barEnd, mid);
        const bool rev = v->reverse;
        EXPECT_EQ(rev, o == BARGR_HORI_RL || o == BARGR_VERT_BT);
        const int start = rev ? hi : lo, dir = rev ? -1 : 1;
        EXPECT_EQ(At(v, start), kBar);
        EXPECT_EQ(At(v, mid), kBar);
        EXPECT_EQ(At(v, mid + dir), kBarBg);
        EXPECT_EQ(At(v, rev ? lo : hi), kBarBg);
        if (o == BARGR_HORI_LR) {
            EXPECT_EQ(r.left, 116);
            EXPECT_EQ(r.right, 316);
            EXPECT_FLOAT_EQ(v->scale, 2.0f);
            EXPECT_FLOAT_EQ(v->offset, 116.0f);
            EXPECT_EQ(v->barEnd, 216);
        }
        manager->stopMeasurement();
        page->Remove(v, 1);
        delete v;
    }
}

TEST_F(BarView, ValuesOutsideTheRangeClampAndNaNGivesAnEmptyBar) {
    display_elem_s e = Bar(BARGR_HORI_LR);
    CBarView* v = Make(&e);
    Start();
    Show(150, v);
    EXPECT_EQ(v->barEnd, 316);
    EXPECT_EQ(At(v, 316), kBar);
    Show(-10, v);
    EXPECT_EQ(v->barEnd, 116);
    EXPECT_EQ(At(v, 116), kBarBg);   // no bar: the whole bar background
    EXPECT_EQ(v->pixelOf(__builtin_nan("")), 116);
    EXPECT_EQ(v->pixelOf(1e30), 316);
    EXPECT_EQ(v->update(), 0);   // unchanged end and band: nothing drawn
    v->forceUpdate();
    EXPECT_EQ(v->update(), 1);   // forced: the bar is redrawn once
}

TEST_F(BarView, EmptyRangeMapsEveryValueToTheTopLeftEdge) {
    display_elem_s lr = Bar(BARGR_HORI_LR), bt = Bar(BARGR_VERT_BT);
    lr.bargraph.min = lr.bargraph.max = 50;
    bt.bargraph.min = 100, bt.bargraph.max = 0;
    bt.pos_x = 350;
    CBarView* a = Make(&lr);
    CBarView* b = Make(&bt);
    Start();
    signalPage()->throttle = 70;
    Tick();
    a->update();
    b->update();
    EXPECT_EQ(a->scale, 0.0f);
    EXPECT_EQ(a->barEnd, a->barRect.left);
    EXPECT_EQ(At(a, a->barRect.left), kBarBg);   // hori_lr: empty
    EXPECT_EQ(b->barEnd, b->barRect.top);
    EXPECT_EQ(At(b, b->barRect.top), kBar);   // vert_bt: full
}

TEST_F(BarView, SolidBarTakesTheBandColourStackedBarKeepsItsZones) {
    display_elem_s solid = Bar(BARGR_HORI_LR), stacked = Bar(BARGR_HORI_LR);
    for (display_elem_s* e : {&solid, &stacked}) {
        bargraph_s& g = e->bargraph;
        g.has_lower = g.has_upper = 1;
        g.limit_low = 20, g.hyst_low = 5;
        g.limit_up = 80, g.hyst_up = 5;
        g.deco_lower = Deco(kLowBar);
        g.deco_upper = Deco(kUpBar);
    }
    stacked.bargraph.style = BARGR_STACKED;
    stacked.pos_y = 250;
    solid.size_y = stacked.size_y = 140;
    CBarView* a = Make(&solid);
    CBarView* b = Make(&stacked);
    Start();
    Show(90, a);
    b->update();
    EXPECT_EQ(a->bands.band, uint32_t(BAND_UPPER));
    EXPECT_EQ(At(a, 120), kUpBar);   // whole solid bar in the upper colour
    EXPECT_EQ(At(a, 290), kUpBar);
    // Stacked: lower zone to the lower limit pixel, middle to the upper, upper beyond.
    EXPECT_EQ(b->lowerPixel, 156);
    EXPECT_EQ(b->upperPixel, 276);
    EXPECT_EQ(At(b, 156), kLowBar);
    EXPECT_EQ(At(b, 157), kBar);
    EXPECT_EQ(At(b, 276), kBar);
    EXPECT_EQ(At(b, 277), kUpBar);
    EXPECT_EQ(At(b, 296), kUpBar);
    EXPECT_EQ(At(b, 297), kBarBg);
    Show(50, a);
    EXPECT_EQ(a->bands.band, uint32_t(BAND_MIDDLE));
    EXPECT_EQ(At(a, 120), kBar);
}

TEST_F(BarView, StackedBarWithoutOuterBandsIsDrawnInTheMiddleColour) {
    display_elem_s e = Bar(BARGR_VERT_TB);
    e.bargraph.style = BARGR_STACKED;
    e.bargraph.limit_low = 30, e.bargraph.limit_up = 60;
    CBarView* v = Make(&e);
    Start();
    Show(90, v);
    const int lo = v->barRect.top;
    for (int p = lo; p <= v->barEnd; ++p) ASSERT_EQ(At(v, p), kBar) << p;
}

TEST_F(BarView, VerticalTicksHaveLabelsAsWideAsAZero) {
    display_elem_s e = Bar(BARGR_VERT_BT);
    bargraph_s& g = e.bargraph;
    g.ticks = 1;
    g.tick_count = 3;
    std::strcpy(g.tick_list[0].name, "0"), g.tick_list[0].value = 0;
    std::strcpy(g.tick_list[1].name, "500"), g.tick_list[1].value = 50;
    std::strcpy(g.tick_list[2].name, "1000"), g.tick_list[2].value = 100;
    CBarView* v = Make(&e);
    const GuiFont* tiny = Korva_getFont(FONT_TINY);
    const int zero = GuiThing::mpScreen->TextWidth("0", tiny, -1);
    EXPECT_EQ(v->barRect.right, v->mClient.right - (zero + 17));
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(v->labelsMiddle[i], nullptr);
        EXPECT_EQ(v->labelsMiddle[i]->width, zero);
        EXPECT_EQ(v->labelPos[i].x, v->mOuter.right - zero - 16);
    }
    EXPECT_EQ(v->tickPixel[0], v->barRect.bottom);
    EXPECT_EQ(v->tickPixel[2], v->barRect.top);
    Start();
    Show(10, v);
    // Tick lines of width 2 across the bar in the ticks colour.
    const int y = v->tickPixel[1], x = (v->barRect.left + v->barRect.right) / 2;
    EXPECT_EQ(Pixel(x, y), 0xFFFF00u);
    EXPECT_EQ(Pixel(x, y + 1), 0xFFFF00u);
}

}  // namespace
