// GuiWindow: its own scroll bars, fixed or automatic, the extent of its
// client children, and moving the children when a bar moves.
#include <algorithm>
#include <climits>

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/core/gui_scroll.h"
#include "gui/core/gui_task.h"
#include "gui/core/gui_window.h"
#include "gui/draw/gui_screen.h"

namespace {
constexpr uint32_t kLightGrey = 0xC0C0C0;
constexpr uint8_t kAutoBits = GUI_SCROLL_V_AUTO | GUI_SCROLL_H_AUTO;

// Removes a bar from its window and deletes it with its waiting messages.
void dropBar(GuiWindow* w, GuiThing* bar)
{
    w->GuiThing::Remove(bar, 0);
    if (GuiThing::mpMessageQueue) {
        GuiThing::mpMessageQueue->KillTimer(bar, 0);
        GuiThing::mpMessageQueue->Purge(bar, 0, 0);
    }
    delete bar;
}

void postScroll(GuiWindow* w, uint16_t type, int32_t current, int32_t minimum)
{
    if (!GuiThing::mpMessageQueue) return;
    GuiMessage m(type, current, w, w);
    m.SetWord(0, minimum);
    GuiThing::mpMessageQueue->Push(&m);
}
}  // namespace

GuiVScroll* GuiWindow::CreateVScroll() { return new GuiVScroll(); }
GuiHScroll* GuiWindow::CreateHScroll() { return new GuiHScroll(); }

void GuiWindow::AddVBar()
{
    mpVScroll = CreateVScroll();
    mClient.right = int16_t(mClient.right - GUI_SCROLL_BAR);
    Add(mpVScroll, 1);
}

void GuiWindow::AddHBar()
{
    mpHScroll = CreateHScroll();
    mClient.bottom = int16_t(mClient.bottom - GUI_SCROLL_BAR);
    Add(mpHScroll, 1);
}

void GuiWindow::DropVBar()
{
    GuiVScroll* bar = mpVScroll;
    mpVScroll = nullptr;
    mClient.right = int16_t(mClient.right + GUI_SCROLL_BAR);
    dropBar(this, bar);
}

void GuiWindow::DropHBar()
{
    GuiHScroll* bar = mpHScroll;
    mpHScroll = nullptr;
    mClient.bottom = int16_t(mClient.bottom + GUI_SCROLL_BAR);
    dropBar(this, bar);
}

void GuiWindow::SetScrollMode(unsigned int mode)
{
    mScrollMode = uint8_t(mode);
    if (mode & GUI_SCROLL_LIVE) mStatus |= GS_LIVE_SCROLL;
    else mStatus &= uint16_t(~GS_LIVE_SCROLL);
    GuiLock lock;
    // Directions with an automatic bit are decided by the children's
    // extent (once the window is shown); the others follow the fixed bits.
    const bool autoV = mode & GUI_SCROLL_V_AUTO, autoH = mode & GUI_SCROLL_H_AUTO;
    const bool wantV = mode & GUI_SCROLL_V, wantH = mode & GUI_SCROLL_H;
    if (!autoH) {
        if (wantH && !mpHScroll) {
            // A vertical bar still to come narrows the strip of this one.
            const bool narrow = !autoV && wantV && !mpVScroll;
            if (narrow) mClient.right = int16_t(mClient.right - GUI_SCROLL_BAR);
            AddHBar();
            if (narrow) mClient.right = int16_t(mClient.right + GUI_SCROLL_BAR);
        } else if (!wantH && mpHScroll) {
            DropHBar();
        }
    }
    if (!autoV) {
        if (wantV && !mpVScroll) AddVBar();
        else if (!wantV && mpVScroll) DropVBar();
    }
    if ((autoV || autoH) && IsVisible()) CheckAutoScroll();
    if (IsVisible() && mpScreen) {
        UpdateChildClipping();
        mpScreen->Invalidate(mOuter);
        Draw();
    }
}

void GuiWindow::GetVScrollInfo(GuiScrollInfo* info)
{
    if (!info) return;
    const int height = mClient.bottom - mClient.top + 1;
    int lo = INT_MAX, hi = INT_MIN;
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext) {
        if (c->IsNonClient()) continue;
        lo = std::min(lo, int(c->mOuter.top));
        hi = std::max(hi, int(c->mOuter.bottom));
    }
    if (lo > hi) {   // no client children: the client area itself
        lo = mClient.top;
        hi = mClient.bottom;
    }
    *info = GuiScrollInfo{lo, hi, mClient.top, height / 10, height};
}

