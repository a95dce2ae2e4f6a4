#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "raster_fixture.h"

namespace {

std::mutex g_callMutex;
std::vector<std::string> g_calls;                    // "name(arg)" in call order
std::map<std::pair<std::string, intptr_t>, int> g_counts;

void record(const char* name, intptr_t arg) {
    std::lock_guard<std::mutex> lock(g_callMutex);
    g_calls.push_back(std::string(name) + "(" + std::to_string(arg) + ")");
    ++g_counts[{name, arg}];
}

#define RECORDER(fn) [](intptr_t a) { record(#fn, a); }

void resetCalls() {
    std::lock_guard<std::mutex> lock(g_callMutex);
    g_calls.clear();
    g_counts.clear();
}

std::atomic<int> g_hookRuns{0};

}  // namespace

TEST(RasterRate, IndexToPeriod) {
    const int expect[] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 1, 0, 6000};
    for (int i = 0; i < 13; ++i) EXPECT_EQ(raster2rate(i), expect[i]) << i;
    EXPECT_EQ(raster2rate(-1), 0);
    EXPECT_EQ(raster2rate(13), 0);
}

TEST_F(RasterTest, EveryRasterRunsAtItsCycle) {
    start();
    const uint64_t feeds = host::watchdogFeedCount();
    tick(2000);
    const std::pair<const char*, uint64_t> expect[] = {
        {"r1ms", 2000},  {"r2ms", 1000},          {"r5ms", 400},           {"r10ms", 200},
        {"r20ms", 100},  {"r50ms", 40},           {"r100ms", 20},          {"r200ms", 10},
        {"r500ms", 4},   {"r1000ms", 2},          {"rEthSend_online", 200}, {"rEthSend_offline", 200},
        {"rMeas", 2000}, {"WATCHDOG", 200},       {"Lap", 0},              {"sbLapPer", 0}};
    for (const auto& e : expect) EXPECT_EQ(info(e.first).ticks, e.second) << e.first;
    EXPECT_EQ(host::watchdogFeedCount() - feeds, 200u);
    EXPECT_EQ(raster_baseTicks(), 2000u);
}

TEST_F(RasterTest, EventRastersRunOnlyWhenFired) {
    ASSERT_EQ(raster_addEntry(RB_LAP, "lap_entry", RECORDER(lap_entry), 11), 1);
    start();
    tick(50);
    EXPECT_EQ(info("Lap").ticks, 0u);
    EXPECT_EQ(raster_fireEvent(RASTER_EVENT_LAP), 1);
    EXPECT_EQ(raster_fireEvent(RASTER_EVENT_LAP), 1);
    EXPECT_EQ(raster_fireEvent(RASTER_EVENT_SBLAPPER), 1);
    EXPECT_EQ(raster_fireEvent(-7), 0);
    EXPECT_EQ(raster_fireEvent(3), 0);
    tick(1);
    EXPECT_EQ(info("Lap").ticks, 2u);
    EXPECT_EQ(info("sbLapPer").ticks, 1u);
    resetCalls();
}

TEST_F(RasterTest, HookedRasterRunsAndStops) {
    g_hookRuns = 0;
    ASSERT_NE(raster_hookFunction("EventService", 67, 10, [] { ++g_hookRuns; }, 0, -1, 0), 0);
    EXPECT_EQ(raster_hookFunction("bad", 67, 0, [] {}, 0, -1, 0), 0);
    EXPECT_EQ(raster_hookFunction("bad", 67, 10, nullptr, 0, -1, 0), 0);
    start();
    tick(100);
    EXPECT_EQ(g_hookRuns.load(), 10);
    raster_stopAll();
    EXPECT_TRUE(host::watchdogInShutdown());
    EXPECT_EQ(info("EventService").ticks, 10u);   // counts stay readable
    EXPECT_EQ(raster_hookFunction("late", 67, 10, [] {}, 0, -1, 0), 0);
    EXPECT_EQ(raster_fireEvent(RASTER_EVENT_LAP), 0);
    raster_stopAll();   // twice is harmless
}

