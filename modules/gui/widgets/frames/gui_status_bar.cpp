// GuiStatusBar: fields, sizing to the parent, the grip and its pointer.
#include "gui/widgets/frames/gui_status_bar.h"

#include <new>

#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_window.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_frame_support.h"

namespace {
constexpr int kFontSlot = 6;
constexpr int kGrip = 16;                  // pixels kept free for the grip
constexpr unsigned short kFieldStyle = 0x6048;   // transparent, copied text, left, recessed
constexpr unsigned char kPointerNormal = 0;
constexpr unsigned char kPointerSizing = 3;
constexpr uint32_t kWhite = 0xFFFFFF;
}  // namespace

GuiStatusBar::GuiStatusBar() : GuiTextThing(0, GST_FRAME_NONE, nullptr, kFontSlot), mpLastField(nullptr), mSizing(0)
{
    SetFont(mFontTable[kFontSlot]);
    mOuter = mClient = mClip = GuiRect(0, 0, 100, GuiFontHeight(mpFont) + 6);
    mColor[0] = 0xC0C0C0;
    mType = GT_STATUS_BAR;
    mStatus |= GS_SIZABLE | GS_NONCLIENT;
}

GuiStatusBar::~GuiStatusBar() = default;

bool GuiStatusBar::ParentSizeable() const { return mpParent && (mpParent->mStatus & GS_SIZABLE); }

GuiRect GuiStatusBar::GripArea() const
{
    return GuiRect(mOuter.right - kGrip, mOuter.bottom - kGrip, mOuter.right, mOuter.bottom);
}

GuiPrompt* GuiStatusBar::GetPrompt(unsigned int id)
{
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext)
        if (c->mType == GT_PROMPT && c->mId == id) return static_cast<GuiPrompt*>(c);
    return nullptr;
}

GuiPrompt* GuiStatusBar::AddTextField(int width, unsigned short id, const char* text)
{
    int left = mOuter.left;
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext)
        if (c->mOuter.right > left) left = c->mOuter.right + 3;
    if (width < 1) width = 1;
    GuiRect r(left, mOuter.top + 2, left + width - 1, mOuter.bottom - 1);
    GuiPrompt* field = new (std::nothrow) GuiPrompt(r, text, id, kFieldStyle, 0);
    if (!field) return nullptr;
    field->SetFont(mpFont);
    AddToEnd(field, 1);
    mpLastField = field;
    return field;
}

void GuiStatusBar::SetTextField(unsigned short id, char* text)
{
    GuiPrompt* field = GetPrompt(id);
    if (!field || !mpScreen) return;
    mpScreen->BeginDraw(this);
    field->DataSet(text);
    field->Draw();
    CheckDrawDragMap(field);
    mpScreen->EndDraw();
}

void GuiStatusBar::SizeToParent()
{
    GuiThing* p = mpParent;
    if (!p) return;
    int left = p->mOuter.left, right = p->mOuter.right, bottom = p->mOuter.bottom;
    const unsigned short style = p->Style();
    if (style & GST_FRAME_THICK) {
        left += 3;
        right -= 3;
        bottom -= 3;
    } else if (!(style & GST_FRAME_NONE)) {
        left += 2;
        right -= 2;
        bottom -= 2;
    }
    GuiMessage resize(GM_RESIZE, 0, this, this);
    resize.SetRect(GuiRect(left, bottom - (GuiFontHeight(mpFont) + 6), right, bottom));
    Message(resize);
    const bool sizeable = ParentSizeable();
    if (sizeable) mClient.right = int16_t(mOuter.right - kGrip);
    if (mpLastField && GuiIsChildOf(this, mpLastField)) {
        const GuiRect f = mpLastField->mOuter;
        mpLastField->Resize(GuiRect(f.left, f.top, mOuter.right - (sizeable ? kGrip + 1 : 1), f.bottom));
    }
}

void GuiStatusBar::SetFont(const GuiFont* font)
{
    if (!font) return;
    GuiTextThing::SetFont(font);
    const int oldTop = mOuter.top;
    GuiMessage resize(GM_RESIZE, 0, this, this);
    resize.SetRect(GuiRect(mOuter.left, mOuter.bottom - (GuiFontHeight(font) + 6), mOuter.right, mOuter.bottom));
    Message(resize);
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext)
        if (c->mType == GT_PROMPT)
            c->Resize(GuiRect(c->mOuter.left, mOuter.top + 2, c->mOuter.right, mOuter.bottom - 1));
    if (IsVisible() && mpParent) {
        GuiThing* p = mpParent;
        p->mClient.bottom = int16_t(p->mClient.bottom + (mOuter.top - oldTop));
        p->Resize(p->mOuter);
        p->Draw();
    }
}

void GuiStatusBar::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s || !mpParent) return;
    s->BeginDraw(this);
    s->Rectangle(this, mOuter, GuiColor{mColor[0], mColor[0], GUI_COLOR_FILL}, 0);
    s->Line(this, mOuter.left + 1, mOuter.top + 1, mOuter.right, mOuter.top + 1, GuiColor{kWhite, kWhite, 0}, 1);
    if (mpParent->Style() & GST_FRAME_THICK) s->PutPixel(this, mOuter.right, mOuter.top, kWhite);
    DrawChildren();
    CheckDrawDragMap(nullptr);
    s->EndDraw();
}

void GuiStatusBar::CheckDrawDragMap(GuiThing* field)
{
    const GuiBitmap& grip = gbDragBitmap;
    if (field && field->mOuter.right < mOuter.right - grip.width) return;
    if (!ParentSizeable() || !mpScreen) return;
    mpScreen->Bitmap(this, GuiPoint{int16_t(mOuter.right - grip.width + 1), int16_t(mOuter.bottom - grip.height)},
                     &gbDragBitmap, 0);
}

void GuiStatusBar::SetSizing(int on, unsigned char pointerShape)
{
    mSizing = on;
    if (mpScreen) mpScreen->SetPointerType(pointerShape);
}

int GuiStatusBar::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_SHOW:
    case GM_PARENT_SIZED:
        SizeToParent();
        return GuiTextThing::Message(msg);
    case GM_POINTER_MOVE:
        if (ParentSizeable()) {
            const bool overGrip = GripArea().Contains(msg.Point());
            if (overGrip && !mSizing) SetSizing(1, kPointerSizing);
            else if (!overGrip && mSizing) SetSizing(0, kPointerNormal);
        }
        return 0;
    case GM_POINTER_PRESS:
        if (!mpParent) return 0;
        if (!mSizing) return mpParent->Message(msg);
        {
            mSizing = 0;
            GuiMessage size(GM_START_MOVE, GUI_BORDER_BOTTOM | GUI_BORDER_RIGHT, mpParent, this);
            size.SetPoint(msg.Point());
            mpParent->Message(size);
        }
        return 0;
    case GM_POINTER_LEAVE:
        if (mSizing) SetSizing(0, kPointerNormal);
        return 0;
    default:
        return GuiTextThing::Message(msg);
    }
}
