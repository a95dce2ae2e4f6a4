// The lap stack in NVRAM and its RAM mirror.
#include "logging/statusblock/sb_lapstack.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "logging/statusblock/statusblock.h"
#include "platform/byteorder.h"
#include "platform/nvram.h"
#include "platform/syslogx.h"

namespace {

struct LapStack {
    uint16_t begun;
    uint16_t completed;
    uint8_t entries[SB_LAPSTACK_ENTRIES][SB_LAPSTACK_ENTRY];   // fuel little-endian, as in NVRAM
};

// The lap stack is reached from the status block task, the command task and
// the counters (new outing). Two mutexes: the RAM mirror's, which the
// rasters take to copy the stack into a file's status block, held only to
// change or copy the mirror (taken last); and the store's, taken first by
// those who change the stack, which keeps their NVRAM writes in the order
// of their changes. An outing's reset writes hundreds of elements: with
// the store's mutex alone, so that no raster waits for them.
std::mutex& lock() {
    static std::mutex m;
    return m;
}
std::mutex& storeLock() {
    static std::mutex m;
    return m;
}
LapStack current{};
LapStack powerDownCopy{};
bool powerDownValid = false;
bool powerDown = false;

void putLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
uint16_t getLe16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// The NVRAM side; called with the store's mutex held.
bool storeCounts(uint16_t begun, uint16_t completed) {
    uint8_t c[4];
    putLe16(c, begun);
    putLe16(c + 2, completed);
    return nvram_dbs_write(NVRAM_ID_LAPSTACK_COUNTERS, 0, c, 4) == 4;
}

bool storeEntry(unsigned idx, const uint8_t* entry) {
    return nvram_dbs_write(NVRAM_ID_LAPSTACK, idx, entry, SB_LAPSTACK_ENTRY) == SB_LAPSTACK_ENTRY;
}

// Zeroes the stack in RAM, then in NVRAM (one write to the disk, behind
// us). The mirror's power-down copy is kept first when the device powers
// down. Called with the store's mutex held.
void resetStored() {
    {
        std::lock_guard<std::mutex> lk(lock());
        if (powerDown && !powerDownValid) {
            powerDownCopy = current;
            powerDownValid = true;
        }
        std::memset(&current, 0, sizeof current);
    }
    static const uint8_t zero[SB_LAPSTACK_ENTRY] = {};
    NvramBatch together;
    storeCounts(0, 0);
    for (unsigned i = 0; i < SB_LAPSTACK_ENTRIES; ++i) storeEntry(i, zero);
}

void setMirror(const LapStack& s) {
    std::lock_guard<std::mutex> lk(lock());
    current = s;
}

// Reads the stack from NVRAM into the mirror; damage is mended as far as it
// goes. Called with the store's mutex held.
void checkReadStored() {
    uint8_t c[4];
    long r = nvram_dbs_read(NVRAM_ID_LAPSTACK_COUNTERS, 0, c, 4);
    if (r != 4) {
        syslogx(147, "sb_lapstack_check_read: error reading lapstack entry, num %u != %u; initializing",
                unsigned(r < 0 ? 0 : r), 4u);
        resetStored();
        return;
    }
    LapStack s{};
    s.begun = getLe16(c);
    s.completed = getLe16(c + 2);
    for (unsigned i = 0; i < SB_LAPSTACK_ENTRIES; ++i) {
        r = nvram_dbs_read(NVRAM_ID_LAPSTACK, i, s.entries[i], SB_LAPSTACK_ENTRY);
        if (r != long(SB_LAPSTACK_ENTRY)) {
            syslogx(147, "sb_lapstack_check_read: error reading lapstack cnt %u, num %u != %u; initializing", i,
                    unsigned(r < 0 ? 0 : r), unsigned(SB_LAPSTACK_ENTRY));
            resetStored();
            return;
        }
    }
    if (s.begun == uint16_t(s.completed + 1)) {
        // an append cut between its first and its last write: only that
        // entry is in doubt, the history before it stays
        syslogx(148, "sb_lapstack_check_read: last entry not written correctly, deleting last entry");
        s.begun = s.completed;
        setMirror(s);
        storeCounts(s.begun, s.completed);
        return;
    }
    if (s.begun != s.completed) {
        syslogx(147, "sb_lapstack_check_read: lapstack corrupt, deleting...");
        resetStored();
        return;
    }
    setMirror(s);
}

}  // namespace

