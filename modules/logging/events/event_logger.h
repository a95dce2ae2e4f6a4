// Event logger: one per logging measurement that writes files (m01, m03). It
// receives every event of every device (command 0x1500), holds it back for
// DATADELAY so that events and measured data of the same moment end up in
// the same file, keeps the events of each source device in arrival order and
// writes each as a metadata block of type 6 into the measurement's store,
// followed by the source device's application name.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/os/os.h"
#include "logging/events/event_pool.h"
#include "logging/events/event_record.h"
#include "logging/events/event_run_opens.h"

struct ci_msg_t;

constexpr unsigned EVENT_LOGGERS = 3;
constexpr unsigned EVENT_POOL_ITEMS = 512;
constexpr uint8_t MEAS_META_EVENT_TYPE = 6;

class eventlogger {
public:
    // Throws a constant text: "invalid index", "could not create semaphore",
    // the XML classes' texts of "cfg:/apps.xml", "could not create pool",
    // "could not spawn task". Enters itself into the table of loggers.
    eventlogger(unsigned index, void* pretrigger, uint32_t delay);
    ~eventlogger();
    eventlogger(const eventlogger&) = delete;
    eventlogger& operator=(const eventlogger&) = delete;

    // Buffers one event payload (big-endian, as received) of a source PID;
    // it came at the stamp seenAt with stepsThen steps of the time seen
    // (time_stepCount, read first). The time base of its stamp decides its
    // file after a step back: stampedIn where its source knew it (a step
    // count), else judged from the stamp when it is written (time_stepOfStamp).
    void putEvent(const uint8_t* payload, uint32_t length, uint16_t pid, uint32_t sortTime, uint32_t seenAt,
                  uint32_t stepsThen, const uint32_t* stampedIn = nullptr);
    // Writes every buffered event whose sort time is at or before ts, per
    // source in PID order, once the measurement's running recording has
    // taken a record at or after it; false when the lock could not be taken.
    bool flushUntil(uint32_t ts);
    // The flush task's pass at the time now: as flushUntil(ts), and an event
    // stamped more than a second ahead of now goes out at once as well.
    bool flushPass(uint32_t ts, uint32_t now);
    // A stop ends the recording at ts: the events up to ts are written, and
    // every event still open in the recording's files is closed at ts in
    // its newest file (vfIdx; -1: none is left to take them, they are named
    // as lost); no event goes into those files after that.
    void endRun(int vfIdx, uint32_t ts);
    // The time master (pid) runs anew: its events waiting here that came
    // stamped behind their arrival are of its new run (sent before its first
    // time message), which this device's time does not follow yet; they are
    // named and dropped. Closes stay: the old run's, closed at its last
    // value, come so too, and a close of the new run finds no open kept.
    void dropMastersNewRun(uint16_t pid);
    // An orderly stop begins at now: the flush task writes nothing until
    // endRun (or kStopHold, should none come), so that no event stamped
    // after the newest record the stop ends the files at reaches them
    // before their end is set. endRun writes what is due by the stop.
    void holdForStop(uint32_t now);
    static constexpr int32_t kStopHold = 20000;   // 2 s

    unsigned index() const { return index_; }
    uint32_t delay() const { return delay_; }
    // Tests: items still free in the pool.
    size_t freeItems();

private:
    struct Event {
        Event* next;
        uint32_t sortTime;
        uint32_t seenAt;
        uint32_t stepsThen;
        bool timeKnown;    // timeOf came with it from its source
        uint32_t timeOf;
        uint32_t length;
        uint8_t payload[EVENT_PAYLOAD_MAX];
    };
    struct Bucket {
        Bucket* next;
        Event* head;
        Event* tail;
        uint16_t pid;
    };

    void* allocate(int site, uint16_t pid, uint32_t ts);
    void writeEvent(const Bucket& b, const Event& e);
    // The staging buffer filled with the payload and the application name of
    // the PID; its length.
    uint32_t stage(uint16_t pid, const uint8_t* payload, uint32_t length);
    // Forgets the opens the store held for a new time's file and dropped:
    // no file holds them, so neither their close nor a stop ends them.
    void forgetDroppedOpens();
    bool flush(uint32_t ts, const uint32_t* now);
    // toRecords: an event waits while the recording's newest record is
    // before it (not at a stop, whose ts is where the files end).
    void flushLocked(uint32_t ts, const uint32_t* now, bool toRecords);
    void task();

    unsigned index_;
    void* pretrigger_;
    uint32_t delay_;
    SEM_ID mutex_ = nullptr;
    EventPool* pool_ = nullptr;
    Bucket* buckets_ = nullptr;
    TASK_ID task_ = nullptr;
    std::atomic<bool> stop_{false};
    bool overload_ = false;
    EventRunOpens opens_;   // the recording's open events, under the mutex
    uint8_t floodOrphan_ = 0, floodOpens_ = 0, floodNewRun_ = 0;
    std::atomic<bool> stopHeld_{false};
    std::atomic<uint32_t> stopHeldUntil_{0};
    uint8_t staging_[4 + EVENT_PAYLOAD_MAX + 17];
};

// Creates the logger of a measurement (index 0..2) writing into its store;
// null (logged) when it cannot be made. The delay is DATADELAY x 10 (0.1 ms).
eventlogger* eventLoggerInit(unsigned index, void* pretrigger);
void eventLoggerDelete(eventlogger* logger);
void eventLoggerFlushUntil(eventlogger* logger, uint32_t ts);
// The same through the table of loggers (the file store's hook).
void eventLoggerFlushIdx(unsigned index, uint32_t ts);
// eventlogger::endRun through the table of loggers (the file store's hook).
void eventLoggerEndRunIdx(unsigned index, int vfIdx, uint32_t ts);
// eventlogger::dropMastersNewRun through the table of loggers; the time
// service calls it when it hears the master's new run.
void eventLoggerMasterRunsAnew(uint16_t pid);
// eventlogger::holdForStop for every logger (the fast stop, as it begins).
void eventLoggersHoldForStop();
// Handler of command 0x1500: hands the event to every existing logger.
int eventlogging_cmd(ci_msg_t* msg);
// Hands one event payload of a source PID to every existing logger, with
// the time base of its stamp where that is known (eventlogger::putEvent).
void eventLoggerPutAll(const uint8_t* payload, uint32_t length, uint16_t pid, uint32_t sortTime,
                       const uint32_t* stampedIn = nullptr);

// Tests: forgets that "cfg:/apps.xml" was missing and what was logged.
void eventLogger_resetForTest();
