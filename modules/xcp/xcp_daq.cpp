// Data acquisition: dynamic DAQ lists, their ODTs and entries, the event
// channels the rasters fire, and the DTOs sent on each firing.
//
// The receive task changes the configuration, the raster tasks r1ms, r10ms
// and r100ms read it to send; both sides hold the connection's DAQ mutex, so
// a list is never sent while it is built or freed. Sending reads the values
// through prepared measurement handles and never waits on the queue.
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/raster.h"
#include "platform/syslogx.h"
#include "xcp/xcp_errno.h"
#include "xcp/xcp_eth.h"
#include "xcp/xcp_internal.h"

namespace {

constexpr uint8_t kDaqProperties = 0x13;   // dynamic, prescaler, time stamps
constexpr uint8_t kDaqKeyByte = 0x80;      // relative ODT number, absolute list number as a word
constexpr uint8_t kEntryGranularity = 1;
constexpr uint8_t kMaxEntrySize = 252;
constexpr uint8_t kTimestampMode = 0x5C;   // 4 bytes, fixed, unit 100 us
constexpr uint16_t kTimestampTicks = 1;
constexpr uint8_t kListMaxOdt = 1;
constexpr uint8_t kListMaxOdtEntries = 255;
constexpr uint8_t kListProperties = 0x06;  // EVENT_FIXED and DAQ
constexpr uint8_t kBitOffsetNone = 0xFF;
constexpr uint8_t kEventDaq = 0x04;
constexpr unsigned kEntryRaster = RASTER_10MS;

// Event channels: 0 r100ms, 1 r10ms, 2 r1ms, 3 not fired.
constexpr XcpEvent kEvents[XCP_MAX_EVENT_CHANNEL] = {
    {kEventDaq, 1, 0, 1, 8, 0x0C, nullptr},
    {kEventDaq, 1, 0, 1, 7, 0x0D, nullptr},
    {kEventDaq, 1, 0, 1, 6, 0x0E, nullptr},
    {kEventDaq, 1, 0, 0, 0, 0x0F, nullptr},
};

// One flood counter per reporting site and operation.
struct MutexFlood {
    uint8_t take = 0, give = 0;
};

// Holds the DAQ mutex for the scope of an operation; logs a failure to take
// or give it under the operation's name.
class DaqLock {
public:
    DaqLock(xcpHandle* c, const char* op, MutexFlood& flood) : c_(c), op_(op), flood_(flood) {
        ok_ = c->daqMutex && semTake(c->daqMutex, WAIT_FOREVER) == OK;
        if (!ok_)
            SYSLOGX_FLOOD(flood_.take, 147, "%s: could not take daq semaphore (%s)", op_, xcpErrnoText(errno).c_str());
    }
    ~DaqLock() {
        if (ok_ && semGive(c_->daqMutex) != OK)
            SYSLOGX_FLOOD(flood_.give, 147, "%s: could not give daq semaphore (%s)", op_, xcpErrnoText(errno).c_str());
    }
    bool ok() const { return ok_; }
    DaqLock(const DaqLock&) = delete;
    DaqLock& operator=(const DaqLock&) = delete;

private:
    xcpHandle* c_;
    const char* op_;
    MutexFlood& flood_;
    bool ok_;
};

MutexFlood gFloodAllocDaq, gFloodAllocOdt, gFloodAllocEntry, gFloodSetPtr, gFloodWrite, gFloodMode,
    gFloodStartStop, gFloodSynch, gFloodFree, gFloodSend;
uint8_t gFloodBitOffset = 0, gFloodQueue = 0;

void freeEntries(XcpOdt& odt) {
    for (unsigned e = 0; e < odt.entryCount; ++e) seramMeasFreeMeas(&odt.entries[e].handle);
    delete[] odt.entries;
    odt.entries = nullptr;
    odt.entryCount = 0;
    odt.bytesUsed = 0;
}

void freeOdts(XcpDaqList& list) {
    for (unsigned o = 0; o < list.odtCount; ++o) freeEntries(list.odts[o]);
    delete[] list.odts;
    list.odts = nullptr;
    list.odtCount = 0;
}

// Makes count zeroed ODTs or entries numbered from 0 (none for count 0);
// false, logged, when memory runs out.
template <class T>
bool allocNumbered(T*& out, uint8_t count, uint8_t T::*number) {
    out = nullptr;
    if (!count) return true;
    out = new (std::nothrow) T[count]();
    if (!out) {
        syslogx(147, "xcpAllocODT: could not alloc ODT_List (%s)", strerror(ENOMEM));
        return false;
    }
    for (unsigned i = 0; i < count; ++i) out[i].*number = uint8_t(i);
    return true;
}

// The list of an index below the list count, else nullptr.
XcpDaqList* listAt(xcpHandle* c, unsigned index) {
    return index < c->daq.listCount ? c->daq.lists[index] : nullptr;
}

void stopAll(xcpHandle* c, bool selectedOnly) {
    for (unsigned i = 0; i < c->daq.listCount; ++i) {
        XcpDaqList* l = c->daq.lists[i];
        if (l && (!selectedOnly || l->runState == DAQ_SELECTED)) l->runState = DAQ_STOPPED;
    }
}

// Builds and queues the DTOs of one list.
void sendList(xcpHandle* c, XcpDaqList* list) {
    if (list->prescalerCounter++ != 0) {
        if (list->prescalerCounter >= (list->prescaler ? list->prescaler : 1)) list->prescalerCounter = 0;
        return;
    }
    if (list->prescaler <= 1) list->prescalerCounter = 0;
    const uint32_t stamp = xcpTimestamp();
    XcpTxMsg msg;
    for (unsigned o = 0; o < list->odtCount; ++o) {
        const XcpOdt& odt = list->odts[o];
        if (odt.entryCount == 0) break;
        uint8_t* p = msg.packet();
        p[0] = odt.number;
        le_put16(p + 1, list->number);
        unsigned n = XCP_DTO_HEADER;
        if (o == 0) {
            le_put32(p + 3, stamp);
            n = XCP_DTO_HEADER_FIRST;
        }
        for (unsigned e = 0; e < odt.entryCount; ++e) {
            const XcpOdtEntry& en = odt.entries[e];
            if (n + en.size > XCP_MAX_DTO) break;   // bytesUsed keeps this from happening
            if (en.handle.ptr) seramMeasCopy(p + n, en.size, &en.handle);
            else std::memset(p + n, 0, en.size);   // an address no value stands behind
            n += en.size;
        }
        if (!xcpEthQueueDto(c, &msg, n))
            SYSLOGX_FLOOD(gFloodQueue, 147, "xcpSendCpDAQ(): msgQSend Error (%s)", xcpErrnoText(errno).c_str());
    }
}

}  // namespace

