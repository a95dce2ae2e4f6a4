// A frame-buffer screen with a tree of things built by hand: a root over the
// whole screen that owns viewports, and window-level things linked under it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "gui/core/gui_presentation.h"
#include "gui/draw/gui_screen.h"
#include "gui/core/gui_task.h"
#include "gui/core/gui_thing.h"
#include "gui/draw/l24logi.h"
#include "gui/draw/scrndrv.h"

constexpr uint32_t kUntouched = 0x00123456;

class DrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen = CreateGuiScreen();
        ASSERT_NE(screen, nullptr);
        GuiThing::mpScreen = screen;
        std::fill_n(gbVMemory, 1024 * 480, kUntouched);
        root = new GuiPresentationManager(GuiRect(0, 0, 1023, 479));
        GuiThing::mpPresentation = root;
        screen->GenerateViewportList(root);
    }
    void TearDown() override {
        delete root;
        GuiThing::mpPresentation = nullptr;
        delete screen;
        GuiThing::mpScreen = nullptr;
    }

    // A window-level thing linked behind the existing children of parent.
    GuiThing* AddWindow(GuiThing* parent, const GuiRect& r) {
        auto* t = new GuiThing(r, 0, GST_FRAME_NONE);
        t->mStatus |= GS_VISIBLE | GS_VIEWPORT_OWNER;
        t->mClip = r & parent->mClip;
        Link(parent, t);
        return t;
    }
    // A plain visible thing inside a window.
    GuiThing* AddPlain(GuiThing* parent, const GuiRect& r) {
        auto* t = new GuiThing(r, 0, GST_FRAME_NONE);
        t->mStatus |= GS_VISIBLE;
        t->mClip = r & parent->mClip;
        Link(parent, t);
        return t;
    }
    static void Link(GuiThing* parent, GuiThing* t) {
        t->mpParent = parent;
        GuiThing** at = &parent->mpFirstChild;
        GuiThing* prev = nullptr;
        while (*at) {
            prev = *at;
            at = &(*at)->mpNext;
        }
        *at = t;
        t->mpPrev = prev;
    }

    // Moves t to the front of its siblings (first child of its parent).
    static void ToFront(GuiThing* t) {
        GuiThing* parent = t->mpParent;
        if (!parent || parent->mpFirstChild == t) return;
        if (t->mpPrev) t->mpPrev->mpNext = t->mpNext;
        if (t->mpNext) t->mpNext->mpPrev = t->mpPrev;
        t->mpPrev = nullptr;
        t->mpNext = parent->mpFirstChild;
        parent->mpFirstChild->mpPrev = t;
        parent->mpFirstChild = t;
    }

    // Draws inside a complete repaint bracket of area.
    template <class F>
    void Paint(GuiThing* t, const GuiRect& area, F&& draw) {
        screen->BeginDraw(t);
        screen->Invalidate(area);
        draw();
        screen->EndDraw();
    }
    template <class F>
    void Paint(GuiThing* t, F&& draw) { Paint(t, GuiRect(0, 0, 1023, 479), draw); }

    static uint32_t Px(int x, int y) { return gbVMemory[size_t(y) * 1024 + size_t(x)]; }
    // Number of frame-buffer pixels inside r equal to colour.
    static int Count(const GuiRect& r, uint32_t colour) {
        int n = 0;
        for (int y = r.top; y <= r.bottom; ++y)
            for (int x = r.left; x <= r.right; ++x) n += Px(x, y) == colour;
        return n;
    }
    // Number of pixels of the whole screen that changed.
    static int Changed() { return 1024 * 480 - Count(GuiRect(0, 0, 1023, 479), kUntouched); }
    static int Area(const GuiRect& r) { return r.Width() * r.Height(); }

    GuiScreen* screen = nullptr;
    GuiPresentationManager* root = nullptr;
};
