// A started runtime with a recording window that carries a menu bar built
// from the tables below, and helpers to click and hover through the queue.
#pragma once

#include <vector>

#include "gui/core/test_runtime_pixels.h"
#include "gui/widgets/menus/gui_menu.h"

namespace menus_test {

constexpr uint16_t kOn = GST_ENABLED;

inline GuiMenuDescription kMore[] = {
    {"Lap times", 30, GST_ENABLED, nullptr},
    {"Sectors", 31, GST_ENABLED, nullptr},
    {nullptr, 0, 0, nullptr},
};

// Tick, then two dot groups between separators, then a submenu.
inline GuiMenuDescription kFile[] = {
    {"Open", 5, GST_ENABLED, nullptr},
    {"Logging", 6, kOn | GMS_CHECKABLE | GMS_CHECKED, nullptr},
    {nullptr, 0, GMS_SEPARATOR, nullptr},
    {"Page 1", 7, kOn | GMS_DOTABLE | GMS_DOTTED, nullptr},
    {"Page 2", 8, kOn | GMS_DOTABLE, nullptr},
    {nullptr, 0, GMS_SEPARATOR, nullptr},
    {"Metric", 9, kOn | GMS_DOTABLE | GMS_DOTTED, nullptr},
    {"More", 20, GST_ENABLED, kMore},
    {nullptr, 0, 0, nullptr},
};

inline GuiMenuDescription kEdit[] = {
    {"Copy", 40, GST_ENABLED, nullptr},
    {nullptr, 0, 0, nullptr},
};

inline GuiMenuDescription kBar[] = {
    {"File", 1, GST_ENABLED, kFile},
    {"Edit", 2, GST_ENABLED, kEdit},
    {"Help", 3, GST_ENABLED, nullptr},
    {nullptr, 0, 0, nullptr},
};

}  // namespace menus_test

class MenuTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 399, 299));
        pm->Add(host, 1);
        bar = new GuiMenuBar(menus_test::kBar);
        host->Add(bar, 1);
        Pump();
    }

    GuiMenuButton* Entry(const char* text) { return bar->FindButton(text); }

    void ClickOn(GuiThing* t) {
        Click(mq, (t->mOuter.left + t->mOuter.right) / 2, (t->mOuter.top + t->mOuter.bottom) / 2);
        Pump();
    }
    void HoverOn(GuiThing* t) {
        Post(PointerAt(GM_POINTER_MOVE, (t->mOuter.left + t->mOuter.right) / 2,
                       (t->mOuter.top + t->mOuter.bottom) / 2));
        Pump();
    }
    // Opens the File menu from the bar.
    GuiMenu* OpenFile() {
        GuiMenuButton* file = Entry("File");
        ClickOn(file);
        return file->mpSubMenu;
    }

    // Signal messages (type 128 and above) that reached the host.
    std::vector<GuiMessage> Signals() const {
        std::vector<GuiMessage> out;
        for (const auto& m : host->seen)
            if (m.type >= GM_SIGNAL_BASE && m.type < GM_APPLICATION) out.push_back(m);
        return out;
    }

    RecWindow* host = nullptr;
    GuiMenuBar* bar = nullptr;
};
