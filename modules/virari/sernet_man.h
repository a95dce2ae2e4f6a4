// Serial-network manager: the device-network side of the paths that carry the
// slots of a source FIFO on one device into a sink FIFO on another. It serves
// the open and close requests for sinks on this device, keeps per raster the
// source FIFOs to be sent, and hands their slots to the DK send framers on the
// two Ethernet send rasters.
#pragma once

#include <cstdint>
#include <shared_mutex>

#include "measurement/comint.h"
#include "measurement/dynkomm.h"

constexpr uint16_t SERNET_CMD_OPEN = 0x0300;
constexpr uint16_t SERNET_CMD_CLOSE = 0x0301;
constexpr unsigned SERNET_RASTERS = 20;
constexpr unsigned SERNET_ONLINE_SLOTS = 4;

// Clears the sender lists and creates their mutexes; registers the command
// handlers. 1 when every mutex exists.
int SerNet_man_ini();
// Handlers of 0x0300 and 0x0301.
int SerNet_man_openpath(ci_msg_t* msg);
int SerNet_man_closepath(ci_msg_t* msg);

// A sink FIFO of slotCount x slotSize bytes behind its header; nullptr when
// out of memory or the geometry is unusable (count 0 or not a power of two,
// size 0).
dynkomm_fifo_t* SerNet_man_reserve(uint16_t slotSize, uint16_t slotCount, uint16_t mode, uint16_t raster,
                                   uint16_t srcPid, uint32_t handle);
// 0 for null or an invalid FIFO, else marks it released and frees it: 1.
int SerNet_man_release_fifo(dynkomm_fifo_t* fifo);
int SerNet_man_start_sending(dynkomm_fifo_t* fifo);
// 1 when the FIFO was listed and taken out.
int SerNet_man_stop_sending(dynkomm_fifo_t* fifo);

void SerNet_man_sender_online(unsigned raster);
void SerNet_man_sender_offline(unsigned raster);
void SerNet_man_flush_online();
void SerNet_man_flush_offline();
void SerNet_man_1s();

// The FIFO layer's calls when a path crosses devices.
dynkomm_fifo_t* sernet_man_fifo_create_source(dynkomm_fifo_t* fifo);
int sernet_man_fifo_delete_source(dynkomm_fifo_t* fifo);
int sernet_man_fifo_delete_sink(dynkomm_fifo_t* fifo);
// The hooks above as the FIFO layer takes them.
const dynkomm_sernet_hooks* sernet_man_hooks();

// Sink FIFOs are written by the DK receivers and released by other tasks: a
// receiver holds this lock shared from the lookup of the sink to its commit;
// the release takes it exclusively.
std::shared_mutex& sernet_sink_lock();

// Ends every path of this device and clears the lists (shutdown, tests).
void SerNet_man_shutdown();
