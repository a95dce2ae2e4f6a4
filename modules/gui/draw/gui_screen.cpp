// GuiScreen: clipping of the thing-level primitives and their dispatch to
// the driver's view-level operations.
#include "gui/draw/gui_screen.h"

#include <algorithm>
#include <new>

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_task.h"
#include "gui/core/gui_thing.h"

GuiScreen::GuiScreen(const GuiRect& screenRect)
{
    miWidth = screenRect.right - screenRect.left + 1;
    miHeight = screenRect.bottom - screenRect.top + 1;
    mPointerTypes[0] = PointerType{&gbMouse, 0, 0};
    mpCurrentPointer = &gbMouse;
    AllocateViewportBlock();
}

GuiScreen::~GuiScreen()
{
    for (GuiViewport* block : mViewportBlocks) delete[] block;
    mViewportBlocks.clear();
    mpFreeHead = mpFreeTail = nullptr;
    delete[] mpOwnedBuffer;
    mpOwnedBuffer = nullptr;
}

// ---- invalidation ------------------------------------------------------------------

void GuiScreen::Invalidate(const GuiRect& rect)
{
    EnterCriticalSection();
    if (miInvalidCount == 0)
        mInvalidRect = rect;
    else
        mInvalidRect |= rect;
    ++miInvalidCount;
}

// ---- clip and dispatch -------------------------------------------------------------

bool GuiScreen::ClipToTarget(GuiThing* thing, GuiRect& rect, WalkCaller caller) const
{
    const bool any = caller == WalkCaller::Any;
    if (mbDrawingBitmap) {
        if (!thing && !any) return false;
        rect &= mBitmapRect;
    } else {
        // On the screen the caller's clip rectangle is always needed.
        if (!thing) return false;
        if (!any && !(thing->mStatus & GS_VISIBLE)) return false;
        if (miInvalidCount == 0 || miDrawNesting == 0) return false;
        rect &= mInvalidRect;
        rect &= thing->mClip;
        // Never past the frame buffer, whatever a clip rectangle says.
        rect &= GuiRect(0, 0, miWidth - 1, miHeight - 1);
    }
    return !rect.IsEmpty();
}

GuiViewport* GuiScreen::ViewportsOf(GuiThing* thing)
{
    for (GuiThing* t = thing; t; t = t->mpParent)
        if (t->mStatus & GS_VIEWPORT_OWNER) return t->mpViewports;
    return nullptr;
}

// ---- pixels --------------------------------------------------------------------------

unsigned long GuiScreen::GetPixel(int x, int y)
{
    if (x < 0 || x >= miWidth || y < 0 || y >= miHeight) return 0;
    return GetPixelView(x, y);
}

void GuiScreen::PutPixel(GuiThing* thing, int x, int y, unsigned long colour)
{
    // The piece must hold the point itself: a coordinate beyond 16 bits
    // wraps in the rectangle and would be written past the rows.
    ForEachPiece(thing, GuiRect(x, y, x, y), [&](GuiRect& piece) {
        if (piece.Contains(x, y)) mppRows[y][x] = uint32_t(colour);
    });
}

// ---- lines and rectangles ----------------------------------------------------------------

void GuiScreen::Line(GuiThing* thing, int x1, int y1, int x2, int y2, const GuiColor& colour, int width)
{
    if (!thing || width < 1) return;
    if (width > 1 && WideLine(thing, x1, y1, x2, y2, colour, width)) return;
    GuiRect r(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2));
    if (width > 1) r += width;
    ForEachPiece(thing, r, [&](GuiRect& piece) { LineView(x1, y1, x2, y2, piece, colour, width); });
}

int GuiScreen::WideLine(GuiThing* thing, int x1, int y1, int x2, int y2, const GuiColor& colour, int width)
{
    GuiColor fill{colour.foreground, colour.foreground, GUI_COLOR_FILL};
    if (y1 == y2) {
        Rectangle(thing, GuiRect(std::min(x1, x2), y1, std::max(x1, x2), y1 + width - 1), fill, 0);
        return 1;
    }
    if (x1 == x2) {
        Rectangle(thing, GuiRect(x1, std::min(y1, y2), x1 + width - 1, std::max(y1, y2)), fill, 0);
        return 1;
    }
    return 0;
}

