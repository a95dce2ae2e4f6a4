// A GUI runtime driven by the test's own thread: start-up without tasks,
// messages dispatched on demand, timer ticks stepped by hand.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/core/gui_task.h"
#include "gui/core/gui_thing.h"

// Records every message it receives, then handles it as a plain thing.
class RecThing : public GuiThing {
public:
    RecThing(const GuiRect& r, unsigned short id = 0) : GuiThing(r, id, GST_FRAME_NONE) {}
    int Message(const GuiMessage& msg) override {
        seen.push_back(msg);
        return GuiThing::Message(msg);
    }
    int Count(uint16_t type) const {
        int n = 0;
        for (const auto& m : seen) n += m.type == type;
        return n;
    }
    std::vector<GuiMessage> seen;
};

// A window that records what reaches it.
class RecWindow : public GuiWindow {
public:
    RecWindow(const GuiRect& r, unsigned short id = 0) : GuiWindow(r, GST_FRAME_NONE) { mId = id; }
    int Message(const GuiMessage& msg) override {
        seen.push_back(msg);
        return GuiWindow::Message(msg);
    }
    int Count(uint16_t type) const {
        int n = 0;
        for (const auto& m : seen) n += m.type == type;
        return n;
    }
    std::vector<GuiMessage> seen;
};

class GuiRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(GuiStartUp(nullptr, nullptr));
        pm = GuiThing::mpPresentation;
        mq = GuiThing::mpMessageQueue;
    }
    void TearDown() override {
        GuiTearDown();
        GuiDeleteLocks();
    }
    int Pump() { return GuiDispatchPending(); }
    void Post(GuiMessage m) { mq->Push(&m); }

    GuiPresentationManager* pm = nullptr;
    GuiMessageQueue* mq = nullptr;
};
