// Measurement gateway: connections, lists, start and stop, delivery on the
// raster tasks, no-data time-outs and per-PID counters.
//
// Callbacks are never called with the gateway's lock held: a consumer may
// hold its own lock while it calls into the gateway, and its callbacks may
// take that lock. A list killed while its delivery runs on another task is
// waited for, so no callback runs after the stop callback.
#include "measurement/gateway.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "host/kernel/kernel.h"
#include "platform/byteorder.h"
#include "measurement/catalogue.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "measurement/meas_master.h"
#include "measurement/measman.h"
#include "platform/syslogx.h"

namespace {
constexpr unsigned kPids = 64;
constexpr unsigned kMaxRequestWords = (CI_MAX_PAYLOAD - 12) / 4;
const unsigned kRasterMs[GW_RASTERS] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000,
                                        1, 0, 6000, 10, 1, 1, 1, 1, 1, 0};

enum ListState { CONFIGURED, REQUESTED, RUNNING, FAILED };

// Counter indices of gw_debugoutPID.
enum {
    C_PID_STATE, C_PID_STATE_REQ, C_PID_STATE_RUN, C_MEASLISTS, C_DATA_ONLINE, C_DATA_OFFLINE, C_NODATA,
    C_CONFIGURED, C_INITIALISED, C_ENTRIES, C_START_CB_ERR, C_SETUP, C_MEASURING, C_MEASURING_NOPID,
    C_DESTROYED, C_DESTROYED_AT_ONCE, C_OFFLINE_ENTRIES, C_OFFLINE_DATA_ERR, C_LIST_ERR, C_COUNT
};
}  // namespace

struct gw_connection {
    callback_list cb;
    std::vector<uint32_t> lists;
};

namespace {
struct GwList {
    uint32_t handle = 0;
    gw_connection* conn = nullptr;
    callback_list cb{};
    void* user = nullptr;
    uint16_t raster = 0, pid = 0, a1 = 0, mode = 0, buffered = 0, slots = 0, timeout = 0;
    bool local = true;
    bool byName = false;                     // requested with 0x510
    std::vector<MeasElem> elems;
    std::vector<uint32_t> desc;
    unsigned slotSize = 0;

    ListState state = CONFIGURED;            // under gMx
    std::atomic<bool> startReplyDue{false};
    std::atomic<unsigned> startErr{0};
    std::atomic<bool> killed{false};
    std::atomic<bool> paused{false};
    MeasProducer prod;                       // local lists
    // A local list measures from its start (or the end of a pause) on: a
    // run of its raster due before then, done late on a busy host, has no
    // values of it, nor counts as a tick without data. Cleared by the first
    // copy.
    std::atomic<bool> sinceSet{false};
    uint32_t since = 0;                      // stamp (0.1 ms) of the start (gMx)
    dynkomm_fifo_t* fifo = nullptr;          // the consumer's FIFO
    bool fifoMagic = false;                  // handle's table entry holds the FIFO
    bool masterFed = false;                  // a CCP/XCP master writes the FIFO per DAQ

    // Delivery state, touched only by the delivering raster task.
    unsigned noData = 0;
    bool inTimeout = false;
    unsigned requestTicks = 0;
    unsigned retryTicks = 0;                 // since the last look at a remote list's device
    bool peerUp = true;                      // its device was there at that look
    uint16_t pidWord = 0;                    // what the time-out callback points at

    int busy = 0;                            // deliveries in progress (under gMx)
    std::thread::id deliverer;

