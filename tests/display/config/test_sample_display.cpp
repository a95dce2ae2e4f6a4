// The sample device's display.xml loads, as "cfg:/display.xml", into the
// model it describes, and its picture is a PNG the display can decode.
#include "display/config/display_xml_fixture.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "gui/image/gui_png.h"
#include "platform/files.h"

namespace {

class SampleDisplay : public DeviceFolderTest {
protected:
    void SetUp() override {
        DeviceFolderTest::SetUp();
        writeFile("cfg/display.xml", sampleFile("display.xml"));
        writeFile("cfg/flag.png", sampleFile("flag.png"));
        display_s* d = nullptr;
        ASSERT_EQ(XmlLoad("cfg:/display.xml", &d), 0) << displayError();
        cfg.reset(d);
    }
    DisplayPtr cfg;
};

void expectRGB(const rgb_s& c, int r, int g, int b) {
    EXPECT_EQ(c.red, r);
    EXPECT_EQ(c.green, g);
    EXPECT_EQ(c.blue, b);
}

// Channels of the sample: the shown value is b * x (quant_b, quant_f 1).
void expectChannel(const awm_meas_in& in, uint32_t adr, uint16_t type, float b = 1.0f) {
    EXPECT_EQ(in.adr, adr);
    EXPECT_EQ(in.type, type);
    EXPECT_EQ(in.mask, 0xFFFFFFFFu);
    EXPECT_EQ(in.quant_a, 0.0f);
    EXPECT_EQ(in.quant_b, b);
    EXPECT_EQ(in.quant_c, 0.0f);
    EXPECT_EQ(in.quant_d, 0.0f);
    EXPECT_EQ(in.quant_e, 0.0f);
    EXPECT_EQ(in.quant_f, 1.0f);
}

void expectNoChannel(const awm_meas_in& in) {
    EXPECT_EQ(in.adr, 0u);
    EXPECT_EQ(in.type, 0);
    EXPECT_EQ(in.mask, 0xFFFFFFFFu);
    EXPECT_EQ(in.quant_b, 0.0f);
    EXPECT_EQ(in.quant_f, 0.0f);
}

// The sample's decos: frame grey 80, title text grey c0, white text, the
// band's colour behind everything else.
void expectAlnumDeco(const alphanum_deco_s& d, StyleType_t style, int r, int g, int b) {
    EXPECT_EQ(d.style, style);
    expectRGB(d.BGCol, r, g, b);
    expectRGB(d.TitleBGCol, r, g, b);
    expectRGB(d.TitleFGCol, 0xc0, 0xc0, 0xc0);
    expectRGB(d.BorderBGCol, r, g, b);
    expectRGB(d.BorderFGCol, 0x80, 0x80, 0x80);
    expectRGB(d.TextBGCol, r, g, b);
    expectRGB(d.TextFGCol, 0xff, 0xff, 0xff);
}

void expectBarDeco(const bargraph_deco_s& d, int r, int g, int b) {
    EXPECT_EQ(d.style, STYLE_SINGLE_LINE);
    expectRGB(d.BGCol, 0, 0, 0);
    expectRGB(d.TitleBGCol, 0, 0, 0);
    expectRGB(d.TitleFGCol, 0xc0, 0xc0, 0xc0);
    expectRGB(d.BorderBGCol, 0, 0, 0);
    expectRGB(d.BorderFGCol, 0x80, 0x80, 0x80);
    expectRGB(d.BarBGCol, 0x20, 0x20, 0x20);
    expectRGB(d.BarFGCol, r, g, b);
    expectRGB(d.TicksCol, 0xff, 0xff, 0xff);
}

void expectHead(const display_elem_s* e, DisplayElemType_t type, uint32_t prio, uint32_t x, uint32_t y, uint32_t w,
                uint32_t h) {
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->type, type);
    EXPECT_EQ(e->version, 1.0f);
    EXPECT_EQ(e->prio, prio);
    EXPECT_EQ(e->pos_x, x);
    EXPECT_EQ(e->pos_y, y);
    EXPECT_EQ(e->size_x, w);
    EXPECT_EQ(e->size_y, h);
}

struct Band {
    bool has;
    float limit, hyst;
    int r, g, b;
};

