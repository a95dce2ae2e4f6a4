// GuiButton: pressing, releasing, auto-repeat and the bevelled face shared
// by the whole button family; GuiBitmapButton and GuiTextButton.
#include "gui/core/gui_button.h"

#include <algorithm>

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/draw/gui_screen.h"

namespace {
constexpr uint32_t kLightGrey = 0xC0C0C0;
constexpr uint32_t kDarkGrey = 0x808080;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0;
constexpr uint16_t kActiveSelectable = GS_ACTIVE | GS_SELECTABLE;   // 0x0404

int textWidth(const char* text, const GuiFont* font)
{
    return (text && font && GuiThing::mpScreen) ? GuiThing::mpScreen->TextWidth(text, font, -1) : 0;
}

int textHeight(const char* text, const GuiFont* font)
{
    return (font && GuiThing::mpScreen) ? GuiThing::mpScreen->TextHeight(text, font) : 0;
}
}  // namespace

// ---- GuiButton ---------------------------------------------------------------------------

GuiButton::GuiButton(const GuiRect& rect, unsigned short id, unsigned short style, const char* text,
                     unsigned char fontSlot)
    : GuiTextThing(rect, id, style, text, fontSlot)
{
    GuiButton::Initialize(style);
}

GuiButton::GuiButton(unsigned short id, unsigned short style, const char* text, unsigned char fontSlot)
    : GuiTextThing(id, style, text, fontSlot)
{
    GuiButton::Initialize(style);
}

GuiButton::~GuiButton() = default;

void GuiButton::Initialize(unsigned short style)
{
    mColor[0] = mColor[1] = kLightGrey;
    mColor[2] = mColor[3] = kBlack;
    mType = GT_BUTTON;
    mStatus |= GS_SIZABLE | GS_MOVABLE;
    mSignalMask = 1u << GUI_SIG_CLICKED;
    if (style & GST_ENABLED) mStatus |= kActiveSelectable;
    else mStatus &= uint16_t(~kActiveSelectable);
}

unsigned short GuiButton::Style() { return mStyle; }

void GuiButton::Style(unsigned short style)
{
    mStyle = style;
    if (style & GST_ENABLED) mStatus |= kActiveSelectable;
    else mStatus &= uint16_t(~kActiveSelectable);
}

void GuiButton::Enable()
{
    Style(uint16_t(mStyle | GST_ENABLED));
    if (IsVisible() && mpScreen) {
        mpScreen->Invalidate(mClip);
        Draw();
    }
}

void GuiButton::Disable()
{
    Style(uint16_t(mStyle & ~GST_ENABLED));
    if (IsVisible() && mpScreen) {
        mpScreen->Invalidate(mClip);
        Draw();
    }
}

void GuiButton::ShowPressed(bool pressed)
{
    if (pressed) mStyle |= GBS_PRESSED;
    else mStyle &= uint16_t(~GBS_PRESSED);
    if (IsVisible() && mpScreen) {
        mpScreen->Invalidate(mClip);
        Draw();
    }
}

void GuiButton::StopRepeat()
{
    if ((mStyle & GBS_AUTO_REPEAT) && mpMessageQueue) mpMessageQueue->KillTimer(this, GUI_REPEAT_TIMER);
}

void GuiButton::Clicked()
{
    if (SignalAllowed(GUI_SIG_CLICKED)) SendSignal(GUI_SIG_CLICKED);
}

uint32_t GuiButton::TextColour() const
{
    if (!(mStyle & GST_ENABLED)) return kDarkGrey;
    return (mStyle & GST_SELECTED) ? mColor[3] : mColor[2];
}

