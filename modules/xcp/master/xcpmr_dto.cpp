// DTO reception of the XCP master and its DAQ task ("T_xmrDaq").
//
// The receive paths (UDP receive tasks, the 1 ms raster for CAN) identify the
// DAQ and ODT of each DTO, check both against the configured lists and hand
// the data to the DAQ task without waiting. The DAQ task stores the values
// into their channel slots and, after the last ODT of a DAQ, writes the DAQ's
// linked measurement lists.
#include <cerrno>
#include <cstring>

#include "measurement/measman.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "xcp/master/xcpmr_internal.h"
#include "xcp/xcp_codes.h"
#include "xcp/xcp_errno.h"
#include "platform/task_stop.h"

namespace {
using DaqMsg = XcpmrDaqMsg;
constexpr unsigned kDaqMsgHead = offsetof(DaqMsg, data);

MSG_Q_ID gDaqQueue = nullptr;
TASK_ID gDaqTask = nullptr;
std::atomic<bool> gDaqEnding{false};
std::atomic<uint8_t> gFloodCto{0}, gFloodCtoCan{0}, gFloodDto{0}, gFloodReject{0}, gFloodDaqRecv{0};

bool reject(const char* what, unsigned a, unsigned b) {
    ++xcpmr_rejectCount;
    SYSLOGX_FLOOD(gFloodReject, 147 | SYSLOGX_LOSS, "xcpmr: DTO dropped, %s %u/%u not configured", what, a, b);
    return false;
}

template <class T>
void store(uint8_t* slot, T v) { __atomic_store_n(reinterpret_cast<T*>(slot), v, __ATOMIC_RELAXED); }
template <class T>
T load(const uint8_t* slot) { return __atomic_load_n(reinterpret_cast<const T*>(slot), __ATOMIC_RELAXED); }

void xcpmrDaqTask() {
    DaqMsg m;
    for (;;) {
        const long n = msgQReceive(gDaqQueue, &m, sizeof m, WAIT_FOREVER);
        if (gDaqEnding) return;
        if (n < long(kDaqMsgHead)) {
            SYSLOGX_FLOOD(gFloodDaqRecv, 147, "xcpmrDaqTask: _msgq_receive()");
            continue;
        }
        XcpmrInstance* h = m.instance < XCPMR_INSTANCES ? xcpmr_handle[m.instance].load() : nullptr;
        if (!h || m.daq >= h->daqs.size()) continue;
        XcpmrDaq* daq = h->daqs[m.daq].get();
        if (m.odt >= daq->odtsInUse) continue;
        const XcpmrOdt& odt = daq->odts[m.odt];
        if (m.len < odt.bytesUsed) continue;   // checked by the receive path already
        xcpmr_store_odt(h, odt, m.data);
        for (unsigned e = 0; e < odt.entryCount; ++e) xcpmr_reset_timeout(odt.entries[e].channel);
        if (m.odt + 1u == daq->odtsInUse) {
            daq->timeStamp = m.timeStamp;
            xcpmr_serve_lists(daq);
        }
    }
}
}  // namespace

void xcpmr_store_odt(const XcpmrInstance* h, const XcpmrOdt& odt, const uint8_t* data) {
    const bool be = h->bigEndian;
    for (unsigned e = 0; e < odt.entryCount; ++e) {
        const XcpmrEntry& en = odt.entries[e];
        const uint8_t* src = data + en.offset;
        uint8_t* slot = xcpmr_slot(en.channel);
        // one store of the value's size, in memory byte order
        switch (en.size) {
        case 1: store<uint8_t>(slot, src[0]); break;
        case 2: store<uint16_t>(slot, be ? be_get16(src) : uint16_t(src[0] | src[1] << 8)); break;
        default: {
            uint32_t v;
            std::memcpy(&v, src, 4);
            store<uint32_t>(slot, be ? be_get32(src) : v);
            break;
        }
        }
    }
}

void xcpmr_serve_lists(XcpmrDaq* daq) {
    xcpmr_meas_lock();
    const uint32_t ts = daq->timeStamp;
    for (meas_master_list* l : daq->lists) {
        if (!l) continue;
        uint16_t c = l->counter;
        if (c == 0) continue;   // paused
        if (c > 1) {
            l->counter.compare_exchange_strong(c, uint16_t(c - 1));
            continue;
        }
        uint8_t* s = dynkomm_write(l->fifo);
        if (!s) {
            meas_man_count_loss();
        } else {
            const unsigned room = l->fifo->slotsize;
            be_put32(s, ts);
            unsigned pos = 4;
            size_t i = 0;
            const std::vector<uint32_t>& w = l->elems;
            while (i < w.size()) {
                const int32_t size = int32_t(w[i++]);
                if (size != -1 && size != -2 && size != -4) break;   // the closing 0
                for (; i < w.size() && w[i] != 0; ++i) {
                    const unsigned n = unsigned(-size);
                    if (pos + n > room) break;
                    const unsigned ch = w[i] & 0xFFF;
                    const uint8_t* slot = ch < XCPMR_CHANNELS ? xcpmr_slot(ch) : nullptr;
                    if (n == 4) be_put32(s + pos, slot ? load<uint32_t>(slot) : 0);
                    else if (n == 2) be_put16(s + pos, slot ? load<uint16_t>(slot) : 0);
                    else s[pos] = slot ? load<uint8_t>(slot) : 0;
                    pos += n;
                }
                ++i;   // the group's 0
            }
            dynkomm_writedone(l->fifo);
        }
        uint16_t one = 1;
        l->counter.compare_exchange_strong(one, l->divider.load());   // unless paused meanwhile
    }
    xcpmr_meas_unlock();
}