void GuiScreen::PolyLine(GuiThing* thing, GuiPoint* points, unsigned int count, const GuiColor& colour,
                         int width)
{
    if (!thing || !points || width < 1 || count < 2) return;
    // Each segment as a line of its own: straight wide segments come out at
    // their full width.
    for (unsigned int i = 0; i + 1 < count; ++i)
        Line(thing, points[i].x, points[i].y, points[i + 1].x, points[i + 1].y, colour, width);
}

void GuiScreen::Rectangle(GuiThing* thing, const GuiRect& rect, const GuiColor& colour, int width)
{
    if (!thing) return;
    GuiRect r = rect;
    if (width > 1) {
        WideLine(thing, rect.left, rect.top, rect.right, rect.top, colour, width);
        WideLine(thing, rect.left, rect.bottom - width + 1, rect.right, rect.bottom - width + 1, colour, width);
        WideLine(thing, rect.left, rect.top, rect.left, rect.bottom, colour, width);
        WideLine(thing, rect.right - width + 1, rect.top, rect.right - width + 1, rect.bottom, colour, width);
        if (!(colour.flags & GUI_COLOR_FILL)) return;
        r = GuiRect(rect.left + width, rect.top + width, rect.right - width, rect.bottom - width);
        if (r.IsEmpty()) return;
        width = 0;
    }
    ForEachPiece(thing, r, [&](GuiRect& piece) { Rectangle(r, piece, colour, width); });
}

void GuiScreen::Rectangle(const GuiRect& rect, GuiRect& clip, const GuiColor& colour, int width)
{
    if (width == 1) {
        if (clip.top == rect.top && !clip.IsEmpty()) {
            HorizontalLine(clip.left, clip.right, clip.top, colour.foreground, 1);
            ++clip.top;
        }
        if (clip.bottom == rect.bottom && !clip.IsEmpty()) {
            HorizontalLine(clip.left, clip.right, clip.bottom, colour.foreground, 1);
            --clip.bottom;
        }
        if (clip.left == rect.left && !clip.IsEmpty()) {
            VerticalLine(clip.top, clip.bottom, clip.left, colour.foreground, 1);
            ++clip.left;
        }
        if (clip.right == rect.right && !clip.IsEmpty()) {
            VerticalLine(clip.top, clip.bottom, clip.right, colour.foreground, 1);
            --clip.right;
        }
    }
    if ((colour.flags & GUI_COLOR_FILL) && !clip.IsEmpty()) {
        if (mbFillByColumns)
            VerticalLine(clip.top, clip.bottom, clip.left, colour.background, clip.right - clip.left + 1);
        else
            HorizontalLine(clip.left, clip.right, clip.top, colour.background, clip.bottom - clip.top + 1);
    }
}

void GuiScreen::RectangleXOR(GuiThing* thing, const GuiRect& rect)
{
    GuiRect c = rect;
    if (!ClipToTarget(thing, c)) return;
    bool topDone = false, bottomDone = false;
    if (c.top == rect.top) {
        HorizontalLineXOR(c.left, c.right, rect.top);
        topDone = true;
    }
    if (c.bottom == rect.bottom && rect.bottom != rect.top) {
        HorizontalLineXOR(c.left, c.right, rect.bottom);
        bottomDone = true;
    }
    // The columns leave out the rows already inverted by the edges above,
    // so no corner pixel is inverted twice.
    int top = c.top + (topDone ? 1 : 0);
    int bottom = c.bottom - (bottomDone ? 1 : 0);
    if (top > bottom) return;
    if (c.left == rect.left) VerticalLineXOR(top, bottom, rect.left);
    if (c.right == rect.right && rect.right != rect.left) VerticalLineXOR(top, bottom, rect.right);
}

// ---- bitmaps ----------------------------------------------------------------------------------

