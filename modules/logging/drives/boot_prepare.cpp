// Boot preparation of the logging drives: wait until every drive a
// measurement writes to or reads its configuration from has settled, then
// have the internal partitions reformatted whose directory size differs from
// the configured maximum file count. Empty measurement files, room probes
// and the parts of copies a power cut left behind are removed on the way.
#include <cerrno>
#include <cstring>

#include "host/os/os.h"
#include "logging/config/cfg_meas.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/drives/meas_app_drives.h"
#include "measurement/calparams.h"
#include "platform/files.h"
#include "platform/io.h"
#include "platform/syslogx.h"

namespace {

constexpr uint32_t kStatusDrivesReady = 0x8000;
constexpr size_t kFormatRequestSize = 17;
constexpr uint32_t kInvalidCount = 0xFFFFFFFF;

bool validDevIdx(int devIdx) { return devIdx >= 0 && unsigned(devIdx) < CFG_MEAS_DRIVES; }

void addDrive(unsigned& mask, const char* drive) {
    if (!drive || !*drive) return;
    int idx = cfg_meas_getDevIdxFromDrvName(drive);
    if (validDevIdx(idx)) mask |= 1u << idx;
}

// The drives the measurements write their files to that are there now: the
// empty files, the room probes and the parts of copies a power cut left on
// them go before the first file is made.
void removeLeftovers() {
    unsigned mask = 0, copyMask = 0;
    for (unsigned i = 0; i < 3; ++i) {
        if (cfg_meas[i].noFile == 1) continue;
        addDrive(mask, cfg_meas[i].targetPartition);
        addDrive(copyMask, cfg_meas[i].copyPartition);
    }
    for (unsigned d = 0; d < CFG_MEAS_DRIVES; ++d) {
        const unsigned bit = 1u << d;
        if (!((mask | copyMask) & bit) || driveAvailable(cfg_meas_drv2Hw[d].name) != 0) continue;
        meas_app_removeEmptyMeasFiles(cfg_meas_drv2Hw[d].name);
        meas_app_removeRoomProbes(cfg_meas_drv2Hw[d].name);
        if (copyMask & bit) meas_app_removeCopyLeftovers(cfg_meas_drv2Hw[d].name);
    }
}

}  // namespace

uint8_t meas_app_formatSizeCode(uint32_t maxFileCount) {
    const uint32_t code = maxFileCount / 340 + 1;
    return code > 255 ? 255 : uint8_t(code);   // one byte: the largest directory it can ask for
}

int meas_app_BootPrepareDisks(int poll, int timeout) {
    meas_led_clr_status(kStatusDrivesReady);
    const int rate = sysClkRateGet();
    if (poll <= 0) poll = 1;
    if (timeout == -1 || timeout > 10 * rate || timeout < 0) timeout = 10 * rate;
    if (poll > timeout) poll = timeout;
    if (poll > rate) poll = rate;
    if (poll <= 0) poll = 1;

    unsigned mask = 0;
    for (unsigned i = 0; i < 3; ++i) {
        addDrive(mask, cfg_meas_getTargetPartition(i));
        addDrive(mask, cfg_meas_getCfgPartition(i));
    }
    const unsigned waited = mask;
    int used = 0;
    for (;;) {
        for (unsigned d = 0; d < CFG_MEAS_DRIVES; ++d)
            if ((mask & (1u << d)) && meas_app_driveAvDebounce(cfg_meas_drv2Hw[d].name) == 0) mask &= ~(1u << d);
        if (!mask || used >= timeout) break;
        taskDelay(poll);
        used += poll;
    }
    removeLeftovers();
    if (mask) {
        syslogx(147, "meas_app_BootPrepareDisks() timeout checking mask '0x%02X' ", mask);
        return -1;
    }
    for (unsigned d = 0; d < CFG_MEAS_DRIVES; ++d)
        if ((waited & (1u << d)) && meas_app_BootPrepareDisks_checkDir(int(d)) != 0)
            meas_app_BootPrepareDisks_format(int(d));
    meas_led_set_status(kStatusDrivesReady);
    return 0;
}

int meas_app_BootPrepareDisks_checkDir(int devIdx) {
    if (!validDevIdx(devIdx)) return 0;
    const cfg_meas_drv2Hw_t& d = cfg_meas_drv2Hw[devIdx];
    if (!d.maxFileCntCal || !d.maxFileCntSignal) return 0;   // only the internal partitions
    uint32_t count = 0, current = kInvalidCount;
    if (cfg_meas_getBfsFileCounts(d.name, &count, &current) != 0) {
        syslogx(147, "meas_app_BootPrepareDisks_checkDir(%s) failed to read file count", d.name);
        return 0;
    }
    *d.maxFileCntSignal = current;
    const uint32_t configured = calLoad(*d.maxFileCntCal);
    if (current != kInvalidCount && configured != kInvalidCount && current != configured) {
        syslogx(150, "meas_app_BootPrepareDisks_checkDir(%s) should be reformated NOW: directory size %d -> %d ",
                d.name, int(current), int(configured));
        return -1;
    }
    return 0;
}

int meas_app_BootPrepareDisks_format(int devIdx) {
    if (!validDevIdx(devIdx) || !cfg_meas_drv2Hw[devIdx].maxFileCntCal) {
        syslogx(147, "meas_app_BootPrepareDisks() devIdx invalid @ '%s' ", "meas_app_BootPrepareDisks_format");
        return -1;
    }
    const cfg_meas_drv2Hw_t& d = cfg_meas_drv2Hw[devIdx];
    MSG_Q_ID tx = msgQOpen("/MeasAppFormat", 0, 0, MSG_Q_FIFO, 0);
    if (!tx) {
        syslogx(147, "meas_app_BootPrepareDisks_format() msgQTx open failed: %s", std::strerror(errno));
        return -1;
    }
    MSG_Q_ID rx = msgQOpen("/MeasAppFormatAck", 0, 0, MSG_Q_FIFO, 0);
    if (!rx) {
        syslogx(147, "meas_app_BootPrepareDisks_format() msgQRx open failed: %s", std::strerror(errno));
        msgQClose(tx);
        return -1;
    }
    uint8_t req[kFormatRequestSize] = {};
    req[0] = meas_app_formatSizeCode(calLoad(*d.maxFileCntCal));
    std::memcpy(req + 1, d.name, strnlen(d.name, kFormatRequestSize - 1));   // zero-padded, not terminated
    if (msgQSend(tx, req, sizeof req, NO_WAIT, MSG_PRI_NORMAL) != OK) {
        syslogx(147, "meas_app_BootPrepareDisks_format() error sending format request, %s", std::strerror(errno));
        msgQClose(tx);
        msgQClose(rx);
        return -1;
    }
    msgQClose(tx);
    uint8_t ack[kFormatRequestSize];
    errno = 0;
    long n = msgQReceive(rx, ack, sizeof ack, 2 * sysClkRateGet());
    const int err = errno;
    msgQClose(rx);
    if (n != long(kFormatRequestSize)) {
        syslogx(147, "meas_app_BootPrepareDisks_format() error receiving format request, %s %d %d",
                std::strerror(err), err, int(n));
        return -1;
    }
    return 0;
}
