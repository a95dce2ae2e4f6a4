// Gateway: local lists fed from the stimulus, start/stop/time-out callbacks,
// refused set-ups, remote requests and lists served to another device.
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "measurement/calparams.h"
#include "measurement/signalpage.h"
#include "measurement/stimulus.h"
#include "meas_fixture.h"

namespace {
struct Event {
    unsigned idx;
    unsigned long status;
    std::vector<uint8_t> slot;   // read: the slot bytes
    uintptr_t word;              // start: the word; time-out: the PID
    std::thread::id thread;
};

struct Recorder {
    std::mutex mx;
    std::vector<Event> ev;
    unsigned slotLen = 0;
    uint32_t killOnRead = 0;   // list to kill from inside the read callback
    std::vector<Event> of(unsigned idx) {
        std::lock_guard<std::mutex> lk(mx);
        std::vector<Event> r;
        for (auto& e : ev)
            if (e.idx == idx) r.push_back(e);
        return r;
    }
};

template <unsigned Idx>
int record(unsigned long status, void* data, void* user) {
    auto* r = static_cast<Recorder*>(user);
    Event e{Idx, status, {}, 0, std::this_thread::get_id()};
    if (Idx == GW_CB_READ && data) {
        auto* p = static_cast<uint8_t*>(data);
        e.slot.assign(p, p + r->slotLen);
    } else if (Idx == GW_CB_START) {
        e.word = reinterpret_cast<uintptr_t>(data);
    } else if (Idx == GW_CB_TIMEOUT && data) {
        e.word = *static_cast<uint16_t*>(data);
    }
    uint32_t kill = 0;
    {
        std::lock_guard<std::mutex> lk(r->mx);
        r->ev.push_back(e);
        if (Idx == GW_CB_READ) std::swap(kill, r->killOnRead);
    }
    if (kill) gw_kill_list(kill);
    return 1;
}

const callback_list kCallbacks = {{{record<GW_CB_READ>, 100},
                                   {record<GW_CB_STOP>, 100},
                                   {record<GW_CB_START>, 123},
                                   {nullptr, 0},
                                   {record<GW_CB_TIMEOUT>, 0},
                                   {nullptr, 0}}};

uint32_t addr(const char* name) {
    measaddr_t a = catalogue_addr(name);
    EXPECT_NE(a, 0u) << name;
    return a;
}

// One raster tick: producer then delivery, as the raster task runs them.
void tick(unsigned raster, uint32_t ts, bool produce = true) {
    if (produce) meas_man_copy_raster(raster, ts);
    gw_distribute(raster);
}

// PID 9 asks for a list of meas_cnt_ecu on raster 6, queued, under `magic`.
ci_msg_t servedListRequest(uint32_t magic) {
    ci_msg_t req;
    ci_init_msg(&req, CI_CMD_MEASLIST_ADDR, kOwnPid, 12 + 16);
    ci_set_src(&req, 9);
    ci_set_magic(&req, magic);
    be_put16(req.payload + 0, 1);
    be_put16(req.payload + 2, 6);
    be_put16(req.payload + 4, 8);
    be_put16(req.payload + 6, DYNKOMM_MODE_QUEUE);
    be_put16(req.payload + 8, 4);
    const uint32_t words[4] = {uint32_t(GW_SIZE4), addr("meas_cnt_ecu"), 0, 0};
    for (int i = 0; i < 4; ++i) be_put32(req.payload + 12 + 4 * i, words[i]);
    return req;
}
}  // namespace

class GatewayTest : public MeasTest {
protected:
    void SetUp() override {
        MeasTest::SetUp();
        conn_ = gw_connect(&kCallbacks);
        ASSERT_NE(conn_, nullptr);
    }
    void TearDown() override {
        gw_disconnect(conn_);
        stimulus_clear();
        MeasTest::TearDown();
    }
    std::vector<uint32_t> mixedList() {
        return {uint32_t(GW_SIZE4), addr("n_engine"), addr("t_water"), 0,
                uint32_t(GW_SIZE2), addr("PCODE"), 0,
                uint32_t(GW_SIZE1), addr("gear"), addr("display_page"), 0, 0};
    }
    gw_conn_t conn_ = nullptr;
    Recorder rec_;
};