void GuiScreen::Bitmap(GuiThing* thing, GuiPoint point, GuiBitmap* bitmap, int onTop)
{
    if (!thing || !bitmap || bitmap->width == 0 || bitmap->height == 0) return;
    GuiRect r(point.x, point.y, point.x + bitmap->width - 1, point.y + bitmap->height - 1);
    if (onTop && !mbDrawingBitmap) {
        // Drawn over everything in the thing's area, whatever is invalid.
        r &= thing->mClip;
        r &= thing->mClient;
        r &= GuiRect(0, 0, miWidth - 1, miHeight - 1);
        if (r.IsEmpty()) return;
        BitmapView(point, bitmap, r);
        return;
    }
    ForEachPiece(thing, r, [&](GuiRect& piece) { BitmapView(point, bitmap, piece); });
}

void GuiScreen::BitmapFill(GuiThing* thing, GuiRect rect, GuiBitmap* bitmap)
{
    if (!thing || !bitmap || bitmap->width == 0 || bitmap->height == 0) return;
    GuiRect saved = thing->mClip;
    thing->mClip &= rect;
    for (int y = rect.top; y <= rect.bottom; y += bitmap->height)
        for (int x = rect.left; x <= rect.right; x += bitmap->width)
            Bitmap(thing, GuiPoint{int16_t(x), int16_t(y)}, bitmap, 0);
    thing->mClip = saved;
}

void GuiScreen::Restore(GuiThing* thing, GuiCapture* capture, int onTop)
{
    if (capture && capture->valid) Bitmap(thing, capture->Point(), &capture->bitmap, onTop);
}

GuiBitmap* GuiScreen::CreateBitmap(int width, int height, int transparent)
{
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return nullptr;
    GuiBitmap* b = new (std::nothrow) GuiBitmap{};
    if (!b) return nullptr;
    size_t n = size_t(width) * size_t(height);
    b->data = new (std::nothrow) uint8_t[n];
    if (!b->data) {
        delete b;
        return nullptr;
    }
    b->flags = transparent ? GUI_BMP_TRANSPARENT : 0;
    b->bitsPerPixel = 8;
    b->width = uint16_t(width);
    b->height = uint16_t(height);
    b->transparentColor = 1;
    std::fill_n(b->data, n, uint8_t(transparent ? 1 : 0));
    return b;
}

void GuiScreen::DestroyBitmap(GuiBitmap* bitmap)
{
    if (!bitmap) return;
    delete[] bitmap->data;
    delete bitmap;
}

GuiBitmap* GuiScreen::ResizeImage(GuiBitmap* bitmap, int width, int height)
{
    if (!bitmap || width == 0 || height == 0 || bitmap->width == 0 || bitmap->height == 0) return nullptr;
    GuiBitmap* out = CreateBitmap(width, height, 1);
    if (!out) return nullptr;
    RectStretch(bitmap->width - 1, bitmap->height - 1, width - 1, height - 1, bitmap, out);
    return out;
}

// Nearest-pixel scaling with a Bresenham error along the rows ...
void GuiScreen::RectStretch(int sw, int sh, int dw, int dh, GuiBitmap* src, GuiBitmap* dst)
{
    int err = 2 * sh - dh;
    int sy = 0;
    for (int dy = 0; dy <= dh; ++dy) {
        Stretch(dw, sw, sy, dy, src, dst);
        while (err >= 0 && dh != 0) {
            err -= 2 * dh;
            ++sy;
        }
        err += 2 * sh;
    }
}

// ... and along one row.
void GuiScreen::Stretch(int dw, int sw, int srcRow, int dstRow, GuiBitmap* src, GuiBitmap* dst)
{
    int err = 2 * sw - dw;
    int sx = 0;
    for (int dx = 0; dx <= dw; ++dx) {
        PutBitmapPixel(dx, dstRow, dst, GetBitmapPixel(sx, srcRow, src));
        while (err >= 0 && dw != 0) {
            err -= 2 * dw;
            ++sx;
        }
        err += 2 * sw;
    }
}

// ---- moving screen content -------------------------------------------------------------------

