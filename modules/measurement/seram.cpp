// Calibration memory: pages, bounds checks, downloads, page copies, checksum.
#include "measurement/seram.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "measurement/calparams.h"
#include "measurement/signalpage.h"
#include "platform/appman.h"
#include "platform/crc.h"
#include "platform/syslogx.h"

static_assert(sizeof(SignalPage) <= SERAM_SIGNAL_SIZE, "signal page layout exceeds its page");

std::atomic<uint32_t> seramActiveOffset{0};

namespace {
alignas(16) uint8_t gMem[SERAM_SIZE];
SeramInfo gInfo;
std::mutex gMx;                  // page copies, store snapshot, signal allocation
uint32_t gSignalFree = 0;        // next free byte of the signal page's free area
void (*gAwmStop)() = nullptr;
void (*gAwmAdapt)(uint32_t, uint32_t) = nullptr;
seramSlotResolver gResolver[64] = {};
TASK_ID gStoreTask = nullptr;

// Values are read by other tasks (shell, gateway) while a raster writes them:
// a single aligned value of 1, 2 or 4 bytes moves as one atomic word, so no
// reader sees it half-written; longer or unaligned data moves under a lock
// that seramReadValue takes too.
std::mutex gValueMx;

bool isWord(const uint8_t* p, uint32_t len) {
    return (len == 1 || len == 2 || len == 4) && reinterpret_cast<uintptr_t>(p) % len == 0;
}

// Bulk copies in and out of the calibration memory: tasks read and write
// single values there at any time, so every byte moves atomically (a range
// may still mix old and new values, as it would on the car).
void storeBytes(uint8_t* dst, const void* src, uint32_t len) {
    const auto* s = static_cast<const uint8_t*>(src);
    for (uint32_t i = 0; i < len; ++i) __atomic_store_n(dst + i, s[i], __ATOMIC_RELAXED);
}

// Within the calibration memory; the ranges may overlap.
void moveBytes(uint8_t* dst, const uint8_t* src, uint32_t len) {
    if (dst < src) {
        for (uint32_t i = 0; i < len; ++i) __atomic_store_n(dst + i, __atomic_load_n(src + i, __ATOMIC_RELAXED), __ATOMIC_RELAXED);
    } else {
        for (uint32_t i = len; i-- > 0;) __atomic_store_n(dst + i, __atomic_load_n(src + i, __ATOMIC_RELAXED), __ATOMIC_RELAXED);
    }
}

void storeValue(uint8_t* dst, const void* src, uint32_t len) {
    if (!isWord(dst, len)) {
        std::lock_guard<std::mutex> lk(gValueMx);
        storeBytes(dst, src, len);
        return;
    }
    switch (len) {
    case 1: __atomic_store_n(dst, *static_cast<const uint8_t*>(src), __ATOMIC_RELAXED); break;
    case 2: { uint16_t v; std::memcpy(&v, src, 2); __atomic_store_n(reinterpret_cast<uint16_t*>(dst), v, __ATOMIC_RELAXED); break; }
    case 4: { uint32_t v; std::memcpy(&v, src, 4); __atomic_store_n(reinterpret_cast<uint32_t*>(dst), v, __ATOMIC_RELAXED); break; }
    }
}

bool inside(uint32_t vaddr, uint32_t len) { return uint64_t(vaddr) + len <= SERAM_SIZE; }
bool inRef(uint32_t v) { return v >= SERAM_REFPAGE_ADDR && v < SERAM_REFPAGE_ADDR + SERAM_PAGE_SIZE; }
bool inWork(uint32_t v) { return v >= SERAM_WORKPAGE_ADDR && v < SERAM_WORKPAGE_ADDR + SERAM_PAGE_SIZE; }

// Loads the reference page stored with the kernel; 1 when it was used.
int loadRefpage() {
    uint8_t* ref = gMem + SERAM_REFPAGE_ADDR;
    std::memset(ref, 0, SERAM_PAGE_SIZE);
    long got = host::rtpSyscall(RtpIndex, reinterpret_cast<intptr_t>(ref), SERAM_PAGE_SIZE, 0, 0, 0, 0, 0,
                                host::SC_REFPAGE_LOAD);
    if (got < 0) {
        if (got == -1)
            // the normal state until a calibration tool stores the page: no warning
            syslogx(150, "seram_init(): %s not found, calibration defaults loaded", SERAM_REFPAGE_FILE);
        else {
            // named as what it is (a folder, a FIFO, too large), as the other start files are
            std::string why = host::fileProblem(host::inDeviceFolder(host::kRefpageFile));
            if (why.empty() || why == "not found") why = "cannot be read";
            syslogx(147, "seram_init(): %s %s, calibration defaults loaded", SERAM_REFPAGE_FILE, why.c_str());
        }
        calPageDefaults(reinterpret_cast<CalPage*>(ref));
        return 0;
    }
    size_t n = size_t(got);
    const CalPage* page = reinterpret_cast<const CalPage*>(ref);
    if (n < SERAM_PAGE_SIZE || page->magic != CAL_PAGE_MAGIC) {
        if (n == 0)
            syslogx(148, "seram_init(): %s is empty, calibration defaults loaded", SERAM_REFPAGE_FILE);
        else
            syslogx(148, "seram_init(): %s invalid (%zu bytes), calibration defaults loaded", SERAM_REFPAGE_FILE,
                    n);
        std::memset(ref, 0, SERAM_PAGE_SIZE);
        calPageDefaults(reinterpret_cast<CalPage*>(ref));
        return 0;
    }
    return 1;
}
}  // namespace