TEST_F(GatewayTest, MixedListDeliversBigEndianStimulusValuesOnTheRasterTask) {
    ASSERT_EQ(stimulus_load("n_engine ramp 1000 9000 100\n"
                            "t_water sine 90 5 1000\n"
                            "gear steps 1 6 60\n"),
              3);
    signalPage()->display_page = 3;
    auto list = mixedList();
    rec_.slotLen = gw_list_slot_size(list.data(), uint16_t(list.size() * 4));
    ASSERT_EQ(rec_.slotLen, 4u + 8 + 2 + 2);
    uint32_t h = gw_setup_list(conn_, list.data(), &rec_, uint16_t(list.size() * 4), 3, 0, 0, 0, 1, 4,
                               uint16_t(rec_.slotLen), 5);
    ASSERT_NE(h, 0u);
    ASSERT_EQ(gw_start_list(h), 1);

    std::vector<float> engine, water;
    std::vector<int8_t> gears;
    std::thread raster([&] {
        for (uint32_t t = 1; t <= 6; ++t) {
            stimulus_step(t * 10);
            engine.push_back(signalPage()->n_engine);
            water.push_back(signalPage()->t_water);
            gears.push_back(signalPage()->gear);
            tick(3, 5000 + t * 100);
        }
    });
    std::thread::id rasterId = raster.get_id();
    raster.join();

    auto starts = rec_.of(GW_CB_START);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].status, GW_NO_ERROR);
    EXPECT_EQ(starts[0].word, 123u);
    auto reads = rec_.of(GW_CB_READ);
    ASSERT_EQ(reads.size(), 6u);
    uint32_t lastTs = 0;
    for (size_t i = 0; i < reads.size(); ++i) {
        const auto& s = reads[i].slot;
        EXPECT_EQ(reads[i].status, 0u);
        EXPECT_EQ(reads[i].thread, rasterId);
        uint32_t ts = be_get32(&s[0]);
        EXPECT_GT(ts, lastTs);
        lastTs = ts;
        EXPECT_EQ(be_getf(&s[4]), engine[i]);
        EXPECT_EQ(be_getf(&s[8]), water[i]);
        EXPECT_EQ(be_get16(&s[12]), PCODE());
        EXPECT_EQ(int8_t(s[14]), gears[i]);
        EXPECT_EQ(s[15], 3);
    }
    EXPECT_NE(engine.front(), engine.back());   // values really changed
    uint16_t cnt[19];
    ASSERT_EQ(gw_debugoutPID(0, cnt), 1);
    EXPECT_EQ(cnt[4], 6);   // data online
    EXPECT_EQ(cnt[9], 5);   // list entries

    EXPECT_EQ(gw_kill_list(h), 1);
    ASSERT_EQ(rec_.of(GW_CB_STOP).size(), 1u);
    EXPECT_EQ(gw_kill_list(h), 0);   // already gone
    tick(3, 9999);
    EXPECT_EQ(rec_.of(GW_CB_READ).size(), 6u);
}

TEST_F(GatewayTest, NoDataGivesStateSixAfterTimeoutAndZeroWhenValuesReturn) {
    auto list = mixedList();
    rec_.slotLen = 16;
    uint32_t h = gw_setup_list(conn_, list.data(), &rec_, uint16_t(list.size() * 4), 3, kOwnPid, 1, 0, 1, 4, 0, 3);
    ASSERT_NE(h, 0u);
    ASSERT_EQ(gw_start_list(h), 1);
    tick(3, 100);
    tick(3, 200, false);
    tick(3, 300, false);
    EXPECT_TRUE(rec_.of(GW_CB_TIMEOUT).empty());
    tick(3, 400, false);   // third period without data
    auto tout = rec_.of(GW_CB_TIMEOUT);
    ASSERT_EQ(tout.size(), 1u);
    EXPECT_EQ(tout[0].status, GW_NO_DATA);
    EXPECT_EQ(tout[0].word, kOwnPid);
    auto reads = rec_.of(GW_CB_READ);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[1].status, GW_NO_DATA);
    EXPECT_TRUE(reads[1].slot.empty());
    tick(3, 500, false);
    EXPECT_EQ(rec_.of(GW_CB_TIMEOUT).size(), 1u);   // reported once
    tick(3, 600);
    tout = rec_.of(GW_CB_TIMEOUT);
    ASSERT_EQ(tout.size(), 2u);
    EXPECT_EQ(tout[1].status, 0u);
    reads = rec_.of(GW_CB_READ);
    EXPECT_EQ(reads.back().status, 0u);
    EXPECT_EQ(be_get32(&reads.back().slot[0]), 600u);
}

TEST_F(GatewayTest, PausedListNeitherDeliversNorTimesOut) {
    auto list = mixedList();
    rec_.slotLen = 16;
    uint32_t h = gw_setup_list(conn_, list.data(), &rec_, uint16_t(list.size() * 4), 3, 0, 1, 0, 1, 4, 0, 1);
    ASSERT_EQ(gw_start_list(h), 1);
    EXPECT_EQ(gw_list_speed(conn_, h, 0), 1);
    for (int i = 0; i < 4; ++i) tick(3, 100 + i);
    EXPECT_TRUE(rec_.of(GW_CB_READ).empty());
    EXPECT_TRUE(rec_.of(GW_CB_TIMEOUT).empty());
    EXPECT_EQ(gw_list_speed(conn_, h, 1), 1);
    tick(3, 200);
    EXPECT_EQ(rec_.of(GW_CB_READ).size(), 1u);
    EXPECT_EQ(gw_list_speed(conn_, h + 1, 1), 0);
    EXPECT_EQ(gw_list_speed(nullptr, h, 1), 0);
}

