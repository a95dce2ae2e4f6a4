// GuiComboBox: construction and destruction, item operations handed to the
// list, messages, opening and closing the list, and the field's image.
#include "gui/widgets/lists/gui_combo_box.h"

#include <algorithm>

#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_button.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/lists/gui_list_support.h"

namespace {
constexpr int kMinClosedHeight = 16;
constexpr int kArrowWidth = 16;
constexpr uint16_t kAlignCentre = 0x0080;
}  // namespace

GuiComboBox::GuiComboBox(const GuiRect& rect, unsigned short id, unsigned short style)
    : GuiThing(rect, id, style),
      mpButton(nullptr),
      mpList(nullptr),
      mpImage(nullptr),
      mpShown(nullptr),
      mOpenHeight(rect.bottom - rect.top + 1),
      mClosedHeight(kMinClosedHeight),
      mOpen(0)
{
    mType = GT_COMBO_BOX;
    mColor[0] = 0xFFFFFF;
    mColor[1] = 0x0000BF;
    mColor[2] = 0x000000;
    mColor[3] = 0xFFFFFF;
    InitClient();
    mpButton = new GuiBitmapButton(GuiRect(0, 0, 0, 0), &gbDownArrowBitmap, GUI_ID_COMBO_ARROW,
                                   uint16_t(GST_ENABLED) | uint16_t(GBS_BEVEL_IN));
    mpButton->mStatus |= GS_NONCLIENT;
    mpButton->mStatus &= uint16_t(~GS_ACCEPTS_FOCUS);
    GuiThing::Add(mpButton, 1);
    mStatus |= GS_ACTIVE | GS_ACCEPTS_FOCUS;
    mSignalMask = 1u << GUI_SIG_LIST_SELECT;
    mpList = new ComboList(this, rect, id, style);
    mpList->mStatus &= uint16_t(~(GS_ACCEPTS_FOCUS | GS_ACTIVE));
    mpList->mStatus |= GS_ON_TOP;
}

GuiComboBox::~GuiComboBox()
{
    // The list may be on the presentation manager: it leaves the screen
    // with its owner, so nothing keeps a pointer to either.
    if (ComboList* list = mpList) {
        mpList = nullptr;
        list->mpOwner = nullptr;
        if (list->mpParent) list->mpParent->Remove(list, 1);
        if (mpMessageQueue) {
            mpMessageQueue->KillTimer(list, 0);
            mpMessageQueue->Purge(list, 0, 0);
        }
        delete list;
    }
    ReleaseImage();
}

// ---- items -------------------------------------------------------------------------------

void GuiComboBox::ItemsChanged(int redraw)
{
    if (!mpList) return;
    if (IsVisible()) {
        mpList->PositionChildren();
        if (redraw && mpList->IsVisible() && mpScreen) {
            mpScreen->Invalidate(mpList->mOuter);
            mpList->Draw();
        }
    }
    CalcCloseHeight();
}

void GuiComboBox::Add(GuiThing* item, int redraw)
{
    if (!mpList || !item) return;
    mpList->Add(item, redraw);
    ItemsChanged(redraw);
}

void GuiComboBox::AddToEnd(GuiThing* item, int redraw)
{
    if (!mpList || !item) return;
    mpList->AddToEnd(item, redraw);
    ItemsChanged(redraw);
}

void GuiComboBox::Insert(GuiThing* item, int index, int select, int redraw)
{
    if (!mpList || !item) return;
    mpList->Insert(item, index, select, 0);
    if (select && IsVisible()) SetSelected(item);
    ItemsChanged(redraw);
}

GuiThing* GuiComboBox::Remove(GuiThing* thing, int redraw)
{
    if (!thing) return nullptr;
    if (thing == mpButton) {
        mpButton = nullptr;
        return GuiThing::Remove(thing, redraw);
    }
    if (!mpList) return nullptr;
    GuiThing* removed = mpList->Remove(thing, redraw);
    // The field must not keep showing an item that left.
    if (thing == mpShown) CaptureSelectedToBitmap();
    return removed;
}

void GuiComboBox::Clear()
{
    if (!mpList) return;
    mpList->Clear();
    CaptureSelectedToBitmap();
}

GuiThing* GuiComboBox::Find(unsigned short id, int recursive)
{
    return mpList ? mpList->Find(id, recursive) : nullptr;
}

