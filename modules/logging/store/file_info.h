// One open measurement file as the file store keeps it: its identity (name and
// counters), its time range, its closing state and the data blocks writing
// into it. Created when the first record of a file arrives; owned by the
// file's virtual file from then on and freed with it.
#pragma once

#include <cstdint>

struct meas_t;
struct MeasBlock;
struct MeasFrame;
struct MeasAppStore_FileInfo_s;

// Close types of a file.
constexpr uint32_t MEAS_FCLOSE_OPEN = 0;
constexpr uint32_t MEAS_FCLOSE_LAPREQ = 1;      // closed by a lap trigger with the lap-close request pending
constexpr uint32_t MEAS_FCLOSE_OTHER = 2;
constexpr uint32_t MEAS_FCLOSE_SBREQ = 3;       // closing status block requested
constexpr uint32_t MEAS_TS_UNSET = 0xFFFFFFFFu;

// A due time as a stamp that can never read as unset: one that lands on
// MEAS_TS_UNSET (a clock anywhere in its range can get there) comes 0.1 ms
// earlier instead of never.
constexpr uint32_t meas_dueStamp(uint32_t due) { return due == MEAS_TS_UNSET ? due - 1 : due; }

// File-store data of one data block.
struct MeasAppStoreBlockData {
    MeasAppStoreBlockData* prev;        // in the block list of its file
    MeasAppStoreBlockData* next;
    MeasAppStore_FileInfo_s* file;      // current file, or null
    uint32_t fileInitTs;                // the file's lap/fragment trigger stamp at attachment
    uint32_t lapTs;                     // lap time stamp of the block's open file, 0xFFFFFFFF = none
    MeasFrame* frame;
    uint32_t recordLength;
    uint8_t mode;                       // bits 0, 1, 2, 4: the block keeps its file on close requests
    MeasBlock* owner;
    // the file a lap or fragment trigger closed for it (its trigger, 0 for
    // none, and name): the one before the next file it opens
    uint32_t leftTrigger;
    char leftName[40];
};

struct MeasAppStore_FileInfo_s {
    MeasAppStore_FileInfo_s* qPrev;     // in the file queue
    MeasAppStore_FileInfo_s* qNext;
    MeasAppStoreBlockData* blocks;      // data blocks writing into this file
    uint32_t blockCount;
    meas_t* meas;
    uint8_t created[6];                 // BCD date and time
    char name[40];
    uint8_t measIdx;
    uint16_t outing;
    uint16_t lap;
    uint16_t absLap;
    uint16_t fragment;
    uint32_t closeType;
    uint32_t initTs;                    // 0.1 ms: the lap/fragment trigger's, else the first record's
    uint32_t lapTs;                     // the lap/fragment trigger stamp it began under, 0 = none since the start
    uint32_t trigger;                   // the number of that trigger (LapOutFraState::trigger)
    uint32_t closeTs;                   // records up to it belong here; unset = 0xFFFFFFFF
    uint32_t closeDeadline;             // unset = 0xFFFFFFFF
    uint8_t closeable;                  // only the oldest file of a measurement may close
    int vfIdx;                          // -1 before the virtual file exists and after closing
    uint32_t fileSize;                  // header + frame bytes handed over
    uint64_t countersStamp;             // NVRAM change that holds the counters naming it
    uint32_t timeSteps;                 // steps of the device's time when it was made
};
