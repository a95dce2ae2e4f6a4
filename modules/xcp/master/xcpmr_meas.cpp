// Measurement lists of one master DAQ, and the start-condition values the
// master subscribes through the gateway.
#include <mutex>

#include "platform/syslogx.h"
#include "xcp/master/xcpmr_internal.h"

std::atomic<uint32_t> xcpmr_measerr{0};

namespace {
// Pairs of a linked list and its DAQ; also guards the DAQs' list slots.
std::mutex gMx;
struct Pair {
    XcpmrDaq* daq;
    uint32_t listId;
};
Pair xcpmr_meas_daq_mem[XCPMR_MEAS_PAIRS] = {};

gw_conn_t gConn = nullptr;
std::atomic<uint8_t> gFloodMix{0}, gFloodFind{0};

int xcpmr_meas_read(unsigned long status, void* data, void* user) {
    auto* h = static_cast<XcpmrInstance*>(user);
    if (status != 0 || !data) {
        h->condValid = 0;
        return 1;
    }
    const uint8_t* v = static_cast<const uint8_t*>(data) + 4;   // behind the time stamp
    uint32_t value = 0;
    for (unsigned k = 0; k < h->condSize; ++k) value = value << 8 | v[k];
    h->condValue = int32_t(value);
    h->condValid = 1;
    return 1;
}

int xcpmr_meas_stop(unsigned long err, void*, void*) {
    if (err) {
        ++xcpmr_measerr;
        return 0;
    }
    return 1;
}
int xcpmr_meas_start(unsigned long err, void*, void*) { return xcpmr_meas_stop(err, nullptr, nullptr); }

const callback_list xcpmr_callbacks = {{{xcpmr_meas_read, 100},
                                        {xcpmr_meas_stop, 100},
                                        {xcpmr_meas_start, 100},
                                        {nullptr, 0},
                                        {nullptr, 0},
                                        {nullptr, 0}}};

void xcpmr_setup_gw_meas(XcpmrInstance* h) {
    const CalPage& c = xcpmrCal();
    const uint32_t adr = calLoad(c.CfgMat_XcpMr_Cond_Adr[h->instance]);
    const int condSize = calLoad(c.CfgMat_XcpMr_Cond_size[h->instance]);
    const int size = condSize < 0 ? -condSize : condSize;
    if (size != 1 && size != 2 && size != 4) {
        syslogx(147, "XcpMr start condition: Error for address 0x%x.8, invalid data size: %d", adr, size);
        return;
    }
    const uint32_t list[4] = {uint32_t(-size), adr & 0xFFFFFF, 0, 0};
    h->condSize = uint8_t(size);
    h->condConfigured = 1;
    h->condList = gw_setup_list(gConn, list, h, sizeof list, 3, uint16_t(adr >> 24), 0, 0, 0, 0, 0, 0);
    if (!h->condList || !gw_start_list(h->condList)) syslogx(147, "xcpmr_setup_gw_meas(): Error gw_setup_list");
}

bool isTypeWord(uint32_t w) {
    const int32_t s = int32_t(w);
    return s == 0 || s == -1 || s == -2 || s == -4 || s == -8;
}
}  // namespace

const meas_master_hooks xcpmr_meas_hooks = {xcpmr_checkMeasList, xcpmr_measlist_create};

void xcpmr_meas_lock() { gMx.lock(); }
void xcpmr_meas_unlock() { gMx.unlock(); }

XcpmrDaq* get_daq_handle_by_index(unsigned channel) {
    if (channel >= XCPMR_CHANNELS) return nullptr;
    const CalPage& c = xcpmrCal();
    const unsigned row = calLoad(c.CfgMat_XcpMr_CHAN_DAQ[channel]);
    const unsigned inst = row < XCPMR_DAQ_ROWS ? calLoad(c.CfgMat_XcpMr_DAQ_MRID[row]) : XCPMR_INSTANCES;
    XcpmrInstance* h = inst < XCPMR_INSTANCES ? xcpmr_handle[inst].load() : nullptr;
    if (!h) {
        SYSLOGX_FLOOD(gFloodFind, 147, "xcpmr_meas: could not find xcpmr_handle, when creating measlist ");
        return nullptr;
    }
    for (auto& d : h->daqs)
        if (d->row == row) return d.get();
    SYSLOGX_FLOOD(gFloodFind, 147, "xcpmr_meas: could not find daq, when creating measlist ");
    return nullptr;
}