    ~GwList() {
        if (masterFed) meas_man_destroy_master_list(handle);   // before its FIFO goes
        if (fifo) {
            if (local) dynkomm_fifo_delete(fifo);
            else dynkomm_fifo_free(fifo);   // the network side releases a sink
        }
        prod.release();
        if (handle) dynkomm_free_magic(handle);
    }
};
using ListPtr = std::shared_ptr<GwList>;

// A run due this far before a list's start is no late run of its raster,
// whatever the clock says: its stamp is of another time, and its values are
// taken (the FIFOs behind deal with it).
constexpr int32_t kLateRunLimit = 100000;   // 10 s in 0.1 ms
// A base tick's stamp is its deadline: the run it gives right after a start
// may be due a tick before the start's stamp.
constexpr int32_t kTickSlack = 10;          // 1 ms

// From now on the local list measures: the late runs of its raster that are
// due before now copy nothing into it. gMx held.
void measuresFromNow(GwList& L) {
    L.since = host::timeStamp();
    L.sinceSet = true;
}

// Whether the run due at timeStamp copies into the list: not one due before
// the list's start and done late, now that its start has passed. A run due
// before the start but not late (the clock went back since the start), or
// due too far before it, is taken: the FIFOs behind deal with a clock gone
// back. The first run that copies ends the look. gMx held.
bool measuresAt(GwList& L, uint32_t timeStamp, uint32_t now) {
    if (!L.sinceSet) return true;
    const int32_t early = int32_t(L.since - timeStamp);   // wrap-safe
    const int32_t late = int32_t(now - timeStamp);
    if (early > kTickSlack && early <= kLateRunLimit && late >= early) return false;
    L.sinceSet = false;
    return true;
}

std::mutex gMx;
std::condition_variable gIdle;
std::unordered_set<gw_connection*> gConns;
std::unordered_map<uint32_t, ListPtr> gLists;
std::vector<ListPtr> gChain[GW_RASTERS];
std::atomic<uint16_t> gCnt[kPids][C_COUNT];
// Per PID: the stamp of the last value of its lists delivered, +1 (0: none).
std::atomic<uint64_t> gLastStamp[kPids];
std::atomic<uint64_t> gLastArrival[kPids];   // own count + 1 of the newest delivery, 0 none
uint16_t gOwnPid = 1;
std::atomic<uint32_t> gOwnUnit{0}, gOwnBoot{0};   // 0: no unit id sent
std::atomic<const gw_network*> gNet{nullptr};
uint8_t gFloodSetup = 0, gFloodReply = 0;

uint16_t cntPid(unsigned pid) { return uint16_t(pid < kPids ? pid : 0); }
void count(unsigned pid, int idx, int d = 1) { gCnt[cntPid(pid)][idx] += uint16_t(d); }

bool isLocalPid(unsigned pid) { return pid == 0 || pid == gOwnPid; }

// The callback's result; 1 when there is none to call.
int call(const GwList& L, unsigned idx, unsigned long status, void* data) {
    gw_callback_fn fn = L.cb.entry[idx].fn;
    return fn ? fn(status, data, L.user) : 1;
}

// Queue (offline) lists versus newest-value (online) lists.
bool offline(const GwList& L) { return L.mode & DYNKOMM_MODE_QUEUE; }

// Name of a value of this device's catalogue at the address with the size,
// "name[i]" for an array element; false when none.
bool nameOf(measaddr_t a, unsigned size, std::string* out) {
    const uint32_t off = MEASADDR_OFFSET(a);
    for (int i = 0, n = catalogue_count(); i < n; ++i) {
        const CatEntry* e = catalogue_at(i);
        const unsigned es = e ? typeSize(e->type) : 0;
        const uint32_t base = e ? MEASADDR_OFFSET(e->addr) : 0;
        if (es != size || off < base || off >= base + es * e->count || (off - base) % es) continue;
        *out = e->name;
        if (e->count > 1) *out += "[" + std::to_string((off - base) / es) + "]";
        return true;
    }
    return false;
}

// Payload of a by-name request (0x510): per value a signed size byte and the
// 0-terminated name, behind the 12-byte head. False when a value has no name
// or the names do not fit one message.
bool nameRequest(const GwList& L, ci_msg_t* m, unsigned* len) {
    unsigned pos = 12;
    std::string name;
    for (const MeasElem& e : L.elems) {
        if (!nameOf(e.addr, e.size, &name) || pos + 2 + name.size() > CI_MAX_PAYLOAD) return false;
        m->payload[pos++] = uint8_t(-int(e.size));
        std::memcpy(m->payload + pos, name.c_str(), name.size() + 1);
        pos += unsigned(name.size()) + 1;
    }
    *len = pos;
    return true;
}

// Every device names its values alike: a peer that takes lists by names gets
// them so (one value needs capability 1, more also capability 2), else by
// addresses.
bool wantNames(const GwList& L) {
    const gw_network* net = gNet;
    if (!net || !net->capability || L.elems.empty()) return false;
    if (net->capability(L.pid, 1) != 0) return false;
    return L.elems.size() == 1 || net->capability(L.pid, 2) == 0;
}

// Sends the start (op 1) or stop (op 2) request of a remote list, by names
// or by addresses as decided when it was started.
bool sendRequest(const GwList& L, uint16_t op) {
    ci_msg_t m;
    unsigned len = 0;
    if (L.byName) {
        if (!nameRequest(L, &m, &len)) return false;
    } else {
        if (L.desc.size() > kMaxRequestWords) return false;
        len = unsigned(12 + 4 * L.desc.size());
        for (size_t i = 0; i < L.desc.size(); ++i) be_put32(m.payload + 12 + 4 * i, L.desc[i]);
    }
    ci_init_msg(&m, L.byName ? CI_CMD_MEASLIST_NAMES : CI_CMD_MEASLIST_ADDR, L.pid, uint16_t(len));   // header only
    ci_set_magic(&m, L.handle);
    ci_set_listid(&m, L.handle);
    be_put16(m.payload + 0, op);
    be_put16(m.payload + 2, L.raster);
    be_put16(m.payload + 4, L.slots);
    be_put16(m.payload + 6, L.mode);
    be_put16(m.payload + 8, uint16_t(L.byName ? L.elems.size() : L.desc.size()));
    be_put16(m.payload + MEAS_REQ_UNIT_WORD, 0);
    // who asks, when the message has room for it
    if (const uint32_t unit = gOwnUnit; unit && len + MEAS_REQ_UNIT_SIZE <= CI_MAX_PAYLOAD) {
        be_put32(m.payload + len, unit);
        be_put32(m.payload + len + 4, gOwnBoot);
        be_put16(m.payload + MEAS_REQ_UNIT_WORD, MEAS_REQ_UNIT_SIZE);
        ci_set_len(&m, uint16_t(len + MEAS_REQ_UNIT_SIZE));
    }
    return comint_put_cmd(&m, 0) != 0;
}

// Creates the consumer FIFO under the list's magic number.
bool makeFifo(GwList& L) {
    dynkomm_fifo_prepare(L.handle);
    uint16_t slots = L.slots ? L.slots : (L.local ? 4 : uint16_t(dynkomm_getslotnum_SerNet(L.raster)));
    L.fifo = dynkomm_fifo_create(L.handle, L.local ? gOwnPid : L.pid, L.handle, gOwnPid, L.raster, slots,
                                 uint16_t(L.slotSize), uint16_t(L.mode & DYNKOMM_MODE_QUEUE));
    return L.fifo != nullptr;
}

// Settles a start with error code err (GW_NO_ERROR: the list runs); gMx
// held. The consumer gets the start reply on the raster task (gw_distribute).
// 1 when the list runs.
int settleStart(GwList& L, unsigned err) {
    L.state = err ? FAILED : RUNNING;
    L.startErr = err;
    L.startReplyDue = true;
    return err == GW_NO_ERROR;
}

// Starts one list; called with gMx held.
int startLocked(GwList& L) {
    if (L.state == RUNNING || L.state == REQUESTED) return 0;
    L.noData = 0;
    L.inTimeout = false;
    if (L.local) {
        unsigned err = GW_NO_ERROR;
        if (!L.fifo && !makeFifo(L)) {
            err = GW_MEAS_FIFO;
        } else if (!L.masterFed && meas_man_create(L.handle, L.fifo, L.desc.data(), unsigned(L.desc.size()))) {
            L.masterFed = true;   // the master writes each slot when its DAQ arrives
            meas_man_master_list_run(L.handle, !L.paused);
        } else if (!L.masterFed && L.prod.src.empty() && !L.prod.setup(L.elems, L.raster)) {
            err = GW_ADDRESS;
        }
        if (err) {
            count(L.pid, C_LIST_ERR);
        } else {
            L.prod.fifo = L.fifo;
            L.prod.paused = L.paused;
            if (!L.masterFed) measuresFromNow(L);
            count(L.pid, C_MEASURING);
        }
        return settleStart(L, err);
    }
    if (!L.fifo) {
        if (!makeFifo(L)) return settleStart(L, GW_MEAS_FIFO);
        dynkomm_fifo_reserve(L.handle, L.pid);
        dynkomm_fifo_activate(L.fifo);
    }
    count(L.pid, C_PID_STATE_REQ);
    const gw_network* net = gNet;
    if (net && net->connected && !net->connected(L.pid)) {
        gCnt[cntPid(L.pid)][C_PID_STATE] = 2;   // both channels must be up
        return settleStart(L, GW_OFFLINE);
    }
    ci_msg_t probe;
    unsigned probeLen;
    L.byName = wantNames(L) && nameRequest(L, &probe, &probeLen);
    if (!L.byName && L.desc.size() > kMaxRequestWords) return settleStart(L, GW_MEASLIST);
    if (!sendRequest(L, 1)) {
        gCnt[cntPid(L.pid)][C_PID_STATE] = 2;   // not reachable: offline
        return settleStart(L, GW_OFFLINE);
    }
    L.requestTicks = 0;
    L.state = REQUESTED;
    return 1;
}

bool offlineError(unsigned err) { return err == GW_OFFLINE || err == GW_TIMEOUT || err == GW_OFFLINE2; }

// Its device may hold the remote list: it was asked for it (a late answer
// included) and has not refused it, and it can be reached now. Only then does
// a stop request make sense; one to a device that is not there would only
// report a routing error. gMx held.
bool mayHold(const GwList& L) {
    if (L.local) return false;
    const bool asked = L.state == REQUESTED || L.state == RUNNING || (L.state == FAILED && L.startErr == GW_TIMEOUT);
    if (!asked) return false;
    const gw_network* net = gNet;
    return !net || !net->connected || net->connected(L.pid);
}

// Another device's list whose device was not there (devices of a car boot at
// different times), has come back (a restart forgets the lists it served) or
// sends nothing is asked for again, once a second at most; a list the device
// refused is not. A running list stays running while it is asked for again.
// gMx held; on the delivering raster task.
void retryLocked(GwList& L, unsigned periodMs) {
    const bool failed = L.state == FAILED && offlineError(L.startErr);
    if (L.local || L.killed || (!failed && L.state != RUNNING)) {
        L.retryTicks = 0;
        return;
    }
    if (++L.retryTicks * periodMs < GW_RETRY_MS) return;
    L.retryTicks = 0;
    const gw_network* net = gNet;
    const bool up = !net || !net->connected || net->connected(L.pid);
    const bool cameBack = up && !L.peerUp;
    L.peerUp = up;
    if (!up) return;   // nothing can be sent to it yet
    if (!failed && !cameBack && !L.inTimeout) return;   // running and delivering
    if (!failed) {
        // A running list is asked for again, and runs on meanwhile: what its
        // device sends before it answers (it was only put aside for a while)
        // is delivered, rather than left to fill the list's FIFO and be
        // dropped; the answer changes nothing here.
        count(L.pid, C_PID_STATE_REQ);
        sendRequest(L, 1);
        return;
    }
    const unsigned before = L.startErr;
    L.state = CONFIGURED;
    startLocked(L);
    // failing again the same way is nothing new for the consumer
    if (failed && L.state == FAILED && L.startErr == before) L.startReplyDue = false;
}

// 0x0501: the owner's reply to a list request; handle at 8, error and op in
// the payload.
int gw_list_reply_cmd(ci_msg_t* m) {
    if (ci_get_len(m) < 4) {
        SYSLOGX_FLOOD(gFloodReply, 147, "gw_list_reply_cmd(): reply too short from PID %u", ci_get_src(m));
        return 0;
    }
    unsigned err = be_get16(m->payload);
    unsigned op = be_get16(m->payload + 2);
    std::lock_guard<std::mutex> lk(gMx);
    auto it = gLists.find(ci_get_magic(m));
    if (it == gLists.end() || op != 1) return 1;   // stop replies and late replies need nothing
    GwList& L = *it->second;
    // a list that runs on while it is asked for again ends only when its
    // device refuses it now
    if (L.state != REQUESTED && !(L.state == RUNNING && err)) return 1;
    settleStart(L, err);
    gCnt[cntPid(L.pid)][C_PID_STATE] = 1;
    if (err) {
        count(L.pid, C_LIST_ERR);
    } else {
        count(L.pid, C_MEASURING);
        count(L.pid, C_PID_STATE_RUN);
    }
    return 1;
}

// Removes a list from every table; gMx held. The list object lives on while a
// delivery holds it.
ListPtr unlinkLocked(uint32_t handle) {
    auto it = gLists.find(handle);
    if (it == gLists.end()) return nullptr;
    ListPtr L = it->second;
    gLists.erase(it);
    auto& chain = gChain[L->raster];
    chain.erase(std::remove(chain.begin(), chain.end(), L), chain.end());
    auto& v = L->conn->lists;
    v.erase(std::remove(v.begin(), v.end(), handle), v.end());
    L->killed = true;
    return L;
}
}  // namespace