TEST_F(RasterTest, SyncRephasesCountersAtNextTick) {
    static uint32_t now = 0;
    raster_setTimeSource([] { return now; });
    start();
    tick(3);   // r10ms counter at 3
    // boundary 37 ms ago: at the next tick r10ms is 7 ms into its cycle,
    // r100ms 37 ms, so r10ms is due 3 ticks later and r100ms 63 later
    now = 100000;
    rasterTaskSyncTo100ms(now - 370);
    tick(1);
    tick(2);
    EXPECT_EQ(info("r10ms").ticks, 0u);
    tick(1);
    EXPECT_EQ(info("r10ms").ticks, 1u);
    tick(59);
    EXPECT_EQ(info("r100ms").ticks, 0u);
    tick(1);
    EXPECT_EQ(info("r100ms").ticks, 1u);
    // a boundary exactly at the tick makes every raster due at once
    rasterTaskSyncTo100ms(now);
    tick(1);
    EXPECT_EQ(info("r1000ms").ticks, 1u);
    EXPECT_EQ(info("r100ms").ticks, 2u);
    raster_setTimeSource(nullptr);
}

TEST_F(RasterTest, BodiesCallEntriesInTheirFixedOrder) {
    resetCalls();
    // registered in the wrong order and from different modules on purpose
    ASSERT_EQ(raster_addEntry(RB_10MS, "CanOut_send_message", RECORDER(CanOut_send_message), 3), 1);
    ASSERT_EQ(raster_addEntry(RB_10MS, "xcpSendDAQ", RECORDER(xcpSendDAQ), 1), 1);
    ASSERT_EQ(raster_addEntry(RB_10MS, "virari_dbg_10ms", RECORDER(virari_dbg_10ms), 0), 1);
    ASSERT_EQ(raster_addEntry(RB_10MS, "gw_raster", RECORDER(gw_raster), 3), 1);
    ASSERT_EQ(raster_addEntry(RB_10MS, "model_step", RECORDER(model_step), 3), 1);
    // a wrong argument for a known slot becomes an extra entry, not a slot
    ASSERT_EQ(raster_addEntry(RB_2MS, "CanOut_send_message", RECORDER(CanOut_send_message), 7), 1);
    EXPECT_EQ(raster_addEntry(RB_COUNT, "x", RECORDER(x), 0), 0);
    EXPECT_EQ(raster_addEntry(RB_10MS, nullptr, RECORDER(x), 0), 0);
    EXPECT_EQ(raster_addEntry(RB_10MS, "x", nullptr, 0), 0);
    start();
    tick(10);
    // r2ms and r10ms run on tasks of their own: only the order within each
    // raster is fixed, so the two are compared apart.
    std::lock_guard<std::mutex> lock(g_callMutex);
    std::vector<std::string> tenMs;
    int twoMs = 0;
    for (const auto& c : g_calls) {
        if (c == "CanOut_send_message(7)") ++twoMs;
        else tenMs.push_back(c);
    }
    EXPECT_EQ(twoMs, 5);
    std::vector<std::string> expect = {"gw_raster(3)", "model_step(3)", "virari_dbg_10ms(0)",
                                       "xcpSendDAQ(1)", "CanOut_send_message(3)"};
    EXPECT_EQ(tenMs, expect);
}

