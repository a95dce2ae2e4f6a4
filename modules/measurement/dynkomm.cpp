// FIFOs and the magic number table.
#include "measurement/dynkomm.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "host/os/os.h"
#include "platform/syslogx.h"

namespace {
struct MagicEntry {
    uint32_t magic = 0;
    uint8_t state = DYNKOMM_FREE;
    uint64_t freeAt = 0;           // tick from which a released entry may be drawn again
    dynkomm_fifo_t* fifo = nullptr;
};

std::mutex gMx;
MagicEntry gTable[DYNKOMM_MAGIC_ENTRIES];
uint32_t gBootByte = 0;
uint32_t gCounter = 0;             // last running counter drawn (24 bits)
// Installed by the serial network's start-up while tasks of the logging
// (the event channels' start) may already reserve fifos.
std::atomic<const dynkomm_sernet_hooks*> gHooks{nullptr};
uint8_t gFloodMagic = 0;

MagicEntry* entryLocked(uint32_t magic) {
    if (magic == 0) return nullptr;
    MagicEntry& e = gTable[magic & (DYNKOMM_MAGIC_ENTRIES - 1)];
    return (e.magic == magic && e.state != DYNKOMM_FREE && e.state != DYNKOMM_RELEASED) ? &e : nullptr;
}

// The magic's entry forgets the FIFO before its memory goes, so that no
// lookup hands out freed memory.
void forgetFifo(dynkomm_fifo_t* f) {
    std::lock_guard<std::mutex> lk(gMx);
    MagicEntry* e = entryLocked(f->magic);
    if (e && e->fifo == f) e->fifo = nullptr;
}
}  // namespace

void dynkomm_init(uint32_t bootCount) {
    std::lock_guard<std::mutex> lk(gMx);
    for (auto& e : gTable) {
        if (e.fifo) {
            e.fifo->~dynkomm_fifo_t();
            std::free(e.fifo);
        }
        e = MagicEntry{};
    }
    gBootByte = (bootCount & 0xFF) << 24;
    gCounter = 0;
}

uint32_t dynkomm_get_magic() {
    std::lock_guard<std::mutex> lk(gMx);
    uint64_t now = tickGet();
    for (unsigned tries = 0; tries < DYNKOMM_MAGIC_ENTRIES; ++tries) {
        gCounter = (gCounter + 1) & 0xFFFFFF;
        uint32_t magic = gBootByte | gCounter;
        if (magic == 0) continue;
        MagicEntry& e = gTable[magic & (DYNKOMM_MAGIC_ENTRIES - 1)];
        if (e.state == DYNKOMM_FREE || (e.state == DYNKOMM_RELEASED && now >= e.freeAt)) {
            e = MagicEntry{};
            e.magic = magic;
            e.state = DYNKOMM_DRAWN;
            return magic;
        }
    }
    SYSLOGX_FLOOD(gFloodMagic, 147, "dynkomm_get_magic(): magic table exhausted");
    return 0;
}

static void freeMagic(uint32_t magic, bool direct) {
    std::lock_guard<std::mutex> lk(gMx);
    MagicEntry* e = entryLocked(magic);
    if (!e) return;
    e->fifo = nullptr;   // the FIFO itself belongs to whoever deletes it
    e->state = direct ? uint8_t(DYNKOMM_FREE) : uint8_t(DYNKOMM_RELEASED);
    e->freeAt = tickGet() + DYNKOMM_DELETE_DELAY_MS;
}
void dynkomm_free_magic(uint32_t magic) { freeMagic(magic, false); }
void dynkomm_free_magic_direct(uint32_t magic) { freeMagic(magic, true); }

uint8_t dynkomm_magic_state(uint32_t magic) {
    std::lock_guard<std::mutex> lk(gMx);
    MagicEntry* e = entryLocked(magic);
    return e ? e->state : uint8_t(DYNKOMM_FREE);
}

void dynkomm_fifo_prepare(uint32_t magic) {
    std::lock_guard<std::mutex> lk(gMx);
    if (MagicEntry* e = entryLocked(magic)) e->state = DYNKOMM_PREPARED;
}

dynkomm_fifo_t* dynkomm_fifo_create(uint32_t magic, uint16_t srcPid, uint32_t destMagic, uint16_t destPid,
                                    uint16_t raster, uint16_t slotCount, uint16_t slotSize, uint16_t mode) {
    std::lock_guard<std::mutex> lk(gMx);
    MagicEntry* e = entryLocked(magic);
    if (!e) {
        syslogx(147, "dynkomm_fifo_init(): magic not valid");
        return nullptr;
    }
    if (e->state != DYNKOMM_PREPARED) {
        syslogx(147, "dynkomm_fifo_init(): fifo state not expected %d, 0x%08x", e->state, magic);
        return nullptr;
    }
    // Slot count rounded up to a power of two (at least 2) so that the counters wrap cleanly.
    unsigned count = 2;
    while (count < slotCount && count < 0x8000) count <<= 1;
    if (slotSize == 0) {
        syslogx(147, "dynkomm_fifo_init(): no memory for fifo");
        return nullptr;
    }
    void* mem = std::calloc(1, sizeof(dynkomm_fifo_t) + size_t(count) * slotSize);
    if (!mem) {
        syslogx(147, "dynkomm_fifo_init(): no memory for fifo");
        return nullptr;
    }
    auto* f = new (mem) dynkomm_fifo_t{};
    f->magic = magic;
    f->dest_magic = destMagic;
    f->valid = DYNKOMM_VALID;
    f->src_pid = srcPid;
    f->dst_pid = destPid;
    f->slotcount = uint16_t(count);
    f->slotmask = uint16_t(count - 1);
    f->slotsize = slotSize;
    f->raster = raster;
    f->mode = mode;
    e->fifo = f;
    e->state = DYNKOMM_FIFO;
    return f;
}

