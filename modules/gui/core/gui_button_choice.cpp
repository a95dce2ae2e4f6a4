// Radio buttons (exclusive among their siblings), check boxes and the
// title-bar system buttons.
#include <algorithm>

#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_button.h"
#include "gui/draw/gui_screen.h"

namespace {

// Outer rectangle of a radio button or check box at (x, y): the mark, the
// text 10 pixels right of it, 4 pixels of room below.
GuiRect choiceRect(int x, int y, const char* text, const GuiFont* font, const GuiBitmap& mark)
{
    GuiScreen* s = GuiThing::mpScreen;
    if (!text || !*text || !font || !s) return GuiRect(x, y, x + 3, y + 3);
    const int tw = s->TextWidth(text, font, -1), th = s->TextHeight(text, font);
    return GuiRect(x, y, x + tw + 12 + mark.width, y + std::max(th, int(mark.height)) + 4);
}

// Mark and text of a radio button or check box; no background is filled.
void drawChoice(GuiButton* b, GuiBitmap* mark, uint32_t textColour)
{
    GuiScreen* s = GuiThing::mpScreen;
    if (!s) return;
    s->BeginDraw(b);
    const int centre = (b->mOuter.top + b->mOuter.bottom) / 2;
    s->Bitmap(b, GuiPoint{int16_t(b->mOuter.left + 3), int16_t(centre - mark->height / 2)}, mark, 0);
    if (b->mpText && b->mpFont) {
        const int th = s->TextHeight(b->mpText, b->mpFont);
        GuiColor c{textColour, b->mColor[0], 0};
        GuiPoint at{int16_t(b->mOuter.left + mark->width + 10), int16_t(centre - th / 2)};
        s->DrawText(b, at, b->mpText, c, b->mpFont, -1, 0);
    }
    s->EndDraw();
}

// Pointer handling of radio buttons and check boxes: a press captures the
// pointer, a release inside calls `choose`; moves and leaving are ignored.
template <class Choose>
int choiceMessage(GuiButton* b, const GuiMessage& msg, Choose&& choose)
{
    switch (msg.type) {
    case GM_POINTER_MOVE:
    case GM_POINTER_LEAVE:
        return 0;
    case GM_POINTER_PRESS:
        if (b->mStyle & GST_ENABLED) b->CapturePointer();
        return 0;
    case GM_POINTER_RELEASE:
        if (b->mStatus & GS_CAPTURE) {
            if (b->mOuter.Contains(msg.Point())) choose();
            b->ReleasePointer();
        }
        return 0;
    default:
        return b->GuiButton::Message(msg);
    }
}

}  // namespace

// ---- GuiRadioButton ---------------------------------------------------------------------------

GuiRadioButton::GuiRadioButton(GuiRect& rect, const char* text, unsigned short id, unsigned short style)
    : GuiButton(rect, id, style, text, GUI_FONT_SLOT_RADIO)
{
    mType = GT_RADIO;
    mSignalMask = 1u << GUI_SIG_SELECTED;
}

GuiRadioButton::GuiRadioButton(int x, int y, const char* text, unsigned short id, unsigned short style)
    : GuiButton(id, style, text, GUI_FONT_SLOT_RADIO)
{
    mType = GT_RADIO;
    mSignalMask = 1u << GUI_SIG_SELECTED;
    mOuter = mClient = mClip = choiceRect(x, y, mpText, mpFont, gbRadioOnBitmap);
}

GuiRadioButton::~GuiRadioButton() = default;

int GuiRadioButton::IsSelected() { return (mStyle & GBS_PRESSED) ? 1 : 0; }

void GuiRadioButton::UnselectSiblings()
{
    if (!mpParent) return;
    for (GuiThing* c = mpParent->mpFirstChild; c; c = c->mpNext)
        if (c->mType == GT_RADIO) static_cast<GuiRadioButton*>(c)->SetSelected(0);
}

