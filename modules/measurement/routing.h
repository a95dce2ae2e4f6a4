// Routing table: how a command reaches each PID.
#pragma once

#include <cstdint>

enum : uint32_t {
    ROUTING_ILLEGAL = 0,
    ROUTING_SELF = 1,       // this device
    ROUTING_DIRADIR2 = 2,   // over the device network
    ROUTING_LOCSOCK = 3,    // over the local socket
};

struct routing_entry_t {
    uint32_t kind;
    uint32_t ip;           // IPv4 address, host order
};

constexpr unsigned ROUTING_PIDS = 64;

// Clears the table and enters the own PID as this device; 1.
int routing_init(uint16_t ownPid);
// Entry of a PID below 64; the illegal entry otherwise.
routing_entry_t routing_get_next(unsigned pid);
// Copies the entry into every PID of [first, last]; 0 (logged) for PIDs of 64
// and above or a reversed range, else 1.
int routing_set_table_entries(const routing_entry_t* entry, unsigned firstPid, unsigned lastPid);
