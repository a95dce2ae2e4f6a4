// Text boxes fed through the gateway: the value in the middle band's
// colours, limit bands with hysteresis, the stale look after missing data,
// a label box, the reset letter.
#include <atomic>
#include <string>
#include <thread>

#include "display/views/cdispbox.h"
#include "display_view_fixture.h"

namespace {

constexpr uint32_t kTextFg = 0xF0F0F0, kTextBg = 0x102030;
constexpr uint32_t kLowTextBg = 0x0000A0, kUpTextBg = 0xA00000;
constexpr uint32_t kBorderFg = 0x808080, kBorderBg = 0x304050;

alphanum_deco_s Deco(uint32_t textBg, StyleType_t style = STYLE_SINGLE_LINE) {
    alphanum_deco_s d{};
    XmlInitAlphaNumDeco(&d);
    d.style = style;
    d.TitleBGCol = Rgb(0x000000);
    d.TitleFGCol = Rgb(0xC0C0C0);
    d.BorderBGCol = Rgb(kBorderBg);
    d.BorderFGCol = Rgb(kBorderFg);
    d.TextBGCol = Rgb(textBg);
    d.TextFGCol = Rgb(kTextFg);
    return d;
}

// A box at (40, 60) of 300 x 120 on the engine speed, "%.1f".
display_elem_s Box() {
    display_elem_s e{};
    XmlInitAlphaNumeric(&e);
    e.pos_x = 40, e.pos_y = 60, e.size_x = 300, e.size_y = 120;
    alphanum_s& a = e.alphanum;
    a.font_size = FONT_NORMAL;
    a.align = ALIGN_MM;
    a.dispmode = DISP_NORMAL;
    std::strcpy(a.format_str, "%.1f");
    a.ch_in = ChannelOf("n_engine", TE_FLOAT);
    a.deco_middle = Deco(kTextBg);
    return e;
}

class BoxView : public DisplayViewTest {
protected:
    CDispBox* Make(display_elem_s* e) {
        auto* b = new CDispBox(page->mOuter, e, page, GST_FRAME_NONE);
        Connect(b, e);
        page->Add(b, 1);
        return b;
    }
    void Show(double v, CDispBox* b) {
        signalPage()->n_engine = float(v);
        Tick();
        b->update();
    }
    static std::string Text(const CDispBox* b) { return b->prompt->mpText ? b->prompt->mpText : ""; }
    // The text area of the box (client less 16 on every side).
    static GuiRect TextArea(const CDispBox* b) {
        GuiRect r = b->mClient;
        r -= 16;
        return r;
    }
};

TEST_F(BoxView, ShowsTheValueInTheMiddleBandColours) {
    display_elem_s e = Box();
    CDispBox* b = Make(&e);
    Start();
    Show(123.4, b);
    EXPECT_STREQ(b->prompt->mpText, "123.4");
    EXPECT_EQ(b->bands.band, uint32_t(BAND_MIDDLE));
    const GuiRect area = TextArea(b);
    const GuiFont* font = Korva_getFont(FONT_NORMAL);
    // Exactly the glyph pixels of "123.4" in the text colour, the rest of the
    // text area in the text background, no red cross.
    EXPECT_EQ(CountColour(area, kTextFg), GlyphInk(font, "123.4"));
    EXPECT_EQ(CountColour(area, kTextFg) + CountColour(area, kTextBg), area.Width() * area.Height());
    EXPECT_EQ(CountColour(b->mOuter, 0xFF0000), 0);
    // The single-line frame: an outline of width 2 inset by 5, the border
    // background outside it.
    EXPECT_EQ(Pixel(b->mClient.left + 5, b->mClient.top + 40), kBorderFg);
    EXPECT_EQ(Pixel(b->mClient.left + 6, b->mClient.top + 40), kBorderFg);
    EXPECT_EQ(Pixel(b->mClient.left + 4, b->mClient.top + 40), kBorderBg);
    // The text is centred in the text area.
    const GuiRect ink = InkBox(area, kTextFg);
    EXPECT_NEAR((ink.left + ink.right) / 2.0, (area.left + area.right) / 2.0, 3.0);
    EXPECT_EQ(b->update(), 0);   // same value: nothing to draw
}

TEST_F(BoxView, LimitsChangeTheBandWithHysteresis) {
    display_elem_s e = Box();
    alphanum_s& a = e.alphanum;
    a.has_lower = a.has_upper = 1;
    a.limit_low = 10, a.hyst_low = 2;
    a.limit_up = 100, a.hyst_up = 5;
    a.deco_lower = Deco(kLowTextBg);
    a.deco_upper = Deco(kUpTextBg, STYLE_DOUBLE_LINE);
    CDispBox* b = Make(&e);
    Start();
    const GuiRect area = TextArea(b);
    struct Step {
        double v;
        uint32_t band, bg;
    } steps[] = {{15, BAND_MIDDLE, kTextBg},  {9.9, BAND_LOWER, kLowTextBg}, {11.9, BAND_LOWER, kLowTextBg},
                 {12, BAND_MIDDLE, kTextBg},  {100, BAND_MIDDLE, kTextBg},   {100.1, BAND_UPPER, kUpTextBg},
                 {95.1, BAND_UPPER, kUpTextBg}, {95, BAND_MIDDLE, kTextBg},  {5, BAND_LOWER, kLowTextBg},
                 {150, BAND_UPPER, kUpTextBg}};   // lower straight to upper in one tick
    for (const Step& s : steps) {
        SCOPED_TRACE(s.v);
        Show(s.v, b);
        EXPECT_EQ(b->bands.band, s.band);
        EXPECT_EQ(Pixel(area.left, area.top), s.bg);
    }
    // The upper band's double frame: a second outline inset by 9.
    EXPECT_EQ(Pixel(b->mClient.left + 9, b->mClient.top + 40), kBorderFg);
}

// Values that come at their rate but late by a period, two in the next
// (a device's values over the network, sent on its own raster): no period
// counts as one without data, and the status the page logs stays as it is.
TEST_F(BoxView, AValueLateByAPeriodIsNoMissingData) {
    display_elem_s e = Box();
    CDispBox* b = Make(&e);
    Start();
    for (int round = 0; round < 20; ++round) {
        Tick(false);
        ts += 200;
        meas_man_copy_raster(kDisplayRaster, ts);
        Tick();
        b->update();
        ASSERT_EQ(b->bands.band, uint32_t(BAND_MIDDLE)) << round;
    }
    bool all = false, any = false;
    unsigned short mn = 1, mx = 1;
    unsigned long total = 1, mask = 1;
    manager->getStatus(&all, &any, &mn, &mx, &total, &mask);
    EXPECT_TRUE(all);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(mx, 0u);
    EXPECT_EQ(mask, 0u);
}

TEST_F(BoxView, TurnsStaleAtTheFifthNoDataEventAndRecovers) {
    display_elem_s e = Box();
    CDispBox* b = Make(&e);
    Start();
    Show(42.0, b);
    ASSERT_EQ(b->bands.band, uint32_t(BAND_MIDDLE));
    // The gateway reports every period without data once the list's
    // time-out of five periods has passed; the values turn invalid at the
    // fifth report in a row.
    for (int period = 1; period <= 8; ++period) {
        Tick(false);
        b->update();
        EXPECT_EQ(b->bands.band, uint32_t(BAND_MIDDLE)) << "period " << period;
    }
    Tick(false);
    EXPECT_EQ(b->update(), 2);
    EXPECT_EQ(b->bands.band, uint32_t(BAND_STALE));
    EXPECT_EQ(Text(b), "");
    const GuiRect c = b->mClient;
    // Ghost colours (each component halved) and the red cross.
    EXPECT_EQ(Pixel(c.left + 1, c.top + 1), (kBorderBg >> 1) & 0x7F7F7F);
    EXPECT_EQ(Pixel(c.left + 5, c.top + 40), (kBorderFg >> 1) & 0x7F7F7F);
    EXPECT_GT(CountColour(c, 0xFF0000), 2 * (c.Width() - 32));
    EXPECT_EQ(Pixel(c.left + 16, c.top + 17), 0xFF0000u);
    EXPECT_EQ(Pixel(c.right - 16, c.top + 17), 0xFF0000u);
    EXPECT_EQ(CountColour(TextArea(b), kTextFg), 0);
    bool all = true, any = true;
    unsigned short mn = 0, mx = 0;
    unsigned long total = 0, mask = 0;
    manager->getStatus(&all, &any, &mn, &mx, &total, &mask);
    EXPECT_FALSE(all);
    EXPECT_FALSE(any);
    EXPECT_EQ(mn, 5);
    EXPECT_EQ(total, 5u);
    EXPECT_EQ(mask, 1u);   // device 5: bit 0

    Show(7.5, b);   // data again: middle band, text back
    EXPECT_EQ(b->bands.band, uint32_t(BAND_MIDDLE));
    EXPECT_STREQ(b->prompt->mpText, "7.5");
    EXPECT_EQ(CountColour(c, 0xFF0000), 0);
}

TEST_F(BoxView, WithoutValueInputShowsItsFormatTextAsALabel) {
    display_elem_s e = Box();
    e.alphanum.ch_in.type = TE_NONE;
    std::strcpy(e.alphanum.format_str, "OIL %");
    CDispBox* b = Make(&e);
    EXPECT_EQ(b->getData(CDATA_VALUE), nullptr);
    EXPECT_EQ(b->update(), 2);
    EXPECT_STREQ(b->prompt->mpText, "OIL %");
    EXPECT_EQ(CountColour(TextArea(b), kTextFg), GlyphInk(Korva_getFont(FONT_NORMAL), "OIL %"));
    EXPECT_EQ(b->update(), 0);
}

TEST_F(BoxView, TitleAndPromptPlacement) {
    display_elem_s e = Box();
    std::strcpy(e.alphanum.title, "rpm");
    e.alphanum.align = ALIGN_BM;
    e.size_y = 60;   // too low for the text below the title
    CDispBox* b = Make(&e);
    const GuiFont* tiny = Korva_getFont(FONT_TINY);
    EXPECT_EQ(b->titles.height, uint32_t(tiny->height));
    EXPECT_EQ(b->prompt->mOuter.top, b->mClient.top + int(b->titles.height));
    EXPECT_EQ(b->prompt->mOuter.bottom, b->mClient.bottom - 16);
    EXPECT_NE(b->titles.middle, nullptr);
    EXPECT_EQ(b->titles.lower, nullptr);

    display_elem_s f = Box();   // no title: the text area starts 16 below the top
    f.alphanum.align = ALIGN_TL;
    CDispBox* g = Make(&f);
    EXPECT_EQ(g->prompt->mOuter.top, g->mClient.top + 16);
    EXPECT_EQ(g->prompt->mOuter.bottom, g->mClient.top + 16 + Korva_getFont(FONT_NORMAL)->height);
    EXPECT_TRUE(g->prompt->mStyle & GST_TEXT_LEFT);
}

TEST_F(BoxView, ResetLetterShowsWhileFlaggedAndForceUpdateClearsIt) {
    display_elem_s e = Box();
    e.alphanum.vis_mode = VIS_LIMIT_RESETABLE;
    e.alphanum.always_on_top = 1;
    e.alphanum.vis_in = ChannelOf("gear", TE_SINT8);
    CDispBox* b = Make(&e);
    ASSERT_NE(b->getData(CDATA_VISIBILITY), nullptr);
    Start();
    signalPage()->gear = 1;
    Show(50, b);
    ASSERT_TRUE(b->getViewIsActive());
    EXPECT_EQ(b->setElemResetFlag(1), 1);
    GuiThing::mpScreen->Invalidate(b->mClient);   // a redraw as the page does it
    b->Draw();
    // "R" in the title colours swapped (black on light grey), in the corner.
    const GuiRect c = b->mClient;
    EXPECT_GT(CountColour(GuiRect(c.left, c.top, c.left + 20, c.top + 27), 0xC0C0C0), 0);
    b->forceUpdate();
    EXPECT_EQ(b->elemResetFlag, 0u);
    b->update();
    GuiThing::mpScreen->Invalidate(b->mClient);
    b->Draw();
    EXPECT_EQ(CountColour(GuiRect(c.left, c.top, c.left + 20, c.top + 27), 0xC0C0C0), 0);
}

TEST_F(BoxView, ValuesArriveOnTheRasterTaskWhileTheGuiTaskDraws) {
    display_elem_s e = Box();
    CDispBox* b = Make(&e);
    Start();
    std::atomic<bool> done{false};
    std::thread raster([&] {
        for (int i = 1; i <= 300; ++i) {
            signalPage()->n_engine = float(i);
            Tick();
        }
        done = true;
    });
    while (!done) b->update();
    raster.join();
    b->update();
    EXPECT_EQ(Text(b), "300.0");
}

}  // namespace
