// Two devices in two network namespaces: presence, channels, a command bounce,
// lists of the other device's values online and offline, loss and return of
// the other device; the time master and its date, the date set by a tool
// through the diagnostic services, and a ping.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "platform/byteorder.h"
#include "two_devices.h"
#include "virari/DiraDir2/bc2_internal.h"
#include "xcp/xcp_test_master.h"
#include "measurement/calparams.h"

namespace {
using Clock = std::chrono::steady_clock;

// What the tests wait for comes in well under a second; the limit only ends
// a hang, generous for a loaded host or a sanitizer build.
constexpr int kHangMs = 30000;

template <class F>
bool waitUntil(F cond, int limitMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
    while (Clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return cond();
}

long msSince(Clock::time_point t) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

constexpr uint64_t kBitA = uint64_t(1) << TwoDevices::kPidA;
constexpr uint64_t kBitB = uint64_t(1) << TwoDevices::kPidB;

// What the remote device's last presence message says about its channels.
uint64_t remoteMask(unsigned field) {
    std::lock_guard<std::mutex> lk(bc2().mx);
    return be_get64(bc2().hosts[TwoDevices::kPidB].msg + field);
}

struct Values {
    std::mutex mx;
    std::vector<std::pair<uint32_t, uint32_t>> slots;   // time stamp, stim_tick
    std::atomic<int> started{0};
    std::atomic<unsigned> startErr{~0u};
    size_t size() {
        std::lock_guard<std::mutex> lk(mx);
        return slots.size();
    }
};

int onRead(unsigned long state, void* data, void* user) {
    if (state != 0 || !data) return 1;
    auto* v = static_cast<Values*>(user);
    const auto* p = static_cast<const uint8_t*>(data);
    std::lock_guard<std::mutex> lk(v->mx);
    v->slots.emplace_back(be_get32(p), be_get32(p + 4));
    return 1;
}

int onStart(unsigned long err, void*, void* user) {
    auto* v = static_cast<Values*>(user);
    v->startErr = unsigned(err);
    ++v->started;
    return 1;
}

// The other device's stimulus step counter, which rises by one every 1 ms.
uint32_t listOfB(gw_conn_t conn, Values* v, uint16_t raster, uint16_t mode) {
    const uint32_t desc[] = {uint32_t(GW_SIZE4), catalogue_addr("stim_tick"), 0, 0};
    return gw_setup_list(conn, desc, v, sizeof desc, raster, TwoDevices::kPidB, 0, mode, 0, 0, 0, 0);
}

bool startAndWait(uint32_t list, Values* v) {
    return gw_start_list(list) == 1 && waitUntil([&] { return v->started > 0; }, kHangMs) && v->startErr == GW_NO_ERROR;
}

struct Bounce {
    std::mutex mx;
    std::condition_variable cv;
    bool done = false;
    uint16_t cmd = 0;
    uint8_t payload[8] = {};
};

void onBounce(void* ctx, ci_msg_t* msg) {
    auto* b = static_cast<Bounce*>(ctx);
    std::lock_guard<std::mutex> lk(b->mx);
    b->cmd = ci_get_cmd(msg);
    std::memcpy(b->payload, msg->payload, sizeof b->payload);
    b->done = true;
    b->cv.notify_all();
}
}  // namespace

// Device B is a whole device process: under a sanitizer on a host busy with
// other tests its start-up alone can take many seconds. Only the wait for the
// end of its start-up is this long; what the devices do once B is up keeps
// limits of its own, near what it needs.
constexpr int kDeviceStartMs = 30000;
// From the end of B's start-up until A hears it, or until the channels are up.
constexpr int kHeardMs = kHangMs;

size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

class TwoDevicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        takeLogTexts();
        if (!net.up()) GTEST_SKIP() << "two-device test skipped: " << net.reason();
    }
    void TearDown() override { net.down(); }
    void drain() {
        for (auto& t : takeLogTexts()) log.push_back(std::move(t));
    }
    bool logBHas(const std::string& text) {
        return waitUntil([&] { return net.logB().find(text) != std::string::npos; }, kHangMs);
    }
    // Starts device B and waits for the end of its start-up (its log gets one
    // more "startup: done": a restart appends to the same log).
    ::testing::AssertionResult startBUp() {
        const size_t before = countOf(net.logB(), "startup: done");
        if (net.startB() &&
            waitUntil([&] { return countOf(net.logB(), "startup: done") > before; }, kDeviceStartMs))
            return ::testing::AssertionSuccess();
        const std::string logB = net.logB();
        return ::testing::AssertionFailure() << "device B's log ends:\n" << logB.substr(logB.size() - std::min<size_t>(logB.size(), 3000));
    }

    TwoDevices net;
    std::vector<std::string> log;
};