// A raster task that runs late on a busy host does its runs with the stamps
// they were due at: those due before the list started, or before its pause
// ended, have no values of it. A block would otherwise begin before its
// start while the others begin with it.
TEST_F(GatewayTest, RunsDueBeforeTheStartOrTheEndOfAPauseCopyNothing) {
    auto list = mixedList();
    rec_.slotLen = 16;
    uint32_t h = gw_setup_list(conn_, list.data(), &rec_, uint16_t(list.size() * 4), 3, 0, 1, 0, 1, 4, 0, 1);
    const uint32_t started = host::timeStamp();
    ASSERT_EQ(gw_start_list(h), 1);
    tick(3, started - 3000);   // due 300 ms before the start, run late
    EXPECT_EQ(rec_.of(GW_CB_START).size(), 1u);
    EXPECT_TRUE(rec_.of(GW_CB_READ).empty());
    tick(3, started + 100);
    tick(3, started + 200);
    auto reads = rec_.of(GW_CB_READ);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(be_get32(&reads[0].slot[0]), started + 100);

    ASSERT_EQ(gw_list_speed(conn_, h, 0), 1);
    tick(3, started + 300);
    const uint32_t resumed = host::timeStamp();
    ASSERT_EQ(gw_list_speed(conn_, h, 1), 1);
    tick(3, resumed - 2000);   // due in the pause
    EXPECT_EQ(rec_.of(GW_CB_READ).size(), 2u);
    tick(3, resumed + 100);
    reads = rec_.of(GW_CB_READ);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(be_get32(&reads[2].slot[0]), resumed + 100);
    // once it measures, a stamp gone back (the clock stepped) is delivered
    // as it is: the FIFOs behind name what they refuse
    tick(3, resumed - 2000);
    EXPECT_EQ(rec_.of(GW_CB_READ).size(), 4u);

    // the clock goes back 5 s between a resume and the first run: that run,
    // due before the resume but on time, is no late one and is taken
    ASSERT_EQ(gw_list_speed(conn_, h, 0), 1);
    ASSERT_EQ(gw_list_speed(conn_, h, 1), 1);
    host::setTimeStampOffset(-50000);
    tick(3, host::timeStamp());
    host::setTimeStampOffset(0);
    EXPECT_EQ(rec_.of(GW_CB_READ).size(), 5u);
}

TEST_F(GatewayTest, RefusedSetupsAndUnknownAddresses) {
    const uint32_t a = addr("n_engine");
    std::vector<std::vector<uint32_t>> bad = {
        {uint32_t(GW_SIZE4), a, 0},                    // not closed by the final 0
        {uint32_t(GW_SIZE4), a},                       // group not closed
        {uint32_t(-3), a, 0, 0},                       // no such element size
        {0, 0},                                        // no values
    };
    for (auto& l : bad)
        EXPECT_EQ(gw_setup_list(conn_, l.data(), &rec_, uint16_t(l.size() * 4), 3, 0, 0, 0, 1, 4, 0, 5), 0u);
    std::vector<uint32_t> ok = {uint32_t(GW_SIZE4), a, 0, 0};
    EXPECT_EQ(gw_setup_list(conn_, ok.data(), &rec_, 15, 3, 0, 0, 0, 1, 4, 0, 5), 0u);        // odd length
    EXPECT_EQ(gw_setup_list(conn_, ok.data(), &rec_, 16, 20, 0, 0, 0, 1, 4, 0, 5), 0u);       // raster
    EXPECT_EQ(gw_setup_list(conn_, ok.data(), &rec_, 16, 3, 64, 0, 0, 1, 4, 0, 5), 0u);       // PID
    EXPECT_EQ(gw_setup_list(conn_, ok.data(), &rec_, 16, 3, 0, 0, 0, 1, 4, 7, 5), 0u);        // slot too short
    EXPECT_EQ(gw_setup_list(nullptr, ok.data(), &rec_, 16, 3, 0, 0, 0, 1, 4, 0, 5), 0u);
    EXPECT_EQ(gw_setup_list(conn_, nullptr, &rec_, 16, 3, 0, 0, 0, 1, 4, 0, 5), 0u);
    EXPECT_EQ(gw_connect(nullptr), nullptr);

    std::vector<uint32_t> unknown = {uint32_t(GW_SIZE4), MEASADDR_CALMEM_LIMIT + 8, 0, 0};
    uint32_t h = gw_setup_list(conn_, unknown.data(), &rec_, 16, 3, 0, 0, 0, 1, 4, 0, 5);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(gw_start_list(h), 0);
    tick(3, 1);
    auto starts = rec_.of(GW_CB_START);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].status, GW_ADDRESS);
    EXPECT_TRUE(rec_.of(GW_CB_READ).empty());
}

