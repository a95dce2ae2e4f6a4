// Small helpers shared by the list and tree widgets: queueing a signal with
// a data word and a pointer payload, and recognising click signals.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

// Queues signal `code` of `from` (type 128 + 16 x id + code, source `from`)
// for its parent with the given data word and first payload word. Nothing
// without an id, a parent or a message queue.
void GuiQueueSignal(GuiThing* from, uint8_t code, int data, void* payload = nullptr);

// Whether the message is the click signal (4) of any thing.
inline bool GuiIsClickSignal(uint16_t type)
{
    return type >= GM_SIGNAL_BASE && type < GM_APPLICATION && (type & 0x0F) == 4;
}