TEST_F(TwoDevicesTest, FindEachOtherConnectCarryDataAndRecover) {
    ASSERT_TRUE(startBUp()) << "device B did not start";
    // Presence both ways; the greater address (B) opens both channels.
    ASSERT_TRUE(waitUntil([] { return (udp_get_detect_mask() & kBitB) != 0; }, kHeardMs)) << "device B not heard";
    ASSERT_TRUE(waitUntil([] { return BC2_connected(TwoDevices::kPidB); }, kHangMs)) << "channels not up";
    EXPECT_TRUE(waitUntil([] { return (remoteMask(PM_CI_MASK) & kBitA) && (remoteMask(PM_DK_MASK) & kBitA) &&
                                      (remoteMask(PM_DETECT) & kBitA); },
                          kHangMs))
        << "the masks do not converge";
    drain();
    EXPECT_TRUE(logContains(log, "BC2_connect_passive, port 9862"));
    EXPECT_TRUE(logContains(log, "BC2_connect_passive, port 9863"));
    EXPECT_TRUE(logBHas("BC2_connect_active: connected"));
    EXPECT_EQ(BC2_getRemoteCapabilty(TwoDevices::kPidB, 2), 0);

    // A command bounced by device B comes back with its payload.
    Bounce b;
    ci_msg_t m;
    ci_init_msg(&m, CI_CMD_BOUNCE, TwoDevices::kPidB, 8);
    ci_set_magic(&m, ci_completion_register(onBounce, &b));
    for (int i = 0; i < 8; ++i) m.payload[i] = uint8_t(0xA0 + i);
    ASSERT_NE(comint_put_cmd(&m, 0), 0);
    {
        std::unique_lock<std::mutex> lk(b.mx);
        ASSERT_TRUE(b.cv.wait_for(lk, std::chrono::seconds(3), [&] { return b.done; })) << "no bounce";
        EXPECT_EQ(b.cmd, CI_CMD_BOUNCE_RETURN);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(b.payload[i], 0xA0 + i);
    }

    static const callback_list cb = {{{onRead, 0}, {nullptr, 0}, {onStart, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}}};
    gw_conn_t conn = gw_connect(&cb);
    ASSERT_NE(conn, nullptr);

    // Online: the newest values by UDP on the 10 ms raster.
    Values online;
    uint32_t list = listOfB(conn, &online, RASTER_10MS, 0);
    ASSERT_NE(list, 0u);
    ASSERT_TRUE(startAndWait(list, &online)) << "online list refused: " << online.startErr;
    ASSERT_TRUE(waitUntil([&] { return online.size() >= 20; }, kHangMs));
    gw_kill_list(list);
    {
        std::lock_guard<std::mutex> lk(online.mx);
        // newest values: never older, and moving on (a busy 1 ms raster on B
        // may leave one value in several 10 ms copies)
        for (size_t i = 1; i < online.slots.size(); ++i) EXPECT_GE(online.slots[i].second, online.slots[i - 1].second);
        EXPECT_GT(online.slots.back().second, online.slots.front().second);
    }
    bc2_channel* dk = bc2().hosts[TwoDevices::kPidB].dk;
    ASSERT_NE(dk, nullptr);
    EXPECT_GT(dk->cnt[CNT_RX_UDP].load(), 0) << "online data did not come by UDP";

    // Offline: every 1 ms slot in order over the data channel.
    constexpr size_t kSlots = 10000;
    Values offline;
    list = listOfB(conn, &offline, RASTER_1MS, DYNKOMM_MODE_QUEUE);
    ASSERT_NE(list, 0u);
    ASSERT_TRUE(startAndWait(list, &offline)) << "offline list refused: " << offline.startErr;
    ASSERT_TRUE(waitUntil([&] { return offline.size() >= kSlots; }, kHangMs)) << offline.size() << " slots only";
    gw_kill_list(list);
    gw_disconnect(conn);
    {
        std::lock_guard<std::mutex> lk(offline.mx);
        size_t gaps = 0;
        for (size_t i = 1; i < kSlots; ++i) {
            gaps += offline.slots[i].second != offline.slots[i - 1].second + 1;
            EXPECT_GE(int32_t(offline.slots[i].first - offline.slots[i - 1].first), 0);
        }
        EXPECT_EQ(gaps, 0u) << "offline slots lost or out of order";
    }
    EXPECT_EQ(meas_man_get_data_loss_cnt(), 0u);
    EXPECT_EQ(bc2().dkDropped.load(), 0u);

    // Device B ends: offline here within 1.4 s of its last presence message.
    net.killB();
    const auto killed = Clock::now();
    ASSERT_TRUE(waitUntil([] { return (udp_get_detect_mask() & kBitB) == 0; }, kHangMs));
    EXPECT_LE(msSince(killed), 1400 + 100);
    drain();
    EXPECT_TRUE(logContains(log, "Host PID 0x7 is Offline"));
    EXPECT_TRUE(waitUntil([] { return !BC2_connected(TwoDevices::kPidB); }, kHangMs));

    // Its restart counts as a reset, and the channels come back.
    ASSERT_TRUE(startBUp()) << "device B did not start again";
    ASSERT_TRUE(waitUntil([] { return (udp_get_detect_mask() & kBitB) != 0; }, kHeardMs))
        << "device B not heard again";
    ASSERT_TRUE(waitUntil([] { return BC2_connected(TwoDevices::kPidB); }, kHangMs)) << "no reconnect";
    drain();
    EXPECT_TRUE(logContains(log, "Diradir2: Reset detected on PID 0x7"));
}

