// Message queues of the GUI: fixed cells, one counting semaphore per queue,
// folding of equal messages, purging of a subtree's messages, and the timer
// list counted down by the timer task's ticks.
#include "gui/core/gui_queue.h"

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_task.h"
#include "gui/core/gui_thing.h"

GuiQueue* gpGuiMesgQueue = nullptr;

namespace {

// Takes a mutex that may not exist yet (tests that drive a queue without the
// GUI task); a missing mutex means there is no other task to exclude.
class MutexHold {
public:
    explicit MutexHold(SEM_ID m) : m_(m) { if (m_) semTake(m_, WAIT_FOREVER); }
    ~MutexHold() { if (m_) semGive(m_); }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

private:
    SEM_ID m_;
};

void appendFree(GuiQueue* q, GuiMessage* cell)
{
    cell->next = nullptr;
    if (q->freeTail) q->freeTail->next = cell;
    else q->freeHead = cell;
    q->freeTail = cell;
}

void freeCells(GuiMessage* cell)
{
    while (cell) {
        GuiMessage* next = cell->next;
        delete cell;
        cell = next;
    }
}

}  // namespace

GuiQueue* GuiCreateMessageQueue()
{
    auto* q = new GuiQueue{};
    q->mutex = semMCreate(SEM_Q_PRIORITY);
    q->count = semCCreate(SEM_Q_PRIORITY, 0);
    if (!q->mutex || !q->count) {
        if (q->mutex) semDelete(q->mutex);
        if (q->count) semDelete(q->count);
        delete q;
        return nullptr;
    }
    for (int i = 0; i < GUI_QUEUE_CELLS; ++i) appendFree(q, new GuiMessage);
    return q;
}

void GuiDeleteMessageQueue(GuiQueue* q)
{
    if (!q) return;
    freeCells(q->head);
    freeCells(q->freeHead);
    semDelete(q->mutex);
    semDelete(q->count);
    delete q;
}

int EnqueueTaskMessage(const GuiMessage* msg, GuiQueue* q)
{
    GuiEnqueueMessage(msg, q);
    return 1;
}

bool GuiEnqueueMessage(const GuiMessage* msg, GuiQueue* q)
{
    if (!msg || !q) return false;
    {
        MutexHold hold(q->mutex);
        GuiMessage* cell = q->freeHead;
        if (!cell) return false;   // all cells in use: the new message is dropped
        q->freeHead = cell->next;
        if (!q->freeHead) q->freeTail = nullptr;
        *cell = *msg;
        cell->next = nullptr;
        if (q->tail) q->tail->next = cell;
        else q->head = cell;
        q->tail = cell;
    }
    semGive(q->count);
    return true;
}

// Takes the head cell once a count was obtained. A purge by another task may
// have removed the message the count stood for; then there is nothing to take
// and the caller waits again.
static bool takeHead(GuiMessage* msg, GuiQueue* q)
{
    MutexHold hold(q->mutex);
    GuiMessage* cell = q->head;
    if (!cell) return false;
    q->head = cell->next;
    if (!q->head) q->tail = nullptr;
    *msg = *cell;
    msg->next = nullptr;
    appendFree(q, cell);
    return true;
}

void GuiPopMessage(GuiMessage* msg, GuiQueue* q)
{
    for (;;) {
        semTake(q->count, WAIT_FOREVER);
        if (takeHead(msg, q)) return;
    }
}

bool GuiTryPopMessage(GuiMessage* msg, GuiQueue* q)
{
    if (!q) return false;
    while (semTake(q->count, NO_WAIT) == OK) {
        if (takeHead(msg, q)) return true;
    }
    return false;
}

int GuiQueuedMessages(GuiQueue* q)
{
    if (!q) return 0;
    MutexHold hold(q->mutex);
    int n = 0;
    for (GuiMessage* c = q->head; c; c = c->next) ++n;
    return n;
}

// ---- GuiMessageQueue ----------------------------------------------------------------

GuiMessageQueue::GuiMessageQueue() : mpTimers(nullptr)
{
    gpGuiMesgQueue = GuiCreateMessageQueue();
}

GuiMessageQueue::~GuiMessageQueue()
{
    FreeTimers();
    GuiDeleteMessageQueue(gpGuiMesgQueue);
    gpGuiMesgQueue = nullptr;
}

int GuiMessageQueue::Push(const GuiMessage* msg)
{
    if (!msg) return 1;
    GuiMessage copy = *msg;
    GuiPresentationManager* pm = GuiThing::mpPresentation;
    if (copy.target && pm && pm->RouteMessageToTask(&copy)) return 1;
    return EnqueueTaskMessage(&copy, gpGuiMesgQueue);
}

