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

// An alarm input: on while the value is at or above t, x^2 / (x^2 + t^2), or
// at or below t, t^2 / (x^2 + t^2); both round to 1 from the threshold on.
void expectThreshold(const awm_meas_in& in, uint32_t adr, float t, bool above) {
    EXPECT_EQ(in.adr, adr);
    EXPECT_EQ(in.type, TE_FLOAT);
    EXPECT_EQ(in.quant_a, above ? 1.0f : 0.0f);
    EXPECT_EQ(in.quant_b, 0.0f);
    EXPECT_EQ(in.quant_c, above ? 0.0f : t * t);
    EXPECT_EQ(in.quant_d, 1.0f);
    EXPECT_EQ(in.quant_e, 0.0f);
    EXPECT_EQ(in.quant_f, t * t);
}

// A band's look: its frame style and the colour behind the text and title.
struct Look {
    StyleType_t style;
    uint32_t bg;
};
constexpr Look PLAIN{STYLE_SINGLE_LINE, 0x000000};
constexpr Look RED{STYLE_DOUBLE_LINE, 0xc00000};
constexpr Look BLUE{STYLE_DOUBLE_LINE, 0x0040c0};
constexpr Look AMBER{STYLE_DOUBLE_LINE, 0xe09000};

void expectLook(const alphanum_deco_s& d, Look l) {
    EXPECT_EQ(d.style, l.style);
    for (const rgb_s* c : {&d.BGCol, &d.TitleBGCol, &d.BorderBGCol, &d.TextBGCol})
        expectRGB(*c, int(l.bg >> 16), int(l.bg >> 8 & 0xFF), int(l.bg & 0xFF));
}

struct Band {
    bool has;
    float limit, hyst;
    Look look;
};

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

// A value box: always shown, its channel, its bands.
void expectBox(const display_elem_s* e, uint32_t prio, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
               const char* title, FontSizeType_t font, const char* fmt, uint32_t adr, Band lower = {},
               Band upper = {}, Look middle = PLAIN) {
    expectHead(e, DISP_ELEM_ALPHANUM, prio, x, y, w, h);
    if (!e) return;
    const alphanum_s& a = e->alphanum;
    EXPECT_STREQ(a.title, title);
    EXPECT_EQ(a.font_size, font);
    EXPECT_EQ(a.align, ALIGN_MM);
    EXPECT_STREQ(a.format_str, fmt);
    EXPECT_EQ(a.vis_mode, VIS_ALWAYS);
    expectNoChannel(a.vis_in);
    EXPECT_EQ(a.always_on_top, 0);
    EXPECT_EQ(a.blink, BLINK_OFF);
    if (a.dispmode != DISP_VERBAL) {
        EXPECT_EQ(a.dispmode, DISP_NORMAL);
        EXPECT_EQ(a.vtab, nullptr);
        expectChannel(a.ch_in, adr, TE_FLOAT);
    }
    expectLook(a.deco_middle, middle);
    EXPECT_EQ(a.has_lower, lower.has ? 1 : 0);
    EXPECT_EQ(a.has_upper, upper.has ? 1 : 0);
    if (lower.has) {
        EXPECT_EQ(a.limit_low, lower.limit);
        EXPECT_EQ(a.hyst_low, lower.hyst);
        expectLook(a.deco_lower, lower.look);
    }
    if (upper.has) {
        EXPECT_EQ(a.limit_up, upper.limit);
        EXPECT_EQ(a.hyst_up, upper.hyst);
        expectLook(a.deco_upper, upper.look);
    }
}

// An alarm: a label over other elements, shown while its input is on.
void expectAlarm(const display_elem_s* e, uint32_t prio, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                 const char* text, FontSizeType_t font, BlinkType_t blink) {
    expectHead(e, DISP_ELEM_ALPHANUM, prio, x, y, w, h);
    if (!e) return;
    const alphanum_s& a = e->alphanum;
    EXPECT_STREQ(a.title, "");
    EXPECT_STREQ(a.format_str, text);
    EXPECT_EQ(a.font_size, font);
    EXPECT_EQ(a.vis_mode, VIS_LIMIT);
    EXPECT_EQ(a.always_on_top, 1);
    EXPECT_EQ(a.blink, blink);
    EXPECT_EQ(a.ch_in.type, 0);   // no value: the label text
    expectLook(a.deco_middle, RED);
}

