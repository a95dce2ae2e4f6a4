// Measurement manager: producers that copy values into FIFO slots, and the
// serving of list requests from other devices (0x0500 by addresses, 0x0510 by
// names).
#include "measurement/measman.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/byteorder.h"
#include "measurement/catalogue.h"
#include "measurement/comint.h"
#include "measurement/gateway.h"
#include "measurement/meas_master.h"
#include "measurement/signalpage.h"
#include "platform/syslogx.h"

namespace {
std::mutex gMx;   // producer chains and served lists
std::vector<MeasProducer*> gProducers[GW_RASTERS];
std::atomic<uint32_t> gDataLoss{0};
std::atomic<uint8_t> gCanIoInit{0};
uint8_t gFloodReq = 0;

struct Served {
    uint16_t pid;
    uint32_t handle;
    uint32_t magic;
    uint32_t run = 0;         // the device's run count at the request
    unsigned raster = 0, slots = 0, mode = 0, size = 0;   // as asked for
    bool masterFed = false;   // a CCP/XCP master writes the FIFO per DAQ
    MeasProducer prod;
};
std::map<uint64_t, std::unique_ptr<Served>> gServed;
std::atomic<uint32_t (*)(unsigned)> gRunOf{nullptr};
std::atomic<bool (*)(unsigned, uint32_t*)> gHeardIn{nullptr};
std::atomic<bool (*)(unsigned, uint32_t*)> gSignOf{nullptr};
// The boot byte (bits 24 to 31 of its handles) of each device's latest
// request, and the one it replaced; under gMx.
uint8_t gNewestBoot[MEAS_PEERS] = {};
uint8_t gFormerBoot[MEAS_PEERS] = {};
bool gBootKnown[MEAS_PEERS] = {};
bool gFormerKnown[MEAS_PEERS] = {};
// Two units ask under the PID (a swapped unit left on the network, or two
// devices given the same PID): a request's boot byte tells no run from
// another, their lists end only when the device leaves or restarts.
bool gTwoUnits[MEAS_PEERS] = {};
// The unit id and boot count of each device's latest request that named
// its unit; under gMx.
uint32_t gUnit[MEAS_PEERS] = {};
uint32_t gUnitBoot[MEAS_PEERS] = {};
bool gUnitKnown[MEAS_PEERS] = {};
// The boot count the current one replaced; under gMx.
uint32_t gUnitFormer[MEAS_PEERS] = {};
bool gUnitFormerKnown[MEAS_PEERS] = {};
// A request of the replaced count refused as late: the second it first came.
uint32_t gLateSince[MEAS_PEERS] = {};
bool gLateKnown[MEAS_PEERS] = {};
// Seconds counted by the once-a-second look at the served lists; under gMx.
uint32_t gSeconds = 0;
// Late requests of an ended run come together, right after its end; the
// replaced count still asking this long after its first refusal is a run of
// its own (the gateway asks again once a second).
constexpr uint32_t kLateSeconds = 3;
uint8_t gFloodEnded = 0;

// Who sent a request, when it says so.
struct Requester {
    bool named = false;
    uint32_t unit = 0, boot = 0;
};

// The unit named after the list that ends at payload offset end.
Requester requesterOf(const ci_msg_t* m, unsigned end) {
    Requester r;
    if (be_get16(m->payload + MEAS_REQ_UNIT_WORD) != MEAS_REQ_UNIT_SIZE || end + MEAS_REQ_UNIT_SIZE > ci_get_len(m))
        return r;
    r.unit = be_get32(m->payload + end);
    r.boot = be_get32(m->payload + end + 4);
    r.named = r.unit != 0;
    return r;
}

uint8_t bootOf(uint32_t handle) { return uint8_t(handle >> 24); }

// The boot byte of a device's latest request is the one of its current
// run, whatever its value: a unit that lost its NVRAM, or a replacement
// with the same PID, counts its boots from 1 again. A request of the run
// it replaced, though, shows two units asking by turns: true once they are
// found so (to be named). gMx held.
bool noteBoot(uint16_t pid, uint32_t handle, uint8_t* newest) {
    if (pid >= MEAS_PEERS) return false;
    const uint8_t boot = bootOf(handle);
    if (gBootKnown[pid] && boot == gNewestBoot[pid]) return false;
    if (gTwoUnits[pid]) return false;
    if (gFormerKnown[pid] && boot == gFormerBoot[pid]) {
        gTwoUnits[pid] = true;
        *newest = gNewestBoot[pid];
        return true;
    }
    gFormerBoot[pid] = gNewestBoot[pid];
    gFormerKnown[pid] = gBootKnown[pid];
    gNewestBoot[pid] = boot;
    gBootKnown[pid] = true;
    return false;
}

// A request that names its unit: that unit's id with a newer boot count is
// its restart (its former run's lists end), another unit id under the PID
// is a second unit (true once, to be named with both ids; both are served).
// A request of an ended run of the unit is not looked at here. gMx held.
bool noteUnit(uint16_t pid, uint32_t handle, const Requester& who, uint32_t* other) {
    if (pid >= MEAS_PEERS) return false;
    if (gUnitKnown[pid] && who.unit != gUnit[pid]) {
        if (gTwoUnits[pid]) return false;
        gTwoUnits[pid] = true;
        *other = gUnit[pid];
        return true;
    }
    if (gTwoUnits[pid]) return false;
    if (!gUnitKnown[pid] || who.boot != gUnitBoot[pid]) {
        gUnitFormer[pid] = gUnitBoot[pid];
        gUnitFormerKnown[pid] = gUnitKnown[pid];
        gLateKnown[pid] = false;
    }
    gUnit[pid] = who.unit;
    gUnitBoot[pid] = who.boot;
    gUnitKnown[pid] = true;
    gNewestBoot[pid] = bootOf(handle);
    gBootKnown[pid] = true;
    gFormerKnown[pid] = false;   // its runs are told by its boot count
    return false;
}

// True for a request of a run of the unit that has ended: a late one of
// the run its current one replaced (its boot count the former one, lower
// or not). Any other boot count is a new run of the unit, served at once:
// one that starts again with a lower count (it lost its NVRAM, and with it
// the count) included. Should such a run count as the replaced one (its
// NVRAM lost right after a boot), it keeps asking and is taken so after
// kLateSeconds. No list is made for a request of an ended run. gMx held.
bool ofEndedRun(uint16_t pid, const Requester& who) {
    if (!who.named || pid >= MEAS_PEERS || !gUnitKnown[pid] || who.unit != gUnit[pid] || who.boot == gUnitBoot[pid] ||
        !gUnitFormerKnown[pid] || who.boot != gUnitFormer[pid])
        return false;
    if (!gLateKnown[pid]) {
        gLateKnown[pid] = true;
        gLateSince[pid] = gSeconds;
    }
    return gSeconds - gLateSince[pid] < kLateSeconds;
}

// A device that left is one unit again when it is back; gMx held.
void forgetBoots(unsigned pid) {
    gBootKnown[pid] = gFormerKnown[pid] = gTwoUnits[pid] = gUnitKnown[pid] = gLateKnown[pid] = false;
}

uint64_t key(uint16_t pid, uint32_t handle) { return (uint64_t(pid) << 32) | handle; }

void reply(const ci_msg_t* req, uint16_t op, unsigned err, uint32_t sourceMagic) {
    ci_msg_t m;
    ci_init_msg(&m, CI_CMD_MEASLIST_REPLY, ci_get_src(req), 4);
    ci_set_magic(&m, ci_get_magic(req));
    ci_set_listid(&m, sourceMagic);
    be_put16(m.payload, uint16_t(err));
    be_put16(m.payload + 2, op);
    comint_put_cmd(&m, 0);
}

// Takes a served list out of the tables; gMx held.
std::unique_ptr<Served> takeServedLocked(std::map<uint64_t, std::unique_ptr<Served>>::iterator it) {
    std::unique_ptr<Served> s = std::move(it->second);
    gServed.erase(it);
    auto& chain = gProducers[s->prod.raster];
    chain.erase(std::remove(chain.begin(), chain.end(), &s->prod), chain.end());
    return s;
}

// Ends a list taken out of the tables.
void endServed(std::unique_ptr<Served> s) {
    if (s->masterFed) meas_man_destroy_master_list(s->magic);   // before its FIFO goes
    dynkomm_fifo_unlink(s->prod.fifo);   // releases the source FIFO
    dynkomm_free_magic(s->magic);
    s->prod.release();
}

void stopServed(uint16_t pid, uint32_t handle) {
    std::unique_ptr<Served> s;
    {
        std::lock_guard<std::mutex> lk(gMx);
        auto it = gServed.find(key(pid, handle));
        if (it == gServed.end()) return;
        s = takeServedLocked(it);
    }
    endServed(std::move(s));
}

// Starts serving a list to another device; the gateway error code.
unsigned startServed(const ci_msg_t* req, unsigned raster, unsigned slots, unsigned mode,
                     const std::vector<MeasElem>& elems, const Requester& who) {
    uint16_t pid = ci_get_src(req);
    uint32_t handle = ci_get_magic(req);
    if (raster >= GW_RASTERS) return GW_DENIED;
    const uint32_t run = meas_man_peer_run(pid);
    const unsigned size = meas_slot_size(elems);
    {
        // The same request again from the same run of the device (it heard
        // nothing of the list for a while: this device was put aside) is
        // served by the list it has: replaced, what waits to be sent would
        // be lost, and the values until the new list's first.
        std::lock_guard<std::mutex> lk(gMx);
        auto it = gServed.find(key(pid, handle));
        if (it != gServed.end()) {
            const Served& o = *it->second;
            if (o.run == run && o.raster == raster && o.slots == slots && o.mode == mode && o.size == size)
                return GW_NO_ERROR;
        }
    }
    stopServed(pid, handle);   // another request under the handle replaces the old list
    auto s = std::make_unique<Served>();
    s->pid = pid;
    s->handle = handle;
    s->run = run;
    s->raster = raster;
    s->slots = slots;
    s->mode = mode;
    s->size = size;
    if (!s->prod.setup(elems, raster)) return GW_ADDRESS;
    s->magic = dynkomm_get_magic();
    if (!s->magic) {
        s->prod.release();
        return GW_MEAS_FIFO;
    }
    dynkomm_fifo_prepare(s->magic);
    s->prod.fifo = dynkomm_fifo_create(s->magic, comint_own_pid(), handle, pid, uint16_t(raster),
                                       uint16_t(slots ? slots : dynkomm_getslotnum_SerNet(raster)),
                                       uint16_t(size), uint16_t(mode & DYNKOMM_MODE_QUEUE));
    if (!s->prod.fifo) {
        dynkomm_free_magic_direct(s->magic);
        s->prod.release();
        return GW_MEAS_FIFO;
    }
    dynkomm_fifo_link(s->prod.fifo);
    const std::vector<uint32_t> desc = meas_list_words(elems);
    s->masterFed = meas_man_create(s->magic, s->prod.fifo, desc.data(), unsigned(desc.size()));
    bool twoUnits = false, twoNamed = false;
    uint8_t newest = 0;
    uint32_t other = 0;
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (!s->masterFed) gProducers[raster].push_back(&s->prod);
        gServed[key(pid, handle)] = std::move(s);
        if (who.named)
            twoNamed = noteUnit(pid, handle, who, &other);
        else
            twoUnits = noteBoot(pid, handle, &newest);
    }
    if (twoUnits)
        syslogx(147, "meas_man: two units ask for lists as PID 0x%X (boot bytes 0x%02X and 0x%02X): the lists of "
                     "both are served until the device leaves or restarts",
                unsigned(pid), unsigned(newest), unsigned(bootOf(handle)));
    if (twoNamed)
        syslogx(147, "meas_man: two units ask for lists as PID 0x%X (ids 0x%08X and 0x%08X): the lists of both are "
                     "served until the device leaves or restarts",
                unsigned(pid), unsigned(other), unsigned(who.unit));
    return GW_NO_ERROR;
}