bool GuiMessageQueue::PopOnce(GuiMessage* msg, bool wait)
{
    GuiPresentationManager* pm = GuiThing::mpPresentation;
    if (taskIdSelf() != tBaseGuiTask && pm) {
        if (GuiQueue* own = pm->GetCurrentMessageQueue()) {
            if (wait) {
                GuiPopMessage(msg, own);
                return true;
            }
            return GuiTryPopMessage(msg, own);
        }
    }
    for (;;) {
        if (wait) GuiPopMessage(msg, gpGuiMesgQueue);
        else if (!GuiTryPopMessage(msg, gpGuiMesgQueue)) return false;
        if (msg->type != GM_TIMER || msg->target != nullptr) return true;
        // The timer task's tick: count the timers down and look again.
        TimerTick();
        gbGuiTimerEventPending = 0;
    }
}

void GuiMessageQueue::Pop(GuiMessage* msg) { PopOnce(msg, true); }

bool GuiMessageQueue::TryPop(GuiMessage* msg) { return PopOnce(msg, false); }

void GuiMessageQueue::Fold(const GuiMessage* msg, GuiQueue* q)
{
    if (!msg || !q) return;
    {
        MutexHold hold(q->mutex);
        for (GuiMessage* c = q->head; c; c = c->next) {
            if (c->type == msg->type && c->target == msg->target && c->data == msg->data) {
                c->payload = msg->payload;
                return;
            }
        }
    }
    EnqueueTaskMessage(msg, q);
}

void GuiMessageQueue::Fold(const GuiMessage* msg) { Fold(msg, gpGuiMesgQueue); }

void GuiMessageQueue::PurgeWhere(GuiThing* thing, unsigned short type, unsigned short data, bool exact)
{
    GuiQueue* q = gpGuiMesgQueue;
    if (!q || !thing) return;
    MutexHold hold(q->mutex);
    GuiMessage* prev = nullptr;
    GuiMessage* c = q->head;
    while (c) {
        GuiMessage* next = c->next;
        bool match = c->target && (exact ? c->target == thing : c->target->IsInside(thing));
        if (match && type != 0 && c->type != type) match = false;
        if (match && type != 0 && data != 0 && c->data != int16_t(data)) match = false;
        if (match) {
            if (prev) prev->next = next;
            else q->head = next;
            if (q->tail == c) q->tail = prev;
            appendFree(q, c);
            // Keep the count equal to the queue. Without waiting: a reader
            // that already holds the count of this very message finds the
            // queue empty and waits again.
            semTake(q->count, NO_WAIT);
        } else {
            prev = c;
        }
        c = next;
    }
}

void GuiMessageQueue::Purge(GuiThing* thing, unsigned short type, unsigned short data)
{
    PurgeWhere(thing, type, data, false);
}

void GuiMessageQueue::SetTimer(GuiThing* thing, unsigned short id, long count, long reload)
{
    // An expiry without a target would pass for the timer task's tick and
    // count every timer down once more.
    if (!thing) return;
    MutexHold hold(tGuiTimerMutex);
    for (GuiTimer* t = mpTimers; t; t = t->next) {
        if (t->thing == thing && t->id == id) {
            t->count = int32_t(count);
            t->reload = int32_t(reload);
            return;
        }
    }
    mpTimers = new GuiTimer{mpTimers, thing, int32_t(count), int32_t(reload), id};
}

void GuiMessageQueue::KillTimer(GuiThing* thing, unsigned short id)
{
    MutexHold hold(tGuiTimerMutex);
    GuiTimer** link = &mpTimers;
    while (GuiTimer* t = *link) {
        bool match = id != 0 ? (t->thing == thing && t->id == id)
                             : (t->thing && thing && t->thing->IsInside(thing));
        if (!match) {
            link = &t->next;
            continue;
        }
        *link = t->next;
        GuiThing* owner = t->thing;
        delete t;
        if (id != 0) {
            // Only this timer's waiting expiry: a descendant's timer with the
            // same id keeps its own.
            PurgeWhere(owner, GM_TIMER, id, true);
            return;
        }
        PurgeWhere(thing, GM_TIMER, 0, false);
    }
}

void GuiMessageQueue::TimerTick()
{
    MutexHold hold(tGuiTimerMutex);
    GuiTimer** link = &mpTimers;
    while (GuiTimer* t = *link) {
        // A count set to 0 or below expires at the next tick instead of
        // never.
        if (--t->count > 0) {
            link = &t->next;
            continue;
        }
        GuiMessage expiry(GM_TIMER, int16_t(t->id), t->thing, nullptr);
        Fold(&expiry, gpGuiMesgQueue);
        if (t->reload >= 1) {
            t->count = t->reload;
            link = &t->next;
        } else {
            *link = t->next;
            delete t;
        }
    }
}

void GuiMessageQueue::FreeTimers()
{
    MutexHold hold(tGuiTimerMutex);
    while (GuiTimer* t = mpTimers) {
        mpTimers = t->next;
        delete t;
    }
}

const GuiTimer* GuiMessageQueue::FindTimer(const GuiThing* thing, unsigned short id) const
{
    MutexHold hold(tGuiTimerMutex);
    for (GuiTimer* t = mpTimers; t; t = t->next)
        if (t->thing == thing && t->id == id) return t;
    return nullptr;
}
