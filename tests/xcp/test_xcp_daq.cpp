// DAQ lists of the XCP slave: configuration commands and the DTO stream a
// tool receives while the rasters fire the event channels.
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "xcp/xcp_eth.h"
#include "xcp/xcp_internal.h"
#include "xcp_fixture.h"

using namespace std::chrono_literals;

namespace {

std::atomic<uint32_t> gNow{0};
uint32_t testNow() { return gNow.load(); }

Bytes allocDaq(uint16_t n) { return {0xD5, 0, uint8_t(n), uint8_t(n >> 8)}; }
Bytes allocOdt(uint16_t list, uint8_t n) { return {0xD4, 0, uint8_t(list), uint8_t(list >> 8), n}; }
Bytes allocEntries(uint16_t list, uint8_t odt, uint8_t n) { return {0xD3, 0, uint8_t(list), 0, odt, n}; }
Bytes setPtr(uint16_t list, uint8_t odt, uint8_t entry) { return {0xE2, 0, uint8_t(list), 0, odt, entry}; }
Bytes writeDaq(uint8_t size, uint32_t address, uint8_t bitOffset = 0xFF) {
    Bytes b = {0xE1, bitOffset, size, 0};
    putLe32(b, address);
    return b;
}
Bytes listMode(uint16_t list, uint16_t channel, uint8_t prescaler) {
    return {0xE0, 0x10, uint8_t(list), 0, uint8_t(channel), 0, prescaler, 0};
}
Bytes startStop(uint8_t mode, uint16_t list) { return {0xDE, mode, uint8_t(list), 0}; }

// Fires the event channels as the rasters do: 2 every 1 ms, 1 every 10 ms,
// 0 and the flush request every 100 ms; the time stamp steps 0.1 ms-wise.
void runRasters(int ticks, bool realTime) {
    for (int t = 0; t < ticks; ++t) {
        gNow += 10;
        xcpSendDAQ(2);
        if (t % 10 == 0) xcpSendDAQ(1);
        if (t % 100 == 0) {
            xcp_100ms();
            xcpSendDAQ(0);
        }
        if (realTime) std::this_thread::sleep_for(1ms);
    }
}

}  // namespace

class XcpDaqTest : public XcpSlaveTest {
protected:
    void SetUp() override {
        XcpSlaveTest::SetUp();
        gNow = 1000;
        xcp_setTimeSource(testNow);
        connect();
    }
    void expectOk(const Bytes& cmd) { EXPECT_EQ(master->command(cmd), kOk) << "command " << std::hex << int(cmd[0]); }
    // Configures list 0 with one ODT of one entry of `size` bytes on event
    // channel `channel` and starts it; returns the answer to the start.
    Bytes startOneEntryList(uint8_t size, uint16_t channel) {
        expectOk(allocDaq(1));
        expectOk(allocOdt(0, 1));
        expectOk(allocEntries(0, 0, 1));
        expectOk(setPtr(0, 0, 0));
        expectOk(writeDaq(size, kPidBits | 0x100));
        expectOk(listMode(0, channel, 1));
        return master->command(startStop(1, 0));
    }
};

TEST_F(XcpDaqTest, ProcessorInformation) {
    EXPECT_EQ(master->command({0xDA}), (Bytes{0xFF, 0x13, 4, 0, 4, 0, 0, 0x80}));
    EXPECT_EQ(master->command({0xD9}), (Bytes{0xFF, 1, 252, 1, 252, 0x5C, 1, 0}));
    EXPECT_EQ(master->command({0xD8, 0, 3, 0}), (Bytes{0xFF, 0x06, 1, 255, 0, 0}));
    EXPECT_EQ(master->command({0xD8, 0, 4, 0}), errorAnswer(0x22));
    EXPECT_EQ(master->command({0xD7, 0, 2, 0}), (Bytes{0xFF, 0x04, 1, 0, 1, 6, 0x0E}));
    EXPECT_EQ(master->command({0xD7, 0, 3, 0}), (Bytes{0xFF, 0x04, 1, 0, 0, 0, 0x0F}));
    EXPECT_EQ(master->command({0xD7, 0, 4, 0}), errorAnswer(0x22));
    Bytes clock = master->command({0xDC});
    ASSERT_EQ(clock.size(), 8u);
    EXPECT_EQ(rdLe32(clock, 4), 1000u);
}

