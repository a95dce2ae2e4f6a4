// Run-time records of the logging application: one `meas_t` per measurement
// and one `MeasBlock` per configured block. All zero while a measurement is
// not configured; the lifecycle code fills them from the configuration.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/os/os.h"
#include "logging/config/meas_config.h"

struct MeasBlock;
struct MeasAppStoreBlockData;   // file-store data of a block (store code)
class eventlogger;              // event logger of a measurement

// Block type flags.
constexpr uint16_t MEAS_BLK_TELE = 1u << 0;
constexpr uint16_t MEAS_BLK_COND = 1u << 1;
constexpr uint16_t MEAS_BLK_FIFOCOND = 1u << 2;
constexpr uint16_t MEAS_BLK_DATA = 1u << 3;
constexpr uint16_t MEAS_BLK_SB = 1u << 4;

// List flags of a block.
constexpr uint16_t MEAS_LST_SLOW = 1u << 0;
constexpr uint16_t MEAS_LST_STARTED = 1u << 1;
constexpr uint16_t MEAS_LST_SETUP = 1u << 2;
constexpr uint16_t MEAS_LST_OFFLINE = 1u << 3;
constexpr uint16_t MEAS_LST_STARTERR = 1u << 4;
constexpr uint16_t MEAS_LST_REPLY = 1u << 5;
constexpr uint16_t MEAS_LST_SPEEDINIT = 1u << 6;

// Per-type counts of a measurement, in this order.
enum MeasTypeCount {
    MEAS_CNT_DATA_STARTED, MEAS_CNT_COND_STOPPED, MEAS_CNT_COND_STARTED, MEAS_CNT_FIFOCOND_STOPPED,
    MEAS_CNT_FIFOCOND_STARTED, MEAS_CNT_TELE_STOPPED, MEAS_CNT_TELE_STARTED, MEAS_CNT_SBLAP_STARTED,
    MEAS_CNT_LAP_STARTED, MEAS_CNT_TYPES,
};

// A word of a measurement that the logging task changes while the raster
// tasks or the shell read it: every access is one atomic operation, and a
// store publishes everything written before it. Copying (a fresh meas_t)
// copies the value.
template <class T>
class SharedWord {
public:
    SharedWord(T v = 0) : v_(v) {}
    SharedWord(const SharedWord& o) : v_(T(o)) {}
    SharedWord& operator=(const SharedWord& o) { return *this = T(o); }
    SharedWord& operator=(T v) {
        v_.store(v, std::memory_order_release);
        return *this;
    }
    operator T() const { return v_.load(std::memory_order_acquire); }
    SharedWord& operator|=(T bits) {
        v_.fetch_or(bits, std::memory_order_acq_rel);
        return *this;
    }
    SharedWord& operator&=(T bits) {
        v_.fetch_and(bits, std::memory_order_acq_rel);
        return *this;
    }
    SharedWord& operator^=(T bits) {
        v_.fetch_xor(bits, std::memory_order_acq_rel);
        return *this;
    }
    SharedWord& operator++() {
        v_.fetch_add(1, std::memory_order_relaxed);
        return *this;
    }
    T exchange(T v) { return v_.exchange(v, std::memory_order_acq_rel); }
    bool compareExchange(T& expected, T desired) {
        return v_.compare_exchange_weak(expected, desired, std::memory_order_acq_rel, std::memory_order_acquire);
    }

private:
    std::atomic<T> v_;
};

