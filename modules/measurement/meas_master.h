// Measurement lists filled by a CCP or XCP master instead of the raster copy.
//
// A list that holds nothing but the channels of one DAQ of a master is best
// written when that DAQ has arrived, with the DAQ's own time stamp, rather
// than sampled on the list's raster. The masters plug into the measurement
// manager through a table of hooks (set by the application's wiring), so that
// the measurement core does not depend on them:
//
//   checkMeasList   asked for every new list; 1 with *daq set when the list
//                   consists only of this master's channels of one DAQ. The
//                   words are host order (bigEndian 0); addresses may carry
//                   this device's PID in bits 24-31 (lists served to another
//                   device), which the master ignores.
//   measlist_create links the list (by its id) to the DAQ; returns the
//                   function that unlinks it again, or nullptr when refused
//                   (the list is then copied on its raster as usual).
//
// The master finds the list's record with meas_master_list_get() while it
// links it and may keep the pointer until its unlink function has returned;
// the manager calls that function before it frees the record and the FIFO,
// so the master must not touch either once its unlink function returned.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "measurement/dynkomm.h"

// What a master's DAQ task needs of a linked list.
struct meas_master_list {
    uint32_t listId = 0;                 // magic number of the list
    dynkomm_fifo_t* fifo = nullptr;      // slots: big-endian time stamp, then the values big-endian
    // Groups of a size word (-4, -2 or -1), the addresses of that size and a
    // 0; ended by a further 0. Host byte order.
    std::vector<uint32_t> elems;
    std::atomic<uint16_t> divider{1};    // prescaler reload count
    // Down-counter of DAQ cycles: the master decrements it while above 1,
    // writes a slot and reloads it from the divider at 1, writes nothing at 0
    // (the list is paused).
    std::atomic<uint16_t> counter{1};
};

using meas_master_unlink_fn = void (*)(uint32_t listId);

struct meas_master_hooks {
    int (*checkMeasList)(const uint32_t* elems, unsigned lenBytes, void** daq, int bigEndian);
    meas_master_unlink_fn (*measlist_create)(uint32_t listId, void* daq);
};

enum : unsigned {
    MEAS_MASTER_CCP = 0,
    MEAS_MASTER_XCP = 1,
    MEAS_MASTER_COUNT = 2,
};

// Installs (or with nullptr removes) the hooks of a master; 1 on success, 0
// for an unknown master number. Lists linked before stay linked.
int meas_man_set_master_hooks(unsigned master, const meas_master_hooks* hooks);

// Record of a linked list, nullptr when the id is not linked to a master.
meas_master_list* meas_master_list_get(uint32_t listId);

// ---- used by the measurement manager and the gateway ------------------------------
// Offers a new list (description in host byte order, nWords words) to the
// masters; true when one of them feeds its FIFO from now on.
bool meas_man_create(uint32_t listId, dynkomm_fifo_t* fifo, const uint32_t* desc, unsigned nWords);
// Unlinks the list from its master (when linked) and frees the record; the
// FIFO may be released afterwards.
void meas_man_destroy_master_list(uint32_t listId);
// Pauses (run false) or resumes a linked list; nothing for other lists.
void meas_man_master_list_run(uint32_t listId, bool run);