int gw_init(uint16_t ownPid) {
    {
        std::lock_guard<std::mutex> lk(gMx);
        gOwnPid = ownPid;
        for (auto& p : gCnt)
            for (auto& c : p) c = 0;
    }
    ci_register_command(CI_CMD_MEASLIST_REPLY, gw_list_reply_cmd);
    return 1;
}

void gw_set_own_unit(uint32_t unitId, uint32_t bootCount) {
    gOwnUnit = unitId;
    gOwnBoot = bootCount;
}

void gw_shutdown() {
    std::vector<gw_connection*> conns;
    {
        std::lock_guard<std::mutex> lk(gMx);
        conns.assign(gConns.begin(), gConns.end());
    }
    for (auto* c : conns) gw_disconnect(c);
}

gw_conn_t gw_connect(const callback_list* table) {
    if (!table) {
        syslogx(147, "gw_connect() callback_list NULL");
        return nullptr;
    }
    auto* c = new (std::nothrow) gw_connection{*table, {}};
    if (!c) return nullptr;
    std::lock_guard<std::mutex> lk(gMx);
    gConns.insert(c);
    return c;
}

int gw_disconnect(gw_conn_t conn) {
    if (!conn) return 0;
    gw_kill_all_lists(conn);
    std::lock_guard<std::mutex> lk(gMx);
    if (gConns.erase(conn)) delete conn;
    return 0;
}

