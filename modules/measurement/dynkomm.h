// FIFOs between producers and consumers of measured values, and the magic
// number table that names requests, measurement lists and FIFOs across tasks
// and devices.
//
// A FIFO is a 40-byte header followed by a power-of-two number of fixed-size
// slots, with one writer and one reader and no lock. In queue mode (mode bit
// 0) the writer owns the write counter, the reader the read counter; a full
// FIFO refuses the writer and the reader takes the oldest slot. In buffer mode
// the writer never waits and the reader always takes the newest slot: the two
// sides hand slots over through one word changed by compare-and-swap, so the
// writer never writes the slot the reader holds nor the newest published one,
// and a write that is never completed publishes nothing.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint16_t DYNKOMM_VALID = 0xA710;
constexpr uint16_t DYNKOMM_MODE_QUEUE = 0x0001;

// Magic table entry states.
enum : uint8_t {
    DYNKOMM_FREE = 0,
    DYNKOMM_PREPARED = 1,
    DYNKOMM_FIFO = 2,      // holds a FIFO (or none after dynkomm_fifo_set(m, nullptr))
    DYNKOMM_DRAWN = 3,     // drawn by dynkomm_get_magic, not yet prepared
    DYNKOMM_RELEASED = 4,  // freed, waiting for the deletion delay
};

struct dynkomm_fifo_t {
    uint32_t link;                  // magic of the next FIFO in a sender list
    uint32_t magic;                 // own magic number
    uint32_t dest_magic;            // magic number of the sink
    std::atomic<uint32_t> rd;       // queue: read counter (reader only); buffer: the slot word of both sides
    std::atomic<uint32_t> wr;       // write counter (writer only): slots published
    uint16_t routing;
    uint16_t valid;                 // DYNKOMM_VALID
    uint16_t src_pid;
    uint16_t dst_pid;
    uint16_t slotcount;
    uint16_t slotmask;
    uint16_t slotsize;
    uint16_t raster;
    uint16_t mode;                  // bit 0 set: queue (offline), clear: newest value (online)
    uint8_t fill;                   // buffer: slot being written + 1, 0 for none (writer only)
    uint8_t spare;                  // buffer: slots allocated beyond slotcount (set at creation)
    uint8_t* slotAt(unsigned i) { return reinterpret_cast<uint8_t*>(this + 1) + size_t(i) * slotsize; }
    uint8_t* slot(uint32_t n) { return slotAt(n & slotmask); }
};
static_assert(sizeof(dynkomm_fifo_t) == 40, "FIFO header is 40 bytes");

// ---- magic numbers -----------------------------------------------------------
// Bits 24..31: low byte of the boot counter; bits 0..23: running counter.
constexpr unsigned DYNKOMM_MAGIC_ENTRIES = 65536;
constexpr unsigned DYNKOMM_DELETE_DELAY_MS = 1000;

// Resets the table (start-up, tests); the boot counter's low byte goes into
// every magic number drawn afterwards.
void dynkomm_init(uint32_t bootCount);
uint32_t dynkomm_get_magic();
void dynkomm_free_magic(uint32_t magic);
void dynkomm_free_magic_direct(uint32_t magic);
// State of a magic's entry, DYNKOMM_FREE when the magic is not current.
uint8_t dynkomm_magic_state(uint32_t magic);

// ---- FIFOs ------------------------------------------------------------------------
void dynkomm_fifo_prepare(uint32_t magic);
dynkomm_fifo_t* dynkomm_fifo_create(uint32_t magic, uint16_t srcPid, uint32_t destMagic, uint16_t destPid,
                                    uint16_t raster, uint16_t slotCount, uint16_t slotSize, uint16_t mode);
// Stores a FIFO (or none) as the magic's entry.
void dynkomm_fifo_set(uint32_t magic, dynkomm_fifo_t* fifo);
// 0 unknown magic, 2 entry without FIFO, 1 with the FIFO in *out.
int dynkomm_get_fifo(uint32_t magic, dynkomm_fifo_t** out);
// Frees the FIFO memory and clears the magic's entry (the magic stays drawn).
void dynkomm_fifo_delete(dynkomm_fifo_t* fifo);

uint8_t* dynkomm_write(dynkomm_fifo_t* fifo);
void dynkomm_writedone(dynkomm_fifo_t* fifo);
uint8_t* dynkomm_read(dynkomm_fifo_t* fifo);
void dynkomm_readdone(dynkomm_fifo_t* fifo);

// Slots of a serial-network FIFO for a raster index.
unsigned dynkomm_getslotnum_SerNet(unsigned raster);

// ---- serial network hooks ------------------------------------------------------------
// The device network installs these; until then the FIFO layer's calls into it
// do nothing.
struct dynkomm_sernet_hooks {
    int (*prepare_sink)(uint32_t magic, uint16_t srcPid);
    int (*create_sink)(dynkomm_fifo_t* fifo);
    int (*create_source)(dynkomm_fifo_t* fifo);
    int (*delete_source)(dynkomm_fifo_t* fifo);
    int (*release_fifo)(dynkomm_fifo_t* fifo);
    int (*delete_sink)(dynkomm_fifo_t* fifo);
    int (*start_sending)(dynkomm_fifo_t* fifo);
    int (*stop_sending)(dynkomm_fifo_t* fifo);
};
void dynkomm_set_sernet_hooks(const dynkomm_sernet_hooks* hooks);

int dynkomm_fifo_reserve(uint32_t magic, uint16_t srcPid);
int dynkomm_fifo_activate(dynkomm_fifo_t* fifo);
int dynkomm_fifo_link(dynkomm_fifo_t* fifo);
// Both release the FIFO (its memory is gone afterwards): unlink a source
// FIFO, free a sink FIFO. The network's release_fifo and delete_sink free the
// memory (std::free); without them the FIFO layer frees it.
int dynkomm_fifo_unlink(dynkomm_fifo_t* fifo);
int dynkomm_fifo_free(dynkomm_fifo_t* fifo);
int dynkomm_start_sending(dynkomm_fifo_t* fifo);
int dynkomm_stop_sending(dynkomm_fifo_t* fifo);

// Opens a path from a source FIFO of this device to another PID: request
// 0x0300 with the FIFO's magic at 8 and the reply routine's completion handle
// at 12. 1 when the request was sent.
int dynkomm_open_serial_network_path(dynkomm_fifo_t* source, uint32_t value);
int dynkomm_close_SerNet_path(dynkomm_fifo_t* source);
