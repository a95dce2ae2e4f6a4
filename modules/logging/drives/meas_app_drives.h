// Logging drives as the logging code sees them: availability with a
// per-medium debounce, readiness of the drives a measurement needs, and the
// measurement's client configuration file (".qov").
#pragma once

#include <cstdint>
#include <ctime>

// Per hardware index (0 internal medium, 1 USB medium).
struct cfg_meas_devHwInfo_t {
    uint32_t debounceMs;        // 0 = none (and no hardware information is passed)
    timespec availableSince;    // when the drive became available
    uint8_t lastAvailable;
    uint8_t copyInhibit;        // 1: no copies of finished files to this medium
};

// 0 when the drive is available and has settled, the milliseconds still to
// wait while it settles, -1 when it is unavailable or unknown.
int meas_app_driveAvDebounce(const char* drive);
// 0 when the drive is there (no debounce), else -1.
int meas_app_driveAvailableService(const char* drive);
// 0 when the drives of measurement 0..2 are ready, else -1 (also for any
// other index).
int meas_app_DiskReady(unsigned measIdx);
// The same, naming the first drive that is not ready in notReady (at least
// CFG_MEAS_STRLEN + 1 bytes, "" when all are; may be null).
int meas_app_DiskReadyDrive(unsigned measIdx, char* notReady);
// 0 when the drives of measurement idx's configuration files are ready; the
// first that is not goes into notReady (as above).
int meas_app_ConfigDriveReady(unsigned measIdx, char* notReady);
// All three; sets (ready) or clears status bit 0x8000 of the status LED.
int meas_app_DisksReady();
// Whole ".qov" file of m01 or m03 (caller frees it with std::free), null
// otherwise; *len gets its length.
void* meas_app_get_QOVConfiguration(unsigned measIdx, uint32_t* len);
// Sets the debounce time of a medium (start-up, tests); forgets its history.
// The device waits MEAS_USB_DEBOUNCE_MS for a USB stick to settle.
constexpr uint32_t MEAS_USB_DEBOUNCE_MS = 3000;
void meas_app_setDriveDebounce(unsigned hwIdx, uint32_t ms);
