// Measurement file store: the logging application's one door to the storage
// back end.
//
// Per measurement that writes files (m01, m03) the store is a pretrigger
// handle made by meas_app_PreTrigInit: a pretrigger, its back end, and one
// writer task per drive (the measurement's target drive, "meas:" or "meas2:",
// and, when its copy drive is "usb_meas:", a USB writer that rides out the
// stick coming and going). Everything below runs in the logging raster unless
// said otherwise; the event logger and status block tasks may call the
// meas_app_PreTrigPut* functions at the same time.
//
// Typical use by the logging application:
//   MeasAppStore_init(); meas_store_publishStats();        once at start-up
//   MeasAppStore_setHooks({...});                          flags, status block, event logger
//   meas[i].store = meas_app_PreTrigInit(i, pretrigger);   per measurement
//   MeasAppStore_initData(block, 64, 4096);                per data block
//   meas_app_store_block(block, record);                   per record (rMeas)
//   MeasAppStore_checkForFlush();                          every second (rMeas)
//   meas_app_PreTrigCheckFragment(store);                  every tick: 1 size, 2 time
//   meas_store_updateBufferStats(meas[0].store, meas[2].store);   every tick
//   meas_app_PreTrigArm / meas_app_PreTrigTrigger          start conditions
//   meas_app_PreTrigMeasStop(keepTele);                    at stop
//   MeasAppStore_closeAllFilesFast();                      at shutdown, then until it
//   meas_app_PreTrigDrainStep()                            gives 1 (every 10 ms) or the
//   wait ends, then meas_app_PreTrigHaltWriters(ms)
//   meas_app_PreTrigDrain(meas[i].store);                 at a destroy, then
//   MeasAppStore_deinitData(block); meas_app_PreTrigDelete(meas[i].store);
// The file writers set meas[i].fileWritten from their tasks (atomically):
// read and clear it with std::atomic_ref.
#pragma once

#include <cstdint>
#include <vector>

#include "logging/store/action.h"
#include "logging/store/file_info.h"

struct MeasBlock;
struct LapOutFraState;

// Status-block types of a closing file.
constexpr unsigned SB_LAPTRIG = 0;
constexpr unsigned SB_PERIOD = 1;

// What the status block needs to write a file's closing block.
struct MeasAppStore_SbRequest {
    int vfIdx;
    void* hst;                  // network stream handle of the measurement (none)
    void* pretrigger;           // the measurement's store
    uint8_t created[6];         // BCD creation date of the file
    uint8_t now[6];             // BCD date now
    char fileName[80];
    char cfgName[80];           // project file name of the configuration
    char logName[80];
    char cfgText[80];           // user info of the configuration
};

// Modules built on the store (logging application, status block, event
// logger) hand their entry points in here; every entry may be null.
struct MeasAppStoreHooks {
    // Request and state flags of the logging application (bits 0..6 hold off
    // the time-out close).
    uint32_t (*getFlags)();
    // 1 when the measurement's lap-close request is pending; clears it.
    int (*takeLapCloseRequest)(unsigned measIdx);
    // Writes the closing status block and closes the file; 3 = busy (the file
    // is then closed at once). Without it every file closes at once.
    int (*sbCreate)(const MeasAppStore_SbRequest* req, unsigned type, unsigned measIdx);
    int (*sbCreateWrite)(const MeasAppStore_SbRequest* req, unsigned type, unsigned measIdx);
    // The event logger writes the measurement's events up to ts.
    void (*eventFlushUntil)(unsigned measIdx, uint32_t ts);
    // A stop ends the measurement's recording at ts: the event logger writes
    // its events up to ts and closes those still open in the recording's
    // files at ts, in the newest of them (vfIdx; -1 when none is open).
    void (*eventsEndRun)(unsigned measIdx, int vfIdx, uint32_t ts);
    // The status block learns that a drive's files changed.
    void (*sdDataChanged)(const char* drive);
};
void MeasAppStore_setHooks(const MeasAppStoreHooks& hooks);

// ---- file store --------------------------------------------------------------------
// Queue, its mutex and the logger id; 0 on success, 1 on failure.
int MeasAppStore_init();
uint32_t meas_app_getLoggerId();
// Forgets the queue and frees the mutex (shutdown, tests).
void MeasAppStore_deinit();
// Takes the measurement's files out of the queue and detaches its blocks
// from them (its store is being deleted with the files still open).
void MeasAppStore_dropFiles(unsigned measIdx);

