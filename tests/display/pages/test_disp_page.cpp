// Page logic: view table, overlap and overlay groups, the refresh budget,
// group rotation of alarm views and the acknowledgement by the reset input.
#include "../app/display_app_fixture.h"
#include "display/views/cdataview.h"
#include "log_capture.h"
#include "measurement/gateway.h"
#include "measurement/stimulus.h"

namespace {

TEST(CHashElemTest, StoresOnlyIntoFreeEntriesAndReadsNullOutside) {
    CHashElem t(3);
    int a = 0, b = 0;
    auto* va = reinterpret_cast<CDataView*>(&a);
    auto* vb = reinterpret_cast<CDataView*>(&b);
    EXPECT_EQ(t.AddElemAt(va, 1), 1);
    EXPECT_EQ(t.AddElemAt(vb, 1), 0);   // taken
    EXPECT_EQ(t.AddElemAt(vb, 3), 0);   // outside
    EXPECT_EQ(t.AddElem(vb), 0);
    EXPECT_EQ(t.AddElem(vb), 1);        // taken: not stored, index advances
    EXPECT_EQ(t.GetElem(1), va);
    EXPECT_EQ(t.GetElem(-1), nullptr);
    EXPECT_EQ(t.GetElem(3), nullptr);
}

TEST(DispPageOverlap, TouchingEdgesDoNotOverlap) {
    // the edges are compared strictly: rectangles that meet in their edge
    // column or row only touch
    const GuiRect a(0, 0, 99, 49);
    EXPECT_FALSE(CDispPage::checkOverlap(a, GuiRect(100, 0, 199, 49)));   // side by side
    EXPECT_FALSE(CDispPage::checkOverlap(a, GuiRect(99, 0, 199, 49)));    // one shared edge column
    EXPECT_FALSE(CDispPage::checkOverlap(GuiRect(99, 0, 199, 49), a));
    EXPECT_FALSE(CDispPage::checkOverlap(a, GuiRect(10, 49, 20, 60)));    // one shared edge row
    EXPECT_TRUE(CDispPage::checkOverlap(a, GuiRect(98, 0, 199, 49)));     // one column inside
    EXPECT_TRUE(CDispPage::checkOverlap(a, GuiRect(10, 48, 20, 60)));
    EXPECT_TRUE(CDispPage::checkOverlap(a, GuiRect(10, 10, 20, 20)));     // contained
    EXPECT_FALSE(CDispPage::checkOverlap(a, GuiRect(10, 50, 20, 60)));
    EXPECT_EQ(CDispPage::getTimeSlot(99), 5);
    EXPECT_EQ(CDispPage::getTimeSlot(100), 6);
    EXPECT_EQ(CDispPage::getTimeSlot(999), 8);
    EXPECT_EQ(CDispPage::getTimeSlot(1000), 9);
}

class DispPage : public DisplayAppTest {
protected:
    void TearDown() override {
        stimulus_clear();
        DisplayAppTest::TearDown();
    }
    // An alarm box of the throttle: shown while the throttle is above 50 %.
    std::string alarmAt(int x, int y, int w, int h, int prio, bool resettable = false, const char* extra = "") {
        const uint32_t thr = ownChannel("throttle");
        char vis[400];
        std::snprintf(vis, sizeof vis,
                      "<VisInput adr=\"%08X\" type=\"FLOAT\" mask=\"FFFFFFFF\" quant_a=\"0\" quant_b=\"0.01\" "
                      "quant_c=\"0\" quant_d=\"0\" quant_e=\"0\" quant_f=\"1\"/>",
                      thr);
        std::string box = boxAt(x, y, w, h, thr, prio, extra, resettable ? "limit_resetable" : "limit", "true");
        return box.insert(box.find("<DecoMiddle>"), vis);
    }
};

TEST_F(DispPage, ChainedOverlapsFormOneGroupInListOrderTouchingViewsStaySeparate) {
    // A-B and B-C overlap, A-C do not; D shares C's last column, an edge.
    StartWith(displayXml({alarmAt(0, 0, 100, 50, 1) + alarmAt(98, 0, 100, 50, 2) + alarmAt(196, 0, 100, 50, 3) +
                          alarmAt(295, 0, 100, 50, 4)}));
    CDispPage* p = Current();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->groupCount, 2);
    ASSERT_EQ(p->groups[0].count, 3);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(p->groups[0].members[k], p->elems->GetElem(short(k)));
    EXPECT_EQ(p->groups[1].count, 1);
    EXPECT_EQ(p->resetGroup, p->groupCount);
}

TEST_F(DispPage, PageWithoutElementsStillFlushes) {
    StartWith(displayXml({""}));
    ASSERT_NE(Current(), nullptr);
    const uint64_t frames = host::screenFrameNumber();
    Refresh();
    EXPECT_EQ(dispSignals().display_elements_skipped, 0);
    EXPECT_GT(host::screenFrameNumber(), frames);
}

TEST_F(DispPage, BudgetLeavesViewsForTheNextRefreshesButASwitchUpdatesAll) {
    std::string many;
    for (int i = 0; i < 24; ++i) many += boxAt(5 + (i % 6) * 105, 5 + (i / 6) * 110, 100, 100, ownChannel("n_engine"), i + 1);
    StartWith(displayXml({many}));
    displaySwitchPage(0);   // SwitchedPage: the next refresh without budget
    Dispatch();
    Produce();
    Refresh();
    EXPECT_EQ(dispSignals().display_elements_skipped, 0);
    signalPage()->n_engine = 1234.0f;
    Produce();
    Refresh();
    // each box that changes its text costs at least one unit
    EXPECT_GT(dispSignals().display_elements_skipped, 0);
    EXPECT_LE(dispSignals().display_elements_updated, 21);
}