// Head shared by 0x0500 and 0x0510: the length check and the stop
// operation. True when the request was answered here (*result set).
bool listRequestHead(ci_msg_t* m, uint16_t* op, int* result) {
    unsigned len = ci_get_len(m);
    if (len < 12) {
        SYSLOGX_FLOOD(gFloodReq, 147, "meas_man: list request too short (%u bytes) from PID %u", len, ci_get_src(m));
        *result = 0;
        return true;
    }
    *op = be_get16(m->payload);
    if (*op == 2) {
        stopServed(ci_get_src(m), ci_get_magic(m));
        reply(m, *op, GW_NO_ERROR, 0);
        *result = 1;
        return true;
    }
    return false;
}

// Starts serving a parsed list and answers with the source FIFO's magic. A
// request of a run of its unit that has ended (one that came late) gets
// nothing: nobody waits for it, and its list would be stopped at once.
int startAndReply(ci_msg_t* m, uint16_t op, const std::vector<MeasElem>& elems, const Requester& who) {
    bool ended = false;
    uint32_t newest = 0;
    {
        std::lock_guard<std::mutex> lk(gMx);
        ended = ofEndedRun(ci_get_src(m), who);
        if (ended) newest = gUnitBoot[ci_get_src(m)];
    }
    if (ended) {
        SYSLOGX_FLOOD(gFloodEnded, 151, "meas_man: list request of PID 0x%X from boot count %u of unit 0x%08X, "
                                        "which runs boot count %u now: not served",
                      unsigned(ci_get_src(m)), unsigned(who.boot), unsigned(who.unit), unsigned(newest));
        return 1;
    }
    unsigned err = startServed(m, be_get16(m->payload + 2), be_get16(m->payload + 4), be_get16(m->payload + 6), elems,
                               who);
    uint32_t src = 0;
    {
        std::lock_guard<std::mutex> lk(gMx);
        auto it = gServed.find(key(ci_get_src(m), ci_get_magic(m)));
        if (it != gServed.end()) src = it->second->magic;
    }
    reply(m, op, err, src);
    return 1;
}

