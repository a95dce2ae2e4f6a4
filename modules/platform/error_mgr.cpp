// Error memory with its NVRAM image and the events of raised and cleared
// entries.
#include "platform/error_mgr.h"

#include "platform/nvram.h"
#include "platform/syslogx.h"
#include "platform/time_step.h"
#include "platform/timebase.h"
#include "host/os/os.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr uint8_t kStateActive = 0x01;
constexpr uint8_t kImageVersion = 1;
constexpr uint32_t kOpenDuration = 0xFFFFFFFFu;
constexpr uint8_t kEventKind = 3;
constexpr uint8_t kEventSeverity = 3;

struct Entry {
    uint16_t path;
    uint8_t type;
    uint8_t state;
    uint32_t timeStamp;
    uint16_t count;
    uint16_t flag;
    bool thisRun;   // raised in this run: its time stamp is of this run's time (not stored)
};

struct PendingEvent {
    uint32_t id, timeStamp, duration;
    const char* name;
    const char* text;
};

// Guarded by the module's mutex.
Entry gEntries[ERRMGR_MAX_ENTRIES];
size_t gCount = 0;
bool gDirty = false;
uint8_t gFullFlood = 0;

std::atomic<ErrorMgrEventHook> gHook{nullptr};

std::once_flag gSemOnce;
SEM_ID gSem = nullptr;

SEM_ID lockSem() {
    std::call_once(gSemOnce, [] { gSem = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE); });
    return gSem;
}

bool lock() {
    SEM_ID s = lockSem();
    return s && semTake(s, WAIT_FOREVER) == OK;
}

void unlock() { semGive(gSem); }

bool sendsEvents(unsigned path) {
    return path < ERRMGR_PATH_DIRECT && path != EVENTSOURCE && path != EVENTLOGGING;
}

void emit(const PendingEvent& e) {
    ErrorMgrEventHook hook = gHook.load();
    if (hook) hook(e.id, e.timeStamp, e.duration, kEventKind, kEventSeverity, e.name, e.text);
}

// The event of an entry raised at timeStamp (duration kOpenDuration while open).
PendingEvent eventOf(unsigned path, unsigned type, uint32_t timeStamp, uint32_t duration) {
    return {0x01000000u + path, timeStamp, duration, error_mgr_pathName(path), error_mgr_typeText(type)};
}

Entry* findEntry(unsigned path) {
    for (size_t i = 0; i < gCount; ++i)
        if (gEntries[i].path == path) return &gEntries[i];
    return nullptr;
}

void putLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t getLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t getLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void encodeEntry(const Entry& e, uint8_t* p) {
    putLe16(p, e.path);
    p[2] = e.type;
    p[3] = e.state;
    putLe32(p + 4, e.timeStamp);
    putLe16(p + 8, e.count);
    putLe16(p + 10, e.flag);
}

Entry decodeEntry(const uint8_t* p) {
    Entry e;
    e.path = getLe16(p);
    e.type = p[2];
    e.state = p[3];
    e.timeStamp = getLe32(p + 4);
    e.count = getLe16(p + 8);
    e.flag = getLe16(p + 10);
    e.thisRun = false;
    return e;
}

// The event that closes an entry's open one, now. One raised in an earlier
// run was stamped in that run's time, which measures nothing in this one:
// its clearing is said now, with no duration. A duration is never negative.
PendingEvent closingEvent(const Entry& e, uint32_t now) {
    if (!e.thisRun) return eventOf(e.path, e.type, now, 0);
    const int32_t lasted = int32_t(now - e.timeStamp);
    return eventOf(e.path, e.type, e.timeStamp, lasted > 0 ? uint32_t(lasted) : 0u);
}

// A step of the time ends the old time base: every event open in this run
// is closed where it ended and opened again where the new one began.
void onTimeStep(const TimeStep& step) {
    PendingEvent evs[2 * ERRMGR_MAX_ENTRIES];
    size_t nev = 0;
    if (!lock()) return;
    for (size_t i = 0; i < gCount; ++i) {
        Entry& e = gEntries[i];
        if (!(e.state & kStateActive) || !e.thisRun || !sendsEvents(e.path)) continue;
        evs[nev++] = closingEvent(e, step.before);
        e.timeStamp = step.after;
        evs[nev++] = eventOf(e.path, e.type, e.timeStamp, kOpenDuration);
        gDirty = true;
    }
    unlock();
    for (size_t i = 0; i < nev; ++i) emit(evs[i]);
}

