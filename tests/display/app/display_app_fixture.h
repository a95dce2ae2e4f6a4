// The display application on the test's thread: a stand-in device with its
// measurement core, NVRAM and error memory, the GUI runtime started with the
// display's own GuiAppInitialize, and helpers that write a display.xml,
// dispatch the GUI messages and run refreshes.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "display/app/display_requests.h"
#include "display/config/display_xml_fixture.h"
#include "display/app/display_signals.h"
#include "display/app/main_container.h"
#include "display/control/display_ctrl.h"
#include "display/fonts/korva_fonts.h"
#include "display/pages/cdisppage.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/core/gui_task.h"
#include "gui/draw/gui_screen.h"
#include "host/screen/display_regs.h"
#include "measurement/meas_fixture.h"
#include "measurement/signalpage.h"
#include "platform/error_mgr.h"
#include "platform/nvram.h"

// An AlphaNumeric of this device's channel at the address, always shown.
inline std::string boxAt(int x, int y, int w, int h, uint32_t adr, int prio, const char* extra = "",
                         const char* vis = "always", const char* onTop = "false") {
    char b[2000];
    std::snprintf(b, sizeof b,
                  "<AlphaNumeric version=\"1.0\" title=\"t%d\" vis_mode=\"%s\" always_on_top=\"%s\" prio=\"%d\" "
                  "pos_x=\"%d\" pos_y=\"%d\" size_x=\"%d\" size_y=\"%d\" font_size=\"small\" align=\"MM\" "
                  "dispmode=\"normal\" vtab=\"\" format_str=\"%%.0f\" %s>"
                  "<ChInput adr=\"%08X\" type=\"FLOAT\" mask=\"FFFFFFFF\" quant_a=\"0\" quant_b=\"1\" quant_c=\"0\" "
                  "quant_d=\"0\" quant_e=\"0\" quant_f=\"1\"/>"
                  "<DecoMiddle><AlphaNumDeco style=\"single_line\">"
                  "<BGCol red=\"20\" green=\"20\" blue=\"20\"/><TitleBGCol red=\"20\" green=\"20\" blue=\"20\"/>"
                  "<TitleFGCol red=\"c0\" green=\"c0\" blue=\"c0\"/><BorderBGCol red=\"20\" green=\"20\" blue=\"20\"/>"
                  "<BorderFGCol red=\"80\" green=\"80\" blue=\"80\"/><TextBGCol red=\"20\" green=\"20\" blue=\"20\"/>"
                  "<TextFGCol red=\"ff\" green=\"ff\" blue=\"ff\"/></AlphaNumDeco></DecoMiddle></AlphaNumeric>",
                  prio, vis, onTop, prio, x, y, w, h, extra, adr);
    return b;
}

// A display.xml of the given pages (each the elements of one page).
inline std::string displayXml(const std::vector<std::string>& pages, const std::string& inputs = "",
                              const std::string& common = "") {
    std::string s = "<?xml version=\"1.0\"?>\n<Display version=\"1.0\" x_res=\"640\" y_res=\"480\">\n"
                    "<Brightness><perc value=\"10\"/><perc value=\"50\"/><perc value=\"100\"/></Brightness>\n" +
                    inputs + "<Pages>\n";
    for (const std::string& p : pages)
        s += "<Page><BGCol red=\"0\" green=\"0\" blue=\"64\"/><DisplayElements>" + p + "</DisplayElements></Page>\n";
    s += "</Pages>\n";
    if (!common.empty()) s += "<AllPages><DisplayElements>" + common + "</DisplayElements></AllPages>\n";
    return s + "</Display>\n";
}

// A switch input element (PageInput, BrightnessInput, ResetInput) of a channel.
inline std::string inputOf(const char* tag, uint32_t adr, const char* type = "FLOAT") {
    char b[300];
    std::snprintf(b, sizeof b,
                  "<%s adr=\"%08X\" type=\"%s\" mask=\"FFFFFFFF\" quant_a=\"0\" quant_b=\"1\" quant_c=\"0\" "
                  "quant_d=\"0\" quant_e=\"0\" quant_f=\"1\"/>\n",
                  tag, adr, type);
    return b;
}

inline uint32_t ownChannel(const char* name) { return (uint32_t(kOwnPid) << 24) | catalogue_addr(name); }

class DisplayAppTest : public MeasTest {
protected:
    void SetUp() override {
        MeasTest::SetUp();
        ASSERT_EQ(nvram_dbs_init(), 1);
        error_mgr_init();
        displayCtrl_resetForTest();
        signalPage()->display_page = signalPage()->display_page_mx = signalPage()->display_brightness = 0;
        ASSERT_EQ(KorvaFonts_ini(), 0);
        ASSERT_TRUE(GuiStartUp(nullptr, GuiAppInitialize));
        pm = GuiThing::mpPresentation;
        container = dynamic_cast<CMainContainer*>(pm->mpFirstChild);
        ASSERT_NE(container, nullptr);
        disp_started = 0;
        std::memset(&ext_alarm, 0, sizeof ext_alarm);
    }
    void TearDown() override {
        Dispatch();
        GuiTearDown();
        GuiDeleteLocks();
        KorvaFonts_release();
        displayCtrl_resetForTest();
        host::displayRegWrite(host::DISPLAY_REG_COLSAT, 255);
        MeasTest::TearDown();
    }

    void Dispatch() { GuiDispatchPending(); }
    // One GUI timer period: the page on screen refreshes once.
    void Refresh(int n = 1) {
        for (int i = 0; i < n; ++i) {
            GuiTimerTaskStep();
            Dispatch();
        }
    }
    // One period of the display's raster with fresh values of this device.
    void Produce() {
        ts += 200;
        meas_man_copy_raster(DISP_RASTER, ts);
        gw_distribute(DISP_RASTER);
    }
    void StartWith(const std::string& xml) {
        DisplayPtr check = loadText(xml);
        ASSERT_NE(check, nullptr) << displayError();
        writeFile("cfg/display.xml", xml);
        ASSERT_EQ(displayStart(), 0);
        Dispatch();
    }
    CDispPage* Current() const {
        return container->currentPage >= 0 && container->currentPage < DISPLAY_MAX_PAGES
                   ? container->pages[container->currentPage]
                   : nullptr;
    }
    uint32_t Pixel(int x, int y) const { return GuiThing::mpScreen->GetPixel(x, y) & 0xFFFFFF; }

    GuiPresentationManager* pm = nullptr;
    CMainContainer* container = nullptr;
    uint32_t ts = 1000;
};
