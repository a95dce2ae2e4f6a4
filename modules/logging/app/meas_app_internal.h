// Module state and helpers shared by the files of the logging application.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "logging/app/meas_app.h"
#include "measurement/signalpage.h"

struct MeasAppState {
    std::atomic<uint32_t> stopstart{0};    // 0 idle, 3 restart wanted, 4 restart stopping
    std::atomic<uint8_t> restartReq{0};
    uint32_t restartSettle = 0;   // ticks a restart at a step back still waits ("rMeas" only)
    // The last step back ("rMeas" only): the old time's last stamp and the
    // new time's first, where the restart's first files begin.
    uint32_t stepBefore = 0, stepAfter = 0;
    bool stepRestart = false;   // the restart under way is one at a step back
    std::atomic<uint8_t> powerdown{0};
    std::atomic<uint8_t> timestampValid{0};   // the shell's requests read it too
    uint32_t lastTs = 0;
    bool lastTsSet = false;   // lastTs holds the last stamp, once the time was in sync
    uint32_t stepsBackSeen = 0;   // fifo_data_steps_back at the last tick
    // A start waits for the time (no time master heard): named once per
    // wait; read by the shell.
    std::atomic<bool> timeWait{false};
    std::atomic<uint8_t> datatimeout{0};
    uint8_t teleInitialized = 0;
    uint16_t measfifoid = 0;
    uint16_t globalblockid = 0;
    std::atomic<uint16_t> ltLap{0}, ltOut{0};
    std::atomic<bool> ltValid{false};      // a lap/outing pair came from another device
    uint64_t sbControllers[MEAS_COUNT] = {};
    MeasAppTeleHooks tele{};
    std::atomic<void (*)(uint32_t)> stopEvents{nullptr};
    bool destroyStopping = false;          // a destroy waits for its stop to drain
    uint8_t usbChecked = 0, usbAvailable = 0, usbArrivals = 0, usbSettlingAtStart = 0;
    int64_t usbSettledBy = 0;   // (ms) when the drive there at the start is to have settled
    uint8_t usbJoinWait = 0;   // looks an arrival's fragment has waited for the USB writers
};
extern MeasAppState gApp;

// The raster lists are shared by all measurements and touched by the gateway
// callbacks and "rMeas": one lock for all of them, held only briefly and
// never while calling into the gateway's list end. A measurement's locks
// come first: condLock, then dataLock, then this one (a destroy holds the
// two while its blocks leave the lists); never one of them inside it.
std::mutex& meas_app_listLock();

// Request flags live in the signal page; other tasks write them bytewise.
inline std::atomic_ref<uint8_t> flag(uint8_t& f) { return std::atomic_ref<uint8_t>(f); }
// The application clock in ms (since the process started).
int64_t meas_app_applMs();
inline SignalPage& sp() { return *signalPage(); }

// List flags are read by the callbacks while "rMeas" changes them.
inline uint16_t lst(const MeasBlock* b) {
    return std::atomic_ref<const uint16_t>(b->listFlags).load(std::memory_order_acquire);
}
inline void lstSet(MeasBlock* b, uint16_t bits) {
    std::atomic_ref<uint16_t>(b->listFlags).fetch_or(bits, std::memory_order_acq_rel);
}
inline void lstClr(MeasBlock* b, uint16_t bits) {
    std::atomic_ref<uint16_t>(b->listFlags).fetch_and(uint16_t(~bits), std::memory_order_acq_rel);
}
inline void lstStore(MeasBlock* b, uint16_t v) {
    std::atomic_ref<uint16_t>(b->listFlags).store(v, std::memory_order_release);
}

inline unsigned blockCountOf(const meas_t& m) {
    return m.config ? unsigned(m.config->numBlocks) + m.config->numConditions : 0;
}
inline bool isSbLap(const MeasBlock* b) { return (b->typeFlags & MEAS_BLK_SB) && b->config->raster == MEAS_RASTER_SBLAP; }