int seram_init() {
    seram_shutdown();
    std::lock_guard<std::mutex> lk(gMx);
    std::memset(gMem, 0, sizeof gMem);
    gInfo = SeramInfo{SERAM_REFPAGE_ADDR, SERAM_WORKPAGE_ADDR, SERAM_PAGE_SIZE, SERAM_SIGNAL_ADDR,
                      SERAM_SIGNAL_SIZE,  SERAM_ADAPT_ADDR,    SERAM_ADAPT_SIZE, SERAM_SIZE,
                      1,                  0,                   0};
    gInfo.refpageLoaded = uint8_t(loadRefpage());
    std::memcpy(gMem + SERAM_WORKPAGE_ADDR, gMem + SERAM_REFPAGE_ADDR, SERAM_PAGE_SIZE);
    gInfo.checksum = crc16_ccitt(gMem + SERAM_REFPAGE_ADDR, SERAM_PAGE_SIZE);
    seramActiveOffset = 0;
    gSignalFree = (sizeof(SignalPage) + 3u) & ~3u;
    return 1;
}

void seram_shutdown() {
    TASK_ID t = nullptr;
    {
        std::lock_guard<std::mutex> lk(gMx);
        t = gStoreTask;
        gStoreTask = nullptr;
    }
    if (t) taskWait(t, WAIT_FOREVER);
}

const SeramInfo* seramGetInfo() { return &gInfo; }

bool seramReadValue(uint32_t vaddr, void* out, uint32_t len) {
    if (!out || !inside(vaddr, len)) return false;
    const uint8_t* src = gMem + vaddr;
    if (!isWord(src, len)) {
        std::lock_guard<std::mutex> lk(gValueMx);
        calLoadBytes(out, src, len);
        return true;
    }
    switch (len) {
    case 1: *static_cast<uint8_t*>(out) = __atomic_load_n(src, __ATOMIC_RELAXED); break;
    case 2: { uint16_t v = __atomic_load_n(reinterpret_cast<const uint16_t*>(src), __ATOMIC_RELAXED); std::memcpy(out, &v, 2); break; }
    case 4: { uint32_t v = __atomic_load_n(reinterpret_cast<const uint32_t*>(src), __ATOMIC_RELAXED); std::memcpy(out, &v, 4); break; }
    }
    return true;
}

uint8_t* seramVirtToPtr(uint32_t vaddr) { return vaddr < SERAM_SIZE ? gMem + vaddr : nullptr; }

SignalPage* signalPage() { return reinterpret_cast<SignalPage*>(gMem + SERAM_SIGNAL_ADDR); }

