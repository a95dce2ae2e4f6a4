// Once-a-second work of the logging raster: recording rates, the data
// time-out status and the arrival of the USB drive.
#include "logging/app/meas_app_internal.h"
#include "logging/config/cfg_meas.h"
#include "logging/counters/lapoutfra.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/store/meas_app_store.h"
#include "platform/io.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace {
const char kUsb[] = "usb_meas:";

uint8_t compression(uint32_t plain, uint32_t packed) {
    if (packed == 0) return 0;
    uint64_t c = uint64_t(plain) * 10 / packed;
    return c > 255 ? 255 : uint8_t(c);
}

// Looks of the logging raster at the USB drive an arrival's fragment waits
// for its writers to join.
constexpr uint8_t kUsbJoinWaitLooks = 5;

// A running measurement's USB drive writer has not joined its back end yet.
bool usbWriterWaiting() {
    for (unsigned idx : {MEAS_IDX_M01, MEAS_IDX_M03})
        if ((meas[idx].runFlags & 1u) && meas_app_PreTrigUsbWriterWaiting(meas[idx].store)) return true;
    return false;
}

}  // namespace

void meas_app_calc_recording_rates() {
    MeasStoreStats& st = meas_store_stats();
    SignalPage& s = sp();
    // the file store adds to them from other tasks too (arming, shutdown)
    auto take = [](uint32_t& c) { return std::atomic_ref<uint32_t>(c).exchange(0); };
    const uint32_t plain01 = take(st.meas_data_size_m01_uncompressed), packed01 = take(st.meas_data_size_m01_compressed);
    const uint32_t plain03 = take(st.meas_data_size_m03_uncompressed), packed03 = take(st.meas_data_size_m03_compressed);
    s.meas_compression_m01 = compression(plain01, packed01);
    s.meas_compression_m03 = compression(plain03, packed03);
    s.meas_rate_m01 = uint16_t(double(plain01) * 0.01953125);
    s.meas_rate_m03 = uint16_t(double(plain03) * 0.01953125);
}

void meas_app_check_datatimeout() {
    if (gApp.datatimeout.exchange(0)) meas_led_clr_status(MEAS_STATUS_DATA_OK);
    else meas_led_set_status(MEAS_STATUS_DATA_OK);
}

int64_t meas_app_applMs() {
    timespec t{};
    clock_appltime(&t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The first look only records what is there: a drive still settling then
// is there too, as long as it settles by the time it was to.
void meas_app_lookAtUsbAtStart(int debounce) {
    if (debounce == kLookNow) {
        if (cfg_meas_getHwIdxFromDrvName(kUsb) < 0) return;
        debounce = meas_app_driveAvDebounce(kUsb);
    }
    gApp.usbChecked = 1;
    gApp.usbAvailable = debounce >= 0 ? 1 : 0;
    // A drive there at the start came with it: when it is pulled and comes
    // back, that is no first arrival, and the file its split closes (the
    // one cut on it at the pull) is copied onto it.
    if (gApp.usbAvailable) gApp.usbArrivals = 1;
    gApp.usbSettlingAtStart = debounce > 0 ? 1 : 0;
    gApp.usbSettledBy = meas_app_applMs() + (debounce > 0 ? debounce : 0);
}

void meas_app_checkFragmentTrigOnUSBEvent() {
    if (cfg_meas_getHwIdxFromDrvName(kUsb) < 0) {
        syslogx(147, "LapOutFra_checkFragmentTrigOnUSBEvent() could not map drive %s", kUsb);
        return;
    }
    const int debounce = meas_app_driveAvDebounce(kUsb);
    if (!gApp.usbChecked) {
        meas_app_lookAtUsbAtStart(debounce);
        return;
    }
    if (gApp.usbSettlingAtStart) {
        // there at the start: no arrival once it has settled, unless it went
        // and came back meanwhile (it settles anew, later than it was to)
        constexpr int64_t kSlackMs = 200;
        if (debounce > 0 && meas_app_applMs() + debounce <= gApp.usbSettledBy + kSlackMs) return;
        gApp.usbSettlingAtStart = 0;
    }
    const uint8_t available = debounce == 0 ? 1 : 0;
    const bool arrived = available && !gApp.usbAvailable;
    // The fragment of an arrival opens a file the USB drive's writers are to
    // write too: a writer that has not joined its back end yet (it looks for
    // the drive a few times a second) would skip it. The split waits for
    // them a few of these looks (the raster does not), then goes ahead.
    if (arrived && usbWriterWaiting() && gApp.usbJoinWait < kUsbJoinWaitLooks) {
        ++gApp.usbJoinWait;
        return;
    }
    gApp.usbJoinWait = 0;
    gApp.usbAvailable = available;
    if (!arrived) return;
    // what the arrival makes looks at drives: off this raster, each in a task
    meas_app_removeArrivalLeftoversTask(kUsb);
    const bool firstArrival = gApp.usbArrivals == 0;
    gApp.usbArrivals = 1;   // (a count would wrap, and take a later arrival for the first)
    const auto* usbHw = cfg_meas_devHwInfo ? &cfg_meas_devHwInfo[1] : nullptr;
    MeasUsbArrival a{};
    a.split = flag(sp().meas_app_running).load() &&
              (meas[MEAS_IDX_M01].firstDataTimeStamp || meas[MEAS_IDX_M03].firstDataTimeStamp);
    a.copy = !firstArrival && usbHw && !usbHw->copyInhibit;
    a.timeStamp = time_getTimestamp();
    meas_app_usbArrivalTask(a);
}
