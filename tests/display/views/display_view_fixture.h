// Views driven by values through the measurement gateway of a stand-in
// device: a fresh device folder and measurement core, the GUI runtime on
// the test's thread with a page window over the screen, the display fonts,
// and helpers to build elements and to produce raster ticks.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "display/config/display_config.h"
#include "display/fonts/korva_fonts.h"
#include "display/values/cdata.h"
#include "display/views/cdataview.h"
#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"
#include "measurement/meas_fixture.h"
#include "measurement/signalpage.h"

constexpr uint16_t kDisplayRaster = 4;

inline rgb_s Rgb(uint32_t c) { return rgb_s{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)}; }

// A channel of this device by catalogue name.
inline awm_meas_in ChannelOf(const char* name, uint16_t type) {
    awm_meas_in in{};
    XmlInitChInput(&in);
    in.adr = (uint32_t(kOwnPid) << 24) | catalogue_addr(name);
    in.type = type;
    in.quant_b = in.quant_f = 1;   // shown value = raw value
    return in;
}

class DisplayViewTest : public MeasTest {
protected:
    void SetUp() override {
        MeasTest::SetUp();
        ASSERT_EQ(KorvaFonts_ini(), 0);
        ASSERT_TRUE(GuiStartUp(nullptr, nullptr));
        pm = GuiThing::mpPresentation;
        page = new GuiWindow(GuiRect(0, 0, 639, 479), GST_FRAME_NONE);
        page->SetColor(0, kPageColour);
        pm->Add(page, 1);
        manager = std::make_unique<CDataManager>();
        ASSERT_NE(manager->connection, nullptr);
    }
    void TearDown() override {
        manager.reset();
        GuiTearDown();
        GuiDeleteLocks();
        KorvaFonts_release();
        MeasTest::TearDown();
    }

    // Subscribes the sources placed so far; the gateway starts the lists
    // and delivers their first values in one period.
    void Start() {
        manager->createMeaslists();
        ASSERT_EQ(manager->startMeasurement(), 1);
        Tick();
    }
    // One period of the display's raster: with produce, the values of this
    // device are copied into the lists before they are delivered.
    void Tick(bool produce = true) {
        ts += 200;
        if (produce) meas_man_copy_raster(kDisplayRaster, ts);
        gw_distribute(kDisplayRaster);
    }
    // Sources of the element's inputs, given to the view.
    void Connect(CDataView* v, display_elem_s* e) {
        for (CDataType_t k : {CDATA_VALUE, CDATA_VISIBILITY})
            if (CData* d = manager->addData(e, kDisplayRaster, k)) v->setData(d, k);
    }

    static constexpr uint32_t kPageColour = 0x203040;
    GuiPresentationManager* pm = nullptr;
    GuiWindow* page = nullptr;
    std::unique_ptr<CDataManager> manager;
    uint32_t ts = 1000;
};

// Number of set glyph pixels of a text in a 1-bit font: what a transparent
// prompt paints in its text colour.
inline int GlyphInk(const GuiFont* f, const char* text) {
    int n = 0;
    for (const char* p = text; *p; ++p) {
        const unsigned c = static_cast<unsigned char>(*p);
        const int start = f->GlyphStart(c), w = f->GlyphWidth(c);
        for (int y = 0; y < f->height; ++y)
            for (int x = start; x < start + w; ++x)
                n += (f->data[size_t(y) * f->bytesPerRow + size_t(x >> 3)] >> (7 - (x & 7))) & 1;
    }
    return n;
}