// 0x0500: op, raster, slots, mode, word count, reserved, then the description.
int meas_man_list_by_addr_cmd(ci_msg_t* m) {
    unsigned len = ci_get_len(m);
    uint16_t op = 0;
    int result = 0;
    if (listRequestHead(m, &op, &result)) return result;
    unsigned nWords = be_get16(m->payload + 8);
    std::vector<MeasElem> elems;
    std::vector<uint32_t> words(nWords);
    if (12 + 4ull * nWords > len) {
        reply(m, op, GW_MEASLIST, 0);
        return 1;
    }
    for (unsigned i = 0; i < nWords; ++i) words[i] = be_get32(m->payload + 12 + 4 * i);
    if (!meas_parse_list(words.data(), nWords, &elems)) {
        reply(m, op, GW_MEASLIST, 0);
        return 1;
    }
    return startAndReply(m, op, elems, requesterOf(m, 12 + 4 * nWords));
}

// 0x0510: as 0x0500 but the values by name: per value a signed size byte and
// a 0-terminated name.
int meas_man_list_by_name_cmd(ci_msg_t* m) {
    unsigned len = ci_get_len(m);
    uint16_t op = 0;
    int result = 0;
    if (listRequestHead(m, &op, &result)) return result;
    unsigned n = be_get16(m->payload + 8);
    std::vector<MeasElem> elems;
    unsigned pos = 12;
    for (unsigned i = 0; i < n; ++i) {
        if (pos + 2 > len) break;
        int8_t size = int8_t(m->payload[pos++]);
        const char* name = reinterpret_cast<const char*>(m->payload + pos);
        size_t nl = strnlen(name, len - pos);
        if (pos + nl >= len || (size != -4 && size != -2 && size != -1)) break;
        measaddr_t a = catalogue_addr(name);
        if (!a) {
            reply(m, op, GW_ADDRESS, 0);
            return 1;
        }
        elems.push_back(MeasElem{a, uint8_t(-size)});
        pos += unsigned(nl) + 1;
    }
    if (elems.size() != n || n == 0) {
        reply(m, op, GW_MEASLIST, 0);
        return 1;
    }
    return startAndReply(m, op, elems, requesterOf(m, pos));
}
}  // namespace

