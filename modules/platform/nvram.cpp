// NVRAM database front end over the kernel-side NVRAM service.
#include "platform/nvram.h"

#include "platform/appman.h"
#include "platform/shell.h"
#include "platform/syslogx.h"
#include "host/kernel/kernel.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::atomic<bool> gInitDone{false};
std::atomic<uint32_t> gBootCount{0};

// A failing store is logged once per cause (until a store succeeds again),
// and all of them together no more than the flood limit allows. The store
// writes behind the callers: its failure is seen at the next change or flush.
std::mutex gWriteLogMx;
std::string gLoggedWriteCause;
uint8_t gWriteFlood = 0;

void noteStoreProblem() {
    const std::string cause = host::nvramWriteProblem();
    std::lock_guard<std::mutex> lk(gWriteLogMx);
    if (cause.empty()) {
        gLoggedWriteCause.clear();
        return;
    }
    if (cause == gLoggedWriteCause) return;
    gLoggedWriteCause = cause;
    SYSLOGX_FLOOD(gWriteFlood, 147, "nvram_dbs_write: changes not stored: %s (kept, tried again every second)",
                  cause.c_str());
}

// Requests are refused until nvram_dbs_init, logged with the caller's name.
bool initDone(const char* caller, unsigned id, unsigned idx) {
    if (gInitDone.load()) return true;
    syslogx(147, "%s: request rejected init not done, id %d idx %d", caller, static_cast<int>(id),
            static_cast<int>(idx));
    return false;
}

// The kernel's read or write of copy idx of element id, with len cut to the
// element's size (tooLong is logged when it is); -1 for a copy the element
// has not, or a failed call.
long elementCall(int number, unsigned id, unsigned idx, const void* data, unsigned len, const char* tooLong) {
    if (idx >= host::nvramElementCopies(id)) return -1;
    size_t size = host::nvramElementSize(id);
    if (len > size) {
        syslogx(147, "%s", tooLong);
        len = static_cast<unsigned>(size);
    }
    long n = host::rtpSyscall(RtpIndex, id, idx, reinterpret_cast<intptr_t>(data), len, 0, 0, 0, number);
    return n < 0 ? -1 : n;
}

}  // namespace

char carid_voz_info[32];
char ecu_annotation_info[256];

int nvram_dbs_init() {
    std::string problem = host::nvramLoadProblem();
    if (!problem.empty()) syslogx(147, "nvram_dbs_init: %s, starting with an empty database", problem.c_str());
    std::string damage = host::nvramDamage();
    if (!damage.empty()) syslogx(148, "nvram_dbs_init: %s", damage.c_str());
    gInitDone.store(true);
    return 1;
}

long nvram_dbs_read(unsigned id, unsigned idx, void* data, unsigned len) {
    if (!initDone("nvram_dbs_read", id, idx)) return -1;
    if (!data) return 0;
    long n = elementCall(host::SC_NVRAM_READ, id, idx, data, len,
                         "nvram_dbs_read: VOZ requested more bytes than allowed");
    if (n < 0 && host::nvramElementDamaged(id, idx))
        syslogx(147, "nvram_dbs_read: NVRAM element %u copy %u damaged (both slots unreadable)", id, idx);
    return n;
}

long nvram_dbs_write(unsigned id, unsigned idx, const void* data, unsigned len) {
    if (!initDone("nvram_dbs_write", id, idx)) return -1;
    if (!data) return -1;
    long n = elementCall(host::SC_NVRAM_WRITE, id, idx, data, len,
                         "nvram_dbs_write: VOZ try to write more bytes than allowed");
    noteStoreProblem();
    return n;
}

bool nvram_dbs_flush() {
    // a shell command that waits here for the disk holds only its client
    const bool ok = shell_waitOffTurn([] { return host::nvramFlush(); });
    noteStoreProblem();
    return ok;
}

bool nvram_dbs_flushWithin(unsigned limitMs) {
    const bool ok = host::nvramFlushWithin(limitMs);
    noteStoreProblem();
    return ok;
}

std::string nvram_dbs_unstored() { return host::nvramUnstored(); }

uint64_t nvram_dbs_changeStamp() { return host::nvramChangeStamp(); }

bool nvram_dbs_stored(uint64_t stamp) { return host::nvramStored(stamp); }

bool nvram_dbs_flushTo(uint64_t stamp) {
    const bool ok = host::nvramFlushTo(stamp);
    noteStoreProblem();
    return ok;
}

NvramBatch::NvramBatch() { host::nvramBatchBegin(); }
NvramBatch::~NvramBatch() { host::nvramBatchEnd(); }

int base_boot_count_init() {
    uint32_t count = 0;
    if (nvram_dbs_read(NVRAM_ID_BOOT_COUNTER, 0, &count, sizeof count) != sizeof count) count = 0;
    ++count;
    gBootCount.store(count);
    // on the disk before the device tells anyone the count or writes a file
    if (nvram_dbs_write(NVRAM_ID_BOOT_COUNTER, 0, &count, sizeof count) != sizeof count || !nvram_dbs_flush()) {
        syslogx(147, "base_boot_count_init: boot counter %u not stored", count);
        return 0;
    }
    return 1;
}

uint32_t base_boot_count_get() { return gBootCount.load(); }

int nvramst_init() {
    char buf[sizeof ecu_annotation_info] = {};
    if (nvram_dbs_read(NVRAM_ID_ECU_ANNOTATION, 0, buf, sizeof buf) != sizeof buf) buf[0] = 0;
    buf[sizeof buf - 1] = 0;
    memcpy(ecu_annotation_info, buf, sizeof buf);
    return 1;
}

int nvramst_storeAnnotation() {
    char buf[sizeof ecu_annotation_info];
    memcpy(buf, ecu_annotation_info, sizeof buf);
    buf[sizeof buf - 1] = 0;
    return nvram_dbs_write(NVRAM_ID_ECU_ANNOTATION, 0, buf, sizeof buf) == sizeof buf ? 1 : 0;
}

void nvramst_get_lifeTime(uint32_t* out) {
    if (out) *out = host::deviceRecord().lifeTime;
}

void nvramst_get_maxTECU(float* out) {
    if (out) *out = host::deviceRecord().maxTemperature;
}

void nvramst_get_partNumber(char* buf16) {
    if (buf16) memcpy(buf16, host::deviceRecord().partNumber, 16);
}

void nvramst_get_serialNumber(char* buf16) {
    if (buf16) memcpy(buf16, host::deviceRecord().serialNumber, 16);
}

void nvram_resetForTest() {
    gInitDone.store(false);
    gBootCount.store(0);
    std::lock_guard<std::mutex> lk(gWriteLogMx);
    gLoggedWriteCause.clear();
    gWriteFlood = 0;
}
