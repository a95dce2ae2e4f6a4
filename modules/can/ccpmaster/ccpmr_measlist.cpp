// Measurement lists of CCP channels of one DAQ list: the measurement manager
// links them here, and the DAQ task writes their FIFO once per DAQ cycle
// with the cycle's time stamp instead of the raster copy.
#include <cstring>

#include "can/ccpmaster/ccpmr_internal.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "measurement/measman.h"

CcpListLink meas_daq_mem[CCPMR_MEAS_LINKS];
std::mutex ccpmr_linkMx;

namespace {
std::atomic<uint8_t> gFloodCheck{0}, gFloodLink{0};   // several tasks create lists

bool isCcpChannel(uint32_t a) { return MEASADDR_CLASS(a) == MEASADDR_CLASS_CCPMR; }

// DAQ record of a channel through its DAQ list and instance; logged null.
CcpDaqList* get_daq_handle_by_index(unsigned chan) {
    if (chan >= CCPMR_CHANNELS) return nullptr;
    const CalPage& p = calActive();
    const unsigned d = calLoad(p.CfgMat_CcpMr_CHAN_DAQ[chan]);
    const unsigned inst = d < CCPMR_DAQS ? calLoad(p.CfgMat_CcpMr_DAQ_MRID[d]) : CCPMR_INSTANCES;
    CcpMaster* m = inst < CCPMR_INSTANCES ? ccpmr_handle[inst] : nullptr;
    if (!m) {
        SYSLOGX_FLOOD(gFloodCheck, 147, "ccpmr_meas: ccpmr not initialized (%d)", int(inst));
        return nullptr;
    }
    for (unsigned i = 0; i < m->nDaq; ++i)
        if (m->daq[i].cfgIndex == d) return &m->daq[i];
    SYSLOGX_FLOOD(gFloodCheck, 147, "ccpmr_meas: could not find daq, when creating measlist ");
    return nullptr;
}

// The values of a description in slot order; false for a channel beyond
// the slots or a malformed description.
bool valuesOf(const std::vector<uint32_t>& w, CcpListLink* l) {
    l->values.clear();
    l->bytes = 4;
    size_t i = 0;
    while (i < w.size()) {
        const int32_t size = int32_t(w[i++]);
        if (size == 0) return !l->values.empty();
        if (size != -1 && size != -2 && size != -4) return false;
        for (;;) {
            if (i >= w.size()) return false;
            const uint32_t a = w[i++];
            if (a == 0) break;
            const unsigned chan = a & 0xFFFu;
            if (chan >= CCPMR_CHANNELS) return false;
            l->values.push_back({uint16_t(chan), uint8_t(-size)});
            l->bytes += unsigned(-size);
        }
    }
    return false;
}

void writeSlot(const CcpListLink& l, uint32_t timeStamp) {
    dynkomm_fifo_t* fifo = l.rec->fifo;
    if (!fifo || l.bytes > fifo->slotsize) return;
    uint8_t* slot = dynkomm_write(fifo);
    if (!slot) {   // full: this cycle's slot is lost
        meas_man_count_loss();
        return;
    }
    be_put32(slot, timeStamp);
    uint8_t* p = slot + 4;
    for (const CcpListLink::Value& v : l.values) {
        const uint8_t* src = reinterpret_cast<const uint8_t*>(&ccpmr_measdata[v.chan]);
        switch (v.size) {
        case 4: be_put32(p, __atomic_load_n(reinterpret_cast<const uint32_t*>(src), __ATOMIC_RELAXED)); break;
        case 2: be_put16(p, __atomic_load_n(reinterpret_cast<const uint16_t*>(src), __ATOMIC_RELAXED)); break;
        default: *p = __atomic_load_n(src, __ATOMIC_RELAXED); break;
        }
        p += v.size;
    }
    dynkomm_writedone(fifo);
}

const meas_master_hooks kHooks = {ccpmr_checkMeasList, ccpmr_measlist_create};
}  // namespace

const meas_master_hooks* ccpmr_masterHooks() { return &kHooks; }

