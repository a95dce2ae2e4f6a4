// Measurements whose drive is not ready when they are initialised. The boot
// preparation has waited for the drives already; a measurement whose drive
// is still missing must not keep the others from recording. It is named once
// in the log, keeps its loaded configuration, and is created (and started,
// while logging runs) once its drive is ready.
//
// A drive that goes while its measurement records (a card pulled) is named
// once in the log as well; the writer counts the records it cannot write.
// The measurement waits for the drive as one that is missing at its init,
// and once the drive is back it goes on in new files: the files it had open
// are gone with the drive. A drive that refused a new file (full) and takes
// one again also makes the measurement go on in new files; the line says so.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "logging/app/meas_app_internal.h"
#include "logging/config/cfg_meas.h"
#include "logging/config/meas_app_load.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/store/meas_app_store.h"
#include "platform/syslogx.h"

namespace {

struct Waiting {
    bool waiting = false;
    bool recording = false;                // it exists and records: its drive went meanwhile
    MEASConfiguration* config = nullptr;   // null: loaded when the drive is ready
    uint32_t size = 0;
    char drive[CFG_MEAS_STRLEN + 1] = {};
};

// The logging raster changes the list, the shell reads the drive names.
std::mutex gMx;
Waiting gWaiting[MEAS_COUNT];
unsigned gTicks = 0;

// Logging-raster ticks between two looks at the drives of waiting measurements.
constexpr unsigned kPollTicks = 100;

// 0 when every drive measurement idx needs is ready, else -1 with the first
// that is not in notReady. Without its configuration that includes the
// drive of its configuration files, also for one that writes no files (the
// telemetry), whose readiness alone asks for no drive at all.
int neededDrivesReady(unsigned idx, bool haveConfig, char* notReady) {
    if (meas_app_DiskReadyDrive(idx, notReady) != 0) return -1;
    return haveConfig ? 0 : meas_app_ConfigDriveReady(idx, notReady);
}

// The configuration of a measurement whose drives became ready (loaded now
// when its drive held it); null when it is not waiting, its drives are
// still not ready or it has no configuration.
MEASConfiguration* takeReady(unsigned idx, uint32_t* size, char* drive) {
    bool haveConfig = false;
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (!gWaiting[idx].waiting || gWaiting[idx].recording) return nullptr;
        haveConfig = gWaiting[idx].config != nullptr;
    }
    char notReady[CFG_MEAS_STRLEN + 1] = {};
    const bool ready = neededDrivesReady(idx, haveConfig, notReady) == 0;
    MEASConfiguration* cfg = nullptr;
    {
        std::lock_guard<std::mutex> lk(gMx);
        Waiting& w = gWaiting[idx];
        std::memcpy(drive, w.drive, sizeof w.drive);
        if (!ready) {
            std::memcpy(w.drive, notReady, sizeof w.drive);   // another of its drives may be the one now
            return nullptr;
        }
        cfg = w.config;
        *size = w.size;
        w = Waiting{};
    }
    return cfg ? cfg : meas_app_get_MEASConfiguration(idx, size);
}

// A measurement that records: true when it has to go on in new files, as
// its drive is back or its files went from a drive that is there. *back: its
// drive is back (its flags are checked before the new files are made).
bool watchRecording(unsigned idx, bool* back) {
    meas_t& m = meas[idx];
    if (!m.store) return false;
    // a loss while it does not record needs nothing: the next start makes new files
    const int why = meas_app_PreTrigTakeDriveLoss(m.store);
    if (!(m.runFlags & 1) || cfg_meas[idx].noFile == 1) return false;
    const char* target = cfg_meas[idx].targetPartition;
    const bool there = meas_app_driveAvDebounce(target) == 0;
    const bool filesGone = (why & MEAS_STORE_FILES_GONE) != 0;
    // room again on a drive that was full (its files never went)
    bool room = false;
    for (auto [bit, drive] : {std::pair{int(MEAS_STORE_ROOM_AGAIN), target},
                              std::pair{int(MEAS_STORE_USB_ROOM_AGAIN), (const char*)cfg_meas[idx].copyPartition}}) {
        if (!(why & bit)) continue;
        syslogx(150, "m%02u: drive %.*s has room for a new file again, recording goes on in a new file", idx + 1,
                int(CFG_MEAS_STRLEN), drive);
        room = true;
    }
    enum { NOTHING, GONE, FILES_GONE, BACK } what = NOTHING;
    {
        std::lock_guard<std::mutex> lk(gMx);
        Waiting& w = gWaiting[idx];
        if (!w.waiting) {
            if (!there) {
                what = GONE;
                w.waiting = w.recording = true;
                std::snprintf(w.drive, sizeof w.drive, "%.*s", int(CFG_MEAS_STRLEN), target);
            } else if (filesGone) {
                what = FILES_GONE;
            }
        } else if (w.recording && there) {
            what = BACK;
            w = Waiting{};
        }
    }
    switch (what) {
    case GONE:
        syslogx(148 | SYSLOGX_LOSS, "m%02u: drive %s not available, records are lost until it is back", idx + 1, target);
        return room;
    case FILES_GONE:
        syslogx(148, "m%02u: files gone from drive %s, recording goes on in a new file", idx + 1, target);
        return true;
    case BACK:
        *back = true;
        syslogx(150, "m%02u: drive %s available, recording goes on in a new file", idx + 1, target);
        return true;
    default:
        return room;
    }
}

