// State of the time service shared by its parts.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "host/os/os.h"
#include "platform/timebase.h"

// A run of the master not heard for this long has ended: five of its
// 100-ms periods, time enough for a loaded host's late messages, yet short
// of the second without gap stamps after which the slave's core loses its
// lock, so that a slave in sync steps in sync onto a restarted master.
constexpr int64_t TIMESERV_MASTER_QUIET_MS = 500;

struct TimeServState {
    std::atomic<uint32_t> qualifier{0};
    std::atomic<bool> isMaster{false};

    // Identity of the current time master; read by the file header writer.
    std::mutex idMx;
    uint32_t masterId = 0;
    uint32_t masterBootCnt = 0;
    uint16_t masterPid = 0;
    bool idsValid = false;
    // When the master's run was last heard (monotonic ms), and the second
    // unit under its PID named last.
    int64_t masterHeardMs = 0;
    uint32_t masterGap = 0;   // the gap stamp last heard of the master's run
    uint32_t masterRun = 0;   // counts the master's runs taken (its identity may stay)
    bool masterRunIsRestart = false;   // the last was its own unit's new run, not another master
    uint32_t secondId = 0;
    uint32_t secondBootCnt = 0;
    bool secondNamed = false;

    // Command task only.
    // The run of the master whose gap stamps the core takes: a message of
    // another run of the master, or of a new master, locks the core anew.
    uint16_t lockedPid = 0;
    uint32_t lockedId = 0;
    uint32_t lockedBootCnt = 0;
    uint32_t lockedRun = 0;
    bool lockedValid = false;
    uint16_t candidatePid = 0;
    unsigned changeCnt = 0;
    int conflictCnt = 0;
    bool firstSyncPending = true;

    MSG_Q_ID queue = nullptr;
    TASK_ID task = nullptr;
    bool taskGivenUp = false;   // its queue and export socket are kept
    std::mutex exportMx;
    int exportSock = -1;

    uint8_t floodInitAgain = 0;
    uint8_t floodShort = 0;
    uint8_t floodExport = 0;
};

TimeServState& timeserv();

// Date fields as the messages carry them: seven 16-bit big-endian values.
void timeserv_putDate(uint8_t* p, const date_t& d);
date_t timeserv_getDate(const uint8_t* p);
// The device clock as a date; false when it cannot be converted.
bool timeserv_clockDate(const struct timespec& clock, date_t* out);

// Forgets the measurement time and its enable flag (tests).
void timeserv_MeasTime_reset();