TEST_F(DispPage, TwoAlarmsInOneGroupTakeTurnsEveryFifteenRefreshes) {
    StartWith(displayXml({alarmAt(10, 10, 200, 100, 1) + alarmAt(100, 50, 200, 100, 2)}));
    CDispPage* p = Current();
    ASSERT_EQ(p->groupCount, 1);
    signalPage()->throttle = 90.0f;
    // Both in alarm: the first stays as it is drawn until 15 refreshes have
    // passed, then they take turns.
    int changes = 0;
    CDataView* last = nullptr;
    for (int i = 0; i < 46; ++i) {
        Produce();
        Refresh();
        CDataView* now = p->groups[0].shown ? *p->groups[0].shown : nullptr;
        if (now != last) {
            ++changes;
            EXPECT_NE(now, nullptr);
            last = now;
        }
    }
    EXPECT_EQ(changes, 3);
}

TEST_F(DispPage, TwoBlinkingAlarmsInOnePlaceAreEachSeenForHalfTheTime) {
    // A and B overlap around (150, 80), where neither draws text; B's text
    // area is red, so the pixel there tells which of the two is on top.
    std::string b = alarmAt(100, 50, 200, 100, 2, false, "blink=\"slow\"");
    const std::string textBg = "<TextBGCol red=\"20\" green=\"20\" blue=\"20\"/>";
    b.replace(b.find(textBg), textBg.size(), "<TextBGCol red=\"90\" green=\"20\" blue=\"20\"/>");
    StartWith(displayXml({alarmAt(10, 10, 200, 100, 1, false, "blink=\"slow\"") + b}));
    CDispPage* p = Current();
    ASSERT_EQ(p->groupCount, 1);
    signalPage()->throttle = 90.0f;
    int seenA = 0, seenB = 0, blank = 0;
    for (int i = 0; i < 240; ++i) {
        Produce();
        Refresh();
        const uint32_t px = Pixel(150, 80);
        if (px == 0x202020u) ++seenA;
        else if (px == 0x902020u) ++seenB;
        else if (px == 0x000064u) ++blank;
        else ADD_FAILURE() << "refresh " << i << ": pixel " << std::hex << px;
    }
    // the blink's off phase shows neither; the on phase the group's turn
    EXPECT_NEAR(blank, 120, 10);
    EXPECT_GE(seenA * 3, seenA + seenB) << seenA << " A, " << seenB << " B";
    EXPECT_GE(seenB * 3, seenA + seenB) << seenA << " A, " << seenB << " B";
    EXPECT_NEAR(seenA, seenB, 16) << seenA << " A, " << seenB << " B";
}

TEST_F(DispPage, AStartShowsThePageAsASwitchDoesAndHidesIdleAlarms) {
    // the alarm box covers (100, 100)-(299, 199) and is idle: throttle 0
    const std::string xml = displayXml({alarmAt(100, 100, 200, 100, 1)});
    signalPage()->throttle = 0.0f;
    for (int run = 0; run < 3; ++run) {
        if (run == 0) {
            StartWith(xml);
        } else {   // stop and start again, on the same page position
            displayStop();
            Dispatch();
            displayStart();
            Dispatch();
        }
        ASSERT_NE(Current(), nullptr);
        Produce();
        Refresh(2);
        EXPECT_EQ(Pixel(200, 150), 0x000064u) << "run " << run;   // the page's background
        EXPECT_FALSE(Current()->elems->GetElem(0)->getViewIsActive()) << "run " << run;
    }
}

TEST_F(DispPage, ResetInputAcknowledgesOnTheFourthRefreshAfterItsRisingEdge) {
    StartWith(displayXml({alarmAt(10, 10, 200, 100, 1, true)}, inputOf("ResetInput", ownChannel("gear"), "SINT8")));
    CDispPage* p = Current();
    signalPage()->gear = 0;
    signalPage()->throttle = 90.0f;
    Produce();
    Refresh(3);
    CDataView* v = p->elems->GetElem(0);
    ASSERT_TRUE(v->getAlarmState());
    EXPECT_EQ(p->resetElem, v);
    EXPECT_EQ(dispSignals().disp_reset_alarm_active, 1);
    signalPage()->gear = 1;
    Produce();
    Refresh();   // edge seen, state 1 -> 2
    EXPECT_EQ(p->ackState, 2);
    Refresh(3);
    EXPECT_EQ(p->ackState, 2);
    Refresh();   // the fourth: acknowledged
    EXPECT_EQ(p->ackState, 0);
    EXPECT_EQ(p->resetElem, nullptr);
    // held at 1: no second acknowledgement
    Refresh(6);
    EXPECT_EQ(p->ackState, 0);
}

}  // namespace

// While a device's values stay missing, the no-data counters count up on
// every refresh: that is one status repeated, logged with its repeat count,
// not a change to log on every refresh.
TEST_F(DispPage, MissingValuesCountingUpAreARepeatNotAChange) {
    StartWith(displayXml({boxAt(5, 5, 100, 100, ownChannel("n_engine"), 1)}));
    CDispPage* p = Current();
    ASSERT_NE(p, nullptr);
    ASSERT_NE(p->data, nullptr);
    CDataList* list = p->data->firstList();
    ASSERT_NE(list, nullptr);
    list->state = CDL_RUNNING;
    Refresh();
    takeLogTexts();
    for (int i = 0; i < 100; ++i) {
        p->data->readCyclic(GW_NO_DATA, nullptr, list);
        Refresh();
    }
    EXPECT_EQ(dispSignals().disp_timecnt_mn, 100);
    auto log = takeLogTexts();
    EXPECT_GE(countContaining(log, "Display: timeout status change"), 2);   // the first, the repeats
    EXPECT_LE(countContaining(log, "Display: timeout status change"), 5);
}