GuiThing* GuiComboBox::GetSelected() { return mpList ? mpList->GetSelected() : nullptr; }
int GuiComboBox::GetIndex(GuiThing* item) { return mpList ? mpList->GetIndex(item) : -1; }
GuiThing* GuiComboBox::GetThing(int index) { return mpList ? mpList->GetThing(index) : nullptr; }
int GuiComboBox::GetSelectedIndex() { return mpList ? mpList->GetSelectedIndex() : -1; }

GuiThing* GuiComboBox::SetSelected(GuiThing* item)
{
    if (!mpList) return nullptr;
    GuiThing* selected = mpList->SetSelected(item);
    CaptureSelectedToBitmap();
    return selected;
}

GuiThing* GuiComboBox::SetSelected(int index) { return SetSelected(GetThing(index)); }

void GuiComboBox::SetScrollMode(unsigned int mode)
{
    if (mpList) mpList->SetScrollMode(mode);
}

// ---- geometry --------------------------------------------------------------------------------

int GuiComboBox::FrameInset() const
{
    if (mStyle & (GST_FRAME_RAISED | GST_FRAME_RECESSED)) return 2;
    if (mStyle & GST_FRAME_THIN) return 1;
    return 0;
}

void GuiComboBox::CalcCloseHeight()
{
    // A shown field keeps its height; items only size a hidden one.
    if (!IsVisible()) {
        int h = kMinClosedHeight;
        if (mpList)
            for (GuiThing* t = mpList->GetThing(0); t; t = t->mpNext)
                if (!t->IsNonClient()) h = std::max(h, int(t->mOuter.Height()));
        mClosedHeight = h + 2 * FrameInset();
    }
    mOuter.bottom = int16_t(mOuter.top + mClosedHeight - 1);
    InitClient();
    const int inset = FrameInset();
    const GuiRect arrow(mOuter.right - inset - (kArrowWidth - 1), mOuter.top + inset, mOuter.right - inset,
                        mOuter.bottom - inset);
    if (mpButton) mpButton->Resize(arrow);
    mClient.right = int16_t(arrow.left - 1);
}

void GuiComboBox::Resize(GuiRect rect)
{
    const GuiRect old = mOuter;
    GuiThing::Resize(rect);
    if (!mpButton || (rect.left == old.left && rect.right == old.right)) return;
    const int right = mOuter.right - FrameInset();
    mpButton->Resize(GuiRect(right - (kArrowWidth - 1), mpButton->mOuter.top, right, mpButton->mOuter.bottom));
}

// ---- the list ----------------------------------------------------------------------------------

void GuiComboBox::OpenList()
{
    if (!mpList || !mpPresentation) return;
    mOpen = 1;
    CaptureSelectedToBitmap();
    const int top = mOuter.bottom + 2;
    mpList->Resize(GuiRect(mOuter.left, top, mOuter.right, std::max(top, mOuter.top + mOpenHeight - 1)));
    mpPresentation->Add(mpList, 1);
}

void GuiComboBox::CloseList()
{
    mOpen = 0;
    if (mpList && mpList->mpParent) mpList->mpParent->Remove(mpList, 1);
    SendListSelect();
    CaptureSelectedToBitmap();
}

void GuiComboBox::SendListSelect()
{
    if (!mpShown || !mpParent || !mpList) return;
    GuiThing* selected = mpList->mpSelected;
    if (selected && selected != mpShown && (mSignalMask & (1u << GUI_SIG_LIST_SELECT)))
        GuiQueueSignal(this, GUI_SIG_LIST_SELECT, selected->mId);
}

// ---- image and drawing ---------------------------------------------------------------------------

void GuiComboBox::ReleaseImage()
{
    if (!mpImage) return;
    if (mpScreen) {
        mpScreen->DestroyBitmap(mpImage);
    } else {
        delete[] mpImage->data;
        delete mpImage;
    }
    mpImage = nullptr;
}

void GuiComboBox::Repaint()
{
    if (!IsVisible() || !mpScreen) return;
    mpScreen->Invalidate(mClip);
    Draw();
}