// NVRAM image: version byte, entry count byte, two spare bytes, the entries.
constexpr size_t kImageSize = 4 + ERRMGR_MAX_ENTRIES * ERRMGR_ENTRY_SIZE;

}  // namespace

void error_mgr_setEventHook(ErrorMgrEventHook hook) { gHook.store(hook); }

const char* error_mgr_pathName(unsigned path) {
    switch (path) {
        case ERRMGR_PATH_CAN01: return "CAN01";
        case ERRMGR_PATH_CAN02: return "CAN02";
        case ERRMGR_PATH_TIMESERVICE: return "TIMESERVICE";
        case ERRMGR_PATH_TELEMETRY: return "TELEMETRY";
        case ERRMGR_PATH_REC_PART_01: return "REC_PART_01";
        case ERRMGR_PATH_REC_PART_02: return "REC_PART_02";
        case ERRMGR_PATH_USB: return "USB";
        case ERRMGR_PATH_DISPLAY: return "DISPLAY";
        case ERRMGR_PATH_CAN_IN: return "CAN-IN";
        case ERRMGR_PATH_CAN_OUT: return "CAN-OUT";
        case EVENTSOURCE: return "EVENTSOURCE";
        case EVENTLOGGING: return "EVENTLOGGING";
        case ERRMGR_PATH_SYSTEM: return "SYSTEM";
        default: return "PATH";
    }
}

const char* error_mgr_typeText(unsigned type) {
    switch (type) {
        case ERRMGR_TYPE_RANGE: return "Channel out of range";
        case ERRMGR_TYPE_NOT_CONFIGURED: return "Channel not configured";
        case ERRMGR_TYPE_PAGE_TIMEOUT: return "Page channel timeout";
        case ERRMGR_TYPE_BRIGHTNESS_TIMEOUT: return "Brightness channel timeout";
        case ERRMGR_TYPE_CANID_RX_MAX: return "CANID(Rx) maximum reached";
        case ERRMGR_TYPE_MULTIPLE_TIME_MASTERS: return "Multiple time masters";
        case ERRMGR_TYPE_EVENT_OVERLOAD: return "Event(s) discarded due to overload";
        case ERRMGR_TYPE_LAPTRIGGER_MASTER: return "laptrigger master";
        default: return "Error";
    }
}

int error_mgr_init() {
    time_stepListen(onTimeStep);
    uint8_t image[kImageSize];
    long got = nvram_dbs_read(NVRAM_ID_ERROR_MEMORY, 0, image, sizeof image);
    if (!lock()) return 0;
    gCount = 0;
    gDirty = false;
    size_t n = got >= 4 ? image[1] : 0;
    bool fits = got >= 4 && n <= ERRMGR_MAX_ENTRIES && 4 + n * ERRMGR_ENTRY_SIZE <= static_cast<size_t>(got);
    if (got >= 4 && image[0] == kImageVersion && fits) {
        for (size_t i = 0; i < n; ++i) gEntries[gCount++] = decodeEntry(image + 4 + i * ERRMGR_ENTRY_SIZE);
    } else if (got > 0) {
        syslogx(148, "error_mgr_init: stored error memory broken (format %d, %d entries), cleared", image[0],
                static_cast<int>(n));
    }
    unlock();
    return 1;
}

