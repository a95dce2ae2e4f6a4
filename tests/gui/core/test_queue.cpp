// Message queue cells, folding, purging, timers and the timer task's tick.
#include <gtest/gtest.h>

#include "gui/core/test_thing_fixture.h"

namespace {

// ---- the bare queue -----------------------------------------------------------------------

TEST(GuiQueue, KeepsFortyOneInOrderAndDropsTheNext)
{
    GuiQueue* q = GuiCreateMessageQueue();
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < 42; ++i) {
        GuiMessage m(GM_APPLICATION | 1, i);
        EXPECT_EQ(EnqueueTaskMessage(&m, q), 1);   // a drop still reports 1
    }
    EXPECT_EQ(GuiQueuedMessages(q), GUI_QUEUE_CELLS);
    GuiMessage out;
    for (int i = 0; i < GUI_QUEUE_CELLS; ++i) {
        ASSERT_TRUE(GuiTryPopMessage(&out, q));
        EXPECT_EQ(out.data, i);
        EXPECT_EQ(out.next, nullptr);
    }
    EXPECT_FALSE(GuiTryPopMessage(&out, q));
    // The cells came back: the queue takes 41 again.
    for (int i = 0; i < GUI_QUEUE_CELLS; ++i) {
        GuiMessage m(GM_KEY, i);
        EXPECT_TRUE(GuiEnqueueMessage(&m, q));
    }
    GuiMessage extra(GM_KEY, 99);
    EXPECT_FALSE(GuiEnqueueMessage(&extra, q));
    GuiDeleteMessageQueue(q);
}

TEST(GuiQueue, PayloadCarriesAFullPointerRectangleAndPoint)
{
    GuiMessage m(GM_ADD_ICON);
    int anchor = 0;
    m.SetPointer(&anchor);
    GuiQueue* q = GuiCreateMessageQueue();
    EnqueueTaskMessage(&m, q);
    // Two pointers side by side (a request with two texts).
    const char* lines[2] = {"first", "second"};
    GuiMessage two(GM_APPLICATION | 0x0C);
    two.SetPointer(0, const_cast<char*>(lines[0]));
    two.SetPointer(1, const_cast<char*>(lines[1]));
    EnqueueTaskMessage(&two, q);
    GuiMessage r(GM_RESIZE);
    r.SetRect(GuiRect(-3, 4, 640, 32767));
    EnqueueTaskMessage(&r, q);
    GuiMessage out;
    ASSERT_TRUE(GuiTryPopMessage(&out, q));
    EXPECT_EQ(out.Pointer(), &anchor);
    ASSERT_TRUE(GuiTryPopMessage(&out, q));
    EXPECT_EQ(out.Pointer(0), lines[0]);
    EXPECT_EQ(out.Pointer(1), lines[1]);
    ASSERT_TRUE(GuiTryPopMessage(&out, q));
    EXPECT_EQ(out.Rect(), GuiRect(-3, 4, 640, 32767));
    EXPECT_EQ(out.Point().x, -3);
    EXPECT_EQ(out.Point().y, 4);
    GuiDeleteMessageQueue(q);
}

// ---- GUI queue service -----------------------------------------------------------------------

using GuiQueueService = GuiRuntimeTest;

TEST_F(GuiQueueService, FoldReplacesThePayloadOfAnEqualWaitingMessage)
{
    RecThing t(GuiRect(0, 0, 9, 9));
    GuiMessage a(GM_POINTER_MOVE, 0, &t);
    a.SetPoint(GuiPoint{1, 1});
    mq->Fold(&a);
    a.SetPoint(GuiPoint{5, 6});
    mq->Fold(&a);
    GuiMessage other(GM_POINTER_MOVE, 1, &t);   // different data: its own cell
    mq->Fold(&other);
    EXPECT_EQ(GuiQueuedMessages(gpGuiMesgQueue), 2);
    GuiMessage out;
    ASSERT_TRUE(mq->TryPop(&out));
    EXPECT_EQ(out.Point().x, 5);
    EXPECT_EQ(out.Point().y, 6);
}

TEST_F(GuiQueueService, PurgeDropsASubtreeByTypeAndData)
{
    RecThing parent(GuiRect(0, 0, 99, 99));
    auto* child = new RecThing(GuiRect(1, 1, 9, 9));
    parent.Add(child, 0);
    RecThing stranger(GuiRect(0, 0, 5, 5));
    GuiMessage m1(GM_TIMER, 1, child), m2(GM_TIMER, 2, child), m3(GM_REDRAW, 0, &parent),
        m4(GM_TIMER, 1, &stranger);
    for (GuiMessage* m : {&m1, &m2, &m3, &m4}) EnqueueTaskMessage(m, gpGuiMesgQueue);

    mq->Purge(&parent, GM_TIMER, 1);   // only the child's timer 1
    EXPECT_EQ(GuiQueuedMessages(gpGuiMesgQueue), 3);
    mq->Purge(&parent, 0, 0);          // everything of the subtree
    EXPECT_EQ(GuiQueuedMessages(gpGuiMesgQueue), 1);
    GuiMessage out;
    ASSERT_TRUE(mq->TryPop(&out));
    EXPECT_EQ(out.target, &stranger);
    // The count follows the queue: nothing phantom is left to pop.
    EXPECT_FALSE(mq->TryPop(&out));
}

