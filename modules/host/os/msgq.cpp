// Message queues: a ring of fixed-size slots, FIFO with urgent messages put at
// the head, time-outs in ticks.
#include "host/os/os_internal.h"

#include <mqueue.h>

#include <cerrno>
#include <cstring>

namespace {

// The platform reports why a send failed in errno.
STATUS failWith(int code) {
    errno = code;
    return ERROR;
}

struct WaiterGuard {
    HostMsgQ& q;
    explicit WaiterGuard(HostMsgQ& queue) : q(queue) { ++q.waiters; }
    ~WaiterGuard() {
        if (--q.waiters == 0 && q.deleted) q.notFull.notify_all();
    }
};

}  // namespace

namespace hostos {

void msgQDestroy(MSG_Q_ID q) {
    {
        std::unique_lock<std::mutex> lk(q->mx);
        q->deleted = true;
        q->notEmpty.notify_all();
        q->notFull.notify_all();
        q->notFull.wait(lk, [&] { return q->waiters == 0; });
    }
    if (q->mqd >= 0) mq_close(static_cast<mqd_t>(q->mqd));
    delete q;
}

}  // namespace hostos

MSG_Q_ID msgQCreate(int maxMsgs, int maxMsgLength, int) {
    if (maxMsgs <= 0 || maxMsgLength < 0) return nullptr;
    auto* q = new HostMsgQ;
    q->maxMsgs = maxMsgs;
    q->maxLen = static_cast<size_t>(maxMsgLength);
    q->slots.resize(static_cast<size_t>(maxMsgs) * q->maxLen);
    q->lens.resize(maxMsgs);
    return q;
}

STATUS msgQDelete(MSG_Q_ID q) {
    if (!q) return ERROR;
    hostos::namedForgetMsgQ(q);
    hostos::msgQDestroy(q);
    return OK;
}

STATUS msgQSend(MSG_Q_ID q, const void* buffer, size_t nBytes, int timeoutTicks, int priority) {
    if (!q || (nBytes && !buffer)) return failWith(S_objLib_OBJ_ID_ERROR);
    if (q->mqd >= 0) return hostos::msgQSendShared(q, buffer, nBytes, timeoutTicks, priority);
    std::unique_lock<std::mutex> lk(q->mx);
    if (q->deleted) return failWith(S_objLib_OBJ_ID_ERROR);
    if (nBytes > q->maxLen) return failWith(S_msgQLib_INVALID_MSG_LENGTH);
    WaiterGuard guard(*q);
    // A slot freed while senders wait for room is theirs: a sender that comes
    // later finds room only beside them. Otherwise a stream of sends that do
    // not wait takes every freed slot, and a message that waits (the last
    // lines of a shutdown, say) waits its whole time-out and is lost.
    bool room = q->count + q->sendersWaiting < q->maxMsgs;
    if (!room && timeoutTicks != NO_WAIT) {
        ++q->sendersWaiting;
        try {
            room = hostos::blockUntil(q->notFull, lk, hostos::deadlineFromTicks(timeoutTicks),
                                      [&] { return q->deleted || q->count < q->maxMsgs; });
        } catch (...) {
            --q->sendersWaiting;   // deleted while waiting: the slot goes to the others
            throw;
        }
        --q->sendersWaiting;
    }
    if (q->deleted) return failWith(S_objLib_OBJ_ID_ERROR);
    if (!room) return failWith(timeoutTicks == NO_WAIT ? S_objLib_OBJ_UNAVAILABLE : S_objLib_OBJ_TIMEOUT);
    int slot;
    if (priority == MSG_PRI_URGENT) {
        q->head = (q->head + q->maxMsgs - 1) % q->maxMsgs;
        slot = q->head;
    } else {
        slot = (q->head + q->count) % q->maxMsgs;
    }
    ++q->count;
    if (nBytes) std::memcpy(&q->slots[static_cast<size_t>(slot) * q->maxLen], buffer, nBytes);
    q->lens[slot] = nBytes;
    q->notEmpty.notify_all();
    return OK;
}

long msgQReceive(MSG_Q_ID q, void* buffer, size_t maxNBytes, int timeoutTicks) {
    if (!q || (maxNBytes && !buffer)) return ERROR;
    if (q->mqd >= 0) return hostos::msgQReceiveShared(q, buffer, maxNBytes, timeoutTicks);
    std::unique_lock<std::mutex> lk(q->mx);
    if (q->deleted) return ERROR;
    WaiterGuard guard(*q);
    bool any = hostos::blockUntil(q->notEmpty, lk, hostos::deadlineFromTicks(timeoutTicks),
                                  [&] { return q->deleted || q->count > 0; });
    if (!any || q->deleted) return ERROR;
    int slot = q->head;
    size_t n = q->lens[slot] < maxNBytes ? q->lens[slot] : maxNBytes;
    if (n) std::memcpy(buffer, &q->slots[static_cast<size_t>(slot) * q->maxLen], n);
    q->head = (q->head + 1) % q->maxMsgs;
    --q->count;
    q->notFull.notify_all();
    return static_cast<long>(n);
}

int msgQNumMsgs(MSG_Q_ID q) {
    if (!q) return ERROR;
    if (q->mqd >= 0) return hostos::msgQNumMsgsShared(q);
    std::lock_guard<std::mutex> lk(q->mx);
    return q->count;
}
