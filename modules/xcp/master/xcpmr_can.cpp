// XCP on CAN for the master: commands in one frame on the command id,
// answers on the answer id and DTOs on the ids of the DAQ rows; all received
// frames are sorted by their first byte (CTO or DTO).
#include <algorithm>
#include <cstring>

#include "platform/can_front.h"
#include "platform/error_mgr.h"
#include "platform/syslogx.h"
#include "xcp/master/xcpmr_internal.h"

namespace {
std::atomic<uint8_t> gFloodNull{0};

// Receive callbacks of the 1 ms raster (answer id and DAQ ids); the user word
// is the instance number, so that a frame for an instance that is gone finds
// no record. Both sort the frame by its first byte: an id that carries
// answers and DTOs alike is registered once.
void canReceive(void* user, uint32_t lenFlags, const uint8_t* data) {
    const uintptr_t i = reinterpret_cast<uintptr_t>(user);
    XcpmrInstance* h = i < XCPMR_INSTANCES ? xcpmr_handle[i].load() : nullptr;
    if (!h) {
        SYSLOGX_FLOOD(gFloodNull, 147 | SYSLOGX_LOSS, "CCPMR: received ODT with NULL handle");
        return;
    }
    const unsigned len = std::min<unsigned>(lenFlags & 0xFF, 64);
    xcpmr_packet(h, data, len, true);
}
void xcpmr_RxHandler(void* user, uint32_t, uint8_t, uint32_t lenFlags, const uint8_t* data) {
    canReceive(user, lenFlags, data);
}
void xcpmr_DaqHandler(void* user, uint32_t, uint8_t, uint32_t lenFlags, const uint8_t* data) {
    canReceive(user, lenFlags, data);
}

// Registers a receive id once per instance; the CAN front's result (a
// positive one also raises the error memory of the interface).
int xcpmr_canRegisterRxFunc(XcpmrInstance* h, uint32_t id, CanRxFunc fn) {
    for (unsigned k = 0; k < h->canRxCount; ++k)
        if (h->canRxIds[k] == id) return 0;
    if (h->canRxCount >= XCPMR_CAN_RX_IDS) return 1;
    const int r = canRegisterRxFunc(h->canIntf, getCanFormat(id), getCanId(id), fn,
                                    reinterpret_cast<void*>(uintptr_t(h->instance)));
    if (r > 0) error_mgr_set(ERRMGR_PATH_CAN01 + h->canIntf, ERRMGR_TYPE_CANID_RX_MAX, 0);
    if (r == 0) h->canRxIds[h->canRxCount++] = id;
    return r;
}
}  // namespace

bool xcpmr_CanInit(XcpmrInstance* h) {
    const CalPage& c = xcpmrCal();
    h->canIntf = calLoad(c.CfgMat_XcpMr_CANINTF[h->instance]);
    if (xcpmr_canRegisterRxFunc(h, calLoad(c.CfgMat_XcpMr_CMDRET_CANID[h->instance]), xcpmr_RxHandler) != 0) {
        syslogx(147, "XCPMR: cannot bind XCP CAN-ID(RX) xcp master");
        return false;
    }
    const uint32_t cmd = calLoad(c.CfgMat_XcpMr_CMD_CANID[h->instance]);
    h->canTx = canRegisterTxFunc(h->canIntf, getCanFormat(cmd), getCanId(cmd), 0, 0);
    if (h->canTx < 0) {
        syslogx(147, "XCPMR: cannot bind CCP CAN-ID(TX) ccp master");
        return false;
    }
    return true;
}

bool xcpmr_CanDaqInit(XcpmrInstance* h, XcpmrDaq* daq) {
    if (xcpmr_canRegisterRxFunc(h, daq->canId, xcpmr_DaqHandler) != 0) {
        syslogx(147, "XCPMR: cannot bind XCP CAN-ID(DAQ) xcp master");
        return false;
    }
    return true;
}

int xcpmr_CanSendPacket(XcpmrInstance* h, const uint8_t* packet, unsigned len) {
    if (len > 8 || h->canTx < 0) return -1;
    canTxMsg(h->canTx, uint8_t(len), packet);
    return 0;
}