TEST_F(GuiQueueService, TimersFireWithCountAndReloadAndOneShotsDisappear)
{
    auto* t = new RecThing(GuiRect(0, 0, 9, 9));
    pm->Add(t, 0);
    mq->SetTimer(t, 7, 2, 3);   // first after 2 ticks, then every 3
    mq->SetTimer(t, 8, 1, 0);   // one-shot after 1 tick
    std::vector<int> fired7, fired8;
    for (int tick = 1; tick <= 8; ++tick) {
        t->seen.clear();
        GuiTimerTaskStep();
        GuiTimerTaskStep();   // a second tick while one waits is not posted
        Pump();
        for (const auto& m : t->seen) {
            ASSERT_EQ(m.type, GM_TIMER);
            (m.data == 7 ? fired7 : fired8).push_back(tick);
        }
    }
    EXPECT_EQ(fired7, (std::vector<int>{2, 5, 8}));
    EXPECT_EQ(fired8, (std::vector<int>{1}));
    EXPECT_EQ(mq->FindTimer(t, 8), nullptr);
    ASSERT_NE(mq->FindTimer(t, 7), nullptr);

    // SetTimer on a running timer restarts it.
    mq->SetTimer(t, 7, 1, 0);
    t->seen.clear();
    GuiTimerTaskStep();
    Pump();
    EXPECT_EQ(t->Count(GM_TIMER), 1);
    EXPECT_EQ(mq->FindTimer(t, 7), nullptr);
}

TEST_F(GuiQueueService, ExpiriesOfABusyGuiFoldIntoOneAndTicksNeverReachHandlers)
{
    auto* t = new RecThing(GuiRect(0, 0, 9, 9));
    pm->Add(t, 0);
    mq->SetTimer(t, 1, 1, 1);
    mq->TimerTick();
    mq->TimerTick();
    EXPECT_EQ(GuiQueuedMessages(gpGuiMesgQueue), 1);
    t->seen.clear();
    Pump();
    EXPECT_EQ(t->Count(GM_TIMER), 1);

    GuiTimerTaskStep();   // the tick itself is consumed by the queue
    EXPECT_EQ(gbGuiTimerEventPending.load(), 1);
    EXPECT_EQ(Pump(), 1);
    EXPECT_EQ(t->Count(GM_TIMER), 2);
    for (const auto& m : t->seen) EXPECT_EQ(m.target, t);
    EXPECT_EQ(gbGuiTimerEventPending.load(), 0);
}

TEST_F(GuiQueueService, KillTimerStopsASubtreeOrOneTimer)
{
    auto* win = new RecWindow(GuiRect(0, 0, 99, 99));
    auto* child = new RecThing(GuiRect(1, 1, 9, 9));
    win->Add(child, 0);
    pm->Add(win, 0);
    RecThing other(GuiRect(0, 0, 1, 1));
    mq->SetTimer(win, 1, 1, 1);
    mq->SetTimer(child, 1, 1, 1);
    mq->SetTimer(child, 2, 5, 5);
    mq->SetTimer(&other, 1, 1, 1);
    mq->TimerTick();   // expiries of win 1, child 1 and other 1 wait

    // One timer: its own expiry goes, the child's expiry with the same id stays.
    mq->KillTimer(win, 1);
    EXPECT_EQ(mq->FindTimer(win, 1), nullptr);
    EXPECT_EQ(GuiQueuedMessages(gpGuiMesgQueue), 2);

    // id 0: the child's timers and waiting expiries go too.
    mq->KillTimer(win, 0);
    EXPECT_EQ(mq->FindTimer(child, 1), nullptr);
    EXPECT_EQ(mq->FindTimer(child, 2), nullptr);
    EXPECT_NE(mq->FindTimer(&other, 1), nullptr);
    GuiMessage out;
    ASSERT_TRUE(mq->TryPop(&out));
    EXPECT_EQ(out.target, &other);
    EXPECT_FALSE(mq->TryPop(&out));

    mq->SetTimer(nullptr, 4, 1, 1);   // no thing: no timer
    EXPECT_EQ(mq->FindTimer(nullptr, 4), nullptr);
    mq->KillTimer(&other, 9);   // no such timer: nothing happens
    EXPECT_NE(mq->FindTimer(&other, 1), nullptr);
    mq->KillTimer(&other, 0);
}

TEST_F(GuiQueueService, TimerCountOfZeroExpiresAtTheNextTick)
{
    auto* t = new RecThing(GuiRect(0, 0, 9, 9));
    pm->Add(t, 0);
    mq->SetTimer(t, 3, 0, 0);
    GuiTimerTaskStep();
    Pump();
    EXPECT_EQ(t->Count(GM_TIMER), 1);
    EXPECT_EQ(mq->FindTimer(t, 3), nullptr);
}

TEST_F(GuiQueueService, TickLostToAFullQueueDoesNotStopTheTimers)
{
    auto* t = new RecThing(GuiRect(0, 0, 9, 9));
    pm->Add(t, 0);
    mq->SetTimer(t, 1, 1, 1);
    for (int i = 0; i < GUI_QUEUE_CELLS; ++i) Post(GuiMessage(GM_APPLICATION | 2, 0, t));
    GuiTimerTaskStep();   // dropped: the queue is full
    EXPECT_EQ(gbGuiTimerEventPending.load(), 0);
    Pump();
    t->seen.clear();
    GuiTimerTaskStep();
    Pump();
    EXPECT_EQ(t->Count(GM_TIMER), 1);
}

TEST(GuiTimerTask, PostsNothingBeforeTheGuiStarted)
{
    ASSERT_EQ(gpGuiMesgQueue, nullptr);
    ASSERT_EQ(gbGuiTimerEventPending.load(), 1);
    GuiQueue* q = GuiCreateMessageQueue();
    gpGuiMesgQueue = q;
    GuiTimerTaskStep();
    EXPECT_EQ(GuiQueuedMessages(q), 0);
    gpGuiMesgQueue = nullptr;
    GuiDeleteMessageQueue(q);
}

}  // namespace