void expectAlnum(const display_elem_s* e, uint32_t prio, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                 const char* title, FontSizeType_t font, DispOptType_t mode, const char* fmt, uint32_t adr,
                 uint16_t type, Band lower = {}, Band upper = {}) {
    expectHead(e, DISP_ELEM_ALPHANUM, prio, x, y, w, h);
    if (!e) return;
    const alphanum_s& a = e->alphanum;
    EXPECT_STREQ(a.title, title);
    EXPECT_EQ(a.font_size, font);
    EXPECT_EQ(a.align, ALIGN_MM);
    EXPECT_EQ(a.dispmode, mode);
    EXPECT_STREQ(a.format_str, fmt);
    expectChannel(a.ch_in, adr, type);
    expectAlnumDeco(a.deco_middle, STYLE_SINGLE_LINE, 0, 0, 0);
    EXPECT_EQ(a.has_lower, lower.has ? 1 : 0);
    EXPECT_EQ(a.has_upper, upper.has ? 1 : 0);
    if (lower.has) {
        EXPECT_EQ(a.limit_low, lower.limit);
        EXPECT_EQ(a.hyst_low, lower.hyst);
        expectAlnumDeco(a.deco_lower, STYLE_DOUBLE_LINE, lower.r, lower.g, lower.b);
    }
    if (upper.has) {
        EXPECT_EQ(a.limit_up, upper.limit);
        EXPECT_EQ(a.hyst_up, upper.hyst);
        expectAlnumDeco(a.deco_upper, STYLE_DOUBLE_LINE, upper.r, upper.g, upper.b);
    }
}

// The plain text boxes: always visible, no alarm, no verbal table.
void expectPlainBox(const display_elem_s* e) {
    if (!e) return;
    const alphanum_s& a = e->alphanum;
    EXPECT_EQ(a.vis_mode, VIS_ALWAYS);
    expectNoChannel(a.vis_in);
    EXPECT_EQ(a.always_on_top, 0);
    EXPECT_EQ(a.vtab, nullptr);
    EXPECT_EQ(a.blink, BLINK_OFF);
    EXPECT_EQ(a.min_disp_time, 0u);
    EXPECT_EQ(a.auto_reset_time, 0u);
    EXPECT_EQ(a.retrigger_time, 0u);
}

void expectBar(const display_elem_s* e, uint32_t prio, uint32_t x, uint32_t y, uint32_t w, uint32_t h, const char* title,
               uint32_t adr, float min, float max, BargrOrientType_t orient, BargrStyleType_t style,
               std::vector<std::pair<const char*, float>> ticks, Band upper = {}) {
    expectHead(e, DISP_ELEM_BARGRAPH, prio, x, y, w, h);
    if (!e) return;
    const bargraph_s& b = e->bargraph;
    EXPECT_STREQ(b.title, title);
    EXPECT_EQ(b.vis_mode, VIS_ALWAYS);
    EXPECT_EQ(b.always_on_top, 0);
    expectNoChannel(b.vis_in);
    expectChannel(b.ch_in, adr, TE_FLOAT);
    EXPECT_EQ(b.min, min);
    EXPECT_EQ(b.max, max);
    EXPECT_EQ(b.orientation, orient);
    EXPECT_EQ(b.style, style);
    EXPECT_EQ(b.ticks, ticks.empty() ? 0 : 1);
    ASSERT_EQ(b.tick_count, ticks.size());
    for (size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_STREQ(b.tick_list[i].name, ticks[i].first);
        EXPECT_EQ(b.tick_list[i].value, ticks[i].second);
    }
    expectBarDeco(b.deco_middle, 0, 0xc0, 0x40);
    EXPECT_EQ(b.has_lower, 0);
    EXPECT_EQ(b.has_upper, upper.has ? 1 : 0);
    if (upper.has) {
        EXPECT_EQ(b.limit_up, upper.limit);
        EXPECT_EQ(b.hyst_up, upper.hyst);
        expectBarDeco(b.deco_upper, upper.r, upper.g, upper.b);
    }
}

// Elements of a page in list order.
std::vector<const display_elem_s*> elements(const page_s& p) {
    std::vector<const display_elem_s*> v;
    for (const display_elem_s* e = p.elements; e; e = e->next) v.push_back(e);
    EXPECT_EQ(v.size(), p.count);
    v.resize(8, nullptr);
    return v;
}

