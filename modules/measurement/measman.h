// Measurement manager internals shared by the gateway and the list server: a
// producer copies the current values of a list into a FIFO once a tick.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "measurement/dynkomm.h"
#include "measurement/seram.h"
#include "measurement/types.h"

struct MeasElem {
    measaddr_t addr;
    uint8_t size;        // 4, 2 or 1
};

// Parses a list description (groups of a negative size, addresses, 0; ended
// by 0). false for a malformed or empty description or too many values.
bool meas_parse_list(const uint32_t* words, unsigned nWords, std::vector<MeasElem>* out);
// The description of parsed elements again: consecutive values of one size
// form a group.
std::vector<uint32_t> meas_list_words(const std::vector<MeasElem>& elems);
// Bytes of a FIFO slot carrying the values: the 4-byte time stamp and each value.
unsigned meas_slot_size(const std::vector<MeasElem>& elems);

// The values of one raster tick. Each value is read from its address once;
// every list copied in that tick takes the value read then, so that the
// device's own record and the lists it serves other devices agree at every
// stamp even when a faster task writes the value between their copies.
class MeasSnapshot {
public:
    uint32_t read(const uint8_t* p, uint8_t size);

private:
    struct Value {
        uint8_t size;
        uint32_t v;
    };
    std::unordered_map<const uint8_t*, Value> values_;
};

struct MeasProducer {
    struct Src {
        const uint8_t* ptr;
        uint8_t size;
        bool calParam;   // read at reference address + active offset
    };
    std::vector<Src> src;
    std::vector<SeramMeasHandle> handles;
    dynkomm_fifo_t* fifo = nullptr;
    unsigned raster = 0;
    bool paused = false;

    // Resolves every element; false (handles released) when one is unknown.
    bool setup(const std::vector<MeasElem>& elems, unsigned raster);
    void release();
    // Writes one slot from the tick's values; false when the FIFO refused it
    // (counted as data loss).
    bool copy(uint32_t timeStamp, MeasSnapshot& values);
};

// Producers run by meas_man_copy_raster besides the gateway's own lists (the
// lists this device serves to other devices).
void meas_man_add_producer(MeasProducer* p);
void meas_man_remove_producer(MeasProducer* p);
// Lists served to other devices and their devices' runs. The device
// network counts the runs it has seen of each PID (its restarts); every
// list served keeps the count at its request, so that the lists of a run
// that is over can be told from those of the current one.
constexpr unsigned MEAS_PEERS = 64;
void meas_man_set_peer_runs(uint32_t (*runOf)(unsigned pid));
// The PID's device's run as the network counts it now (0 with none counted).
uint32_t meas_man_peer_run(unsigned pid);
// The PID's device's run as the network counts it now, into run, and
// whether it hears the device now (false: gone, or its presence missed a
// few times), read together, as the function set tells (none set: run 0,
// heard).
void meas_man_set_peer_heard(bool (*heardIn)(unsigned pid, uint32_t* run));
bool meas_man_peer_heard(unsigned pid, uint32_t* run);
// When this device last heard the PID's device (its last message of any
// kind: presence, command or data), in this device's time, into stamp;
// false when it was never heard or no function is set.
void meas_man_set_peer_sign(bool (*signOf)(unsigned pid, uint32_t* stamp));
bool meas_man_peer_last_sign(unsigned pid, uint32_t* stamp);
struct MeasPeerRun {
    bool gone;       // the device has left the network: none of its lists is taken
    uint32_t run;    // the device's run as the network counts it now
};
// Stops the lists served to each device that its current run did not ask
// for: all of a device that is gone, those asked for in an earlier run
// (another run count, or a handle drawn by another boot than the one of
// the device's latest request, whatever its value, unless two units ask by
// turns under the PID). stopped[pid]: how many were stopped.
void meas_man_stop_ended_runs(const MeasPeerRun peers[MEAS_PEERS], unsigned stopped[MEAS_PEERS]);
// Registers the list request handlers (0x0500, 0x0510); 1.
int meas_man_init();

// A list request may carry its sender's unit id and boot count (32 bits
// each, big-endian) right after its list; the 16-bit word at payload offset
// 10 then holds their size, MEAS_REQ_UNIT_SIZE, else 0.
constexpr uint16_t MEAS_REQ_UNIT_SIZE = 8;
constexpr unsigned MEAS_REQ_UNIT_WORD = 10;
void meas_man_shutdown();
// Runs the producers of a raster (the gateway's own lists are run by it)
// from the values of the tick the gateway's lists were copied from.
void meas_man_run_producers(unsigned raster, uint32_t timeStamp, MeasSnapshot& values);
void meas_man_run_producers(unsigned raster, uint32_t timeStamp);
void meas_man_count_loss();
