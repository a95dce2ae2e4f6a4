// Packing of a DAQ row's channels into its ODTs: 4-byte values first, then
// 2-byte, then 1-byte ones, each into the first ODT with room for it, so that
// the larger values are never split over frames.
#include <new>

#include "platform/syslogx.h"
#include "xcp/master/xcpmr_internal.h"

bool daq_add_chan(XcpmrInstance* h, XcpmrDaq* daq, unsigned channel) {
    const unsigned size = calLoad(xcpmrCal().CfgMat_XcpMr_CHAN_SIZE[channel]);
    const unsigned room = h->transport == 1 ? XCPMR_ODT_BYTES_CAN : XCPMR_ODT_BYTES_UDP;
    for (unsigned o = 0; o < daq->odts.size(); ++o) {
        XcpmrOdt& odt = daq->odts[o];
        if (odt.bytesUsed + size > room || odt.entryCount >= XCPMR_ODT_MAX_ENTRIES) continue;
        odt.entries[odt.entryCount++] = XcpmrEntry{uint16_t(channel), uint8_t(size), odt.bytesUsed};
        odt.bytesUsed = uint8_t(odt.bytesUsed + size);
        if (o + 1 > daq->odtsInUse) daq->odtsInUse = uint8_t(o + 1);
        return true;
    }
    syslogx(147, "XCPMR: daq_add_chan: more channels in daq than possible");
    return false;
}

bool daq_init(XcpmrInstance* h, XcpmrDaq* daq) {
    try {
        daq->odts.assign(daq->odtCap, XcpmrOdt{});
    } catch (const std::bad_alloc&) {
        syslogx(147, "daq_init: cannot alloc memory for odts");
        return false;
    }
    daq->odtsInUse = 0;
    const CalPage& c = xcpmrCal();
    for (unsigned size : {4u, 2u, 1u})
        for (unsigned ch = 0; ch < XCPMR_CHANNELS; ++ch)
            if (calLoad(c.CfgMat_XcpMr_CHAN_DAQ[ch]) == daq->row && calLoad(c.CfgMat_XcpMr_CHAN_SIZE[ch]) == size &&
                !daq_add_chan(h, daq, ch))
                return false;
    return true;
}