TEST_F(GatewayTest, SlotLengthAboveTheValuesIsWholeSlot) {
    // A consumer that rounds its record up reads the whole length it asked for.
    std::vector<uint32_t> one = {uint32_t(GW_SIZE1), addr("gear"), 0, 0};
    rec_.slotLen = 12;
    uint32_t h = gw_setup_list(conn_, one.data(), &rec_, 16, 3, 0, 1, 3, 0, 8, 12, 5);
    ASSERT_NE(h, 0u);
    ASSERT_EQ(gw_start_list(h), 1);
    dynkomm_fifo_t* f = nullptr;
    ASSERT_EQ(dynkomm_get_fifo(h, &f), 1);
    EXPECT_EQ(f->slotsize, 12u);
    for (uint32_t t = 1; t <= 8; ++t) tick(3, t);   // fill every slot, the last one too
    EXPECT_EQ(rec_.of(GW_CB_READ).size(), 8u);
    uint16_t cnt[19];
    ASSERT_EQ(gw_debugoutPID(0, cnt), 1);
    EXPECT_EQ(cnt[4], 0);    // data online
    EXPECT_EQ(cnt[5], 8);    // data offline: a queue list
    EXPECT_EQ(cnt[16], 1);   // offline entries
}

TEST_F(GatewayTest, KillFromOwnReadCallbackAndKillAllCallsStopBeforeReturn) {
    auto list = mixedList();
    rec_.slotLen = 16;
    uint32_t h1 = gw_setup_list(conn_, list.data(), &rec_, uint16_t(list.size() * 4), 3, 0, 0, 0, 1, 4, 0, 5);
    uint32_t h2 = gw_setup_list(conn_, list.data(), &rec_, uint16_t(list.size() * 4), 3, 0, 0, 0, 1, 4, 0, 5);
    uint32_t h3 = gw_setup_list(conn_, list.data(), &rec_, uint16_t(list.size() * 4), 5, 0, 0, 0, 1, 4, 0, 5);
    ASSERT_EQ(gw_start_all(conn_), 1);
    rec_.killOnRead = h1;
    tick(3, 10);
    EXPECT_EQ(rec_.of(GW_CB_STOP).size(), 1u);
    size_t reads = rec_.of(GW_CB_READ).size();
    tick(3, 20);
    EXPECT_EQ(rec_.of(GW_CB_READ).size(), reads + 1);   // only h2 still delivers
    EXPECT_EQ(gw_kill_all_lists(conn_), 1);
    EXPECT_EQ(rec_.of(GW_CB_STOP).size(), 3u);
    EXPECT_EQ(gw_kill_list(h2) + gw_kill_list(h3), 0);
    EXPECT_EQ(gw_kill_all_lists(nullptr), 0);
}

TEST_F(GatewayTest, KillWaitsForDeliveryRunningOnAnotherTask) {
    auto list = mixedList();
    rec_.slotLen = 16;
    uint32_t h = gw_setup_list(conn_, list.data(), &rec_, uint16_t(list.size() * 4), 3, 0, 0, 0, 1, 4, 0, 5);
    ASSERT_EQ(gw_start_list(h), 1);
    std::atomic<bool> stop{false};
    std::thread raster([&] {
        uint32_t ts = 1;
        while (!stop) tick(3, ts++);
    });
    while (rec_.of(GW_CB_READ).size() < 3) std::this_thread::yield();
    ASSERT_EQ(gw_kill_list(h), 1);
    size_t after = rec_.of(GW_CB_READ).size();
    auto stops = rec_.of(GW_CB_STOP);
    stop = true;
    raster.join();
    EXPECT_EQ(stops.size(), 1u);
    EXPECT_EQ(rec_.of(GW_CB_READ).size(), after);   // nothing after the stop callback
}

TEST_F(GatewayTest, FullQueueCountsDataLoss) {
    auto list = mixedList();
    rec_.slotLen = 16;
    uint32_t h = gw_setup_list(conn_, list.data(), &rec_, uint16_t(list.size() * 4), 3, 0, 0, DYNKOMM_MODE_QUEUE,
                               1, 4, 0, 0);
    ASSERT_EQ(gw_start_list(h), 1);
    uint32_t before = meas_man_get_data_loss_cnt();
    for (uint32_t t = 1; t <= 6; ++t) meas_man_copy_raster(3, t);   // nobody delivers
    EXPECT_EQ(meas_man_get_data_loss_cnt(), before + 2);
    gw_distribute(3);
    auto reads = rec_.of(GW_CB_READ);
    ASSERT_EQ(reads.size(), 4u);   // the queue keeps the oldest four, in order
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(be_get32(&reads[i].slot[0]), i + 1);
}

