// GuiThing: linking, ordering, clipping, drawing, resizing, finding and
// destroying screen objects, and their default message handling.
#include "gui/core/gui_thing.h"

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/draw/gui_screen.h"
#include "gui/core/gui_task.h"
#include "platform/syslogx.h"

GuiScreen* GuiThing::mpScreen = nullptr;
GuiPresentationManager* GuiThing::mpPresentation = nullptr;
GuiMessageQueue* GuiThing::mpMessageQueue = nullptr;

namespace {

constexpr uint16_t kGroupBits = GS_ON_TOP | GS_VIEWPORT_OWNER;

void invalidate(const GuiRect& r)
{
    if (GuiThing::mpScreen) GuiThing::mpScreen->Invalidate(r);
}

// Drops the timers and waiting messages of a thing that is about to go.
void dropQueued(GuiThing* thing)
{
    if (GuiMessageQueue* mq = GuiThing::mpMessageQueue) {
        mq->KillTimer(thing, 0);
        mq->Purge(thing, 0, 0);
    }
}

}  // namespace

GuiThing::GuiThing(const GuiRect& rect, unsigned short id, unsigned short style)
    : mColor{0, 0, 0, 0},
      mOuter(rect),
      mClient(rect),
      mClip(rect),
      mType(GT_THING),
      mStyle(style),
      mId(id),
      mStatus(GS_NEW_THING),
      mSignalMask(0),
      mpParent(nullptr),
      mpFirstChild(nullptr),
      mpNext(nullptr),
      mpPrev(nullptr),
      mpViewports(nullptr)
{
}

GuiThing::GuiThing(unsigned short id, unsigned short style) : GuiThing(GuiRect(0, 0, 0, 0), id, style) {}

GuiThing::~GuiThing()
{
    // A thing deleted while still linked leaves its parent's list first, so
    // no sibling keeps a pointer to freed memory.
    if (mpParent) {
        mpParent->Unlink(this);
        if (mpPresentation && mpPresentation != this) mpPresentation->NullInput(this);
        mpParent = nullptr;
    }
    while (GuiThing* c = mpFirstChild) {
        mpFirstChild = c->mpNext;
        c->mpParent = nullptr;   // the child need not unlink itself
        delete c;
    }
    if (mpViewports && mpScreen) {
        GuiLock lock;
        mpScreen->FreeViewports(this);
    }
}

const char* GuiThing::Version() { return "GUI Library Version 1.98.c"; }

bool GuiThing::IsInside(const GuiThing* ancestor) const
{
    for (const GuiThing* t = this; t; t = t->mpParent)
        if (t == ancestor) return true;
    return false;
}

bool GuiThing::SignalAllowed(unsigned char signal) const
{
    return mId != 0 && signal < 16 && (mSignalMask & (1u << signal)) && mpParent && mpParent->IsVisible();
}

// ---- linking ---------------------------------------------------------------------------

void GuiThing::Unlink(GuiThing* child)
{
    if (child->mpPrev) child->mpPrev->mpNext = child->mpNext;
    else if (mpFirstChild == child) mpFirstChild = child->mpNext;
    if (child->mpNext) child->mpNext->mpPrev = child->mpPrev;
    child->mpNext = child->mpPrev = nullptr;
}

// The first child of the group `thing` belongs to, searched from the front:
// a thing without the viewport-owner bit goes behind the run of owners, and
// one without the stay-in-front bit then behind the run of those.
static GuiThing* groupStart(GuiThing* first, const GuiThing* thing)
{
    GuiThing* c = first;
    if (!(thing->mStatus & GS_VIEWPORT_OWNER))
        while (c && c != thing && (c->mStatus & GS_VIEWPORT_OWNER)) c = c->mpNext;
    if (!(thing->mStatus & GS_ON_TOP))
        while (c && c != thing && (c->mStatus & GS_ON_TOP)) c = c->mpNext;
    return c;
}

static void linkBefore(GuiThing* parent, GuiThing* child, GuiThing* before)
{
    child->mpParent = parent;
    if (!before) {   // at the end
        GuiThing* last = parent->mpFirstChild;
        while (last && last->mpNext) last = last->mpNext;
        child->mpPrev = last;
        child->mpNext = nullptr;
        if (last) last->mpNext = child;
        else parent->mpFirstChild = child;
        return;
    }
    child->mpNext = before;
    child->mpPrev = before->mpPrev;
    if (before->mpPrev) before->mpPrev->mpNext = child;
    else parent->mpFirstChild = child;
    before->mpPrev = child;
}

