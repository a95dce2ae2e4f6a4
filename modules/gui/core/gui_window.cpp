// GuiWindow: construction, frame and background, adding children, the modal
// message loops and the default message handling of windows. Scroll bars
// live in gui_window_scroll.cpp, moving, sizing and icons in
// gui_window_move.cpp.
#include "gui/core/gui_window.h"

#include "gui/core/gui_button.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/draw/gui_screen.h"
#include "gui/core/gui_scroll.h"
#include "gui/core/gui_task.h"

namespace {
constexpr uint32_t kLightGrey = 0xC0C0C0;
constexpr uint32_t kDarkGrey = 0x808080;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0;
}  // namespace

GuiWindow::GuiWindow(const GuiRect& rect, unsigned int style) : GuiTextThing(rect, 0, uint16_t(style), nullptr, 0)
{
    InitWindow(style);
    mWallpaperMode = 1;   // tiled
    InitClient();
}

GuiWindow::GuiWindow(unsigned int style) : GuiTextThing(GuiRect(0, 0, 20, 20), 0, uint16_t(style), nullptr, 0)
{
    InitWindow(style);
    mWallpaperMode = 0;   // centred
    InitClient();
}

void GuiWindow::InitWindow(unsigned int style)
{
    mColor[0] = kWhite;
    mType = GT_WINDOW;
    mpIconBitmap = nullptr;
    mpWallpaper = nullptr;
    mpVScroll = nullptr;
    mpHScroll = nullptr;
    mExecuting = 0;
    mMaximized = 0;
    mMoveOutlineShown = 0;
    mScrollMode = 0;
    mMoveMode = 0;
    mPointerShape = 0;
    mMoveStart = GuiPoint{0, 0};
    mMoveLast = GuiPoint{0, 0};
    mSavedOuter = GuiRect();
    mStatus |= GS_VIEWPORT_OWNER | GS_ACTIVE;
    if (style & GST_FRAME_THICK) mStatus |= GS_SIZABLE | GS_MOVABLE;
}

GuiWindow::~GuiWindow() = default;

void GuiWindow::InitClient()
{
    GuiThing::InitClient();
    // Each scroll bar takes 16 pixels off the client area and follows it.
    if (mpVScroll) mClient.right = int16_t(mClient.right - GUI_SCROLL_BAR);
    if (mpHScroll) mClient.bottom = int16_t(mClient.bottom - GUI_SCROLL_BAR);
    if (IsVisible()) {
        if (mpVScroll) mpVScroll->Message(GuiMessage(GM_PARENT_SIZED, 0, mpVScroll, this));
        if (mpHScroll) mpHScroll->Message(GuiMessage(GM_PARENT_SIZED, 0, mpHScroll, this));
    }
}

unsigned int GuiWindow::GetScrollMode() { return mScrollMode; }
GuiBitmap* GuiWindow::GetIcon() { return mpIconBitmap; }
void GuiWindow::SetIcon(GuiBitmap* icon) { mpIconBitmap = icon; }

void GuiWindow::SetWallpaper(GuiBitmap* wallpaper, int mode)
{
    mpWallpaper = wallpaper;
    mWallpaperMode = mode;
}

