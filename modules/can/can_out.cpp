// CAN output: checking and compiling the configuration, subscribing the
// values at the measurement gateway and registering the transmit messages.
#include "can/can_out.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "can/can_in.h"
#include "can/can_out_internal.h"
#include "measurement/comint.h"
#include "measurement/gateway.h"
#include "platform/can_front.h"
#include "platform/error_mgr.h"
#include "platform/raster.h"
#include "platform/syslogx.h"

CanOutIntf CanOutIntfConf[CANOUT_INTERFACES];
CanOutMailBox CanOutMailBoxConf[CANOUT_MAILBOXES];
CanOutSignal CanOutSignalConf[CANOUT_ENTRIES];

namespace canout {
State& state() {
    static State s;
    return s;
}
}  // namespace canout

using namespace canout;

namespace {

constexpr unsigned kMaxListValues = 101;
std::atomic<uint32_t> canout_man_measerr{0};

// Greater is more urgent: lower identifiers first, every standard identifier
// before every extended one.
uint32_t canid_prio(uint32_t id) { return ~(id & CAN_ID_EXTENDED ? id + 0x40000000u : id); }

unsigned CanOut_type2size(uint8_t type) {
    switch (type) {
    case GW_INT8: case GW_UINT8: case GW_BOOL8: return 1;
    case GW_INT16: case GW_UINT16: return 2;
    case GW_INT32: case GW_UINT32: case GW_FLOAT32: return 4;
    default: return 0;
    }
}

void insertByPrio(Msg** head, Msg* m, Msg* Msg::*link) {
    const uint32_t p = canid_prio(m->canId);
    Msg** at = head;
    while (*at && canid_prio((*at)->canId) > p) at = &((*at)->*link);
    m->*link = *at;
    *at = m;
}

// Mask shifted down to its lowest set bit; 0 stands for the whole value.
void shiftMask(uint32_t mask, uint32_t* shifted, uint8_t* shift) {
    if (!mask) mask = 0xFFFFFFFFu;
    uint8_t n = 0;
    while (!(mask & 1u)) {
        mask >>= 1;
        ++n;
    }
    *shifted = mask;
    *shift = n;
}

// The data bytes a field covers, or false when they leave the payload.
bool fieldFits(const CanOutSignal& s, unsigned payload) {
    if (s.len == 0 || s.len > 64) return false;
    return (unsigned(s.sBit) + s.len - 1) >> 3 < payload;
}

Chan CanOut_fillin_chcfg(const CanOutSignal& s, bool measured) {
    Chan c{};
    const unsigned sb = s.sBit, e = sb + s.len - 1;
    c.count = uint8_t((e >> 3) - (sb >> 3) + 1);
    if (!s.bigEndian) {
        c.bitOfs = uint8_t(sb & 7);
        c.lsbByte = uint8_t(sb >> 3);
        c.step = 1;
        c.lsbMask = uint8_t(0xFF << (sb & 7));
        c.msbMask = uint8_t(0xFF >> (7 - (e & 7)));
    } else {
        c.bitOfs = uint8_t(7 - (e & 7));
        c.lsbByte = uint8_t(e >> 3);
        c.step = -1;
        c.lsbMask = uint8_t(0xFF << (7 - (e & 7)));
        c.msbMask = uint8_t(0xFF >> (sb & 7));
    }
    c.rightShift = s.rightShift;
    c.conv = measured && (s.fact != 0.0f || s.offs != 0.0f);
    c.fact = s.fact != 0.0f ? s.fact : 1.0;
    c.offs = s.offs;
    const unsigned bits = std::min<unsigned>(s.len, 32);
    if (s.isFloat) {
        c.target = GW_FLOAT32;
        c.lo = -std::numeric_limits<double>::infinity();
        c.hi = std::numeric_limits<double>::infinity();
    } else if (s.isSigned) {
        c.target = GW_INT32;
        c.lo = -std::ldexp(1.0, int(bits) - 1);
        c.hi = std::ldexp(1.0, int(bits) - 1) - 1;
    } else {
        c.target = GW_UINT32;
        c.lo = 0;
        c.hi = std::ldexp(1.0, int(bits)) - 1;
    }
    shiftMask(s.mask, &c.shiftedMask, &c.maskShift);
    c.srcType = s.dataType;
    return c;
}

int fail(int level, const char* text, int idx) {
    syslogx(level, text, idx);
    return 1;
}

// ---- gateway ------------------------------------------------------------------------

int CanOut_man_meas_read(unsigned long st, void* data, void* user) {
    auto* L = static_cast<MList*>(user);
    if (!L) return 0;
    if (st == 0 && data) {
        std::lock_guard<std::mutex> lk(L->mx);
        std::memcpy(L->buf.data(), static_cast<const uint8_t*>(data) + 4, L->buf.size());
        L->valid = true;
    } else {
        L->valid = false;
    }
    return 1;
}

int CanOut_man_meas_startstop(unsigned long err, void*, void*) {
    if (err) {
        ++canout_man_measerr;
        return 0;
    }
    return 1;
}

int CanOut_man_meas_tout(unsigned long err, void* data, void* user) {
    auto* L = static_cast<MList*>(user);
    if (!data && !L) {
        syslogx(147, "CanOut_man_meas_tout: invalid arguments, errorstate %d ,data 0x%08X, cont. 0x%08X ", int(err),
                0u, 0u);
        return 0;
    }
    if (!L) return 0;
    const char* kind = L->event ? "EVENT" : "DATA";
    if (err == GW_NO_DATA)
        syslogx(147, "CanOut_man_meas_tout: PID:0x%X timeout, %s, %d", L->pid, kind, L->raster);
    else if (err)
        syslogx(148, "CanOut_man_meas_tout: PID:0x%X errorstate %d, %s, %d", L->pid, int(err), kind, L->raster);
    else
        syslogx(148, "CanOut_man_meas_tout: PID:0x%X back online, %s, %d", L->pid, kind, L->raster);
    return 1;
}

const callback_list canout_man_callbacks = {{{CanOut_man_meas_read, 0},
                                             {CanOut_man_meas_startstop, 0},
                                             {CanOut_man_meas_startstop, 0},
                                             {nullptr, 0},
                                             {CanOut_man_meas_tout, 0},
                                             {nullptr, 0}}};

int CanOut_add_measurement(State& S, measaddr_t addr, uint8_t type, int raster, bool event) {
    const uint8_t size = uint8_t(CanOut_type2size(type));
    for (size_t i = 0; i < S.recs.size(); ++i) {
        const RecData& r = S.recs[i];
        if (r.addr == addr && r.size == size && r.raster == raster) return int(i);
    }
    S.recs.push_back({addr, raster, size, type, event});
    return int(S.recs.size() - 1);
}

void setupList(State& S, MList& L, std::vector<int>& members) {
    std::stable_sort(members.begin(), members.end(),
                     [&](int a, int b) { return S.recs[a].size > S.recs[b].size; });
    std::vector<uint32_t> desc;
    unsigned offset = 0;
    uint8_t group = 0;
    for (int i : members) {
        RecData& r = S.recs[i];
        if (r.size != group) {
            if (group) desc.push_back(0);
            desc.push_back(uint32_t(-int32_t(r.size)));
            group = r.size;
        }
        desc.push_back(L.pid ? r.addr : r.addr & 0x00FFFFFFu);
        r.list = &L;
        r.offset = uint16_t(offset);
        offset += r.size;
    }
    desc.push_back(0);
    desc.push_back(0);
    L.nValues = unsigned(members.size());
    L.buf.assign((offset + 3u) & ~3u, 0);
    const int period = raster2rate(L.raster);
    const uint16_t timeout = period == 0 ? 0 : period < 10 ? uint16_t(50 / period) : 5;
    L.handle = gw_setup_list(static_cast<gw_conn_t>(S.conn), desc.data(), &L, uint16_t(desc.size() * 4), L.raster,
                             L.pid, 0, 0, 1, 4, uint16_t(4 + L.buf.size()), timeout);
    if (!L.handle) {
        syslogx(147, "CanOut_man_setup_gw_meas(): Error gw_setup_list");
        return;
    }
    gw_start_list(L.handle);
}

void subscribe(State& S) {
    S.conn = gw_connect(&canout_man_callbacks);
    if (!S.conn) {
        syslogx(147, "CanOut_man: could not get handle from measgateway");
        return;
    }
    // values per PID and raster, in first-use order; event signals ride on
    // the 10 ms list of their PID
    std::map<std::pair<unsigned, int>, std::vector<int>> groups;
    const unsigned own = comint_own_pid();
    for (size_t i = 0; i < S.recs.size(); ++i) {
        unsigned pid = MEASADDR_PID(S.recs[i].addr);
        if (pid == own) pid = 0;
        groups[{pid, S.recs[i].raster}].push_back(int(i));
    }
    for (auto& [key, members] : groups) {
        for (size_t at = 0; at < members.size(); at += kMaxListValues) {
            std::vector<int> part(members.begin() + long(at),
                                  members.begin() + long(std::min(members.size(), at + kMaxListValues)));
            auto L = std::make_unique<MList>();
            L->pid = uint16_t(key.first);
            L->raster = uint16_t(key.second);
            L->event = std::all_of(part.begin(), part.end(), [&](int i) { return S.recs[i].event; });
            setupList(S, *L, part);
            S.lists.push_back(std::move(L));
        }
    }
}

void unsubscribe(State& S) {
    for (auto& L : S.lists)
        if (L->handle) gw_kill_list(L->handle);
    if (S.conn) gw_disconnect(static_cast<gw_conn_t>(S.conn));
    S.conn = nullptr;
    S.lists.clear();
}

void clearState(State& S) {
    S.stopped = true;
    unsubscribe(S);
    S.msgs.clear();
    S.chans.clear();
    S.rows.clear();
    S.recs.clear();
    S.events.clear();
    for (auto& h : S.rasterHead) h = nullptr;
    for (unsigned i = 0; i < CANOUT_INTERFACES; ++i) {
        S.prioHead[i] = nullptr;
        S.rate[i] = S.credit[i] = 0;
        S.sent[i] = 0;
    }
}

bool validRaster(int32_t r) { return r == CANOUT_EVENT_BASED || (r >= 0 && r < int32_t(GW_RASTERS)); }
bool multiplexed(uint32_t kind) { return kind == CANOUT_MSIGNAL || kind == CANOUT_MCONSTANT; }

}  // namespace

