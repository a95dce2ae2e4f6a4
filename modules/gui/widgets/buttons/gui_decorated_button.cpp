// GuiDecoratedButton: sizing by bitmap and text, the flat look and the
// layout of bitmap and text inside the bevel.
#include "gui/widgets/buttons/gui_decorated_button.h"

#include <algorithm>

#include "gui/draw/gui_screen.h"

namespace {

constexpr uint32_t kFace = 0xC0C0C0;
constexpr uint32_t kBlack = 0x000000;

}  // namespace

GuiDecoratedButton::GuiDecoratedButton(GuiRect& rect, const char* text, GuiBitmap* bitmap, unsigned short id,
                                       unsigned short style, int flat)
    : GuiButton(rect, id, style, text, GUI_FONT_SLOT_TEXT_BUTTON)
{
    InitDecorated(bitmap, flat);
}

GuiDecoratedButton::GuiDecoratedButton(int x, int y, int width, const char* text, GuiBitmap* bitmap,
                                       unsigned short id, unsigned short style, int flat)
    : GuiButton(id, style, text, GUI_FONT_SLOT_TEXT_BUTTON)
{
    InitDecorated(bitmap, flat);
    SizeToContent(x, y, width);
}

GuiDecoratedButton::GuiDecoratedButton(int x, int y, const char* text, GuiBitmap* bitmap, unsigned short id,
                                       unsigned short style, int flat)
    : GuiButton(id, style, text, GUI_FONT_SLOT_TEXT_BUTTON)
{
    InitDecorated(bitmap, flat);
    SizeToContent(x, y, -1);
}

GuiDecoratedButton::~GuiDecoratedButton() = default;

void GuiDecoratedButton::InitDecorated(GuiBitmap* bitmap, int flat)
{
    mColor[0] = kFace;
    mColor[2] = kBlack;
    mType = GT_DECORATED_BUTTON;
    mpBitmap = bitmap;
    mFlat = flat;
    mHover = 0;
}

void GuiDecoratedButton::SetBitmap(GuiBitmap* bitmap) { mpBitmap = bitmap; }

bool GuiDecoratedButton::BitmapBeside() const
{
    const uint16_t place = mStyle & GDB_BITMAP_MASK;
    return place == GDB_BITMAP_LEFT || place == GDB_BITMAP_RIGHT;
}

void GuiDecoratedButton::SizeToContent(int x, int y, int width)
{
    int th = 0, tw = 0;
    if (mpText && mpFont && mpScreen) {
        th = mpScreen->TextHeight(mpText, mpFont) + 3;
        tw = mpScreen->TextWidth(mpText, mpFont, -1) + 3;
    }
    const int bw = mpBitmap ? mpBitmap->width : 0;
    const int bh = mpBitmap ? mpBitmap->height : 0;
    int height, right;
    if (!mpBitmap) height = th;
    else if (BitmapBeside()) height = std::max(bh + 3, th) + 2;
    else height = th + 2 + bh;
    if (width >= 0) {
        right = x + width - 1;
    } else {
        // Sized by the content alone.
        int w = tw;
        if (mpBitmap && BitmapBeside()) {
            w = tw + bw + 6 + (mpText ? 2 : 0);
        } else if (mpBitmap) {
            height = th + 5 + bh;
            w = std::max(tw, bw + 3) + 2;
        }
        right = x + w;
    }
    mOuter = mClient = mClip = GuiRect(x, y, right, y + height);
}

void GuiDecoratedButton::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    if (mFlat && !mHover) {
        s->Rectangle(this, mOuter, GuiColor{mColor[0], mColor[0], GUI_COLOR_FILL}, 1);
        mClient = mOuter;
    } else {
        GuiButton::Draw();
    }
    GuiColor ink{mColor[2], mColor[0], 0};
    const int th = (mpText && mpFont) ? s->TextHeight(mpText, mpFont) : 0;
    const int tw = (mpText && mpFont) ? s->TextWidth(mpText, mpFont, -1) : 0;
    const int cl = mClient.left, ct = mClient.top, cr = mClient.right, cb = mClient.bottom;
    const int cw = mClient.Width(), ch = mClient.Height();
    int textX, textY;
    if (!mpBitmap) {
        textX = cl + (cw - tw) / 2;
        textY = ct + (ch - th) / 2;
    } else {
        const int bw = mpBitmap->width, bh = mpBitmap->height;
        int bx, by;
        switch (mStyle & GDB_BITMAP_MASK) {
        case GDB_BITMAP_RIGHT:
            bx = cr - (bw + 3);
            by = ct + ((ch - bh) >> 1);
            textX = bx - (tw + 2);
            textY = ct + ((ch - th) >> 1);
            break;
        case GDB_BITMAP_ABOVE:
            bx = cl + ((cw - bw) >> 1);
            by = ct + 3;
            textX = cl + ((cw - tw) >> 1);
            textY = ct + 5 + bh;
            break;
        case GDB_BITMAP_BELOW:
            bx = cl + ((cw - bw) >> 1);
            by = cb - (bh + 2);
            textX = cl + ((cw - tw) >> 1);
            textY = by - (th + 2);
            break;
        default:   // left of the text
            bx = cl + 3;
            by = ct + ((ch - bh) >> 1);
            textX = cl + 5 + bw;
            textY = ct + ((ch - th) >> 1);
            break;
        }
        s->Bitmap(this, GuiPoint{int16_t(bx), int16_t(by)}, mpBitmap, 0);
    }
    if (mpText && mpFont)
        s->DrawText(this, GuiPoint{int16_t(textX), int16_t(textY)}, mpText, ink, mpFont, -1, 0);
    s->EndDraw();
}

int GuiDecoratedButton::Message(const GuiMessage& msg)
{
    const int r = GuiButton::Message(msg);
    if (!mFlat) return r;
    switch (msg.type) {
    case GM_POINTER_ENTER:
    case GM_POINTER_LEAVE:
        mHover = msg.type == GM_POINTER_ENTER ? 1 : 0;
        if (IsVisible() && mpScreen) {
            mpScreen->Invalidate(mOuter);
            Draw();
        }
        return 0;
    case GM_FOCUS_LOST:
        mHover = 0;
        return 0;
    default:
        return r;
    }
}