// ---- other devices --------------------------------------------------------------
namespace {
std::vector<ci_msg_t> gSent;
int captureEth(const ci_msg_t* m) {
    gSent.push_back(*m);
    return 1;
}
const comint_transport kCapture = {captureEth, nullptr};
}  // namespace

TEST_F(GatewayTest, RemoteListWithoutRouteIsOfflineAndWithRouteRequests0x500) {
    std::vector<uint32_t> list = {uint32_t(GW_SIZE4), 0x07040000u, 0, 0};
    rec_.slotLen = 8;
    uint32_t h = gw_setup_list(conn_, list.data(), &rec_, 16, 3, 7, 0, 0, 1, 4, 0, 5);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(gw_start_list(h), 0);
    tick(3, 1);
    ASSERT_EQ(rec_.of(GW_CB_START).size(), 1u);
    EXPECT_EQ(rec_.of(GW_CB_START)[0].status, GW_OFFLINE);
    EXPECT_EQ(gw_pid_offline(7), 1);
    EXPECT_EQ(gw_pid_offline(64), 1);
    EXPECT_EQ(gw_pid_offline(8), 0);
    gw_kill_list(h);

    gSent.clear();
    comint_set_transport(&kCapture);
    routing_entry_t r{ROUTING_DIRADIR2, 0x7F000002};
    ASSERT_EQ(routing_set_table_entries(&r, 7, 7), 1);
    h = gw_setup_list(conn_, list.data(), &rec_, 16, 3, 7, 0, 0, 1, 4, 0, 5);
    ASSERT_EQ(gw_start_list(h), 1);
    ASSERT_EQ(gSent.size(), 1u);
    ci_msg_t req = gSent[0];
    EXPECT_EQ(ci_get_cmd(&req), CI_CMD_MEASLIST_ADDR);
    EXPECT_EQ(ci_get_dst(&req), 7);
    EXPECT_EQ(ci_get_src(&req), kOwnPid);
    EXPECT_EQ(ci_get_magic(&req), h);
    EXPECT_EQ(be_get32(req.payload + 12 + 4), 0x07040000u);

    // the owner's reply, then a slot arriving through the network into the sink FIFO
    ci_msg_t rep;
    ci_init_msg(&rep, CI_CMD_MEASLIST_REPLY, kOwnPid, 4);
    ci_set_src(&rep, 7);
    ci_set_magic(&rep, h);
    be_put16(rep.payload, 0);
    be_put16(rep.payload + 2, 1);
    EXPECT_EQ(ci_serve_command(&rep), 1);
    dynkomm_fifo_t* sink = nullptr;
    ASSERT_EQ(dynkomm_get_fifo(h, &sink), 1);
    uint8_t* s = dynkomm_write(sink);
    ASSERT_NE(s, nullptr);
    be_put32(s, 4242);
    be_put32(s + 4, 0xCAFEBABE);
    dynkomm_writedone(sink);
    tick(3, 0, false);
    EXPECT_EQ(rec_.of(GW_CB_START).back().status, GW_NO_ERROR);
    auto reads = rec_.of(GW_CB_READ);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(be_get32(&reads[0].slot[4]), 0xCAFEBABEu);
    EXPECT_EQ(gw_pid_offline(7), 0);
    uint32_t last = 0;
    EXPECT_TRUE(gw_pid_last_stamp(7, &last));   // its last value: where its open events end should it go
    EXPECT_EQ(last, 4242u);
    // its newest value is its last, whichever list brings an older one after
    // it; one of a new time, far behind, replaces it
    for (uint32_t ts : {4292u, 4100u}) {
        s = dynkomm_write(sink);
        ASSERT_NE(s, nullptr);
        be_put32(s, ts);
        dynkomm_writedone(sink);
        tick(3, 0, false);
    }
    EXPECT_TRUE(gw_pid_last_stamp(7, &last));
    EXPECT_EQ(last, 4292u);
    s = dynkomm_write(sink);
    ASSERT_NE(s, nullptr);
    be_put32(s, 4292u - 60000u);
    dynkomm_writedone(sink);
    tick(3, 0, false);
    EXPECT_TRUE(gw_pid_last_stamp(7, &last));
    EXPECT_EQ(last, 4292u - 60000u);
    gSent.clear();
    gw_kill_list(h);
    ASSERT_EQ(gSent.size(), 1u);   // stop request
    EXPECT_EQ(be_get16(gSent[0].payload), 2);
    comint_set_transport(nullptr);
}

