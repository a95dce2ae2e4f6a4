// Measurement gateway: consumers subscribe lists of measured values by raster
// and receive them in their callbacks on the raster's task.
//
// A consumer connects once with its callback table, sets up lists, starts
// them and receives each FIFO slot (32-bit big-endian time stamp followed by
// the values in list order, big-endian) in its read callback. The raster
// tasks call gw_distribute(raster) once a tick; the producer side
// (meas_man_copy_raster) fills the lists of this device before.
#pragma once

#include <cstdint>

#include "measurement/types.h"

// Callback: (status or error code, data, user pointer) -> int.
using gw_callback_fn = int (*)(unsigned long status, void* data, void* user);
struct callback_entry {
    gw_callback_fn fn;
    uint32_t word;
};
enum : unsigned {
    GW_CB_READ = 0,      // (0, slot, user) data; (6, nullptr, user) a period without data
    GW_CB_STOP = 1,      // (0, nullptr, user) when the list has ended
    GW_CB_START = 2,     // (error code, word, user) start reply
    GW_CB_EMPTY = 3,     // never called
    GW_CB_TIMEOUT = 4,   // (6, &pid, user) no data for the time-out, (0, &pid, user) back
    GW_CB_COUNT = 6,
};
struct callback_list {
    callback_entry entry[GW_CB_COUNT];
};

// Error codes of the callbacks.
enum : unsigned {
    GW_NO_ERROR = 0,
    GW_DENIED = 1,
    GW_ADDRESS = 2,
    GW_TIMEOUT = 3,
    GW_STATE = 4,
    GW_NO_CONNECTION = 5,
    GW_NO_DATA = 6,
    GW_MEAS_FIFO = 7,
    GW_OFFLINE = 8,
    GW_SENDING = 9,
    GW_PID = 10,
    GW_OFFLINE2 = 11,
    GW_MEASLIST = 12,
};

// List description words: a group is a negative element size followed by the
// addresses of that size and a 0; a further 0 ends the description.
constexpr int32_t GW_SIZE4 = -4;
constexpr int32_t GW_SIZE2 = -2;
constexpr int32_t GW_SIZE1 = -1;

constexpr unsigned GW_RASTERS = 20;
constexpr unsigned GW_MAX_LIST_VALUES = 2000;
constexpr unsigned GW_START_TIMEOUT_MS = 1000;   // remote start reply
// Another device's list that could not be started because the device was not
// there, or that runs but receives nothing, is asked for again at most this
// often while the device network reports the device connected.
constexpr unsigned GW_RETRY_MS = 1000;

struct gw_connection;
using gw_conn_t = gw_connection*;

// 1 on success.
int gw_init(uint16_t ownPid);
// Kills every list and connection (shutdown, tests).
void gw_shutdown();
// This unit's id and boot count, sent with its list requests so that the
// serving device tells this unit's runs from another unit's.
void gw_set_own_unit(uint32_t unitId, uint32_t bootCount);

gw_conn_t gw_connect(const callback_list* table);
int gw_disconnect(gw_conn_t conn);

// Returns the list handle (a magic number), 0 on failure (logged). The six
// small words: a1 (kept), mode (bit 0: queue), buffered, slot count, slot
// length in bytes (0: computed; a length too small for the list is refused),
// no-data time-out in periods of the raster (0: none).
uint32_t gw_setup_list(gw_conn_t conn, const uint32_t* list, void* user, uint16_t lenBytes,
                       uint16_t raster, uint16_t pid, uint16_t a1, uint16_t mode, uint16_t buffered,
                       uint16_t slots, uint16_t slotLen, uint16_t timeout);
int gw_start_list(uint32_t list);
int gw_start_all(gw_conn_t conn);
int gw_kill_list(uint32_t list);
int gw_kill_all_lists(gw_conn_t conn);
int gw_list_speed(gw_conn_t conn, uint32_t list, unsigned speed);
int gw_pid_offline(unsigned pid);
// The stamp of the last value of another device's lists delivered here;
// false when none was.
bool gw_pid_last_stamp(unsigned pid, uint32_t* stamp);
// When that value came: the own count (host::ownTimeStamp, 0.1 ms, never
// stepped) of its delivery; false when none came.
bool gw_pid_last_arrival(unsigned pid, uint32_t* own);
// 19 counters of a PID: pid state (2 = offline), pid state requested, pid
// state running, measurement lists, data online, data offline, no-data, lists
// configured, lists initialised, list entries, start-callback errors, lists
// set up, lists measuring, lists measuring without PID, lists destroyed, lists
// destroyed at once, offline entries, offline data-callback errors, list
// errors. 1 on success, 0 for a PID of 64 and above.
int gw_debugoutPID(unsigned pid, uint16_t out[19]);

// What the gateway asks the device network before it requests a list of
// another device: whether both channels to the PID are up, and whether the
// peer supports a capability (0 yes, 1 no, 2 not connected; 1: lists by
// names, 2: by-name lists of more than one value). Without it lists are
// requested by addresses whenever the command can be sent.
struct gw_network {
    bool (*connected)(unsigned pid);
    int (*capability)(unsigned pid, unsigned cap);
};
void gw_set_network(const gw_network* net);

// Per raster tick on the raster's task: start replies, data, time-outs.
void gw_distribute(unsigned raster);

// Size in bytes of a slot of the list (time stamp included), 0 when invalid.
unsigned gw_list_slot_size(const uint32_t* list, uint16_t lenBytes);

// ---- measurement manager (producer side of this device's lists) -----------------
// Copies the current values of every running list of the raster served by
// this device into its FIFO, behind the time stamp (0.1 ms).
void meas_man_copy_raster(unsigned raster, uint32_t timeStamp);
uint32_t meas_man_get_data_loss_cnt();
uint8_t meas_man_copy_offline_data_enabled();
void meas_man_CanIO_initialized();
int meas_man_CanIO_is_initialized();
