// Shared helpers of the text widget tests: a runtime with a visible host
// window, numbered texts, and comparisons of screen areas.
#pragma once

#include <string>

#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"

namespace textwidgets {

constexpr uint32_t kPaper = 0xFFFFFF, kInk = 0x000000, kCursor = 0x0000FF, kHostFill = 0x00A000;

// "line 0\nline 1\n..." with `count` lines.
inline std::string NumberedLines(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

// Whether the w x h pixels at (ax, ay) equal those at (bx, by).
inline bool SameArea(int ax, int ay, int bx, int by, int w, int h)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (Pixel(ax + x, ay + y) != Pixel(bx + x, by + y)) return false;
    return true;
}

// Draws a text with the screen's own DrawText into a thing (black on its
// background, no fill).
inline void DrawReference(GuiThing* thing, GuiPoint at, const char* text, const GuiFont* font)
{
    GuiScreen* s = GuiThing::mpScreen;
    s->BeginDraw(thing);
    s->Invalidate(thing->mOuter);
    GuiColor colour{kInk, kPaper, 0};
    s->DrawText(thing, at, text, colour, font, -1, 0);
    s->EndDraw();
}

class TextWidgetTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 639, 479), 1);
        host->SetColor(0, kHostFill);
        pm->Add(host, 1);
    }
    // Signals of `id` with `signal` that reached the host.
    int Signals(unsigned short id, unsigned char signal) { return host->Count(GuiSignalType(id, signal)); }

    RecWindow* host = nullptr;
};

}  // namespace textwidgets
