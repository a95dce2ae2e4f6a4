// Pixel and pointer helpers for tests of screen objects drawn through the
// real frame-buffer driver of a runtime started by GuiRuntimeTest.
#pragma once

#include <cstdint>

#include "gui/core/test_thing_fixture.h"
#include "gui/draw/l24logi.h"

inline uint32_t Pixel(int x, int y) { return gbVMemory[size_t(y) * 1024 + size_t(x)]; }

// Number of pixels of r with the given colour.
inline int CountColour(const GuiRect& r, uint32_t colour)
{
    int n = 0;
    for (int y = r.top; y <= r.bottom; ++y)
        for (int x = r.left; x <= r.right; ++x) n += Pixel(x, y) == colour;
    return n;
}

// Bounding box of the pixels of r with the given colour (empty when none).
inline GuiRect InkBox(const GuiRect& r, uint32_t colour)
{
    GuiRect box(r.right + 1, r.bottom + 1, r.left - 1, r.top - 1);
    for (int y = r.top; y <= r.bottom; ++y)
        for (int x = r.left; x <= r.right; ++x)
            if (Pixel(x, y) == colour) box |= GuiRect(x, y, x, y);
    return box;
}

inline GuiMessage PointerAt(uint16_t type, int x, int y)
{
    GuiMessage m(type);
    m.SetPoint(GuiPoint{int16_t(x), int16_t(y)});
    return m;
}

// A press and a release at one point, through the queue.
inline void Click(GuiMessageQueue* mq, int x, int y)
{
    GuiMessage press = PointerAt(GM_POINTER_PRESS, x, y), release = PointerAt(GM_POINTER_RELEASE, x, y);
    mq->Push(&press);
    mq->Push(&release);
}
