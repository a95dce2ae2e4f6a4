// Serial-network manager: sender lists, sink FIFOs, open and close requests.
#include "virari/sernet_man.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "host/os/os.h"
#include "logging/events/event_peer_opens.h"
#include "measurement/measman.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"
#include "virari/DiraDir2/bc2_internal.h"

namespace {
constexpr uint16_t kReleased = 0xDEAD;

struct SenderList {
    std::vector<dynkomm_fifo_t*> fifos;   // the most recently started first
    SEM_ID mutex = nullptr;
};
SenderList gOnline[SERNET_RASTERS], gOffline[SERNET_RASTERS];

// Sinks this manager created for open requests: only these may be closed by
// a close request.
std::mutex gSinksMx;
std::set<uint32_t> gSinks;
uint8_t gFloodShort = 0;

// A device silent for this many looks of the 1-second hook in a row is gone:
// the lists served to it stop. Its own looks (once a second) then see the
// channels down at least once, so it asks for them again when it is back.
constexpr unsigned kGoneSeconds = 3;
unsigned gGoneSeconds[MEAS_PEERS] = {};   // the 1000 ms raster's own
uint32_t gEventRun[MEAS_PEERS] = {};      // each device's run its open events were last looked at in

bool isOffline(const dynkomm_fifo_t* f) { return f->mode & DYNKOMM_MODE_QUEUE; }
SenderList* listOf(const dynkomm_fifo_t* f) {
    if (!f || f->raster >= SERNET_RASTERS) return nullptr;
    return isOffline(f) ? &gOffline[f->raster] : &gOnline[f->raster];
}

void freeFifo(dynkomm_fifo_t* f) {
    f->~dynkomm_fifo_t();
    std::free(f);
}

// Released FIFOs keep their memory (marked released) for the last few
// releases, so that a second release of the same FIFO finds the mark and
// refuses instead of freeing twice. Called under the sink lock.
constexpr unsigned kQuarantine = 64;
dynkomm_fifo_t* gQuarantine[kQuarantine] = {};
unsigned gQuarantineNext = 0;

void quarantine(dynkomm_fifo_t* f) {
    dynkomm_fifo_t*& slot = gQuarantine[gQuarantineNext];
    if (slot) freeFifo(slot);
    slot = f;
    gQuarantineNext = (gQuarantineNext + 1) % kQuarantine;
}

// Reply 0x0107: payload value, sink magic, sink handle, own PID, 0. The sink
// is named by its magic number on both sides, never by its address.
int send_openreply(uint16_t dstPid, uint32_t completion, uint32_t sourceHandle, uint32_t value, uint32_t magic,
                   dynkomm_fifo_t* fifo) {
    ci_msg_t m;
    ci_init_msg(&m, CI_CMD_RETURN_FUNC, dstPid, 16);
    ci_set_magic(&m, sourceHandle);
    ci_set_listid(&m, completion);
    be_put32(m.payload + 0, value);
    be_put32(m.payload + 4, magic);
    be_put32(m.payload + 8, fifo ? magic : 0);
    be_put16(m.payload + 12, comint_own_pid());
    be_put16(m.payload + 14, 0);
    if (comint_put_cmd(&m, 1)) return 1;
    if (fifo) {
        {
            std::lock_guard<std::mutex> lk(gSinksMx);
            gSinks.erase(magic);
        }
        dynkomm_fifo_set(magic, nullptr);
        SerNet_man_release_fifo(fifo);
        dynkomm_free_magic_direct(magic);
    }
    return 0;
}

bool shortRequest(const ci_msg_t* m, unsigned need) {
    if (ci_get_len(m) >= need) return false;
    SYSLOGX_FLOOD(gFloodShort, 147, "SerNet_man: request 0x%04x from PID %u too short (%u bytes)", ci_get_cmd(m),
                  ci_get_src(m), ci_get_len(m));
    return true;
}

// Sends a request on to the device it names.
int forward(ci_msg_t* m, uint16_t sinkPid) {
    ci_set_dst(m, sinkPid);
    ci_set_src(m, comint_own_pid());
    return comint_put_cmd(m, 1);
}

void runSender(unsigned raster, bool online) {
    if (raster >= SERNET_RASTERS) return;
    SenderList& l = online ? gOnline[raster] : gOffline[raster];
    if (!l.mutex || semTake(l.mutex, WAIT_FOREVER) != OK) {
        syslogx(147, online ? "SerNet_man_sender: semTake() has failed on raster-idx 0x%lx online"
                            : "SerNet_man_sender: semTake() has failed on raster-idx 0x%lx offline",
                static_cast<unsigned long>(raster));
        return;
    }
    uint8_t hdr[DK_RECORD_HEADER];
    for (dynkomm_fifo_t* f : l.fifos) {
        be_put16(hdr, f->dst_pid);
        be_put16(hdr + 2, f->slotsize);
        be_put32(hdr + 4, f->dest_magic);
        if (online) {
            if (uint8_t* slot = dynkomm_read(f)) {
                dyncom_send_eth_online(hdr, slot);
                dynkomm_readdone(f);
            }
        } else {
            while (uint8_t* slot = dynkomm_read(f)) {
                dyncom_send_eth(hdr, slot);
                dynkomm_readdone(f);
            }
        }
    }
    semGive(l.mutex);
}

int changeSending(dynkomm_fifo_t* f, bool start) {
    SenderList* l = listOf(f);
    if (!l) return 0;
    if (!l->mutex || semTake(l->mutex, WAIT_FOREVER) != OK) {
        syslogx(147, start ? "SerNet_man_start_sending: semTake() has failed on raster-idx 0x%lx %s"
                           : "SerNet_man_stop_sending: semTake() has failed on raster-idx 0x%lx %s",
                static_cast<unsigned long>(f->raster), isOffline(f) ? "offline" : "online");
        return 0;
    }
    auto it = std::find(l->fifos.begin(), l->fifos.end(), f);
    int r = 0;
    if (start) {
        if (it == l->fifos.end()) l->fifos.insert(l->fifos.begin(), f);
        r = 1;
    } else if (it != l->fifos.end()) {
        l->fifos.erase(it);
        f->link = 0;
        r = 1;
    }
    semGive(l->mutex);
    return r;
}

int hookPrepare(uint32_t, uint16_t) { return 1; }   // the FIFO layer keeps the magic's entry itself
int hookCreateSink(dynkomm_fifo_t* f) { return f ? 1 : 0; }   // found by its magic number from now on
int hookCreateSource(dynkomm_fifo_t* f) { return sernet_man_fifo_create_source(f) ? 1 : 0; }

const dynkomm_sernet_hooks kHooks = {
    hookPrepare,          hookCreateSink,           hookCreateSource,         sernet_man_fifo_delete_source,
    SerNet_man_release_fifo, sernet_man_fifo_delete_sink, SerNet_man_start_sending, SerNet_man_stop_sending,
};
}  // namespace