void GuiThing::LinkBefore(GuiThing* child, GuiThing* before)
{
    linkBefore(this, child, before && before->mpParent == this ? before : nullptr);
}

void GuiThing::LinkAtFront(GuiThing* child)
{
    linkBefore(this, child, groupStart(mpFirstChild, child));
}

void GuiThing::ClipChild(GuiThing* child) const
{
    child->mClip = child->mOuter & mClip;
    if (!child->IsNonClient()) child->mClip &= mClient;
}

void GuiThing::UpdateChildClipping()
{
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext) {
        ClipChild(c);
        c->UpdateChildClipping();
    }
}

void GuiThing::ShowLinkedChild(GuiThing* child, int draw, bool drawChildItself)
{
    if (!IsVisible()) return;
    if (!child->IsVisible()) {
        child->mClip.right = int16_t(child->mClip.left - 1);
        child->Message(GuiMessage(GM_SHOW, 0, child, this));
    }
    ClipChild(child);
    child->UpdateChildClipping();
    if ((child->mStatus & GS_VIEWPORT_OWNER) && mpScreen) mpScreen->GenerateViewportList(this);
    if (draw && mpScreen) {
        invalidate(child->mClip);
        if (drawChildItself) child->Draw();
        else Draw();
    }
}

void GuiThing::Add(GuiThing* child, int draw)
{
    if (!child || child == this) return;
    GuiLock lock;
    if (child->mpParent == this) {
        if (mpFirstChild == child) return;
        Unlink(child);
    } else if (child->mpParent) {
        // A thing has one parent: it leaves the old one first.
        child->mpParent->Remove(child, 1);
    }
    LinkAtFront(child);
    ShowLinkedChild(child, draw, mpFirstChild == child);
}

void GuiThing::AddToEnd(GuiThing* child, int draw)
{
    if (!child || child == this || child->mpParent == this) return;
    GuiLock lock;
    if (child->mpParent) child->mpParent->Remove(child, 1);
    GuiThing* before = nullptr;
    if (child->mStatus & GS_VIEWPORT_OWNER) {
        before = mpFirstChild;
        while (before && (before->mStatus & GS_VIEWPORT_OWNER)) before = before->mpNext;
    }
    linkBefore(this, child, before);
    ShowLinkedChild(child, draw, true);
}

void GuiThing::MoveToFront(GuiThing* child, int draw)
{
    if (!child) return;
    if (child->mpParent != this) {
        if (child->mpParent) child->mpParent->MoveToFront(child, 1);
        return;
    }
    if (mpFirstChild == child) return;
    GuiLock lock;
    GuiThing* insert = groupStart(mpFirstChild, child);
    if (!insert || insert == child) return;

    // The end of the group: the last child for a plain thing, else the last
    // of the run that shares the child's group bits.
    GuiThing* end = child;
    uint16_t bits = child->mStatus & kGroupBits;
    while (end->mpNext && (bits == 0 || (end->mpNext->mStatus & kGroupBits) == bits)) end = end->mpNext;

    // Move child..end in front of insert, keeping their order.
    GuiThing* before = child->mpPrev;   // never null: insert lies in front
    GuiThing* after = end->mpNext;
    before->mpNext = after;
    if (after) after->mpPrev = before;
    end->mpNext = insert;
    child->mpPrev = insert->mpPrev;
    if (insert->mpPrev) insert->mpPrev->mpNext = child;
    else mpFirstChild = child;
    insert->mpPrev = end;

    if ((child->mStatus & GS_VIEWPORT_OWNER) && mpScreen) mpScreen->GenerateViewportList(this);
    if (draw && mpScreen && IsVisible()) {
        GuiRect formerFront = insert->mOuter;
        for (GuiThing* t = child; t != insert; t = t->mpNext) {
            if (t->IsVisible() && t->mClip.Overlap(formerFront)) {
                invalidate(t->mClip);
                t->Draw();
            }
        }
    }
}

GuiThing* GuiThing::Remove(GuiThing* child, int draw)
{
    if (!child) return nullptr;
    if (child->mpParent != this) return child->mpParent ? child->mpParent->Remove(child, draw) : nullptr;
    GuiLock lock;
    Unlink(child);
    if (child->IsVisible()) {
        if (mpPresentation) mpPresentation->NullInput(child);
        child->mStatus &= uint16_t(~GS_VISIBLE);
        invalidate(child->mClip);
        if ((child->mStatus & GS_VIEWPORT_OWNER) && mpScreen) {
            mpScreen->FreeViewports(child);
            mpScreen->GenerateViewportList(this);
        }
        child->Message(GuiMessage(GM_HIDE, 0, child, this));
        if (draw) Draw();
    }
    child->mpParent = nullptr;
    child->mpNext = child->mpPrev = nullptr;
    return child;
}