TEST_F(XcpDaqTest, AllocationFollowsItsSequenceAndLimits) {
    EXPECT_EQ(master->command(allocOdt(0, 1)), errorAnswer(0x29));
    EXPECT_EQ(master->command(allocDaq(5)), errorAnswer(0x22));
    expectOk(allocDaq(1));
    EXPECT_EQ(master->command(allocDaq(1)), errorAnswer(0x29));
    expectOk(allocOdt(3, 2));                                   // four lists were made
    EXPECT_EQ(master->command(allocOdt(4, 1)), errorAnswer(0x22));
    EXPECT_EQ(master->command(allocEntries(3, 2, 1)), errorAnswer(0x22));
    expectOk(allocEntries(3, 0, 2));
    expectOk(allocEntries(3, 1, 3));
    EXPECT_EQ(master->command(setPtr(3, 0, 2)), errorAnswer(0x22));

    // ODT 0 carries 248 bytes of values, ODT 1 252
    expectOk(setPtr(3, 0, 0));
    expectOk(writeDaq(200, kPidBits | 0x100));
    EXPECT_EQ(master->command(writeDaq(49, kPidBits | 0x200)), errorAnswer(0x30));
    expectOk(writeDaq(48, kPidBits | 0x200));
    // past the allocated entries: refused, nothing written beyond them
    EXPECT_EQ(master->command(writeDaq(1, kPidBits | 0x300)), errorAnswer(0x22));
    expectOk(setPtr(3, 0, 1));
    expectOk(writeDaq(40, kPidBits | 0x200));   // an entry written again gives its bytes back
    expectOk(setPtr(3, 1, 0));
    expectOk(writeDaq(252, kPidBits | 0x100));
    EXPECT_EQ(master->command(writeDaq(1, kPidBits | 0x100)), errorAnswer(0x30));
    // a bit offset, another extension or another PID
    expectOk(setPtr(3, 1, 1));
    EXPECT_EQ(master->command(writeDaq(0, kPidBits | 0x100, 0)), errorAnswer(0x22));
    EXPECT_TRUE(logContains(takeLogTexts(), "XCP WRITE_DAQ: Bit Offset not supported."));
    EXPECT_EQ(master->command(writeDaq(0, (9u << 24) | 0x100)), errorAnswer(0x22));

    EXPECT_EQ(master->command({0xDE, 3, 0, 0}), errorAnswer(0x27));
    EXPECT_EQ(master->command({0xDE, 1, 4, 0}), errorAnswer(0x22));
    EXPECT_EQ(master->command({0xDD, 3}), errorAnswer(0x22));
    EXPECT_EQ(master->command(listMode(0, 4, 1)), errorAnswer(0x22));

    // after FREE_DAQ the old pointer reaches nothing
    expectOk({0xD6});
    EXPECT_EQ(master->command(writeDaq(4, kPidBits | 0x100)), errorAnswer(0x22));
    EXPECT_EQ(master->command(allocOdt(0, 1)), errorAnswer(0x29));
    expectOk(allocDaq(4));
}