int GuiButton::Message(const GuiMessage& msg)
{
    const GuiPoint p = msg.Point();
    switch (msg.type) {
    case GM_HIDE:
        StopRepeat();
        if (mStyle & GBS_SIGNAL_ON_PRESS) mStyle &= uint16_t(~GBS_PRESSED);
        return GuiThing::Message(msg);
    case GM_POINTER_MOVE:
        if (IsPressed() && !mOuter.Contains(p)) ShowPressed(false);
        else if ((mStatus & GS_CAPTURE) && !IsPressed() && mOuter.Contains(p)) ShowPressed(true);
        return 0;
    case GM_POINTER_PRESS:
        if (IsPressed()) return 0;
        ShowPressed(true);
        if (mStyle & GBS_SIGNAL_ON_PRESS) Clicked();
        else CapturePointer();
        if ((mStyle & GBS_AUTO_REPEAT) && mpMessageQueue)
            mpMessageQueue->SetTimer(this, GUI_REPEAT_TIMER, GUI_REPEAT_FIRST, GUI_REPEAT_NEXT);
        return 0;
    case GM_POINTER_RELEASE:
        if (mStatus & GS_CAPTURE) ReleasePointer();
        StopRepeat();
        if (IsPressed()) {
            ShowPressed(false);
            if (!(mStyle & GBS_SIGNAL_ON_PRESS) && mOuter.Contains(p)) Clicked();
        }
        return 0;
    case GM_FOCUS_LOST: {
        int r = GuiThing::Message(msg);
        if (mStatus & GS_CAPTURE) {
            if (IsPressed()) ShowPressed(false);
            ReleasePointer();
            StopRepeat();
        }
        return r;
    }
    case GM_POINTER_ENTER:
        return 0;
    case GM_POINTER_LEAVE:
        if (IsPressed()) ShowPressed(false);
        StopRepeat();
        return 0;
    case GM_TIMER:
        if ((mStyle & GBS_AUTO_REPEAT) && IsPressed() && msg.data == GUI_REPEAT_TIMER) Clicked();
        return 0;
    default:
        return GuiThing::Message(msg);
    }
}

void GuiButton::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s || (mStyle & GST_TRANSPARENT)) return;
    s->BeginDraw(this);
    mClient = mOuter;
    const uint32_t face = (mStyle & GST_SELECTED) ? mColor[1] : mColor[0];
    s->Rectangle(this, mOuter, GuiColor{face, face, GUI_COLOR_FILL}, 0);
    if (!(mStyle & GST_FRAME_NONE)) {
        const int l = mOuter.left, t = mOuter.top, r = mOuter.right, b = mOuter.bottom;
        auto line = [&](int x1, int y1, int x2, int y2, uint32_t c) {
            s->Line(this, x1, y1, x2, y2, GuiColor{c, c, 0}, 1);
        };
        if (!IsPressed()) {
            const int in = (mStyle & GBS_BEVEL_IN) ? 1 : 0;
            line(r - 1, t + 1, r - 1, b - 1, kDarkGrey);
            line(l + 1, b - 1, r - 1, b - 1, kDarkGrey);
            line(l + in, t + in, r - 1 - in, t + in, kWhite);
            line(l + in, t + in, l + in, b - 1 - in, kWhite);
            line(r, t, r, b, kBlack);
            line(l, b, r, b, kBlack);
            mClient.right = int16_t(mClient.right - 1);
            mClient.bottom = int16_t(mClient.bottom - 1);
        } else {
            line(l + 1, t + 1, r - 1, t + 1, kDarkGrey);
            line(l + 1, t + 1, l + 1, b - 1, kDarkGrey);
            line(l, t, r, t, kBlack);
            line(l, t, l, b, kBlack);
            line(r, t + 1, r, b, kWhite);
            line(l + 1, b, r, b, kWhite);
            mClient.left = int16_t(mClient.left + 1);
            mClient.top = int16_t(mClient.top + 1);
        }
    }
    s->EndDraw();
}

// ---- GuiBitmapButton ------------------------------------------------------------------------

GuiBitmapButton::GuiBitmapButton(const GuiRect& rect, GuiBitmap* bitmap, unsigned int id, unsigned int style)
    : GuiButton(rect, uint16_t(id), uint16_t(style), nullptr, 0)
{
    InitBitmapButton(bitmap);
}

