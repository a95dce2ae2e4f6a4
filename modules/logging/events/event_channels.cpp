// The event channels' configuration, edge detection and life cycle.
#include "logging/events/event_channels.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "logging/events/event_record.h"
#include "logging/events/event_service.h"
#include "logging/events/event_signals.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/fifo/meas_fifo.h"
#include "platform/files.h"
#include "platform/syslogx.h"
#include "platform/time_step.h"
#include "platform/timebase.h"
#include "xml/xml.h"
#include "platform/task_stop.h"

namespace {

// The configuration lives from the init task to eventChannelsDelete; the
// lock keeps it while the raster uses it.
std::mutex gCfgMx;
eventchannels* gConfig = nullptr;
std::atomic<bool> gInitCalled{false};
std::atomic<TASK_ID> gInitTask{nullptr};
std::atomic<uint32_t (*)(uint32_t*)> gNow{nullptr};
uint8_t gFloodTake = 0;

// The duration of an open event that ends at `end`.
uint32_t lastedUntil(const EventDef& d, uint32_t end) { return event_closeDuration(d.startTime, end); }

void send(const EventDef& d, uint32_t ts, uint32_t duration) {
    const EventRecord ev{d.id, ts, duration, EVENT_KIND_CHANNEL, d.severity};
    eventlogging_send(&ev, d.name, d.text);
}

}  // namespace

uint32_t eventChannels_now(uint32_t* steps) {
    uint32_t (*f)(uint32_t*) = gNow.load();
    return f ? f(steps) : time_stampNow(steps);
}

void eventChannels_setTimeSource(uint32_t (*now)(uint32_t* steps)) { gNow.store(now); }

eventchannels::eventchannels(const char* path) {
    mutex_ = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (!mutex_) throw "could not create semaphore";
    try {
        manager_ = std::make_unique<EventChDataManager>();
        XmlFile file(path);
        XmlScan scan(file);
        parse(scan);
    } catch (...) {
        manager_.reset();   // stops whatever lists were made
        semDelete(mutex_);
        throw;
    }
    stepsSeen_ = time_stepCount();
    manager_->createMeaslists();
    manager_->startMeasurement();
    syslogx(150, "Eventlogging channel setup with %d/%d events", int(defs_.size()), int(EVENT_CHANNELS_MAX));
}

eventchannels::~eventchannels() {
    semTake(mutex_, WAIT_FOREVER);
    defs_.clear();
    manager_.reset();
    semGive(mutex_);
    semDelete(mutex_);
}

void eventchannels::cyclic() {
    if (semTake(mutex_, WAIT_FOREVER) != OK) {
        SYSLOGX_FLOOD(gFloodTake, 147, "eventchannels::cyclic(): could not take semaphore (%s)", "semTake");
        return;
    }
    EventSignals& sig = eventSignals();
    // An event open while the time stepped began in the old time: it is
    // closed where that time ended and opened again where the new began,
    // so that no span is measured across two time bases. The steps are read
    // before the time: a step between the two reads shows in the next cycle,
    // rather than an event of this one opening in the old time unmoved.
    // The time is read with the time base it is of: an event opened in a
    // cycle that read the new time before the step was noted is of the new
    // time already, and stays.
    TimeStep step{};
    const uint32_t steps = time_stepCount(&step);
    uint32_t nowIn = 0;
    const uint32_t now = eventChannels_now(&nowIn);
    if (steps != stepsSeen_) {
        stepsSeen_ = steps;
        for (EventDef& d : defs_) {
            // a value of the old time is no end in the new
            d.lastValueTs = step.after;
            if (!d.open || int32_t(d.openedIn - steps) >= 0) continue;
            send(d, d.startTime, lastedUntil(d, step.before));
            d.startTime = step.after;
            d.openedIn = steps;
            send(d, d.startTime, EVENT_DURATION_OPEN);
        }
    }
    for (EventDef& d : defs_) {
        // Values of the time master's new run, before this device's time
        // follows it, are of a time it does not have yet: the source counts
        // as silent until then (its records are refused the while too).
        const bool ofNewRun = fifo_data_of_masters_new_run(uint16_t(MEASADDR_PID(d.input->address())));
        const bool coming = d.input->getMeasUpdateState();
        const uint8_t updated = coming && !ofNewRun ? 1 : 0;
        // Whatever those values do meanwhile, the event follows them once
        // they are taken: it opens then when they are on.
        if (d.edge == EVENT_EDGE_BOTH && coming && ofNewRun) d.closedByGap = true;
        const uint8_t level = d.input->getQuantDataU32() != 0 ? 1 : 0;
        const uint32_t values = d.input->receivedCount();
        if (updated && values != d.valuesSeen) d.lastValueTs = now;
        d.valuesSeen = values;
        const bool edge = updated && d.lastUpdated && level != d.lastLevel;
        bool fire = false;
        uint32_t ts = now, duration = 0;
        if (d.edge == EVENT_EDGE_BOTH && d.open && !updated) {
            // The source fell silent (a gap, or its restart): what it said
            // last holds until its last value, and nothing is known after.
            send(d, d.startTime, lastedUntil(d, d.lastValueTs));
            d.open = false;
            d.closedByGap = true;
        } else if (d.edge == EVENT_EDGE_BOTH && updated && !d.lastUpdated && d.closedByGap) {
            // back, and still on: the event opens anew in the source's new run
            d.closedByGap = false;
            if (level) {
                d.startTime = now;
                d.openedIn = nowIn;
                d.open = true;
                ts = now;
                duration = EVENT_DURATION_OPEN;
                fire = true;
            }
        } else if (edge && d.edge == EVENT_EDGE_BOTH) {
            // a fall of an event that was never opened (its source came back
            // on, or began so) closes nothing
            fire = level || d.open;
            if (level) {
                d.startTime = now;
                d.openedIn = nowIn;
                duration = EVENT_DURATION_OPEN;
            } else if (d.open) {
                duration = lastedUntil(d, now);
            }
            d.open = level != 0;
            d.closedByGap = false;
            ts = d.startTime;
        } else if (edge) {
            fire = (d.edge == EVENT_EDGE_RISING) == (level == 1);
        } else if (d.countdown > 0) {
            --d.countdown;
        } else {
            sig.Cfg_events_arr[d.index] = 0;
        }
        d.lastLevel = level;
        d.lastUpdated = updated;
        if (!fire) continue;
        sig.Cfg_events_arr[d.index] = 1;
        d.countdown = d.holdCycles;
        send(d, ts, duration);
    }
    semGive(mutex_);
}

