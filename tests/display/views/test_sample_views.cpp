// Every element of the sample device's display.xml made into its view the
// way a page makes them, fed by the stand-in device's stimulus: every value
// view leaves the stale look, the flag picture is converted and shown.
#include "display/config/display_xml_fixture.h"
#include "display/views/cbarview.h"
#include "display/views/cdispbox.h"
#include "display/views/cimage_container.h"
#include "display/views/cpicture.h"
#include "display_view_fixture.h"
#include "log_capture.h"
#include "measurement/stimulus.h"

#include <vector>

namespace {

class SampleViews : public DisplayViewTest {
protected:
    void TearDown() override {
        stimulus_clear();
        DisplayViewTest::TearDown();
    }
};

TEST_F(SampleViews, EveryElementOfEveryPageShowsALiveValue) {
    writeFile("cfg/display.xml", sampleFile("display.xml"));
    writeFile("cfg/flag.png", sampleFile("flag.png"));
    display_s* raw = nullptr;
    ASSERT_EQ(XmlLoad("cfg:/display.xml", &raw), 0) << displayError();
    DisplayPtr cfg(raw);
    takeLogTexts();
    CImageContainer images(cfg.get());
    EXPECT_TRUE(logContains(takeLogTexts(), "CImageContainer: successfully converted 1 pictures"));
    // The sample device is PID 1, the stand-in device of the tests PID 5.
    auto own = [](awm_meas_in& in) {
        if (in.adr) in.adr = (in.adr & 0x00FFFFFF) | uint32_t(kOwnPid) << 24;
    };
    std::vector<CDataView*> views;
    for (int i = 0; i <= cfg->page_count; ++i) {
        page_s& p = i < cfg->page_count ? cfg->pages[i] : cfg->all_pages;
        for (display_elem_s* e = p.elements; e; e = e->next) {
            CDataView* v = nullptr;
            switch (e->type) {
            case DISP_ELEM_ALPHANUM:
                own(e->alphanum.ch_in);
                own(e->alphanum.vis_in);
                v = new CDispBox(page->mOuter, e, page, GST_FRAME_NONE);
                break;
            case DISP_ELEM_BARGRAPH:
                own(e->bargraph.ch_in);
                own(e->bargraph.vis_in);
                v = new CBarView(page->mOuter, e, page, GST_FRAME_NONE);
                break;
            case DISP_ELEM_PICTURE:
                own(e->picture.vis_in);
                v = new CPicture(page->mOuter, e, images.getImage(&e->picture.pic), page, GST_FRAME_NONE);
                break;
            }
            Connect(v, e);
            page->Add(v, 1);
            views.push_back(v);
        }
    }
    ASSERT_GT(views.size(), 5u);
    ASSERT_GT(stimulus_load("n_engine ramp 1000 9000 100\nthrottle sine 50 40 1000\n"), 0);
    Start();
    for (int t = 1; t <= 5; ++t) {
        stimulus_step(uint32_t(t * 20));
        Tick();
        for (CDataView* v : views) v->update();
    }
    int pictures = 0;
    for (CDataView* v : views) {
        if (auto* b = dynamic_cast<CDispBox*>(v)) {
            if (b->valueSource) {
                EXPECT_NE(b->bands.band, uint32_t(BAND_STALE)) << b->title;
            }
        } else if (auto* g = dynamic_cast<CBarView*>(v)) {
            EXPECT_NE(g->bands.band, uint32_t(BAND_STALE)) << g->title;
        } else if (auto* p = dynamic_cast<CPicture*>(v)) {
            ++pictures;
            EXPECT_NE(p->pictureBitmap, nullptr);
            EXPECT_EQ(CountColour(p->mOuter, 0xFF0000), 0);   // no cross: the flag converted
        }
    }
    EXPECT_EQ(pictures, 1);
}

}  // namespace
