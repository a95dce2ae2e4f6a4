// Calibration memory: reference page, working page, signal page and volatile
// adaptation page in one virtual address range starting at 0.
//
// Virtual addresses are the offsets that measurement addresses below 0x800000
// carry. The reference page holds the dataset the kernel stored (file
// "calpage.bin" of the device folder), loaded at start, and is write
// protected; a calibration
// tool downloads into the working page and switches the active page.
// Calibration parameters are read at reference address + seramActiveOffset.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "host/kernel/kernel.h"
#include "measurement/types.h"

constexpr uint32_t SERAM_PAGE_SIZE = 0x20000;        // 128 KiB
constexpr uint32_t SERAM_REFPAGE_ADDR = 0x000000;
constexpr uint32_t SERAM_WORKPAGE_ADDR = 0x020000;
constexpr uint32_t SERAM_SIGNAL_ADDR = 0x040000;
constexpr uint32_t SERAM_SIGNAL_SIZE = 0x010000;     // 64 KiB
constexpr uint32_t SERAM_ADAPT_ADDR = 0x050000;
constexpr uint32_t SERAM_ADAPT_SIZE = 0x004000;      // 16 KiB
constexpr uint32_t SERAM_SIZE = 0x054000;            // end of the calibration memory

// File of the device folder that keeps the reference page.
constexpr const char* SERAM_REFPAGE_FILE = host::kRefpageFile;

// Layout and state of the calibration memory.
struct SeramInfo {
    uint32_t refpageAddr;
    uint32_t workpageAddr;
    uint32_t pageSize;
    uint32_t signalAddr;
    uint32_t signalSize;
    uint32_t adaptAddr;
    uint32_t adaptSize;
    uint32_t size;
    uint8_t refpageProtected;   // 1 except during a page copy into it
    uint8_t refpageLoaded;      // 1 when the dataset came from the file
    uint16_t checksum;          // CRC-16-CCITT of the reference page at load
};

// Offset of the active page relative to the reference page: 0 (reference
// page) or SERAM_WORKPAGE_ADDR - SERAM_REFPAGE_ADDR (working page).
extern std::atomic<uint32_t> seramActiveOffset;

// Sets the memory up and loads the reference page from the device folder; a
// missing or short file gives the defaults and a log line. The working page
// starts as a copy of the reference page. 1 on success.
int seram_init();
// Releases a running store task (shutdown, tests).
void seram_shutdown();
const SeramInfo* seramGetInfo();

// Host pointer of a virtual address (no bounds check: callers use the range
// checks below first). nullptr beyond the calibration memory.
uint8_t* seramVirtToPtr(uint32_t vaddr);
// Copies one value out of the memory so that a concurrent seramDownload of
// it is seen whole or not at all; false outside the memory.
bool seramReadValue(uint32_t vaddr, void* out, uint32_t len);

bool seramReadMemory(void* dst, uint32_t vaddr, uint32_t len);
bool seramDownload(uint32_t vaddr, const void* data, uint32_t len);
bool seramCopyPage(uint32_t dstVaddr, uint32_t srcVaddr, uint32_t len);
uint16_t seramBuildChksum(uint32_t vaddr, uint32_t len);
bool seramVirtualAddrRangeIsReadAccessAllowed(uint32_t vaddr, uint32_t len);
bool seramVirtualAddrIsRefpage(uint32_t vaddr);
bool seramVirtualAddrIsWorkpage(uint32_t vaddr);

uint32_t seramGetVirtualRefpageAddr();
uint32_t seramGetRefpageSize();
uint32_t seramGetVirtualWorkpageAddr();
uint32_t seramGetWorkpageSize();
void seramSetRefpageActive();
void seramSetWorkpageActive();
const char* seramGetEPKPtr();
// The EPK text of the active page copied into out (size bytes, terminated):
// the readers of other tasks take it this way, as a copy or a download may
// write it meanwhile.
void seramCopyEPK(char* out, size_t size);

// Stores the reference page into the device folder in task "r_seram";
// callback(result 1/0, user word) when done. 1 when the task was started.
using seramStoreCallback = void (*)(int result, uint32_t userWord);
int seramCopyRefToFlashpage(seramStoreCallback cb, uint32_t userWord);
// Stores the reference page now, in the caller's task; 1 on success.
int seramStoreRefpage();

// Hooks of the evaluation modules, set by them at start-up: stop the
// scheduler (a download to the active page start), and adjustment data
// written into the adaptation page.
void seramSetAwmHooks(void (*stopScheduler)(), void (*adaptWritten)(uint32_t vaddr, uint32_t len));

// Takes len bytes (aligned to 4) from the free area of the signal page behind
// the fixed layout; the virtual address, or 0 when the page is full.
uint32_t seramSignalAlloc(uint32_t len);

// ---- measurement handles -------------------------------------------------------
// A handle reads the current value behind a measurement address.
struct SeramMeasHandle {
    const uint8_t* ptr = nullptr;   // value in memory (calibration memory or a master slot)
    measaddr_t addr = 0;
    uint8_t kind = 0;               // 0 none, 1 calibration memory, 2 master slot, 3 evaluation module
    uint8_t raster = 0;
};
// Address resolvers of the CCP/XCP masters and the evaluation modules, set by
// those modules at start-up: a pointer to the value slot of the address, or
// nullptr when they do not know it.
using seramSlotResolver = const uint8_t* (*)(measaddr_t addr, unsigned raster);
void seramSetSlotResolver(unsigned measClass, seramSlotResolver fn);
// 1 when the handle was prepared for size bytes at the address, 0 otherwise.
int seramMeasSetupMeas(measaddr_t addr, unsigned raster, SeramMeasHandle* h, unsigned size = 1);
void seramMeasCopy(void* dst, unsigned size, const SeramMeasHandle* h);
void seramMeasFreeMeas(SeramMeasHandle* h);
