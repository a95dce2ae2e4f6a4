// A started runtime with a recording host window for the list and tree
// widgets, and helpers to make items and count the signals that arrive.
#pragma once

#include "gui/core/gui_prompt.h"
#include "gui/core/test_runtime_pixels.h"

class ListWidgetTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 399, 299));
        pm->Add(host, 1);
    }

    // A selectable prompt item, `height` pixels high.
    static GuiPrompt* Item(const char* text, unsigned short id, int height = 20) {
        return new GuiPrompt(GuiRect(0, 0, 59, height - 1), text, id, GST_ENABLED | GST_FRAME_NONE, 0);
    }

    // Messages of type `type` that reached the host.
    std::vector<GuiMessage> Seen(uint16_t type) const {
        std::vector<GuiMessage> out;
        for (const auto& m : host->seen)
            if (m.type == type) out.push_back(m);
        return out;
    }

    RecWindow* host = nullptr;
};