void GuiWindow::DrawFrame(int fill)
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    const uint8_t flags = fill ? GUI_COLOR_FILL : 0;
    const GuiRect& o = mOuter;
    const int l = o.left, t = o.top, r = o.right, b = o.bottom;
    auto line = [&](int x1, int y1, int x2, int y2, uint32_t c) {
        s->Line(this, x1, y1, x2, y2, GuiColor{c, c, 0}, 1);
    };
    switch (mStyle & GST_FRAME_MASK) {
    case GST_FRAME_NONE:
        if (fill) s->Rectangle(this, o, GuiColor{kLightGrey, mColor[0], GUI_COLOR_FILL}, 0);
        break;
    case GST_FRAME_THIN:
        s->Rectangle(this, o, GuiColor{kBlack, mColor[0], flags}, 1);
        break;
    case GST_FRAME_THICK:
        s->Rectangle(this, o, GuiColor{kLightGrey, mColor[0], flags}, 5);
        break;
    default:
        s->Rectangle(this, o, GuiColor{kLightGrey, mColor[0], flags}, 1);
        break;
    }
    if (mStyle & (GST_FRAME_RAISED | GST_FRAME_THICK)) {
        line(l + 1, t + 1, l + 1, b - 1, kWhite);
        line(l + 1, t + 1, r - 1, t + 1, kWhite);
        line(r - 1, t + 1, r - 1, b - 1, kDarkGrey);
        line(l + 1, b - 1, r - 1, b - 1, kDarkGrey);
        line(r, t, r, b, kBlack);
        line(l, b, r, b, kBlack);
    }
    if (mStyle & GST_FRAME_RECESSED) {
        line(l, b, r, b, kWhite);
        line(r, t, r, b, kWhite);
        line(l, t, r, t, kDarkGrey);
        line(l, t, l, b, kDarkGrey);
        line(l + 1, t + 1, r - 2, t + 1, kBlack);
        line(l + 1, t + 1, l + 1, b - 1, kBlack);
        line(l + 1, b - 1, r - 1, b - 1, kLightGrey);
        line(r - 1, t + 1, r - 1, b - 1, kLightGrey);
    }
    if (mStyle & GST_FRAME_THICK) {
        line(r - 3, t + 4, r - 3, b - 3, kWhite);
        line(l + 4, b - 3, r - 3, b - 3, kWhite);
        line(l + 4, mClient.top - 1, r - 5, mClient.top - 1, kDarkGrey);
        line(mClient.left - 1, mClient.top, mClient.left - 1, b - 4, kDarkGrey);
    }
}

void GuiWindow::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    if (mpWallpaper) {
        bool tiled = mWallpaperMode != 0;
        if (!tiled || (mpWallpaper->flags & GUI_BMP_TRANSPARENT)) DrawFrame(1);
        else DrawFrame(0);
        GuiRect saved = mClip;
        mClip &= mClient;
        if (tiled) {
            // Tiles start at the scrolled origin, so they move with the
            // contents.
            GuiRect area = mClient;
            GuiScrollInfo info{};
            if (mpHScroll) {
                GetHScrollInfo(&info);
                if (info.maximum >= info.minimum) area.left = int16_t(area.left - (info.current - info.minimum));
            }
            if (mpVScroll) {
                GetVScrollInfo(&info);
                if (info.maximum >= info.minimum) area.top = int16_t(area.top - (info.current - info.minimum));
            }
            s->BitmapFill(this, area, mpWallpaper);
        } else {
            int cx = (mClient.left + mClient.right) / 2;
            int cy = (mClient.top + mClient.bottom) / 2;
            GuiPoint at{int16_t(cx - mpWallpaper->width / 2), int16_t(cy - mpWallpaper->height / 2)};
            s->Bitmap(this, at, mpWallpaper, 0);
        }
        mClip = saved;
    } else {
        DrawFrame(1);
    }
    DrawChildren();
    if (mpVScroll && mpHScroll) FillScrollCorner();
    s->EndDraw();
}

void GuiWindow::Add(GuiThing* child, int draw)
{
    if (!child || child == mpFirstChild) return;
    bool wasVisible = child->IsVisible();
    GuiThing::Add(child, draw);
    if (IsVisible() && (mStatus & GS_FOCUS_BRANCH) && !wasVisible &&
        (child->mStatus & (GS_ACCEPTS_FOCUS | GS_NONCLIENT)) == GS_ACCEPTS_FOCUS && mpPresentation)
        mpPresentation->MoveFocusTree(child);
    if (!child->IsNonClient()) ChildrenChanged();
}

GuiThing* GuiWindow::Remove(GuiThing* child, int draw)
{
    const bool clientChild = child && child->mpParent == this && !child->IsNonClient();
    GuiThing* removed = GuiThing::Remove(child, draw);
    if (clientChild) ChildrenChanged();
    return removed;
}

void GuiWindow::ChildrenChanged()
{
    if (!(mScrollMode & (GUI_SCROLL_V_AUTO | GUI_SCROLL_H_AUTO)) || !IsVisible()) return;
    if (CheckAutoScroll() && mpScreen) {
        UpdateChildClipping();
        mpScreen->Invalidate(mOuter);
        Draw();
    }
}

