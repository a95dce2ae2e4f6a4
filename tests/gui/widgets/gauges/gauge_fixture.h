// Gauge tests: a started runtime with a visible host window, solid 32-bit
// bitmaps, gauges that count their full draws, and frame snapshots.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "gui/core/gui_window.h"
#include "gui/core/test_runtime_pixels.h"

namespace gauges {

constexpr uint32_t kHostFill = 0x00A000, kMarker = 0x00ABCDEF, kNeedle = 0xBF0000, kFace = 0xC0C0C0;

// A 32-bit bitmap of one colour that owns its pixels.
struct SolidBitmap {
    SolidBitmap(int w, int h, uint32_t colour) : pixels(size_t(w) * size_t(h), colour) {
        bitmap.flags = 0;
        bitmap.bitsPerPixel = 32;
        bitmap.width = uint16_t(w);
        bitmap.height = uint16_t(h);
        bitmap.transparentColor = 1;
        bitmap.data = reinterpret_cast<uint8_t*>(pixels.data());
    }
    GuiBitmap* operator&() { return &bitmap; }
    std::vector<uint32_t> pixels;
    GuiBitmap bitmap{};
};

// A gauge class that counts how often it is drawn in full.
template <class Base>
struct Counted : Base {
    using Base::Base;
    void Draw() override {
        ++draws;
        Base::Draw();
    }
    int draws = 0;
};

using Frame = std::vector<uint32_t>;
inline Frame Snapshot() { return Frame(gbVMemory, gbVMemory + 1024 * 480); }

// Pixels outside `keep` that differ from the snapshot.
inline int ChangedOutside(const Frame& before, const GuiRect& keep)
{
    int n = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 1024; ++x)
            if (!keep.Contains(x, y)) n += gbVMemory[size_t(y) * 1024 + size_t(x)] != before[size_t(y) * 1024 + size_t(x)];
    return n;
}

inline void Mark(int x, int y) { gbVMemory[size_t(y) * 1024 + size_t(x)] = kMarker; }

class GaugeTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 639, 479), 1);
        host->SetColor(0, kHostFill);
        pm->Add(host, 1);
    }
    // A thin-framed window inside the host for gauges to hang out of.
    GuiWindow* Panel(const GuiRect& r) {
        auto* panel = new GuiWindow(r, GST_FRAME_THIN);
        host->Add(panel, 1);
        return panel;
    }

    RecWindow* host = nullptr;
};

}  // namespace gauges
