// GuiTitle: drawing, sizing to the parent, the button layout and the font.
#include "gui/core/gui_bitmaps.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_frame_support.h"
#include "gui/widgets/frames/gui_title.h"

namespace {
constexpr int kButtonSize = 16;

void placeButton(GuiThing* button, int right, int top)
{
    button->Resize(GuiRect(right - (kButtonSize - 1), top + 2, right, top + 2 + kButtonSize - 1));
}
}  // namespace

void GuiTitle::ShowMaximizeState()
{
    const bool maximized = GuiIsMaximized(mpParent);
    if (mpMaxButton) {
        mpMaxButton->SetBitmap(maximized ? &gbRestoreButtonBitmap : &gbMaxButtonBitmap);
        mpMaxButton->mId = maximized ? GUI_ID_RESTORE : GUI_ID_MAXIMIZE;
    }
    if (!mpSysMenu) return;
    const char* from = maximized ? GUISC_MAXIMIZE : GUISC_RESTORE;
    if (GuiMenuButton* entry = mpSysMenu->FindButton(from)) {
        entry->DataSet(maximized ? GUISC_RESTORE : GUISC_MAXIMIZE);
        entry->mId = maximized ? GUI_ID_RESTORE : GUI_ID_MAXIMIZE;
    }
}

void GuiTitle::SizeToParent()
{
    GuiThing* p = mpParent;
    if (!p) return;
    ShowMaximizeState();
    int left = p->mOuter.left, top = p->mOuter.top, right = p->mOuter.right;
    const unsigned short style = p->Style();
    if (style & GST_FRAME_THICK) {
        left += 4;
        top += 4;
        right -= 3;
    } else if (!(style & GST_FRAME_NONE)) {
        left += 2;
        top += 2;
        right -= 3;
    }
    GuiMessage resize(GM_RESIZE, 0, this, this);
    resize.SetRect(GuiRect(left, top, right, top + mHeight));
    Message(resize);
}

void GuiTitle::PlaceButtons()
{
    const int top = mOuter.top;
    int edge = mOuter.right;   // left edge of the last button placed
    bool placed = false;
    if (mpCloseButton) {
        placeButton(mpCloseButton, mOuter.right - 2, top);
        edge = mpCloseButton->mOuter.left;
        placed = true;
    }
    if (mpMaxButton) {
        placeButton(mpMaxButton, placed ? edge - 2 : mOuter.right - 2, top);
        edge = mpMaxButton->mOuter.left;
        placed = true;
    }
    if (mpMinButton) {
        // Touches the maximise button.
        placeButton(mpMinButton, placed ? edge - 1 : mOuter.right - 1, top);
        edge = mpMinButton->mOuter.left;
    }
    mClient.right = int16_t(edge - 4);
}

void GuiTitle::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    const bool active = mpParent && (mpParent->mStatus & GS_FOCUS_BRANCH);
    const uint32_t fill = active ? mColor[1] : mColor[0];
    s->Rectangle(this, mOuter, GuiColor{fill, fill, GUI_COLOR_FILL}, 0);
    if (mpText && mpFont) {
        const GuiRect saved = mClip;
        if (mClip.right > mClient.right) mClip.right = mClient.right;
        GuiColor ink{active ? mColor[3] : mColor[2], fill, 0};
        const int x = (mpSysButton ? mpSysButton->mOuter.right : mOuter.left) + 4;
        s->DrawText(this, GuiPoint{int16_t(x), int16_t(mOuter.top + 2)}, mpText, ink, mpFont, -1, 0);
        mClip = saved;
    }
    DrawChildren();
    s->EndDraw();
}

void GuiTitle::SetFont(const GuiFont* font)
{
    GuiTextThing::SetFont(font);
    const int height = HeightFor(mpFont);
    const int d = height - mHeight;
    mHeight = height;
    if (d == 0) return;
    GuiThing* parent = mpParent;
    const bool shown = IsVisible() && parent;
    // Taken off and put back, so that the window accounts for the new rows.
    if (shown) parent->Remove(this, 0);
    mOuter.bottom = int16_t(mOuter.bottom + d);
    mClient.bottom = int16_t(mClient.bottom + d);
    if (shown) parent->Add(this, 1);
}
