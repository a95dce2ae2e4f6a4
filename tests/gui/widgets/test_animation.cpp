// Animations on the GUI timer, with the real queue and frame-buffer driver:
// frame lists shown in order with their delays, looping, disposal, the
// parent's background after the last frame, and windows cycling frames.
#include <vector>

#include "gui/core/gui_queue.h"
#include "gui/core/test_runtime_pixels.h"
#include "gui/widgets/animation/gui_animation.h"

namespace {

constexpr uint32_t kBack = 0xFFFFFF, kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kGrey = 0x808080;

class GuiAnimationTest : public GuiRuntimeTest {
protected:
    void TearDown() override {
        host = nullptr;   // deleted with the presentation manager
        for (GuiBitmap* b : bitmaps) GuiThing::mpScreen->DestroyBitmap(b);
        GuiRuntimeTest::TearDown();
    }
    GuiWindow* Host() {
        host = new GuiWindow(GuiRect(0, 0, 399, 299), GST_FRAME_NONE);
        host->SetColor(0, kBack);
        pm->Add(host, 1);
        return host;
    }
    GuiBitmap* Solid(int w, int h, uint32_t colour) {
        GuiBitmap* b = GuiThing::mpScreen->CreateBitmap(w, h, 0);
        std::fill_n(reinterpret_cast<uint32_t*>(b->data), size_t(w) * h, colour);
        bitmaps.push_back(b);
        return b;
    }
    // One timer tick and the messages it causes.
    void Tick() {
        GuiTimerTaskStep();
        Pump();
    }
    // The pixel (x, y) now and after each of ticks ticks.
    std::vector<uint32_t> Watch(int ticks, int x, int y) {
        std::vector<uint32_t> seen{Pixel(x, y)};
        for (int tick = 0; tick < ticks; ++tick) {
            Tick();
            seen.push_back(Pixel(x, y));
        }
        return seen;
    }

