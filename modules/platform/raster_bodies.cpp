#include "platform/raster_bodies.h"

#include <atomic>
#include <cstring>

namespace {

// A known entry point of a body: its name and the argument it is called with
// (-1: the argument given at registration, or supplied by the tick pattern).
struct Slot {
    const char* name;
    int arg;
};

constexpr Slot k1ms[] = {{"canPoll_1ms", -1}, {"timeserv_MeasTime_1ms", -1}, {"xcpSendDAQ", 2},
                         {"CanOut_send_message", 0}, {"CanIn_supervisor_1ms", -1}};
constexpr Slot k2ms[] = {{"CanOut_send_message", 1}};
constexpr Slot k5ms[] = {{"sblk_task_trigger_fast", -1}, {"CanOut_send_message", 2}};
constexpr Slot k10ms[] = {{"virari_dbg_10ms", -1}, {"eventChannels_10ms", -1}, {"xcpSendDAQ", 1},
                          {"ccpmr_10ms", -1}, {"xcpmr_10ms", -1}, {"meas_app_check_measconditions", -1},
                          {"CanOut_event_message", -1}, {"CanOut_send_message", 3}};
constexpr Slot k20ms[] = {{"CanOut_send_message", 4}};
constexpr Slot k50ms[] = {{"CanOut_send_message", 5}};
constexpr Slot k100ms[] = {{"virari_dbg", -1}, {"meas_fifo_data_update_load_vars", -1},
                           {"CanOut_send_message", 6}, {"xcp_100ms", -1}, {"xcpSendDAQ", 0}};
constexpr Slot k200ms[] = {{"CanOut_send_message", 7}};
constexpr Slot k500ms[] = {{"CanOut_send_message", 8}};
constexpr Slot k1000ms[] = {{"CanOut_send_message", 9}, {"sblk_task_trigger_slow", -1},
                            {"SerNet_man_1s", -1}, {"mem_usage_1s", -1}, {"cfg_meas_formatInfos_1s", -1}};

enum { ETH_SENDER, ETH_FLUSH };
constexpr Slot kEthOnline[] = {{"SerNet_man_sender_online", -1}, {"SerNet_man_flush_online", -1}};
constexpr Slot kEthOffline[] = {{"SerNet_man_sender_offline", -1}, {"SerNet_man_flush_offline", -1}};

enum { M_MAIN, M_SAVEBLOCK, M_EXTLAPTRG, M_TIMEOUT_CLOSE, M_CHECKFLUSH, M_CALC_RATES, M_FIFO_SYSLOG,
       M_DATATIMEOUT, M_FRAGTRIG_USB };
constexpr Slot kMeas[] = {{"meas_app_main", -1},
                          {"meas_app_saveblock", -1},
                          {"LapOutFra_checkExtLaptrgInit", -1},
                          {"meas_app_timeout_close", -1},
                          {"MeasAppStore_checkForFlush", -1},
                          {"meas_app_calc_recording_rates", -1},
                          {"meas_fifo_data_syslog", -1},
                          {"meas_app_check_datatimeout", -1},
                          {"meas_app_checkFragmentTrigOnUSBEvent", -1}};

constexpr int kMaxSlots = 16;
constexpr int kMaxExtras = 16;

struct Entry {
    std::atomic<RasterFn> fn{nullptr};
    std::atomic<intptr_t> arg{0};
    char name[48] = {};
};

struct Body {
    const Slot* slots = nullptr;
    int nSlots = 0;
    bool pattern = false;   // rMeas / rEthSend: the body supplies the arguments
    Entry known[kMaxSlots];
    Entry extra[kMaxExtras];
    std::atomic<int> nExtra{0};
    unsigned c = 0;         // tick counter of the pattern bodies
};

template <size_t N>
void setSlots(Body& b, const Slot (&s)[N], bool pattern) {
    static_assert(N <= kMaxSlots);
    b.slots = s;
    b.nSlots = static_cast<int>(N);
    b.pattern = pattern;
}

Body* bodies() {
    static Body b[RB_COUNT];
    static bool once = [] {
        setSlots(b[RB_1MS], k1ms, false);
        setSlots(b[RB_2MS], k2ms, false);
        setSlots(b[RB_5MS], k5ms, false);
        setSlots(b[RB_10MS], k10ms, false);
        setSlots(b[RB_20MS], k20ms, false);
        setSlots(b[RB_50MS], k50ms, false);
        setSlots(b[RB_100MS], k100ms, false);
        setSlots(b[RB_200MS], k200ms, false);
        setSlots(b[RB_500MS], k500ms, false);
        setSlots(b[RB_1000MS], k1000ms, false);
        setSlots(b[RB_ETHSEND_ONLINE], kEthOnline, true);
        setSlots(b[RB_ETHSEND_OFFLINE], kEthOffline, true);
        setSlots(b[RB_MEAS], kMeas, true);
        return true;
    }();
    (void)once;
    return b;
}

inline void callEntry(const Entry& e, intptr_t arg) {
    RasterFn fn = e.fn.load(std::memory_order_acquire);
    if (fn) fn(arg);
}

inline void callKnown(const Body& b, int slot, intptr_t arg) { callEntry(b.known[slot], arg); }

void runExtras(const Body& b) {
    int n = b.nExtra.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i) callEntry(b.extra[i], b.extra[i].arg.load(std::memory_order_relaxed));
}

