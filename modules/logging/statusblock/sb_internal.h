// State shared by the files of the status block module. Everything here is
// guarded by sb_lock() unless said otherwise. Whoever may close a file while
// holding sb_lock() takes the file store's queue lock before it
// (MeasAppStoreQueueHold): the logging raster holds the queue when it asks
// for a file's status block.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "logging/statusblock/sb_image.h"
#include "logging/statusblock/statusblock.h"
#include "logging/store/meas_app_store.h"

constexpr unsigned SB_BLOCKS = 2;
constexpr uint32_t SB_TIMEOUT = 5000;           // 0.5 s in 0.1 ms

// Busy bits of a block.
constexpr uint16_t SB_BUSY_LAP = 0x4000;
constexpr uint16_t SB_BUSY_PER = 0x8000;
constexpr uint16_t SB_BUSY_DATA_MISSING = 0x0001;

// Status bits.
constexpr uint32_t SB_ST_VERSIONS_PENDING = 1u << 0;
constexpr uint32_t SB_ST_LAPSTACK_PENDING = 1u << 1;
constexpr uint32_t SB_ST_WRITTEN = 1u << 12;

struct SbBlock {
    uint8_t image[SB_IMAGE_SIZE];
    unsigned type;                  // SB_LAPTRIG or periodic
    unsigned measIdx;
    uint32_t startTs;
    uint16_t busy;
    uint32_t expectedSb, writtenSb; // frames of the status-block (SB-Lap) sources
    uint32_t expectedLr, writtenLr; // frames of the lap sources
    MeasAppStore_SbRequest req;
};

struct SbLapEvent {
    uint16_t lap;
    uint16_t outing;
    uint32_t lapTime;               // hundredths of a second
    uint32_t timeStamp;             // 0.1 ms, the lap-trigger master's
    uint32_t received;              // time_getTimestamp() when it came in
};

struct SbState {
    SbBlock block[SB_BLOCKS];
    SbLapEvent lastLap;
    uint64_t versionAsked, versionAnswered;     // bit PID - 1
    uint64_t versionUnreachable;                // connected, but the request could not be sent
    SbVersionEntry versions[SB_VERSION_ENTRIES];
    uint64_t lapstackControllers;               // ALL_LAPSTACK_CONTROLLERS
    uint64_t lapstackAnswered;
    uint64_t lapReq, lapOk;                     // SB-Lap sources asked for and delivered at a lap
    uint64_t perReq, perOk;                     // the same for periodic data
    uint32_t status;
    bool initialised;                           // images and masks set up
    uint32_t slowWakes;
    uint8_t lapstackExtra[2];                   // the two bytes of the last 16-byte lap-stack answer
};
SbState& sb_state();
std::mutex& sb_lock();

// Written by raster hooks and shutdown, read by the task.
extern std::atomic<bool> sblk_task_fast;
extern std::atomic<bool> sb_SwOff;

// One wake of the task "r_sblk_task" (sb_task.cpp): completes the waiting
// blocks. Takes the file queue's lock, then this module's lock.
void sb_task_check_blocks();

// Blocks (sb_block.cpp); the lock is held.
void sb_init(unsigned blk);
void sb_init_all_locked();
// 1 written or dropped, 2 waiting, 0 idle.
int sb_create_check_locked(unsigned blk);
// Fills the image's data part (file texts of the request, versions, EPK,
// annotation, lap stack); the length of the metadata block.
size_t sb_compose_image_locked(uint8_t* image, const MeasAppStore_SbRequest& req);
// After a periodic record: the snapshot into the measurement's current
// file (sb_write.cpp); called without the lock.
void sb_store_periodic(MeasBlock* block);
// When no block is busy any more: back to slow mode.
void sb_check_idle_locked();

// Version information (sb_version.cpp); the lock is held.
void sb_versions_init_locked();
void sb_check_vers_info_locked();
// The 32-byte identification text this device answers with.
void sb_own_version_text(char* out32);
uint64_t sb_pid_bit(unsigned pid);

// Store of a measurement. Read and used with the file queue held, under
// which a destroy takes it away (MeasAppStore_takeStore).
void* sb_store_of(unsigned measIdx);
