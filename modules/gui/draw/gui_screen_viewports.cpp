// Viewports: the visible pieces of each window-level thing. Together the
// lists of all viewport owners tile the visible screen without overlap, so
// drawing of a thing covered by a window in front reaches only its
// uncovered parts.
#include <algorithm>
#include <new>

#include "gui/core/gui_presentation.h"
#include "gui/draw/gui_screen.h"
#include "gui/core/gui_thing.h"

void GuiScreen::AllocateViewportBlock()
{
    GuiViewport* block = new (std::nothrow) GuiViewport[kViewportBlock];
    if (!block) return;
    mViewportBlocks.push_back(block);
    for (int i = 0; i < kViewportBlock; ++i) {
        block[i].rect = GuiRect{};
        block[i].blockStart = i == 0 ? 1 : 0;
        block[i].next = i + 1 < kViewportBlock ? &block[i + 1] : nullptr;
    }
    if (mpFreeTail)
        mpFreeTail->next = block;
    else
        mpFreeHead = block;
    mpFreeTail = &block[kViewportBlock - 1];
    miViewportsAllocated += kViewportBlock;
}

GuiViewport* GuiScreen::GetFreeViewport()
{
    if (!mpFreeHead) AllocateViewportBlock();
    GuiViewport* vp = mpFreeHead;
    if (!vp) return nullptr;
    mpFreeHead = vp->next;
    if (!mpFreeHead) mpFreeTail = nullptr;
    vp->next = nullptr;
    return vp;
}

void GuiScreen::FreeViewports(GuiThing* thing)
{
    if (!thing) return;
    GuiViewport* list = thing->mpViewports;
    if (list) {
        GuiViewport* last = list;
        while (last->next) last = last->next;
        if (mpFreeTail)
            mpFreeTail->next = list;
        else
            mpFreeHead = list;
        mpFreeTail = last;
        thing->mpViewports = nullptr;
    }
    for (GuiThing* c = thing->mpFirstChild; c; c = c->mpNext)
        if (c->mStatus & GS_VIEWPORT_OWNER) FreeViewports(c);
}

void GuiScreen::AddViewport(GuiThing* thing, GuiRect rect)
{
    if (!thing || rect.IsEmpty()) return;
    // (a) A window-level sibling in front covers all or part of the area.
    if (GuiThing* parent = thing->mpParent) {
        for (GuiThing* s = parent->mpFirstChild; s && s != thing; s = s->mpNext) {
            if (!(s->mStatus & GS_VIEWPORT_OWNER) || s->mOuter.IsEmpty()) continue;
            if (s->mOuter.Contains(rect)) return;
            if (s->mOuter.Overlap(rect)) {
                SplitView(thing, s->mOuter, rect);
                return;
            }
        }
    }
    // (b) A window-level child takes its part of the area.
    for (GuiThing* c = thing->mpFirstChild; c; c = c->mpNext) {
        if (!(c->mStatus & GS_VIEWPORT_OWNER) || c->mClip.IsEmpty()) continue;
        if (c->mClip.Overlap(rect)) {
            SplitView(thing, c, rect);
            return;
        }
    }
    // (c) The area is the thing's own.
    GuiViewport* vp = GetFreeViewport();
    if (!vp) return;
    vp->rect = rect;
    vp->next = thing->mpViewports;
    thing->mpViewports = vp;
}

void GuiScreen::SplitView(GuiThing* thing, GuiRect cover, GuiRect rect)
{
    if (cover.top > rect.top) AddViewport(thing, GuiRect(rect.left, rect.top, rect.right, cover.top - 1));
    if (cover.bottom < rect.bottom)
        AddViewport(thing, GuiRect(rect.left, cover.bottom + 1, rect.right, rect.bottom));
    int top = std::max(cover.top, rect.top);
    int bottom = std::min(cover.bottom, rect.bottom);
    if (rect.right > cover.right) AddViewport(thing, GuiRect(cover.right + 1, top, rect.right, bottom));
    if (cover.left > rect.left) AddViewport(thing, GuiRect(rect.left, top, cover.left - 1, bottom));
}

void GuiScreen::SplitView(GuiThing* thing, GuiThing* child, GuiRect rect)
{
    SplitView(thing, child->mClip, rect);
    AddViewport(child, rect & child->mClip);
}

void GuiScreen::GenerateViewportList(GuiThing* thing)
{
    GuiThing* pm = GuiThing::mpPresentation;
    GuiThing* owner = nullptr;
    GuiThing* t = thing;
    for (;;) {
        owner = t;
        while (owner && !(owner->mStatus & GS_VIEWPORT_OWNER)) owner = owner->mpParent;
        if (!owner) return;
        FreeViewports(owner);
        if (owner == pm || !owner->mpParent || owner->mpParent == pm) break;
        // A change below an ancestor that is not in front among its siblings
        // may change what covers that ancestor's whole branch: start again
        // from the highest such ancestor.
        GuiThing* highest = nullptr;
        for (GuiThing* n = owner; n->mpParent; n = n->mpParent) {
            GuiThing* a = n->mpParent;
            if (a->mpFirstChild != n) highest = a;
            if (a == pm) break;
        }
        if (!highest) break;
        t = highest;
    }
    AddViewport(owner, owner->mOuter);
}