bool seramVirtualAddrRangeIsReadAccessAllowed(uint32_t vaddr, uint32_t len) { return inside(vaddr, len); }
bool seramVirtualAddrIsRefpage(uint32_t vaddr) { return inRef(vaddr); }
bool seramVirtualAddrIsWorkpage(uint32_t vaddr) { return inWork(vaddr); }

bool seramReadMemory(void* dst, uint32_t vaddr, uint32_t len) {
    if (!dst || !inside(vaddr, len)) {
        syslogx(147, "seramReadMemory(): Access denied, requested virtual address: 0x%x, actual address: 0x%x, "
                     "size: 0x%x", vaddr, vaddr, len);
        return false;
    }
    calLoadBytes(dst, gMem + vaddr, len);
    return true;
}

bool seramDownload(uint32_t vaddr, const void* data, uint32_t len) {
    if (!data || !inside(vaddr, len)) return false;
    uint32_t last = len ? vaddr + len - 1 : vaddr;
    if (inRef(vaddr) || inRef(last)) return false;   // the reference page is write protected
    if (vaddr == SERAM_REFPAGE_ADDR + seramActiveOffset.load() && gAwmStop) {
        gAwmStop();
        syslogx(148, "seramDownload(): stopped AWM scheduler due to CalPage download");
    }
    storeValue(gMem + vaddr, data, len);
    if (len && gAwmAdapt && vaddr < SERAM_ADAPT_ADDR + SERAM_ADAPT_SIZE && last >= SERAM_ADAPT_ADDR)
        gAwmAdapt(vaddr, len);
    return true;
}

bool seramCopyPage(uint32_t dstVaddr, uint32_t srcVaddr, uint32_t len) {
    if (!inside(srcVaddr, len) || !inside(dstVaddr, len)) {
        syslogx(147, "seramCopyPage(0x%08x,0x%08x,0x%08x) called!", dstVaddr, srcVaddr, len);
        return false;
    }
    std::lock_guard<std::mutex> lk(gMx);
    bool toRef = inRef(dstVaddr) || (len && inRef(dstVaddr + len - 1));
    if (toRef) gInfo.refpageProtected = 0;
    moveBytes(gMem + dstVaddr, gMem + srcVaddr, len);
    if (toRef) gInfo.refpageProtected = 1;
    return true;
}

uint16_t seramBuildChksum(uint32_t vaddr, uint32_t len) {
    if (!inside(vaddr, len)) {
        syslogx(147, "seramBuildChksum(): Access denied: virt. address: 0x%x, actual addressFrom: 0x%x, size: 0x%x",
                vaddr, vaddr, len);
        return 0;
    }
    // the checksum is built over a copy: tasks write values into the range meanwhile
    std::vector<uint8_t> copy(len);
    calLoadBytes(copy.data(), gMem + vaddr, len);
    return crc16_ccitt(copy.data(), len);
}

uint32_t seramGetVirtualRefpageAddr() { return SERAM_REFPAGE_ADDR; }
uint32_t seramGetRefpageSize() { return SERAM_PAGE_SIZE; }
uint32_t seramGetVirtualWorkpageAddr() { return SERAM_WORKPAGE_ADDR; }
uint32_t seramGetWorkpageSize() { return SERAM_PAGE_SIZE; }
void seramSetRefpageActive() { seramActiveOffset = 0; }
void seramSetWorkpageActive() { seramActiveOffset = SERAM_WORKPAGE_ADDR - SERAM_REFPAGE_ADDR; }
const char* seramGetEPKPtr() {
    return reinterpret_cast<const char*>(gMem + SERAM_REFPAGE_ADDR + seramActiveOffset.load() + CAL_EPK_OFFSET);
}

void seramCopyEPK(char* out, size_t size) {
    if (!out || size == 0) return;
    const size_t n = size - 1 < CAL_EPK_LEN ? size - 1 : CAL_EPK_LEN;
    calLoadBytes(out, seramGetEPKPtr(), n);
    out[n] = 0;
}