// Takes the measurement's store (meas[measIdx].store) out of reach and gives
// it back for deletion. The file store and the status block use it only with
// the queue held; once this has returned none of them reaches it any more.
void* MeasAppStore_takeStore(unsigned measIdx);

// Holds the file queue's lock for a scope (the lock is recursive). The
// logging raster asks for a file's status block while it holds the queue,
// so whoever takes the status block's lock and may then close a file takes
// this one first: one order, queue before status block.
class MeasAppStoreQueueHold {
public:
    explicit MeasAppStoreQueueHold(const char* who);
    ~MeasAppStoreQueueHold();
    MeasAppStoreQueueHold(const MeasAppStoreQueueHold&) = delete;
    MeasAppStoreQueueHold& operator=(const MeasAppStoreQueueHold&) = delete;
    bool held() const { return held_; }

private:
    bool held_;
};

// Frame (and for sub-sampled blocks its index translation) of a data block
// from its configuration; 0 success, 1 failure (logged).
int MeasAppStore_initData(MeasBlock* block, uint32_t recordsPerFrame, uint32_t maxBytes);
// Frees the frame; 1 when there is none or it still holds records.
int MeasAppStore_deinitData(MeasBlock* block);

// Stores one record (big-endian time stamp + values, the block's record size)
// into the block's current file, opening or joining the file it belongs to.
void meas_app_store_block(MeasBlock* block, const uint8_t* record);
// Hands the block's frame over (recoded and packed).
void meas_app_store_frame(MeasBlock* block);
// The single records held by the measurement's lap blocks (LR) and
// status-block sources (SB) go into the file of vfIdx: LR as data frames,
// SB as unframed dynamic metadata. With an expected time stamp only records
// of that time are written (lap data), with 0 any record (periodic data).
// Every buffer is emptied; the number written.
int meas_app_store_frame_lr_dyn(int vfIdx, unsigned measIdx, uint32_t expectedTs);
int meas_app_store_frame_sb_dyn(int vfIdx, unsigned measIdx, uint32_t expectedTs);
// Head of the buffer of a status-block source: block id, new-data flag,
// packed length; the record follows.
constexpr uint32_t MEAS_SB_BUFFER_HEAD = 4;
// Store mode bits of a status-block source: lap data held (locks the
// buffer against periodic data), periodic data held.
constexpr uint8_t MEAS_STORE_MODE_LAPDATA = 0x01;
constexpr uint8_t MEAS_STORE_MODE_PERDATA = 0x02;
int meas_app_open_file(MeasBlock* block, uint32_t ts, const LapOutFraState* lof);
void meas_app_close_file(MeasBlock* block, unsigned sbType);
// The block leaves its file as on a close, but the file stays open for the
// records other blocks still bring: MeasAppStore_closeFiles closes it.
void meas_app_leave_file(MeasBlock* block);
void meas_app_store_block_close_check_only(MeasBlock* block);
void meas_app_req_sb_and_unlink_file(MeasAppStore_FileInfo_s* file, unsigned sbType);
void meas_app_store_statusblock_close(MeasAppStore_FileInfo_s* file, unsigned sbType);
void meas_app_store_statusblock(MeasAppStore_FileInfo_s* file, unsigned sbType);
int meas_app_get_lof_file(MeasBlock* block, MeasAppStore_FileInfo_s** out, const LapOutFraState* lof);
void meas_app_file_queue_delete(MeasAppStore_FileInfo_s* file);
void meas_app_set_next_closeable_file(unsigned measIdx);
// Hands over frames older than 1 s and closes files left open past their
// deadline; mask bit i = measurement i.
void MeasAppStore_checkForFlush();
void MeasAppStore_checkForFlushIdx(unsigned mask);
// Arming the pretrigger: hands over every frame of the measurements in the
// mask, whatever its age, then runs the time-out check.
void MeasAppStore_armFlushIdx(unsigned mask);
// The fast stop: closes the files of every measurement as
// MeasAppStore_closeFiles does, then flushes the directories of m01 and m03.
void MeasAppStore_closeAllFilesFast();
// Closes the measurement's files as a stop does, in queue order: each block
// leaves its file (its frame handed over); a file without blocks asks for
// its closing status block once it is the oldest, and a file closed makes
// the next one the oldest. A file behind one whose status block is still
// being made waits for the next call.
void MeasAppStore_closeFiles(unsigned measIdx);
// The stop's stamp: the newest record of the files still open (of any
// measurement), which becomes their close time stamp, so that the events up
// to it go into them. Now when no file is open.
uint32_t MeasAppStore_endOpenFiles();
// The measurement's event logger writes its events up to ts into the files.
void MeasAppStore_flushEventsUntil(unsigned measIdx, uint32_t ts);
void meas_app_fsflush(unsigned measIdx);
void meas_app_fsflush_drive(const char* drive);
uint32_t MeasAppStore_getFCloseType(const MeasBlock* block);
uint32_t MeasAppStore_getFilesize(const MeasBlock* block);
// Deletes the files of a drive that do not carry the archive attribute;
// number deleted, -1 when the drive cannot be read.
int MeasAppStore_cleanup_old_measfiles(const char* drive, int fd);
// With the drive's D flag set: cleanup, then the flag is cleared. 1 when
// cleaned, 0 when not, -1 when the drive cannot be opened.
int MeasAppStore_driveCheckDirectoryFlags(const char* drive);
// Tells the status block that a drive's files changed.
void meas_store_notifyDataChanged(const char* drive);
// Queued files (tests, shell).
unsigned MeasAppStore_queuedFiles(unsigned measIdx);
// Names every file still queued as not closed at the stop (a loss line each):
// the writers have halted before the fast stop queued their closes.
void MeasAppStore_nameOpenFilesAtHalt();

