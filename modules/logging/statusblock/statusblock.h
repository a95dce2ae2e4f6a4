// Status blocks and the lap stack.
//
// A status block is the snapshot written into a measurement file as
// metadata type 2 when the file ends: the identification texts of the
// devices of the vehicle network, the EPK, the ECU annotation, the file's
// request record and the lap stack (the last 256 laps, kept in NVRAM).
// Block 'A' (index 0) serves m01 and is written at laps, block 'B' (index 1)
// serves m03. The task "r_sblk_task" builds them; the file store asks for
// them through sb_create and the logging raster hands the records of the
// status-block sources in through sb_store_block_dyn.
#pragma once

#include <cstdint>

struct MeasBlock;
struct MeasAppStore_SbRequest;
struct ci_msg_t;

// Command codes of the status block.
constexpr uint16_t CI_CMD_VERSION_INFO_REQ = 0x0F00;
constexpr uint16_t CI_CMD_VERSION_INFO_REPLY = 0x0F01;
constexpr uint16_t CI_CMD_LAPSTACK_INFO = 0x0F04;

// ---- task ---------------------------------------------------------------------------------
// Creates the wake semaphore, spawns the task and waits until it is ready;
// 1 success, 0 failure.
int sblk_task_init(const char* name, int priority, int stackSize, intptr_t arg);
// Lap event of the lap-trigger master: lap, outing, lap time (hundredths of
// a second) and the lap's time stamp (0.1 ms).
void sblk_task_laptrigger(uint16_t lap, uint16_t outing, uint32_t lapTime, uint32_t timeStamp);
void sblk_task_trigger_fast();   // 5 ms raster
void sblk_task_trigger_slow();   // 1000 ms raster
// Shutdown: fast mode, switched off, and the lap stack is kept for the next start.
void sblk_power_down();
// 1 when no other device keeps the lap stack (no lap-stack controller):
// this device then enters each lap itself, without a fuel value.
int sb_lapstack_is_keeper();
// Registers the command handlers 0x0F00, 0x0F01, 0x0F04; 1.
int sblk_cmds_init();
// Devices with an open command channel, as the device network counts them
// (bit n for PID n); it installs it. Without it only this device counts.
void sblk_setConnectMaskSource(uint64_t (*source)());

// ---- blocks -------------------------------------------------------------------------------
// Called by the file store when a file ends: starts the closing block of
// the measurement (type 0 lap, else periodic). 3 when the block is busy
// (the caller then closes the file itself), 2 while it waits, 1 written.
int sb_create(const MeasAppStore_SbRequest* req, unsigned type, unsigned measIdx);
// Puts the current status block into the open file of the request without
// closing it (periodic snapshots in the middle of a file); 1 written.
int sb_create_write(const MeasAppStore_SbRequest* req, unsigned type, unsigned measIdx);
// The record of a status-block source (lap or SB-Lap block) from the
// logging raster; 1 accepted, 0 refused.
int sb_store_block_dyn(MeasBlock* block, uint8_t* record);
// Buffer of a status-block source: size + 132 bytes, zeroed.
void* sb_per_buffer_request(uint32_t size);
void sb_per_buffer_release(void* p);
// Test-bench mode: a changed drive steps the outing.
void fde_system_sd_data_changed(const char* drive);

// ---- lap stack ------------------------------------------------------------------------------
// lap time in hundredths of a second; fuel as a decimal value (x 100 stored).
void sb_lapstack_add_entry(uint16_t lap, uint32_t lapTime, float fuel);
void sb_lapstack_reset_history();
// Count (u16, big-endian) and the entries, oldest first; the bytes written.
int sb_lapstack_get(uint8_t* buffer, uint32_t size);
// Reads the lap stack from NVRAM, resetting it when it is unreadable or corrupt.
void sb_lapstack_check_read();

// ---- commands -------------------------------------------------------------------------------
int ci_get_version_info_req(ci_msg_t* msg);
int ci_get_version_info_reply(ci_msg_t* msg);
int ci_get_lapstack_info(ci_msg_t* msg);

// Tests: ends the task and forgets every state (the NVRAM stays).
void sblk_resetForTest();
