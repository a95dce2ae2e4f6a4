// GuiScreen: the device-independent half of the drawing surface.
//
// Every screen object draws through the one screen GuiThing::mpScreen. The
// thing-level operations clip each primitive to the area being repainted
// (the invalid rectangle), to the thing's clip rectangle and to the
// viewports of the thing's window (the parts no other window covers), and
// hand every visible piece to a view-level operation of the concrete driver
// (L24logi). While BeginDraw (thing, bitmap) redirects drawing into a
// bitmap, primitives clip to the bitmap only.
//
// The GUI lock (EnterCriticalSection / ExitCriticalSection, gui_task.h) is
// the recursive lock of the GUI runtime; BeginDraw and Invalidate take it.
//
// Lock protocol: Invalidate enters the lock once per call and keeps it;
// BeginDraw (thing) enters once; the EndDraw that brings the draw nesting
// back to 0 exits once per counted Invalidate and once for itself. EndDraw
// does not flush: callers push a frame with FlushScreen then WaitFlushFinish.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/core/gui_types.h"

class GuiThing;

// Built-in arrow pointer (pointer type 0).
extern GuiBitmap gbMouse;

class GuiScreen;
// The device's drawing surface (the frame-buffer driver L24logi over the
// screen (0, 0)-(1023, 479)); null when memory runs out.
GuiScreen* CreateGuiScreen();

class GuiScreen {
public:
    static constexpr int kPointerTypes = 12;
    static constexpr int kViewportBlock = 32;

    struct PointerType {
        GuiBitmap* bitmap;
        int32_t hotX;
        int32_t hotY;
    };

    explicit GuiScreen(const GuiRect& screenRect);
    GuiScreen(const GuiScreen&) = delete;
    GuiScreen& operator=(const GuiScreen&) = delete;

    // ---- slots, in order ------------------------------------------------------
    virtual ~GuiScreen();

    virtual void BeginDraw(GuiThing* thing) = 0;
    virtual void EndDraw() = 0;
    virtual void BeginDraw(GuiThing* thing, GuiBitmap* bitmap) = 0;
    virtual void EndDraw(GuiBitmap* bitmap) = 0;

    virtual void SetPointerType(unsigned char type) = 0;
    virtual void SetPointer(GuiPoint pos) = 0;
    virtual int Capture(GuiCapture* capture, GuiRect& rect) = 0;
    virtual void SetPalette(int first, int count, const unsigned char* rgb) = 0;
    // The palette as 3-byte entries (red, green, blue) and its size in
    // *count; null for a true-colour screen.
    virtual const unsigned char* GetPalette(unsigned long* count) = 0;
    virtual void ResetPalette() = 0;
    virtual unsigned long GetBitmapPixel(int x, int y, GuiBitmap* bitmap) = 0;
    virtual void PutBitmapPixel(int x, int y, GuiBitmap* bitmap, unsigned long colour) = 0;