GuiBitmapButton::GuiBitmapButton(int x, int y, GuiBitmap* bitmap, unsigned int id, unsigned int style)
    : GuiButton(uint16_t(id), uint16_t(style), nullptr, 0)
{
    int right = x + 3, bottom = y + 3;
    if (bitmap) {
        const int bevel = (style & GST_FRAME_NONE) ? 0 : 4;
        right = x - 1 + bitmap->width + bevel;
        bottom = y - 1 + bitmap->height + bevel;
    }
    mOuter = mClient = mClip = GuiRect(x, y, right, bottom);
    InitBitmapButton(bitmap);
}

GuiBitmapButton::~GuiBitmapButton() = default;

void GuiBitmapButton::InitBitmapButton(GuiBitmap* bitmap)
{
    mType = GT_BITMAP_BUTTON;
    mpBitmap = bitmap;
}

void GuiBitmapButton::SetBitmap(GuiBitmap* bitmap) { mpBitmap = bitmap; }

void GuiBitmapButton::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    GuiButton::Draw();
    if (mpBitmap) {
        const GuiRect saved = mClip;
        mClip &= mClient;
        const int x = (mClient.left + mClient.right + 1 - mpBitmap->width) / 2;
        const int y = (mClient.top + mClient.bottom + 1 - mpBitmap->height) / 2;
        s->Bitmap(this, GuiPoint{int16_t(x), int16_t(y)}, mpBitmap, 0);
        mClip = saved;
    }
    if (mpFirstChild) DrawChildren();
    s->EndDraw();
}

// ---- GuiTextButton ------------------------------------------------------------------------------

GuiTextButton::GuiTextButton(GuiRect& rect, const char* text, unsigned short id, unsigned short style)
    : GuiButton(rect, id, style, text, GUI_FONT_SLOT_TEXT_BUTTON)
{
    mType = GT_TEXT_BUTTON;
}

GuiTextButton::GuiTextButton(int x, int y, int width, const char* text, unsigned short id, unsigned short style)
    : GuiButton(id, style, text, GUI_FONT_SLOT_TEXT_BUTTON)
{
    mType = GT_TEXT_BUTTON;
    const bool hasText = mpText != nullptr;
    const int right = hasText ? x + width - 1 : x + 3;
    const int bottom = hasText ? y + textHeight(mpText, mpFont) + 3 : y + 3;
    mOuter = mClient = mClip = GuiRect(x, y, right, bottom);
}

GuiTextButton::GuiTextButton(int x, int y, const char* text, unsigned short id, unsigned short style)
    : GuiButton(id, style, text, GUI_FONT_SLOT_TEXT_BUTTON)
{
    mType = GT_TEXT_BUTTON;
    const bool hasText = mpText != nullptr;
    const int right = hasText ? x + textWidth(mpText, mpFont) + 6 : x + 3;
    const int bottom = hasText ? y + textHeight(mpText, mpFont) + 3 : y + 3;
    mOuter = mClient = mClip = GuiRect(x, y, right, bottom);
}

GuiTextButton::~GuiTextButton() = default;

void GuiTextButton::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    GuiButton::Draw();
    if (mpText && mpFont) {
        const int tw = s->TextWidth(mpText, mpFont, -1), th = s->TextHeight(mpText, mpFont);
        const int cw = mClient.right - mClient.left + 1, ch = mClient.bottom - mClient.top + 1;
        int x = mClient.left + (cw - tw) / 2;
        if (mStyle & GST_TEXT_LEFT) x = mClient.left + 3;
        else if (mStyle & GST_TEXT_RIGHT) x = mClient.right - tw - 3;
        const int y = th <= ch ? mClient.top + (ch - th) / 2 : mClient.top;
        const uint32_t face = (mStyle & GST_SELECTED) ? mColor[1] : mColor[0];
        GuiColor c{TextColour(), face, 0};
        s->DrawText(this, GuiPoint{int16_t(x), int16_t(y)}, mpText, c, mpFont, -1, 0);
    }
    if (mpFirstChild) DrawChildren();
    s->EndDraw();
}
