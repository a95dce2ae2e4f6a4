// GuiIcon: a bitmap standing for a minimised window; releasing the pointer
// on it brings the window back and removes the icon.
#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_button.h"
#include "gui/core/gui_presentation.h"
#include "gui/draw/gui_screen.h"

GuiIcon::GuiIcon(GuiThing* proxy, GuiBitmap* bitmap, unsigned int id, unsigned int style)
    : GuiThing(uint16_t(id), uint16_t(style))
{
    InitIcon(bitmap, true);
    mpProxy = proxy;
}

GuiIcon::GuiIcon(const GuiRect& rect, GuiBitmap* bitmap, unsigned int id, unsigned int style)
    : GuiThing(rect, uint16_t(id), uint16_t(style))
{
    InitIcon(bitmap, false);
}

GuiIcon::GuiIcon(GuiBitmap* bitmap, unsigned int id, unsigned int style) : GuiThing(uint16_t(id), uint16_t(style))
{
    InitIcon(bitmap, true);
}

GuiIcon::~GuiIcon()
{
    // While minimised the window hangs in no tree: the icon owns it.
    if (mpProxy && !mpProxy->mpParent) delete mpProxy;
}

void GuiIcon::InitIcon(GuiBitmap* bitmap, bool sizeByBitmap)
{
    mType = GT_ICON;
    mColor[0] = 0xC0C0C0;
    mpBitmap = bitmap ? bitmap : &gbWinIconBitmap;
    mpProxy = nullptr;
    if (sizeByBitmap) mOuter = mClip = GuiRect(0, 0, mpBitmap->width - 1, mpBitmap->height - 1);
    InitClient();
}

void GuiIcon::SetIcon(GuiBitmap* bitmap) { mpBitmap = bitmap; }
GuiBitmap* GuiIcon::GetIcon() { return mpBitmap; }
GuiThing* GuiIcon::GetProxy() { return mpProxy; }
void GuiIcon::SetProxy(GuiThing* proxy) { mpProxy = proxy; }

void GuiIcon::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    if (mpBitmap)
        s->Bitmap(this, GuiPoint{mOuter.left, mOuter.top}, mpBitmap, 0);
    else
        s->Rectangle(this, mOuter, GuiColor{mColor[0], mColor[0], 0}, 2);
    s->EndDraw();
}

int GuiIcon::Message(const GuiMessage& msg)
{
    if (msg.type == GM_POINTER_RELEASE && mpProxy) {
        GuiThing* window = mpProxy;
        mpProxy = nullptr;
        if (mpParent) mpParent->Add(window, 1);
        if (mpPresentation) mpPresentation->NullInput(this);
        Destroy(this);
        return 0;
    }
    return GuiThing::Message(msg);
}