    virtual unsigned long GetPixel(int x, int y);
    virtual void PutPixel(GuiThing* thing, int x, int y, unsigned long colour);
    virtual GuiBitmap* CreateBitmap(int width, int height, int transparent);
    virtual void DestroyBitmap(GuiBitmap* bitmap);
    virtual void Line(GuiThing* thing, int x1, int y1, int x2, int y2, const GuiColor& colour, int width);
    virtual void FlushScreen();
    virtual void WaitFlushFinish();
    virtual void PolyLine(GuiThing* thing, GuiPoint* points, unsigned int count, const GuiColor& colour,
                          int width);
    virtual void Rectangle(GuiThing* thing, const GuiRect& rect, const GuiColor& colour, int width);
    virtual void Bitmap(GuiThing* thing, GuiPoint point, GuiBitmap* bitmap, int onTop);
    virtual void BitmapFill(GuiThing* thing, GuiRect rect, GuiBitmap* bitmap);
    virtual void SetFillPattern(GuiBitmap* pattern);
    virtual void Restore(GuiThing* thing, GuiCapture* capture, int onTop);
    virtual int RectMove(GuiThing* thing, GuiRect rect, GuiRect clip, int dx, int dy);
    virtual void DrawText(GuiThing* thing, GuiPoint point, const char* text, GuiColor& colour,
                          const GuiFont* font, int count, int doubled);
    virtual int TextHeight(const char* text, const GuiFont* font);
    virtual int TextWidth(const char* text, const GuiFont* font, int count);
    virtual void ShowPointer(int on);
    // Thing-level shapes of the widget catalogue.
    virtual void Polygon(GuiThing* thing, GuiPoint* points, int count, const GuiColor& colour, int width);
    virtual void Circle(GuiThing* thing, int xc, int yc, int r, GuiColor& colour, int width);
    virtual void Ellipse(GuiThing* thing, const GuiRect& rect, GuiColor colour, int width);
    virtual void PatternLine(GuiThing* thing, int x1, int y1, int x2, int y2, GuiColor& colour, int width,
                             unsigned long pattern, int restart);
    virtual void Arc(GuiThing* thing, int xc, int yc, int r, int start, int end, GuiColor colour, int width);
    virtual void Chord(GuiThing* thing, GuiRect& rect, GuiPoint p1, GuiPoint p2, GuiColor colour, int width);
    virtual void Pie(GuiThing* thing, GuiRect& rect, GuiPoint p1, GuiPoint p2, GuiColor colour, int width);
    virtual GuiBitmap* ResizeImage(GuiBitmap* bitmap, int width, int height);

    // View level: draw inside an already clipped piece of the target.
    virtual void DrawTextView(GuiPoint point, const char* text, GuiColor& colour, const GuiFont* font,
                              int count, GuiRect& clip) = 0;
    virtual void DrawTextViewDouble(GuiPoint point, const char* text, GuiColor& colour, const GuiFont* font,
                                    int count, GuiRect& clip) = 0;
    virtual void LineView(int x1, int y1, int x2, int y2, GuiRect& clip, GuiColor colour, int width) = 0;
    virtual void BitmapView(GuiPoint point, const GuiBitmap* bitmap, const GuiRect& clip) = 0;
    virtual void RectMoveView(GuiThing* thing, const GuiRect& rect, int dx, int dy) = 0;
    // Pixels x1..x2 inclusive on rows y..y + width - 1.
    virtual void HorizontalLine(int x1, int x2, int y, unsigned long colour, int width) = 0;
    // Rows y1..y2 inclusive, columns x..x + width - 1.
    virtual void VerticalLine(int y1, int y2, int x, unsigned long colour, int width) = 0;
    virtual void HorizontalLineXOR(int x1, int x2, int y) = 0;
    virtual void VerticalLineXOR(int y1, int y2, int x) = 0;
    virtual unsigned long GetPixelView(int x, int y) = 0;
    virtual void HidePointer() = 0;