void expectBar(const display_elem_s* e, uint32_t prio, uint32_t x, uint32_t y, uint32_t w, uint32_t h, const char* title,
               uint32_t adr, float min, float max, BargrOrientType_t orient, BargrStyleType_t style,
               std::vector<std::pair<const char*, float>> ticks, Band lower = {}, Band upper = {}) {
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
    EXPECT_EQ(b.has_lower, lower.has ? 1 : 0);
    EXPECT_EQ(b.has_upper, upper.has ? 1 : 0);
    if (lower.has) {
        EXPECT_EQ(b.limit_low, lower.limit);
        EXPECT_EQ(b.hyst_low, lower.hyst);
    }
    if (upper.has) {
        EXPECT_EQ(b.limit_up, upper.limit);
        EXPECT_EQ(b.hyst_up, upper.hyst);
    }
}

void expectBarColour(const bargraph_deco_s& d, uint32_t bar) {
    EXPECT_EQ(d.style, STYLE_SINGLE_LINE);
    expectRGB(d.BarFGCol, int(bar >> 16), int(bar >> 8 & 0xFF), int(bar & 0xFF));
    expectRGB(d.BarBGCol, 0x20, 0x20, 0x20);
    expectRGB(d.TicksCol, 0xff, 0xff, 0xff);
}

// Elements of a page in list order.
std::vector<const display_elem_s*> elements(const page_s& p) {
    std::vector<const display_elem_s*> v;
    for (const display_elem_s* e = p.elements; e; e = e->next) v.push_back(e);
    EXPECT_EQ(v.size(), p.count);
    v.resize(13, nullptr);
    return v;
}

constexpr uint32_t N_ENGINE = 0x01040000, V_VEHICLE = 0x01040004, THROTTLE = 0x01040008, T_WATER = 0x0104000C,
                   T_OIL = 0x01040010, T_AIR = 0x01040014, P_OIL = 0x01040018, P_FUEL = 0x0104001C,
                   P_BRAKE = 0x01040020, LAP = 0x01040024, GEAR = 0x01040028, SW_BRIGHTNESS = 0x0104006F;

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
    expectChannel(cfg->brightness_in, SW_BRIGHTNESS, TE_UINT8);
    expectNoChannel(cfg->reset_in);
    EXPECT_EQ(cfg->page_count, 2);
    for (int i = 0; i < DISPLAY_MAX_PAGES; ++i) EXPECT_EQ(cfg->pages[i].used, i < 2 ? 1 : 0);
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
    ASSERT_EQ(p.count, 8);
    auto e = elements(p);
    // engine speed: plain below the shift band, amber in it, red above
    expectBox(e[0], 1, 8, 40, 296, 130, "rpm", FONT_LARGE, "%.0f", N_ENGINE, {true, 10500, 100, PLAIN},
              {true, 11500, 100, RED}, AMBER);
    expectBox(e[1], 2, 310, 40, 150, 130, "km/h", FONT_NORMAL, "%.0f", V_VEHICLE);
    expectBox(e[2], 3, 466, 40, 166, 215, "gear", FONT_EXTRALARGE, "%s", GEAR);
    EXPECT_EQ(e[2]->alphanum.dispmode, DISP_VERBAL);
    EXPECT_EQ(e[2]->alphanum.vtab, cfg->vtabs);
    expectChannel(e[2]->alphanum.ch_in, GEAR, TE_SINT8);
    expectBar(e[3], 4, 8, 176, 452, 90, "rpm x 1000", N_ENGINE, 3000, 13000, BARGR_HORI_LR, BARGR_STACKED,
              {{"4", 4000}, {"6", 6000}, {"8", 8000}, {"10", 10000}, {"12", 12000}}, {true, 10500, 100, PLAIN},
              {true, 11500, 100, RED});
    expectBarColour(e[3]->bargraph.deco_lower, 0x00c040);
    expectBarColour(e[3]->bargraph.deco_middle, 0xe09000);
    expectBarColour(e[3]->bargraph.deco_upper, 0xc00000);
    expectBar(e[4], 5, 8, 272, 452, 90, "throttle %", THROTTLE, 0, 100, BARGR_HORI_LR, BARGR_SOLID,
              {{"0", 0}, {"25", 25}, {"50", 50}, {"75", 75}});
    expectBarColour(e[4]->bargraph.deco_middle, 0x00c040);
    expectBox(e[5], 6, 8, 368, 300, 108, "lap distance", FONT_NORMAL, "%.0f m", LAP);
    expectBar(e[6], 7, 314, 368, 318, 108, "lap", LAP, 0, 4500, BARGR_HORI_LR, BARGR_SOLID,
              {{"1500", 1500}, {"3000", 3000}});
    expectAlarm(e[7], 8, 8, 176, 452, 186, "SHIFT", FONT_LARGE, BLINK_FAST);
    expectThreshold(e[7]->alphanum.vis_in, N_ENGINE, 11500, true);
    EXPECT_EQ(e[7]->alphanum.min_disp_time, 300u);
}

