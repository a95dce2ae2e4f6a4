// FIFOs of the logging application between the gateway's read callbacks (raster
// tasks, producers) and the logging raster "rMeas" (consumer).
//
// A data FIFO per logged block aligns values that arrive with different
// latencies, keeps enough history for the lap-trigger delay and thins the
// block's records out by the state of its start condition at each record's
// time stamp. A condition FIFO per per-block condition keeps the condition's
// history (true, false, or transition zone near a change).
//
// Every FIFO has its own mutex; fifo_data_get takes a condition FIFO's mutex
// while it holds the data FIFO's (data before condition).
#pragma once

#include <cstdint>

// Results of the FIFO functions (negative).
enum : int {
    MF_ERR_COND_NUM = -1,
    MF_ERR_FIFO_IN_USE = -2,
    MF_ERR_FIFO_INVALID = -3,
    MF_ERR_TYPE = -4,
    MF_ERR_MEM_ALLOC = -5,
    MF_ERR_NOT_SET_UP = -6,      // release of a FIFO that was not set up
    MF_ERR_FULL = -7,            // data FIFO full, sample dropped
    MF_ERR_MEM_DEST = -8,
    MF_ERR_RASTER = -9,
    MF_ERR_TS_INVALID = -10,     // invalid, in the future, or newer condition data not possible yet
    MF_NOT_YET = -11,            // younger than the lap-trigger delay / no condition entry yet
    MF_ERR_TS_OLD = -12,         // condition: older than its oldest entry
    MF_WAIT_COND = -13,          // the record waits for its condition
    MF_ERR_NO_COND = -14,        // no condition FIFO, or it is empty
    MF_ERR_COND_STALE = -15,     // condition's newest entry 0.2 s or more behind now
    MF_NOTHING = -16,            // nothing delivered
    MF_ERR_TS_FOREIGN = -17,     // stamped in another time base than this device's (refused)
};

constexpr unsigned MEAS_COND_FIFOS = 124;
constexpr unsigned MEAS_DATA_FIFOS = 500;
constexpr unsigned MEAS_COND_RING = 6768;          // 33.84 s at 5 ms
constexpr unsigned MEAS_FIFO_MAX_ELEMS = 256;

// Condition values.
enum : uint8_t { COND_FALSE = 0, COND_TRUE = 1, COND_TRANSITION = 2, COND_UNKNOWN_TYPE = 255 };

struct MeasFifoCondRequest {
    uint16_t fifoNum;
    uint8_t elemSize;          // 1, 2 or 4
    uint16_t lapDelayMs;       // stored time stamps are moved back by it
    uint16_t raster;           // logger raster code; must be 2 (5 ms)
    uint16_t pid;              // source device
    uint16_t blockNum;
    uint16_t windowMs;         // transition zone before a change (plus 20 / 40 ms)
};

struct MeasFifoDataRequest {
    uint16_t fifoNum;
    uint16_t elemCount;
    uint8_t elemSizes[MEAS_FIFO_MAX_ELEMS];
    uint16_t latency[MEAS_FIFO_MAX_ELEMS];   // samples each element arrives late
    uint16_t raster;           // logger raster code
    uint16_t mult[2];          // period multipliers while the condition is false / true
    uint16_t pid;
    uint16_t blockNum;
    uint16_t condFifoPlus1;    // condition FIFO number + 1, 0 = none
    uint16_t mode;             // handed on from the block record
};

// ---- current time (written by the logging raster) ----------------------------------
void fifo_cond_set_curr_ts(uint32_t ts);
void fifo_data_set_curr_ts(uint32_t ts);
// Set while the clock was just re-synchronised: records "from the future"
// are not reported then.
void fifo_data_time_resync(int flag);
// The time stamps handed to records went back (the logging raster found it):
// the FIFOs set up before take no more records and give theirs at once,
// until the measurement restarts with new ones; the records refused are
// counted and named at their FIFO's release. A FIFO finds such a step too
// when the device's own records come stamped back, and the time service's
// notes of a step back (time_step.h) are heard. Gives the steps counted.
uint32_t fifo_data_step_back();
// Steps back seen so far, however found, and locks ahead onto the time
// master's new run (host::timeRelocksAhead), each a new time (wraps).
uint32_t fifo_data_steps_back();
// The time master (PID pid) runs anew: called with its first message,
// before this device's core is told to lock onto its new time. Until that
// lock ends, the FIFOs of the time before take none of its records (they
// are stamped in its new time); they are counted and named.
void fifo_data_master_runs_anew(uint16_t pid);
// The same, heard first on the device network (the master's presence with a
// newer boot count): the hold begins at once and waits for the master's
// first time message of its new run (fifo_data_master_runs_anew), for five
// seconds at most. A hold already on for pid is kept.
void fifo_data_master_restarts(uint16_t pid);
// Whether pid is that master and the lock onto its new run has not ended.
bool fifo_data_of_masters_new_run(uint16_t pid);

// ---- condition FIFOs -----------------------------------------------------------------
void fifo_condition_init();
int fifo_condition_request(const MeasFifoCondRequest& req);
// slot: big-endian time stamp followed by the value.
int fifo_condition_put(unsigned fifoNum, const uint8_t* slot);
int fifo_condition_check(unsigned fifoNum, uint32_t ts);
int fifo_condition_release(unsigned fifoNum);
void fifo_condition_release_all();

// ---- data FIFOs ----------------------------------------------------------------------
int fifo_data_request(const MeasFifoDataRequest& req);
int fifo_data_release(unsigned fifoNum);
void fifo_data_release_all();
// slot: big-endian time stamp followed by the element values in order.
int fifo_data_put(unsigned fifoNum, const uint8_t* slot);
// Delivers the oldest due record (big-endian time stamp + values) into dest:
// its size, or an error. applyDelay keeps records younger than the
// lap-trigger delay back.
int fifo_data_get(unsigned fifoNum, uint8_t* dest, int applyDelay, uint32_t* outTs);
// Depth and full count of a data FIFO (tests, benchmark); false when not set up.
bool fifo_data_info(unsigned fifoNum, uint32_t* depth, uint32_t* fullCount);

// ---- load statistics -------------------------------------------------------------------
constexpr unsigned MEAS_FIFO_LOAD_CLASSES = 19;   // load classes 0 .. 18 (13 unused)
constexpr unsigned MEAS_FIFO_LOAD_SIGNALS = 13;   // published: classes 0 .. 12
struct MeasFifoSignals {
    uint8_t fifo_load_max[MEAS_FIFO_LOAD_SIGNALS];   // percent of depth, R1ms .. Rlap_sb
    uint8_t pad[3];
    uint32_t fifo_full_ctr;                          // samples dropped by full data FIFOs
};
MeasFifoSignals& meas_fifo_signals();
// Places the signals in the signal page and names them; 1 on success.
int meas_fifo_publishSignals();
void meas_fifo_data_init_load_vars();
void meas_fifo_data_update_load_vars();    // 100 ms raster
void meas_fifo_data_syslog();              // logging raster, every second
// Raises the load maximum of a class (FIFO code).
void meas_fifo_note_load(unsigned loadClass, uint32_t percent);
void meas_fifo_count_full();