    // View-level shape helpers of the widget catalogue.
    virtual void FillPolygon(GuiThing* thing, GuiRect& rect, GuiPoint* points, int count, unsigned long colour);
    virtual void Circle(const GuiRect& view, int xc, int yc, int r, GuiColor& colour, int width);
    virtual void CircleFast(int xc, int yc, int r, GuiColor& colour, int width);
    virtual void FillCircle(const GuiRect& view, int xc, int yc, int r, unsigned long colour);
    virtual void FillCircleFast(int xc, int yc, int r, unsigned long colour);
    virtual void OutlineCircle(const GuiRect& view, int xc, int yc, int r, unsigned long colour, int width);
    virtual void OutlineCircleFast(int xc, int yc, int r, unsigned long colour, int width);
    virtual void FillPolygonView(const GuiRect& view, GuiPoint* points, int count, unsigned long colour);
    virtual void PatternFillPolygon(GuiThing* thing, GuiRect& rect, GuiPoint* points, int count,
                                    unsigned long colour);
    virtual void PatternFillPolygonView(const GuiRect& view, GuiPoint* points, int count);
    virtual void PatternLine(int x1, int y1, int x2, int y2, GuiRect& view, const GuiColor& colour, int width,
                             unsigned long pattern);
    virtual void EllipseToView(const GuiRect& rect, GuiColor& colour, int width, GuiRect view);
    virtual void EllipseFast(const GuiRect& rect, GuiColor& colour, int width);
    virtual void PlotEllipsePoints(GuiRect& rect);
    virtual void ArcToView(int xc, int yc, int r, int start, int end, GuiColor colour, int width, GuiRect& view);
    virtual void CheckArcPoint(int x, int y, int v, int state, int lo, int hi, GuiRect& view);
    virtual void ArcLine(int x1, int y1, int x2, int y2, GuiRect& view);
    virtual void ArcPlot(int x, int y, int v, int state, unsigned long colour, int lo, int hi, GuiRect& view);
    virtual void ArcFill(int xc, int yc, int r, int start, int end, GuiColor colour, GuiRect& view);

    // Horizontal and vertical lines of width > 1 as filled rectangles; 1 when
    // drawn, 0 for any other line (nothing drawn).
    virtual int WideLine(GuiThing* thing, int x1, int y1, int x2, int y2, const GuiColor& colour, int width);
    virtual void Rectangle(const GuiRect& rect, GuiRect& clip, const GuiColor& colour, int width);

    // ---- non-virtual ------------------------------------------------------------
    // Arc, chord and pie helpers of the widget catalogue.
    void ArcFixup(int xc, int yc, int r, int& x, int& y);
    void ChordLine(int x1, int y1, int x2, int y2, GuiRect& rect, int side, GuiPoint* first, GuiPoint* last);
    void DrawChordBorder(GuiThing* thing, GuiRect& rect, GuiPoint a, GuiPoint b, int side, GuiColor colour,
                         int width);
    GuiPoint* PieLine(int x1, int y1, int x2, int y2, GuiRect& rect, int* count, GuiPoint* first, GuiPoint* last);
    void DrawPieBorder(GuiThing* thing, GuiRect& rect, GuiPoint a, GuiPoint b, GuiColor colour, int width);

    // Adds the area to the invalid rectangle and enters the GUI lock once
    // more; the outermost EndDraw gives it back.
    void Invalidate(const GuiRect& rect);
    void RectangleXOR(GuiThing* thing, const GuiRect& rect);
    int AddPointerType(GuiBitmap* bitmap, int hotX, int hotY);
    int GetPointerType() const;

    void AllocateViewportBlock();
    GuiViewport* GetFreeViewport();
    void FreeViewports(GuiThing* thing);
    void AddViewport(GuiThing* thing, GuiRect rect);
    void SplitView(GuiThing* thing, GuiRect cover, GuiRect rect);
    void SplitView(GuiThing* thing, GuiThing* child, GuiRect rect);
    void GenerateViewportList(GuiThing* thing);
    int CheckNoOverlap(GuiThing* thing, GuiThing* start, const GuiRect& area);

    void Stretch(int dw, int sw, int srcRow, int dstRow, GuiBitmap* src, GuiBitmap* dst);
    void RectStretch(int sw, int sh, int dw, int dh, GuiBitmap* src, GuiBitmap* dst);

    // A Windows BMP image of the area in a buffer from array new (the caller
    // deletes it) and its length in *size; null and 0 on failure.
    unsigned char* DumpWindowsBitmap(unsigned long* size, GuiRect& area);
    unsigned char* DumpWindowsBitmap(unsigned int* size, GuiRect area);