void CanOut_initConfig() {
    for (auto& i : CanOutIntfConf) i = {};
    for (auto& m : CanOutMailBoxConf) {
        m = {};
        m.intf = CANOUT_INTF_UNUSED;
        m.canId = 0xFFFFFFFFu;
    }
    for (auto& s : CanOutSignalConf) {
        s = {};
        s.msgIdx = CANOUT_MSG_UNUSED;
    }
}

int CanOut_init() {
    State& S = state();
    clearState(S);
    buildChksumTables();
    const unsigned boardIntf = unsigned(pinConfig_getCANmaxIntf());

    // First pass: checks, and the groups of entries that form the messages.
    struct Group {
        unsigned msgIdx, first, end;
    };
    std::vector<Group> groups;
    std::vector<bool> skip(CANOUT_ENTRIES, false);
    unsigned beyond = 0, notConfigured = 0, used = 0;
    unsigned curMsg = CANOUT_MSG_UNUSED;
    bool haveMux = false, haveRow = false, muxRefused = false;
    uint32_t prevRow = 0;
    for (unsigned i = 0; i < CANOUT_ENTRIES; ++i) {
        const CanOutSignal& s = CanOutSignalConf[i];
        if (s.msgIdx == CANOUT_MSG_UNUSED) continue;
        if (s.msgIdx >= CANOUT_MAILBOXES) return fail(3, "CanOut_man: invalid message index (%d)", int(i));
        const CanOutMailBox& mb = CanOutMailBoxConf[s.msgIdx];
        if (mb.intf >= 2 || mb.intf >= boardIntf) {
            ++(mb.intf >= 2 ? beyond : notConfigured);
            skip[i] = true;
            continue;
        }
        if (s.msgIdx != curMsg) {
            curMsg = s.msgIdx;
            haveMux = haveRow = muxRefused = false;
        }
        if (s.kind > CANOUT_MCONSTANT) return fail(3, "CanOut_man: found illegal multiplexer type(%d)", int(i));
        // An entry that does not fit its message is left out on its own, and
        // so are the rows of a multiplexor left out: the rest is still sent.
        const bool fits = s.kind == CANOUT_CHECKSUM ? (s.sBit >> 3) < mb.length : fieldFits(s, mb.length);
        if (!fits || (multiplexed(s.kind) && muxRefused)) {
            if (!fits) syslogx(3, "CanOut_man: signal beyond the message length (%d)", int(i));
            else syslogx(3, "CanOut_man: multiplexed signal of a refused multiplexer (%d)", int(i));
            if (s.kind == CANOUT_MUX) {
                if (haveMux) return fail(3, "CanOut_man: found double multiplexer (%d)", int(i));
                haveMux = muxRefused = true;
            }
            skip[i] = true;
            continue;
        }
        ++used;
        if (groups.empty() || groups.back().msgIdx != s.msgIdx) {
            if (!validRaster(mb.event)) return fail(3, "CanOut_man: invalid time grid (%d)", int(i));
            if (mb.event == CANOUT_EVENT_BASED && (mb.evAddr == 0 || mb.evAddr == 0xFFFFFFFFu))
                syslogx(3, "CanOut_man: invalid event data (%d)", int(i));
            groups.push_back({s.msgIdx, i, i + 1});
        }
        groups.back().end = i + 1;
        if (s.kind == CANOUT_MUX) {
            if (haveMux) return fail(3, "CanOut_man: found double multiplexer (%d)", int(i));
            haveMux = true;
        } else if (multiplexed(s.kind)) {
            if (!haveMux) return fail(3, "CanOut_man: found multiplexed signal without multiplexer (%d)", int(i));
            if (haveRow && s.RCValue < prevRow) return fail(3, "CanOut_man: found unsorted multiplexer (%d)", int(i));
            haveRow = true;
            prevRow = s.RCValue;
        }
    }
    if (groups.size() > CANOUT_MAILBOXES) {
        syslogx(3, "CanOut_man: too many mailboxes used, wrong config");
        return 1;
    }

    // Second pass: message states, packing records, values and events.
    for (const Group& g : groups) {
        const CanOutMailBox& mb = CanOutMailBoxConf[g.msgIdx];
        auto m = std::make_unique<Msg>();
        m->canId = mb.canId;
        m->intf = uint8_t(mb.intf);
        m->length = mb.length;
        m->dlc = mb.canDlc;
        m->fdf = mb.fdf;
        m->brs = mb.brs;
        m->raster = mb.event;
        const int valueRaster = mb.event == CANOUT_EVENT_BASED ? RASTER_10MS : mb.event;
        std::vector<Chan> plain;
        std::vector<std::vector<Chan>> rows;
        std::vector<uint32_t> rowValues;
        const CanOutSignal* mux = nullptr;
        for (unsigned i = g.first; i < g.end; ++i) {
            const CanOutSignal& s = CanOutSignalConf[i];
            if (s.msgIdx == CANOUT_MSG_UNUSED || skip[i]) continue;
            Chan c{};
            switch (s.kind) {
            case CANOUT_MUX:
                mux = &s;
                continue;
            case CANOUT_COUNTER:
                c = CanOut_fillin_chcfg(s, false);
                c.src = SRC_COUNTER;
                // the first frame carries 0 whatever the start: receivers
                // check that sequence, and a wrap goes back to the start
                m->hasCounter = true;
                m->counter = 0;
                m->cStart = s.start;
                m->cEnd = s.end;
                break;
            case CANOUT_CHECKSUM:
                m->chk = true;
                m->chkType = s.chkType;
                m->chkByte = uint8_t(s.sBit >> 3);
                // folded first, so that the checksum's own byte never takes part
                m->chkMask = chksumBytes(s.chkSumByteMask) & ~(uint64_t(1) << m->chkByte);
                continue;
            case CANOUT_CONSTANT:
            case CANOUT_MCONSTANT:
                c = CanOut_fillin_chcfg(s, false);
                c.src = SRC_CONSTANT;
                c.constant = s.constant;
                break;
            default:
                c = CanOut_fillin_chcfg(s, s.addr != 0);
                if (s.addr) c.src = int16_t(CanOut_add_measurement(S, s.addr, s.dataType, valueRaster, false));
                else {
                    c.src = SRC_CONSTANT;
                    c.constant = 0;
                }
                break;
            }
            if (!multiplexed(s.kind)) {
                plain.push_back(c);
                continue;
            }
            if (rowValues.empty() || rowValues.back() != s.RCValue) {
                CanOutSignal ms = *mux;
                ms.fact = ms.offs = 0;
                Chan rc = CanOut_fillin_chcfg(ms, false);
                rc.src = SRC_CONSTANT;
                rc.constant = s.RCValue;
                rows.push_back({rc});
                rowValues.push_back(s.RCValue);
            }
            rows.back().push_back(c);
        }
        m->chanFirst = unsigned(S.chans.size());
        S.chans.insert(S.chans.end(), plain.begin(), plain.end());
        m->chanEnd = unsigned(S.chans.size());
        m->rowFirst = m->curRow = unsigned(S.rows.size());
        for (auto& r : rows) {
            Row row{unsigned(S.chans.size()), 0};
            S.chans.insert(S.chans.end(), r.begin(), r.end());
            row.end = unsigned(S.chans.size());
            S.rows.push_back(row);
        }
        m->rowEnd = unsigned(S.rows.size());

        Msg* mp = m.get();
        if (mb.event == CANOUT_EVENT_BASED) {
            if (mb.evAddr != 0 && mb.evAddr != 0xFFFFFFFFu) {
                Event ev{};
                ev.rec = CanOut_add_measurement(S, mb.evAddr, mb.evType, RASTER_10MS, true);
                shiftMask(mb.evMask, &ev.mask, &ev.shift);
                ev.edges = uint8_t(mb.edge + 1);
                ev.msg = mp;
                const float f = mb.quant[5] ? float(mb.quant[5]) : 1.0f;
                ev.q1 = float(mb.quant[1]) / f;
                ev.q2 = float(mb.quant[2]) / f;
                S.events.push_back(ev);
            }
        } else {
            insertByPrio(&S.rasterHead[mb.event], mp, &Msg::nextRaster);
        }
        S.msgs.push_back(std::move(m));
    }

    subscribe(S);

    for (auto& m : S.msgs) {
        const bool ext = (m->canId & CAN_ID_EXTENDED) != 0;
        m->txHandle = canRegisterTxFunc(m->intf, ext ? 0xFF : 0, ext ? m->canId & 0x1FFFFFFF : m->canId & 0x7FF,
                                        m->fdf, m->brs);
    }
    for (unsigned i = 0; i < CANOUT_INTERFACES; ++i) {
        S.rate[i] = std::clamp(CanOutIntfConf[i].rateLimt, 0.0f, 8.0f);
        if (!(S.rate[i] >= 0)) S.rate[i] = 0;   // NaN
        S.credit[i] = 0;
    }
    for (auto& m : S.msgs) insertByPrio(&S.prioHead[m->intf], m.get(), &Msg::nextPrio);

    if (beyond) {
        error_mgr_set(ERRMGR_PATH_CAN_OUT, ERRMGR_TYPE_RANGE, 0);
        syslogx(147, "CanOut_Init: CanOut configured %d signals on CANs beyond the device's!!(%d)", int(beyond), 2);
    } else if (notConfigured) {
        error_mgr_set(ERRMGR_PATH_CAN_OUT, ERRMGR_TYPE_NOT_CONFIGURED, 0);
        syslogx(147, "CanOut_Init: CanOut configured %d signals on CANs that are not configured (Pins)!!(%d)",
                int(notConfigured), int(boardIntf));
    } else {
        error_mgr_clear(ERRMGR_PATH_CAN_OUT);
        syslogx(150, "CanOut_Init: CanOut configured %d signals in %d messages", int(used), int(S.msgs.size()));
    }
    S.stopped = false;
    return 0;
}

void CanOut_stop() {
    state().stopped = true;
    syslogx(150, "CanOut_stop called");
}

uint32_t CanOut_sentCount(unsigned intf) { return intf < CANOUT_INTERFACES ? state().sent[intf].load() : 0; }

void CanOut_resetForTest() {
    clearState(state());
    CanOut_initConfig();
    canout_man_measerr = 0;
}