void xcpDaqInitConstants(xcpHandle* c) {
    XcpDaqProcessor& d = c->daq;
    d.maxEventChannel = XCP_MAX_EVENT_CHANNEL;
    d.maxDaq = XCP_MAX_DAQ;
    d.minDaq = 0;
    d.properties = kDaqProperties;
    d.keyByte = kDaqKeyByte;
    d.granularityDaq = kEntryGranularity;
    d.maxEntrySizeDaq = kMaxEntrySize;
    d.granularityStim = kEntryGranularity;
    d.maxEntrySizeStim = kMaxEntrySize;
    d.timestampMode = kTimestampMode;
    d.timestampTicks = kTimestampTicks;
    std::memcpy(d.events, kEvents, sizeof d.events);
    d.listCount = 0;
    d.allocState = ALLOC_NONE;
    for (auto& l : d.lists) l = nullptr;
    d.ptr = {0, 0, 0};
}

int xcpFreeDAQ(xcpHandle* c) {
    DaqLock lock(c, "xcpFreeDAQ", gFloodFree);
    if (!lock.ok()) return ERR_GENERIC;
    XcpDaqProcessor& d = c->daq;
    for (auto& ev : d.events)
        if (ev.list) ev.list->runState = DAQ_STOPPED;
    for (auto& l : d.lists) {
        if (!l) continue;
        freeOdts(*l);
        delete l;
        l = nullptr;
    }
    d.listCount = 0;
    d.allocState = ALLOC_NONE;
    for (auto& ev : d.events) ev.list = nullptr;
    return XCP_ANSWER;
}

int xcpStartStopSynch(xcpHandle* c, uint8_t mode) {
    if (mode > 2) return ERR_OUT_OF_RANGE;
    bool flush = false;
    {
        DaqLock lock(c, "xcpStartStopSynch", gFloodSynch);
        if (!lock.ok()) return ERR_GENERIC;
        if (mode == 1) {
            for (unsigned i = 0; i < c->daq.listCount; ++i) {
                XcpDaqList* l = c->daq.lists[i];
                if (l && l->runState == DAQ_SELECTED) l->runState = DAQ_RUNNING_STATE;
            }
            c->sessionStatus |= XCP_SESSION_DAQ_RUNNING;
        } else {
            stopAll(c, mode == 2);
            c->sessionStatus &= uint8_t(~XCP_SESSION_DAQ_RUNNING);
            flush = true;
        }
    }
    if (flush) xcpEthDtoFlush(c);
    return XCP_ANSWER;
}

void xcpSendCpDAQ(xcpHandle* c, int event) {
    if (event < 0 || event >= int(XCP_MAX_EVENT_CHANNEL)) return;
    DaqLock lock(c, "xcpSendCpDAQ", gFloodSend);
    if (!lock.ok()) return;
    XcpDaqList* list = c->daq.events[event].list;
    if (list && list->runState == DAQ_RUNNING_STATE) {
        sendList(c, list);
        xcpEthSendQueued(c);   // one wake of the transmit task for the event's DTOs
    }
}