std::shared_mutex& sernet_sink_lock() {
    static std::shared_mutex m;
    return m;
}

const dynkomm_sernet_hooks* sernet_man_hooks() { return &kHooks; }

int SerNet_man_ini() {
    int ok = 1;
    for (unsigned& n : gGoneSeconds) n = 0;
    for (unsigned r = 0; r < SERNET_RASTERS; ++r) {
        gOnline[r].fifos.clear();
        gOffline[r].fifos.clear();
        if (!ok) continue;
        if (!gOnline[r].mutex) gOnline[r].mutex = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
        if (!gOnline[r].mutex) {
            syslogx(147, "SerNet_man_ini: SemMCreate() has failed on raster-idx 0x%lx online", static_cast<unsigned long>(r));
            ok = 0;
            continue;
        }
        if (!gOffline[r].mutex) gOffline[r].mutex = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
        if (!gOffline[r].mutex) {
            syslogx(147, "SerNet_man_ini: SemMCreate() has failed on raster-idx 0x%lx offline", static_cast<unsigned long>(r));
            ok = 0;
        }
    }
    ci_register_command(SERNET_CMD_OPEN, SerNet_man_openpath);
    ci_register_command(SERNET_CMD_CLOSE, SerNet_man_closepath);
    return ok;
}

dynkomm_fifo_t* SerNet_man_reserve(uint16_t slotSize, uint16_t slotCount, uint16_t mode, uint16_t raster,
                                   uint16_t srcPid, uint32_t handle) {
    // The counters wrap with the slot mask: only a power of two works.
    if (slotCount == 0 || (slotCount & (slotCount - 1)) || slotSize == 0) return nullptr;
    void* mem = std::calloc(1, sizeof(dynkomm_fifo_t) + size_t(slotCount) * slotSize);
    if (!mem) return nullptr;
    auto* f = new (mem) dynkomm_fifo_t{};
    f->valid = DYNKOMM_VALID;
    f->src_pid = srcPid;
    f->dst_pid = comint_own_pid();
    f->slotcount = slotCount;
    f->slotmask = uint16_t(slotCount - 1);
    f->slotsize = slotSize;
    f->raster = raster;
    f->mode = mode;
    f->magic = handle;
    return f;
}

