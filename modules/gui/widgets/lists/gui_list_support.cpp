// Linking children at a place and queueing signals for the list widgets.
#include "gui/widgets/lists/gui_list_support.h"

#include "gui/core/gui_queue.h"
#include "gui/core/gui_task.h"

void GuiLinkChildBefore(GuiThing* parent, GuiThing* child, GuiThing* before)
{
    if (!parent || !child || child == parent || child->mpParent) return;
    if (before && before->mpParent != parent) before = nullptr;
    GuiLock lock;
    child->mpParent = parent;
    if (!before) {
        GuiThing* last = parent->mpFirstChild;
        while (last && last->mpNext) last = last->mpNext;
        child->mpPrev = last;
        child->mpNext = nullptr;
        if (last) last->mpNext = child;
        else parent->mpFirstChild = child;
        return;
    }
    child->mpNext = before;
    child->mpPrev = before->mpPrev;
    if (before->mpPrev) before->mpPrev->mpNext = child;
    else parent->mpFirstChild = child;
    before->mpPrev = child;
}

void GuiQueueSignal(GuiThing* from, uint8_t code, int data, void* payload)
{
    if (!from || from->mId == 0 || !from->mpParent || !GuiThing::mpMessageQueue) return;
    GuiMessage m(GuiSignalType(from->mId, code), data, from->mpParent, from);
    m.SetPointer(payload);
    GuiThing::mpMessageQueue->Push(&m);
}