// ---- facade of a measurement's store (null handles do nothing) ----------------------
void* meas_app_PreTrigInit(unsigned measIdx, float pretriggerSeconds);
// Does what a stop does before the store goes: closes the measurement's files
// with their status blocks, hands the ring over and waits (up to 3 s) until
// the writers have written everything. Call it while the blocks still exist.
void meas_app_PreTrigDrain(void* handle);
// Stops and deletes the store with its writers at once, without waiting for
// them to write what they still hold: drain it first, before taking any lock
// another task waits for. Files that could not be closed are dropped (what
// the writers had of them stays on the drives).
void meas_app_PreTrigDelete(void* handle);
void meas_app_PreTrigArm(void* handle);
void meas_app_PreTrigTrigger(void* handle);
void meas_app_PreTrigOpenFile(void* handle, MeasAppStore_FileInfo_s* file);
// Takes data (malloc'ed); a frame that cannot be handed over is freed and counted lost.
void meas_app_PreTrigPutMeasFrame(void* handle, int vfIdx, uint8_t* data, uint32_t length, uint32_t firstTs,
                                  uint32_t lastTs);
void meas_app_PreTrigPutMeasFrameCopy(void* handle, int vfIdx, const uint8_t* data, uint32_t length, uint32_t firstTs,
                                      uint32_t lastTs);
// timeOf: the time base of the stamp (a step count: the one its source
// stamped it in, else time_stepOfStamp where it came in); without it the
// stamp is judged now. The result: the index of the file it
// went into, META_HELD (it waits for the new time's first file) or
// META_NONE (no file took it).
constexpr int META_NONE = -1;
constexpr int META_HELD = -2;
int meas_app_PreTrigPutMetaDataCopy(void* handle, const uint8_t* data, uint32_t length, uint32_t ts, uint8_t type,
                                    uint32_t timeOf);
void meas_app_PreTrigPutMetaDataCopy(void* handle, const uint8_t* data, uint32_t length, uint32_t ts, uint8_t type);
void meas_app_PreTrigPutMetaDataVfCopy(void* handle, int vfIdx, const uint8_t* data, uint32_t length, uint8_t type);
// An event open that waited for the new time's first file (META_HELD) and
// was dropped without one: its source PID, id and start. Up to max of those
// dropped since the last call go to out; the count is returned.
struct MeasDroppedOpen {
    uint16_t pid;
    uint32_t id, start;
};
unsigned meas_app_PreTrigTakeDroppedOpens(void* handle, MeasDroppedOpen* out, unsigned max);
// Whether such an open (its PID, id and start) is in no file yet: it still
// waits for the new time's first file, or was dropped and not taken yet.
bool meas_app_PreTrigHoldsOpen(void* handle, const MeasDroppedOpen& open);
// The recording of the measurement's live files has stopped: no event goes
// into them any more.
void meas_app_PreTrigEndEvents(void* handle);
void meas_app_PreTrigCloseFile(void* handle, int vfIdx);
void meas_app_PreTrigFlushFile(void* handle, int vfIdx);
void meas_app_PreTrigFlushDir(void* handle);
void meas_app_PreTrigCopyFile(void* handle, const CopyFile_t* copy);
// The files of the measurement that the going of drive cut while they were
// written (the drive keeps their start), by their counters (name unset),
// oldest first: each given once (also for a null handle: none).
std::vector<CopyFile_t> meas_app_PreTrigTakeCutOnDrive(void* handle, const char* drive);
int meas_app_PreTrigMeasRunning(void* handle);
// Time of the pretrigger's last arm (0 = none since the last stop): a
// block's frame ends there, so that the records before it reach the file.
uint32_t meas_app_PreTrigArmTime(void* handle);
int meas_app_PreTrigCheckFragment(void* handle);
void meas_app_PreTrigTriggerFragment(void* handle);
// Why the measurement has to go on in new files, once (0: nothing): the
// internal drive's writer found files of the measurement gone from its drive
// (the drive vanished or was made anew), or a drive that refused a new file
// has room for one again.
enum : int {
    MEAS_STORE_FILES_GONE = 1,
    MEAS_STORE_ROOM_AGAIN = 2,       // the internal drive
    MEAS_STORE_USB_ROOM_AGAIN = 4,
};
int meas_app_PreTrigTakeDriveLoss(void* handle);
// 1 while the measurement's USB drive writer has not joined its back end
// (it looks for its drive a few times a second): a file made meanwhile is
// not written on the USB drive. 0 without one, or once it has joined.
int meas_app_PreTrigUsbWriterWaiting(void* handle);
void meas_app_PreTrigGetMeasVarsPT(void* handle, int* state, uint32_t* size, uint32_t* maxSize, uint32_t* count,
                                   uint32_t* maxCount);