int seramStoreRefpage() {
    static uint8_t snapshot[SERAM_PAGE_SIZE];
    static std::mutex storeMx;
    std::lock_guard<std::mutex> slk(storeMx);
    {
        std::lock_guard<std::mutex> lk(gMx);
        calLoadBytes(snapshot, gMem + SERAM_REFPAGE_ADDR, SERAM_PAGE_SIZE);
    }
    // The kernel writes beside, syncs and renames, so a torn write or a power
    // cut keeps the previous page; a refusal leaves its cause in errno.
    errno = 0;
    if (host::rtpSyscall(RtpIndex, reinterpret_cast<intptr_t>(snapshot), SERAM_PAGE_SIZE, 0, 0, 0, 0, 0,
                         host::SC_REFPAGE_STORE) != long(SERAM_PAGE_SIZE)) {
        const int cause = errno;
        syslogx(147, "seramStoreRefpage(): cannot write %s: %s", SERAM_REFPAGE_FILE,
                cause ? std::strerror(cause) : "refused");
        return 0;
    }
    return 1;
}

int seramCopyRefToFlashpage(seramStoreCallback cb, uint32_t userWord) {
    seram_shutdown();   // one store at a time
    TASK_ID t = taskSpawn("r_seram", 140, 0, 4096, [cb, userWord] {
        int r = seramStoreRefpage();
        if (cb) cb(r, userWord);
    });
    if (!t) {
        syslogx(147, "seramCopyRefToFlashpage: taskSpawn errno %#x", unsigned(errno));
        return 0;
    }
    std::lock_guard<std::mutex> lk(gMx);
    gStoreTask = t;
    return 1;
}

void seramSetAwmHooks(void (*stopScheduler)(), void (*adaptWritten)(uint32_t, uint32_t)) {
    gAwmStop = stopScheduler;
    gAwmAdapt = adaptWritten;
}

uint32_t seramSignalAlloc(uint32_t len) {
    std::lock_guard<std::mutex> lk(gMx);
    uint32_t need = (len + 3u) & ~3u;
    if (len == 0 || gSignalFree + uint64_t(need) > SERAM_SIGNAL_SIZE) return 0;
    uint32_t v = SERAM_SIGNAL_ADDR + gSignalFree;
    gSignalFree += need;
    return v;
}

void seramSetSlotResolver(unsigned measClass, seramSlotResolver fn) {
    if (measClass < 64) gResolver[measClass] = fn;
}

int seramMeasSetupMeas(measaddr_t addr, unsigned raster, SeramMeasHandle* h, unsigned size) {
    if (!h) return 0;
    *h = SeramMeasHandle{};
    h->addr = addr;
    h->raster = uint8_t(raster);
    unsigned cls = MEASADDR_CLASS(addr);
    if (cls == MEASADDR_CLASS_XCPMR || cls == MEASADDR_CLASS_CCPMR || cls == MEASADDR_CLASS_AWM) {
        seramSlotResolver fn = gResolver[cls];
        const uint8_t* p = fn ? fn(addr, raster) : nullptr;
        if (!p) return 0;
        h->ptr = p;
        h->kind = cls == MEASADDR_CLASS_AWM ? 3 : 2;
        return 1;
    }
    uint32_t off = MEASADDR_OFFSET(addr);
    if (off >= MEASADDR_CALMEM_LIMIT || !inside(off, size)) return 0;   // conversion pages: none on this device
    h->ptr = gMem + off;
    h->kind = 1;
    return 1;
}

void seramMeasCopy(void* dst, unsigned size, const SeramMeasHandle* h) {
    if (!dst || !h || !h->ptr) return;
    const uint8_t* p = h->ptr;
    if (h->kind == 1) {
        // Calibration parameters are read at reference address + active offset.
        uint32_t v = MEASADDR_OFFSET(h->addr);
        if (inRef(v)) v += seramActiveOffset.load();
        // The handle may have been set up for fewer bytes than are copied now.
        if (!inside(v, size)) {
            std::memset(dst, 0, size);
            return;
        }
        p = gMem + v;
    }
    calLoadBytes(dst, p, size);
}

void seramMeasFreeMeas(SeramMeasHandle* h) {
    if (h) *h = SeramMeasHandle{};
}