int SerNet_man_release_fifo(dynkomm_fifo_t* f) {
    if (!f) return 0;
    std::unique_lock<std::shared_mutex> lk(sernet_sink_lock());
    if (f->valid != DYNKOMM_VALID) return 0;
    f->valid = kReleased;
    quarantine(f);
    return 1;
}

int SerNet_man_start_sending(dynkomm_fifo_t* f) { return changeSending(f, true); }
int SerNet_man_stop_sending(dynkomm_fifo_t* f) { return changeSending(f, false); }

int SerNet_man_openpath(ci_msg_t* m) {
    if (!m || shortRequest(m, 16)) return 0;
    const uint8_t* p = m->payload;
    const uint16_t srcPid = be_get16(p), sinkPid = be_get16(p + 2), raster = be_get16(p + 4);
    const uint32_t slotSize = (uint32_t(be_get16(p + 6)) + 3u) & ~3u;
    const uint32_t value = be_get32(p + 8);
    const uint16_t slotCount = be_get16(p + 12), mode = be_get16(p + 14);
    const uint32_t sourceHandle = ci_get_magic(m), completion = ci_get_listid(m);
    if (sinkPid != comint_own_pid()) {
        if (forward(m, sinkPid)) return 1;
        return send_openreply(srcPid, completion, sourceHandle, value, 0, nullptr);
    }
    // A size that wraps when rounded up cannot be a slot.
    dynkomm_fifo_t* f = slotSize <= 0xFFFF ? SerNet_man_reserve(uint16_t(slotSize), slotCount, mode, raster, srcPid,
                                                                 sourceHandle)
                                           : nullptr;
    uint32_t magic = 0;
    if (f) {
        magic = dynkomm_get_magic();
        if (!magic) {
            SerNet_man_release_fifo(f);
            f = nullptr;
        } else {
            f->magic = magic;
            f->dest_magic = sourceHandle;
            {
                std::lock_guard<std::mutex> lk(gSinksMx);
                gSinks.insert(magic);
            }
            dynkomm_fifo_set(magic, f);
        }
    }
    return send_openreply(srcPid, completion, sourceHandle, value, magic, f);
}

int SerNet_man_closepath(ci_msg_t* m) {
    if (!m || shortRequest(m, 8)) return 0;
    const uint32_t magic = be_get32(m->payload);
    const uint16_t sinkPid = be_get16(m->payload + 6);
    if (sinkPid != comint_own_pid()) {
        be_put16(m->payload + 4, comint_own_pid());
        return forward(m, sinkPid);
    }
    {
        std::lock_guard<std::mutex> lk(gSinksMx);
        if (!gSinks.erase(magic)) return 0;
    }
    dynkomm_fifo_t* f = nullptr;
    if (dynkomm_get_fifo(magic, &f) == 1 && f) {
        dynkomm_fifo_set(magic, nullptr);
        SerNet_man_release_fifo(f);
    }
    dynkomm_free_magic(magic);
    return 1;
}