constexpr Band RED_ABOVE(float limit, float hyst) { return {true, limit, hyst, 0xc0, 0, 0}; }

}  // namespace

TEST_F(SampleDisplay, DocumentBrightnessAndInputs) {
    EXPECT_EQ(cfg->xml_version, 1.0f);
    EXPECT_EQ(cfg->version, 1.0f);
    EXPECT_EQ(cfg->x_res, 640);
    EXPECT_EQ(cfg->y_res, 480);
    ASSERT_EQ(cfg->perc_count, 6);
    const uint16_t perc[] = {10, 25, 40, 60, 80, 100};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(cfg->perc[i], perc[i]);
    expectNoChannel(cfg->page_in);   // the page kept in NVRAM
    expectChannel(cfg->brightness_in, 0x0104001C, TE_FLOAT);    // p_fuel
    expectNoChannel(cfg->reset_in);
    EXPECT_EQ(cfg->page_count, 3);
    for (int i = 0; i < DISPLAY_MAX_PAGES; ++i) EXPECT_EQ(cfg->pages[i].used, i < 3 ? 1 : 0);
}

TEST_F(SampleDisplay, GearTable) {
    ASSERT_NE(cfg->vtabs, nullptr);
    const vtab_s* t = cfg->vtabs;
    EXPECT_STREQ(t->name, "gears");
    EXPECT_STREQ(t->default_text, "-");
    EXPECT_EQ(t->next, nullptr);
    char text[256];
    const char* expected[] = {"N", "1", "2", "3", "4", "5", "6", "-"};
    for (uint32_t v = 0; v < 8; ++v) {
        ASSERT_EQ(XmlVTabOutput(t, v, text), 0);
        EXPECT_STREQ(text, expected[v]);
    }
    XmlVTabOutput(t, 0xFFFFFFFFu, text);
    EXPECT_STREQ(text, "R");
}

TEST_F(SampleDisplay, RacePage) {
    const page_s& p = cfg->pages[0];
    expectRGB(p.bg_col, 0, 0, 0);
    ASSERT_EQ(p.count, 5);
    auto e = elements(p);
    expectAlnum(e[0], 1, 20, 60, 300, 120, "rpm", FONT_XXLARGE, DISP_NORMAL, "%.0f", 0x01040000, TE_FLOAT, {},
                RED_ABOVE(11500, 200));
    expectPlainBox(e[0]);
    expectAlnum(e[1], 2, 340, 60, 140, 120, "gear", FONT_XXXLARGE, DISP_VERBAL, "%s", 0x01040028, TE_SINT8);
    EXPECT_EQ(e[1]->alphanum.vtab, cfg->vtabs);
    expectAlnum(e[2], 3, 500, 60, 120, 120, "km/h", FONT_EXTRALARGE, DISP_NORMAL, "%.0f", 0x01040004, TE_FLOAT);
    expectPlainBox(e[2]);
    expectBar(e[3], 4, 20, 220, 600, 80, "throttle", 0x01040008, 0, 100, BARGR_HORI_LR, BARGR_SOLID,
              {{"0", 0}, {"50", 50}, {"100", 100}});
    // The alarm: shown while the throttle is fully open.
    expectAlnum(e[4], 5, 220, 320, 200, 80, "FULL", FONT_LARGE, DISP_NORMAL, "%.0f %%", 0x01040008, TE_FLOAT);
    const alphanum_s& a = e[4]->alphanum;
    EXPECT_EQ(a.vis_mode, VIS_LIMIT);
    EXPECT_EQ(a.always_on_top, 1);
    expectChannel(a.vis_in, 0x01040008, TE_FLOAT, 0.01f);
    EXPECT_EQ(a.blink, BLINK_SLOW);
    EXPECT_EQ(a.min_disp_time, 500u);
    EXPECT_EQ(a.auto_reset_time, 0u);
    EXPECT_EQ(e[5], nullptr);
}