struct meas_t {
    MEASConfiguration* config;          // null = not loaded
    uint32_t configSize;
    void* qovBlob;
    uint32_t qovSize;
    MeasBlock* blocks;                  // data blocks first, condition blocks after
    MeasBlock* firstCondBlock;
    SharedWord<uint32_t> runFlags;      // bit 0 started, bit 1 stop pending
    SharedWord<uint16_t> stateFlags;    // bit 0 configured, bit 1 waiting for global start, bit 2 global start true
    uint16_t blockCount;
    uint16_t engineBlockCount;
    uint16_t engineBlocksWithCond;
    SharedWord<uint32_t> savedRecords;
    uint32_t startCount;
    uint32_t replyCount;
    uint32_t replyErrorCount;
    uint32_t typeCounts[MEAS_CNT_TYPES];
    uint64_t globalCondBit;
    uint64_t activeConditions;
    uint16_t forcedFragment;
    uint8_t fileWritten;
    // a file was made for the measurement since its start (rMeas sets it,
    // the stop reads and clears it): its name is taken, written yet or not
    uint8_t fileMade;
    void* gwConnection;
    // the pretrigger store: read by the status-block task and the lap
    // counters' callers too. A destroy takes it under the file queue's lock
    // (MeasAppStore_takeStore), with condLock held, and frees it after.
    SharedWord<void*> store;
    eventlogger* eventLogger;
    // Made at the first configuration and kept for the life of the process:
    // the condition raster and the gateway may be waiting on them while a
    // destroy clears everything else.
    SharedWord<SEM_ID> dataLock;
    SharedWord<SEM_ID> condLock;
    uint32_t firstDataTimeStamp;
    // Where the recording since the start has got to, for the line its stop
    // leaves (meas_app_stop_note.cpp): the logging raster raises it as it
    // takes each data record, and the stop's guard reads it while the
    // raster may still run.
    SharedWord<uint64_t> recordedTo;
    uint32_t channelTotal;
    uint32_t fastestRaster;             // starts at 9 ("1s")
};
extern meas_t meas[MEAS_COUNT];
// Back to "not configured", all but the two locks, which stay for the life of
// the process (see meas_t).
void meas_clearKeepingLocks(meas_t& m);

struct MeasBlock {
    MeasBlock* prev;
    MeasBlock* next;
    meas_t* owner;
    uint8_t measIdx;
    BlkInfo* config;
    uint32_t latestTimeStamp;
    uint32_t framesPerRecord;
    uint64_t ownCondBit;
    uint16_t pid;
    uint16_t teleSlot;
    uint16_t globalBlockNumber;
    uint16_t dataFifo;                  // 0xFFFF = none
    uint8_t condSlot;                   // 0xFF = none; m03 adds 62
    uint8_t condFifo;                   // m03 adds 62
    uint8_t startCondNumber;            // 1..64, 0 = none; m03 adds 62
    uint16_t typeFlags;
    void* sbBuffer;
    uint8_t sbFlags;                    // bit 1 stop pending
    void* condBuffer;
    uint32_t condErrorCount;
    uint8_t condState;                  // 0x80 no value yet, 1 value present, 0xFF error
    void* teleBuffer;
    uint8_t teleState;                  // 0 none, 1 value present, 0xFF error
    uint16_t listFlags;
    MeasAppStoreBlockData* storeData;
    uint32_t gwList;                    // gateway list handle (magic number)
};

// Node of the list of started blocks by PID (shell print of devices in error).
struct ext_pidnode {
    ext_pidnode* prev;
    ext_pidnode* next;
    MeasBlock* block;
    uint16_t pid;
    uint8_t reserved;
};

// Telemetry slot table: per telemetry block id the first TELE block of the
// telemetry measurement with that id and the number of consecutive blocks
// with it. Entry 0 is the fast block (in every frame), entries 1 to 7 the
// slow blocks (one per frame, in turn). The logging application fills it
// when it sets the telemetry measurement up; the telemetry reads it.
struct TeleSlot {
    MeasBlock* first;
    uint16_t count;
};
constexpr unsigned TELE_SLOTS = 8;
extern TeleSlot tele[TELE_SLOTS];

// ---- block lists ----------------------------------------------------------------------
// Started DATA and sb blocks per logger raster code; COND and FIFOCOND blocks
// per measurement; the started blocks by PID. New blocks go to the head.
extern MeasBlock* meas_app_measlist[MEAS_RASTER_CODES];
extern MeasBlock* meas_app_condlist[MEAS_COUNT];
extern MeasBlock* meas_app_blkcondlist[MEAS_COUNT];
extern ext_pidnode* ext_pidlist;

void meas_list_push(MeasBlock** head, MeasBlock* b);
// Takes the block out of the list it is in (nothing when it is in none).
void meas_list_unlink(MeasBlock** head, MeasBlock* b);
