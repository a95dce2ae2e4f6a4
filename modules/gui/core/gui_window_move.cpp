// GuiWindow: moving and sizing with the pointer (an XOR outline follows the
// pointer until the release), maximising, minimising to an icon and
// restoring.
#include <algorithm>

#include "gui/core/gui_button.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/core/gui_task.h"
#include "gui/core/gui_window.h"
#include "gui/draw/gui_screen.h"

namespace {

// Pointer shape for a border part: 1 top or bottom, 2 left or right, 3 the
// top-left and bottom-right corners, 4 the other two.
uint8_t shapeOf(int part)
{
    switch (part) {
    case GUI_BORDER_TOP:
    case GUI_BORDER_BOTTOM: return 1;
    case GUI_BORDER_LEFT:
    case GUI_BORDER_RIGHT: return 2;
    case GUI_BORDER_TOP | GUI_BORDER_LEFT:
    case GUI_BORDER_BOTTOM | GUI_BORDER_RIGHT: return 3;
    case GUI_BORDER_BOTTOM | GUI_BORDER_LEFT:
    case GUI_BORDER_TOP | GUI_BORDER_RIGHT: return 4;
    default: return 0;
    }
}

void resizeByMessage(GuiThing* t, const GuiRect& r)
{
    GuiMessage m(GM_RESIZE, 0, t, t);
    m.SetRect(r);
    t->Message(m);
}

}  // namespace

int GuiWindow::BorderContains(GuiPoint p)
{
    if (!(mStatus & GS_SIZABLE)) return 0;
    int part = 0;
    if (p.x >= mOuter.left && p.x <= mOuter.left + 5) part = GUI_BORDER_LEFT;
    else if (p.x >= mOuter.right - 5 && p.x <= mOuter.right) part = GUI_BORDER_RIGHT;
    if (p.y >= mOuter.top && p.y <= mOuter.top + 5) part += GUI_BORDER_TOP;
    else if (p.y >= mOuter.bottom - 5 && p.y <= mOuter.bottom) part += GUI_BORDER_BOTTOM;
    return part;
}

GuiRect GuiWindow::MovedRect() const
{
    const int dx = mMoveLast.x - mMoveStart.x, dy = mMoveLast.y - mMoveStart.y;
    GuiRect r = mOuter;
    if (mMoveMode == GUI_MOVE_WINDOW) {
        r.Shift(dx, dy);
        return r;
    }
    if (mMoveMode & GUI_BORDER_TOP) r.top = int16_t(r.top + dy);
    if (mMoveMode & GUI_BORDER_BOTTOM) r.bottom = int16_t(r.bottom + dy);
    if (mMoveMode & GUI_BORDER_LEFT) r.left = int16_t(r.left + dx);
    if (mMoveMode & GUI_BORDER_RIGHT) r.right = int16_t(r.right + dx);
    return r;
}

void GuiWindow::CheckResizeRect(GuiRect& r)
{
    if (mMoveMode == GUI_MOVE_WINDOW) return;
    const int oldW = mOuter.right - mOuter.left, oldH = mOuter.bottom - mOuter.top;
    // A plain window keeps a few pixels of client; derived windows (with
    // title bars) stay at least 80 pixels wide.
    const int maxShrinkW = mType == GT_WINDOW ? mClient.right - mClient.left - 3 : oldW - 79;
    const int shrinkW = oldW - (r.right - r.left);
    if (shrinkW > maxShrinkW) {
        const int excess = shrinkW - maxShrinkW;
        if (mMoveMode & GUI_BORDER_LEFT) r.left = int16_t(r.left - excess);
        else r.right = int16_t(r.right + excess);
    }
    const int maxShrinkH = mClient.bottom - mClient.top + 1;
    const int shrinkH = oldH - (r.bottom - r.top);
    if (shrinkH > maxShrinkH) {
        const int excess = shrinkH - maxShrinkH;
        if (mMoveMode & GUI_BORDER_TOP) r.top = int16_t(r.top - excess);
        else r.bottom = int16_t(r.bottom + excess);
    }
}

void GuiWindow::DrawMoveFrame(int erase)
{
    if ((erase != 0) != (mMoveOutlineShown != 0)) return;
    mMoveOutlineShown = !mMoveOutlineShown;
    GuiScreen* s = mpScreen;
    if (!s || !mpParent) return;
    const GuiRect& pc = mpParent->mClient;
    mMoveLast.x = int16_t(std::clamp(int(mMoveLast.x), int(pc.left), int(std::max(pc.left, pc.right))));
    mMoveLast.y = int16_t(std::clamp(int(mMoveLast.y), int(pc.top), int(std::max(pc.top, pc.bottom))));
    GuiRect outline = MovedRect();
    CheckResizeRect(outline);
    // The outline may leave the window: it is clipped to the parent.
    const GuiRect saved = mClip;
    mClip = mpParent->mClip & pc;
    s->BeginDraw(this);
    s->Invalidate(outline);
    s->RectangleXOR(this, outline);
    s->EndDraw();
    mClip = saved;
}