// ---- colours, geometry, search -------------------------------------------------------------

void GuiThing::SetColor(unsigned char index, unsigned long colour)
{
    if (index > 3) {
        syslogx(147, "GuiThing::SetColor: colour index %u outside 0 to 3", unsigned(index));
        return;
    }
    mColor[index] = uint32_t(colour);
    if (IsVisible()) invalidate(mOuter);
}

unsigned long GuiThing::GetColor(unsigned char index) { return index > 3 ? 255 : mColor[index]; }

void GuiThing::Center(GuiThing* child)
{
    if (!child) return;
    int w = child->mOuter.right - child->mOuter.left;
    int h = child->mOuter.bottom - child->mOuter.top;
    int left = mClient.left + (mClient.right - mClient.left - w) / 2;
    int top = mClient.top + (mClient.bottom - mClient.top - h) / 2;
    child->Resize(GuiRect(left, top, left + w, top + h));
}

GuiPoint GuiThing::CenterOf(GuiThing* other)
{
    const GuiRect& r = other->mOuter;
    return GuiPoint{int16_t((r.left + r.right) >> 1), int16_t((r.top + r.bottom) >> 1)};
}

void GuiThing::Draw()
{
    if (!mpScreen || !(IsVisible() || mpScreen->DrawingIntoBitmap())) return;
    mpScreen->BeginDraw(this);
    DrawChildren();
    mpScreen->EndDraw();
}

void GuiThing::DrawChildren()
{
    if (!mpScreen) return;
    GuiThing* last = mpFirstChild;
    while (last && last->mpNext) last = last->mpNext;
    for (GuiThing* c = last; c; c = c->mpPrev) {
        if (mpScreen->DrawingIntoBitmap()) {
            c->Draw();   // no invalid area while drawing into a bitmap
            continue;
        }
        if (mpScreen->InvalidCount() == 0) break;
        if (c->mClip.Overlap(mpScreen->InvalidRect())) c->Draw();
    }
}

void GuiThing::Resize(GuiRect rect)
{
    GuiLock lock;
    if (IsVisible()) invalidate(mClip);
    int dx = rect.left - mOuter.left;
    int dy = rect.top - mOuter.top;
    mOuter.Shift(dx, dy);
    mClient.Shift(dx, dy);
    int dr = rect.right - mOuter.right;
    int db = rect.bottom - mOuter.bottom;
    mOuter.right = rect.right;
    mOuter.bottom = rect.bottom;
    mClient.right = int16_t(mClient.right + dr);
    mClient.bottom = int16_t(mClient.bottom + db);
    if (dx || dy)
        for (GuiThing* c = mpFirstChild; c; c = c->mpNext) c->ParentShift(dx, dy);
    if (IsVisible()) {
        if (mpParent) mpParent->ClipChild(this);
        else mClip = mOuter;
        UpdateChildClipping();
        if ((mStatus & GS_VIEWPORT_OWNER) && mpParent && mpScreen) mpScreen->GenerateViewportList(mpParent);
        invalidate(mClip);
    }
}

void GuiThing::ParentShift(int dx, int dy)
{
    mOuter.Shift(dx, dy);
    mClient.Shift(dx, dy);
    mClip.Shift(dx, dy);
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext) c->ParentShift(dx, dy);
}

GuiThing* GuiThing::Find(unsigned short id, int recursive)
{
    GuiLock lock;
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext) {
        if (c->mId == id) return c;
        if (recursive)
            if (GuiThing* r = c->Find(id, 1)) return r;
    }
    return nullptr;
}

void GuiThing::AddStatus(unsigned short bits) { mStatus |= bits; }
void GuiThing::RemoveStatus(unsigned short bits) { mStatus &= uint16_t(~bits); }
unsigned short GuiThing::Style() { return mStyle; }
void GuiThing::Style(unsigned short style) { mStyle = style; }