int xcpmr_checkMeasList(const uint32_t* elems, unsigned lenBytes, void** daqOut, int bigEndian) {
    if (!elems || !daqOut) return 0;
    XcpmrDaq* first = nullptr;
    bool mine = false, other = false, mixed = false;
    for (unsigned i = 0; i < lenBytes / 4; ++i) {
        const uint32_t w = bigEndian ? __builtin_bswap32(elems[i]) : elems[i];
        if (isTypeWord(w)) continue;
        if (MEASADDR_CLASS(w) != MEASADDR_CLASS_XCPMR) {
            other = true;
            continue;
        }
        mine = true;
        const unsigned ch = w & 0xFFF;
        XcpmrDaq* d = ch < XCPMR_CHANNELS && calLoad(xcpmrCal().CfgMat_XcpMr_CHAN_DAQ[ch]) < XCPMR_DAQ_ROWS
                          ? get_daq_handle_by_index(ch)
                          : nullptr;
        if (!d) return 0;   // a channel of no DAQ: copied on the list's raster
        if (!first) first = d;
        else if (d != first) mixed = true;
    }
    if (mine && (other || mixed)) {
        SYSLOGX_FLOOD(gFloodMix, 147, "XCPMR: mixture XCPMR and normal channel detected, no special timing treatment.");
        return 0;
    }
    if (!first) return 0;
    *daqOut = first;
    return 1;
}

meas_master_unlink_fn xcpmr_measlist_create(uint32_t listId, void* daqHandle) {
    auto* daq = static_cast<XcpmrDaq*>(daqHandle);
    meas_master_list* rec = meas_master_list_get(listId);
    bool known = false;
    for (unsigned i = 0; i < XCPMR_INSTANCES && !known; ++i)
        if (XcpmrInstance* h = xcpmr_handle[i].load())
            for (auto& d : h->daqs) known |= d.get() == daq;
    if (!daq || !known || !rec) {
        syslogx(147, "xcpmr_meas: could not link daq to measlist, invaild daq_handle");
        return nullptr;
    }
    std::lock_guard<std::mutex> lk(gMx);
    Pair* pair = nullptr;
    for (auto& p : xcpmr_meas_daq_mem)
        if (!p.daq) {
            pair = &p;
            break;
        }
    if (!pair) {
        syslogx(147, "xcpmr_meas: could not link daq to measlist, no free element");
        return nullptr;
    }
    for (unsigned s = 0; s < XCPMR_DAQ_LIST_SLOTS; ++s) {
        if (daq->lists[s]) continue;
        daq->lists[s] = rec;
        daq->listIds[s] = listId;
        *pair = Pair{daq, listId};
        return xcpmr_measlist_destroy;
    }
    syslogx(147, "xcpmr_meas: could not link daq to measlist, no free element in daq");
    return nullptr;   // the pair was not taken
}

void xcpmr_measlist_destroy(uint32_t listId) {
    std::lock_guard<std::mutex> lk(gMx);
    Pair* pair = nullptr;
    for (auto& p : xcpmr_meas_daq_mem)
        if (p.daq && p.listId == listId) pair = &p;
    if (!pair) {
        syslogx(147, "xcpmr_meas: could not unlink measlist, measlist not found");
        return;
    }
    XcpmrDaq* daq = pair->daq;
    *pair = Pair{};
    for (unsigned s = 0; s < XCPMR_DAQ_LIST_SLOTS; ++s)
        if (daq->lists[s] && daq->listIds[s] == listId) {
            daq->lists[s] = nullptr;
            daq->listIds[s] = 0;
            return;
        }
    syslogx(147, "xcpmr_meas: could not unlink measlist from daq, measlist not found in daq");
}

void xcpmr_meas_ini() {
    gConn = gw_connect(&xcpmr_callbacks);
    if (!gConn) {
        syslogx(147, "XCPMR: cannot connect to gateway.");
        return;
    }
    for (unsigned i = 0; i < XCPMR_INSTANCES; ++i) {
        XcpmrInstance* h = xcpmr_handle[i].load();
        if (h && calLoad(xcpmrCal().CfgMat_XcpMr_Cond_Adr[i]) != 0xFFFFFFFFu) xcpmr_setup_gw_meas(h);
    }
}

void xcpmr_meas_end() {
    if (gConn) gw_disconnect(gConn);
    gConn = nullptr;
    std::lock_guard<std::mutex> lk(gMx);
    for (auto& p : xcpmr_meas_daq_mem) p = Pair{};
}