// ---- commands --------------------------------------------------------------------------
int xcpCmdGetDaqProcessorInfo(xcpHandle* c, const uint8_t*, unsigned, XcpAnswer* a) {
    const XcpDaqProcessor& d = c->daq;
    xcpAnswerOk(a, {d.properties, uint8_t(d.maxDaq), uint8_t(d.maxDaq >> 8), uint8_t(d.maxEventChannel),
                    uint8_t(d.maxEventChannel >> 8), d.minDaq, d.keyByte});
    return XCP_ANSWER;
}

int xcpCmdGetDaqResolutionInfo(xcpHandle* c, const uint8_t*, unsigned, XcpAnswer* a) {
    const XcpDaqProcessor& d = c->daq;
    xcpAnswerOk(a, {d.granularityDaq, d.maxEntrySizeDaq, d.granularityStim, d.maxEntrySizeStim, d.timestampMode,
                    uint8_t(d.timestampTicks), uint8_t(d.timestampTicks >> 8)});
    return XCP_ANSWER;
}

int xcpCmdGetDaqListInfo(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    if (le_get16(cmd + 2) >= c->daq.maxDaq) return ERR_OUT_OF_RANGE;
    xcpAnswerOk(a, {kListProperties, kListMaxOdt, kListMaxOdtEntries, 0, 0});
    return XCP_ANSWER;
}

int xcpCmdGetDaqEventInfo(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    uint16_t ch = le_get16(cmd + 2);
    if (ch >= c->daq.maxEventChannel) return ERR_OUT_OF_RANGE;
    const XcpEvent& ev = c->daq.events[ch];
    xcpAnswerOk(a, {ev.properties, ev.maxDaqList, 0, ev.timeCycle, ev.timeUnit, ev.priority});
    return XCP_ANSWER;
}

int xcpCmdFreeDaq(xcpHandle* c, const uint8_t*, unsigned, XcpAnswer* a) {
    int r = xcpFreeDAQ(c);
    if (r == XCP_ANSWER) xcpAnswerOk(a);
    return r;
}

int xcpCmdAllocDaq(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    DaqLock lock(c, "xcpAllocDAQ", gFloodAllocDaq);
    if (!lock.ok()) return ERR_GENERIC;
    XcpDaqProcessor& d = c->daq;
    if (d.allocState != ALLOC_NONE) return ERR_SEQUENCE;
    if (le_get16(cmd + 2) > d.maxDaq) return ERR_OUT_OF_RANGE;
    // all lists are made whatever the count asks for
    for (unsigned i = 0; i < XCP_MAX_DAQ; ++i) {
        if (!d.lists[i]) d.lists[i] = new (std::nothrow) XcpDaqList{};
        if (!d.lists[i]) {
            syslogx(147, "xcpAllocDAQ: could not alloc DAQ (%s)", strerror(ENOMEM));
            for (auto& l : d.lists) {
                delete l;
                l = nullptr;
            }
            return ERR_MEMORY_OVERFLOW;
        }
        freeOdts(*d.lists[i]);   // lists kept over a protocol reset start empty
        *d.lists[i] = XcpDaqList{};
        d.lists[i]->number = uint16_t(i);
    }
    d.listCount = XCP_MAX_DAQ;
    d.allocState = ALLOC_LISTS;
    xcpAnswerOk(a);
    return XCP_ANSWER;
}

int xcpCmdAllocOdt(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    DaqLock lock(c, "xcpAllocODT", gFloodAllocOdt);
    if (!lock.ok()) return ERR_GENERIC;
    XcpDaqProcessor& d = c->daq;
    if (d.allocState < ALLOC_LISTS) return ERR_SEQUENCE;
    XcpDaqList* l = listAt(c, le_get16(cmd + 2));
    if (!l) return ERR_OUT_OF_RANGE;
    freeOdts(*l);   // a list is given its ODTs anew
    if (!allocNumbered(l->odts, cmd[4], &XcpOdt::number)) return ERR_MEMORY_OVERFLOW;
    l->odtCount = cmd[4];
    d.allocState = ALLOC_ODTS;
    xcpAnswerOk(a);
    return XCP_ANSWER;
}