void eventchannels::closeAtStop(uint32_t stopTs) {
    if (semTake(mutex_, WAIT_FOREVER) != OK) {
        SYSLOGX_FLOOD(gFloodTake, 147, "eventchannels::closeAtStop(): could not take semaphore (%s)", "semTake");
        return;
    }
    for (EventDef& d : defs_) {
        if (!d.open) continue;
        // a fall after the stop closes nothing more
        d.open = false;
        const EventRecord ev{d.id, d.startTime, lastedUntil(d, stopTs), EVENT_KIND_CHANNEL, d.severity};
        eventlogging_sendNow(&ev, d.name, d.text);
    }
    semGive(mutex_);
}

void eventChannelsInitTask() {
    while (meas_app_driveAvDebounce("cfg:") != 0) taskDelay(1);
    // one that is there but no file to read is named by the reading below
    if (xmlFileProblem(EVENTCFG_FILE) == "not found") {
        syslogx(150, "eventChannelsInitTask(): could not find %s, no event config!", EVENTCFG_FILE);
        return;
    }
    if (eventChannels_config()) {
        syslogx(147, "eventchannels::eventchannels(): init called a 2nd time?!");
        return;
    }
    // read outside the lock: the 10 ms raster goes on meanwhile
    eventchannels* c = nullptr;
    try {
        c = new eventchannels(EVENTCFG_FILE);
    } catch (const char* e) {
        syslogx(147, "eventChannelsInitTask(): %s", e);
        return;
    }
    std::lock_guard<std::mutex> lk(gCfgMx);
    if (gConfig) {
        syslogx(147, "eventchannels::eventchannels(): init called a 2nd time?!");
        delete c;
        return;
    }
    gConfig = c;
}

void eventChannelsInit() {
    if (gInitCalled.exchange(true)) {
        syslogx(147, "eventChannelsInit(): called a 2nd time?!");
        return;
    }
    TASK_ID t = taskSpawn("evChInit", 68, VX_FP_TASK, 65536, [] { eventChannelsInitTask(); });
    if (!t) syslogx(147, "eventChannelsInit: could not spawn task errno %s", "taskSpawn");
    gInitTask.store(t);
}

void eventChannels_10ms() {
    std::lock_guard<std::mutex> lk(gCfgMx);
    if (gConfig) gConfig->cyclic();
}

void eventChannels_closeAtStop(uint32_t stopTs) {
    std::lock_guard<std::mutex> lk(gCfgMx);
    if (gConfig) gConfig->closeAtStop(stopTs);
}

void eventChannelsDelete() {
    const TASK_ID t = gInitTask.exchange(nullptr);
    const bool ended = task_stop(t, "eventChannelsDelete()", "the event channel configuration");
    std::lock_guard<std::mutex> lk(gCfgMx);
    // a task given up in a system call may use the configuration when its
    // call returns: a leak, kept reachable
    static auto& kept = *new std::vector<eventchannels*>;   // never destroyed: a leak, kept reachable
    if (ended) delete gConfig;
    else if (gConfig) kept.push_back(gConfig);
    gConfig = nullptr;
    gInitCalled.store(false);
}

eventchannels* eventChannels_config() {
    std::lock_guard<std::mutex> lk(gCfgMx);
    return gConfig;
}
