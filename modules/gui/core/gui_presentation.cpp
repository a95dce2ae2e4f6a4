// The presentation manager: message loop, routing, focus, pointer capture,
// sub-task windows, screen stack and scratch pad.
#include "gui/core/gui_presentation.h"

#include <cstring>

#include "gui/draw/gui_screen.h"
#include "gui/core/gui_task.h"

namespace {

int deliver(GuiThing* to, const GuiMessage& msg) { return to ? to->Message(msg) : 0; }

bool isExecutingWindow(GuiThing* t)
{
    return t && t->IsWindow() && static_cast<GuiWindow*>(t)->mExecuting;
}

GuiQueue* queueOfTask(const GuiTaskRecord* list, TASK_ID task)
{
    for (const GuiTaskRecord* r = list; r; r = r->next)
        if (r->task == task) return r->queue;
    return nullptr;
}

// Deletes a record taken off the list, and its queue unless a record still
// in the list shares it (a task executing nested windows has one queue).
void dropTaskRecord(GuiTaskRecord* r, const GuiTaskRecord* list)
{
    bool shared = false;
    for (const GuiTaskRecord* o = list; o; o = o->next) shared |= o->queue == r->queue;
    if (!shared) GuiDeleteMessageQueue(r->queue);
    delete r;
}

}  // namespace

GuiPresentationManager::GuiPresentationManager(const GuiRect& rect)
    : GuiWindow(rect, GST_FRAME_NONE),
      mpTasks(nullptr),
      mpFocus(nullptr),
      mpSavedFocus(nullptr),
      mpPointerOver(nullptr),
      mCapture{},
      mpScreenStack(new GuiThing*[GUI_SCREEN_STACK]()),
      mScreenIndex(GUI_SCREEN_STACK),
      mpScratchPad(nullptr),
      mCaptureCount(0),
      mFocusRestorePending(0)
{
    mColor[0] = 0;
    mStatus = GS_VIEWPORT_OWNER | GS_ACCEPTS_FOCUS | GS_FOCUS_BRANCH | GS_VISIBLE;   // 0x8043
}

GuiPresentationManager::~GuiPresentationManager()
{
    ScreenStackReset(0, 1, 0);
    delete[] mpScreenStack;
    mpScreenStack = nullptr;
    ClearScratchPad();
    while (GuiTaskRecord* r = mpTasks) {
        mpTasks = r->next;
        dropTaskRecord(r, mpTasks);
    }
    mTaskCount = 0;
    mpFocus = mpSavedFocus = mpPointerOver = nullptr;
    mCaptureCount = 0;
}

// ---- message loop and dispatch --------------------------------------------------------------

int GuiPresentationManager::Execute(int)
{
    GuiMessageQueue* mq = mpMessageQueue;
    if (!mq) return GUI_RESULT_QUIT;
    for (;;) {
        GuiMessage msg;
        mq->Pop(&msg);
        if (RouteMessageToTask(&msg)) continue;
        if (DispatchMessage(this, &msg) == GUI_RESULT_QUIT) return GUI_RESULT_QUIT;
    }
}

int GuiPresentationManager::DispatchMessage(GuiThing* start, GuiMessage* msg)
{
    if (!msg) return 0;
    if (msg->target) return msg->target->Message(*msg);
    const GuiPoint p = msg->Point();
    switch (msg->type) {
    case GM_POINTER_MOVE: {
        if (GuiThing* owner = GetPointerOwner()) return owner->Message(*msg);
        GuiThing* t = FindLowestThingContaining(start, p);
        if (t == mpPointerOver) return t == this ? 0 : deliver(t, *msg);
        // A change of the thing under the pointer: leave and enter instead
        // of the move itself.
        if (GuiThing* old = mpPointerOver) {
            GuiMessage leave(GM_POINTER_LEAVE, 0, old, nullptr);
            leave.SetPoint(p);
            old->Message(leave);
        }
        mpPointerOver = t;
        GuiMessage enter(GM_POINTER_ENTER, 0, t, nullptr);
        enter.SetPoint(p);
        return deliver(t, enter);
    }
    case GM_POINTER_PRESS:
    case GM_POINTER2_PRESS: {
        if (GuiThing* owner = GetPointerOwner()) return owner->Message(*msg);
        GuiThing* t = FindLowestThingContaining(start, p);
        mpPointerOver = t;
        if (t && t != mpFocus) {
            if (t->mStatus & GS_ACCEPTS_FOCUS)
                MoveFocusTree(t);
            else
                InsureBranchHasFocus(t);
        }
        return deliver(t, *msg);
    }
    case GM_POINTER_RELEASE:
    case GM_POINTER2_RELEASE:
        if (GuiThing* owner = GetPointerOwner()) return owner->Message(*msg);
        if (mpPointerOver && mpPointerOver->mOuter.Contains(p)) return mpPointerOver->Message(*msg);
        return 0;
    case GM_KEY:
    case GM_KEY2:
    case GM_CUT:
    case GM_COPY:
    case GM_PASTE:
        return deliver(mpFocus, *msg);
    default:
        break;
    }
    if (msg->type >= GM_APPLICATION && msg->data != 0)
        if (GuiThing* t = Find(uint16_t(msg->data), 1)) return t->Message(*msg);
    return deliver(mpFocus ? mpFocus : mpFirstChild, *msg);
}