TEST_F(SampleDisplay, TemperaturePage) {
    const page_s& p = cfg->pages[1];
    expectRGB(p.bg_col, 0, 0, 0);
    ASSERT_EQ(p.count, 5);
    auto e = elements(p);
    expectAlnum(e[0], 1, 20, 60, 190, 100, "water", FONT_LARGE, DISP_NORMAL, "%.1f", 0x0104000C, TE_FLOAT,
                {true, 60, 2, 0, 0x40, 0xc0}, RED_ABOVE(105, 2));
    expectAlnum(e[1], 2, 225, 60, 190, 100, "oil", FONT_LARGE, DISP_NORMAL, "%.1f", 0x01040010, TE_FLOAT, {},
                RED_ABOVE(130, 2));
    expectAlnum(e[2], 3, 430, 60, 190, 100, "p oil", FONT_LARGE, DISP_NORMAL, "%.2f", 0x01040018, TE_FLOAT,
                {true, 3, 0.2f, 0xc0, 0, 0});
    for (int i = 0; i < 3; ++i) expectPlainBox(e[i]);
    expectBar(e[3], 4, 20, 180, 80, 280, "water", 0x0104000C, 40, 120, BARGR_VERT_BT, BARGR_SOLID,
              {{"40", 40}, {"80", 80}, {"120", 120}}, RED_ABOVE(105, 2));
    expectBar(e[4], 5, 120, 180, 80, 280, "brake", 0x01040020, 0, 100, BARGR_VERT_BT, BARGR_STACKED, {});
}

TEST_F(SampleDisplay, LapPage) {
    const page_s& p = cfg->pages[2];
    ASSERT_EQ(p.count, 2);
    auto e = elements(p);
    expectAlnum(e[0], 1, 20, 60, 400, 120, "distance", FONT_XXLARGE, DISP_NORMAL, "%.0f m", 0x01040024, TE_FLOAT);
    expectPlainBox(e[0]);
    expectBar(e[1], 2, 20, 200, 600, 60, "lap", 0x01040024, 0, 4500, BARGR_HORI_LR, BARGR_SOLID, {});
}

TEST_F(SampleDisplay, FlagOnEveryPageIsADecodablePng) {
    const page_s& all = cfg->all_pages;
    EXPECT_EQ(all.used, 1);
    expectRGB(all.bg_col, 0, 0, 0);
    ASSERT_EQ(all.count, 1);
    const display_elem_s* e = all.elements;
    expectHead(e, DISP_ELEM_PICTURE, 1, 560, 4, 64, 32);
    const picture_elem_s& p = e->picture;
    EXPECT_STREQ(p.title, "");
    EXPECT_EQ(p.vis_mode, VIS_ALWAYS);
    EXPECT_EQ(p.always_on_top, 0);
    EXPECT_EQ(p.blink, BLINK_OFF);
    expectNoChannel(p.vis_in);
    expectRGB(p.pic.TransparentCol, 0xff, 0, 0xff);
    EXPECT_EQ(p.deco_middle.style, STYLE_NONE);
    expectRGB(p.deco_middle.TitleFGCol, 0xc0, 0xc0, 0xc0);
    expectRGB(p.deco_middle.BorderFGCol, 0x80, 0x80, 0x80);
    EXPECT_STREQ(p.pic.filename, "cfg:/flag.png");
    EXPECT_EQ(p.pic.ofs, 0u);

    // The bytes at ofs and len are the whole picture, as the display reads them.
    long size = fsize(p.pic.filename);
    EXPECT_EQ(long(p.pic.len), size);
    ASSERT_EQ(picture_range_ok(&p.pic, size), 1);
    std::vector<uint8_t> bytes(p.pic.len);
    FILE* f = dev_fopen(p.pic.filename, "rb");
    ASSERT_NE(f, nullptr);
    fseek(f, long(p.pic.ofs), SEEK_SET);
    ASSERT_EQ(fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
    GuiPngConvert conv(0);
    conv.SetSystemPalette(nullptr, 1600);
    conv.SetModeFlags(0);
    conv.SetInputBuffer(bytes.data(), uint32_t(bytes.size()));
    ASSERT_EQ(conv.ReadImage(1), 1);
    GuiBitmap* b = conv.GetBitmapPointer(0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width, 64);
    EXPECT_EQ(b->height, 32);
    conv.DestroyImages();   // the converter leaves its bitmaps to the caller
}
