// Queueing signals for the list widgets.
#include "gui/widgets/lists/gui_list_support.h"

#include "gui/core/gui_queue.h"

void GuiQueueSignal(GuiThing* from, uint8_t code, int data, void* payload)
{
    if (!from || from->mId == 0 || !from->mpParent || !GuiThing::mpMessageQueue) return;
    GuiMessage m(GuiSignalType(from->mId, code), data, from->mpParent, from);
    m.SetPointer(payload);
    GuiThing::mpMessageQueue->Push(&m);
}