int GuiScreen::CheckNoOverlap(GuiThing* thing, GuiThing* start, const GuiRect& area)
{
    if (!start) return 0;
    for (GuiThing* c = start->mpFirstChild; c; c = c->mpNext) {
        if (c == thing) return 1;
        if (c->mOuter.Overlap(area)) return CheckNoOverlap(thing, c, area);
    }
    return 0;
}

int GuiScreen::RectMove(GuiThing* thing, GuiRect rect, GuiRect clip, int dx, int dy)
{
    if (!thing) return 1;
    if (!mbDrawingBitmap && !(thing->mStatus & GS_VISIBLE)) return 1;
    GuiRect moved = rect;
    moved.Shift(dx, dy);
    GuiRect all = rect;
    all |= moved;
    GuiRect c = all & clip;
    if (mbDrawingBitmap) {
        c &= mBitmapRect;
        if (c.IsEmpty()) return 1;
        RectMoveView(thing, rect, dx, dy);
        return 1;
    }
    if (miInvalidCount == 0 || miDrawNesting == 0) return 1;
    c &= mInvalidRect;
    c &= thing->mClip;
    if (c.IsEmpty()) return 1;
    // Pull each side of the source in by as much as clipping moved that side
    // of the union.
    rect.left = int16_t(rect.left + (c.left - all.left));
    rect.top = int16_t(rect.top + (c.top - all.top));
    rect.right = int16_t(rect.right - (all.right - c.right));
    rect.bottom = int16_t(rect.bottom - (all.bottom - c.bottom));
    if (rect.IsEmpty()) return 1;
    if (!CheckNoOverlap(thing, GuiThing::mpPresentation, c)) return 0;
    RectMoveView(thing, rect, dx, dy);
    return 1;
}

// ---- text ---------------------------------------------------------------------------------------

void GuiScreen::DrawText(GuiThing* thing, GuiPoint point, const char* text, GuiColor& colour,
                         const GuiFont* font, int count, int doubled)
{
    if (!text || !font) return;
    int w = TextWidth(text, font, -1);
    int h = TextHeight(text, font);
    if (doubled) {
        w *= 2;
        h *= 2;
    }
    if (w <= 0 || h <= 0) return;
    GuiRect r(point.x, point.y, point.x + w - 1, point.y + h - 1);
    ForEachPiece(thing, r, [&](GuiRect& piece) {
        if (doubled)
            DrawTextViewDouble(point, text, colour, font, count, piece);
        else
            DrawTextView(point, text, colour, font, count, piece);
    });
}

int GuiScreen::TextHeight(const char*, const GuiFont* font)
{
    int h = 0;
    for (const GuiFont* f = font; f; f = f->next) h = std::max(h, int(f->height));
    return h;
}

int GuiScreen::TextWidth(const char* text, const GuiFont* font, int count)
{
    if (!text || !font) return 0;
    int w = 0;
    for (const char* p = text; *p && count != 0; ++p) {
        if (count > 0) --count;
        unsigned c = static_cast<unsigned char>(*p);
        if (const GuiFont* f = font->FontFor(c)) w += f->GlyphWidth(c);
    }
    return w;
}

// ---- pointer ---------------------------------------------------------------------------------------

int GuiScreen::AddPointerType(GuiBitmap* bitmap, int hotX, int hotY)
{
    for (int i = 7; i < kPointerTypes; ++i)
        if (!mPointerTypes[i].bitmap) {
            mPointerTypes[i] = PointerType{bitmap, hotX, hotY};
            return i;
        }
    return 0;
}

int GuiScreen::GetPointerType() const
{
    for (int i = 0; i < kPointerTypes; ++i)
        if (mPointerTypes[i].bitmap && mPointerTypes[i].bitmap == mpCurrentPointer) return i;
    return 0;
}

void GuiScreen::ShowPointer(int on)
{
    if (!on && mbPointerShown) {
        if (!mbPointerSuppress) HidePointer();
        mbPointerShown = 0;
    } else if (on && !mbPointerShown) {
        mbPointerShown = 1;
        SetPointer(mPointerPos);
    }
}

// ---- flushing is the driver's ---------------------------------------------------------------------

void GuiScreen::FlushScreen() {}
void GuiScreen::WaitFlushFinish() {}
