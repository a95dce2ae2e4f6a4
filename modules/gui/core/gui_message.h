// The one message record of the GUI and the table of message types.
//
// Messages are copied by value into the queues. A message with a target goes
// to that screen object; an untargeted one is routed by its type (pointer
// messages to the thing under the pointer or the capture, keys and
// application messages to the focus owner).
#pragma once

#include <cstdint>
#include <cstring>

#include "gui/core/gui_types.h"

class GuiThing;

// ---- message types ----------------------------------------------------------------
enum : uint16_t {
    GM_ADD = 1,                // target adds the source as a child
    GM_REMOVE = 2,             // target removes the source
    GM_DESTROY = 3,            // kill the source's timers, purge its messages, delete it
    GM_RESIZE = 4,             // payload: new outer rectangle
    GM_SIZE_CHANGE = 5,
    GM_CLOSE = 6,              // close an executing window
    GM_HIDE = 7,               // the thing leaves a visible tree
    GM_SHOW = 8,               // the thing enters a visible tree
    GM_POINTER_MOVE = 9,       // payload: point
    GM_POINTER_PRESS = 10,     // first button; payload: point
    GM_POINTER_RELEASE = 11,
    GM_POINTER2_PRESS = 12,    // second button
    GM_POINTER2_RELEASE = 13,
    GM_REDRAW = 14,
    GM_FOCUS_GAINED = 15,
    GM_FOCUS_LOST = 16,
    GM_POINTER_ENTER = 17,
    GM_POINTER_LEAVE = 18,
    GM_CLOSE_LOOP = 19,        // ends the presentation manager's message loop
    GM_ADD_ICON = 20,          // payload pointer: the icon
    GM_START_MOVE = 21,        // data: move mode, payload: start point
    GM_PARENT_SIZED = 22,
    GM_VSCROLL = 23,
    GM_HSCROLL = 24,
    GM_MAXIMIZE = 25,
    GM_MINIMIZE = 26,
    GM_RESTORE = 27,
    GM_TIMER = 29,             // targeted: data = timer id; untargeted: timer task tick
    GM_KEY = 30,               // key input for the focus owner (30 to 34)
    GM_KEY2 = 31,
    GM_CUT = 32,
    GM_COPY = 33,
    GM_PASTE = 34,
    GM_MSGWIN_NOTIFY = 36,
    GM_DIALOG_NOTIFY = 37,
    GM_RESTORE_FOCUS = 39,     // give the focus back after a focused window left
    GM_SIGNAL_BASE = 128,      // 128 + 16 x id + signal
    GM_APPLICATION = 0x4000,   // application messages: 0x4000 | n
};

// ---- signals a child sends to its parent -------------------------------------------
enum : uint8_t {
    GUI_SIG_RESIZED = 0,
    GUI_SIG_FOCUS_GAINED = 1,
    GUI_SIG_FOCUS_LOST = 2,
    GUI_SIG_CLICKED = 4,
    GUI_SIG_CHANGED = 8,       // scroll position changed, or checked
    GUI_SIG_UNCHECKED = 9,
    GUI_SIG_SELECTED = 10,
    GUI_SIG_DESELECTED = 11,
};

// Message type of signal `signal` from a thing with id `id` (16-bit arithmetic).
inline uint16_t GuiSignalType(uint16_t id, uint8_t signal) {
    return uint16_t(GM_SIGNAL_BASE + 16u * id + signal);
}

// ---- payload --------------------------------------------------------------------------
// Two pointer-sized words, each a value or a pointer, so that a request can
// carry two pointers (a two-line text) on a 64-bit host. The first eight
// bytes also read as a rectangle (message 4) and the first four as a point
// (pointer messages).
union GuiPayload {
    uint8_t bytes[2 * sizeof(uintptr_t)];
    int16_t half[sizeof(uintptr_t)];
    uintptr_t word[2];
    intptr_t sword[2];
    void* ptr[2];
};
static_assert(sizeof(GuiPayload) == 2 * sizeof(void*));
static_assert(sizeof(GuiPayload) >= sizeof(GuiRect));

struct GuiMessage {
    uint16_t type = 0;
    int16_t data = 0;              // timer id, object id, position or mode
    GuiThing* target = nullptr;    // null: routed by type
    GuiThing* source = nullptr;    // sender, or the object a request is about
    GuiMessage* next = nullptr;    // link used only inside a queue
    GuiPayload payload{};

    GuiMessage() = default;
    GuiMessage(uint16_t t, int data_ = 0, GuiThing* target_ = nullptr, GuiThing* source_ = nullptr)
        : type(t), data(int16_t(data_)), target(target_), source(source_) {}

    GuiRect Rect() const { GuiRect r; std::memcpy(&r, payload.bytes, sizeof r); return r; }
    void SetRect(const GuiRect& r) { std::memcpy(payload.bytes, &r, sizeof r); }
    GuiPoint Point() const { GuiPoint p; std::memcpy(&p, payload.bytes, sizeof p); return p; }
    void SetPoint(GuiPoint p) { std::memcpy(payload.bytes, &p, sizeof p); }
    // Word i (0 or 1) as a pointer or a value.
    void* Pointer(int i = 0) const { return payload.ptr[i & 1]; }
    void SetPointer(void* p) { payload.ptr[0] = p; }
    void SetPointer(int i, void* p) { payload.ptr[i & 1] = p; }
    intptr_t Word(int i) const { return payload.sword[i & 1]; }
    void SetWord(int i, intptr_t v) { payload.sword[i & 1] = v; }
};
