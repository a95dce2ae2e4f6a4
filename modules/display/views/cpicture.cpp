// CPicture: composing the picture once, blitting it on every draw.
#include "display/views/cpicture.h"

#include <algorithm>

#include "display/fonts/korva_fonts.h"
#include "display/views/view_paint.h"
#include "gui/draw/gui_screen.h"

CPicture::CPicture(const GuiRect& pageRect, display_elem_s* elem, GuiBitmap* bitmap, GuiWindow* par,
                   unsigned int flags)
    : CDataView(elem, flags), parent(par)
{
    titleFont = Korva_getFont(FONT_TINY);
    if (!elem || elem->type != DISP_ELEM_PICTURE) return;
    const picture_elem_s& p = elem->picture;
    placeOn(pageRect);

    const auto col = bitmap ? dispElem_Color : dispElem_GhostColor;
    frameColour = col(&p.deco_middle.BorderFGCol);
    backgroundColour = col(&p.deco_middle.BorderBGCol);
    titleColour = col(&p.deco_middle.TitleFGCol);
    titleBackground = col(&p.deco_middle.TitleBGCol);
    decoStyle = p.deco_middle.style;
    imageX = imageY = decoStyle != STYLE_NONE ? 16 : 0;
    alpha = bitmap ? (bitmap->flags & GUI_BMP_ALPHA) : 0;
    if (alpha) {
        // Drawn over the page through its viewports, so that the page shows
        // through the transparent pixels.
        mStyle = GST_TRANSPARENT;
        mStatus &= uint16_t(~GS_VIEWPORT_OWNER);
    }
    title = p.title;
    GuiScreen* s = mpScreen;
    if (!s) return;
    if (title[0]) {
        titleWidth = s->TextWidth(title, titleFont, -1);
        titleHeight = s->TextHeight(title, titleFont);
        titleBitmap = disp_text_bitmap(this, title, titleFont, titleColour, alpha ? 1u : titleBackground, titleWidth,
                                       titleHeight, int(alpha));
    }
    // The composed view never needs more than the screen: a larger element
    // shows only its top-left part anyway.
    compose(bitmap, std::min<int>(int(elem->size_x), s->Width()), std::min<int>(int(elem->size_y), s->Height()));
    resetLetter = disp_text_bitmap(this, "R", titleFont, 0x000000, 0xFFFFFF);
}

CPicture::~CPicture()
{
    disp_free_bitmap(pictureBitmap);
    disp_free_bitmap(titleBitmap);
    disp_free_bitmap(resetLetter);
}

void CPicture::compose(GuiBitmap* image, int width, int height)
{
    GuiScreen* s = mpScreen;
    pictureBitmap = s->CreateBitmap(width, height, int(alpha));
    if (!pictureBitmap) return;   // drawn as a red cross on the screen instead
    s->BeginDraw(this, pictureBitmap);
    if (!s->DrawingIntoBitmap()) return;
    const int sx = int(element->size_x), sy = int(element->size_y);
    const GuiRect view(0, 0, sx - 1, sy - 1);
    if (!alpha || !image) {
        // The client rectangle, in the bitmap's coordinates.
        GuiRect c = mClient;
        c.Shift(-mOuter.left, -mOuter.top);
        s->Rectangle(this, c, GuiColor{frameColour, backgroundColour, GUI_COLOR_FILL}, 0);
    }
    disp_draw_frame(this, view, decoStyle, frameColour, backgroundColour);
    if (image)
        s->Bitmap(this, GuiPoint{int16_t(imageX), int16_t(imageY)}, image, 0);
    else
        disp_draw_cross(this, view, imageX);
    if (titleBitmap) {
        const int x = (mClient.right - mClient.left) / 2 - titleWidth / 2;
        s->Bitmap(this, GuiPoint{int16_t(x), 0}, titleBitmap, 0);
    }
    s->EndDraw(pictureBitmap);
}

void CPicture::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    const GuiPoint corner{mOuter.left, mOuter.top};
    if (pictureBitmap)
        s->Bitmap(this, corner, pictureBitmap, 0);
    else
        disp_draw_cross(this, mOuter, 0);
    if (resettable && resetLetter && elemResetFlag) s->Bitmap(this, corner, resetLetter, 0);
    s->EndDraw();
}

int CPicture::updateDisp(int) { return followVisibility(parent); }

int CPicture::forceUpdate()
{
    CDataView::forceUpdate();
    elemResetFlag = 0;
    return 0;
}
