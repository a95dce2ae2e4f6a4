// CAN output: composing the messages from their packing records, and sending
// them by raster, on events and under the rate limit of their interface.
//
// Each message has two buffer halves: the composing raster task fills the
// next half and then publishes its sequence number, so the sender (the same
// task, or the 1 ms task of a rate-limited interface) always sends the last
// completed half without a lock.
#include <cmath>
#include <cstring>
#include <ctime>

#include "can/can_out_internal.h"
#include "platform/byteorder.h"
#include "platform/can_front.h"
#include "platform/timebase.h"

using namespace canout;

namespace {

constexpr float kMaxCredit = 8.0f;

// Current value of a measured entry as a 32-bit word (signed types extended).
uint32_t readValue(const RecData& r) {
    uint8_t b[4] = {};
    {
        std::lock_guard<std::mutex> lk(r.list->mx);
        std::memcpy(b, r.list->buf.data() + r.offset, r.size);
    }
    switch (r.size) {
    case 4: return be_get32(b);
    case 2: return r.type == GW_INT16 ? uint32_t(int32_t(int16_t(be_get16(b)))) : be_get16(b);
    default: return r.type == GW_INT8 ? uint32_t(int32_t(int8_t(b[0]))) : b[0];
    }
}

double asNumber(uint32_t raw, uint8_t type) {
    switch (type) {
    case GW_INT8: case GW_INT16: case GW_INT32: return double(int32_t(raw));
    case GW_FLOAT32: {
        float f;
        std::memcpy(&f, &raw, 4);
        return f;
    }
    case GW_BOOL8: return raw ? 1.0 : 0.0;
    default: return double(raw);
    }
}

// Physical value to the raw field value: raw = (value - offs) / fact,
// limited to what the field can hold and rounded half away from zero.
uint32_t CanOut_convert(const Chan& c, uint32_t raw) {
    double x = (asNumber(raw, c.srcType) - c.offs) / c.fact;
    if (c.target == GW_FLOAT32) {
        float f = float(x);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        return bits;
    }
    if (std::isnan(x)) return 0;
    x = std::round(std::fmin(std::fmax(x, c.lo), c.hi));
    return c.target == GW_INT32 ? uint32_t(int32_t(x)) : uint32_t(x);
}

void place(const Chan& c, uint64_t v, uint8_t* buf) {
    const int sh = int(c.bitOfs) - int(c.rightShift);
    if (sh >= 0) v <<= sh;
    else v = -sh >= 64 ? 0 : v >> -sh;
    for (unsigned k = 0; k < c.count; ++k) {
        uint8_t mask = 0xFF;
        if (k == 0) mask &= c.lsbMask;
        if (k + 1 == c.count) mask &= c.msbMask;
        const uint8_t byte = k < 8 ? uint8_t(v >> (8 * k)) : 0;
        uint8_t& d = buf[c.lsbByte + int(k) * c.step];
        d = uint8_t((d & ~mask) | (byte & mask));
    }
}

void CanOut_insert_chan(const State& S, const Chan& c, const Msg& m, uint8_t* buf) {
    uint32_t v;
    if (c.src == SRC_COUNTER) {
        v = m.counter;
    } else if (c.src == SRC_CONSTANT) {
        v = c.constant;
    } else {
        const RecData& r = S.recs[size_t(c.src)];
        if (!r.list || !r.list->valid) return;
        const uint32_t raw = readValue(r);
        v = c.conv ? CanOut_convert(c, raw) : (raw >> c.maskShift) & c.shiftedMask;
    }
    place(c, v, buf);
}

uint32_t nowMs() {
    timespec t{};
    clock_appltime(&t);
    return uint32_t(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

bool delayed(unsigned intf, uint32_t now) { return CanOutIntfConf[intf].startDelay >= now; }

}  // namespace

namespace canout {

void processMessage(Msg& m) {
    const State& S = state();
    const uint32_t seq = m.seq.load(std::memory_order_relaxed) + 1;
    uint8_t* buf = m.buf[seq & 1];
    std::memset(buf, 0, sizeof m.buf[0]);
    for (unsigned i = m.chanFirst; i < m.chanEnd; ++i) CanOut_insert_chan(S, S.chans[i], m, buf);
    if (m.rowEnd > m.rowFirst) {
        const Row& r = S.rows[m.curRow];
        for (unsigned i = r.first; i < r.end; ++i) CanOut_insert_chan(S, S.chans[i], m, buf);
        if (++m.curRow >= m.rowEnd) m.curRow = m.rowFirst;
    }
    if (m.hasCounter) m.counter = m.counter < m.cEnd ? m.counter + 1 : m.cStart;
    if (m.chk) buf[m.chkByte] = canOut_calcChksum(m.chkType, m.chkMask, m.length, buf);
    m.seq.store(seq, std::memory_order_release);
}

int sendBuff(Msg& m) {
    const uint32_t seq = m.seq.load(std::memory_order_acquire);
    if (seq == m.sentSeq) return 0;
    canTxMsg(m.txHandle, m.dlc, m.buf[seq & 1]);
    m.sentSeq = seq;
    ++state().sent[m.intf];
    return 1;
}

}  // namespace canout

int CanOut_send_message(int raster) {
    State& S = state();
    if (S.stopped || raster < 0 || raster >= 20) return 1;
    const uint32_t now = nowMs();
    for (Msg* m = S.rasterHead[raster]; m; m = m->nextRaster)
        if (!delayed(m->intf, now)) processMessage(*m);
    for (unsigned i = 0; i < CANOUT_INTERFACES; ++i) {
        if (S.rate[i] == 0) {
            for (Msg* m = S.rasterHead[raster]; m; m = m->nextRaster)
                if (m->intf == i) sendBuff(*m);
        } else if (raster == 0) {
            S.credit[i] = std::fmin(S.credit[i] + S.rate[i], kMaxCredit);
            for (Msg* m = S.prioHead[i]; m && S.credit[i] > 1.0f; m = m->nextPrio)
                if (sendBuff(*m)) S.credit[i] -= 1.0f;
        }
    }
    return 1;
}

void CanOut_event_message() {
    State& S = state();
    if (S.stopped) return;
    const uint32_t now = nowMs();
    for (Event& ev : S.events) {
        Msg& m = *ev.msg;
        if (delayed(m.intf, now)) continue;
        const RecData& r = S.recs[size_t(ev.rec)];
        const bool valid = r.list && r.list->valid;
        const bool b = valid && ((readValue(r) >> ev.shift) & ev.mask) != 0;
        if (valid && ev.prevValid) {
            const bool fire = (b && !ev.prevState && (ev.edges & 1)) || (!b && ev.prevState && (ev.edges & 2));
            if (fire) {
                processMessage(m);
                if (S.rate[m.intf] == 0) sendBuff(m);
            }
        }
        ev.prevState = b;
        ev.prevValid = valid;
    }
}