unsigned gw_list_slot_size(const uint32_t* list, uint16_t lenBytes) {
    std::vector<MeasElem> e;
    if (!list || lenBytes % 4 || !meas_parse_list(list, lenBytes / 4u, &e)) return 0;
    return meas_slot_size(e);
}

uint32_t gw_setup_list(gw_conn_t conn, const uint32_t* list, void* user, uint16_t lenBytes, uint16_t raster,
                       uint16_t pid, uint16_t a1, uint16_t mode, uint16_t buffered, uint16_t slots,
                       uint16_t slotLen, uint16_t timeout) {
    auto L = std::make_shared<GwList>();
    if (!list || lenBytes < 8 || lenBytes % 4 || !meas_parse_list(list, lenBytes / 4u, &L->elems)) {
        SYSLOGX_FLOOD(gFloodSetup, 147, "gw_setup_list(): invalid list description (%u bytes)", lenBytes);
        count(pid, C_LIST_ERR);
        return 0;
    }
    if (raster >= GW_RASTERS || pid >= kPids) {
        SYSLOGX_FLOOD(gFloodSetup, 147, "gw_setup_list(): raster %u or PID %u not valid", raster, pid);
        count(pid, C_LIST_ERR);
        return 0;
    }
    const unsigned need = meas_slot_size(L->elems);
    if (slotLen && slotLen < need) {
        SYSLOGX_FLOOD(gFloodSetup, 147, "gw_setup_list(): slot length %u below %u", slotLen, need);
        count(pid, C_LIST_ERR);
        return 0;
    }
    L->desc.assign(list, list + lenBytes / 4u);
    L->user = user;
    L->raster = raster;
    L->pid = pid;
    L->pidWord = pid;
    L->a1 = a1;
    L->mode = mode;
    L->buffered = buffered;
    L->slots = slots;
    L->timeout = timeout;
    // The consumer may read the whole slot length it asked for (records
    // rounded up, event bytes behind the values): never give it less.
    L->slotSize = std::max<unsigned>(need, slotLen);
    L->local = isLocalPid(pid);
    L->handle = dynkomm_get_magic();
    if (!L->handle) return 0;
    std::lock_guard<std::mutex> lk(gMx);
    if (!gConns.count(conn)) {
        SYSLOGX_FLOOD(gFloodSetup, 147, "gw_setup_list(): unknown connection");
        return 0;   // the list's destructor frees the magic
    }
    L->conn = conn;
    L->cb = conn->cb;
    conn->lists.push_back(L->handle);
    gLists[L->handle] = L;
    gChain[raster].push_back(L);
    count(pid, C_CONFIGURED);
    count(pid, C_SETUP);
    count(pid, C_ENTRIES, int(L->elems.size()));
    if (offline(*L)) count(pid, C_OFFLINE_ENTRIES, int(L->elems.size()));
    count(pid, C_MEASLISTS);
    return L->handle;
}

