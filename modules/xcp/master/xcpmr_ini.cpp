// Set-up of the XCP master: channel slots, instances with their DAQ records
// and transports, tasks and the start-condition lists.
#include <cstring>
#include <new>
#include <vector>

#include "platform/syslogx.h"
#include "xcp/master/xcpmr_internal.h"
#include "platform/task_stop.h"

std::atomic<XcpmrInstance*> xcpmr_handle[XCPMR_INSTANCES];
std::atomic<uint32_t> xcpmr_dropCount{0};
std::atomic<uint32_t> xcpmr_rejectCount{0};

namespace {
// XCP time units 0-12 (1 ns ... 1 s, then 1, 10, 100 ps) in 0.1 ms.
constexpr float kUnitFactor[13] = {1e-5f, 1e-4f, 1e-3f, 0.01f, 0.1f, 1.0f, 10.0f, 100.0f, 1000.0f, 10000.0f,
                                   1e-8f, 1e-7f, 1e-6f};

bool xcpmr_TimestampInit(XcpmrInstance* h) {
    const CalPage& c = xcpmrCal();
    const unsigned i = h->instance;
    const unsigned size = calLoad(c.CfgMat_XcpMr_TIMESTAMP_SIZE[i]);
    const unsigned res = calLoad(c.CfgMat_XcpMr_TIMESTAMP_RESOLUTION[i]);
    const uint32_t ticks = calLoad(c.CfgMat_XcpMr_TIMESTAMP_TICKS[i]);
    if (size != 0 && size != 1 && size != 2 && size != 4) {
        syslogx(147, "xcpmr_handler_ini: instance %d: timestamp size invalid %d", int(i), int(size));
        return false;
    }
    if (res > 12) {
        syslogx(147, "xcpmr_handler_ini: instance %d: timestamp resolution invalid %d", int(i), int(res));
        return false;
    }
    if (ticks == 0) {
        syslogx(147, "xcpmr_handler_ini: instance %d: timestamp ticks may not be 0", int(i));
        return false;
    }
    h->tsSize = uint8_t(size);
    h->tsUsed = size != 0;   // without a time stamp in the DTOs the local time is taken
    h->tsFactor = float(ticks) * kUnitFactor[res];
    return true;
}

bool xcpmr_handler_ini(XcpmrInstance* h) {
    const CalPage& c = xcpmrCal();
    const unsigned i = h->instance;
    h->sendState = XS_IDLE;
    h->bigEndian = calLoad(c.CfgMat_XcpMr_BIGENDIAN[i]) != 0;
    xcpmr_set_status(i, XCPMR_STOPPED);
    h->transport = calLoad(c.CfgMat_XcpMr_TransportLayer[i]);
    if (h->transport > 1) {
        syslogx(147, "xcpmr_handler_ini: instance %d: transport layer invalid %d", int(i), int(h->transport));
        return false;
    }
    if (h->transport == 0) {
        if (!xcpmr_TimestampInit(h)) {
            syslogx(147, "xcpmr_handler_ini: init timestamp support");
            return false;
        }
        if (!xcpmr_UdpInit(h, calLoad(c.CfgMat_XcpMr_UDP_ADDRESS[i]), calLoad(c.CfgMat_XcpMr_UDP_PORT[i]))) {
            syslogx(147, "xcpmr_handler_ini: init transport layer UDP");
            return false;
        }
        h->send = xcpmr_UdpSendPacket;
    } else {
        if (!xcpmr_CanInit(h)) {
            syslogx(147, "xcpmr_handler_ini: init transport layer CAN");
            return false;
        }
        h->send = xcpmr_CanSendPacket;
    }
    for (unsigned row = 0; row < XCPMR_DAQ_ROWS; ++row) {
        if (calLoad(c.CfgMat_XcpMr_DAQ_MRID[row]) != i) continue;
        auto d = std::unique_ptr<XcpmrDaq>(new (std::nothrow) XcpmrDaq);
        if (!d) {
            syslogx(147, "xcpmr_handler_ini: cannot alloc memory for daqs");
            return false;
        }
        d->inst = h;
        d->row = uint8_t(row);
        d->canId = calLoad(c.CfgMat_XcpMr_DAQ_CANID[row]);
        d->daqId = calLoad(c.CfgMat_XcpMr_DAQ_ID[row]);
        d->odtCap = calLoad(c.CfgMat_XcpMr_DAQ_ODT_NUM[row]);
        d->evtChan = calLoad(c.CfgMat_XcpMr_DAQ_EVT_CHAN[row]);
        d->prescaler = calLoad(c.CfgMat_XcpMr_DAQ_EVT_PRESC[row]);
        if (!daq_init(h, d.get())) return false;
        if (h->transport == 1 && !xcpmr_CanDaqInit(h, d.get())) return false;
        // the slave numbers only the lists it is asked for: those with ODTs
        if (d->odtsInUse) {
            d->listNo = uint16_t(h->listToDaq.size());
            h->listToDaq.push_back(uint16_t(h->daqs.size()));
        }
        h->daqs.push_back(std::move(d));
    }
    h->nDaq = uint8_t(h->daqs.size());
    h->nDaqOdt = uint8_t(h->listToDaq.size());
    return true;
}

void endInstance(XcpmrInstance* h) {
    h->ending = true;
    if (h->queue) {
        uint32_t wake[2] = {XT_ANSWER, 0};
        msgQSend(h->queue, wake, sizeof wake, NO_WAIT, MSG_PRI_URGENT);
    }
    bool ended = true;
    for (TASK_ID t : {h->task, h->rxTask})
        if (t && taskWait(t, 2000) != OK && !task_stop(t, "xcpmr end", "its instance with socket and queue"))
            ended = false;
    if (!ended) {   // a task given up in a system call may use them when its call returns
        static auto& kept = *new std::vector<XcpmrInstance*>;   // never destroyed: a leak, kept reachable
        kept.push_back(h);
        return;
    }
    xcpmr_UdpClose(h);
    if (h->queue) msgQDelete(h->queue);
    delete h;
}
}  // namespace

