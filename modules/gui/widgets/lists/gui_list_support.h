// Small helpers shared by the list and tree widgets: linking a child at a
// given place among its siblings, and queueing a signal with a data word
// and a pointer payload.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

// Links `child` (which must have no parent) into `parent` in front of
// `before`, or at the end when `before` is null. Only the links change: the
// caller shows, lays out and draws.
void GuiLinkChildBefore(GuiThing* parent, GuiThing* child, GuiThing* before);

// Queues signal `code` of `from` (type 128 + 16 x id + code, source `from`)
// for its parent with the given data word and first payload word. Nothing
// without an id, a parent or a message queue.
void GuiQueueSignal(GuiThing* from, uint8_t code, int data, void* payload = nullptr);

// Whether the message is the click signal (4) of any thing.
inline bool GuiIsClickSignal(uint16_t type)
{
    return type >= GM_SIGNAL_BASE && type < GM_APPLICATION && (type & 0x0F) == 4;
}