bool meas_parse_list(const uint32_t* w, unsigned n, std::vector<MeasElem>* out) {
    out->clear();
    if (!w) return false;
    unsigned i = 0;
    while (i < n) {
        int32_t size = int32_t(w[i++]);
        if (size == 0) return !out->empty();   // end of the description
        if (size != GW_SIZE4 && size != GW_SIZE2 && size != GW_SIZE1) return false;
        for (;;) {
            if (i >= n) return false;          // group not closed
            uint32_t a = w[i++];
            if (a == 0) break;
            if (out->size() >= GW_MAX_LIST_VALUES) return false;
            out->push_back(MeasElem{a, uint8_t(-size)});
        }
    }
    return false;   // description not closed
}

std::vector<uint32_t> meas_list_words(const std::vector<MeasElem>& elems) {
    std::vector<uint32_t> w;
    unsigned size = 0;
    for (const MeasElem& e : elems) {
        if (e.size != size) {
            if (size) w.push_back(0);
            w.push_back(uint32_t(-int32_t(e.size)));
            size = e.size;
        }
        w.push_back(e.addr);
    }
    if (size) w.push_back(0);
    w.push_back(0);
    return w;
}

unsigned meas_slot_size(const std::vector<MeasElem>& elems) {
    unsigned n = 4;
    for (const MeasElem& e : elems) n += e.size;
    return n;
}