SbLapEntry sb_lapstack_makeEntry(uint16_t lap, uint32_t t, float fuel) {
    SbLapEntry e{};
    e.lap = uint8_t(lap);
    const uint32_t minutes = t / 6000;
    e.minutes = uint8_t(minutes > 255 ? 255 : minutes);
    e.seconds = uint8_t(t / 100 % 60);
    e.hundredths = uint8_t(t % 100);
    // half away from zero; what does not fit a u16 is clamped, NaN gives 0
    const double f = std::round(double(fuel) * 100.0);
    e.fuel = !(f > 0) ? 0 : f > 65535.0 ? 65535 : uint16_t(f);
    return e;
}

void sb_lapstack_check_read() {
    std::lock_guard<std::mutex> store(storeLock());
    checkReadStored();
}

void sb_lapstack_add_entry(uint16_t lap, uint32_t lapTime, float fuel) {
    const SbLapEntry e = sb_lapstack_makeEntry(lap, lapTime, fuel);
    std::lock_guard<std::mutex> store(storeLock());
    checkReadStored();
    unsigned idx;
    uint16_t begun, completed;
    uint8_t entry[SB_LAPSTACK_ENTRY];
    {
        std::lock_guard<std::mutex> lk(lock());
        idx = current.begun % SB_LAPSTACK_ENTRIES;
        uint8_t* p = current.entries[idx];
        p[0] = e.lap;
        p[1] = e.minutes;
        p[2] = e.seconds;
        p[3] = e.hundredths;
        putLe16(p + 4, e.fuel);
        std::memcpy(entry, p, sizeof entry);
        begun = ++current.begun;
        completed = ++current.completed;
    }
    // the three steps of an append reach the disk together; a store cut
    // between them still shows the entry begun and not completed
    NvramBatch together;
    storeCounts(begun, uint16_t(completed - 1));
    storeEntry(idx, entry);
    storeCounts(begun, completed);
}

void sb_lapstack_reset_history() {
    std::lock_guard<std::mutex> store(storeLock());
    resetStored();
}

int sb_lapstack_get(uint8_t* buf, uint32_t size) {
    if (!buf || size < 2) return 0;
    std::lock_guard<std::mutex> lk(lock());
    const LapStack& s = powerDownValid ? powerDownCopy : current;
    const unsigned n = s.completed < SB_LAPSTACK_ENTRIES ? s.completed : SB_LAPSTACK_ENTRIES;
    unsigned idx = s.completed < SB_LAPSTACK_ENTRIES ? 0 : s.completed % SB_LAPSTACK_ENTRIES;
    uint32_t pos = 2, copied = 0;
    for (; copied < n; ++copied, idx = (idx + 1) % SB_LAPSTACK_ENTRIES) {
        if (size - pos < SB_LAPSTACK_ENTRY) {
            syslogx(147, "sb_lapstack_get(): canceled copy of LapStack to SB. Size error. alloc. remsize: %d, size: %d ",
                    int(size - pos), int(SB_LAPSTACK_ENTRY));
            break;
        }
        const uint8_t* e = s.entries[idx];
        std::memcpy(buf + pos, e, 4);
        be_put16(buf + pos + 4, getLe16(e + 4));
        pos += SB_LAPSTACK_ENTRY;
    }
    be_put16(buf, uint16_t(copied));
    return int(pos);
}

void sb_lapstack_counts(uint16_t* begun, uint16_t* completed) {
    std::lock_guard<std::mutex> lk(lock());
    if (begun) *begun = current.begun;
    if (completed) *completed = current.completed;
}

void sb_lapstack_setPowerDown() {
    std::lock_guard<std::mutex> lk(lock());
    powerDown = true;
}

void sb_lapstack_resetForTest() {
    std::lock_guard<std::mutex> store(storeLock());
    std::lock_guard<std::mutex> lk(lock());
    std::memset(&current, 0, sizeof current);
    powerDownValid = powerDown = false;
}