TEST_F(RasterTest, LoggingRasterTickPattern) {
    resetCalls();
    raster_addEntry(RB_MEAS, "meas_app_main", RECORDER(meas_app_main), 0);
    raster_addEntry(RB_MEAS, "meas_app_saveblock", RECORDER(meas_app_saveblock), 0);
    raster_addEntry(RB_MEAS, "LapOutFra_checkExtLaptrgInit", RECORDER(LapOutFra_checkExtLaptrgInit), 0);
    raster_addEntry(RB_MEAS, "meas_app_timeout_close", RECORDER(meas_app_timeout_close), 0);
    raster_addEntry(RB_MEAS, "MeasAppStore_checkForFlush", RECORDER(MeasAppStore_checkForFlush), 0);
    raster_addEntry(RB_MEAS, "meas_app_checkFragmentTrigOnUSBEvent",
                    RECORDER(meas_app_checkFragmentTrigOnUSBEvent), 0);
    start();
    tick(2000);
    std::lock_guard<std::mutex> lock(g_callMutex);
    const std::map<intptr_t, int> saveblock = {{0, 2000}, {1, 1000}, {10, 1000}, {2, 400}, {3, 200}, {4, 100},
                                               {5, 40},   {6, 20},   {11, 20},   {12, 20}, {7, 10},  {8, 4},
                                               {9, 2}};
    for (const auto& [arg, n] : saveblock) EXPECT_EQ((g_counts[{"meas_app_saveblock", arg}]), n) << arg;
    EXPECT_EQ((g_counts[{"meas_app_main", 0}]), 2000);
    EXPECT_EQ((g_counts[{"LapOutFra_checkExtLaptrgInit", 0}]), 200);
    EXPECT_EQ((g_counts[{"meas_app_timeout_close", 11}]), 20);
    EXPECT_EQ((g_counts[{"meas_app_timeout_close", 12}]), 20);
    EXPECT_EQ((g_counts[{"MeasAppStore_checkForFlush", 0}]), 2);
    EXPECT_EQ((g_counts[{"meas_app_checkFragmentTrigOnUSBEvent", 0}]), 2);
    // the second call of the first second's block comes at c = 187
    auto first = std::find(g_calls.begin(), g_calls.end(), "meas_app_saveblock(9)");
    ASSERT_NE(first, g_calls.end());
    EXPECT_EQ(std::count(g_calls.begin(), first, "meas_app_main(0)"), 188);
}

TEST_F(RasterTest, EthernetSendRasterTickPattern) {
    resetCalls();
    raster_addEntry(RB_ETHSEND_ONLINE, "SerNet_man_sender_online", RECORDER(online), 0);
    raster_addEntry(RB_ETHSEND_ONLINE, "SerNet_man_flush_online", RECORDER(flush_online), 0);
    raster_addEntry(RB_ETHSEND_OFFLINE, "SerNet_man_sender_offline", RECORDER(offline), 0);
    start();
    tick(2000);   // 200 runs of each send raster
    std::lock_guard<std::mutex> lock(g_callMutex);
    const std::map<intptr_t, int> sender = {{10, 200}, {0, 200}, {1, 200}, {2, 200}, {3, 200}, {4, 100}, {5, 40},
                                            {6, 20},   {11, 20}, {12, 20},  {7, 10},  {8, 4},   {9, 2}};
    for (const auto& [arg, n] : sender) {
        EXPECT_EQ((g_counts[{"online", arg}]), n) << arg;
        EXPECT_EQ((g_counts[{"offline", arg}]), n) << arg;
    }
    EXPECT_EQ((g_counts[{"flush_online", 0}]), 200);
    // each run: the senders first, the flush last
    auto flush = std::find(g_calls.begin(), g_calls.end(), "flush_online(0)");
    ASSERT_NE(flush, g_calls.end());
    EXPECT_EQ(std::count(g_calls.begin(), flush, "online(10)"), 1);
}