TEST_F(GatewayTest, ServesListRequestedByAnotherDevice) {
    gSent.clear();
    comint_set_transport(&kCapture);
    routing_entry_t r{ROUTING_DIRADIR2, 0x7F000009};
    ASSERT_EQ(routing_set_table_entries(&r, 9, 9), 1);
    signalPage()->meas_cnt_ecu = 0x01020304;
    ci_msg_t req = servedListRequest(0x55000001);
    ASSERT_EQ(ci_serve_command(&req), 1);
    ASSERT_EQ(gSent.size(), 1u);
    EXPECT_EQ(ci_get_cmd(&gSent[0]), CI_CMD_MEASLIST_REPLY);
    EXPECT_EQ(ci_get_dst(&gSent[0]), 9);
    EXPECT_EQ(be_get16(gSent[0].payload), GW_NO_ERROR);
    dynkomm_fifo_t* src = nullptr;
    ASSERT_EQ(dynkomm_get_fifo(ci_get_listid(&gSent[0]), &src), 1);
    EXPECT_EQ(src->dest_magic, 0x55000001u);
    EXPECT_EQ(src->dst_pid, 9);
    meas_man_copy_raster(6, 777);
    uint8_t* s = dynkomm_read(src);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(be_get32(s), 777u);
    EXPECT_EQ(be_get32(s + 4), 0x01020304u);
    dynkomm_readdone(src);

    // asked again for the list it serves (the asking device heard nothing of
    // it for a while: this one was put aside): it goes on serving it, and
    // what waits to be sent stays
    meas_man_copy_raster(6, 778);
    const uint32_t served = ci_get_listid(&gSent[0]);
    gSent.clear();
    ASSERT_EQ(ci_serve_command(&req), 1);
    ASSERT_EQ(gSent.size(), 1u);
    EXPECT_EQ(be_get16(gSent[0].payload), GW_NO_ERROR);
    EXPECT_EQ(ci_get_listid(&gSent[0]), served);
    s = dynkomm_read(src);
    ASSERT_NE(s, nullptr) << "a record waiting to be sent was dropped";
    EXPECT_EQ(be_get32(s), 778u);
    dynkomm_readdone(src);

    // a short request and a broken description are answered, not crashed on
    ci_set_len(&req, 6);
    EXPECT_EQ(ci_serve_command(&req), 0);
    ci_set_len(&req, 12 + 16);
    be_put16(req.payload + 8, 100);   // more words than the payload holds
    gSent.clear();
    EXPECT_EQ(ci_serve_command(&req), 1);
    ASSERT_EQ(gSent.size(), 1u);
    EXPECT_EQ(be_get16(gSent[0].payload), GW_MEASLIST);
    comint_set_transport(nullptr);
}

// The device's own list and the list it serves another device read the value
// of one stamp once: a task writing it meanwhile cannot split the two.
TEST_F(GatewayTest, OwnListAndServedListSeeOneValuePerStamp) {
    gSent.clear();
    comint_set_transport(&kCapture);
    routing_entry_t r{ROUTING_DIRADIR2, 0x7F000009};
    ASSERT_EQ(routing_set_table_entries(&r, 9, 9), 1);
    ci_msg_t req = servedListRequest(0x55000002);
    ASSERT_EQ(ci_serve_command(&req), 1);
    ASSERT_EQ(gSent.size(), 1u);
    dynkomm_fifo_t* served = nullptr;
    ASSERT_EQ(dynkomm_get_fifo(ci_get_listid(&gSent[0]), &served), 1);

    rec_.slotLen = 8;
    uint32_t words[4] = {uint32_t(GW_SIZE4), addr("meas_cnt_ecu"), 0, 0};
    uint32_t h = gw_setup_list(conn_, words, &rec_, sizeof words, 6, 0, 0, 0, 1, 4, 8, 5);
    ASSERT_NE(h, 0u);
    ASSERT_EQ(gw_start_list(h), 1);

    // the value steps as fast as it can while the raster copies
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (uint32_t v = 1; !stop.load(std::memory_order_relaxed); ++v)
            __atomic_store_n(&signalPage()->meas_cnt_ecu, v, __ATOMIC_RELAXED);
    });
    std::vector<uint32_t> servedValues;
    constexpr uint32_t kStamps = 3000;
    // (a busy host may hold the writer back: half way the value has stepped)
    auto value = [] { return __atomic_load_n(&signalPage()->meas_cnt_ecu, __ATOMIC_RELAXED); };
    while (value() == 0) std::this_thread::yield();
    for (uint32_t t = 1; t <= kStamps; ++t) {
        if (t == kStamps / 2 && !servedValues.empty())
            while (value() == servedValues.front()) std::this_thread::yield();
        tick(6, t);
        uint8_t* s = dynkomm_read(served);
        if (!s) continue;
        EXPECT_EQ(be_get32(s), t);
        servedValues.push_back(be_get32(s + 4));
        dynkomm_readdone(served);
    }
    stop = true;
    writer.join();

    auto reads = rec_.of(GW_CB_READ);
    ASSERT_EQ(reads.size(), kStamps);
    ASSERT_EQ(servedValues.size(), kStamps);
    unsigned differ = 0;
    for (uint32_t i = 0; i < kStamps; ++i) {
        ASSERT_EQ(be_get32(&reads[i].slot[0]), i + 1);
        if (be_get32(&reads[i].slot[4]) != servedValues[i]) ++differ;
    }
    EXPECT_EQ(differ, 0u) << "stamps where the served value is not the device's own";
    EXPECT_NE(servedValues.front(), servedValues.back());   // the value did step
    gw_kill_list(h);
    comint_set_transport(nullptr);
}