void GuiThing::InitClient()
{
    mClient = mOuter;
    int frame = 0;
    if (mStyle & GST_FRAME_THICK) frame = 5;
    else if (mStyle & (GST_FRAME_RAISED | GST_FRAME_RECESSED)) frame = 2;
    else if (mStyle & GST_FRAME_THIN) frame = 1;
    if (frame) mClient -= frame;
}

// ---- signals, focus, capture -------------------------------------------------------------

void GuiThing::SendSignal(unsigned char signal)
{
    if (!mpParent || !mpMessageQueue) return;
    GuiMessage m(GuiSignalType(mId, signal), int16_t(mId), mpParent, this);
    mpMessageQueue->Push(&m);
}

void GuiThing::KillFocus(GuiThing* thing)
{
    if (thing) thing->Message(GuiMessage(GM_FOCUS_LOST, 0, thing, this));
}

void GuiThing::MoveFocusToFirstClientChild()
{
    GuiThing* found = nullptr;
    for (GuiThing* cur = this;;) {
        GuiThing* pick = nullptr;
        for (GuiThing* c = cur->mpFirstChild; c; c = c->mpNext) {
            if ((c->mStatus & (GS_NONCLIENT | GS_ACCEPTS_FOCUS)) == GS_ACCEPTS_FOCUS) {
                pick = c;
                break;
            }
        }
        if (!pick) break;
        found = pick;
        if ((pick->mStatus & GS_KEEPS_FOCUS) || !pick->mpFirstChild) break;
        cur = pick;
    }
    if (found && !(found->mStatus & GS_FOCUS_BRANCH) && mpPresentation) mpPresentation->MoveFocusTree(found);
}

void GuiThing::CapturePointer()
{
    if (mpPresentation) mpPresentation->CapturePointer(this);
}

void GuiThing::ReleasePointer()
{
    if (mpPresentation) mpPresentation->ReleasePointer(this);
}

void GuiThing::MessageChildren(const GuiMessage& msg)
{
    for (GuiThing* c = mpFirstChild; c;) {
        GuiThing* next = c->mpNext;   // a handler may unlink c
        c->Message(msg);
        c = next;
    }
}

// ---- destruction ----------------------------------------------------------------------------

void GuiThing::Destroy(GuiThing* thing)
{
    if (!thing || thing == mpPresentation) return;
    GuiPresentationManager* pm = mpPresentation;
    if (thing->IsWindow() && pm) {
        if (pm->GetThingMessageQueue(thing) != pm->GetCurrentMessageQueue()) {
            // Executed by another task: that task closes it.
            GuiMessage close(GM_CLOSE, 0, thing, this);
            if (mpMessageQueue) mpMessageQueue->Push(&close);
            return;
        }
        if (taskIdSelf() != tBaseGuiTask) {
            // A GUI-task window destroyed from another task: hidden now,
            // deleted by the GUI task.
            Remove(thing, 1);
            GuiMessage del(GM_DESTROY, 0, pm, thing);
            if (mpMessageQueue) mpMessageQueue->Push(&del);
            return;
        }
    }
    dropQueued(thing);
    if (thing->mpParent) thing->mpParent->Remove(thing, 1);
    if (thing == this) {
        // Deleted after the running handler returned.
        if (pm && mpMessageQueue) {
            GuiMessage del(GM_DESTROY, 0, pm, thing);
            mpMessageQueue->Push(&del);
        }
        return;
    }
    delete thing;
}

// ---- default message handling ---------------------------------------------------------------

