// NVRAM database front end, boot counter, named NVRAM texts and the device
// record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
// -1 for a request that cannot be taken. The change is made at once and
// written to the disk behind the caller, who never waits for it; a write
// that fails is logged once per cause (until one works again), its changes
// stay and are written again.
long nvram_dbs_write(unsigned id, unsigned idx, const void* data, unsigned len);
// Waits until the changes made so far are on the disk (never on a raster
// or a network task: it waits for the disk); false, logged, when they
// could not be written. A shell command that calls it waits off the shell's
// turn: the other clients' lines run meanwhile.
bool nvram_dbs_flush();
// As nvram_dbs_flush, waiting no longer than limitMs (a failure is logged):
// false when the disk still lacks a change then.
bool nvram_dbs_flushWithin(unsigned limitMs);
// What the disk still lacks, by element ("" when it holds every change).
std::string nvram_dbs_unstored();
// The stamp of the newest change made so far (changes are counted from the
// start and the count never goes back): what a later flush waits for.
uint64_t nvram_dbs_changeStamp();
// Whether the disk holds every change up to the stamp (never waits).
bool nvram_dbs_stored(uint64_t stamp);
// Waits until the disk holds every change up to the stamp (never on a raster
// or a network task); false, logged, when they could not be written (they
// stay pending and are tried again).
bool nvram_dbs_flushTo(uint64_t stamp);
// The changes made while one lives reach the disk together in one write:
// none of them without the others.
class NvramBatch {
public:
    NvramBatch();
    ~NvramBatch();
    NvramBatch(const NvramBatch&) = delete;
    NvramBatch& operator=(const NvramBatch&) = delete;
};

// Boot counter: read, incremented and written back once per start; it is on
// the disk when this returns 1 (the start waits for it, so that a cut never
// hands the same count to two starts). 0, logged, when it could not be
// stored: the count goes on in memory.
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
