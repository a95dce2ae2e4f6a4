// 10 ms control of the XCP master instances: start delay and start
// condition, keep-alive, clock resynchronisation, the stop after 5 s without
// data and the restart 1 s after a failure.
#include <cerrno>
#include <cstring>

#include "xcp/master/xcpmr_internal.h"

namespace {
constexpr unsigned kRestartTicks = 100;    // 1 s after a failure
constexpr unsigned kKeepAliveTicks = 199;  // every 2 s
constexpr unsigned kClockTicks = 199;
constexpr unsigned kNoDataTicks = 500;     // 5 s without any DTO
constexpr const char* kSendError = "xcpmr_10ms(): _msgq_send() error: %s";
std::atomic<uint8_t> gFloodSend{0};

bool post(XcpmrInstance* h, uint32_t tag) { return xcpmr_post(h, tag, nullptr, 0, kSendError, gFloodSend); }

bool shouldRun(const XcpmrInstance* h, unsigned i) {
    const CalPage& c = xcpmrCal();
    bool run = calLoad(c.CfgMat_XcpMr_ACTIVE[i]) != 0;
    const uint32_t ms = xcpmr_appl_ms();
    if (ms < 1000 && h->condConfigured) run = false;   // the condition's value has not come yet
    if (ms <= calLoad(c.CfgMat_XcpMr_STARTDELAY[i])) run = false;
    if (run && h->condValid)
        run = calc_cond(h->condValue, h->condSize, calLoad(c.CfgMat_XcpMr_Cond_Val[i]), calLoad(c.CfgMat_XcpMr_Cond_Op[i]));
    return run;
}

void control(XcpmrInstance* h, unsigned i) {
    uint8_t st = xcpmr_get_status(i);
    if (st == XCPMR_SETUP_FAILED) return;
    if (st == XCPMR_FAILED) {
        if (++h->errRestartTicks < kRestartTicks) return;
        h->errRestartTicks = 0;
        st = XCPMR_STOPPED;
        xcpmr_set_status(i, st);
    }
    const bool run = shouldRun(h, i);
    const bool start = run && (st == XCPMR_READY || st == XCPMR_STOPPED);
    bool stop = !run && st == XCPMR_RUNNING;
    bool resync = false, keepAlive = false;
    if (st == XCPMR_RUNNING && h->sendState == XS_IDLE) {
        keepAlive = ++h->keepAliveTicks > kKeepAliveTicks;
        if (h->tsUsed) resync = ++h->clockTicks > kClockTicks;
        if (h->noDataTicks.fetch_add(1) + 1u > kNoDataTicks) stop = true;
    } else {
        h->keepAliveTicks = 0;
        h->noDataTicks = 0;
        h->clockTicks = 100;
    }
    // one message a tick, the most important first
    if (stop) {
        if (post(h, XT_STOP)) h->noDataTicks = 0;
    } else if (start) {
        post(h, XT_START);
    } else if (resync) {
        if (post(h, XT_RESYNC)) h->clockTicks = 0;
    } else if (keepAlive) {
        if (post(h, XT_KEEPALIVE)) h->keepAliveTicks = 0;
    }
}
}  // namespace

void xcpmr_10ms() {
    for (unsigned i = 0; i < XCPMR_INSTANCES; ++i)
        if (XcpmrInstance* h = xcpmr_handle[i].load()) control(h, i);
    xcpmr_data_10ms();
}