int GuiThing::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_ADD:
        if (msg.target == this && msg.source) Add(msg.source, 1);
        return 0;
    case GM_REMOVE:
        if (msg.target == this && msg.source) Remove(msg.source, 1);
        return 0;
    case GM_DESTROY:
        if (msg.source && msg.source != this) {
            dropQueued(msg.source);
            delete msg.source;
        }
        return 0;
    case GM_RESIZE:
        Resize(msg.Rect());
        if (SignalAllowed(GUI_SIG_RESIZED)) SendSignal(GUI_SIG_RESIZED);
        return 0;
    case GM_HIDE:
        if ((mStatus & GS_FOCUS_BRANCH) && mpPresentation) mpPresentation->NullInput(this);
        mStatus &= uint16_t(~(GS_VISIBLE | GS_FOCUS_BRANCH));
        MessageChildren(msg);
        return 0;
    case GM_SHOW:
        mStatus |= GS_VISIBLE;
        MessageChildren(msg);
        return 0;
    case GM_POINTER_MOVE:
    case GM_POINTER_ENTER:
    case GM_POINTER_LEAVE:
    case GM_PARENT_SIZED:
        return 0;
    case GM_POINTER_PRESS:
        if (SignalAllowed(GUI_SIG_CLICKED)) {
            SendSignal(GUI_SIG_CLICKED);
            return 0;
        }
        return mpParent ? mpParent->Message(msg) : 0;
    case GM_REDRAW:
        invalidate(mOuter);
        Draw();
        return 0;
    case GM_FOCUS_GAINED:
        if (mStatus & GS_FOCUS_BRANCH) return 0;
        mStatus |= GS_FOCUS_BRANCH;
        if (!mpParent) return 0;
        if (!IsNonClient()) {
            mStatus |= GS_CURRENT_CHILD;
            for (GuiThing* s = mpParent->mpFirstChild; s; s = s->mpNext) {
                if (s != this && (s->mStatus & GS_CURRENT_CHILD)) {
                    s->mStatus &= uint16_t(~GS_CURRENT_CHILD);
                    break;
                }
            }
        }
        if (!(mpParent->mStatus & GS_FOCUS_BRANCH)) return mpParent->Message(msg);
        return 0;
    case GM_FOCUS_LOST:
        if (!(mStatus & GS_FOCUS_BRANCH)) return 0;
        mStatus &= uint16_t(~GS_FOCUS_BRANCH);
        for (GuiThing* c = mpFirstChild; c; c = c->mpNext)
            if (c->mStatus & GS_FOCUS_BRANCH) return c->Message(msg);
        return 0;
    default:
        if (mpParent && mpParent != static_cast<GuiThing*>(mpPresentation)) return mpParent->Message(msg);
        return 0;
    }
}

// ---- frame ---------------------------------------------------------------------------------

void GuiThing::StandardBorder(unsigned long fill)
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    const uint32_t kLight = 0xC0C0C0, kWhite = 0xFFFFFF, kDark = 0x808080, kBlack = 0;
    const uint32_t f = uint32_t(fill);
    auto line = [&](int x1, int y1, int x2, int y2, uint32_t c) {
        s->Line(this, x1, y1, x2, y2, GuiColor{c, c, 0}, 1);
    };
    const GuiRect& o = mOuter;
    const int l = o.left, t = o.top, r = o.right, b = o.bottom;
    switch (mStyle & GST_FRAME_MASK) {
    case GST_FRAME_NONE:
        s->Rectangle(this, o, GuiColor{kLight, f, GUI_COLOR_FILL}, 0);
        break;
    case GST_FRAME_THIN:
        s->Rectangle(this, o, GuiColor{kBlack, f, GUI_COLOR_FILL}, 1);
        break;
    case GST_FRAME_RAISED: {
        GuiRect in = o;
        in -= 2;
        s->Rectangle(this, in, GuiColor{f, f, GUI_COLOR_FILL}, 0);
        line(l, t, l, b, kLight);
        line(l, t, r, t, kLight);
        line(l + 1, t + 1, l + 1, b - 1, kWhite);
        line(l + 1, t + 1, r - 1, t + 1, kWhite);
        line(r - 1, t + 1, r - 1, b - 1, kDark);
        line(l + 1, b - 1, r - 1, b - 1, kDark);
        line(r, t, r, b, kBlack);
        line(l, b, r, b, kBlack);
        break;
    }
    case GST_FRAME_RECESSED: {
        GuiRect in = o;
        in -= 2;
        s->Rectangle(this, in, GuiColor{f, f, GUI_COLOR_FILL}, 0);
        // On a white parent the white edge moves one pixel in and the light
        // grey goes to the outer edge, so the frame stays visible.
        bool onWhite = IsVisible() && mpParent && mpParent->mColor[0] == kWhite;
        int whiteIn = onWhite ? 1 : 0;
        int greyIn = onWhite ? 0 : 1;
        line(l, t, r, t, kDark);
        line(l, t, l, b, kDark);
        line(l + 1, t + 1, r - 1, t + 1, kBlack);
        line(l + 1, t + 1, l + 1, b - 1, kBlack);
        line(r - greyIn, t + greyIn, r - greyIn, b - greyIn, kLight);
        line(l + greyIn, b - greyIn, r - greyIn, b - greyIn, kLight);
        line(r - whiteIn, t + whiteIn, r - whiteIn, b - whiteIn, kWhite);
        line(l + whiteIn, b - whiteIn, r - whiteIn, b - whiteIn, kWhite);
        break;
    }
    default:   // the thick frame is drawn by windows
        break;
    }
}