TEST_F(XcpDaqTest, DtosOfTwoSecondsMatchTheUploadsStepByTheCycleAndStopWithTheLists) {
    useWorkingPage();
    const Bytes a = {0x11, 0x22, 0x33, 0x44}, b = {0x55, 0x66}, c = {0x77}, d = {1, 2, 3, 4, 5, 6, 7, 8};
    expectOk(XcpTestMaster::shortDownload(kPidBits | 0x500, a));
    expectOk(XcpTestMaster::shortDownload(kPidBits | 0x510, b));
    expectOk(XcpTestMaster::shortDownload(kPidBits | 0x520, c));
    expectOk(XcpTestMaster::shortDownload(kPidBits | 0x530, d));

    expectOk(allocDaq(3));
    expectOk(allocOdt(0, 3));   // the empty third ODT ends the list
    expectOk(allocOdt(1, 1));
    expectOk(allocOdt(2, 1));
    expectOk(allocEntries(0, 0, 2));
    expectOk(allocEntries(0, 1, 1));
    expectOk(allocEntries(1, 0, 1));
    expectOk(allocEntries(2, 0, 1));
    expectOk(setPtr(0, 0, 0));
    expectOk(writeDaq(4, kPidBits | 0x500));
    expectOk(writeDaq(2, kPidBits | 0x510));
    expectOk(setPtr(0, 1, 0));
    expectOk(writeDaq(8, kPidBits | 0x530));
    expectOk(setPtr(1, 0, 0));
    expectOk(writeDaq(1, kPidBits | 0x520));
    expectOk(setPtr(2, 0, 0));
    expectOk(writeDaq(4, kPidBits | 0x500));
    expectOk(listMode(0, 2, 1));   // 1 ms
    expectOk(listMode(1, 1, 0));   // 10 ms
    expectOk(listMode(2, 0, 3));   // every third 100 ms event
    for (uint16_t l = 0; l < 3; ++l) EXPECT_EQ(master->command(startStop(2, l)), (Bytes{0xFF, 0}));
    runRasters(5, false);   // selected lists do not send
    expectOk({0xDD, 1});
    EXPECT_EQ(master->command({0xFD})[1] & 0x40, 0x40);

    runRasters(2000, true);
    expectOk({0xDD, 0});
    EXPECT_EQ(master->command({0xFD})[1] & 0x40, 0);
    std::this_thread::sleep_for(100ms);
    auto grams = master->takeDtos();
    runRasters(300, false);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(master->dtoCount(), 0u);   // nothing after the stop

    std::map<int, std::vector<uint32_t>> stamps;
    uint16_t expectCtr = 1;
    size_t odt1 = 0;
    for (const auto& g : grams) {
        EXPECT_LE(g.size, 255u);
        for (const auto& f : g.frames) {
            EXPECT_EQ(f.ctr, expectCtr++);
            const Bytes& p = f.packet;
            ASSERT_GE(p.size(), 3u);
            uint16_t list = rdLe16(p, 1);
            if (p[0] == 1) {
                ++odt1;
                EXPECT_EQ(Bytes(p.begin() + 3, p.end()), d);
                continue;
            }
            ASSERT_EQ(p[0], 0);
            stamps[list].push_back(rdLe32(p, 3));
            Bytes values(p.begin() + 7, p.end());
            if (list == 0) {
                Bytes ab = a;
                ab.insert(ab.end(), b.begin(), b.end());
                EXPECT_EQ(values, ab);
            } else if (list == 1) {
                EXPECT_EQ(values, c);
            } else {
                EXPECT_EQ(values, a);
            }
        }
    }
    EXPECT_EQ(stamps[0].size(), 2000u);
    EXPECT_EQ(odt1, 2000u);
    EXPECT_EQ(stamps[1].size(), 200u);
    EXPECT_EQ(stamps[2].size(), 7u);   // 100 ms events 0, 3, ... 18 of 20
    const std::map<int, uint32_t> step = {{0, 10}, {1, 100}, {2, 3000}};
    for (const auto& [list, s] : stamps)
        for (size_t i = 1; i < s.size(); ++i) ASSERT_EQ(s[i] - s[i - 1], step.at(list)) << "list " << list;
    // the values are what an upload reads
    Bytes up = master->command(XcpTestMaster::shortUpload(4, kPidBits | 0x500));
    EXPECT_EQ(Bytes(up.begin() + 1, up.end()), a);
}