void dynkomm_fifo_set(uint32_t magic, dynkomm_fifo_t* fifo) {
    std::lock_guard<std::mutex> lk(gMx);
    if (MagicEntry* e = entryLocked(magic)) {
        e->fifo = fifo;
        e->state = DYNKOMM_FIFO;
    }
}

int dynkomm_get_fifo(uint32_t magic, dynkomm_fifo_t** out) {
    std::lock_guard<std::mutex> lk(gMx);
    MagicEntry* e = entryLocked(magic);
    if (!e) return 0;
    if (!e->fifo) return 2;
    if (out) *out = e->fifo;
    return 1;
}

void dynkomm_fifo_delete(dynkomm_fifo_t* fifo) {
    if (!fifo) return;
    forgetFifo(fifo);
    fifo->valid = 0;
    fifo->~dynkomm_fifo_t();
    std::free(fifo);
}

uint8_t* dynkomm_write(dynkomm_fifo_t* f) {
    if (!f || f->valid != DYNKOMM_VALID) return nullptr;
    const uint32_t w = f->wr.load(std::memory_order_relaxed);
    const uint32_t r = f->rd.load(std::memory_order_acquire);
    f->skip = 0;
    if (f->mode & DYNKOMM_MODE_QUEUE) return w - r >= f->slotcount ? nullptr : f->slot(w);
    // A buffer's reader reads its newest slot in place, and may still hold
    // it when the writer comes round to it again: that slot is passed over.
    // It is never read again anyway, a newer one follows it.
    if (w - r >= f->slotcount && f->slotcount > 1) f->skip = 1;
    return f->slot(w + f->skip);
}

void dynkomm_writedone(dynkomm_fifo_t* f) {
    if (!f || f->valid != DYNKOMM_VALID) return;
    f->wr.store(f->wr.load(std::memory_order_relaxed) + 1 + f->skip, std::memory_order_release);
    f->skip = 0;
}

uint8_t* dynkomm_read(dynkomm_fifo_t* f) {
    if (!f || f->valid != DYNKOMM_VALID) return nullptr;
    uint32_t r = f->rd.load(std::memory_order_relaxed);
    uint32_t w = f->wr.load(std::memory_order_acquire);
    if (r == w) return nullptr;
    if (f->mode & DYNKOMM_MODE_QUEUE) return f->slot(r);
    // Newest value: position the reader on the last written slot; readdone
    // then moves it past. Released, so that the writer, which passes over
    // the slot the reader holds, finds the slots before it read.
    f->rd.store(w - 1, std::memory_order_release);
    return f->slot(w - 1);
}

void dynkomm_readdone(dynkomm_fifo_t* f) {
    if (!f || f->valid != DYNKOMM_VALID) return;
    uint32_t r = f->rd.load(std::memory_order_relaxed);
    if (r == f->wr.load(std::memory_order_acquire)) return;   // nothing was read
    f->rd.store(r + 1, std::memory_order_release);
}

unsigned dynkomm_getslotnum_SerNet(unsigned raster) {
    switch (raster) {
    case 0: case 10: case 14: case 15: case 16: case 17: case 18: return 512;
    case 1: return 256;
    case 2: return 128;
    case 3: return 64;
    case 4: return 32;
    case 5: return 16;
    case 6: return 8;
    case 7: case 8: return 4;
    default: return 2;
    }
}

void dynkomm_set_sernet_hooks(const dynkomm_sernet_hooks* hooks) { gHooks.store(hooks, std::memory_order_release); }

int dynkomm_fifo_reserve(uint32_t magic, uint16_t srcPid) {
    const dynkomm_sernet_hooks* h = gHooks.load(std::memory_order_acquire);
    return h && h->prepare_sink ? h->prepare_sink(magic, srcPid) : 0;
}
int dynkomm_fifo_activate(dynkomm_fifo_t* f) {
    const dynkomm_sernet_hooks* h = gHooks.load(std::memory_order_acquire);
    return h && h->create_sink ? h->create_sink(f) : 0;
}
int dynkomm_fifo_link(dynkomm_fifo_t* f) {
    const dynkomm_sernet_hooks* h = gHooks.load(std::memory_order_acquire);
    return h && h->create_source ? h->create_source(f) : 0;
}
// The network's release frees the FIFO memory itself; without it the FIFO
// layer does (dynkomm_fifo_delete). Either way the magic forgets the FIFO first.
int dynkomm_fifo_unlink(dynkomm_fifo_t* f) {
    const dynkomm_sernet_hooks* h = gHooks.load(std::memory_order_acquire);
    if (!f) return 0;
    int r = h && h->delete_source ? h->delete_source(f) : 0;
    if (h && h->release_fifo) {
        forgetFifo(f);
        h->release_fifo(f);
    } else {
        dynkomm_fifo_delete(f);
    }
    return r;
}
int dynkomm_fifo_free(dynkomm_fifo_t* f) {
    const dynkomm_sernet_hooks* h = gHooks.load(std::memory_order_acquire);
    if (!f) return 0;
    if (h && h->delete_sink) {
        forgetFifo(f);
        return h->delete_sink(f);
    }
    dynkomm_fifo_delete(f);
    return 0;
}
int dynkomm_start_sending(dynkomm_fifo_t* f) {
    const dynkomm_sernet_hooks* h = gHooks.load(std::memory_order_acquire);
    return h && h->start_sending ? h->start_sending(f) : 0;
}
int dynkomm_stop_sending(dynkomm_fifo_t* f) {
    const dynkomm_sernet_hooks* h = gHooks.load(std::memory_order_acquire);
    return h && h->stop_sending ? h->stop_sending(f) : 0;
}
