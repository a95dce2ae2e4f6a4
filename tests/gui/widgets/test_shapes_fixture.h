// Shape tests: the frame-buffer screen of the draw tests with one window
// over the whole screen to draw for, frame-buffer snapshots, and the check
// that a clipped drawing equals the uncut one masked by the clip.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/draw/test_draw_fixture.h"

class ShapeTest : public DrawTest {
protected:
    void SetUp() override {
        DrawTest::SetUp();
        win = AddWindow(root, GuiRect(0, 0, 1023, 479));
        screen->GenerateViewportList(root);
    }

    using Frame = std::vector<uint32_t>;
    static Frame Snapshot() { return Frame(gbVMemory, gbVMemory + 1024 * 480); }
    static void Clear() { std::fill_n(gbVMemory, 1024 * 480, kUntouched); }

    // Pixels that differ between the frame buffer and `full` masked by
    // `visible` (pixels outside it must be untouched).
    static int MaskedDifferences(const Frame& full, const GuiRect& visible) {
        int wrong = 0;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 1024; ++x) {
                const uint32_t want = visible.Contains(x, y) ? full[size_t(y) * 1024 + x] : kUntouched;
                wrong += Px(x, y) != want;
            }
        return wrong;
    }

    // Draws `draw` (thing) once for the whole-screen window and once for a
    // thing cut to clip, and counts the pixels where the cut drawing is not
    // the whole one masked by clip.
    template <class F>
    int CutAgainstWhole(const GuiRect& clip, F&& draw) {
        Clear();
        Paint(win, [&] { draw(win); });
        const Frame full = Snapshot();
        Clear();
        const GuiRect saved = win->mClip;
        win->mClip = clip;
        Paint(win, [&] { draw(win); });
        win->mClip = saved;
        return MaskedDifferences(full, clip & GuiRect(0, 0, 1023, 479));
    }

    GuiThing* win = nullptr;
};
