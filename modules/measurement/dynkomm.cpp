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
    // A newest-value buffer needs a third slot to hand over (see the
    // newest-value buffer below).
    const unsigned spare = !(mode & DYNKOMM_MODE_QUEUE) && count < 3 ? 3 - count : 0;
    void* mem = std::calloc(1, sizeof(dynkomm_fifo_t) + size_t(count + spare) * slotSize);
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
    f->spare = uint8_t(spare);
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

// ---- newest-value buffer ---------------------------------------------------
// The writer fills a slot that is neither the newest published one nor the
// one the reader holds, and publishes it by swapping it into the slot word;
// the reader claims the published slot by swapping it into the same word. As
// both sides change the word only by compare-and-swap, the reader can claim
// only a slot that was whole when published, and the writer never picks a
// slot the reader holds or is about to hold. Three slots are enough for that
// (reader, newest, writer): larger buffers use their first three, a two-slot
// buffer gets a spare one at creation.
namespace {
constexpr uint32_t kPubMask = 0x3;    // newest published slot + 1, 0 for none
constexpr uint32_t kHeldShift = 2;    // slot the reader holds + 1, 0 for none
constexpr uint32_t kHeldMask = 0x3 << kHeldShift;
constexpr uint32_t kFresh = 0x10;     // the published slot has not been read yet
constexpr unsigned kBufferSlots = 3;

unsigned bufferSlots(const dynkomm_fifo_t* f) {
    const unsigned n = unsigned(f->slotcount) + f->spare;
    return n < kBufferSlots ? n : kBufferSlots;
}

uint8_t* bufferWrite(dynkomm_fifo_t* f) {
    // A write that was never completed (a record cut off) goes on in the
    // same slot: it was never published, so the reader cannot have it.
    if (f->fill) return f->slotAt(f->fill - 1u);
    const uint32_t word = f->rd.load(std::memory_order_acquire);
    const uint32_t pub = word & kPubMask, held = (word & kHeldMask) >> kHeldShift;
    for (unsigned i = 0; i < bufferSlots(f); ++i) {
        if (i + 1 == pub || i + 1 == held) continue;
        f->fill = uint8_t(i + 1);
        return f->slotAt(i);
    }
    // A one-slot buffer (made by the network, which adds no spare) cannot
    // keep its newest value while writing another: unless the reader holds
    // the slot, it is taken back from the reader's side first.
    if (bufferSlots(f) == 1) {
        uint32_t w = word;
        while (!(w & kHeldMask)) {
            if (f->rd.compare_exchange_weak(w, 0, std::memory_order_acquire, std::memory_order_acquire)) {
                f->fill = 1;
                return f->slotAt(0);
            }
        }
    }
    // The reader holds a slot and the other one is the newest whole value
    // (a two-slot buffer without its spare): nothing is free.
    return nullptr;
}

void bufferWritedone(dynkomm_fifo_t* f) {
    if (!f->fill) return;
    uint32_t word = f->rd.load(std::memory_order_relaxed);
    while (!f->rd.compare_exchange_weak(word, (word & kHeldMask) | f->fill | kFresh, std::memory_order_release,
                                        std::memory_order_relaxed)) {
    }
    f->fill = 0;
    f->wr.store(f->wr.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

uint8_t* bufferRead(dynkomm_fifo_t* f) {
    uint32_t word = f->rd.load(std::memory_order_acquire);
    for (;;) {
        if (!(word & kFresh)) return nullptr;
        const uint32_t pub = word & kPubMask;
        if (f->rd.compare_exchange_weak(word, pub | pub << kHeldShift, std::memory_order_acq_rel,
                                        std::memory_order_acquire))
            return f->slotAt(pub - 1);
    }
}

void bufferReaddone(dynkomm_fifo_t* f) {
    // Released, so that the writer, which may fill the slot next, finds the
    // reader done with it.
    uint32_t word = f->rd.load(std::memory_order_relaxed);
    while ((word & kHeldMask) && !f->rd.compare_exchange_weak(word, word & ~kHeldMask, std::memory_order_release,
                                                               std::memory_order_relaxed)) {
    }
}
}  // namespace

uint8_t* dynkomm_write(dynkomm_fifo_t* f) {
    if (!f || f->valid != DYNKOMM_VALID) return nullptr;
    if (!(f->mode & DYNKOMM_MODE_QUEUE)) return bufferWrite(f);
    const uint32_t w = f->wr.load(std::memory_order_relaxed);
    const uint32_t r = f->rd.load(std::memory_order_acquire);
    return w - r >= f->slotcount ? nullptr : f->slot(w);
}

void dynkomm_writedone(dynkomm_fifo_t* f) {
    if (!f || f->valid != DYNKOMM_VALID) return;
    if (!(f->mode & DYNKOMM_MODE_QUEUE)) return bufferWritedone(f);
    f->wr.store(f->wr.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

uint8_t* dynkomm_read(dynkomm_fifo_t* f) {
    if (!f || f->valid != DYNKOMM_VALID) return nullptr;
    if (!(f->mode & DYNKOMM_MODE_QUEUE)) return bufferRead(f);
    const uint32_t r = f->rd.load(std::memory_order_relaxed);
    return r == f->wr.load(std::memory_order_acquire) ? nullptr : f->slot(r);
}

void dynkomm_readdone(dynkomm_fifo_t* f) {
    if (!f || f->valid != DYNKOMM_VALID) return;
    if (!(f->mode & DYNKOMM_MODE_QUEUE)) return bufferReaddone(f);
    const uint32_t r = f->rd.load(std::memory_order_relaxed);
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