namespace {
// Due stamps each raster body saw, by body.
std::mutex g_stampMutex;
std::map<int, std::vector<uint32_t>> g_stamps;
std::atomic<int> g_stallAt{-1};   // r1ms run that stalls for 150 ms
std::atomic<bool> g_hold1ms{false};   // holds r1ms's first run while set

template <int Body>
void recordStamp(intptr_t) {
    size_t n;
    {
        std::lock_guard<std::mutex> lock(g_stampMutex);
        g_stamps[Body].push_back(raster_dueStamp());
        n = g_stamps[Body].size();
    }
    if (Body == RB_1MS && int(n) == g_stallAt) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    if (Body == RB_1MS && n == 1)
        while (g_hold1ms.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (Body == RB_100MS && n == 1) std::this_thread::sleep_for(std::chrono::milliseconds(230));
}
}  // namespace

// Records of a raster carry the stamp of the tick that made the run due, so
// they stay on the raster's grid when its task runs late: r1ms stalls for
// 150 ms once and catches up, r100ms takes 230 ms over its first run.
TEST_F(RasterTest, DueStampsStayOnTheGridWhenTasksRunLate) {
    {
        std::lock_guard<std::mutex> lock(g_stampMutex);
        g_stamps.clear();
    }
    g_stallAt = 200;
    ASSERT_EQ(raster_addEntry(RB_1MS, "stamp_1ms", recordStamp<RB_1MS>, 0), 1);
    ASSERT_EQ(raster_addEntry(RB_10MS, "stamp_10ms", recordStamp<RB_10MS>, 0), 1);
    ASSERT_EQ(raster_addEntry(RB_100MS, "stamp_100ms", recordStamp<RB_100MS>, 0), 1);
    ASSERT_EQ(raster_start(false), 1);
    ASSERT_TRUE(waitFor([] {
        std::lock_guard<std::mutex> lock(g_stampMutex);
        return g_stamps[RB_100MS].size() >= 6 && g_stamps[RB_1MS].size() >= 600;
    }));
    raster_stopAll();
    const std::pair<int, uint32_t> grid[] = {{RB_1MS, 10}, {RB_10MS, 100}, {RB_100MS, 1000}};
    std::lock_guard<std::mutex> lock(g_stampMutex);
    for (const auto& [body, step] : grid) {
        const std::vector<uint32_t>& s = g_stamps[body];
        ASSERT_GE(s.size(), 2u) << body;
        for (size_t i = 1; i < s.size(); ++i) ASSERT_EQ(uint32_t(s[i] - s[i - 1]), step) << body << " at " << i;
    }
    // the slower rasters fall on ticks of the 1 ms raster's grid
    EXPECT_EQ(uint32_t(g_stamps[RB_10MS][0] - g_stamps[RB_1MS][0]) % 10, 0u);
    EXPECT_EQ(uint32_t(g_stamps[RB_100MS][0] - g_stamps[RB_10MS][0]) % 100, 0u);
    g_stallAt = -1;
}

// A raster held for more ticks than it keeps stamps of drops the runs it is
// behind, goes on with the newest and names those dropped; the runs it makes
// carry stamps of ticks given, in order, also where the ticks were not
// evenly spaced (here: a pause of 3 ms every 100 ticks). At a stop the runs
// not done are named.
TEST_F(RasterTest, ARasterHeldPastItsStampsDropsTheRunsItIsBehindAndNamesThem) {
    {
        std::lock_guard<std::mutex> lock(g_stampMutex);
        g_stamps.clear();
    }
    ASSERT_EQ(raster_addEntry(RB_1MS, "held_1ms", recordStamp<RB_1MS>, 0), 1);
    g_hold1ms = true;
    start();
    std::vector<uint32_t> given;
    auto giveTicks = [&](int n) {
        for (int i = 0; i < n; ++i) {
            const uint32_t before = host::baseTickStamp();
            while (host::timeStamp() == before) std::this_thread::sleep_for(std::chrono::microseconds(20));
            if (given.size() % 100 == 99) std::this_thread::sleep_for(std::chrono::milliseconds(3));
            tick(1, "r1ms");
            given.push_back(host::baseTickStamp());
        }
    };
    giveTicks(1300);
    drainLog();
    g_hold1ms = false;
    ASSERT_TRUE(waitFor([] { return info("r1ms").pending == 0; }));
    std::vector<uint32_t> ran;
    {
        std::lock_guard<std::mutex> lock(g_stampMutex);
        ran = g_stamps[RB_1MS];
    }
    ASSERT_GE(ran.size(), 2u);
    for (size_t i = 1; i < ran.size(); ++i) ASSERT_GT(int32_t(ran[i] - ran[i - 1]), 0) << "run " << i;
    for (uint32_t s : ran) ASSERT_NE(std::find(given.begin(), given.end(), s), given.end()) << s << " was never given";
    const size_t dropped = given.size() - ran.size();
    EXPECT_EQ(ran[1], given.back()) << "goes on with the newest";
    EXPECT_EQ(info("r1ms").skippedRuns, dropped);
    const std::vector<std::string> lines = takeLogTexts();
    const std::string want = "raster r1ms: the runs of time stamps " + std::to_string(ran[0] + 1) + " to " +
                             std::to_string(ran[1] - 1) + " lost: its task lagged " + std::to_string(dropped) +
                             " runs behind its ticks";
    EXPECT_EQ(countContaining(lines, want.c_str()), 1) << want;

    // held again, then stopped: the runs given since are named, not dropped
    g_hold1ms = true;
    {
        std::lock_guard<std::mutex> lock(g_stampMutex);
        g_stamps[RB_1MS].clear();
    }
    giveTicks(1);   // taken by the held run
    ASSERT_TRUE(waitFor([] { return info("r1ms").pending == 1; }));
    const uint32_t doneBefore = given[given.size() - 2];
    giveTicks(20);
    raster_nameRunsNotDone("when the measurement stopped", 5, given.back());   // held: not done within the wait
    const std::string stop = "raster r1ms: the runs of time stamps " + std::to_string(doneBefore + 1) + " to " +
                             std::to_string(given.back()) + " lost: 21 runs not done when the measurement stopped";
    EXPECT_EQ(countContaining(takeLogTexts(), stop.c_str()), 1) << stop;
    // a later step of the stop names only the runs given since; the held
    // task, far enough behind to drop its runs, names only those after both
    const uint32_t namedFirst = given.back();
    giveTicks(5);
    raster_nameRunsNotDone("when their lists ended", 5, given.back());
    const std::string again = "raster r1ms: the runs of time stamps " + std::to_string(namedFirst + 1) + " to " +
                              std::to_string(given.back()) + " lost: 5 runs not done when their lists ended";
    EXPECT_EQ(countContaining(takeLogTexts(), again.c_str()), 1) << again;
    const uint32_t namedLast = given.back();
    giveTicks(1100);
    g_hold1ms = false;
    ASSERT_TRUE(waitFor([] { return info("r1ms").pending == 0; }));
    const std::string dropped2 = "raster r1ms: the runs of time stamps " + std::to_string(namedLast + 1) + " to " +
                                 std::to_string(given.back() - 1) + " lost: its task lagged 1099 runs behind its ticks";
    const std::vector<std::string> afterHold = takeLogTexts();
    EXPECT_EQ(countContaining(afterHold, dropped2.c_str()), 1) << dropped2;
    EXPECT_EQ(countContaining(afterHold, "lost"), 1);

    // runs that finish within the wait are not named
    g_hold1ms = true;
    {
        std::lock_guard<std::mutex> lock(g_stampMutex);
        g_stamps[RB_1MS].clear();
    }
    giveTicks(3);
    std::thread release([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        g_hold1ms = false;
    });
    raster_nameRunsNotDone("when the measurement stopped", 10000, given.back());
    release.join();
    EXPECT_EQ(countContaining(takeLogTexts(), "runs not done"), 0);

    // the stop's stamp read before the runs under way are waited for: a run
    // given during the wait and due by that stamp is named too when it is
    // not done, one due after it is not the stop's
    ASSERT_TRUE(waitFor([] { return info("r1ms").pending == 0; }));
    g_hold1ms = true;
    {
        std::lock_guard<std::mutex> lock(g_stampMutex);
        g_stamps[RB_1MS].clear();
    }
    giveTicks(1);   // taken by the held run
    ASSERT_TRUE(waitFor([] { return info("r1ms").pending == 1; }));
    const uint32_t heldSince = given[given.size() - 2];
    std::atomic<bool> duringWait{false};
    std::vector<uint32_t> late;
    // 30 ms on: the runs due by then come during the wait (of 0.5 s), the
    // giver goes on past it, however late a busy host lets it begin
    const uint32_t stopAt = host::timeStamp() + 300;
    const size_t givenBefore = given.size();
    std::thread giver([&] {
        while (!duringWait.load()) std::this_thread::sleep_for(std::chrono::microseconds(50));
        while (int32_t(given.back() - stopAt) <= 10) giveTicks(1);
        late.assign(given.begin() + long(givenBefore), given.end());
    });
    duringWait = true;
    raster_nameRunsNotDone("when the measurement stopped", 500, stopAt);
    giver.join();
    uint32_t lastDue = given[givenBefore - 1];
    unsigned due = 1;
    for (uint32_t s : late)
        if (int32_t(s - stopAt) <= 0) lastDue = s, ++due;
    EXPECT_GT(due, 1u) << "no run came due during the wait";
    const std::string during = "raster r1ms: the runs of time stamps " + std::to_string(heldSince + 1) + " to " +
                               std::to_string(lastDue) + " lost: " + std::to_string(due) +
                               " runs not done when the measurement stopped";
    EXPECT_EQ(countContaining(takeLogTexts(), during.c_str()), 1) << during;
    g_hold1ms = false;
    ASSERT_TRUE(waitFor([] { return info("r1ms").pending == 0; }));
}

// Outside a raster run the due stamp is the current time stamp.
TEST(RasterStamp, OutsideARunIsNow) {
    static uint32_t now = 4242;
    raster_setTimeSource([] { return now; });
    EXPECT_EQ(raster_dueStamp(), 4242u);
    raster_setTimeSource(nullptr);
}

namespace {
std::mutex g_dueMutex;
std::vector<uint32_t> g_due100;   // due stamps of r100ms runs
std::atomic<int> g_stallMs{0};

// The time source of the re-phasing, which the notify task calls within a
// tick: the tick's own stamp, after a stall of the base tick when one is
// asked for.
uint32_t stallingNow() {
    const uint32_t stamp = host::baseTickStamp();
    if (const int ms = g_stallMs.exchange(0)) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return stamp;
}
}  // namespace

// A base tick that lags more than 100 ms behind its clock skips the ticks it
// missed: each periodic raster counts the runs it lost, the log names the
// lag with its length, and the rasters keep their phase (r100ms stays on
// the 100 ms grid it was re-phased to).
TEST_F(RasterTest, RunsLostToALagAreCountedPerRaster) {
    ASSERT_EQ(raster_addEntry(RB_100MS, "due_100ms",
                              [](intptr_t) {
                                  std::lock_guard<std::mutex> lock(g_dueMutex);
                                  g_due100.push_back(raster_dueStamp());
                              },
                              0),
              1);
    raster_setTimeSource(stallingNow);
    ASSERT_EQ(raster_start(false), 1);
    ASSERT_TRUE(waitFor([] { return raster_baseTicks() >= 10; }));
    const uint32_t grid = host::baseTickStamp();
    rasterTaskSyncTo100ms(grid);
    const uint64_t phased = raster_baseTicks() + 2;
    ASSERT_TRUE(waitFor([&] { return raster_baseTicks() >= phased; }));
    {
        std::lock_guard<std::mutex> lock(g_dueMutex);
        g_due100.clear();
    }
    drainLog();
    g_stallMs = 250;
    // the lag is named once the runs lost are counted, whatever the log's threshold
    syslogx_setThreshold(3);
    rasterTaskSyncTo100ms(grid);
    std::vector<std::string> named;
    const bool lagNamed = waitFor([&] {
        for (const std::string& t : takeLogTexts())
            if (t.find("the base tick lagged") != std::string::npos) named.push_back(t);
        return !named.empty();
    });
    syslogx_setThreshold(7);
    ASSERT_TRUE(lagNamed);
    ASSERT_EQ(named.size(), 1u);
    const uint64_t skipped = info("r1ms").skippedRuns;
    EXPECT_GE(skipped, 150u) << "a stall of 250 ms, less the 100 ms a tick may lag";
    EXPECT_NE(named[0].find("the base tick lagged " + std::to_string(skipped) + " ms"), std::string::npos) << named[0];
    EXPECT_NE(named[0].find("r1ms " + std::to_string(skipped)), std::string::npos) << named[0];
    for (const char* name : {"r10ms", "rMeas", "r1000ms"}) {
        const RasterInfo ri = info(name);
        EXPECT_GE(ri.skippedRuns, skipped / uint64_t(ri.cycle)) << name;
        EXPECT_LE(ri.skippedRuns, skipped / uint64_t(ri.cycle) + 1) << name;
    }
    ASSERT_TRUE(waitFor([] {
        std::lock_guard<std::mutex> lock(g_dueMutex);
        return g_due100.size() >= 5;
    }));
    raster_stopAll();
    raster_setTimeSource(nullptr);
    std::lock_guard<std::mutex> lock(g_dueMutex);
    for (uint32_t due : g_due100) EXPECT_EQ(uint32_t(due - grid) % 1000u, 0u) << due << " off the grid of " << grid;
}