bool MeasProducer::setup(const std::vector<MeasElem>& elems, unsigned r) {
    raster = r;
    src.clear();
    handles.assign(elems.size(), SeramMeasHandle{});
    for (size_t i = 0; i < elems.size(); ++i) {
        measaddr_t a = elems[i].addr & 0x00FFFFFF;   // values of this device
        if (!seramMeasSetupMeas(a, r, &handles[i], elems[i].size)) {
            release();
            return false;
        }
        bool cal = handles[i].kind == 1 && seramVirtualAddrIsRefpage(MEASADDR_OFFSET(a));
        src.push_back(Src{handles[i].ptr, elems[i].size, cal});
    }
    return true;
}

void MeasProducer::release() {
    for (auto& h : handles) seramMeasFreeMeas(&h);
    handles.clear();
    src.clear();
}

namespace {
// The value's producer writes it as one atomic word on another raster task
// (see seramDownload): read it the same way.
uint32_t readValue(const uint8_t* p, uint8_t size) {
    const bool aligned = reinterpret_cast<uintptr_t>(p) % size == 0;
    switch (size) {
    case 4: {
        uint32_t v;
        if (aligned) v = __atomic_load_n(reinterpret_cast<const uint32_t*>(p), __ATOMIC_RELAXED);
        else std::memcpy(&v, p, 4);
        return v;
    }
    case 2: {
        uint16_t v;
        if (aligned) v = __atomic_load_n(reinterpret_cast<const uint16_t*>(p), __ATOMIC_RELAXED);
        else std::memcpy(&v, p, 2);
        return v;
    }
    default: return __atomic_load_n(p, __ATOMIC_RELAXED);
    }
}
}  // namespace

uint32_t MeasSnapshot::read(const uint8_t* p, uint8_t size) {
    auto [it, fresh] = values_.try_emplace(p, Value{size, 0});
    if (fresh) it->second.v = readValue(p, size);
    else if (it->second.size != size) return readValue(p, size);   // another width of the same bytes
    return it->second.v;
}

bool MeasProducer::copy(uint32_t timeStamp, MeasSnapshot& values) {
    uint8_t* slot = dynkomm_write(fifo);
    if (!slot) return false;
    be_put32(slot, timeStamp);
    uint8_t* d = slot + 4;
    uint32_t active = seramActiveOffset.load(std::memory_order_relaxed);
    for (const Src& s : src) {
        const uint8_t* p = s.calParam ? s.ptr + active : s.ptr;
        const uint32_t v = values.read(p, s.size);
        switch (s.size) {
        case 4: be_put32(d, v); break;
        case 2: be_put16(d, uint16_t(v)); break;
        default: *d = uint8_t(v); break;
        }
        d += s.size;
    }
    dynkomm_writedone(fifo);
    return true;
}

void meas_man_add_producer(MeasProducer* p) {
    std::lock_guard<std::mutex> lk(gMx);
    if (p && p->raster < GW_RASTERS) gProducers[p->raster].push_back(p);
}

