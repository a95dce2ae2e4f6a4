// Start-up, raster and shutdown wiring of the xcp component.
#include "wiring.h"

#include "logging/store/virtual_file.h"
#include "measurement/meas_master.h"
#include "measurement/seram.h"
#include "platform/raster.h"
#include "xcp/diag/diag_service.h"
#include "xcp/master/xcpmr.h"
#include "xcp/xcp_slave.h"

namespace {
void sendDaq(intptr_t event) { xcpSendDAQ(int(event)); }
void flush100ms(intptr_t) { xcp_100ms(); }
void carId(char* out, unsigned size) { diagService_GetCarId(out, size); }
}  // namespace

// The car id of the diagnostic services goes into every measurement file.
// The XCP master: its class-28 slots become measurable and the measurement
// manager hands it the lists of one of its DAQs.
void wire_xcp_init() {
    meas_store_setCarIdSource(carId);
    seramSetSlotResolver(MEASADDR_CLASS_XCPMR, xcpmr_slot_resolver);
    meas_man_set_master_hooks(MEAS_MASTER_XCP, &xcpmr_meas_hooks);
    startup_step("xcpmr_ini", xcpmr_ini() == 0);
}

// The event channels of the slave: 2 on r1ms, 1 on r10ms, 0 on r100ms; the
// master's control on r10ms.
void wire_xcp_rasters() {
    startup_step("xcpSendDAQ r1ms entry", raster_addEntry(RB_1MS, "xcpSendDAQ", sendDaq, 2) == 1);
    startup_step("xcpSendDAQ r10ms entry", raster_addEntry(RB_10MS, "xcpSendDAQ", sendDaq, 1) == 1);
    startup_step("xcpmr_10ms entry", raster_addEntry(RB_10MS, "xcpmr_10ms", [](intptr_t) { xcpmr_10ms(); }, 0) == 1);
    startup_step("xcp_100ms entry", raster_addEntry(RB_100MS, "xcp_100ms", flush100ms, 0) == 1);
    startup_step("xcpSendDAQ r100ms entry", raster_addEntry(RB_100MS, "xcpSendDAQ", sendDaq, 0) == 1);
}

void wire_xcp_shutdown() { xcp_shutdown_now(); }

// The XCP slave is the last start-up step; its failure ends the process.
int wire_xcp_start() { return xcpInitialize() == 0 ? 1 : 0; }