int GuiPresentationManager::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_CLOSE:
        MessageChildren(msg);
        return 0;
    case GM_CLOSE_LOOP:
        if (msg.source != this || msg.data != 0) {
            // From the manager itself only once every window is gone.
            if (msg.source == this && mpFirstChild) return 0;
            MoveFocusTree(this);
            return GUI_RESULT_QUIT;
        }
        if (mpFirstChild) return 0;
        if (mpMessageQueue) {
            // Once more through the queue, so that what is still waiting
            // is handled first.
            GuiMessage again = msg;
            again.data = 1;
            mpMessageQueue->Push(&again);
        }
        return 0;
    case GM_RESTORE_FOCUS:
        if (mFocusRestorePending) {
            if (GuiThing* c = FirstChildWithStatus(GS_ACCEPTS_FOCUS)) {
                mpFocus = c;
                SetFocus(c);
            }
        }
        mFocusRestorePending = 0;
        return 0;
    default:
        return GuiWindow::Message(msg);
    }
}

// ---- routing to tasks that execute windows ----------------------------------------------------

int GuiPresentationManager::RouteMessageToTask(GuiMessage* msg)
{
    if (!msg || mTaskCount.load() == 0) return 0;
    GuiLock lock;
    GuiQueue* q = nullptr;
    if (msg->target) {
        q = GetThingMessageQueue(msg->target);
        if (!q) return 0;
        EnqueueTaskMessage(msg, q);
        return 1;
    }
    if (msg->type >= GM_POINTER_MOVE && msg->type <= GM_POINTER2_RELEASE) {
        GuiThing* t = GetPointerOwner();
        if (!t) t = FindLowestThingContaining(this, msg->Point());
        q = GetThingMessageQueue(t);
        if (!q || !mpMessageQueue) return 0;
        mpMessageQueue->Fold(msg, q);
        return 1;
    }
    if (msg->type == GM_KEY || msg->type == GM_KEY2) {
        q = GetThingMessageQueue(mpFocus);
        if (!q) return 0;
        EnqueueTaskMessage(msg, q);
        return 1;
    }
    return 0;
}

GuiQueue* GuiPresentationManager::GetThingMessageQueue(GuiThing* thing)
{
    if (!thing || thing == this || mTaskCount.load() == 0) return nullptr;
    GuiLock lock;
    for (GuiThing* t = thing; t && t != this; t = t->mpParent)
        for (GuiTaskRecord* r = mpTasks; r; r = r->next)
            if (r->window == t) return r->queue;
    return nullptr;
}

GuiQueue* GuiPresentationManager::GetCurrentMessageQueue()
{
    if (mTaskCount.load() == 0) return nullptr;
    GuiLock lock;
    return queueOfTask(mpTasks, taskIdSelf());
}

void GuiPresentationManager::BeginSubTaskExecute(GuiThing* window)
{
    GuiLock lock;
    TASK_ID self = taskIdSelf();
    GuiQueue* q = queueOfTask(mpTasks, self);
    if (!q) q = GuiCreateMessageQueue();
    if (!q) return;
    mpTasks = new GuiTaskRecord{mpTasks, window, self, q};
    ++mTaskCount;
}

void GuiPresentationManager::EndSubTaskExecute(GuiThing* window)
{
    GuiLock lock;
    for (GuiTaskRecord** link = &mpTasks; *link; link = &(*link)->next) {
        GuiTaskRecord* r = *link;
        if (r->window != window) continue;
        *link = r->next;
        --mTaskCount;
        dropTaskRecord(r, mpTasks);
        return;
    }
}

// ---- pointer search, focus, capture -------------------------------------------------------------

GuiThing* GuiPresentationManager::FindLowestThingContaining(GuiThing* start, GuiPoint p)
{
    GuiLock lock;
    GuiThing* result = start;
    GuiThing* c = start ? start->mpFirstChild : nullptr;
    while (c) {
        if (c->IsVisible() && c->mClip.Contains(p) && (c->mStatus & GS_SELECTABLE)) {
            result = c;
            c = c->mpFirstChild;
        } else {
            c = c->mpNext;
        }
    }
    return result;
}

