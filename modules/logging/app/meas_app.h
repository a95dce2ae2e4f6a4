// The logging application: takes the three measurements from configuration
// to running and back, receives their values in the gateway callbacks, puts
// them into the logger FIFOs and, in the logging raster "rMeas", drains the
// FIFOs raster by raster into the measurement file store.
//
// Request flags (signal page, 1 = requested) are set by other tasks and
// served in meas_app_main; everything that touches files runs in "rMeas".
#pragma once

#include <cstdint>
#include <functional>

#include "logging/app/meas_runtime.h"

// Bits of meas_app_get_flags.
enum : uint32_t {
    MEAS_FLAG_STOPREQ = 1u << 0,
    MEAS_FLAG_REINITREQ = 1u << 1,
    MEAS_FLAG_DESTROYREQ = 1u << 2,
    MEAS_FLAG_STARTREQ = 1u << 3,
    MEAS_FLAG_BLKSTOPREQ = 1u << 4,
    MEAS_FLAG_FASTSTOPREQ = 1u << 5,
    MEAS_FLAG_HSTINITREQ = 1u << 6,
    MEAS_FLAG_RUNNING = 1u << 7,
    MEAS_FLAG_REMOTESTART_LOCK = 1u << 8,
    MEAS_FLAG_REMOTESTOP_ACTIVE = 1u << 9,
    MEAS_FLAG_REMOTEREAD = 1u << 10,
};

// Measurement status word bits of the logging application.
enum : uint32_t {
    MEAS_STATUS_NOT_WAITING = 0x10000,
    MEAS_STATUS_DATA_OK = 0x20000,
    MEAS_STATUS_ALL_REPLIED = 0x40000,
    MEAS_STATUS_LISTS_STARTED = 0x400000,
    MEAS_STATUS_NO_ECU = 0x800000,
};

// ---- start-up and rasters ---------------------------------------------------------------
int meas_app_ini();
void meas_app_main();                          // rMeas, every tick
void meas_app_saveblock(unsigned raster);      // rMeas, by the tick pattern
void meas_app_timeout_close(unsigned raster);  // rMeas, 100 ms, rasters 11 and 12
void meas_app_check_measconditions();          // 10 ms raster
void meas_app_calc_recording_rates();          // rMeas, every second
void meas_app_check_datatimeout();             // rMeas, every second
void meas_app_checkFragmentTrigOnUSBEvent();   // rMeas, every second
// What is on the USB drive at the start (a drive still settling included) is
// no arrival: the look the start takes (with kLookNow), before that check's first.
constexpr int kLookNow = -2;
void meas_app_lookAtUsbAtStart(int debounce = kLookNow);

// A USB drive's arrival, as the logging raster saw it: the split (running
// measurements with data) at its time stamp, and the copy of the file the
// split closes (not at the drive's first arrival).
struct MeasUsbArrival {
    bool split;
    bool copy;
    uint32_t timeStamp;
};
// Makes the arrival in a task of its own ("r_UsbArrival"): what it does
// looks at drives.
void meas_app_usbArrivalTask(const MeasUsbArrival& arrival);
// Tasks that make what the logging raster must not, as it looks at drives
// (meas_app_drive_tasks.cpp): body runs in a task of that name; false, and
// logged naming what, when none is started (the logging has ended, or no
// task could be made). The logging's shutdown ends them: those still running
// are waited for up to a second (their splits and copies go before the
// stop), one stuck at a drive is named and left. None starts between the end
// and the next allow.
bool meas_app_driveTask(const char* name, const char* what, std::function<void()> body);
void meas_app_endDriveTasks();
void meas_app_allowDriveTasks();

// Registers the entry points above in the raster bodies; 1 on success.
int meas_app_addRasterEntries();

// ---- calls from other modules --------------------------------------------------------
void meas_app_laptrigger_update(uint16_t lap, uint16_t outing);
void meas_app_clearsegmentation();
int meas_app_startreq_condition();
// True while a start waits only for this device's time to be in sync.
bool meas_app_waitsForTime();
uint32_t meas_app_get_flags();
void meas_app_setForcedFrag(unsigned measIdx);
int meas_app_getMeasStopped(unsigned measIdx);
// 1 while a measurement exists (running or stopped): an init is refused until
// it is destroyed. Any task.
int meas_app_measExists();
// 1 while a start has something to start: a measurement exists or waits for
// its drive (it starts when the drive is there). Any task.
int meas_app_startable();
int meas_app_get_meas_state_sb();
void meas_app_saveblock_lap();
uint32_t meas_app_get_sbblkcnt(unsigned measIdx);
uint32_t meas_app_get_lrblkcnt(unsigned measIdx);
// Status-block controllers of a measurement: bit PID - 1 of every SB-Lap block.
uint64_t meas_app_get_sbControllers(unsigned measIdx);
// 1 while the logger still holds data that is not on the drives, or a file
// that is not closed: each call closes the files that can close now (the
// shutdown calls it until it gives 0).
int meas_app_flushPending();
// True while the fast stop is asked for and has not yet run in the logging raster.
bool meas_app_fastStopPending();
// True once the fast stop has run (the files it found open have their closes queued).
bool meas_app_fastStopDone();
// The sources of the records end next (the lists of the rasters): while the
// fast stop is still pending, the sampling runs due by now that are not done
// within a tick or two give it nothing, and are named with their stamps.
void meas_app_nameRunsLeftBySources();
// Logs "mNN: recording stopped at time stamp N" for each running measurement
// that recorded and whose stop has not said so yet, N the stamp of its newest
// record: once its stop's drain is done (the fast stop's, or the end of a
// stop, restart or destroy), or by the stop's guard when the fast stop has
// not run. Takes no lock: the guard calls it whatever the tasks hold.
void meas_app_noteRecordingStops();
// Where the measurement's running recording has got to: the stamp of the
// newest record it took since its start (false: none yet, or its stop has
// said where it ended). Takes no lock.
bool meas_app_recordedTo(unsigned measIdx, uint32_t* ts);

// Telemetry of m02: the telemetry module registers its start and stop.
struct MeasAppTeleHooks {
    int (*start)(meas_t* m);
    void (*stop)();
};
void meas_app_setTeleHooks(const MeasAppTeleHooks& hooks);
// The fast stop tells it the stop's stamp (the newest record of the files it
// closes) before it closes them: the events still open end there, in them.
void meas_app_setStopEventsHook(void (*closeOpenEvents)(uint32_t stopTs));

// ---- request front ends (remote control, shell, shutdown) -------------------------------
#include "logging/remote/meas_app_remote.h"

// ---- shell ------------------------------------------------------------------------------
void meas_app_print_measstate();
void meas_app_print_errorPIDS();
// "meas" prints the state and the devices in error; "meas start|stop|init|destroy"
// sets the request.
int measCommandFunc(int argc, char** argv);

// ---- names ---------------------------------------------------------------------------
// Name of a gateway error; "Unknown #%d" for codes without one, written into
// buf (24 characters), so that tasks never share a buffer.
const char* conv_gwerrors2ascii(unsigned err, char* buf);
const char* meas_app_typeName(const MeasBlock* b);

// Tests: back to the state before meas_app_ini (measurements must be destroyed).
void meas_app_resetForTest();
