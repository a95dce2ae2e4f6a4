// Starting again: a restarted pretrigger measurement buffers until its
// condition rises, and an init of measurements that exist changes nothing.
#include <gtest/gtest.h>

#include "logging/app_fixture.h"
#include "platform/shell.h"

namespace {

// Blocks of a list, counted up to a limit (a list linked into itself ends there).
unsigned listLength(MeasBlock* head, unsigned limit = 16) {
    unsigned n = 0;
    for (MeasBlock* b = head; b && n < limit; b = b->next) ++n;
    return n;
}

// Every record carries the value sampled at its time stamp, once.
void expectSampledOnce(const std::vector<MeasAppTest::Rec>& recs, const std::map<uint32_t, uint32_t>& valueAt) {
    for (size_t i = 0; i < recs.size(); ++i) {
        auto it = valueAt.find(recs[i].ts);
        ASSERT_NE(it, valueAt.end()) << "record at " << recs[i].ts << " was never sampled";
        EXPECT_EQ(recs[i].value, it->second) << recs[i].ts;
        if (i) {
            EXPECT_GT(recs[i].ts, recs[i - 1].ts) << "duplicate or out of order at " << recs[i].ts;
        }
    }
}

}  // namespace

TEST_F(MeasAppTest, RestartedPretriggerBuffersUntilTheConditionRises) {
    writeConfig(0, "R1ms", true, "<PreTriggerTime time=\"0.2\"/>\n");
    active = true;   // triggered at once: the pretrigger passes everything through
    start();
    run(400);
    stopAndFlush();
    const uint32_t stopTs = lastTs;

    active = false;
    sp().meas_app_startreq = 1;
    run(800);
    EXPECT_EQ(sp().meas_app_running, 1);
    const uint32_t edge = lastTs + 10;
    active = true;
    run(300);
    stopAndFlush();

    auto recs = records("meas");
    expectSampledOnce(recs, valueAt);
    unsigned beforeEdge = 0;
    for (const auto& r : recs) {
        if (r.ts <= stopTs) continue;
        // after the restart only the pretrigger time before the edge (give or
        // take a frame) and what follows it
        EXPECT_GT(r.ts, edge - 2000 - 640) << "record at " << r.ts << " while the condition was false";
        beforeEdge += r.ts < edge;
    }
    EXPECT_GT(beforeEdge, 100u);   // the pretrigger time before the edge is kept
    auto log = takeLogTexts();
    EXPECT_FALSE(logContains(log, "trigger came without being armed"));
}

TEST_F(MeasAppTest, InitOfExistingMeasurementsChangesNothing) {
    writeConfig(0, "R1ms");
    writeConfig(2, "R10ms", true);
    start();
    run(300);
    ASSERT_EQ(sp().meas_app_running, 1);
    takeLogTexts();

    // "meas init" while logging runs, twice
    for (int i = 0; i < 2; ++i) {
        sp().meas_app_reinitreq = 1;
        run(200);
    }
    EXPECT_EQ(sp().meas_app_running, 1);
    EXPECT_EQ(listLength(meas_app_measlist[MEAS_RASTER_1MS]), 1u);
    EXPECT_EQ(listLength(meas_app_condlist[MEAS_IDX_M03]), 1u);
    EXPECT_EQ(sp().meas_cnt_m01request, 1);

    // "meas stop; meas init; meas init; meas start"
    sp().meas_app_stopreq = 1;
    ASSERT_TRUE(runUntil([&] { return !sp().meas_app_stopreq && !sp().meas_app_blkstopreq; }, 2000));
    for (int i = 0; i < 2; ++i) {
        sp().meas_app_reinitreq = 1;
        run(50);
    }
    const uint32_t restartTs = lastTs;
    sp().meas_app_startreq = 1;
    run(400);
    EXPECT_EQ(sp().meas_app_running, 1);
    EXPECT_EQ(listLength(meas_app_measlist[MEAS_RASTER_1MS]), 1u);
    EXPECT_EQ(listLength(meas_app_condlist[MEAS_IDX_M03]), 1u);

    auto log = takeLogTexts();
    // (a message repeated by the same task is folded by the log)
    EXPECT_GE(countContaining(log, "measurement exists, init refused"), 2);
    for (const char* fault : {"illegal databuffer", "MF_ERR_FIFO_IN_USE", "endless loop", "Init new measurement"})
        EXPECT_FALSE(logContains(log, fault)) << fault;

    stopAndFlush();
    auto recs = records("meas");
    expectSampledOnce(recs, valueAt);
    unsigned afterRestart = 0;
    for (const auto& r : recs) afterRestart += r.ts > restartTs;
    EXPECT_GT(afterRestart, 200u);
}

TEST_F(MeasAppTest, ShellSaysWhenInitIsRefused) {
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    takeLogTexts();
    std::string out;
    EXPECT_EQ(shell_runLineCapture("meas init", &out), 0);
    EXPECT_EQ(out, "meas init: measurement exists, init refused (destroy it first)\n");
    run(50);
    EXPECT_EQ(sp().meas_app_running, 1);
    EXPECT_EQ(sp().meas_cnt_m01request, 1);
    EXPECT_TRUE(logContains(takeLogTexts(), "measurement exists, init refused"));

    // destroyed, the init goes ahead and says nothing
    EXPECT_EQ(shell_runLineCapture("meas destroy", &out), 0);
    ASSERT_TRUE(runUntil([] { return !(meas[MEAS_IDX_M01].stateFlags & 1); }, 3000));
    EXPECT_EQ(shell_runLineCapture("meas init", &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
}