GuiThing* GuiPresentationManager::FirstChildWithStatus(uint16_t bits) const
{
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext)
        if ((c->mStatus & bits) == bits) return c;
    return nullptr;
}

void GuiPresentationManager::MoveFocusTree(GuiThing* thing)
{
    if (!thing || (thing->mStatus & (GS_VISIBLE | GS_ACCEPTS_FOCUS)) != (GS_VISIBLE | GS_ACCEPTS_FOCUS)) return;
    GuiLock lock;
    if (mpFocus && mpFocus != thing && mpFocus->SignalAllowed(GUI_SIG_FOCUS_LOST))
        mpFocus->SendSignal(GUI_SIG_FOCUS_LOST);
    if (thing == this) {
        KillFocus(mpFirstChild);
        mpFocus = nullptr;
        return;
    }
    GuiThing* branch = thing;
    while (branch && !(branch->mStatus & GS_FOCUS_BRANCH)) branch = branch->mpParent;
    if (branch) KillFocus(branch->mpFirstChild);
    if (thing->mStatus & GS_FOCUS_BRANCH) {
        mpFocus = thing;
        return;
    }
    // Bring every window on the way up to the front of its siblings.
    for (GuiThing* t = thing; t && t != branch; t = t->mpParent) {
        GuiThing* parent = t->mpParent;
        if (!t->IsWindow() || !parent) continue;
        int overlaps = 0;
        GuiThing* cover = nullptr;
        for (GuiThing* s = parent->mpFirstChild; s && s != t; s = s->mpNext) {
            if (s->mOuter.Overlap(t->mOuter)) {
                ++overlaps;
                cover = s;
            }
        }
        if (overlaps > 1) {
            parent->Add(t, 1);
        } else {
            parent->Add(t, 0);
            if (overlaps == 1 && mpScreen) {
                mpScreen->Invalidate(t->mOuter & cover->mOuter);
                t->Draw();
            }
        }
    }
    mpFocus = thing;
    SetFocus(thing);
}

void GuiPresentationManager::SetFocus(GuiThing* thing)
{
    if (!thing) return;
    thing->Message(GuiMessage(GM_FOCUS_GAINED, 0, thing, this));
    if (thing->SignalAllowed(GUI_SIG_FOCUS_GAINED)) thing->SendSignal(GUI_SIG_FOCUS_GAINED);
}

void GuiPresentationManager::KillFocus(GuiThing* thing)
{
    for (GuiThing* t = thing; t; t = t->mpNext) {
        if (t->mStatus & GS_FOCUS_BRANCH) {
            t->Message(GuiMessage(GM_FOCUS_LOST, 0, t, this));
            return;
        }
    }
}

void GuiPresentationManager::InsureBranchHasFocus(GuiThing* thing)
{
    if (!thing) return;
    for (GuiThing* a = thing->mpParent; a && !(a->mStatus & GS_FOCUS_BRANCH); a = a->mpParent)
        if (a->mStatus & GS_ACCEPTS_FOCUS) MoveFocusTree(a);
}

void GuiPresentationManager::NullInput(GuiThing* thing)
{
    if (!thing) return;
    GuiLock lock;
    if (mpPointerOver && mpPointerOver->IsInside(thing)) mpPointerOver = nullptr;
    for (int i = int(mCaptureCount) - 1; i >= 0; --i)
        if (i < mCaptureCount && mCapture[i]->IsInside(thing)) ReleasePointer(mCapture[i]);
    // The focus saved for the end of the captures must not point into a
    // thing that leaves the screen either.
    if (mpSavedFocus && mpSavedFocus->IsInside(thing)) mpSavedFocus = nullptr;
    if (mpFocus && mpFocus->IsInside(thing)) mpFocus = FirstChildWithStatus(GS_ACCEPTS_FOCUS | GS_FOCUS_BRANCH);
}

void GuiPresentationManager::CapturePointer(GuiThing* thing)
{
    if (!thing) return;
    GuiLock lock;
    if (mCaptureCount >= GUI_CAPTURE_DEPTH) return;
    if (mCaptureCount == 0) mpSavedFocus = mpFocus;
    mpFocus = thing;
    mCapture[mCaptureCount++] = thing;
    thing->mStatus |= GS_CAPTURE;
}

