// The presentation manager: routing, focus, pointer capture, screen stack,
// the end of the message loop, windows of other tasks and a full GUI task
// start and stop.
#include <gtest/gtest.h>

#include <atomic>

#include "gui/draw/gui_screen.h"
#include "gui/core/test_thing_fixture.h"

namespace {

using GuiPresentation = GuiRuntimeTest;

GuiMessage PointerMsg(uint16_t type, int x, int y)
{
    GuiMessage m(type);
    m.SetPoint(GuiPoint{int16_t(x), int16_t(y)});
    return m;
}

TEST_F(GuiPresentation, ApplicationAndKeyMessagesReachTheFocusOwnerOrTheAddressedThing)
{
    Post(GuiMessage(GM_APPLICATION | 1));   // no receiver at all: dropped
    EXPECT_EQ(Pump(), 1);

    auto* back = new RecWindow(GuiRect(0, 0, 99, 99));
    auto* front = new RecWindow(GuiRect(200, 0, 299, 99));
    auto* named = new RecThing(GuiRect(10, 10, 20, 20), 42);
    named->mStatus &= uint16_t(~GS_ACCEPTS_FOCUS);
    back->Add(named, 0);
    pm->Add(back, 0);
    pm->Add(front, 0);
    EXPECT_EQ(pm->mpFocus, front);

    Post(GuiMessage(GM_APPLICATION | 1));
    Post(GuiMessage(GM_KEY, 13));
    Post(GuiMessage(GM_APPLICATION | 2, 42));
    Post(GuiMessage(GM_APPLICATION | 3, 77));   // no such id: the focus owner
    Pump();
    EXPECT_EQ(front->Count(GM_APPLICATION | 1), 1);
    EXPECT_EQ(front->Count(GM_KEY), 1);
    EXPECT_EQ(named->Count(GM_APPLICATION | 2), 1);
    EXPECT_EQ(front->Count(GM_APPLICATION | 2), 0);
    EXPECT_EQ(front->Count(GM_APPLICATION | 3), 1);

    // Without a focus owner other messages go to the first child; keys are dropped.
    pm->MoveFocusTree(pm);
    EXPECT_EQ(pm->mpFocus, nullptr);
    Post(GuiMessage(GM_APPLICATION | 4));
    Post(GuiMessage(GM_KEY, 1));
    Pump();
    EXPECT_EQ(pm->mpFirstChild, front);
    EXPECT_EQ(front->Count(GM_APPLICATION | 4), 1);
    EXPECT_EQ(front->Count(GM_KEY), 1);
}

TEST_F(GuiPresentation, PointerMovesEnterLeaveAndReleasesOutsideAreDropped)
{
    auto* win = new RecWindow(GuiRect(0, 0, 199, 199));
    auto* a = new RecThing(GuiRect(10, 10, 49, 49), 1);
    auto* b = new RecThing(GuiRect(60, 10, 99, 49), 2);
    win->Add(a, 0);
    win->Add(b, 0);
    pm->Add(win, 0);

    Post(PointerMsg(GM_POINTER_MOVE, 20, 20));
    Pump();
    EXPECT_EQ(a->Count(GM_POINTER_ENTER), 1);
    EXPECT_EQ(a->Count(GM_POINTER_MOVE), 0);   // a change delivers no move
    Post(PointerMsg(GM_POINTER_MOVE, 21, 20));
    Pump();
    EXPECT_EQ(a->Count(GM_POINTER_MOVE), 1);
    Post(PointerMsg(GM_POINTER_MOVE, 70, 20));
    Pump();
    EXPECT_EQ(a->Count(GM_POINTER_LEAVE), 1);
    EXPECT_EQ(b->Count(GM_POINTER_ENTER), 1);
    EXPECT_EQ(b->Count(GM_POINTER_MOVE), 0);

    // Press on b, release over a: the release is dropped.
    Post(PointerMsg(GM_POINTER_PRESS, 70, 20));
    Post(PointerMsg(GM_POINTER_RELEASE, 20, 20));
    Pump();
    EXPECT_EQ(b->Count(GM_POINTER_PRESS), 1);
    EXPECT_EQ(a->Count(GM_POINTER_RELEASE) + b->Count(GM_POINTER_RELEASE), 0);

    // With a capture the release reaches the capturing thing wherever it is.
    b->CapturePointer();
    Post(PointerMsg(GM_POINTER_RELEASE, 20, 20));
    Post(PointerMsg(GM_POINTER_MOVE, 25, 25));
    Pump();
    EXPECT_EQ(b->Count(GM_POINTER_RELEASE), 1);
    EXPECT_EQ(b->Count(GM_POINTER_MOVE), 1);
    EXPECT_EQ(a->Count(GM_POINTER_MOVE), 1);
    b->ReleasePointer();
}

TEST_F(GuiPresentation, PressMovesTheFocusToTheNearestFocusTakingAncestor)
{
    auto* w1 = new RecWindow(GuiRect(0, 0, 99, 99));
    auto* w2 = new RecWindow(GuiRect(200, 0, 299, 99));
    auto* panel = new RecThing(GuiRect(210, 10, 280, 80), 1);
    auto* label = new RecThing(GuiRect(220, 20, 230, 30), 2);
    label->mStatus &= uint16_t(~GS_ACCEPTS_FOCUS);
    panel->mStatus |= GS_KEEPS_FOCUS;
    panel->Add(label, 0);
    w2->Add(panel, 0);
    pm->Add(w2, 0);
    pm->Add(w1, 0);
    EXPECT_EQ(pm->mpFocus, w1);
    EXPECT_FALSE(w2->mStatus & GS_FOCUS_BRANCH);

    Post(PointerMsg(GM_POINTER_PRESS, 225, 25));
    Pump();
    EXPECT_EQ(label->Count(GM_POINTER_PRESS), 1);
    EXPECT_EQ(pm->mpFocus, panel);
    EXPECT_TRUE(w2->mStatus & GS_FOCUS_BRANCH);
    EXPECT_FALSE(w1->mStatus & GS_FOCUS_BRANCH);
    EXPECT_EQ(pm->mpFirstChild, w2);   // brought to the front
    EXPECT_FALSE(label->mStatus & GS_FOCUS_BRANCH);
}

TEST_F(GuiPresentation, CapturesNestEightDeepAndHandTheFocusBack)
{
    auto* win = new RecWindow(GuiRect(0, 0, 99, 99));
    pm->Add(win, 0);
    RecThing* t[9];
    for (int i = 0; i < 9; ++i) {
        t[i] = new RecThing(GuiRect(i, 0, i, 0), uint16_t(i + 1));
        win->AddToEnd(t[i], 0);
    }
    GuiThing* focus = pm->mpFocus;
    for (int i = 0; i < 9; ++i) pm->CapturePointer(t[i]);
    EXPECT_EQ(pm->mCaptureCount, GUI_CAPTURE_DEPTH);
    EXPECT_EQ(pm->GetPointerOwner(), t[7]);
    EXPECT_FALSE(t[8]->mStatus & GS_CAPTURE);   // the ninth was ignored
    EXPECT_EQ(pm->mpFocus, t[7]);

    pm->ReleasePointer(t[3]);   // from the middle: the top stays
    EXPECT_EQ(pm->GetPointerOwner(), t[7]);
    EXPECT_FALSE(t[3]->mStatus & GS_CAPTURE);
    pm->ReleasePointer(t[7]);
    EXPECT_EQ(pm->GetPointerOwner(), t[6]);
    EXPECT_EQ(pm->mpFocus, t[6]);
    pm->ReleasePointer(t[8]);   // holds none: nothing happens
    EXPECT_EQ(pm->mCaptureCount, 6);

    // Removing things that hold captures releases them.
    win->Remove(t[6], 0);
    win->Remove(t[5], 0);
    EXPECT_EQ(pm->GetPointerOwner(), t[4]);
    for (int i : {0, 1, 2, 4}) pm->ReleasePointer(t[i]);
    EXPECT_EQ(pm->GetPointerOwner(), nullptr);
    EXPECT_EQ(pm->mpFocus, focus);
    delete t[5];
    delete t[6];
}

TEST_F(GuiPresentation, ScreenStackHoldsTwentyAndPopsInReverse)
{
    RecWindow* w[21];
    for (int i = 0; i < 21; ++i) w[i] = new RecWindow(GuiRect(0, 0, 50, 50), uint16_t(i + 1));
    pm->Add(w[0], 0);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(pm->ScreenPush(w[i], w[i + 1], 1, 0, 0, 0), 1);
    EXPECT_EQ(pm->ScreenStackDepth(), 20);
    EXPECT_EQ(pm->ScreenPush(w[20], w[0], 1, 0, 0, 0), 0);   // the 21st is refused
    EXPECT_EQ(pm->ScreenPush(w[20], nullptr, 1, 0, 0, 0), 0);
    EXPECT_EQ(pm->mpFirstChild, w[20]);
    EXPECT_EQ(pm->mpFirstChild->mpNext, nullptr);

    EXPECT_EQ(pm->ScreenPop(w[20], 1, 0, 0), w[19]);   // removed, kept
    EXPECT_EQ(pm->mpFirstChild, w[19]);
    EXPECT_EQ(w[20]->mpParent, nullptr);
    delete w[20];
    EXPECT_EQ(pm->ScreenPop(w[19], 1, 1, 0), w[18]);   // destroyed
    EXPECT_EQ(pm->mpFirstChild, w[18]);
    EXPECT_EQ(pm->mpFirstChild->mpNext, nullptr);
    EXPECT_EQ(pm->ScreenStackDepth(), 18);
    // The rest is destroyed with the manager's stack.
    pm->ScreenStackReset(0, 1, 0);
    EXPECT_EQ(pm->ScreenStackDepth(), 0);
    EXPECT_EQ(pm->ScreenPop(), nullptr);
}

TEST_F(GuiPresentation, RemovingTheFocusedWindowGivesTheFocusToTheNextOne)
{
    auto* w1 = new RecWindow(GuiRect(0, 0, 99, 99));
    auto* w2 = new RecWindow(GuiRect(0, 0, 99, 99));
    pm->Add(w1, 0);
    pm->Add(w2, 0);
    ASSERT_EQ(pm->mpFocus, w2);
    pm->Remove(w2, 0);
    EXPECT_EQ(pm->mpFocus, nullptr);
    EXPECT_EQ(Pump(), 1);   // message 39
    EXPECT_EQ(pm->mpFocus, w1);
    EXPECT_TRUE(w1->mStatus & GS_FOCUS_BRANCH);
    EXPECT_EQ(w1->Count(GM_FOCUS_GAINED), 2);
    delete w2;
}

TEST_F(GuiPresentation, CloseLoopFromAWindowEndsAtOnceFromItselfOnlyWhenEmpty)
{
    auto* w = new RecWindow(GuiRect(0, 0, 9, 9));
    pm->Add(w, 0);
    Post(GuiMessage(GM_CLOSE_LOOP, 0, pm, pm));
    EXPECT_EQ(Pump(), 1);   // children remain: ignored
    Post(GuiMessage(GM_CLOSE_LOOP, 0, pm, w));
    EXPECT_EQ(Pump(), GUI_RESULT_QUIT);
    EXPECT_EQ(pm->mpFocus, nullptr);

    pm->Remove(w, 0);
    delete w;
    Pump();
    Post(GuiMessage(GM_CLOSE_LOOP, 0, pm, pm));
    GuiMessage m;
    ASSERT_TRUE(mq->TryPop(&m));
    EXPECT_EQ(pm->DispatchMessage(pm, &m), 0);   // first pass: posted again
    EXPECT_EQ(Pump(), GUI_RESULT_QUIT);
}

TEST_F(GuiPresentation, ScratchPadKeepsAPrivateCopy)
{
    char text[] = "copy me";
    pm->SetScratchPad(text);
    text[0] = 'X';
    EXPECT_STREQ(pm->mpScratchPad, "copy me");
    pm->SetScratchPad("");
    EXPECT_EQ(pm->mpScratchPad, nullptr);
    pm->SetScratchPad("again");
    pm->ClearScratchPad();
    EXPECT_EQ(pm->mpScratchPad, nullptr);
}

// A window executed by another task gets its messages through that task's
// queue; closing it ends the task's loop and the GUI task deletes it.
TEST_F(GuiPresentation, WindowOfAnotherTaskReceivesItsMessagesThere)
{
    struct Counter : RecThing {
        using RecThing::RecThing;
        int Message(const GuiMessage& m) override {
            if (m.type == (GM_APPLICATION | 9)) {
                handler = taskIdSelf();
                semGive(done);
            }
            return RecThing::Message(m);
        }
        SEM_ID done = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
        TASK_ID handler = nullptr;
    };
    auto* win = new RecWindow(GuiRect(0, 0, 99, 99));
    auto* kid = new Counter(GuiRect(1, 1, 9, 9), 5);
    win->Add(kid, 0);
    ASSERT_EQ(giCriticalNesting, 0);
    std::atomic<int> result{0};
    TASK_ID sub = taskSpawn("t_subwin", 100, 0, 65536, [&] { result = win->Execute(1); });
    ASSERT_NE(sub, nullptr);
    while (!pm->GetThingMessageQueue(kid)) taskDelay(1);

    Post(GuiMessage(GM_APPLICATION | 9, 0, kid));
    ASSERT_EQ(semTake(kid->done, 10000), OK);
    EXPECT_EQ(kid->handler, sub);
    SEM_ID done = kid->done;

    Post(GuiMessage(GM_CLOSE, 0, win));
    ASSERT_EQ(taskWait(sub, 10000), OK);
    EXPECT_EQ(result.load(), GUI_RESULT_CLOSED);
    EXPECT_EQ(pm->mpFirstChild, nullptr);
    EXPECT_EQ(pm->GetThingMessageQueue(win), nullptr);
    EXPECT_EQ(Pump(), 1);   // the deferred delete
    semDelete(done);
}

// The real tasks: start, a timer running on the timer task, a clean stop.
TEST(GuiTasks, StartRunAndStopCleanly)
{
    struct Ticker : RecThing {
        using RecThing::RecThing;
        int Message(const GuiMessage& m) override {
            if (m.type == GM_TIMER && ++ticks == 2) semGive(done);
            return RecThing::Message(m);
        }
        SEM_ID done = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
        int ticks = 0;
    };
    static Ticker* ticker = nullptr;
    static SEM_ID ticked = nullptr;
    auto init = [](GuiPresentationManager* p) {
        ticker = new Ticker(GuiRect(0, 0, 9, 9), 1);
        ticked = ticker->done;
        p->Add(ticker, 1);
        GuiThing::mpMessageQueue->SetTimer(ticker, 1, 1, 1);
    };
    struct Ctx { SEM_ID started; GuiAppInit init; } ctx{semBCreate(SEM_Q_FIFO, SEM_EMPTY), init};
    TASK_ID gui = taskSpawn("r_GuiMn", 121, 0, 500000, [&ctx] {
        if (!GuiStartUp(ctx.started, ctx.init)) return;
        GuiRunMessageLoop();
        GuiTearDown();
    });
    TASK_ID timer = taskSpawn("r_t_GuiTmr", 120, 0, 500000, GuiTimerTask, 0);
    ASSERT_NE(gui, nullptr);
    ASSERT_NE(timer, nullptr);
    ASSERT_EQ(semTake(ctx.started, 10000), OK);
    EXPECT_EQ(gbGuiInitialized.load(), 1);
    ASSERT_EQ(semTake(ticked, 10000), OK);

    GuiMessage quit(GM_CLOSE_LOOP, 0, GuiThing::mpPresentation, nullptr);
    GuiThing::mpMessageQueue->Push(&quit);
    ASSERT_EQ(taskWait(gui, 10000), OK);
    EXPECT_EQ(GuiThing::mpPresentation, nullptr);
    EXPECT_EQ(gpGuiMesgQueue, nullptr);
    GuiTimerTaskStep();   // the timer task finds no queue and posts nothing
    EXPECT_EQ(taskDelete(timer), OK);
    GuiDeleteLocks();
    semDelete(ctx.started);
    semDelete(ticked);
}

// A shutdown while the GUI task is still starting: the task skips its loop
// and tears down, instead of waiting in a loop that nobody will end.
TEST(GuiTasks, QuitAskedDuringTheStartUpEndsTheTask)
{
    gbGuiInitialized = 0;   // as in a process whose GUI has not started yet
    auto init = [](GuiPresentationManager*) { GuiRequestQuit(); };
    struct Ctx { SEM_ID started; GuiAppInit init; } ctx{semBCreate(SEM_Q_FIFO, SEM_EMPTY), init};
    TASK_ID gui = taskSpawn("r_GuiMn", 121, 0, 500000, [&ctx] {
        if (!GuiStartUp(ctx.started, ctx.init)) return;
        GuiRunMessageLoop();
        GuiTearDown();
    });
    ASSERT_NE(gui, nullptr);
    ASSERT_EQ(taskWait(gui, 10000), OK);
    EXPECT_EQ(GuiThing::mpPresentation, nullptr);
    EXPECT_EQ(gpGuiMesgQueue, nullptr);
    GuiDeleteLocks();
    semDelete(ctx.started);
}

}  // namespace