int xcpmr_ini() {
    if (!xcpmr_data_alloc()) {
        syslogx(147, "XCPMR: cannot alloc memory for xcp master");
        return -1;
    }
    xcpmr_data_ini();
    bool daqTask = false;
    for (unsigned i = 0; i < XCPMR_INSTANCES; ++i) {
        xcpmr_set_status(i, XCPMR_STOPPED);
        xcpmr_set_timestamp_state(i, 0);
        xcpmr_set_wander(i, 0);
        if (calLoad(xcpmrCal().CfgMat_XcpMr_ACTIVE[i]) == 0xFF) continue;
        auto* h = new (std::nothrow) XcpmrInstance;
        if (!h) {
            syslogx(147, "XCPMR: cannot alloc memory for xcp master");
            return -1;
        }
        h->instance = uint8_t(i);
        if (!xcpmr_handler_ini(h)) {
            xcpmr_UdpClose(h);
            delete h;
            xcpmr_set_status(i, XCPMR_SETUP_FAILED);
            continue;
        }
        if (!daqTask) {
            xcpmrDaqTaskCreate();
            daqTask = true;
        }
        xcpmr_handle[i] = h;   // built whole: from now on the hooks and receive paths see it
        if (xcpmrTaskCreate(h) != 0 || (h->transport == 0 && xcpmrTplRxTaskCreate(h) != 0)) {
            xcpmr_set_status(i, XCPMR_FAILED);
            return -1;
        }
        syslogx(150, "XCPMR: starting instance %d, %d DAQs.", int(i), int(h->nDaq));
        xcpmr_set_status(i, XCPMR_READY);
    }
    xcpmr_meas_ini();
    return 0;
}

uint32_t xcpmr_dropped() { return xcpmr_dropCount; }
uint32_t xcpmr_rejected() { return xcpmr_rejectCount; }

void xcpmr_terminate() {
    xcpmr_meas_end();
    xcpmrDaqTaskEnd();
    for (auto& slot : xcpmr_handle)
        if (XcpmrInstance* h = slot.exchange(nullptr)) endInstance(h);
    xcpmr_dropCount = 0;
    xcpmr_rejectCount = 0;
    xcpmr_measerr = 0;
    xcpmr_data_release();
}
