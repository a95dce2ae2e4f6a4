// Command interface: queue, task "r_Comint", dispatch table, sending by route.
#include "measurement/comint.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "host/os/os.h"
#include "measurement/dynkomm.h"
#include "measurement/routing.h"
#include "platform/syslogx.h"
#include "platform/task_stop.h"

namespace {
constexpr int kQueueDepth = 256;

std::atomic<ci_handler_fn> gHandlers[65536];
std::atomic<uint16_t> gOwnPid{1};
MSG_Q_ID gQueue = nullptr;
// Senders on other tasks (the device network's listeners, the time master)
// may still queue while the interface shuts down: they hold this shared,
// the queue is created and deleted under it exclusively. Sends never wait.
std::shared_mutex gQueueMx;
TASK_ID gTask = nullptr;
const comint_transport* gTransport = nullptr;
// Reporting sites that several tasks reach: their flood counters are atomic.
std::atomic<uint8_t> gFloodQueue{0}, gFloodRoute{0}, gFloodUnknown{0};

struct Completion {
    ci_completion_fn fn;
    void* ctx;
};
std::mutex gComplMx;
std::unordered_map<uint32_t, Completion> gCompletions;

int routeError(uint16_t dst);

// The queue is its own from the start: one given up at shutdown finds it
// still there when its call returns, and ends at its next wait.
void comintTask(MSG_Q_ID queue) {
    static ci_msg_t msg;   // only this task uses it
    for (;;) {
        long n = msgQReceive(queue, &msg, sizeof msg, WAIT_FOREVER);
        if (n < long(CI_HEADER_SIZE)) continue;
        uint16_t dst = ci_get_dst(&msg);
        if (dst == comint_own_pid()) {
            ci_serve_command(&msg);
        } else if (dst == CI_PID_ALL) {
            // Queued for every device (mode 1): the other devices get it over
            // the network first, then this one serves it as its own.
            if (comint_put_eth(&msg)) {
                ci_set_dst(&msg, comint_own_pid());
                ci_serve_command(&msg);
            } else {
                routeError(dst);
            }
        } else {
            comint_put_cmd(&msg, 0);   // forward by the routing table
        }
    }
}

int routeError(uint16_t dst) {
    SYSLOGX_FLOOD(gFloodRoute, 147, "comint_put_cmd(): routing error %d for PID %u", CI_ROUTING_ERROR, dst);
    return 0;
}

// Bounce: the answer goes back to the sender with the handles swapped.
int routing_bounce_cmd(ci_msg_t* m) {
    uint16_t src = ci_get_src(m);
    uint32_t w8 = ci_get_magic(m), w12 = ci_get_listid(m);
    ci_set_src(m, comint_own_pid());
    ci_set_dst(m, src);
    ci_set_magic(m, w12);
    ci_set_listid(m, w8);
    ci_set_cmd(m, CI_CMD_BOUNCE_RETURN);
    return comint_put_cmd(m, 0) ? 1 : 0;
}

// Answers (bounce return, return function): the requester's handle at 12
// calls its routine once; an unknown or released handle is dropped.
int routing_return_cmd(ci_msg_t* m) {
    ci_completion_call(ci_get_listid(m), m);
    return 1;
}
}  // namespace

void ci_init_msg(ci_msg_t* m, uint16_t cmd, uint16_t dst, uint16_t payloadLen) {
    std::memset(m->hdr, 0, sizeof m->hdr);
    ci_set_len(m, payloadLen);
    ci_set_src(m, comint_own_pid());
    ci_set_dst(m, dst);
    ci_set_cmd(m, cmd);
}

void comint_set_own_pid(uint16_t pid) { gOwnPid = pid; }
uint16_t comint_own_pid() { return gOwnPid; }

int comint_init() {
    ci_register_command(CI_CMD_BOUNCE, routing_bounce_cmd);
    ci_register_command(CI_CMD_BOUNCE_RETURN, routing_return_cmd);
    ci_register_command(CI_CMD_RETURN_FUNC, routing_return_cmd);
    if (gTask) return 1;
    {
        std::unique_lock<std::shared_mutex> lk(gQueueMx);
        gQueue = msgQCreate(kQueueDepth, sizeof(ci_msg_t), MSG_Q_FIFO);
    }
    if (!gQueue) {
        syslogx(147, "comint_init(): cannot create the command queue");
        return 0;
    }
    gTask = taskSpawn("r_Comint", 73, VX_FP_TASK, 16384, [q = gQueue] { comintTask(q); });
    if (!gTask) {
        syslogx(147, "comint_init(): cannot start r_Comint");
        std::unique_lock<std::shared_mutex> lk(gQueueMx);
        msgQDelete(gQueue);
        gQueue = nullptr;
        return 0;
    }
    return 1;
}

