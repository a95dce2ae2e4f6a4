// Places the counters' measurable values in the signal page.
#include "logging/counters/lapoutfra.h"
#include "measurement/catalogue.h"
#include "measurement/seram.h"

int LapOutFra_publishSignals() {
    uint32_t vaddr = seramSignalAlloc(4 * sizeof(uint16_t));
    uint8_t* p = vaddr ? seramVirtToPtr(vaddr) : nullptr;
    if (!p) return 0;
    static const char* const names[] = {"lapctr", "outctr", "fractr", "abslap"};
    for (unsigned i = 0; i < 4; ++i) catalogue_add(names[i], vaddr + 2 * i, TE_UINT16);
    LapOutFra_publishSignalsAt(reinterpret_cast<uint16_t*>(p));
    return 1;
}