void GuiPresentationManager::ReleasePointer(GuiThing* thing)
{
    if (!thing) return;
    GuiLock lock;
    if (!(thing->mStatus & GS_CAPTURE)) return;
    thing->mStatus &= uint16_t(~GS_CAPTURE);
    if (mCaptureCount == 0) {
        mpFocus = mpSavedFocus;
        return;
    }
    for (int i = int(mCaptureCount) - 1; i >= 0; --i) {
        if (mCapture[i] != thing) continue;
        for (int j = i; j + 1 < mCaptureCount; ++j) mCapture[j] = mCapture[j + 1];
        mCapture[--mCaptureCount] = nullptr;
        break;
    }
    if (mCaptureCount > 0) {
        GuiThing* top = mCapture[mCaptureCount - 1];
        mpFocus = top;
        top->mStatus |= GS_CAPTURE;
    } else {
        mpFocus = mpSavedFocus;
    }
}

GuiThing* GuiPresentationManager::GetPointerOwner()
{
    return mCaptureCount ? mCapture[mCaptureCount - 1] : nullptr;
}

// ---- top-level things --------------------------------------------------------------------------

void GuiPresentationManager::Add(GuiThing* thing, int draw)
{
    if (!thing) return;
    if (thing->IsWindow()) mFocusRestorePending = 0;
    GuiLock lock;
    if ((thing->mStatus & GS_ACCEPTS_FOCUS) && !thing->IsVisible()) {
        KillFocus(mpFirstChild);
        GuiThing::Add(thing, draw);
        mpFocus = thing;
        SetFocus(thing);
    } else {
        GuiThing::Add(thing, draw);
    }
}

GuiThing* GuiPresentationManager::Remove(GuiThing* thing, int draw)
{
    if (!thing) return nullptr;
    if (thing->mpParent == this && thing->IsWindow() && (thing->mStatus & GS_FOCUS_BRANCH))
        mFocusRestorePending = 1;
    GuiThing* removed = GuiThing::Remove(thing, draw);
    if (mpFirstChild && mFocusRestorePending && mpMessageQueue) {
        GuiMessage restore(GM_RESTORE_FOCUS, 0, this, this);
        mpMessageQueue->Push(&restore);
    }
    return removed;
}

// ---- screen stack -------------------------------------------------------------------------------

int GuiPresentationManager::ScreenPush(GuiThing* current, GuiThing* next, int remove, int drawOnRemove,
                                       int center, int execute)
{
    if (!next || mScreenIndex <= 0) return 0;
    mpScreenStack[--mScreenIndex] = current;
    if (remove && current) Remove(current, drawOnRemove);
    if (center) Center(next);
    if (execute && next->IsWindow()) static_cast<GuiWindow*>(next)->Execute(1);
    else Add(next, 1);
    return 1;
}

GuiThing* GuiPresentationManager::ScreenPop(GuiThing* current, int remove, int destroy, int draw)
{
    if (mScreenIndex >= GUI_SCREEN_STACK) return nullptr;
    if (current) {
        if (isExecutingWindow(current)) {
            // Its own loop must see the close, so it goes through the queue.
            GuiMessage close(GM_CLOSE, 0, current, this);
            if (mpMessageQueue) mpMessageQueue->Push(&close);
        } else if (destroy) {
            Destroy(current);
        } else if (remove) {
            Remove(current, draw);
        }
    }
    GuiThing* t = mpScreenStack[mScreenIndex];
    mpScreenStack[mScreenIndex++] = nullptr;
    if (t) Add(t, 1);
    return t;
}

GuiThing* GuiPresentationManager::ScreenPop() { return ScreenPop(nullptr, 1, 1, 0); }

void GuiPresentationManager::ScreenStackReset(int unstack, int destroy, int draw)
{
    if (!mpScreenStack) return;
    for (int i = mScreenIndex; i < GUI_SCREEN_STACK; ++i) {
        GuiThing* t = mpScreenStack[i];
        if (!t) continue;
        // A thing stacked twice is handled once.
        bool seen = false;
        for (int j = mScreenIndex; j < i; ++j) seen |= mpScreenStack[j] == t;
        if (seen) continue;
        if (unstack) {
            if (isExecutingWindow(t)) {
                GuiMessage close(GM_CLOSE, 0, t, this);
                if (mpMessageQueue) mpMessageQueue->Push(&close);
            } else if (t->IsVisible()) {
                Remove(t, draw);
            }
        } else if (destroy) {
            Destroy(t);
        }
    }
    for (int i = mScreenIndex; i < GUI_SCREEN_STACK; ++i) mpScreenStack[i] = nullptr;
    mScreenIndex = GUI_SCREEN_STACK;
}

// ---- scratch pad ----------------------------------------------------------------------------------

void GuiPresentationManager::SetScratchPad(const char* text)
{
    ClearScratchPad();
    if (!text || !*text) return;
    size_t n = std::strlen(text) + 1;
    mpScratchPad = new char[n];
    std::memcpy(mpScratchPad, text, n);
}

void GuiPresentationManager::ClearScratchPad()
{
    delete[] mpScratchPad;
    mpScratchPad = nullptr;
}
