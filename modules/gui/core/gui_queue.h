// Message queues and timers of the GUI.
//
// A GuiQueue holds at most 41 messages in cells allocated with the queue, so
// posting never allocates and a full queue drops the new message. The GUI
// task reads gpGuiMesgQueue; a task that executes a window modally reads a
// queue of its own (see the presentation manager's task list).
//
// Timers count ticks of the timer task (50 ms). An expiry is folded into the
// GUI queue as {type 29, data = id, target = thing}, so a slow GUI sees one
// pending expiry per timer.
#pragma once

#include <cstdint>

#include "gui/core/gui_message.h"
#include "host/os/os.h"

constexpr int GUI_QUEUE_CELLS = 41;

struct GuiQueue {
    GuiMessage* head;        // queued messages, oldest first
    GuiMessage* tail;
    GuiMessage* freeHead;    // free cells
    GuiMessage* freeTail;
    SEM_ID mutex;            // guards the four lists
    SEM_ID count;            // one count per queued message
};

GuiQueue* GuiCreateMessageQueue();
void GuiDeleteMessageQueue(GuiQueue* queue);
// Copies the message into a free cell at the tail; a full queue drops it.
// Returns 1 either way.
int EnqueueTaskMessage(const GuiMessage* msg, GuiQueue* queue);
// The same, telling whether the message was queued.
bool GuiEnqueueMessage(const GuiMessage* msg, GuiQueue* queue);
// Waits for and removes the oldest message.
void GuiPopMessage(GuiMessage* msg, GuiQueue* queue);
// Removes the oldest message without waiting; false when none is queued.
bool GuiTryPopMessage(GuiMessage* msg, GuiQueue* queue);
// Number of queued messages.
int GuiQueuedMessages(GuiQueue* queue);

// The GUI task's own queue.
extern GuiQueue* gpGuiMesgQueue;

struct GuiTimer {
    GuiTimer* next;
    GuiThing* thing;
    int32_t count;     // ticks until the next expiry
    int32_t reload;    // ticks between expiries; below 1: one-shot
    uint16_t id;
};

class GuiMessageQueue {
public:
    GuiMessageQueue();
    ~GuiMessageQueue();
    GuiMessageQueue(const GuiMessageQueue&) = delete;
    GuiMessageQueue& operator=(const GuiMessageQueue&) = delete;

    // Posts from any task; never blocks on the GUI. Returns 1.
    int Push(const GuiMessage* msg);
    // Next message for the calling task (blocks). Timer-task ticks are
    // consumed here and never returned.
    void Pop(GuiMessage* msg);
    // As Pop, without waiting: false when nothing is left for the caller.
    bool TryPop(GuiMessage* msg);
    // Posts unless an equal message (type, target, data) waits; then only
    // its payload is replaced.
    void Fold(const GuiMessage* msg, GuiQueue* queue);
    void Fold(const GuiMessage* msg);
    // Drops the GUI queue's messages for `thing` and its descendants,
    // restricted to `type` when non-zero and then to `data` when non-zero.
    void Purge(GuiThing* thing, unsigned short type, unsigned short data);

    void SetTimer(GuiThing* thing, unsigned short id, long count, long reload);
    // id 0: every timer of the thing and of its descendants.
    void KillTimer(GuiThing* thing, unsigned short id);
    // One tick of the timer task: counts every timer down.
    void TimerTick();
    void FreeTimers();

    // Timer of (thing, id), null when none runs (for inspection).
    const GuiTimer* FindTimer(const GuiThing* thing, unsigned short id) const;

    GuiTimer* mpTimers;

private:
    bool PopOnce(GuiMessage* msg, bool wait);
    void PurgeWhere(GuiThing* thing, unsigned short type, unsigned short data, bool exact);
};