namespace {
// The device network as the gateway asks it: PID 7 is there or not.
std::atomic<bool> gPeerUp{false};
const gw_network kNet = {[](unsigned pid) { return pid == 7 && gPeerUp.load(); }, nullptr};

// The owner's reply to the start request of list h: started, or refused
// with `status`.
void replyToStart(uint32_t h, uint16_t status = 0) {
    ci_msg_t rep;
    ci_init_msg(&rep, CI_CMD_MEASLIST_REPLY, kOwnPid, 4);
    ci_set_src(&rep, 7);
    ci_set_magic(&rep, h);
    be_put16(rep.payload, status);
    be_put16(rep.payload + 2, 1);
    ci_serve_command(&rep);
}

size_t startRequests(uint32_t h) {
    size_t n = 0;
    for (auto& m : gSent) n += ci_get_magic(&m) == h && ci_get_cmd(&m) == CI_CMD_MEASLIST_ADDR && be_get16(m.payload) == 1;
    return n;
}
}  // namespace

TEST_F(GatewayTest, ARemoteListIsAskedForAgainOnceItsDeviceIsThereAndAfterItComesBack) {
    gSent.clear();
    comint_set_transport(&kCapture);
    routing_entry_t r{ROUTING_DIRADIR2, 0x7F000002};
    ASSERT_EQ(routing_set_table_entries(&r, 7, 7), 1);
    gPeerUp = false;
    gw_set_network(&kNet);
    std::vector<uint32_t> list = {uint32_t(GW_SIZE4), 0x07040000u, 0, 0};
    rec_.slotLen = 8;
    uint32_t h = gw_setup_list(conn_, list.data(), &rec_, 16, 3, 7, 0, 0, 1, 4, 0, 5);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(gw_start_list(h), 0);
    // the device is not there: nothing is sent, the consumer hears it once
    for (int i = 0; i < 300; ++i) tick(3, 0, false);
    EXPECT_EQ(startRequests(h), 0u);
    ASSERT_EQ(rec_.of(GW_CB_START).size(), 1u);
    EXPECT_EQ(rec_.of(GW_CB_START)[0].status, GW_OFFLINE);

    // it connects: the list is asked for within a second
    gPeerUp = true;
    int ticks = 0;
    while (startRequests(h) == 0 && ticks < 150) {
        tick(3, 0, false);
        ++ticks;
    }
    ASSERT_EQ(startRequests(h), 1u);
    EXPECT_LE(ticks, 101);
    replyToStart(h);
    tick(3, 0, false);
    ASSERT_EQ(rec_.of(GW_CB_START).size(), 2u);
    EXPECT_EQ(rec_.of(GW_CB_START)[1].status, GW_NO_ERROR);
    EXPECT_EQ(gw_pid_offline(7), 0);

    // it goes away and comes back (a restart forgets the lists it served)
    gPeerUp = false;
    for (int i = 0; i < 150; ++i) tick(3, 0, false);
    gPeerUp = true;
    for (int i = 0; i < 150 && startRequests(h) < 2; ++i) tick(3, 0, false);
    ASSERT_EQ(startRequests(h), 2u);
    replyToStart(h);

    // running, but the device sends nothing: asked again at most once a second
    gSent.clear();
    for (int i = 0; i < 500; ++i) tick(3, 0, false);   // 5 s
    EXPECT_GE(startRequests(h), 2u);
    EXPECT_LE(startRequests(h), 5u);

    // the device was put aside for a while: its values come again before it
    // has answered the request, and are delivered, none left to fill the FIFO
    dynkomm_fifo_t* sink = nullptr;
    ASSERT_EQ(dynkomm_get_fifo(h, &sink), 1);
    const auto valueReads = [&] {
        size_t n = 0;
        for (auto& e : rec_.of(GW_CB_READ)) n += !e.slot.empty();
        return n;
    };
    const size_t before = valueReads();
    for (uint32_t k = 0; k < 600; ++k) {   // more than the sink holds, a tick apart
        uint8_t* slot = dynkomm_write(sink);
        ASSERT_NE(slot, nullptr) << k << ": the sink is full";
        be_put32(slot, 5000 + 10 * k);
        be_put32(slot + 4, k);
        dynkomm_writedone(sink);
        tick(3, 0, false);
    }
    EXPECT_EQ(valueReads() - before, 600u);
    replyToStart(h);   // its answer changes nothing; a refusal ends the list
    replyToStart(h, GW_DENIED);
    tick(3, 0, false);
    ASSERT_FALSE(rec_.of(GW_CB_START).empty());
    EXPECT_EQ(rec_.of(GW_CB_START).back().status, GW_DENIED);
    gw_kill_list(h);
    gw_set_network(nullptr);
    comint_set_transport(nullptr);
}