int gw_start_list(uint32_t list) {
    std::lock_guard<std::mutex> lk(gMx);
    auto it = gLists.find(list);
    if (it == gLists.end()) return 0;
    count(it->second->pid, C_INITIALISED);
    return startLocked(*it->second);
}

int gw_start_all(gw_conn_t conn) {
    if (!conn) return 0;
    std::lock_guard<std::mutex> lk(gMx);
    if (!gConns.count(conn)) return 0;
    int ok = 1;
    for (uint32_t h : conn->lists) {
        auto it = gLists.find(h);
        if (it != gLists.end() && it->second->state != RUNNING && it->second->state != REQUESTED)
            ok &= startLocked(*it->second);
    }
    return ok;
}

int gw_kill_list(uint32_t list) {
    ListPtr L;
    {
        std::unique_lock<std::mutex> lk(gMx);
        L = unlinkLocked(list);
        if (!L) return 0;
        // Wait for a delivery on another task; from inside an own callback the
        // delivery loop sees the kill and stops calling.
        gIdle.wait(lk, [&] { return L->busy == 0 || L->deliverer == std::this_thread::get_id(); });
        if (mayHold(*L)) sendRequest(*L, 2);
        count(L->pid, C_DESTROYED);
        if (L->state == RUNNING) count(L->pid, C_MEASURING, -1);
    }
    call(*L, GW_CB_STOP, 0, nullptr);
    return 1;
}

