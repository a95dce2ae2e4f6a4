// Ping of a chosen PID: a bounced command every 100 ms or 10 ms whose answer
// gives the round-trip time. 100 slots are used in turn; a slot still
// waiting when it comes round again counts as a lost ping.
#include <cstring>
#include <mutex>

#include "measurement/calparams.h"
#include "platform/byteorder.h"
#include "platform/timebase.h"
#include "virari/DiraDir2/bc2.h"
#include "virari/netdebug/netdebug.h"

namespace {

enum : uint32_t { SLOT_FREE = 0, SLOT_WAITING = 1, SLOT_ANSWERED = 2 };

// An answer is routed back through a one-shot completion handle; the handle
// of the previous loop is kept too, so that an answer one loop late still
// arrives (and counts as late) before its handle is given back.
struct Handle {
    uint32_t value = 0;
    uint16_t loop = 0;
};

struct PingSlot {
    uint32_t state = SLOT_FREE;
    uint32_t sendTime = 0;   // 0.1 ms
    uint16_t loop = 0;
    uint16_t rtt = 0;        // 0.1 ms
    Handle handle, previous;
};

std::mutex gMx;   // the table, between the 10 ms raster and the command task
PingSlot pings[PING_SLOTS];
unsigned gSlot = 0;
uint16_t pingLoop = 0;
bool gActive = false;
unsigned gDivider = 0;

void releaseHandle(Handle& h) {
    if (h.value) ci_completion_release(h.value);
    h = Handle{};
}

void freeAll() {
    for (PingSlot& p : pings) {
        releaseHandle(p.handle);
        releaseHandle(p.previous);
        p = PingSlot{};
    }
    gSlot = 0;
}

void onAnswer(void*, ci_msg_t* msg) { pingCallBack(msg->payload, ci_get_len(msg)); }

// Largest age of a waiting ping or round-trip time of an answered one; an
// answered slot is free again afterwards.
uint16_t collectMax(uint32_t now) {
    uint32_t max = 0;
    for (PingSlot& p : pings) {
        uint32_t v = 0;
        if (p.state == SLOT_WAITING) {
            v = now - p.sendTime;
        } else if (p.state == SLOT_ANSWERED) {
            v = p.rtt;
            p.state = SLOT_FREE;
        }
        if (v > max) max = v;
    }
    return uint16_t(max > 0xFFFF ? 0xFFFF : max);
}

}  // namespace

void virari_dbg_10ms() {
    const CalPage& cal = calActive();
    const uint8_t pid = calLoad(cal.VIRARI_DBG_PING_PID);
    std::unique_lock<std::mutex> lk(gMx);
    if (!pid) {
        if (gActive) freeAll();
        gActive = false;
        return;
    }
    if (!gActive) {
        freeAll();
        gActive = true;
        gDivider = 0;
    }
    const uint8_t freq = calLoad(cal.VIRARI_DBG_PING_FREQ);
    if (freq == 1) {
        if (gDivider++ % 10 != 0) return;
    } else if (freq != 2) {
        return;
    }
    NetDebugSignals& sig = netdebugSignals();
    const uint32_t now = time_getTimestamp();
    sig.virari_dbg_ping_max = collectMax(now);

    PingSlot& slot = pings[gSlot];
    // A lost ping is counted once: the slot is freed here, so while the
    // channels stay down it is not counted again at every later loop.
    if (slot.state != SLOT_FREE) ++sig.virari_dbg_ping_error;
    releaseHandle(slot.previous);
    slot.previous = slot.state == SLOT_WAITING ? slot.handle : Handle{};
    if (slot.state != SLOT_WAITING) releaseHandle(slot.handle);
    slot.handle = Handle{};
    slot.state = SLOT_FREE;
    slot.sendTime = now;

    ci_msg_t m;
    bool send = false;
    if (BC2_connected(pid)) {
        const uint32_t h = ci_completion_register(onAnswer, nullptr);
        if (h) {
            slot.state = SLOT_WAITING;
            slot.loop = pingLoop;
            slot.handle = Handle{h, pingLoop};
            ci_init_msg(&m, CI_CMD_BOUNCE, pid, PING_PAYLOAD);
            ci_set_magic(&m, h);
            be_put32(m.payload, now);
            be_put16(m.payload + 4, uint16_t(gSlot));
            be_put16(m.payload + 6, pingLoop);
            send = true;
        }
    }
    if (++gSlot >= PING_SLOTS) {
        gSlot = 0;
        ++pingLoop;
    }
    lk.unlock();
    if (send) comint_put_cmd(&m, 0);   // routed directly to the PID
}

void pingCallBack(const uint8_t* payload, uint16_t len) {
    std::lock_guard<std::mutex> lk(gMx);
    NetDebugSignals& sig = netdebugSignals();
    const unsigned slotNo = len >= PING_PAYLOAD && payload ? be_get16(payload + 4) : PING_SLOTS;
    if (slotNo >= PING_SLOTS) {
        ++sig.virari_dbg_ping_error;
        return;
    }
    const uint16_t loop = be_get16(payload + 6);
    PingSlot& slot = pings[slotNo];
    // the handle that brought this answer is used up
    if (slot.handle.value && slot.handle.loop == loop) slot.handle = Handle{};
    else if (slot.previous.value && slot.previous.loop == loop) slot.previous = Handle{};
    ++sig.virari_dbg_ping_cnt;
    if (slot.loop != loop) {
        ++sig.virari_dbg_ping_over;
        return;
    }
    const uint32_t now = time_getTimestamp();
    if (int32_t(now - slot.sendTime) < 0) {
        ++sig.virari_dbg_ping_error;
        slot.state = SLOT_FREE;
        return;
    }
    const uint32_t rtt = now - slot.sendTime;
    slot.rtt = uint16_t(rtt > 0xFFFF ? 0xFFFF : rtt);
    slot.state = SLOT_ANSWERED;
}

PingStats netdebug_pingStats() {
    std::lock_guard<std::mutex> lk(gMx);
    const NetDebugSignals& s = netdebugSignals();
    return PingStats{s.virari_dbg_ping_max, s.virari_dbg_ping_error, s.virari_dbg_ping_over, s.virari_dbg_ping_cnt};
}

void netdebug_resetPing() {
    std::lock_guard<std::mutex> lk(gMx);
    freeAll();
    pingLoop = 0;
    gActive = false;
    gDivider = 0;
}
