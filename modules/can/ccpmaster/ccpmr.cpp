// Start-up and end of the CCP master.
#include <new>
#include <vector>

#include "can/ccpmaster/ccpmr_internal.h"
#include "measurement/seram.h"
#include "measurement/signalpage.h"
#include "platform/syslogx.h"

CcpMaster* ccpmr_handle[CCPMR_INSTANCES] = {};
CcpDaqList* ccpmr_daqByIndex[CCPMR_DAQS] = {};

namespace {
bool gDaqTask = false;

const uint8_t* resolveSlot(measaddr_t addr, unsigned) { return ccpmr_GetAddr(addr); }
}  // namespace

int ccpmr_ini() {
    ccpmr_data_ini();
    // class-29 addresses reach the value slots through the calibration memory's
    // measurement handles, so every consumer of the gateway can read them
    seramSetSlotResolver(MEASADDR_CLASS_CCPMR, resolveSlot);
    const CalPage& p = calActive();
    for (unsigned i = 0; i < CCPMR_INSTANCES; ++i) {
        __atomic_store_n(&signalPage()->ccpmr_status[i], uint8_t(CCPMR_ST_READY), __ATOMIC_RELAXED);
        if (calLoad(p.CfgMat_CcpMr_CANINT[i]) == 0xFF) continue;
        if (!gDaqTask) {
            if (!ccpmrDaqTaskCreate()) return -1;
            gDaqTask = true;
        }
        CcpMaster* m = new (std::nothrow) CcpMaster;
        if (!m) {
            syslogx(147, "CCPMR: cannot alloc memory for ccp master");
            return -1;
        }
        m->instance = i;
        ccpmr_handle[i] = m;
        if (!ccpmr_handler_ini(m)) return -1;
        if (!ccpmrTaskCreate(m)) return -1;
        syslogx(150, "CCPMR: starting instance %d, %d DAQs.", int(i), int(m->nDaq));
        ccpmr_setStatus(m, CCPMR_ST_STOPPED);
    }
    ccpmr_meas_ini();
    return 0;
}

void ccpmr_shutdown() {
    ccpmr_meas_end();
    seramSetSlotResolver(MEASADDR_CLASS_CCPMR, nullptr);
    // an instance whose task was given up in a system call is kept, and
    // with a given-up DAQ task every instance (a leak, kept reachable)
    static auto& kept = *new std::vector<CcpMaster*>;   // never destroyed: a leak, kept reachable
    bool keptOne[CCPMR_INSTANCES] = {};
    for (size_t i = 0; i < CCPMR_INSTANCES; ++i)
        if (ccpmr_handle[i]) keptOne[i] = !ccpmrTaskDelete(ccpmr_handle[i]);
    const bool keepAll = !ccpmrDaqTaskDelete();
    gDaqTask = false;
    ccpmr_measlist_reset();
    for (CcpDaqList*& d : ccpmr_daqByIndex) d = nullptr;
    for (size_t i = 0; i < CCPMR_INSTANCES; ++i) {
        CcpMaster*& m = ccpmr_handle[i];
        if (!m) continue;
        if (keepAll || keptOne[i]) {
            kept.push_back(m);
            m = nullptr;
            continue;
        }
        for (unsigned k = 0; k < m->nDaq; ++k) delete[] m->daq[k].odt;
        delete[] m->daq;
        delete m;
        m = nullptr;
    }
}