bool xcpmr_decode_dto(XcpmrInstance* h, const uint8_t* p, unsigned len, bool fromCan, XcpmrDaqMsg* m) {
    unsigned odt = 0, list = 0, head = 0;
    const int be = h->bigEndian;
    switch (h->keyByte >> 6) {
    case 0: {
        const uint32_t e = h->pidMap[p[0]];   // p[0] < 0xFC, the map's size
        if (!(e >> 24) || (e & 0xFFFF) >= h->daqs.size()) return reject("PID", p[0], 0);
        odt = (e >> 16) & 0xFF;
        list = h->daqs[e & 0xFFFF]->listNo;
        head = 1;
        break;
    }
    case 1:
        if (len < 2) return reject("short DTO", len, 0);
        odt = p[0];
        list = p[1];
        head = 2;
        break;
    case 2:
        if (len < 3) return reject("short DTO", len, 0);
        odt = p[0];
        list = word_conv(uint32_t(p[1] | p[2] << 8), be);
        head = 3;
        break;
    default:
        if (len < 4) return reject("short DTO", len, 0);
        odt = p[0];
        list = word_conv(uint32_t(p[2] | p[3] << 8), be);
        head = 4;
        break;
    }
    if (list >= h->listToDaq.size()) return reject("DAQ/ODT", list, odt);
    const uint16_t di = h->listToDaq[list];
    XcpmrDaq* daq = h->daqs[di].get();
    if (!daq->active || odt >= daq->odtsInUse) return reject("DAQ/ODT", list, odt);
    h->noDataTicks = 0;
    uint32_t ts = daq->timeStamp;
    if (odt == 0) {
        if (!fromCan && h->tsUsed) {
            if (len < head + h->tsSize) return reject("short DTO", len, odt);
            uint32_t raw = 0;
            for (unsigned k = 0; k < h->tsSize; ++k) raw |= uint32_t(p[head + k]) << (8 * k);
            if (be) raw = adr_conv(raw, 1) >> (8 * (4 - h->tsSize));
            head += h->tsSize;
            ts = uint32_t(int64_t(double(raw) * h->tsFactor) + h->tsOffset.load());
        } else {
            ts = xcpmr_local_ts();
        }
        daq->timeStamp = ts;
    }
    if (len - head < daq->odts[odt].bytesUsed) return reject("short DTO", len, odt);
    m->instance = h->instance;
    m->odt = uint8_t(odt);
    m->daq = di;
    m->timeStamp = ts;
    m->len = uint16_t(len - head);
    std::memcpy(m->data, p + head, m->len);
    return true;
}

void xcpmr_packet(XcpmrInstance* h, const uint8_t* p, unsigned len, bool fromCan) {
    if (len == 0) return;
    if (p[0] >= 0xFC) {   // answer, error, event or service request
        xcpmr_post(h, XT_ANSWER, p, len,
                   fromCan ? "xcpmr_RxHandler(): msgQSend(CTO) error: %s" : "xcpmrTplRxTask(): msgQSend(CTO) error: %s",
                   fromCan ? gFloodCtoCan : gFloodCto);
        return;
    }
    if (!fromCan && xcpmr_get_status(h->instance) != XCPMR_RUNNING) return;
    DaqMsg m;
    if (!xcpmr_decode_dto(h, p, len, fromCan, &m)) return;
    if (!gDaqQueue || msgQSend(gDaqQueue, &m, kDaqMsgHead + m.len, NO_WAIT, MSG_PRI_NORMAL) != OK) {
        ++xcpmr_dropCount;
        SYSLOGX_FLOOD(gFloodDto, 147 | SYSLOGX_LOSS, "xcpmrTplRxTask(): msgQSend(DTO) error: %s", xcpErrnoText(errno ? errno : EAGAIN).c_str());
    }
}

int xcpmrDaqTaskCreate() {
    if (gDaqTask) return 0;
    gDaqQueue = msgQCreate(XCPMR_QUEUE_MSGS, sizeof(DaqMsg), MSG_Q_FIFO);
    if (!gDaqQueue) {
        syslogx(147, "xcpmrDaqTaskCreate: msgQCreate() failed ");
        return -1;
    }
    SEM_ID sem = semCCreate(SEM_Q_FIFO, 0);
    if (!sem) {
        syslogx(147, "xcpmrDaqTaskCreate: semCCreate failed");
        return -1;
    }
    gDaqEnding = false;
    gDaqTask = taskSpawn("T_xmrDaq", 112, VX_FP_TASK, 500000, [sem] {
        if (semGive(sem) != OK) syslogx(147, "xcpmrDaqTask: failed to post sem Error!");
        xcpmrDaqTask();
    });
    int r = 0;
    if (!gDaqTask) {
        syslogx(147, "xcpmrDaqTaskCreate(): create task failed");
        r = -1;
    } else if (semTake(sem, 5000) != OK) {
        syslogx(147, "xcpmrDaqTaskCreate: failed to take sem");
        r = -1;
    }
    if (semDelete(sem) != OK) syslogx(147, "ccpmrDaqTaskCreate: failed to destroy sem");
    return r;
}

void xcpmrDaqTaskEnd() {
    if (!gDaqTask) return;
    gDaqEnding = true;
    uint8_t wake = 0;
    msgQSend(gDaqQueue, &wake, 1, NO_WAIT, MSG_PRI_URGENT);
    const bool ended = taskWait(gDaqTask, 2000) == OK || task_stop(gDaqTask, "xcpmrDaqTaskEnd()", "its queue");
    gDaqTask = nullptr;
    // a task given up in a system call may use its queue when its call returns
    if (ended) msgQDelete(gDaqQueue);
    gDaqQueue = nullptr;
}