// ---- block helpers ---------------------------------------------------------------------
int meas_app_blockinit(MeasBlock* b);
void meas_app_blockstart(MeasBlock* b);
void meas_app_blockstop(MeasBlock* b);
int meas_app_set_blockspeed(MeasBlock* b, unsigned speed);
void meas_app_init_blockspeed();
void* buffer_request(uint32_t size);
void buffer_release(void* p);
void meas_app_add2pidlist(MeasBlock* b, uint16_t pid);
void meas_app_free_pidlist(bool keepTele);

// ---- measurement lifecycle -------------------------------------------------------------
void meas_app_measinit();
int meas_app_meascreate(unsigned idx, MEASConfiguration* cfg, uint32_t size);
// Starts the configured measurements that do not run; onlyIdx 0..2 only that one.
void meas_app_measstart(int onlyIdx = -1);
void meas_app_measstop(bool keepTele);
void meas_app_fastmeasstop();
// Where a measurement's recording has got to (meas_app_stop_note.cpp): none
// at its start; each data record the logging raster takes raises it.
void meas_app_recordingStarts(meas_t& m);
void meas_app_noteRecorded(meas_t& m, uint32_t ts);
int meas_app_measdestroy();
// Measurements whose drive is not ready at their init (meas_app_drivewait.cpp).
// At init: true when a drive of measurement idx is not ready; it is logged
// and the measurement waits, keeping cfg (which it then owns; null when its
// configuration could not be loaded: it is loaded when the drive is ready).
bool meas_app_driveWaitBegin(unsigned idx, MEASConfiguration* cfg, uint32_t size);
// Logging raster, every tick: creates the waiting measurements whose drive is
// ready now, and starts them while logging runs; a recording measurement
// whose drive goes waits for it and goes on in new files when it is back.
void meas_app_driveWaitPoll();
// A destroy ends every wait.
void meas_app_driveWaitClear();
// True while measurement idx waits (to be created, or, recording, for its
// drive to come back); drive (CFG_MEAS_STRLEN + 1 bytes, may be
// null) gets the drive it waits for. Any task.
bool meas_app_driveWaiting(unsigned idx, char* drive);
// All raster lists empty: the end of a stop.
void meas_app_stopFinished(bool keepTele);
// Asks for the files of m01 and m03 to end: both go on in a new fragment,
// made in a task of its own (meas_app_split.cpp); a request while another is
// not yet begun is made with it. checkDrivesOf (bit per measurement): the
// flags of these measurements' drives are checked before the split (a drive
// back may carry an erase request).
void meas_app_forceFragment(unsigned checkDrivesOf = 0);
// Logging raster, for a start it is to make (meas_app_start_prep.cpp): 1 when
// the drives have been looked at for it (their flags, the names in use) and
// the start can be made now; 0 while the look is being made (in a task);
// -1 when no look could be made (logged).
int meas_app_startLooked();
// The start is not made (refused, dropped, or not requested any more): the
// next start looks again.
void meas_app_startLookForget();
// Whether a split is asked for or being made.
bool meas_app_splitPending();
// No split asked for (the raster entries are made; the drive tasks have ended).
void meas_app_splitReset();

// Gateway callbacks.
int meas_app_gw_cbStart(unsigned long error, void* word, void* user);
int meas_app_gw_cbData(unsigned long error, void* data, void* user);
// A record of the source PID refused by its data FIFO for its stamp: a
// source stamping in another time base is named once per spell (ahead and
// behind) and counted; a record taken ends the source's spell.
void meas_app_noteRefusedStamp(unsigned pid, uint32_t stamp);
void meas_app_noteStampInTime(unsigned pid);
// A condition record stamped ahead of the time: named once per source and
// spell and counted; one in time ends the spell.
void meas_app_noteIllegalCondStamp(const MeasBlock* b, uint32_t stamp, uint32_t now);
void meas_app_noteCondStampInTime(const MeasBlock* b);
void meas_app_foreignTimeReset();
int meas_app_gw_cbTout(unsigned long state, void* pid, void* user);

// Saves everything the raster's FIFOs hold, the lap-trigger delay ignored
// (fast stop).
void meas_app_drainRaster(unsigned raster);

void meas_app_logBlock(int level, const char* prefix, const MeasBlock* b);