    GuiWindow* host = nullptr;
    std::vector<GuiBitmap*> bitmaps;
};

TEST_F(GuiAnimationTest, ThreeFramesShowInOrderThenTheParentsBackground)
{
    Host();
    GuiAnimationFrame frames[] = {{Solid(20, 20, kRed), 2, 0, 0, 0},
                                  {Solid(20, 20, kGreen), 2, 0, 0, 0},
                                  {Solid(20, 20, kBlue), 2, 0, 0, 0},
                                  {nullptr, 0, 0, 0, 0}};
    auto* a = new GuiAnimation(GuiRect(50, 50, 69, 69), frames, 3, GST_FRAME_NONE);
    frames[0].bitmap = nullptr;   // the animation keeps a copy of the list
    host->Add(a, 1);
    EXPECT_EQ(a->mType, GT_ANIMATION);
    EXPECT_EQ(Pixel(60, 60), kBack);   // stopped: nothing drawn
    a->Start(0);
    EXPECT_EQ(Watch(8, 60, 60),
              (std::vector<uint32_t>{kRed, kRed, kGreen, kGreen, kBlue, kBlue, kBack, kBack, kBack}));
    EXPECT_FALSE(a->IsRunning());
    EXPECT_EQ(mq->FindTimer(a, GUI_ANIMATION_TIMER), nullptr);
    EXPECT_EQ(a->miFrame, 0);

    // Looping: frame 0 follows frame 2.
    a->SetMode(GUI_ANIM_LOOP);
    a->Start(-1);
    EXPECT_EQ(Watch(8, 60, 60),
              (std::vector<uint32_t>{kRed, kRed, kGreen, kGreen, kBlue, kBlue, kRed, kRed, kGreen}));
    // Stop: gone at once; the pending expiry finds it stopped.
    a->Stop();
    EXPECT_EQ(Pixel(60, 60), kBack);
    Tick();
    Tick();
    EXPECT_EQ(Pixel(60, 60), kBack);
    // Hiding kills the timers.
    a->Start(1);
    EXPECT_EQ(Pixel(60, 60), kGreen);
    host->Remove(a, 1);
    EXPECT_EQ(mq->FindTimer(a, GUI_ANIMATION_TIMER), nullptr);
    EXPECT_FALSE(a->IsRunning());
    delete a;
}

TEST_F(GuiAnimationTest, FramesOutsideTheListAndEmptyListsAreRefused)
{
    Host();
    GuiAnimationFrame none[] = {{nullptr, 5, 0, 0, 0}, {nullptr, 0, 0, 0, 0}};
    auto* a = new GuiAnimation(GuiRect(50, 50, 69, 69), none, 3, GST_FRAME_NONE);
    host->Add(a, 1);
    a->Start(0);
    EXPECT_FALSE(a->IsRunning());
    EXPECT_EQ(a->FrameCount(), 0);

    GuiAnimationFrame two[] = {{Solid(20, 20, kRed), 3, 0, 0, 0}, {Solid(20, 20, kGreen), 3, 0, 0, 0},
                               {nullptr, 0, 0, 0, 0}};
    a->AssignFrameList(two);
    a->Start(5);
    EXPECT_FALSE(a->IsRunning());
    a->Start(1);
    EXPECT_EQ(Pixel(60, 60), kGreen);
    a->SetCurrentFrame(-3);
    a->SetCurrentFrame(2);
    EXPECT_EQ(a->miFrame, 1);
    // Left without frames while running: stops and draws nothing more.
    a->AssignFrameList(none);
    EXPECT_FALSE(a->IsRunning());
    EXPECT_EQ(mq->FindTimer(a, GUI_ANIMATION_TIMER), nullptr);
    for (int tick = 0; tick < 5; ++tick) Tick();
    a->InitializeFrameList(nullptr);
    a->Start(-1);
    EXPECT_FALSE(a->IsRunning());
}

TEST_F(GuiAnimationTest, DisposalClearsOrRedrawsThePreviousFrameWhereItWas)
{
    Host();
    // A thin frame: the client area is one pixel in from the outer corner.
    GuiAnimationFrame frames[] = {{Solid(10, 10, kRed), 1, 2, 2, 0},
                                  {Solid(4, 4, kGreen), 1, 20, 20, 4},
                                  {Solid(4, 4, kBlue), 1, 30, 2, 2},
                                  {nullptr, 0, 0, 0, 0}};
    auto* a = new GuiAnimation(GuiRect(100, 100, 139, 139), frames, 3, GST_FRAME_THIN);
    a->SetColor(0, kGrey);
    a->SetMode(GUI_ANIM_HOLD);
    host->Add(a, 1);
    a->Start(0);
    EXPECT_EQ(Pixel(102, 102), kRed);
    EXPECT_EQ(Pixel(120, 120), kGrey);
    Tick();   // disposal 4: the red frame again at outer + (2, 2), the green one beside it
    EXPECT_EQ(Pixel(102, 102), kRed);
    EXPECT_EQ(Pixel(101, 101), kGrey);
    EXPECT_EQ(Pixel(112, 112), kGrey);   // not one pixel further in, at the client origin
    EXPECT_EQ(Pixel(121, 121), kGreen);
    Tick();   // disposal 2: cleared first
    EXPECT_EQ(Pixel(102, 102), kGrey);
    EXPECT_EQ(Pixel(121, 121), kGrey);
    EXPECT_EQ(Pixel(131, 103), kBlue);
    Tick();   // end without loop, held: the last frame stays
    EXPECT_FALSE(a->IsRunning());
    EXPECT_EQ(Pixel(131, 103), kBlue);
}

TEST_F(GuiAnimationTest, DeletedWithItsParentNoTimerOutlivesIt)
{
    Host();
    GuiAnimationFrame frames[] = {{Solid(20, 20, kRed), 1, 0, 0, 0}, {Solid(20, 20, kGreen), 1, 0, 0, 0},
                                  {nullptr, 0, 0, 0, 0}};
    auto* a = new GuiAnimation(GuiRect(50, 50, 69, 69), frames, 3, GST_FRAME_NONE);
    host->Add(a, 1);
    a->Start(0);
    a->Stop();   // the frame timer stays pending
    GuiBitmap* list[] = {Solid(5, 5, kBlue)};
    auto* w = new GuiAnimationWindow(GuiRect(0, 0, 30, 30), nullptr, list, 1, 0, 0, nullptr, GST_FRAME_NONE);
    host->Add(w, 1);
    w->Run(1, 0);
    GuiTimerTaskStep();   // both expire: messages queued for them
    delete host;   // unlinked without being hidden first
    EXPECT_EQ(mq->FindTimer(a, GUI_ANIMATION_TIMER), nullptr);
    EXPECT_EQ(mq->FindTimer(w, GUI_ANIMATION_WINDOW_TIMER), nullptr);
    Tick();   // nothing left to reach the deleted things
}

TEST_F(GuiAnimationTest, ShownWithAutostartItRuns)
{
    Host();
    GuiAnimationFrame frames[] = {{Solid(20, 20, kRed), 2, 0, 0, 0}, {nullptr, 0, 0, 0, 0}};
    auto* a = new GuiAnimation(GuiRect(50, 50, 69, 69), frames, 3, GST_FRAME_NONE);
    a->SetMode(GUI_ANIM_AUTOSTART | GUI_ANIM_LOOP);
    host->Add(a, 1);
    EXPECT_TRUE(a->IsRunning());
    EXPECT_EQ(Pixel(60, 60), kRed);
    EXPECT_NE(mq->FindTimer(a, GUI_ANIMATION_TIMER), nullptr);
}

TEST_F(GuiAnimationTest, WindowOfFourFramesCyclesOnePerPeriod)
{
    const uint32_t colours[] = {kRed, kGreen, kBlue, kGrey};
    GuiBitmap* frames[4];
    for (int i = 0; i < 4; ++i) frames[i] = Solid(10, 10, colours[i]);
    GuiBitmap* back = Solid(100, 80, kBack);
    auto* w = new GuiAnimationWindow(GuiRect(20, 20, 119, 99), back, frames, 4, 30, 40, nullptr, GST_FRAME_NONE);
    pm->Add(w, 1);
    EXPECT_EQ(w->mType, GT_ANIMATION_WINDOW);
    EXPECT_EQ(Pixel(55, 65), kBack);
    w->SetFrame(0);
    w->Run(3, 0);
    const std::vector<uint32_t> seen = Watch(12, 55, 65);
    const uint32_t order[] = {kRed, kGreen, kBlue, kGrey, kRed};
    for (int tick = 0; tick <= 12; ++tick) EXPECT_EQ(seen[size_t(tick)], order[tick / 3]) << tick;

    // Frames that do not exist are refused.
    w->SetFrame(200);
    EXPECT_EQ(w->mCurFrame, 0);
    EXPECT_EQ(Pixel(55, 65), kRed);
    w->Stop();
    EXPECT_EQ(mq->FindTimer(w, GUI_ANIMATION_WINDOW_TIMER), nullptr);
}

TEST_F(GuiAnimationTest, WindowWithoutFramesDrawsNothingAndStops)
{
    auto* w = new GuiAnimationWindow(GuiRect(20, 20, 119, 99), nullptr, nullptr, 0, 0, 0, nullptr, GST_FRAME_NONE);
    pm->Add(w, 1);
    w->Run(1, 0);
    EXPECT_EQ(mq->FindTimer(w, GUI_ANIMATION_WINDOW_TIMER), nullptr);
    w->SetFrame(0);
    // Frames taken away while it cycles: the next expiry stops it.
    GuiBitmap* one = Solid(10, 10, kRed);
    w->SetAnimationList(&one);
    w->mFrameCount = 1;
    w->Run(1, 7);
    EXPECT_EQ(w->mCurFrame, 0);
    w->mFrameCount = 0;
    Tick();
    EXPECT_EQ(mq->FindTimer(w, GUI_ANIMATION_WINDOW_TIMER), nullptr);
    EXPECT_EQ(CountColour(GuiRect(20, 20, 119, 99), kRed), 0);
    // Hidden: the timer goes.
    w->mFrameCount = 1;
    w->Run(2, 0);
    pm->Remove(w, 1);
    EXPECT_EQ(mq->FindTimer(w, GUI_ANIMATION_WINDOW_TIMER), nullptr);
    delete w;
}

}  // namespace
