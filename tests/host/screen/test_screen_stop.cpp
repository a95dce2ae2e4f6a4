// Stopping the screen writer while a task flushes: the stop never leaves the
// writer dead, so frames flushed after it still reach screen.png.
#include "host/device_fixture.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

// The width screen.png holds (its header's), 0 when it cannot be read.
uint32_t pngWidth(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    unsigned char head[24] = {};
    if (!f.read(reinterpret_cast<char*>(head), sizeof head)) return 0;
    return uint32_t(head[16]) << 24 | uint32_t(head[17]) << 16 | uint32_t(head[18]) << 8 | head[19];
}

// The stop at the process's end has a limit: a writer inside a frame (a slow
// drive, no CPU for it) is left to end after that frame. Its frame and one
// flushed meanwhile are not lost: a later stop without a limit writes them.
TEST_F(ScreenStopTest, AStopWithALimitLeavesAWriterInsideAFrameAndLosesNoFrame) {
    // noise of this size takes the encoder a good while
    constexpr int kW = 4096, kH = 2048;
    std::vector<uint32_t> noise(size_t(kW) * kH);
    uint32_t x = 2463534242u;
    for (uint32_t& p : noise) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        p = x & 0xFFFFFF;
    }
    ASSERT_EQ(host::screenFlush(noise.data(), kW, kH, kW), 0);
    // the writer is inside the frame once its temporary file is there
    const std::string png = dir + "/screen.png";
    while (!std::filesystem::exists(png + ".tmp") && host::screenWrittenFrame() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(host::screenWrittenFrame(), 0u) << "the frame was written before the stop could come";
    EXPECT_FALSE(host::screenStop(0)) << "the stop waited for the writer's frame";

    // a frame flushed now waits for the writer left behind
    constexpr int kSmallW = 64, kSmallH = 48;
    std::vector<uint32_t> small(size_t(kSmallW) * kSmallH, 0x00112233);
    ASSERT_EQ(host::screenFlush(small.data(), kSmallW, kSmallH, kSmallW), 0);

    EXPECT_TRUE(host::screenStop());
    EXPECT_EQ(host::screenWrittenFrame(), host::screenFrameNumber());
    EXPECT_EQ(pngWidth(png), uint32_t(kSmallW));
    EXPECT_FALSE(std::filesystem::exists(png + ".tmp"));
}

}  // namespace