void GuiComboBox::CaptureSelectedToBitmap()
{
    GuiScreen* s = mpScreen;
    GuiThing* item = mpList ? mpList->mpSelected : nullptr;
    if (!item) {
        // Nothing selected: the field is empty rather than showing an item
        // that may be gone.
        if (mpImage || mpShown) {
            ReleaseImage();
            mpShown = nullptr;
            Repaint();
        }
        return;
    }
    // Drawing into a bitmap does not nest.
    if (!s || s->DrawingIntoBitmap()) return;
    ReleaseImage();
    mpImage = s->CreateBitmap(item->mOuter.Width(), item->mOuter.Height(), 1);
    if (mpImage) {
        const int dx = item->mOuter.left, dy = item->mOuter.top;
        const uint16_t style = item->mStyle;
        if ((mStatus & GS_FOCUS_BRANCH) && !mOpen) item->mStyle |= GST_SELECTED;
        else item->mStyle &= uint16_t(~GST_SELECTED);
        item->ParentShift(-dx, -dy);
        s->BeginDraw(this, mpImage);
        if (s->DrawingIntoBitmap()) item->Draw();
        s->EndDraw(mpImage);
        item->ParentShift(dx, dy);
        item->mStyle = style;
    }
    mpShown = item;
    Repaint();
}

void GuiComboBox::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    StandardBorder((mStatus & GS_FOCUS_BRANCH) ? mColor[1] : mColor[0]);
    if (mpButton) mpButton->Draw();
    if (mpImage) {
        const GuiRect saved = mClip;
        mClip &= mClient;
        int x = mClient.left;
        if (mStyle & GST_TEXT_RIGHT) x = mClient.right + 1 - mpImage->width;
        else if (mStyle & kAlignCentre) x = mClient.left + (mClient.Width() - mpImage->width) / 2;
        s->Bitmap(this, GuiPoint{int16_t(x), mClient.top}, mpImage, 0);
        mClip = saved;
    }
    s->EndDraw();
}

// ---- messages ------------------------------------------------------------------------------------

int GuiComboBox::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_SHOW:
        CalcCloseHeight();
        mOpen = 0;
        if (mpList) {
            if (!mpList->mpSelected) mpList->SetSelected(0);
            if (mpList->mpSelected) {
                const int top = mOuter.bottom + 1;
                mpList->Resize(
                    GuiRect(mOuter.left, top, mOuter.right, std::max(top, mOuter.top + mOpenHeight - 1)));
                mpList->PositionChildren();
                CaptureSelectedToBitmap();
            }
        }
        return GuiThing::Message(msg);
    case GM_HIDE:
        // A field leaving the screen takes its open list along.
        if (mOpen) {
            mOpen = 0;
            if (mpList && mpList->mpParent) mpList->mpParent->Remove(mpList, 1);
        }
        return GuiThing::Message(msg);
    case GM_FOCUS_GAINED: {
        const int r = GuiThing::Message(msg);
        CaptureSelectedToBitmap();
        return r;
    }
    case GM_FOCUS_LOST: {
        const int r = GuiThing::Message(msg);
        if (mOpen) CloseList();
        else CaptureSelectedToBitmap();
        return r;
    }
    default:
        break;
    }
    if (msg.type == GuiSignalType(GUI_ID_COMBO_ARROW, GUI_SIG_CLICKED)) {
        if (mOpen) CloseList();
        else OpenList();
        return 0;
    }
    return GuiThing::Message(msg);
}

// ---- the drop-down list --------------------------------------------------------------------------

ComboList::ComboList(GuiComboBox* owner, const GuiRect& rect, unsigned short id, unsigned short style)
    : GuiVertList(rect, id, style), mpOwner(owner)
{
    mStatus &= uint16_t(~GS_ACCEPTS_FOCUS);
}

ComboList::~ComboList()
{
    // Deleted by someone else (the presentation manager's teardown): the
    // owner must not reach it any more.
    if (mpOwner) {
        if (mpOwner->mpList == this) mpOwner->mpList = nullptr;
        mpOwner->mOpen = 0;
    }
}

void ComboList::PositionChildren() { GuiVertList::PositionChildren(); }

int ComboList::Message(const GuiMessage& msg)
{
    if (!GuiIsClickSignal(msg.type) || !IsItem(msg.source)) return GuiList::Message(msg);
    // A click on an item selects it and closes the list.
    GuiList::Message(msg);
    if (GuiComboBox* owner = mpOwner) {
        owner->mOpen = 0;
        if (mpParent) mpParent->Remove(this, 1);
        owner->SendListSelect();
        owner->CaptureSelectedToBitmap();
    }
    return 0;
}