// The next records of every measurement go into new files: a fragment, as
// when the USB drive arrives.
bool requestPending() {
    SignalPage& s = sp();
    for (uint8_t* f : {&s.meas_app_stopreq, &s.meas_app_destroyreq, &s.meas_app_blkstopreq, &s.meas_app_reinitreq,
                       &s.meas_app_faststopreq})
        if (flag(*f).load()) return true;
    return gApp.powerdown.load() != 0;
}

}  // namespace

bool meas_app_driveWaitBegin(unsigned idx, MEASConfiguration* cfg, uint32_t size) {
    if (idx >= MEAS_COUNT) return false;
    char notReady[CFG_MEAS_STRLEN + 1] = {};
    if (neededDrivesReady(idx, cfg != nullptr, notReady) == 0) return false;
    // Without a configuration only a missing drive of the configuration
    // files gives something to wait for: else nothing is configured. The
    // target drive may be missing as well; it is named first and waited for
    // all the same.
    if (!cfg && meas_app_ConfigDriveReady(idx, nullptr) == 0) return false;
    syslogx(148, "m%02u: drive %s not available, measurement not started", idx + 1, notReady);
    std::lock_guard<std::mutex> lk(gMx);
    Waiting& w = gWaiting[idx];
    if (w.config) meas_app_free_MEASConfiguration(w.config);
    w.waiting = true;
    w.config = cfg;
    w.size = size;
    std::memcpy(w.drive, notReady, sizeof w.drive);
    return true;
}

void meas_app_driveWaitPoll() {
    if (++gTicks % kPollTicks != 0 || requestPending()) return;
    bool newFiles = false;   // one fragment, also when both drives came back
    unsigned back = 0;
    for (unsigned idx : {MEAS_IDX_M01, MEAS_IDX_M03}) {
        bool isBack = false;
        newFiles |= watchRecording(idx, &isBack);
        if (isBack) back |= 1u << idx;
    }
    if (newFiles) meas_app_forceFragment(back);
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx) {
        uint32_t size = 0;
        char drive[CFG_MEAS_STRLEN + 1] = {};
        MEASConfiguration* cfg = takeReady(idx, &size, drive);
        if (!cfg || !meas_app_meascreate(idx, cfg, size)) continue;   // it frees what it refuses
        // a start requested meanwhile starts it with the others
        if (flag(sp().meas_app_running).load() && !flag(sp().meas_app_startreq).load()) {
            if (cfg_meas[idx].noFile != 1) MeasAppStore_driveCheckDirectoryFlags(cfg_meas[idx].targetPartition);
            meas_app_measstart(int(idx));
            syslogx(150, "m%02u: drive %s available, measurement started", idx + 1, drive);
        } else {
            syslogx(150, "m%02u: drive %s available, measurement set up, starts with the next start", idx + 1, drive);
        }
        meas_app_DisksReady();   // the status bit of the drives
    }
}

void meas_app_driveWaitClear() {
    std::lock_guard<std::mutex> lk(gMx);
    for (Waiting& w : gWaiting) {
        if (w.config) meas_app_free_MEASConfiguration(w.config);
        w = Waiting{};
    }
    gTicks = 0;
}

bool meas_app_driveWaiting(unsigned idx, char* drive) {
    if (idx >= MEAS_COUNT) return false;
    std::lock_guard<std::mutex> lk(gMx);
    const Waiting& w = gWaiting[idx];
    if (!w.waiting) return false;
    if (drive) std::memcpy(drive, w.drive, sizeof w.drive);
    return true;
}