int xcpCmdAllocOdtEntry(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    DaqLock lock(c, "xcpAllocODTEntry", gFloodAllocEntry);
    if (!lock.ok()) return ERR_GENERIC;
    XcpDaqProcessor& d = c->daq;
    if (d.allocState < ALLOC_ODTS) return ERR_SEQUENCE;
    XcpDaqList* l = listAt(c, le_get16(cmd + 2));
    if (!l || cmd[4] >= l->odtCount) return ERR_OUT_OF_RANGE;
    XcpOdt& odt = l->odts[cmd[4]];
    freeEntries(odt);
    if (!allocNumbered(odt.entries, cmd[5], &XcpOdtEntry::index)) return ERR_MEMORY_OVERFLOW;
    odt.entryCount = cmd[5];
    d.allocState = ALLOC_ENTRIES;
    xcpAnswerOk(a);
    return XCP_ANSWER;
}

int xcpCmdSetDaqPtr(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    DaqLock lock(c, "xcpSetDAQPtr", gFloodSetPtr);
    if (!lock.ok()) return ERR_GENERIC;
    uint16_t list = le_get16(cmd + 2);
    XcpDaqList* l = listAt(c, list);
    if (!l || cmd[4] >= l->odtCount || cmd[5] >= l->odts[cmd[4]].entryCount) return ERR_OUT_OF_RANGE;
    c->daq.ptr = {list, cmd[4], cmd[5]};
    xcpAnswerOk(a);
    return XCP_ANSWER;
}

int xcpCmdWriteDaq(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    const uint8_t bitOffset = cmd[1], size = cmd[2], ext = cmd[3];
    const uint32_t address = le_get32(cmd + 4);
    int r = xcpValidateMTA_Address(ext, address);
    if (r == XCP_ANSWER && bitOffset != kBitOffsetNone) r = ERR_OUT_OF_RANGE;
    if (r == XCP_ANSWER) {
        DaqLock lock(c, "xcpWriteDAQ", gFloodWrite);
        if (!lock.ok()) return ERR_GENERIC;
        // the pointer may be stale (FREE_DAQ, a new ALLOC) or run past the entries
        const XcpDaqPtr p = c->daq.ptr;
        XcpDaqList* l = listAt(c, p.list);
        if (!l || p.odt >= l->odtCount || p.entry >= l->odts[p.odt].entryCount) return ERR_OUT_OF_RANGE;
        XcpOdt& odt = l->odts[p.odt];
        XcpOdtEntry& en = odt.entries[p.entry];
        const unsigned header = p.odt == 0 ? XCP_DTO_HEADER_FIRST : XCP_DTO_HEADER;
        const unsigned used = odt.bytesUsed - en.size;   // an entry written again gives its bytes back
        if (used + size + header > XCP_MAX_DTO) return ERR_MEMORY_OVERFLOW;
        odt.bytesUsed = uint16_t(used + size);
        seramMeasFreeMeas(&en.handle);
        seramMeasSetupMeas(address, kEntryRaster, &en.handle, size);
        en.index = p.entry;
        en.address = address;
        en.bitOffset = bitOffset;
        en.extension = ext;
        en.size = size;
        ++c->daq.ptr.entry;
        xcpAnswerOk(a);
        return XCP_ANSWER;
    }
    if (bitOffset != kBitOffsetNone) SYSLOGX_FLOOD(gFloodBitOffset, 147, "XCP WRITE_DAQ: Bit Offset not supported.");
    return r;
}

int xcpCmdSetDaqListMode(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    DaqLock lock(c, "xcpSetDAQListMode", gFloodMode);
    if (!lock.ok()) return ERR_GENERIC;
    uint16_t channel = le_get16(cmd + 4);
    XcpDaqList* l = listAt(c, le_get16(cmd + 2));
    if (channel >= c->daq.maxEventChannel || !l) return ERR_OUT_OF_RANGE;
    c->daq.events[channel].list = l;
    l->mode = cmd[1];
    l->prescaler = cmd[6];
    l->priority = cmd[7];
    l->runState = DAQ_STOPPED;
    xcpAnswerOk(a);
    return XCP_ANSWER;
}

int xcpCmdStartStopDaqList(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    DaqLock lock(c, "xcpStartStopDAQList", gFloodStartStop);
    if (!lock.ok()) return ERR_GENERIC;
    if (cmd[1] > 2) return ERR_MODE_NOT_VALID;
    XcpDaqList* l = listAt(c, le_get16(cmd + 2));
    if (!l) return ERR_OUT_OF_RANGE;
    l->runState = cmd[1];
    l->prescalerCounter = 0;
    xcpAnswerOk(a, {0});   // FIRST_PID: ODT numbers count from 0
    return XCP_ANSWER;
}

int xcpCmdStartStopSynch(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    int r = xcpStartStopSynch(c, cmd[1]);
    if (r == XCP_ANSWER) xcpAnswerOk(a);
    return r;
}

int xcpCmdGetDaqClock(xcpHandle*, const uint8_t*, unsigned, XcpAnswer* a) {
    xcpAnswerOk(a, {0, 0, 0});
    le_put32(a->data + 4, xcpTimestamp());
    a->length = 8;
    return XCP_ANSWER;
}
