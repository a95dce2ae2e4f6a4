// Lap-trigger events: from the master, from others, in test-bench mode, and
// short messages.
#include "measurement/calparams.h"
#include "measurement/laptrigger.h"
#include "meas_fixture.h"

namespace {
int gSet = 0, gChng = 0, gStack = 0, gSblk = 0;
uint16_t gLap = 0, gOut = 0;
void setCnt(uint16_t l, uint16_t o, uint32_t) { ++gSet, gLap = l, gOut = o; }
void chngCnt(uint16_t l, uint16_t) { ++gChng, gLap = l; }
int isCtrl() { return 1; }
void stackAdd(uint16_t, uint16_t, uint32_t) { ++gStack; }
void sblk() { ++gSblk; }
const laptrigger_hooks kHooks = {setCnt, chngCnt, nullptr, nullptr, isCtrl, stackAdd, sblk, nullptr, nullptr};

ci_msg_t lapMsg(uint16_t src, uint16_t kind, uint16_t lap) {
    ci_msg_t m;
    ci_init_msg(&m, CI_CMD_LAPTRIG_SIGNAL, CI_PID_ALL, 10);
    ci_set_src(&m, src);
    be_put16(m.payload, kind);
    be_put16(m.payload + 2, lap);
    be_put16(m.payload + 4, 2);
    be_put32(m.payload + 6, 912345);
    return m;
}
}  // namespace

using LaptriggerTest = MeasTest;

TEST_F(LaptriggerTest, OnlyTheMasterCountsAndTestBenchIgnoresAll) {
    laptrigger_init();
    laptrigger_set_hooks(&kHooks);
    laptrigger_set_master(3);
    gSet = gChng = gStack = gSblk = 0;
    ci_msg_t m = lapMsg(4, 0, 7);
    EXPECT_EQ(ci_serve_command(&m), 1);
    EXPECT_EQ(gSet, 0);
    m = lapMsg(3, 0, 7);
    EXPECT_EQ(ci_serve_command(&m), 1);
    EXPECT_EQ(gSet, 1);
    EXPECT_EQ(gLap, 7);
    EXPECT_EQ(gOut, 2);
    EXPECT_EQ(gStack, 1);
    EXPECT_EQ(gSblk, 1);
    m = lapMsg(3, 1, 9);
    ci_serve_command(&m);
    EXPECT_EQ(gChng, 1);
    EXPECT_EQ(gLap, 9);
    uint8_t bench = 1;
    ASSERT_TRUE(seramDownload(SERAM_WORKPAGE_ADDR + offsetof(CalPage, OUTINGCTR_MODE), &bench, 1));
    seramSetWorkpageActive();
    m = lapMsg(3, 0, 8);
    ci_serve_command(&m);
    EXPECT_EQ(gSet, 1);
    m = lapMsg(3, 0, 8);
    ci_set_len(&m, 4);
    EXPECT_EQ(ci_serve_command(&m), 0);
    laptrigger_set_hooks(nullptr);
}