void comint_shutdown() {
    const bool ended = task_stop(gTask, "comint_shutdown()", "its command queue");
    gTask = nullptr;
    {
        std::unique_lock<std::shared_mutex> lk(gQueueMx);
        // a task given up in a system call may use it when its call returns
        if (gQueue && ended) msgQDelete(gQueue);
        gQueue = nullptr;
    }
    std::lock_guard<std::mutex> lk(gComplMx);
    gCompletions.clear();
}

int comint_queue_cmd(const void* msg) {
    if (!msg) return 0;
    auto* m = static_cast<const ci_msg_t*>(msg);
    uint16_t len = ci_get_len(m);
    if (len > CI_MAX_PAYLOAD) {
        SYSLOGX_FLOOD(gFloodQueue, 147, "comint_queue_cmd(): payload too long %u, cmd 0x%04x", len, ci_get_cmd(m));
        return 0;
    }
    bool queued;
    {
        std::shared_lock<std::shared_mutex> lk(gQueueMx);
        queued = gQueue && msgQSend(gQueue, m, CI_HEADER_SIZE + len, NO_WAIT, MSG_PRI_NORMAL) == OK;
    }
    if (!queued) {
        SYSLOGX_FLOOD(gFloodQueue, 147, "comint_queue_cmd(): cannot queue cmd 0x%04x", ci_get_cmd(m));
        return 0;
    }
    return 1;
}

int comint_put_cmd(void* msg, int mode) {
    if (!msg) return 0;
    auto* m = static_cast<ci_msg_t*>(msg);
    if (ci_get_len(m) > CI_MAX_PAYLOAD) return comint_queue_cmd(m);   // refused and logged there
    uint16_t dst = ci_get_dst(m);
    uint16_t own = comint_own_pid();
    if (mode == 1 || dst == own) return comint_queue_cmd(m);
    if (dst == CI_PID_ALL) {
        if (!comint_put_eth(m)) return routeError(dst);
        static std::mutex copyMx;   // the local copy needs its own header
        static ci_msg_t copy;
        std::lock_guard<std::mutex> lk(copyMx);
        std::memcpy(&copy, m, CI_HEADER_SIZE + ci_get_len(m));
        ci_set_dst(&copy, own);
        return comint_queue_cmd(&copy);
    }
    routing_entry_t r = routing_get_next(dst);
    int ok = 0;
    if (r.kind == ROUTING_DIRADIR2)
        ok = comint_put_eth(m);
    else if (r.kind == ROUTING_LOCSOCK)
        ok = comint_put_locSock(m);
    // Any other kind fails, "this device" included: the own PID was served
    // above, and queueing a foreign PID here would send it round the command
    // task for ever.
    return ok ? ok : routeError(dst);
}

int ci_register_command(uint16_t code, ci_handler_fn fn) {
    gHandlers[code] = fn;
    return 1;
}

int ci_serve_command(ci_msg_t* msg) {
    if (!msg) return 0;
    uint16_t cmd = ci_get_cmd(msg);
    ci_handler_fn fn = gHandlers[cmd];
    if (!fn) {
        SYSLOGX_FLOOD(gFloodUnknown, 148, "ci_serve_command(): unknown command 0x%04x from PID %u", cmd,
                      ci_get_src(msg));
        return 0;
    }
    return fn(msg);
}

void comint_set_transport(const comint_transport* t) { gTransport = t; }

int comint_put_eth(const ci_msg_t* msg) {
    if (gTransport && gTransport->put_eth) return gTransport->put_eth(msg);
    // Without the device network there are no other devices: a message to all
    // of them has reached all of them, one to a given device cannot be sent.
    return ci_get_dst(msg) == CI_PID_ALL ? 1 : 0;
}

int comint_put_locSock(const ci_msg_t* msg) {
    return gTransport && gTransport->put_locSock ? gTransport->put_locSock(msg) : 0;
}

uint32_t ci_completion_register(ci_completion_fn fn, void* ctx) {
    if (!fn) return 0;
    uint32_t h = dynkomm_get_magic();
    if (!h) return 0;
    std::lock_guard<std::mutex> lk(gComplMx);
    gCompletions[h] = Completion{fn, ctx};
    return h;
}

void ci_completion_release(uint32_t handle) {
    {
        std::lock_guard<std::mutex> lk(gComplMx);
        if (!gCompletions.erase(handle)) return;
    }
    dynkomm_free_magic(handle);
}

int ci_completion_call(uint32_t handle, ci_msg_t* msg) {
    Completion c;
    {
        std::lock_guard<std::mutex> lk(gComplMx);
        auto it = gCompletions.find(handle);
        if (it == gCompletions.end()) return 0;
        c = it->second;
        gCompletions.erase(it);
    }
    dynkomm_free_magic(handle);
    c.fn(c.ctx, msg);
    return 1;
}
