// Stopping the screen writer while a task flushes: the stop never leaves the
// writer dead, so frames flushed after it still reach screen.png.
#include "host/device_fixture.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using ScreenStopTest = DeviceFolderTest;

TEST_F(ScreenStopTest, StopDuringFlushesLeavesTheWriterRunning) {
    constexpr int kRounds = 20;
    // a frame takes longer to encode than to flush: the flushes outrun the writer
    constexpr int kW = 320, kH = 240;
    std::vector<uint32_t> marker(kW * kH, 0x00336699);
    for (int round = 0; round < kRounds; ++round) {
        std::atomic<bool> flushing{true};
        const uint64_t before = host::screenFrameNumber();
        std::thread flusher([&flushing] {
            std::vector<uint32_t> fb(kW * kH);
            for (size_t p = 0; p < fb.size(); ++p) fb[p] = uint32_t(p * 2654435761u) & 0xFFFFFF;
            for (uint32_t i = 1; flushing.load(); ++i) {
                fb[0] = i;
                host::screenFlush(fb.data(), kW, kH, kW);
            }
        });
        while (host::screenFrameNumber() == before) std::this_thread::yield();
        // the stop writes what was flushed before it and returns, however
        // fast the flushes go on
        std::atomic<bool> stopped{false};
        std::thread stopper([&stopped] {
            host::screenStop();
            stopped = true;
        });
        for (int ms = 0; ms < 10000 && !stopped; ++ms) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const bool stopEnded = stopped;
        flushing = false;
        flusher.join();
        stopper.join();
        ASSERT_TRUE(stopEnded) << "a stop during flushes never ended, round " << round;

        // a frame flushed after the stop is written: a stop writes what
        // waits, and only a running (or restarted) writer has it
        marker[0] = static_cast<uint32_t>(round);
        ASSERT_EQ(host::screenFlush(marker.data(), kW, kH, kW), 0);
        host::screenStop();
        ASSERT_EQ(host::screenWrittenFrame(), host::screenFrameNumber()) << "round " << round;
    }
}

}  // namespace