// rEthSend_*: counter c runs 0..99 and steps after each call.
void runEthSend(Body& b) {
    const unsigned c = b.c;
    for (intptr_t r : {10, 0, 1, 2, 3}) callKnown(b, ETH_SENDER, r);
    if (c & 1) callKnown(b, ETH_SENDER, 4);
    if (c % 5 == 1) callKnown(b, ETH_SENDER, 5);
    if (c % 10 == 3)
        for (intptr_t r : {6, 11, 12}) callKnown(b, ETH_SENDER, r);
    if (c % 20 == 11) callKnown(b, ETH_SENDER, 7);
    if (c % 50 == 12) callKnown(b, ETH_SENDER, 8);
    if (c % 100 == 18) callKnown(b, ETH_SENDER, 9);
    callKnown(b, ETH_FLUSH, 0);
    b.c = (c + 1) % 100;   // every condition repeats within 100 ticks
}

// rMeasure: counter c runs 0..999 and steps after each call.
void runMeas(Body& b) {
    const unsigned c = b.c;
    callKnown(b, M_MAIN, 0);
    callKnown(b, M_SAVEBLOCK, 0);
    if (c & 1) {
        callKnown(b, M_SAVEBLOCK, 1);
        callKnown(b, M_SAVEBLOCK, 10);
    }
    if (c % 5 == 2) callKnown(b, M_SAVEBLOCK, 2);
    if (c % 10 == 3) {
        callKnown(b, M_SAVEBLOCK, 3);
        callKnown(b, M_EXTLAPTRG, 0);
    }
    if (c % 20 == 11) callKnown(b, M_SAVEBLOCK, 4);
    if (c % 50 == 16) callKnown(b, M_SAVEBLOCK, 5);
    if (c % 100 == 33) {
        for (intptr_t r : {6, 11, 12}) callKnown(b, M_SAVEBLOCK, r);
        callKnown(b, M_TIMEOUT_CLOSE, 11);
        callKnown(b, M_TIMEOUT_CLOSE, 12);
    }
    if (c % 200 == 111) callKnown(b, M_SAVEBLOCK, 7);
    if (c % 500 == 123) callKnown(b, M_SAVEBLOCK, 8);
    if (c % 1000 == 187) {
        callKnown(b, M_SAVEBLOCK, 9);
        for (int s : {M_CHECKFLUSH, M_CALC_RATES, M_FIFO_SYSLOG, M_DATATIMEOUT, M_FRAGTRIG_USB})
            callKnown(b, s, 0);
    }
    b.c = (c + 1) % 1000;   // every condition repeats within 1000 ticks
}

}  // namespace

void rasterBodies_reset() {
    Body* b = bodies();
    for (int i = 0; i < RB_COUNT; ++i) {
        for (auto& e : b[i].known) e.fn.store(nullptr);
        b[i].nExtra.store(0);
        for (auto& e : b[i].extra) e.fn.store(nullptr);
        b[i].c = 0;
    }
}

int raster_addEntry(int body, const char* name, RasterFn fn, intptr_t arg) {
    if (body < 0 || body >= RB_COUNT || !name || !*name || !fn) return 0;
    Body& b = bodies()[body];
    for (int i = 0; i < b.nSlots; ++i) {
        const Slot& s = b.slots[i];
        if (strcmp(s.name, name) == 0 && (s.arg < 0 || s.arg == arg)) {
            b.known[i].arg.store(s.arg < 0 ? arg : s.arg, std::memory_order_relaxed);
            b.known[i].fn.store(fn, std::memory_order_release);
            return 1;
        }
    }
    // registration happens at start-up in the main task, before dispatching
    int n = b.nExtra.load(std::memory_order_relaxed);
    for (int i = 0; i < n; ++i) {
        Entry& e = b.extra[i];
        if (strcmp(e.name, name) == 0 && e.arg.load(std::memory_order_relaxed) == arg) {
            e.fn.store(fn, std::memory_order_release);
            return 1;
        }
    }
    if (n >= kMaxExtras) return 0;
    Entry& e = b.extra[n];
    strncpy(e.name, name, sizeof e.name - 1);
    e.name[sizeof e.name - 1] = 0;
    e.arg.store(arg, std::memory_order_relaxed);
    e.fn.store(fn, std::memory_order_relaxed);
    b.nExtra.store(n + 1, std::memory_order_release);
    return 1;
}

void rasterBodies_run(int body) {
    if (body < 0 || body >= RB_COUNT) return;
    Body& b = bodies()[body];
    runExtras(b);
    if (body == RB_MEAS) {
        runMeas(b);
    } else if (body == RB_ETHSEND_ONLINE || body == RB_ETHSEND_OFFLINE) {
        runEthSend(b);
    } else {
        for (int i = 0; i < b.nSlots; ++i) callEntry(b.known[i], b.known[i].arg.load(std::memory_order_relaxed));
    }
}