void GuiRadioButton::SetSelected(int on)
{
    if (on && !IsSelected()) {
        UnselectSiblings();
        mStyle |= GBS_PRESSED;
        if (IsVisible()) {
            if (mpScreen) mpScreen->Invalidate(mClip);
            Draw();
            if (SignalAllowed(GUI_SIG_SELECTED)) SendSignal(GUI_SIG_SELECTED);
        }
    } else if (!on && IsSelected()) {
        mStyle &= uint16_t(~GBS_PRESSED);
        if (IsVisible()) {
            if (mpScreen) mpScreen->Invalidate(mClip);
            Draw();
            if (SignalAllowed(GUI_SIG_DESELECTED)) SendSignal(GUI_SIG_DESELECTED);
        }
    }
}

int GuiRadioButton::Message(const GuiMessage& msg)
{
    return choiceMessage(this, msg, [this] { SetSelected(1); });
}

void GuiRadioButton::Draw()
{
    const bool enabled = mStyle & GST_ENABLED, on = IsSelected();
    GuiBitmap* mark = enabled ? (on ? &gbRadioOnBitmap : &gbRadioOffBitmap)
                              : (on ? &gbRadioOnDisabledBitmap : &gbRadioOffDisabledBitmap);
    drawChoice(this, mark, TextColour());
}

// ---- GuiCheckBox ---------------------------------------------------------------------------------

GuiCheckBox::GuiCheckBox(GuiRect& rect, const char* text, unsigned short id, unsigned short style)
    : GuiButton(rect, id, style, text, GUI_FONT_SLOT_CHECK)
{
    mType = GT_CHECK;
    mSignalMask = (1u << GUI_SIG_CHANGED) | (1u << GUI_SIG_UNCHECKED);
}

GuiCheckBox::GuiCheckBox(int x, int y, const char* text, unsigned short id, unsigned short style)
    : GuiButton(id, style, text, GUI_FONT_SLOT_CHECK)
{
    mType = GT_CHECK;
    mSignalMask = (1u << GUI_SIG_CHANGED) | (1u << GUI_SIG_UNCHECKED);
    mOuter = mClient = mClip = choiceRect(x, y, mpText, mpFont, gbCheckBoxOnBitmap);
}

GuiCheckBox::~GuiCheckBox() = default;

int GuiCheckBox::IsChecked() { return (mStyle & GBS_PRESSED) ? 1 : 0; }

void GuiCheckBox::SetSelected(int on)
{
    if (bool(on) == bool(IsChecked())) return;
    if (on) mStyle |= GBS_PRESSED;
    else mStyle &= uint16_t(~GBS_PRESSED);
    if (!IsVisible()) return;
    if (mpScreen) mpScreen->Invalidate(mClip);
    Draw();
    const unsigned char signal = on ? GUI_SIG_CHANGED : GUI_SIG_UNCHECKED;
    if (SignalAllowed(signal)) SendSignal(signal);
}

int GuiCheckBox::Message(const GuiMessage& msg)
{
    return choiceMessage(this, msg, [this] { SetSelected(!IsChecked()); });
}

void GuiCheckBox::Draw()
{
    const bool enabled = mStyle & GST_ENABLED, on = IsChecked();
    GuiBitmap* mark = enabled ? (on ? &gbCheckBoxOnBitmap : &gbCheckBoxOffBitmap)
                              : (on ? &gbCheckBoxOnDisabledBitmap : &gbCheckBoxOffDisabledBitmap);
    drawChoice(this, mark, TextColour());
}

// ---- GuiSystemButton -------------------------------------------------------------------------------

GuiSystemButton::GuiSystemButton(GuiRect& rect, GuiBitmap* bitmap, unsigned short id)
    : GuiBitmapButton(rect, bitmap, id, GST_ENABLED)
{
}

GuiSystemButton::~GuiSystemButton() = default;

int GuiSystemButton::Message(const GuiMessage& msg)
{
    if (msg.type == GM_POINTER_PRESS) {
        Clicked();
        return 0;
    }
    return GuiButton::Message(msg);
}