TEST_F(GatewayTest, AListRefusedByItsDeviceIsNotAskedForAgain) {
    gSent.clear();
    comint_set_transport(&kCapture);
    routing_entry_t r{ROUTING_DIRADIR2, 0x7F000002};
    ASSERT_EQ(routing_set_table_entries(&r, 7, 7), 1);
    gPeerUp = true;
    gw_set_network(&kNet);
    std::vector<uint32_t> list = {uint32_t(GW_SIZE4), 0x07040000u, 0, 0};
    uint32_t h = gw_setup_list(conn_, list.data(), &rec_, 16, 3, 7, 0, 0, 1, 4, 0, 5);
    ASSERT_EQ(gw_start_list(h), 1);
    replyToStart(h, GW_ADDRESS);
    for (int i = 0; i < 300; ++i) tick(3, 0, false);
    EXPECT_EQ(startRequests(h), 1u);
    ASSERT_EQ(rec_.of(GW_CB_START).size(), 1u);
    EXPECT_EQ(rec_.of(GW_CB_START)[0].status, GW_ADDRESS);
    gw_kill_list(h);
    gw_set_network(nullptr);
    comint_set_transport(nullptr);
}

// A stop request goes only to a device that may hold the list: a list its
// device never took (not there, refused) or a device no longer connected
// gets none, so a shutdown with absent devices reports no routing errors.
TEST_F(GatewayTest, StopGoesOnlyToADeviceThatMayHoldTheList) {
    std::vector<uint32_t> list = {uint32_t(GW_SIZE4), 0x07040000u, 0, 0};
    gSent.clear();
    comint_set_transport(&kCapture);

    routing_entry_t r{ROUTING_DIRADIR2, 0x7F000002};
    ASSERT_EQ(routing_set_table_entries(&r, 7, 7), 1);
    gw_set_network(&kNet);
    // its device is not there: never requested, nothing to stop
    gPeerUp = false;
    uint32_t h = gw_setup_list(conn_, list.data(), &rec_, 16, 3, 7, 0, 0, 1, 4, 0, 5);
    EXPECT_EQ(gw_start_list(h), 0);
    EXPECT_EQ(gw_kill_list(h), 1);
    EXPECT_TRUE(gSent.empty());

    gPeerUp = true;
    // refused by its device
    h = gw_setup_list(conn_, list.data(), &rec_, 16, 3, 7, 0, 0, 1, 4, 0, 5);
    ASSERT_EQ(gw_start_list(h), 1);
    replyToStart(h, GW_ADDRESS);
    gSent.clear();
    EXPECT_EQ(gw_kill_list(h), 1);
    EXPECT_TRUE(gSent.empty());

    // running, and its device gone
    h = gw_setup_list(conn_, list.data(), &rec_, 16, 3, 7, 0, 0, 1, 4, 0, 5);
    ASSERT_EQ(gw_start_list(h), 1);
    replyToStart(h);
    gPeerUp = false;
    gSent.clear();
    EXPECT_EQ(gw_kill_list(h), 1);
    EXPECT_TRUE(gSent.empty());

    // running with its device there: stopped there
    gPeerUp = true;
    h = gw_setup_list(conn_, list.data(), &rec_, 16, 3, 7, 0, 0, 1, 4, 0, 5);
    ASSERT_EQ(gw_start_list(h), 1);
    replyToStart(h);
    gSent.clear();
    EXPECT_EQ(gw_kill_list(h), 1);
    ASSERT_EQ(gSent.size(), 1u);
    EXPECT_EQ(be_get16(gSent[0].payload), 2);
    EXPECT_EQ(rec_.of(GW_CB_STOP).size(), 4u);   // every kill confirmed to the consumer
    gw_set_network(nullptr);
    comint_set_transport(nullptr);
}