void GuiWindow::Resize(GuiRect rect)
{
    GuiThing::Resize(rect);
    if ((mScrollMode & (GUI_SCROLL_V_AUTO | GUI_SCROLL_H_AUTO)) && CheckAutoScroll()) {
        UpdateChildClipping();
        if (IsVisible() && mpScreen) {
            if (mpParent) mpScreen->GenerateViewportList(mpParent);
            mpScreen->Invalidate(mOuter);
        }
    }
    // Children that place themselves by the window (scroll bars) follow.
    GuiMessage sized(GM_PARENT_SIZED, 0, nullptr, this);
    for (GuiThing* c = mpFirstChild; c;) {
        GuiThing* next = c->mpNext;
        sized.target = c;
        c->Message(sized);
        c = next;
    }
}

int GuiWindow::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_CLOSE:
        Destroy(this);
        return GUI_RESULT_CLOSED;
    case GM_SHOW: {
        int r = GuiThing::Message(msg);
        if ((mScrollMode & (GUI_SCROLL_V_AUTO | GUI_SCROLL_H_AUTO)) && CheckAutoScroll()) UpdateChildClipping();
        return r;
    }
    case GM_FOCUS_GAINED: {
        int r = GuiThing::Message(msg);
        if (mpPresentation && mpPresentation->mpFocus == this && !(mStatus & GS_KEEPS_FOCUS))
            MoveFocusToFirstClientChild();
        return r;
    }
    case GM_POINTER_LEAVE:
        ResetPointerShape();
        return 0;
    case GM_POINTER_MOVE:
        return PointerMoved(msg);
    case GM_POINTER_PRESS:
        return PointerPressed(msg);
    case GM_POINTER_RELEASE:
        if (mMoveMode) return PointerReleased(msg);
        break;
    case GM_START_MOVE:
        StartMove(msg);
        return 0;
    case GM_ADD_ICON:
        AddIcon(static_cast<GuiIcon*>(msg.Pointer()));
        return 0;
    case GM_VSCROLL:
        MoveClientObjects(0, int(msg.data - msg.Word(0)), 1);
        return 0;
    case GM_HSCROLL:
        MoveClientObjects(int(msg.data - msg.Word(0)), 0, 1);
        return 0;
    case GM_MAXIMIZE:
        if (mStatus & GS_SIZABLE) Maximize();
        return 0;
    case GM_MINIMIZE:
        if (mStatus & GS_SIZABLE) Minimize();
        return 0;
    case GM_RESTORE:
        if (mStatus & GS_SIZABLE) RestoreSize();
        return 0;
    default:
        break;
    }
    // A click of one of the library's close buttons closes the window with
    // the button's id as the result.
    if (msg.type >= GM_SIGNAL_BASE && msg.type < GM_APPLICATION) {
        unsigned id = (msg.type - GM_SIGNAL_BASE) / 16u;
        unsigned signal = (msg.type - GM_SIGNAL_BASE) % 16u;
        if (signal == GUI_SIG_CLICKED && id >= GUI_ID_CLOSE_FIRST && id <= GUI_ID_CLOSE_LAST &&
            id != GUI_ID_SCROLL_ARROW) {
            int result = msg.data;
            Destroy(this);
            return result;
        }
    }
    return GuiThing::Message(msg);
}

void GuiWindow::ResetPointerShape()
{
    if (mPointerShape && mpScreen) {
        mpScreen->SetPointerType(0);
        mPointerShape = 0;
    }
}

bool GuiWindow::PointerInputBlocked(const GuiMessage& msg)
{
    GuiPresentationManager* pm = mpPresentation;
    GuiPoint p = msg.Point();
    if (mOuter.Contains(p) || !pm || pm->GetPointerOwner()) return false;
    // Only a top-level window in front of this window's own top-level
    // window may take input outside the modal window.
    GuiThing* top = TopLevel();
    for (GuiThing* c = pm->mpFirstChild; c && c != top; c = c->mpNext)
        if (c->IsVisible() && c->mOuter.Contains(p)) return false;
    return true;
}