TEST_F(XcpDaqTest, DtosArePackedUpTo255BytesAndFlushedByTheHundredMillisecondTick) {
    EXPECT_EQ(startOneEntryList(113, 2), (Bytes{0xFF, 0}));   // 7 + 113 = a 120-byte packet
    for (int i = 0; i < 3; ++i) xcpSendDAQ(2);
    std::this_thread::sleep_for(50ms);   // the flush request is no queue message: let the DTOs pass first
    xcp_100ms();
    xcpSendDAQ(2);   // pushes the third out first
    xcpSendDAQ(2);
    expectOk({0xDD, 0});
    std::this_thread::sleep_for(100ms);
    auto grams = master->takeDtos();
    ASSERT_EQ(grams.size(), 3u);
    EXPECT_EQ(grams[0].size, 248u);
    EXPECT_EQ(grams[0].frames.size(), 2u);
    EXPECT_EQ(grams[1].size, 124u);
    EXPECT_EQ(grams[2].size, 248u);
    EXPECT_EQ(grams[2].frames[0].ctr, 4);
}

TEST_F(XcpDaqTest, DisconnectFreesTheListsAndStopsTheirDtos) {
    EXPECT_EQ(startOneEntryList(4, 1), (Bytes{0xFF, 0}));
    xcpSendDAQ(1);
    expectOk({0xFE});
    xcpSendDAQ(1);
    xcpSendDAQ(1);
    std::this_thread::sleep_for(50ms);
    connect();
    expectOk({0xDD, 0});   // flushes whatever was packed
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(master->dtoCount(), 0u);   // the packed DTO went with the CONNECT's reset
    EXPECT_EQ(master->command(setPtr(0, 0, 0)), errorAnswer(0x22));
    expectOk(allocDaq(1));
}

TEST_F(XcpDaqTest, ShutdownStopsTheListsAndSendsWhatWasPacked) {
    EXPECT_EQ(startOneEntryList(4, 2), (Bytes{0xFF, 0}));
    xcpSendDAQ(2);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(master->dtoCount(), 0u);   // packed, waiting for more
    xcp_shutdown_now();
    XcpFrame ev;
    ASSERT_TRUE(master->nextCto(&ev, 1000));
    EXPECT_EQ(ev.packet[0], 0xFD);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(master->dtoCount(), 1u);
    xcpSendDAQ(2);
    std::this_thread::sleep_for(50ms);
    xcp_100ms();
    xcpSendDAQ(2);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(master->dtoCount(), 1u);
}

// The slave is stopped while a raster sends DTOs: its transport first (the
// raster goes on queueing and kicking the transmit task), then the whole
// slave. A sender either finishes before what it uses goes or finds it gone;
// nothing is freed under it (ASan, TSan).
TEST_F(XcpDaqTest, StopDuringDaqFreesNothingASenderUses) {
    constexpr int kRounds = 10;
    xcpHandle* c = &xcpConnections[0];
    for (int round = 0; round < kRounds; ++round) {
        if (round > 0) {
            ASSERT_EQ(xcpInitializeOn(INADDR_LOOPBACK), 0);
            master->takeDtos();
            connect();
        }
        ASSERT_EQ(startOneEntryList(4, 2), (Bytes{0xFF, 0}));
        std::atomic<bool> firing{true};
        std::thread raster([&firing] {
            while (firing) {
                xcpSendDAQ(2);
                xcp_100ms();
            }
        });
        for (int ms = 0; ms < 5000 && master->dtoCount() == 0; ++ms) std::this_thread::sleep_for(1ms);
        const bool sending = master->dtoCount() > 0;
        xcpEthStop(c);
        EXPECT_EQ(c->transport, nullptr);
        xcpTerminate();
        firing = false;
        raster.join();
        ASSERT_TRUE(sending) << "round " << round;
    }
}