TEST_F(SampleDisplay, TemperatureAndPressurePage) {
    const page_s& p = cfg->pages[1];
    expectRGB(p.bg_col, 0, 0, 0);
    ASSERT_EQ(p.count, 12);
    auto e = elements(p);
    expectBox(e[0], 1, 8, 40, 150, 110, "water C", FONT_NORMAL, "%.0f", T_WATER, {true, 70, 2, BLUE},
              {true, 92, 1, RED});
    expectBox(e[1], 2, 164, 40, 150, 110, "oil C", FONT_NORMAL, "%.0f", T_OIL, {true, 80, 2, BLUE},
              {true, 112, 1, RED});
    expectBox(e[2], 3, 320, 40, 150, 110, "air C", FONT_NORMAL, "%.0f", T_AIR, {}, {true, 45, 2, RED});
    expectBox(e[3], 4, 8, 156, 150, 110, "oil bar", FONT_NORMAL, "%.1f", P_OIL, {true, 3, 0.1f, RED});
    expectBox(e[4], 5, 164, 156, 150, 110, "fuel bar", FONT_NORMAL, "%.1f", P_FUEL, {true, 3.5f, 0.1f, RED});
    expectBox(e[5], 6, 320, 156, 150, 110, "brake bar", FONT_NORMAL, "%.0f", P_BRAKE);
    expectBar(e[6], 7, 8, 272, 462, 90, "water C", T_WATER, 50, 110, BARGR_HORI_LR, BARGR_SOLID,
              {{"60", 60}, {"70", 70}, {"80", 80}, {"90", 90}, {"100", 100}}, {true, 70, 2, BLUE},
              {true, 92, 1, RED});
    expectBarColour(e[6]->bargraph.deco_lower, 0x0040c0);
    expectBarColour(e[6]->bargraph.deco_upper, 0xc00000);
    // vertical bars: one-character tick labels
    expectBar(e[7], 8, 476, 40, 86, 436, "oil", P_OIL, -0.2f, 8, BARGR_VERT_BT, BARGR_SOLID,
              {{"0", 0}, {"2", 2}, {"4", 4}, {"6", 6}, {"8", 8}}, {true, 3, 0.1f, PLAIN});
    expectBarColour(e[7]->bargraph.deco_lower, 0xc00000);
    expectBar(e[8], 9, 568, 40, 68, 436, "brake", P_BRAKE, 0, 100, BARGR_VERT_BT, BARGR_SOLID, {});
    // three alarms in one place: they take turns
    expectAlarm(e[9], 10, 8, 368, 462, 108, "WATER HOT", FONT_NORMAL, BLINK_SLOW);
    expectThreshold(e[9]->alphanum.vis_in, T_WATER, 92, true);
    expectAlarm(e[10], 11, 8, 368, 462, 108, "OIL HOT", FONT_NORMAL, BLINK_SLOW);
    expectThreshold(e[10]->alphanum.vis_in, T_OIL, 112, true);
    expectAlarm(e[11], 12, 8, 368, 462, 108, "OIL PRESS", FONT_NORMAL, BLINK_SLOW);
    expectThreshold(e[11]->alphanum.vis_in, P_OIL, 3, false);
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