void SerNet_man_sender_online(unsigned raster) { runSender(raster, true); }
void SerNet_man_sender_offline(unsigned raster) { runSender(raster, false); }
void SerNet_man_flush_online() { Dynkom_flush_eth(0); }
void SerNet_man_flush_offline() { Dynkom_flush_eth(1); }
void SerNet_man_1s() {
    MeasPeerRun peers[MEAS_PEERS];
    const unsigned own = comint_own_pid();
    for (unsigned pid = 0; pid < MEAS_PEERS; ++pid) {
        gGoneSeconds[pid] = pid != own && BC2_peer_gone(pid) ? gGoneSeconds[pid] + 1 : 0;
        peers[pid] = MeasPeerRun{gGoneSeconds[pid] >= kGoneSeconds, BC2_peer_run(pid)};
    }
    // events a device left open when it restarted or fell silent end now
    for (unsigned pid = 0; pid < MEAS_PEERS; ++pid) {
        if (pid == own) continue;
        const bool gone = BC2_peer_gone(pid);
        // gone, every run of it is over; restarted (once or more since the
        // last look), every run before the one counted now
        const uint32_t ended = gone ? peers[pid].run : peers[pid].run - 1;
        if (gone || peers[pid].run != gEventRun[pid])
            eventPeers_close(uint16_t(pid), time_getTimestamp(), gone ? "fell silent" : "runs anew", ended);
        else if (uint32_t run = 0; BC2_peer_heard(pid, &run) && run == peers[pid].run)
            eventPeers_runGoesOn(uint16_t(pid), run);   // heard in the same run: back after a silence, not restarted
        gEventRun[pid] = peers[pid].run;
    }
    unsigned stopped[MEAS_PEERS] = {};
    meas_man_stop_ended_runs(peers, stopped);
    // a device that restarts again and again causes these: limited per its address
    for (unsigned pid = 0; pid < MEAS_PEERS; ++pid)
        if (stopped[pid])
            BC2_LOG_FROM(bc2_host_from(pid), FL_LISTS_ENDED, 150, "SerNet_man: %u lists served to PID 0x%X stopped, %s",
                         stopped[pid], pid, peers[pid].gone ? "the device is gone" : "the run that asked for them is over");
}

dynkomm_fifo_t* sernet_man_fifo_create_source(dynkomm_fifo_t* f) {
    if (!f || f->valid != DYNKOMM_VALID) return nullptr;
    return SerNet_man_start_sending(f) ? f : nullptr;
}

int sernet_man_fifo_delete_source(dynkomm_fifo_t* f) { return f ? SerNet_man_stop_sending(f) : 0; }

int sernet_man_fifo_delete_sink(dynkomm_fifo_t* f) { return SerNet_man_release_fifo(f); }

void SerNet_man_shutdown() {
    for (unsigned& n : gGoneSeconds) n = 0;
    for (unsigned r = 0; r < SERNET_RASTERS; ++r)
        for (SenderList* l : {&gOnline[r], &gOffline[r]}) {
            if (!l->mutex) continue;
            semTake(l->mutex, WAIT_FOREVER);
            l->fifos.clear();
            semGive(l->mutex);
        }
    std::set<uint32_t> sinks;
    {
        std::lock_guard<std::mutex> lk(gSinksMx);
        sinks.swap(gSinks);
    }
    for (uint32_t magic : sinks) {
        dynkomm_fifo_t* f = nullptr;
        if (dynkomm_get_fifo(magic, &f) == 1 && f) {
            dynkomm_fifo_set(magic, nullptr);
            SerNet_man_release_fifo(f);
        }
        dynkomm_free_magic_direct(magic);
    }
    std::unique_lock<std::shared_mutex> lk(sernet_sink_lock());
    for (dynkomm_fifo_t*& q : gQuarantine) {
        if (q) freeFifo(q);
        q = nullptr;
    }
}
