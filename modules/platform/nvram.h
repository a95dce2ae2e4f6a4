// NVRAM database front end, boot counter, named NVRAM texts and the device
// record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/kernel/kernel.h"

// Element ids (the kernel side's table).
using host::NVRAM_ID_LAPOUTFRA;          // 6 bytes, 2 copies: fragment, outing, lap
using host::NVRAM_ID_LAPSTACK_COUNTERS;  // 4 bytes
using host::NVRAM_ID_LAPSTACK;           // 256 entries of 6 bytes (copy index = entry)
using host::NVRAM_ID_DISPLAY_PAGE;       // 1 byte
using host::NVRAM_ID_DISPLAY_BRIGHTNESS; // 1 byte
using host::NVRAM_ID_BOOT_COUNTER;       // 4 bytes
using host::NVRAM_ID_ERROR_MEMORY;       // error memory image
using host::NVRAM_ID_ECU_ANNOTATION;     // 256 bytes
using host::NVRAM_ID_ABS_LAP;            // 2 bytes

// Marks the database ready (reads before it are refused). 1.
int nvram_dbs_init();
// Copies the newest valid copy idx of element id; bytes delivered (len, cut to
// the element size), 0 for a null destination, -1 when it cannot be read (a
// damaged element, as opposed to one never written, is logged).
long nvram_dbs_read(unsigned id, unsigned idx, void* data, unsigned len);
// Writes copy idx of element id; len on success (cut to the element size),
// -1 on failure (logged once per cause until a write succeeds again).
long nvram_dbs_write(unsigned id, unsigned idx, const void* data, unsigned len);

// Boot counter: read, incremented and written back once per start.
int base_boot_count_init();
uint32_t base_boot_count_get();

// Texts of the signal page kept in NVRAM by the platform.
extern char carid_voz_info[32];
extern char ecu_annotation_info[256];
// Loads ecu_annotation_info from NVRAM (empty when never stored); 1.
int nvramst_init();
// Stores ecu_annotation_info; 1 on success.
int nvramst_storeAnnotation();

// Device record.
void nvramst_get_lifeTime(uint32_t* out);
void nvramst_get_maxTECU(float* out);
void nvramst_get_partNumber(char* buf16);     // 16 characters, not terminated when full
void nvramst_get_serialNumber(char* buf16);

// Forgets the init state and the boot counter (tests: simulate a restart).
void nvram_resetForTest();
