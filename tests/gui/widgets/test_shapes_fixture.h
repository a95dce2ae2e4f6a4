// Shape tests: the frame-buffer screen of the draw tests with one window
// over the whole screen to draw for, frame-buffer snapshots, and the check
// that a clipped drawing equals the uncut one masked by the clip.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/draw/test_draw_fixture.h"
#include "host/screen/screen_png.h"

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

    // Saves the visible 640 x 480 of the frame buffer as a PNG in the
    // test's output folder ($TAV9_BINARY_DIR; run by hand without it,
    // gtest's scratch folder), never in the sources.
    static void SaveDemo(const char* name) {
        std::vector<uint32_t> visible(640 * 480);
        for (int y = 0; y < 480; ++y)
            std::copy_n(gbVMemory + size_t(y) * 1024, 640, visible.begin() + size_t(y) * 640);
        const char* dir = std::getenv("TAV9_BINARY_DIR");
        // ctest gives the build folder beside the source folder
        if (std::getenv("TAV9_SOURCE_DIR")) {
            ASSERT_TRUE(dir && *dir) << "TAV9_BINARY_DIR is not set under ctest";
        }
        const std::string folder = dir && *dir ? std::string(dir) : ::testing::TempDir();
        const std::string path = folder + "/" + name;
        ASSERT_TRUE(host::detail::writeScreenPng(path, visible.data(), 640, 480)) << path;
        FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr) << path;
        std::fclose(f);
    }

    GuiThing* win = nullptr;
};