void GuiWindow::StartMove(const GuiMessage& msg)
{
    if (mMoveMode || !(mStatus & GS_MOVABLE)) return;
    mMoveMode = uint8_t(msg.data);
    mMoveStart = mMoveLast = msg.Point();
    CapturePointer();
    if (mMoveMode == (GUI_BORDER_BOTTOM | GUI_BORDER_RIGHT) && mpScreen) {
        mpScreen->SetPointerType(3);
        mPointerShape = 3;
    }
}

int GuiWindow::PointerMoved(const GuiMessage& msg)
{
    const GuiPoint p = msg.Point();
    if (mMoveMode) {
        if (p == mMoveLast) return 0;
        DrawMoveFrame(1);
        mMoveLast = p;
        DrawMoveFrame(0);
        return 0;
    }
    if ((mStatus & GS_SIZABLE) && !mMaximized && mpScreen) {
        uint8_t shape = shapeOf(BorderContains(p));
        if (shape != mPointerShape) {
            mpScreen->SetPointerType(shape);
            mPointerShape = shape;
        }
    }
    return 0;
}

int GuiWindow::PointerPressed(const GuiMessage& msg)
{
    if (mMoveMode) return 0;
    int part = ((mStatus & GS_SIZABLE) && !mMaximized) ? BorderContains(msg.Point()) : 0;
    if (!part) return GuiThing::Message(msg);
    mMoveMode = uint8_t(part);
    mMoveStart = mMoveLast = msg.Point();
    CapturePointer();
    return 0;
}

int GuiWindow::PointerReleased(const GuiMessage& msg)
{
    DrawMoveFrame(1);
    ResetPointerShape();
    ReleasePointer();
    if (!(mStatus & GS_KEEPS_FOCUS)) MoveFocusToFirstClientChild();
    if (msg.Point() != mMoveLast && mpParent) {
        // The release point is where the pointer ended, inside the parent.
        const GuiRect& pc = mpParent->mClient;
        GuiPoint p = msg.Point();
        mMoveLast.x = int16_t(std::clamp(int(p.x), int(pc.left), int(std::max(pc.left, pc.right))));
        mMoveLast.y = int16_t(std::clamp(int(p.y), int(pc.top), int(std::max(pc.top, pc.bottom))));
    }
    if (mMoveLast == mMoveStart) {
        mMoveMode = 0;
        return 0;
    }
    GuiRect r = MovedRect();
    CheckResizeRect(r);
    GuiScreen* s = mpScreen;
    if (s) {
        s->Invalidate(mOuter);
        s->Invalidate(r);
        s->BeginDraw(this);
    }
    resizeByMessage(this, r);
    if (IsVisible() && s) {
        if (mpParent && mpParent->mClient.Contains(r)) Draw();
        else if (mpParent) mpParent->Draw();
    }
    if (s) s->EndDraw();
    mMoveMode = 0;
    return 0;
}

void GuiWindow::Maximize()
{
    if (!mpParent || mMaximized) return;
    mSavedOuter = mOuter;
    mMaximized = 1;
    resizeByMessage(this, mpParent->mClient);
    if (IsVisible() && mpScreen) {
        mpScreen->Invalidate(mOuter);
        Draw();
    }
}

void GuiWindow::RestoreSize()
{
    if (!mMaximized) return;
    mMaximized = 0;
    resizeByMessage(this, mSavedOuter);
    if (mpParent && mpParent->IsVisible() && mpScreen) {
        mpScreen->Invalidate(mpParent->mClip);
        mpParent->Draw();
    }
}

void GuiWindow::Minimize()
{
    if (mExecuting || !mpParent) return;
    auto* icon = new GuiIcon(this, mpIconBitmap, mId, 0);
    if (mStatus & GS_ON_TOP) icon->mStatus |= GS_ON_TOP | GS_VIEWPORT_OWNER;
    if (mpMessageQueue) {
        GuiMessage add(GM_ADD_ICON, 0, mpParent, this);
        add.SetPointer(icon);
        mpMessageQueue->Push(&add);
    }
    mpParent->Remove(this, 1);
}

void GuiWindow::AddIcon(GuiIcon* icon)
{
    if (!icon) return;
    int x = mClient.left + 10;
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext)
        if (c->mType == GT_ICON && c != icon) x = std::max(x, c->mOuter.right + 10);
    const GuiBitmap* b = icon->mpBitmap;
    const int w = b ? b->width : 0, h = b ? b->height : 0;
    const int y = mClient.bottom - h - 10;
    GuiLock lock;
    resizeByMessage(icon, GuiRect(x, y, x + w, y + h));
    Add(icon, 1);
}