int gw_kill_all_lists(gw_conn_t conn) {
    if (!conn) return 0;
    std::vector<uint32_t> lists;
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (!gConns.count(conn)) return 0;
        lists = conn->lists;
    }
    for (uint32_t h : lists) gw_kill_list(h);
    return 1;
}

int gw_list_speed(gw_conn_t conn, uint32_t list, unsigned speed) {
    std::lock_guard<std::mutex> lk(gMx);
    if (!conn || !gConns.count(conn)) return 0;
    auto it = gLists.find(list);
    if (it == gLists.end() || it->second->conn != conn) return 0;
    GwList& L = *it->second;
    // Paused: a local list's values are not copied and no list times out.
    if (L.paused && speed != 0 && L.local && !L.masterFed) measuresFromNow(L);
    L.paused = speed == 0;
    if (L.masterFed) meas_man_master_list_run(L.handle, !L.paused);
    return 1;
}

void gw_set_network(const gw_network* net) { gNet = net; }

int gw_pid_offline(unsigned pid) {
    if (pid >= kPids) return 1;
    return gCnt[pid][C_PID_STATE] == 2 ? 1 : 0;
}

namespace {

// A stamp this far behind a device's newest is of a new time (its master
// ran anew behind), not a slower list's value delivered late.
constexpr int32_t kNewTimeBehind = 50000;   // 5 s

// The device's newest value stamp: the lists of its rasters deliver one
// after the other, a slower one's older values after a faster one's newer.
void noteLastStamp(unsigned pid, uint32_t ts) {
    gLastArrival[pid].store(uint64_t(host::ownTimeStamp()) + 1, std::memory_order_relaxed);
    uint64_t v = gLastStamp[pid].load();
    for (;;) {   // the rasters' tasks deliver side by side
        const int32_t ahead = int32_t(ts - uint32_t(v - 1));
        if (v && ahead <= 0 && ahead >= -kNewTimeBehind) return;
        if (gLastStamp[pid].compare_exchange_weak(v, uint64_t(ts) + 1)) return;
    }
}

}  // namespace

