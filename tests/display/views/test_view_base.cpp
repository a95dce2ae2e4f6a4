// The alarm logic of the views: minimum display, automatic reset, retrigger
// lock, blinking, inhibit, on ticks driven by hand-fed visibility values.
#include <gtest/gtest.h>

#include <memory>

#include "display/views/cdataview.h"
#include "platform/byteorder.h"

namespace {

// A view base over a picture element whose visibility value is set by hand.
class ViewBase : public ::testing::Test {
protected:
    void SetUp() override { disp_alarm_inhibit = 0; }
    void TearDown() override { disp_alarm_inhibit = 0; }
    void Make(uint32_t minMs, uint32_t autoMs, uint32_t retrigMs, BlinkType_t blink,
              VisModeType_t mode = VIS_LIMIT_RESETABLE) {
        view.reset();
        if (vis) delete vis->getMeas();
        XmlInitPictureElement(&e);
        e.type = DISP_ELEM_PICTURE;
        e.picture.vis_mode = mode;
        e.picture.always_on_top = 1;
        e.picture.min_disp_time = minMs;
        e.picture.auto_reset_time = autoMs;
        e.picture.retrigger_time = retrigMs;
        e.picture.blink = blink;
        e.picture.vis_in.type = TE_FLOAT;
        e.picture.vis_in.adr = 0x05000010;
        e.picture.vis_in.quant_b = e.picture.vis_in.quant_f = 1;
        vis = std::make_unique<CData>(&e, CDATA_VISIBILITY);
        vis->newMeas();
        view = std::make_unique<CDataView>(&e, GST_FRAME_NONE);
        view->setData(vis.get(), CDATA_VISIBILITY);
    }
    // One tick with the visibility input at v.
    void Tick(float v) {
        uint8_t b[4];
        be_putf(b, v);
        vis->getMeas()->putData(b);
        view->update();
    }
    display_elem_s e{};
    std::unique_ptr<CData> vis;
    std::unique_ptr<CDataView> view;

public:
    ~ViewBase() override {
        if (vis) delete vis->getMeas();
    }
};

TEST_F(ViewBase, TimesBecomeTicksRoundedUp) {
    EXPECT_EQ(CDataView::msToTicks(120), 3u);
    EXPECT_EQ(CDataView::msToTicks(100), 2u);
    EXPECT_EQ(CDataView::msToTicks(0), 0u);
    EXPECT_EQ(CDataView::msToTicks(0xFFFFFFFF), 85899346u);   // no overflow
    Make(120, 0, 1000, BLINK_OFF);
    EXPECT_EQ(view->minDispTicks, 3u);
    EXPECT_EQ(view->retriggerTicks, 20u);
    EXPECT_TRUE(view->isAlarm());
    EXPECT_EQ(view->getType(), int(DISP_ELEM_PICTURE));
}

TEST_F(ViewBase, VisibilityRoundsHalfAwayFromZero) {
    Make(0, 0, 0, BLINK_OFF, VIS_LIMIT);
    Tick(0.4f);
    EXPECT_FALSE(view->getViewIsActive());
    Tick(0.5f);
    EXPECT_TRUE(view->getViewIsActive());
    Tick(0.0f);
    EXPECT_FALSE(view->getViewIsActive());
    Tick(-0.5f);
    EXPECT_TRUE(view->getViewIsActive());
}

TEST_F(ViewBase, MinimumDisplayKeepsAShortAlarmVisible) {
    Make(120, 0, 0, BLINK_OFF);
    const bool expected[] = {true, true, true, true, false};
    const float input[] = {1, 0, 0, 0, 0};
    for (int t = 0; t < 5; ++t) {
        Tick(input[t]);
        EXPECT_EQ(view->getViewIsActive(), expected[t]) << "tick " << t;
    }
    EXPECT_EQ(view->alarmState, uint32_t(ALARM_IDLE));
}

TEST_F(ViewBase, SlowBlinkingIsEightTicksOnEightOff) {
    Make(0, 0, 0, BLINK_SLOW);
    std::string seen;
    for (int t = 0; t < 32; ++t) {
        Tick(1);
        seen += view->getViewIsActive() ? '1' : '0';
    }
    EXPECT_EQ(seen, "11111111000000001111111100000000");
}

TEST_F(ViewBase, ResetByHandAutomaticResetAndRetrigger) {
    Make(0, 0, 0, BLINK_OFF);
    Tick(1);
    view->AlarmReset(0);
    EXPECT_EQ(view->alarmState, uint32_t(ALARM_RESET_BY_HAND));
    for (int t = 0; t < 5; ++t) Tick(1);
    EXPECT_FALSE(view->getViewIsActive());   // held until cleared
    view->clearAlarmReset();
    Tick(1);
    EXPECT_TRUE(view->getViewIsActive());

    Make(0, 100, 0, BLINK_OFF);   // automatic reset after 2 ticks
    Tick(1);
    EXPECT_TRUE(view->getViewIsActive());
    Tick(1);
    Tick(1);
    EXPECT_EQ(view->alarmState, uint32_t(ALARM_IDLE));
    Tick(1);   // back in alarm, but acknowledged: hidden
    EXPECT_EQ(view->alarmState, uint32_t(ALARM_ACTIVE));
    EXPECT_FALSE(view->getViewIsActive());
    EXPECT_TRUE(view->getAlarmState());

    Make(0, 0, 1000, BLINK_OFF);
    Tick(1);
    view->AlarmReset(0);
    EXPECT_EQ(view->alarmState, uint32_t(ALARM_RETRIGGER_LOCK));
    view->setElemResetFlag(1);
    for (int t = 0; t < 20; ++t) Tick(1);
    EXPECT_EQ(view->alarmState, uint32_t(ALARM_IDLE));
    EXPECT_EQ(view->elemResetFlag, 0u);
    Tick(1);
    EXPECT_TRUE(view->getViewIsActive());
}

TEST_F(ViewBase, InhibitHidesOnlyResettableAlarmsAndANewAlarmEndsIt) {
    Make(0, 0, 0, BLINK_OFF, VIS_LIMIT);
    Tick(1);
    disp_alarm_inhibit = 1;
    Tick(1);
    EXPECT_TRUE(view->getViewIsActive());   // not resettable
    view->AlarmReset(0);
    EXPECT_EQ(view->alarmState, uint32_t(ALARM_ACTIVE));

    Make(0, 0, 0, BLINK_OFF);
    Tick(1);
    disp_alarm_inhibit = 1;
    Tick(1);
    EXPECT_FALSE(view->getViewIsActive());
    EXPECT_TRUE(view->getAlarmStateHidden());
    EXPECT_FALSE(view->getAlarmState());
    Tick(0);
    Tick(1);   // a new alarm clears the inhibit
    EXPECT_EQ(disp_alarm_inhibit, 0);
    EXPECT_TRUE(view->getViewIsActive());
}

TEST_F(ViewBase, WithoutDataTheViewStaysInactiveAndReportsAnError) {
    Make(0, 0, 0, BLINK_OFF);
    view->update();
    EXPECT_FALSE(view->getViewIsActive());
    EXPECT_TRUE(view->getError());
    EXPECT_EQ(view->getFormatStr(), nullptr);
    CDataView none(nullptr, GST_FRAME_NONE);
    EXPECT_EQ(none.getType(), VIEW_TYPE_NONE);
    const rgb_s c{0xFF, 0x81, 0x02};
    EXPECT_EQ(CDataView::dispElem_Color(&c), 0xFF8102u);
    EXPECT_EQ(CDataView::dispElem_GhostColor(&c), 0x7F4001u);
}

}  // namespace
