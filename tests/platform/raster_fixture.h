// Runs the raster scheduler on manual base ticks for the raster tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "platform/raster.h"
#include "platform/syslog_reader.h"
#include "log_capture.h"

class RasterTest : public ::testing::Test {
protected:
    void SetUp() override {
        drainLog();
        ASSERT_EQ(raster_init(), 1);
    }
    void TearDown() override { raster_stopAll(); }

    void start() { ASSERT_EQ(raster_start(true), 1); }

    // Polls until cond holds; no time is asserted, the limit only ends a hang.
    template <class F>
    static bool waitFor(F cond) {
        for (int i = 0; i < 200000; ++i) {
            if (cond()) return true;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        return cond();
    }

    static RasterInfo info(const char* name) {
        RasterInfo ri{};
        EXPECT_TRUE(raster_info(raster_find(name), &ri)) << name;
        return ri;
    }

    // n base ticks; after each, waits until the notify task has handled it
    // and every raster not named in `busy` has run what it was given, so the
    // rasters never lag behind as they could with ticks faster than real time.
    void tick(int n, const char* busy = "") {
        for (int i = 0; i < n; ++i) {
            uint64_t want = raster_baseTicks() + 1;
            host::baseTick();
            ASSERT_TRUE(waitFor([&] { return raster_baseTicks() >= want && idle(busy); }));
        }
    }
    static bool idle(const char* busy) {
        for (int i = 0; i < raster_count(); ++i) {
            RasterInfo ri;
            raster_info(i, &ri);
            if (ri.pending != 0 && strcmp(ri.name, busy) != 0) return false;
        }
        return true;
    }

    // Log records queued since the last drain whose message contains text.
    static int logCount(const char* text) { return countContaining(takeLogTexts(), text); }
    static void drainLog() { logCount(""); }
};