void GuiWindow::GetHScrollInfo(GuiScrollInfo* info)
{
    if (!info) return;
    const int width = mClient.right - mClient.left + 1;
    // Without client children the range stays inverted (minimum above
    // maximum): nothing to scroll.
    const int edge = mpPresentation ? 2 * mpPresentation->mOuter.right : 2 * 0x7FFF;
    int lo = edge, hi = -edge;
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext) {
        if (c->IsNonClient()) continue;
        lo = std::min(lo, int(c->mOuter.left));
        hi = std::max(hi, int(c->mOuter.right));
    }
    *info = GuiScrollInfo{lo, hi, mClient.left, width / 10, width};
}

bool GuiWindow::AutoScrollOnce()
{
    bool changed = false;
    if (mScrollMode & GUI_SCROLL_H_AUTO) changed |= AutoScrollAxis(false);
    if (mScrollMode & GUI_SCROLL_V_AUTO) changed |= AutoScrollAxis(true);
    return changed;
}

bool GuiWindow::AutoScrollAxis(bool vertical)
{
    GuiScrollInfo info{};
    GuiScroll* bar = vertical ? static_cast<GuiScroll*>(mpVScroll) : mpHScroll;
    GuiScroll* other = vertical ? static_cast<GuiScroll*>(mpHScroll) : mpVScroll;
    if (vertical) GetVScrollInfo(&info);
    else GetHScrollInfo(&info);
    if (info.maximum - info.minimum < info.visible) {
        // Everything fits: the bar goes and the contents move back to the
        // client edge.
        if (!bar) return false;
        if (vertical) DropVBar();
        else DropHBar();
        if (other && IsVisible()) other->Message(GuiMessage(GM_PARENT_SIZED, 0, other, this));
        if (info.maximum >= info.minimum && info.current != info.minimum)
            postScroll(this, vertical ? GM_VSCROLL : GM_HSCROLL, info.current, info.minimum);
        return true;
    }
    if (bar) {
        bar->Reset(&info);
        return false;
    }
    if (vertical) AddVBar();
    else AddHBar();
    if (other) other->Message(GuiMessage(GM_PARENT_SIZED, 0, other, this));
    return true;
}

int GuiWindow::CheckAutoScroll()
{
    GuiLock lock;
    // A new bar narrows the other direction, so the check runs until
    // nothing changes; two bars settle within a few rounds.
    int changed = 0;
    for (int round = 0; round < 4 && AutoScrollOnce(); ++round) changed = 1;
    return changed;
}

void GuiWindow::FillScrollCorner()
{
    if (!mpVScroll || !mpHScroll || !mpScreen) return;
    GuiRect corner(mpHScroll->mOuter.right + 1, mpVScroll->mOuter.bottom + 1, mpVScroll->mOuter.right,
                   mpHScroll->mOuter.bottom);
    if (corner.IsEmpty()) return;
    mpScreen->Rectangle(this, corner, GuiColor{kLightGrey, kLightGrey, GUI_COLOR_FILL}, 0);
}

void GuiWindow::MoveClientObjects(int dx, int dy, int redraw)
{
    GuiScreen* s = mpScreen;
    GuiLock lock;
    const bool visible = IsVisible() && s;
    if (visible) s->Invalidate(mClient);
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext) {
        if (c->IsNonClient()) continue;
        GuiRect r = c->mOuter;
        r.Shift(dx, dy);
        c->Resize(r);
    }
    if (!redraw || !s) return;
    s->BeginDraw(this);
    if (!visible || !s->RectMove(this, mClient, mClip & mClient, dx, dy)) {
        s->Invalidate(mClient);
    } else {
        // Only the strip the move uncovered needs painting.
        GuiRect strip = mClient;
        if (dx > 0) strip.right = int16_t(strip.left + dx - 1);
        else if (dx < 0) strip.left = int16_t(strip.right + dx + 1);
        if (dy > 0) strip.bottom = int16_t(strip.top + dy - 1);
        else if (dy < 0) strip.top = int16_t(strip.bottom + dy + 1);
        strip &= mClip;
        if (!strip.IsEmpty()) s->Invalidate(strip);
    }
    if (visible) Draw();
    s->EndDraw();
}
