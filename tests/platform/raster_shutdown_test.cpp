// The ordered shutdown: the post-run semaphore wakes the main task, which
// stops the components, waits for the logger and stops the rasters.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/startup.h"
#include "platform/stop_budget.h"
#include "raster_fixture.h"

namespace {
std::string g_order;
std::atomic<int> g_flushPolls{0};
}  // namespace

TEST_F(RasterTest, PostrunWakesTheMainTaskForTheOrderedShutdown) {
    ASSERT_EQ(startup_postrunInit(7), 1);
    // the semaphore is reachable by name from outside the process
    SEM_ID byName = semOpen("/SemPostDrive7", SEM_TYPE_BINARY, SEM_EMPTY, SEM_Q_FIFO, 0);
    ASSERT_NE(byName, nullptr);

    ShutdownHooks hooks;
    hooks.stopComponents = [] { g_order += "components;"; };
    hooks.loggerFlushed = [] {
        g_order += "flushed?;";
        return ++g_flushPolls >= 3;   // the logger needs two more polls
    };
    rtpShutdown_setHooks(hooks);
    host::pwmOutSet(0, 50.0f, 1000.0f);
    start();
    tick(20);

    std::atomic<bool> woke{false};
    std::thread mainTask([&] {
        startup_waitPostrun();
        woke = true;
        rtpShutdown();
    });
    semGive(byName);   // as the kernel side would
    mainTask.join();
    EXPECT_TRUE(woke);
    EXPECT_EQ(g_order, "components;flushed?;flushed?;flushed?;");
    EXPECT_FALSE(host::pwmOutGet(0).on);
    EXPECT_TRUE(host::watchdogInShutdown());
    EXPECT_EQ(info("r10ms").ticks, 2u);
    // rasters no longer run, and a second shutdown does nothing
    host::baseTick();
    rtpShutdown();
    EXPECT_EQ(g_order, "components;flushed?;flushed?;flushed?;");
    EXPECT_EQ(info("r1ms").ticks, 20u);
    semClose(byName);
}

// The stop's guard ends a stop that overruns its budget (a component that
// does not stop), but not before the logger's halt and the copies' end have
// named what they leave: then the exit code is 0. A halt that cannot finish
// leaves what it had not written unnamed: the exit code says so. Either way
// the recordings' ends are said before the process ends.
TEST(StopGuardDeathTest, TheGuardEndsTheStopOnlyAfterTheLoggersNaming) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ShutdownHooks hooks;
            hooks.stopComponents = [] {
                for (;;) taskDelay(sysClkRateGet());
            };
            hooks.haltLogger = [](unsigned fastStopWaitMs) { fprintf(stderr, "halted (%u)\n", fastStopWaitMs); };
            hooks.endCopies = [](bool whole, unsigned) { fprintf(stderr, "copies ended, whole %d\n", whole); };
            hooks.noteRecordingStops = [] { fprintf(stderr, "ends said\n"); };
            rtpShutdown_setHooks(hooks);
            startup_setStopLimit(1500);
            startPostrun();
            rtpShutdown();
        },
        testing::ExitedWithCode(0), "halted \\(0\\)\nends said\ncopies ended, whole 0");
    EXPECT_EXIT(
        {
            ShutdownHooks hooks;
            hooks.loggerFlushed = [] { return true; };
            hooks.haltLogger = [](unsigned) {
                for (;;) taskDelay(sysClkRateGet());
            };
            hooks.noteRecordingStops = [] { fprintf(stderr, "ends said\n"); };
            rtpShutdown_setHooks(hooks);
            startup_setStopLimit(1500);
            startPostrun();
            rtpShutdown();
        },
        testing::ExitedWithCode(kExitStopUnnamed), "ends said\n");
}

namespace {
// The end of a stop claimed (the main task past "rtpShutdown: done") and
// then held up in a step: only the last resort ends it.
[[noreturn]] void stopHeldUpAfterItsEnd() {
    startup_setStopLimit(1500);
    startPostrun();
    if (!startup_claimEnd()) _exit(1);
    stopBudget_noteStep("the test's stuck step");
    for (;;) taskDelay(sysClkRateGet());
}
}  // namespace

// The last resort says on standard error where the stop was held up and
// when; a standard error nobody reads (a full pipe) does not keep the
// process from its end.
TEST(StopGuardDeathTest, TheLastResortSaysWhereTheStopWasAndNeverWaitsForStandardError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(stopHeldUpAfterItsEnd(), testing::ExitedWithCode(kExitStopUnnamed),
                "rtpShutdown: the process did not end within 1500 ms of the stop: it ends now; the stop was in the "
                "test's stuck step [0-9]+ ms after the signal\n");
    EXPECT_EXIT(
        {
            int p[2];
            if (pipe(p) != 0) _exit(1);
            // full: a write to it waits for a reader that never comes
            fcntl(p[1], F_SETFL, O_NONBLOCK);
            char block[4096] = {};
            while (write(p[1], block, sizeof block) > 0 || errno == EINTR) {
            }
            fcntl(p[1], F_SETFL, 0);
            dup2(p[1], STDERR_FILENO);
            stopHeldUpAfterItsEnd();
        },
        testing::ExitedWithCode(kExitStopUnnamed), "");
}
