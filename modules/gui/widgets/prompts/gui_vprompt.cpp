// GuiVPrompt: construction and the vertical drawing of the text.
#include "gui/widgets/prompts/gui_vprompt.h"

#include "gui/draw/gui_screen.h"

GuiVPrompt::GuiVPrompt(const GuiRect& rect, const char* text, unsigned short id, unsigned short style)
    : GuiPrompt(rect, text, id, style, 0)
{
    mType = GT_VPROMPT;
    InitClient();
    if (mStyle & GST_ENABLED) {
        mStatus |= GS_ACTIVE;
        mSignalMask = 1u << GUI_SIG_FOCUS_GAINED;
    } else {
        mStatus &= uint16_t(~GS_NEW_THING);
    }
    mColor[0] = 0xFFFFFF;
    mColor[1] = 0x0000BF;
    mColor[2] = 0x000000;
    mColor[3] = 0xFFFFFF;
}

GuiVPrompt::~GuiVPrompt() = default;

void GuiVPrompt::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s || !mpParent) return;
    const bool focused = mStatus & GS_FOCUS_BRANCH;
    const uint32_t fill = (mStyle & GST_TRANSPARENT) ? mpParent->mColor[0] : focused ? mColor[1] : mColor[0];
    s->BeginDraw(this);
    StandardBorder(fill);
    if (mpText && mpFont) {
        GuiColor c{focused ? mColor[3] : mColor[2], fill, 0};
        // Characters stack one pixel closer than the font's height.
        const int step = s->TextHeight(mpText, mpFont) - 1;
        int count = 0;
        while (mpText[count]) ++count;
        int y = mClient.top + (mClient.Height() - count * step) / 2;
        const int middle = (mClient.left + mClient.right) / 2;
        const GuiRect saved = mClip;
        mClip &= mClient;
        for (int i = 0; i < count; ++i, y += step) {
            const int x = middle - s->TextWidth(mpText + i, mpFont, 1) / 2;
            s->DrawText(this, GuiPoint{int16_t(x), int16_t(y)}, mpText + i, c, mpFont, 1, 0);
        }
        mClip = saved;
    }
    DrawChildren();
    s->EndDraw();
}
