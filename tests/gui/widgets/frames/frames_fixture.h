// A started runtime with a recording owner window over the whole screen,
// a decorated window that records what reaches it and notes its deletion,
// and a helper that compares drawn text with the screen's own rendering.
#pragma once

#include <vector>

#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/frames/gui_decorated_window.h"
#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_frame_support.h"

class RecDecorated : public GuiDecoratedWindow {
public:
    RecDecorated(const GuiRect& r, unsigned style, bool* deleted = nullptr)
        : GuiDecoratedWindow(r, style), mpDeleted(deleted) {}
    ~RecDecorated() override { if (mpDeleted) *mpDeleted = true; }
    int Message(const GuiMessage& msg) override {
        seen.push_back(msg);
        return GuiDecoratedWindow::Message(msg);
    }
    int Count(uint16_t type) const {
        int n = 0;
        for (const auto& m : seen) n += m.type == type;
        return n;
    }
    std::vector<GuiMessage> seen;
    bool* mpDeleted;
};

class FramesTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        owner = new RecWindow(GuiRect(0, 0, 639, 479));
        pm->Add(owner, 1);
        Pump();
    }

    void ClickOn(const GuiThing* t) {
        Click(mq, (t->mOuter.left + t->mOuter.right) / 2, (t->mOuter.top + t->mOuter.bottom) / 2);
        Pump();
    }

    // Messages of the type that reached the owner.
    std::vector<GuiMessage> OwnerGot(uint16_t type) const {
        std::vector<GuiMessage> out;
        for (const auto& m : owner->seen)
            if (m.type == type) out.push_back(m);
        return out;
    }

    // Whether the pixels of `colour` inside the text's box at (x, y) are
    // exactly those the screen sets when it draws the text alone there.
    bool ShowsText(const char* text, const GuiFont* font, int x, int y, uint32_t colour) {
        GuiScreen* s = GuiThing::mpScreen;
        const int w = s->TextWidth(text, font, -1), h = s->TextHeight(text, font);
        // Reference: the same text drawn on black at the bottom of the
        // screen, by the owner window behind everything else.
        const GuiRect strip(0, 440, 639, 479);
        s->Invalidate(strip);
        s->BeginDraw(owner);
        s->Rectangle(owner, strip, GuiColor{0, 0, GUI_COLOR_FILL}, 0);
        GuiColor ink{colour, 0, 0};
        s->DrawText(owner, GuiPoint{4, 444}, text, ink, font, -1, 0);
        s->EndDraw();
        int inked = 0;
        bool same = true;
        for (int dy = 0; dy < h; ++dy)
            for (int dx = 0; dx < w; ++dx) {
                const bool want = Pixel(4 + dx, 444 + dy) == colour;
                inked += want;
                same = same && want == (Pixel(x + dx, y + dy) == colour);
            }
        return same && inked > 0;
    }

    RecWindow* owner = nullptr;
};
