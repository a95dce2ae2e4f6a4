// Error memory: one entry per error path with the type raised last, whether it
// is active, when it was raised and how often. Raising and clearing a path
// below 510 (except the event paths themselves) hands an event to the hook
// the event service installs. The entries are kept in NVRAM.
#pragma once

#include <cstddef>
#include <cstdint>

// Path indexes (below 510; codes of 510 and above are taken as given).
constexpr unsigned ERRMGR_PATH_CAN01 = 423;          // + CAN interface
constexpr unsigned ERRMGR_PATH_CAN02 = 424;
constexpr unsigned ERRMGR_PATH_TIMESERVICE = 482;
constexpr unsigned ERRMGR_PATH_TELEMETRY = 483;
constexpr unsigned ERRMGR_PATH_REC_PART_01 = 484;
constexpr unsigned ERRMGR_PATH_REC_PART_02 = 485;
constexpr unsigned ERRMGR_PATH_USB = 486;
constexpr unsigned ERRMGR_PATH_DISPLAY = 490;
constexpr unsigned ERRMGR_PATH_CAN_IN = 494;
constexpr unsigned ERRMGR_PATH_CAN_OUT = 495;
constexpr unsigned EVENTSOURCE = 496;
constexpr unsigned EVENTLOGGING = 497;
constexpr unsigned ERRMGR_PATH_SYSTEM = 498;
constexpr unsigned ERRMGR_PATH_DIRECT = 510;         // first directly given path code

// Type indexes named by the callers.
constexpr unsigned ERRMGR_TYPE_RANGE = 1;
constexpr unsigned ERRMGR_TYPE_NOT_CONFIGURED = 15;
constexpr unsigned ERRMGR_TYPE_PAGE_TIMEOUT = 21;
constexpr unsigned ERRMGR_TYPE_BRIGHTNESS_TIMEOUT = 22;
constexpr unsigned ERRMGR_TYPE_CANID_RX_MAX = 29;
constexpr unsigned ERRMGR_TYPE_MULTIPLE_TIME_MASTERS = 33;
constexpr unsigned ERRMGR_TYPE_EVENT_OVERLOAD = 46;
constexpr unsigned ERRMGR_TYPE_LAPTRIGGER_MASTER = 47;

constexpr size_t ERRMGR_ENTRY_SIZE = 12;
constexpr size_t ERRMGR_MAX_ENTRIES = 64;

// Event hook: (id 0x01000000 + path, time stamp of the raise in 0.1 ms,
// duration in 0.1 ms or 0xFFFFFFFF while open, kind 3, severity 3, path name,
// type text). Called outside the error memory's lock; must not block.
using ErrorMgrEventHook = void (*)(uint32_t id, uint32_t timeStamp, uint32_t duration, uint8_t kind,
                                   uint8_t severity, const char* name, const char* description);
void error_mgr_setEventHook(ErrorMgrEventHook hook);

// Loads the entries from NVRAM (empty when none are stored). 1 on success.
int error_mgr_init();
// Raises the entry of the path with the type; 0, or 1 when the lock fails.
int error_mgr_set(unsigned path, unsigned type, unsigned flag);
// Clears (deactivates) the entry of the path; 0, or 1 when the lock fails.
int error_mgr_clear(unsigned path);
// Removes every entry.
void error_mgr_clear_all();
// Entries, 12 bytes each (little-endian: u16 path, u8 type, u8 state bits
// (bit 0 active), u32 raise time stamp, u16 count, u16 flag); only whole
// entries that fit into room. Bytes written.
int error_mgr_get_data(void* buffer, size_t room);
// *state: 0 no entry, 1 entries but none active, 2 at least one active. 0.
int error_mgr_get_state(uint8_t* state);
// Readout format version record (one byte: 1). Bytes written.
int error_mgr_get_version(void* buffer);

// Writes the entries to NVRAM when they changed since the last write (the
// 1-s storage raster and the shutdown call it). 1 on success or nothing to do.
int error_mgr_store();
// The storage raster's body.
void error_mgr_storage_1s();

// Names used in events and logs.
const char* error_mgr_pathName(unsigned path);
const char* error_mgr_typeText(unsigned type);

// Forgets the in-memory entries and the hook (tests: simulate a restart).
void error_mgr_resetForTest();