void meas_app_PreTrigGetMeasVarsBE(void* handle, uint32_t* size, uint32_t* maxSize, uint32_t* count,
                                   uint32_t* maxCount);
// 1 when every store has written all it holds: its pretrigger ring is empty
// and its back end flushed.
int meas_app_PreTrigIsOfflineDataFlushed();
// One step of a stop's drain over every store, as meas_app_PreTrigDrain
// takes them without waiting: closes the files that can close now, hands
// the ring on; 1 once every file is closed and everything written.
int meas_app_PreTrigDrainStep();
// The end of the stop's wait for the writers: they take no more actions, and
// each names what it had not written, file by file (a writer inside a write
// that does not end within limitMs names its drive only).
void meas_app_PreTrigHaltWriters(unsigned limitMs);
void meas_app_PreTrigMeasStop(int skipTelemetry);

// ---- statistics -----------------------------------------------------------------------
// Signal-page statistics of the store; sizes of the buffers are published as
// (bytes / 1024) x 200 / 1024, "ecu" = m01, "fde" = m03.
struct MeasStoreStats {
    uint32_t meas_data_size_m01_uncompressed;
    uint32_t meas_data_size_m01_compressed;
    uint32_t meas_data_size_m03_uncompressed;
    uint32_t meas_data_size_m03_compressed;
    uint32_t meas_pretrig_buf_size_ecu, meas_pretrig_buf_size_ecu_max;
    uint32_t meas_pretrig_buf_cnt_ecu, meas_pretrig_buf_cnt_ecu_max;
    uint32_t meas_pretrig_buf_state_ecu;
    uint32_t meas_backend_buf_size_ecu, meas_backend_buf_size_ecu_max;
    uint32_t meas_backend_buf_cnt_ecu, meas_backend_buf_cnt_ecu_max;
    uint32_t meas_pretrig_buf_size_fde, meas_pretrig_buf_size_fde_max;
    uint32_t meas_pretrig_buf_cnt_fde, meas_pretrig_buf_cnt_fde_max;
    uint32_t meas_pretrig_buf_state_fde;
    uint32_t meas_backend_buf_size_fde, meas_backend_buf_size_fde_max;
    uint32_t meas_backend_buf_cnt_fde, meas_backend_buf_cnt_fde_max;
    uint32_t meas_lost_frames_m01;      // frames and records that could not be handed over
    uint32_t meas_lost_frames_m03;
};
// The statistics (in the signal page once published).
MeasStoreStats& meas_store_stats();
// Counts a frame or record of m01 or m03 that could not be handed over. The
// logging raster and the status block and event logger tasks count at once.
void meas_store_countLost(unsigned measIdx);
// Places the statistics in the signal page and names them in the variable
// catalogue; 1 on success, 0 when they stay private.
int meas_store_publishStats();
// Refreshes the buffer statistics from the stores of m01 and m03.
void meas_store_updateBufferStats(void* storeM01, void* storeM03);
// Write counters of the writers: [measurement][0 internal, 1 USB].
struct MeasStoreWriteCounters {
    uint32_t writes;
    uint32_t bytes;
    uint32_t failures;   // writes, flushes and closes the drive refused
};
MeasStoreWriteCounters& meas_store_writeCounters(unsigned measIdx, unsigned usb);