bool gw_pid_last_stamp(unsigned pid, uint32_t* stamp) {
    if (pid >= kPids || !stamp) return false;
    const uint64_t v = gLastStamp[pid].load();
    if (!v) return false;
    *stamp = uint32_t(v - 1);
    return true;
}

bool gw_pid_last_arrival(unsigned pid, uint32_t* own) {
    if (pid >= kPids || !own) return false;
    const uint64_t v = gLastArrival[pid].load(std::memory_order_relaxed);
    if (!v) return false;
    *own = uint32_t(v - 1);
    return true;
}

int gw_debugoutPID(unsigned pid, uint16_t out[19]) {
    if (pid >= kPids || !out) return 0;
    for (int i = 0; i < C_COUNT; ++i) out[i] = gCnt[pid][i];
    return 1;
}

void meas_man_copy_raster(unsigned raster, uint32_t timeStamp) {
    if (raster >= GW_RASTERS) return;
    MeasSnapshot values;   // one tick, one value: own lists and served lists alike
    {
        std::lock_guard<std::mutex> lk(gMx);
        const uint32_t now = host::timeStamp();
        for (auto& L : gChain[raster])
            if (L->local && !L->masterFed && L->state == RUNNING && !L->paused && measuresAt(*L, timeStamp, now) &&
                !L->prod.copy(timeStamp, values))
                meas_man_count_loss();
    }
    meas_man_run_producers(raster, timeStamp, values);
}

void gw_distribute(unsigned raster) {
    if (raster >= GW_RASTERS) return;
    std::vector<ListPtr> lists;
    {
        std::lock_guard<std::mutex> lk(gMx);
        lists = gChain[raster];
        for (auto& L : lists) {
            ++L->busy;
            L->deliverer = std::this_thread::get_id();
        }
    }
    unsigned periodMs = kRasterMs[raster] ? kRasterMs[raster] : 1;
    for (auto& Lp : lists) {
        GwList& L = *Lp;
        if (L.killed) continue;
        if (L.startReplyDue.exchange(false)) {
            unsigned err = L.startErr;
            if (err) count(L.pid, C_START_CB_ERR);
            call(L, GW_CB_START, err, reinterpret_cast<void*>(uintptr_t(L.cb.entry[GW_CB_START].word)));
        }
        if (L.killed) continue;
        ListState st;
        {
            std::lock_guard<std::mutex> lk(gMx);
            retryLocked(L, periodMs);
            st = L.state;
            if (st == REQUESTED && ++L.requestTicks * periodMs >= GW_START_TIMEOUT_MS) {
                gCnt[cntPid(L.pid)][C_PID_STATE] = 2;
                settleStart(L, GW_TIMEOUT);
            }
        }
        if (st != RUNNING) continue;
        bool got = false;
        while (!L.killed) {
            uint8_t* slot = dynkomm_read(L.fifo);
            if (!slot) break;
            got = true;
            if (!L.local && L.pid < kPids) noteLastStamp(L.pid, be_get32(slot));
            int r = call(L, GW_CB_READ, 0, slot);
            dynkomm_readdone(L.fifo);
            count(L.pid, offline(L) ? C_DATA_OFFLINE : C_DATA_ONLINE);
            if (r == 0 && offline(L)) count(L.pid, C_OFFLINE_DATA_ERR);
        }
        if (L.killed) continue;
        if (got) {
            L.noData = 0;
            if (L.inTimeout) {
                L.inTimeout = false;
                call(L, GW_CB_TIMEOUT, 0, &L.pidWord);
            }
        } else if (!L.paused && !L.sinceSet && L.timeout && ++L.noData >= L.timeout) {
            L.noData = L.timeout;
            count(L.pid, C_NODATA);
            if (!L.inTimeout) {
                L.inTimeout = true;
                call(L, GW_CB_TIMEOUT, GW_NO_DATA, &L.pidWord);
            }
            if (!L.killed) call(L, GW_CB_READ, GW_NO_DATA, nullptr);
        }
    }
    {
        std::lock_guard<std::mutex> lk(gMx);
        for (auto& L : lists) --L->busy;
    }
    gIdle.notify_all();
}