int error_mgr_set(unsigned path, unsigned type, unsigned flag) {
    if (path > 0xFFFF) {
        syslogx(147, "error_mgr_set: invalid path %u type %u", path, type);
        return 0;
    }
    if (!lock()) return 1;
    PendingEvent ev{};
    bool send = false;
    Entry* e = findEntry(path);
    if (!e && gCount < ERRMGR_MAX_ENTRIES) {
        e = &gEntries[gCount++];
        memset(e, 0, sizeof *e);
        e->path = static_cast<uint16_t>(path);
    }
    if (e) {
        bool fresh = !(e->state & kStateActive) || e->type != static_cast<uint8_t>(type);
        if (fresh) {
            e->type = static_cast<uint8_t>(type);
            e->state |= kStateActive;
            e->timeStamp = time_getTimestamp();
            e->thisRun = true;
            if (sendsEvents(path)) {
                ev = eventOf(path, type, e->timeStamp, kOpenDuration);
                send = true;
            }
        }
        if (e->count < 0xFFFF) ++e->count;
        e->flag = static_cast<uint16_t>(flag);
        gDirty = true;
    }
    unlock();
    if (!e) SYSLOGX_FLOOD(gFullFlood, 147 | SYSLOGX_LOSS, "error_mgr_set: error memory full, path %u type %u lost", path, type);
    if (send) emit(ev);
    return 0;
}

int error_mgr_clear(unsigned path) {
    if (!lock()) return 1;
    PendingEvent ev{};
    bool send = false;
    Entry* e = findEntry(path);
    if (e && (e->state & kStateActive)) {
        e->state &= static_cast<uint8_t>(~kStateActive);
        gDirty = true;
        if (sendsEvents(path)) {
            ev = closingEvent(*e, time_getTimestamp());
            send = true;
        }
    }
    unlock();
    if (send) emit(ev);
    return 0;
}

void error_mgr_clear_all() {
    PendingEvent evs[ERRMGR_MAX_ENTRIES];
    size_t nev = 0;
    if (!lock()) return;
    uint32_t now = time_getTimestamp();
    // Open events are closed, so that the event loggers do not keep them open.
    for (size_t i = 0; i < gCount; ++i) {
        const Entry& e = gEntries[i];
        if ((e.state & kStateActive) && sendsEvents(e.path))
            evs[nev++] = closingEvent(e, now);
    }
    if (gCount) gDirty = true;
    gCount = 0;
    unlock();
    for (size_t i = 0; i < nev; ++i) emit(evs[i]);
}

int error_mgr_get_data(void* buffer, size_t room) {
    if (!buffer) return 0;
    if (!lock()) return 0;
    size_t n = room / ERRMGR_ENTRY_SIZE;
    if (n > gCount) n = gCount;
    auto* p = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < n; ++i) encodeEntry(gEntries[i], p + i * ERRMGR_ENTRY_SIZE);
    unlock();
    return static_cast<int>(n * ERRMGR_ENTRY_SIZE);
}

int error_mgr_get_state(uint8_t* state) {
    if (!state) return -1;
    if (!lock()) return -1;
    uint8_t s = gCount ? 1 : 0;
    for (size_t i = 0; i < gCount; ++i)
        if (gEntries[i].state & kStateActive) s = 2;
    unlock();
    *state = s;
    return 0;
}

int error_mgr_get_version(void* buffer) {
    if (!buffer) return 0;
    static_cast<uint8_t*>(buffer)[0] = kImageVersion;
    return 1;
}

int error_mgr_store() {
    uint8_t image[kImageSize] = {};
    if (!lock()) return 0;
    if (!gDirty) {
        unlock();
        return 1;
    }
    image[0] = kImageVersion;
    image[1] = static_cast<uint8_t>(gCount);
    for (size_t i = 0; i < gCount; ++i) encodeEntry(gEntries[i], image + 4 + i * ERRMGR_ENTRY_SIZE);
    gDirty = false;
    unlock();
    if (nvram_dbs_write(NVRAM_ID_ERROR_MEMORY, 0, image, sizeof image) != static_cast<long>(sizeof image)) {
        syslogx(147, "error_mgr_store: writing the error memory to NVRAM failed");
        if (lock()) {
            gDirty = true;   // try again at the next storage cycle
            unlock();
        }
        return 0;
    }
    return 1;
}

void error_mgr_storage_1s() { error_mgr_store(); }

void error_mgr_resetForTest() {
    if (lock()) {
        gCount = 0;
        gDirty = false;
        gFullFlood = 0;
        unlock();
    }
    gHook.store(nullptr);
}