    // ---- state readers -------------------------------------------------------------
    int Width() const { return miWidth; }
    int Height() const { return miHeight; }
    int Colors() const { return miColors; }
    int DrawNesting() const { return miDrawNesting; }
    int InvalidCount() const { return miInvalidCount; }
    const GuiRect& InvalidRect() const { return mInvalidRect; }
    bool DrawingIntoBitmap() const { return mbDrawingBitmap != 0; }
    uint32_t** RowTable() const { return mppRows; }
    int ViewportsAllocated() const { return miViewportsAllocated; }
    GuiPoint PointerPosition() const { return mPointerPos; }
    bool PointerShown() const { return mbPointerShown != 0; }

protected:
    // Which callers a thing-level primitive draws for: as a rule only for a
    // visible thing; the pattern line also for a hidden one, and into a
    // bitmap even without a caller.
    enum class WalkCaller { Visible, Any };

    // The clipped bounding rectangle of a thing-level primitive: false when
    // nothing is to be drawn. Drawing into a bitmap clips to the bitmap;
    // drawing to the screen needs a (visible) thing, an open draw bracket and
    // a counted Invalidate, and clips to the invalid and the clip rectangle.
    bool ClipToTarget(GuiThing* thing, GuiRect& rect, WalkCaller caller = WalkCaller::Visible) const;
    // The viewport list that drawing of thing goes through (that of the
    // nearest viewport owner at or above it), null when there is none.
    static GuiViewport* ViewportsOf(GuiThing* thing);
    // Clip-and-dispatch: calls draw (piece) for each visible piece of rect.
    // A viewport that holds the whole clipped rectangle ends the walk, so a
    // piece that holds the whole shape means nothing of it is cut.
    template <class Draw>
    void ForEachPiece(GuiThing* thing, GuiRect rect, Draw&& draw, WalkCaller caller = WalkCaller::Visible);
    // Chords and pies: the span table of the ellipse inscribed in rect; false
    // (and no table) when the ellipse is too small to cut or memory runs out.
    bool PlotEllipseToCut(GuiRect& rect);
    void ReleaseSpanTable();
    // The area of the current drawing target: the screen or the bitmap.
    GuiRect TargetRect() const { return mbDrawingBitmap ? mBitmapRect : GuiRect(0, 0, miWidth - 1, miHeight - 1); }

    // Every block of viewport records, so that the destructor frees them all
    // even when a thing still holds records.
    std::vector<GuiViewport*> mViewportBlocks;
    GuiViewport* mpFreeHead = nullptr;
    GuiViewport* mpFreeTail = nullptr;
    int miViewportsAllocated = 0;

    GuiRect mInvalidRect{};
    int miInvalidCount = 0;
    GuiRect mBitmapRect{};

    int miWidth = 0;
    int miHeight = 0;
    int miColors = 0;

    int miDrawNesting = 0;
    int mbDrawingBitmap = 0;
    int mbPointerShown = 0;
    int mbPointerSuppress = 0;
    GuiPoint mPointerPos{0, 0};

    PointerType mPointerTypes[kPointerTypes]{};
    GuiBitmap* mpCurrentPointer = nullptr;

    int mbFillByColumns = 0;

    // One entry per row of the current drawing target: its first pixel.
    uint32_t** mppRows = nullptr;
    uint32_t** mppSavedRows = nullptr;   // the screen's while drawing into a bitmap
    uint8_t* mpOwnedBuffer = nullptr;    // deleted by the destructor when set

    // Used by the shape operations only.
    GuiBitmap* mpFillPattern = nullptr;
    uint32_t mulPatternLineBit = 1;
    int32_t* mpSpanTable = nullptr;
};

template <class Draw>
void GuiScreen::ForEachPiece(GuiThing* thing, GuiRect rect, Draw&& draw, WalkCaller caller)
{
    if (!ClipToTarget(thing, rect, caller)) return;
    if (mbDrawingBitmap) {
        draw(rect);
        return;
    }
    for (GuiViewport* vp = ViewportsOf(thing); vp; vp = vp->next) {
        if (vp->rect.Contains(rect)) {
            draw(rect);
            return;
        }
        if (vp->rect.Overlap(rect)) {
            GuiRect piece = vp->rect & rect;
            draw(piece);
        }
    }
}