GuiThing* GuiWindow::TopLevel()
{
    GuiThing* top = this;
    while (top->mpParent && top->mpParent != mpPresentation) top = top->mpParent;
    return top;
}

// Pointer input of a window that runs GlobalModalExecute: the window holds
// the capture, so it picks the receiver itself.
int GuiWindow::GlobalPointerMessage(GuiMessage& msg)
{
    GuiPresentationManager* pm = mpPresentation;
    if (mMoveMode) return Message(msg);
    GuiThing* front = nullptr;
    for (GuiThing* c = pm->mpFirstChild; c && !front; c = c->mpNext)
        if (c->IsVisible()) front = c;
    if (front != TopLevel()) {
        if (taskIdSelf() == tBaseGuiTask) pm->RouteMessageToTask(&msg);
        return 0;
    }
    GuiThing* owner = pm->GetPointerOwner();
    if (owner != this) return pm->DispatchMessage(pm, &msg);
    const GuiPoint p = msg.Point();
    if (!mOuter.Contains(p)) return Message(msg);
    GuiThing* t = pm->FindLowestThingContaining(this, p);
    if (t != pm->mpPointerOver) {
        if (GuiThing* old = pm->mpPointerOver) {
            GuiMessage leave(GM_POINTER_LEAVE, 0, old, nullptr);
            leave.SetPoint(p);
            old->Message(leave);
        }
        pm->mpPointerOver = t;
        GuiMessage enter(GM_POINTER_ENTER, 0, t, nullptr);
        enter.SetPoint(p);
        t->Message(enter);
    }
    if ((msg.type == GM_POINTER_PRESS || msg.type == GM_POINTER2_PRESS) && t != this &&
        (t->mStatus & GS_ACCEPTS_FOCUS) && t != pm->mpFocus)
        pm->MoveFocusTree(t);
    return t->Message(msg);
}

int GuiWindow::Execute(int add) { return RunModal(add, false); }

int GuiWindow::GlobalModalExecute()
{
    // The loop releases the capture when it ends (closing the window
    // releases it too).
    CapturePointer();
    return RunModal(1, true);
}

int GuiWindow::RunModal(int add, bool global)
{
    GuiPresentationManager* pm = mpPresentation;
    GuiMessageQueue* mq = mpMessageQueue;
    if (!pm || !mq) return 0;
    mExecuting = 1;
    const bool subTask = taskIdSelf() != tBaseGuiTask;
    if (subTask) pm->BeginSubTaskExecute(this);
    if (add) {
        if (!IsVisible()) {
            mStatus |= GS_ON_TOP;
            pm->Add(this, 1);
        } else if (!(mStatus & GS_ON_TOP)) {
            mStatus |= GS_ON_TOP;
            if (mpParent) mpParent->Add(this, 1);
        }
    }
    for (;;) {
        GuiMessage msg;
        mq->Pop(&msg);
        int result = 0;
        const bool pointer = msg.type >= GM_POINTER_MOVE && msg.type <= GM_POINTER2_RELEASE && !msg.target;
        if (global && pointer) {
            result = GlobalPointerMessage(msg);
        } else if (!subTask && pm->RouteMessageToTask(&msg)) {
            continue;
        } else if (pointer && msg.type != GM_POINTER_MOVE) {
            if (PointerInputBlocked(msg)) continue;
            result = pm->DispatchMessage(pm, &msg);
        } else if (pointer) {
            if (!mOuter.Contains(msg.Point()) && !pm->GetPointerOwner()) {
                ResetPointerShape();
                if (mpScreen) mpScreen->SetPointer(msg.Point());
            } else {
                pm->DispatchMessage(pm, &msg);
            }
        } else {
            result = pm->DispatchMessage(this, &msg);
        }
        if (result != 0) {
            if (global && (mStatus & GS_CAPTURE) && !subTask) ReleasePointer();
            // In another task the GUI task may already delete this window
            // (message 3); only its address is used from here on.
            if (subTask) pm->EndSubTaskExecute(this);
            else mExecuting = 0;
            return result;
        }
    }
}