int ccpmr_checkMeasList(const uint32_t* elems, unsigned lenBytes, void** daq, int byteSwap) {
    if (!elems || !daq) return 0;
    *daq = nullptr;
    bool ccp = false, mixed = false, otherDaq = false;
    uint32_t fixed = 0;
    CcpDaqList* found = nullptr;
    for (unsigned i = 0; i < lenBytes / 4; ++i) {
        uint32_t w = elems[i];
        if (byteSwap) w = __builtin_bswap32(w);
        if (w == 0 || w == 0xFFFFFFFFu || w == uint32_t(-2) || w == uint32_t(-4) || w == uint32_t(-8)) continue;
        if (!isCcpChannel(w)) {
            mixed = true;
            continue;
        }
        if (!ccp) {
            ccp = true;
            fixed = w & 0xFFFFF000u;
            found = get_daq_handle_by_index(w & 0xFFFu);
            if (!found) return 0;
            continue;
        }
        if ((w & 0xFFFFF000u) != fixed) {
            mixed = true;
            continue;
        }
        // values of another DAQ list arrive in other cycles
        const unsigned chan = w & 0xFFFu;
        if (chan >= CCPMR_CHANNELS || calLoad(calActive().CfgMat_CcpMr_CHAN_DAQ[chan]) != found->cfgIndex) otherDaq = true;
    }
    if (!ccp) return 0;
    if (mixed) {
        SYSLOGX_FLOOD(gFloodCheck, 147, "CCPMR: mixture CCPMR and normal channel detected, no special timing treatment.");
        return 0;
    }
    if (otherDaq) {
        SYSLOGX_FLOOD(gFloodCheck, 147, "CCPMR: channels of several DAQs in one list, no special timing treatment.");
        return 0;
    }
    *daq = found;
    return 1;
}

meas_master_unlink_fn ccpmr_measlist_create(uint32_t listId, void* daq) {
    auto* d = static_cast<CcpDaqList*>(daq);
    if (!d) {
        SYSLOGX_FLOOD(gFloodLink, 147, "ccpmr_meas: no daq handle");
        return nullptr;
    }
    meas_master_list* rec = meas_master_list_get(listId);
    if (!rec) return nullptr;
    std::lock_guard<std::mutex> lk(ccpmr_linkMx);
    CcpListLink* l = nullptr;
    for (CcpListLink& e : meas_daq_mem)
        if (!e.daq) {
            l = &e;
            break;
        }
    if (!l) {
        SYSLOGX_FLOOD(gFloodLink, 147, "ccpmr_meas: could not link daq to measlist, no free element");
        return nullptr;
    }
    unsigned k = 0;
    while (k < CCPMR_DAQ_LINKS && d->lists[k]) ++k;
    if (k == CCPMR_DAQ_LINKS) {
        SYSLOGX_FLOOD(gFloodLink, 147, "ccpmr_meas: could not link daq to measlist, no free element in daq");
        return nullptr;
    }
    if (!valuesOf(rec->elems, l)) return nullptr;
    l->daq = d;
    l->listId = listId;
    l->rec = rec;
    d->lists[k] = l;
    return ccpmr_measlist_destroy;
}

void ccpmr_measlist_destroy(uint32_t listId) {
    std::lock_guard<std::mutex> lk(ccpmr_linkMx);
    CcpListLink* l = nullptr;
    for (CcpListLink& e : meas_daq_mem)
        if (e.daq && e.listId == listId) {
            l = &e;
            break;
        }
    if (!l) {
        SYSLOGX_FLOOD(gFloodLink, 147, "ccpmr_meas: could not unlink measlist, measlist not found");
        return;
    }
    bool inDaq = false;
    for (CcpListLink*& s : l->daq->lists)
        if (s == l) {
            s = nullptr;
            inDaq = true;
        }
    if (!inDaq) SYSLOGX_FLOOD(gFloodLink, 147, "ccpmr_meas: could not unlink measlist from daq, measlist not found in daq");
    *l = CcpListLink{};
}

void ccpmr_serve_lists(CcpDaqList* d) {
    std::lock_guard<std::mutex> lk(ccpmr_linkMx);
    for (CcpListLink* l : d->lists) {
        if (!l) continue;
        std::atomic<uint16_t>& cnt = l->rec->counter;
        uint16_t c = cnt.load();
        // 0: paused; above 1: count down; 1: due. A pause set meanwhile wins.
        if (c == 0) continue;
        if (c > 1) {
            cnt.compare_exchange_strong(c, uint16_t(c - 1));
            continue;
        }
        writeSlot(*l, d->cycleStamp);
        uint16_t reload = l->rec->divider.load();
        cnt.compare_exchange_strong(c, reload ? reload : uint16_t(1));
    }
}

void ccpmr_measlist_reset() {
    std::lock_guard<std::mutex> lk(ccpmr_linkMx);
    for (CcpListLink& e : meas_daq_mem) e = CcpListLink{};
    gFloodCheck = gFloodLink = 0;
}
