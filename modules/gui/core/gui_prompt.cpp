// GuiPrompt: construction by rectangle, by width or by its text, drawing
// of the aligned line and the selected look while it has the focus.
#include "gui/core/gui_prompt.h"

#include "gui/draw/gui_screen.h"

namespace {

// Pixels the frame adds to the height of a prompt sized at a point.
int frameHeight(unsigned short style, int thin, int bevel, int thick)
{
    if (style & GST_FRAME_THICK) return thick;
    if (style & (GST_FRAME_RAISED | GST_FRAME_RECESSED)) return bevel;
    if (style & GST_FRAME_THIN) return thin;
    return 0;
}

}  // namespace

GuiPrompt::GuiPrompt(const GuiRect& rect, const char* text, unsigned short id, unsigned short style,
                     int doubleSize)
    : GuiTextThing(rect, id, style, text, GUI_FONT_SLOT_PROMPT)
{
    InitPrompt(doubleSize);
    InitClient();
}

GuiPrompt::GuiPrompt(int x, int y, int width, const char* text, unsigned short id, unsigned short style,
                     const GuiFont* font, int doubleSize)
    : GuiTextThing(id, style, text, GUI_FONT_SLOT_PROMPT)
{
    InitPrompt(doubleSize);
    if (font) mpFont = font;
    const int th = (mpScreen && mpFont) ? mpScreen->TextHeight(mpText, mpFont) : 0;
    mOuter = mClip = GuiRect(x, y, x + width, y + th + 2 + frameHeight(style, 2, 4, 10));
    InitClient();
}

GuiPrompt::GuiPrompt(int x, int y, const char* text, unsigned short id, unsigned short style, const GuiFont* font,
                     int doubleSize)
    : GuiTextThing(id, style, text, GUI_FONT_SLOT_PROMPT)
{
    InitPrompt(doubleSize);
    if (font) mpFont = font;
    mOuter = mClip = GuiRect(x, y, x, y);
    if (mpText && mpFont && mpScreen) {
        const int k = doubleSize ? 2 : 1;
        mOuter.right = int16_t(x + k * mpScreen->TextWidth(mpText, mpFont, -1) + 2);
        mOuter.bottom = int16_t(y + k * mpScreen->TextHeight(mpText, mpFont) + 2);
    }
    mOuter.bottom = int16_t(mOuter.bottom + frameHeight(style, 2, 4, 10));
    mClip = mOuter;
    InitClient();
}

GuiPrompt::~GuiPrompt() = default;

void GuiPrompt::InitPrompt(int doubleSize)
{
    mType = GT_PROMPT;
    mDoubleSize = doubleSize;
    mColor[0] = 0xFFFFFF;
    mColor[1] = 0x0000BF;
    mColor[2] = 0x000000;
    mColor[3] = 0xFFFFFF;
    if (mStyle & GST_ENABLED) {
        mStatus |= GS_ACTIVE;
        mSignalMask = 1u << GUI_SIG_FOCUS_GAINED;
    } else {
        mStatus &= uint16_t(~GS_NEW_THING);
    }
}

void GuiPrompt::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s || !mpParent) return;
    const bool transparent = mStyle & GST_TRANSPARENT, selected = mStyle & GST_SELECTED;
    const uint32_t background = transparent ? mpParent->mColor[0] : selected ? mColor[1] : mColor[0];
    s->BeginDraw(this);
    if (!(transparent && (mStyle & GST_FRAME_MASK) == GST_FRAME_NONE)) StandardBorder(background);
    if (mpText && mpFont) {
        const GuiRect saved = mClip;
        mClip &= mClient;
        const int k = mDoubleSize ? 2 : 1;
        const int tw = k * s->TextWidth(mpText, mpFont, -1), th = k * s->TextHeight(mpText, mpFont);
        int x = mClient.left + (mClient.right - mClient.left + 1 - tw) / 2;
        if (mStyle & GST_TEXT_LEFT) x = mClient.left + 1;
        else if (mStyle & GST_TEXT_RIGHT) x = mClient.right - tw - 1;
        const int y = mClient.top + (mClient.bottom - mClient.top + 1 - th) / 2;
        // Fonts that paint their own background take colour 0 with them.
        GuiColor c{selected ? mColor[3] : mColor[2], (mpFont->type & 0x02) ? mColor[0] : background, 0};
        s->DrawText(this, GuiPoint{int16_t(x), int16_t(y)}, mpText, c, mpFont, -1, mDoubleSize);
        mClip = saved;
    }
    if (mpFirstChild) DrawChildren();
    s->EndDraw();
}

int GuiPrompt::Message(const GuiMessage& msg)
{
    if (msg.type != GM_FOCUS_GAINED && msg.type != GM_FOCUS_LOST) return GuiTextThing::Message(msg);
    int r = GuiThing::Message(msg);
    if (!(mStyle & GST_TRANSPARENT)) {
        if (msg.type == GM_FOCUS_GAINED) mStyle |= GST_SELECTED;
        else mStyle &= uint16_t(~GST_SELECTED);
        if (IsVisible() && mpScreen) {
            mpScreen->Invalidate(mClip);
            Draw();
        }
    }
    return r;
}