void meas_man_remove_producer(MeasProducer* p) {
    if (!p || p->raster >= GW_RASTERS) return;
    std::lock_guard<std::mutex> lk(gMx);
    auto& chain = gProducers[p->raster];
    chain.erase(std::remove(chain.begin(), chain.end(), p), chain.end());
}

void meas_man_run_producers(unsigned raster, uint32_t timeStamp, MeasSnapshot& values) {
    if (raster >= GW_RASTERS) return;
    std::lock_guard<std::mutex> lk(gMx);
    for (MeasProducer* p : gProducers[raster])
        if (!p->paused && !p->copy(timeStamp, values)) meas_man_count_loss();
}

void meas_man_run_producers(unsigned raster, uint32_t timeStamp) {
    MeasSnapshot values;
    meas_man_run_producers(raster, timeStamp, values);
}

void meas_man_count_loss() {
    uint32_t n = ++gDataLoss;
    signalPage()->meas_man_data_loss = n;
}

int meas_man_init() {
    ci_register_command(CI_CMD_MEASLIST_ADDR, meas_man_list_by_addr_cmd);
    ci_register_command(CI_CMD_MEASLIST_NAMES, meas_man_list_by_name_cmd);
    return 1;
}

void meas_man_set_peer_runs(uint32_t (*runOf)(unsigned pid)) { gRunOf = runOf; }

uint32_t meas_man_peer_run(unsigned pid) {
    const auto runOf = gRunOf.load();
    return runOf ? runOf(pid) : 0;
}

void meas_man_set_peer_heard(bool (*heardIn)(unsigned pid, uint32_t* run)) { gHeardIn = heardIn; }

bool meas_man_peer_heard(unsigned pid, uint32_t* run) {
    const auto heardIn = gHeardIn.load();
    if (heardIn) return heardIn(pid, run);
    *run = 0;
    return true;
}

void meas_man_set_peer_sign(bool (*signOf)(unsigned pid, uint32_t* stamp)) { gSignOf = signOf; }

bool meas_man_peer_last_sign(unsigned pid, uint32_t* stamp) {
    const auto signOf = gSignOf.load();
    return signOf && stamp && signOf(pid, stamp);
}

void meas_man_stop_ended_runs(const MeasPeerRun peers[MEAS_PEERS], unsigned stopped[MEAS_PEERS]) {
    std::vector<std::unique_ptr<Served>> ended;
    {
        std::lock_guard<std::mutex> lk(gMx);
        ++gSeconds;
        for (unsigned pid = 0; pid < MEAS_PEERS; ++pid)
            if (peers[pid].gone) forgetBoots(pid);
        for (auto it = gServed.begin(); it != gServed.end();) {
            const Served& s = *it->second;
            const unsigned pid = s.pid;
            const bool over = pid < MEAS_PEERS && (peers[pid].gone || s.run != peers[pid].run ||
                                                   (gBootKnown[pid] && !gTwoUnits[pid] &&
                                                    bootOf(s.handle) != gNewestBoot[pid]));
            if (!over) {
                ++it;
                continue;
            }
            ++stopped[pid];
            ended.push_back(takeServedLocked(it++));
        }
    }
    for (auto& s : ended) endServed(std::move(s));
}

void meas_man_shutdown() {
    std::vector<std::pair<uint16_t, uint32_t>> all;
    {
        std::lock_guard<std::mutex> lk(gMx);
        for (auto& [k, s] : gServed) all.emplace_back(s->pid, s->handle);
    }
    for (auto& [pid, h] : all) stopServed(pid, h);
    {
        std::lock_guard<std::mutex> lk(gMx);
        for (unsigned pid = 0; pid < MEAS_PEERS; ++pid) forgetBoots(pid);
    }
    gDataLoss = 0;
}

uint32_t meas_man_get_data_loss_cnt() { return gDataLoss; }
uint8_t meas_man_copy_offline_data_enabled() { return 1; }
void meas_man_CanIO_initialized() { gCanIoInit = 1; }
int meas_man_CanIO_is_initialized() { return gCanIoInit; }