namespace {
// An independent listener of the time export group in device B's namespace:
// writes the first datagram as hex and its sender into a file.
const char kExportListener[] = R"(
import os, socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("", 9830))
s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton("239.239.239.15") + socket.inet_aton("10.213.0.2"))
s.settimeout(60)   # a hang limit, beyond the test's own wait
d, a = s.recvfrom(64)
open(sys.argv[1] + ".tmp", "w").write(d.hex() + " " + a[0])
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
)";

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

Bytes userCmd(uint16_t service) { return {0xF1, 0x20, uint8_t(service), uint8_t(service >> 8)}; }

void setCal(size_t offset, uint8_t v) {
    *seramVirtToPtr(SERAM_REFPAGE_ADDR + seramActiveOffset.load() + uint32_t(offset)) = v;
}
}  // namespace

TEST_F(TwoDevicesTest, TimeMasterDateToolDateAndPing) {
    // Device A is the time master, its clock set to a date of its own.
    const date_t masterDate{2031, 5, 17, 10, 20, 30, 0};
    ASSERT_EQ(timeserv_init(1, true), 1);
    ASSERT_EQ(timeserv_setTime(&masterDate, RTC_Q_SET_BY_TOOL), 1);
    const std::string exportFile = net.root() + "/export.txt";
    ASSERT_TRUE(net.runInB({"python3", "-c", kExportListener, exportFile}));
    ASSERT_TRUE(startBUp()) << "device B did not start";
    ASSERT_TRUE(waitUntil([] { return BC2_connected(TwoDevices::kPidB); }, kHeardMs)) << "channels not up";

    // The export datagram: 1, three zero bytes, the next gap stamp on a
    // 100 ms boundary, the date without milliseconds; sent from A.
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(exportFile); }, kHangMs)) << "no export datagram";
    std::string got = readFile(exportFile);
    ASSERT_GE(got.size(), 41u) << got;
    EXPECT_EQ(got.substr(0, 8), "01000000");
    EXPECT_EQ(std::stoul(got.substr(8, 8), nullptr, 16) % 1000, 0u);
    EXPECT_EQ(got.substr(16, 8), "07ef0005");   // 2031, May
    EXPECT_EQ(got.substr(41), "10.213.0.1");

    // B's core locks on the gaps and B takes the master's date with its better qualifier.
    EXPECT_TRUE(waitUntil([&] { return net.logB().find("Sync on timemaster systemtime: 17.05.2031") != std::string::npos; },
                          kHangMs))
        << net.logB();

    // A tool sets the date through B's diagnostic services; every device takes it.
    XcpTestMaster tool(5555, ntohl(inet_addr("10.213.0.2")));
    ASSERT_EQ(tool.connect().size(), 8u);
    EXPECT_EQ(tool.command(userCmd(0x8003)), (Bytes{0xFF, 16, 0}));
    Bytes serial = tool.command(XcpTestMaster::upload(16));
    ASSERT_EQ(serial.size(), 17u);
    EXPECT_EQ(std::string(serial.begin() + 1, serial.begin() + 13), "HOST00000001");
    Bytes epkLen = tool.command(userCmd(0x8004));
    ASSERT_EQ(epkLen.size(), 3u);
    EXPECT_GT(epkLen[1], 0);
    EXPECT_EQ(tool.command(XcpTestMaster::upload(epkLen[1])).size(), size_t(epkLen[1]) + 1);

    const uint32_t secs = 1962162367;   // 06.03.2032 05:06:07
    EXPECT_EQ(tool.command(userCmd(0x808C)), (Bytes{0xFF, 4, 0}));
    EXPECT_EQ(tool.command(XcpTestMaster::download({uint8_t(secs >> 24), uint8_t(secs >> 16), uint8_t(secs >> 8),
                                                    uint8_t(secs)})),
              (Bytes{0xFF}));
    EXPECT_EQ(tool.command(userCmd(0x8020)), (Bytes{0xFF, 0, 0}));
    EXPECT_TRUE(waitUntil([] {
        date_t d{};
        return timeserv_readSystemTime(&d) && d.year == 2032 && d.month == 3 && d.day == 6;
    }, kHangMs)) << "device A did not take the date";
    EXPECT_EQ(tool.command(userCmd(0x808B)), (Bytes{0xFF, 4, 0}));
    Bytes rtc = tool.command(XcpTestMaster::upload(4));
    ASSERT_EQ(rtc.size(), 5u);
    const uint32_t rtcB = uint32_t(rtc[1]) << 24 | uint32_t(rtc[2]) << 16 | uint32_t(rtc[3]) << 8 | rtc[4];
    EXPECT_LE(rtcB - secs, 10u) << "device B's clock";

    // A pings B every 10 ms; the round-trip times arrive in its measurable values.
    // (parameters set before the raster takes the entry, which it then no longer calls)
    ASSERT_EQ(netdebug_publishSignals(), 1);
    setCal(offsetof(CalPage, VIRARI_DBG_PING_FREQ), 2);
    setCal(offsetof(CalPage, VIRARI_DBG_PING_PID), TwoDevices::kPidB);
    ASSERT_EQ(raster_addEntry(RB_10MS, "virari_dbg_10ms", [](intptr_t) { virari_dbg_10ms(); }, 0), 1);
    EXPECT_TRUE(waitUntil([] { return netdebug_pingStats().cnt >= 50 && netdebug_pingStats().max > 0; }, kHangMs));
    ASSERT_EQ(raster_addEntry(RB_10MS, "virari_dbg_10ms", [](intptr_t) {}, 0), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));   // late answers are in
    netdebug_pingStats();
    double cnt = 0, max = 0;
    ASSERT_TRUE(catalogue_read(catalogue_find("virari_dbg_ping_cnt"), &cnt));
    ASSERT_TRUE(catalogue_read(catalogue_find("virari_dbg_ping_max"), &max));
    EXPECT_GE(cnt, 50);
    EXPECT_GT(max, 0);
    EXPECT_LT(max, 10000) << "round trips under a second";
}
