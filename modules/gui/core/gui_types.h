// Value records of the GUI library: rectangles, points, colours, fonts,
// bitmaps, saved screen areas, scroll information and viewport records.
//
// Pixels are 32-bit words 0x00RRGGBB everywhere (frame buffer, bitmaps of
// 32 bits per pixel, colour arguments).
#pragma once

#include <cstddef>
#include <cstdint>

// ---- point ------------------------------------------------------------------
struct GuiPoint {
    int16_t x;
    int16_t y;

    bool operator==(const GuiPoint&) const = default;
};
static_assert(sizeof(GuiPoint) == 4);

// ---- rectangle ----------------------------------------------------------------
// Edges are inclusive: a rectangle from left 0 to right 9 is 10 pixels wide.
// Empty means left > right or top > bottom; intersections do not check it.
struct GuiRect {
    int16_t left;
    int16_t top;
    int16_t right;
    int16_t bottom;

    // Trivial default constructor so the record can sit in unions (message
    // payloads); write GuiRect{} or GuiRect(0, 0, 0, 0) for a zeroed one.
    GuiRect() = default;
    GuiRect(int l, int t, int r, int b)
        : left(int16_t(l)), top(int16_t(t)), right(int16_t(r)), bottom(int16_t(b)) {}

    void Set(int l, int t, int r, int b) {
        left = int16_t(l); top = int16_t(t); right = int16_t(r); bottom = int16_t(b);
    }
    int Width() const { return right - left + 1; }
    int Height() const { return bottom - top + 1; }
    bool IsEmpty() const { return left > right || top > bottom; }

    bool Contains(int x, int y) const { return left <= x && x <= right && top <= y && y <= bottom; }
    bool Contains(GuiPoint p) const { return Contains(p.x, p.y); }
    bool Contains(const GuiRect& o) const {
        return o.left >= left && o.right <= right && o.top >= top && o.bottom <= bottom;
    }
    bool Overlap(const GuiRect& o) const {
        return o.right >= left && o.left <= right && o.bottom >= top && o.top <= bottom;
    }

    // Moves the top-left corner to (x, y), keeping the size.
    void MoveTo(int x, int y) {
        right = int16_t(right + (x - left));
        bottom = int16_t(bottom + (y - top));
        left = int16_t(x);
        top = int16_t(y);
    }
    void Shift(int dx, int dy) {
        left = int16_t(left + dx); right = int16_t(right + dx);
        top = int16_t(top + dy); bottom = int16_t(bottom + dy);
    }

    // Intersection: every edge moves inwards to the other's edge.
    GuiRect& operator&=(const GuiRect& o) {
        if (o.left > left) left = o.left;
        if (o.top > top) top = o.top;
        if (o.right < right) right = o.right;
        if (o.bottom < bottom) bottom = o.bottom;
        return *this;
    }
    GuiRect operator&(const GuiRect& o) const { GuiRect r = *this; r &= o; return r; }
    // Union (bounding box).
    GuiRect& operator|=(const GuiRect& o) {
        if (o.left < left) left = o.left;
        if (o.top < top) top = o.top;
        if (o.right > right) right = o.right;
        if (o.bottom > bottom) bottom = o.bottom;
        return *this;
    }
    // Subtracts o and keeps the largest single rectangle that remains.
    GuiRect& operator^=(const GuiRect& o);

    GuiRect operator+(GuiPoint p) const { GuiRect r = *this; r.Shift(p.x, p.y); return r; }

    // Grow by 1 or n on every side.
    GuiRect operator++(int) { GuiRect old = *this; *this += 1; return old; }
    GuiRect& operator+=(int n) {
        left = int16_t(left - n); top = int16_t(top - n);
        right = int16_t(right + n); bottom = int16_t(bottom + n);
        return *this;
    }
    // Shrink by 1 or n on every side, never below one pixel.
    GuiRect operator--(int) { GuiRect old = *this; *this -= 1; return old; }
    GuiRect& operator-=(int n) {
        left = int16_t(left + n); top = int16_t(top + n);
        right = int16_t(right - n); bottom = int16_t(bottom - n);
        if (right < left) right = left;
        if (bottom < top) bottom = top;
        return *this;
    }

    bool operator==(const GuiRect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    bool operator!=(const GuiRect& o) const { return !(*this == o); }
};
static_assert(sizeof(GuiRect) == 8);

// ---- colour argument of the drawing operations --------------------------------
constexpr uint8_t GUI_COLOR_FILL = 0x01;      // fill the shape with the background
constexpr uint8_t GUI_COLOR_PATTERN = 0x08;   // fill with the fill pattern (shapes)

struct GuiColor {
    uint32_t foreground;   // lines, outlines, text
    uint32_t background;   // fill colour, text background
    uint8_t flags;
};

// ---- fonts --------------------------------------------------------------------
constexpr uint8_t GUI_FONT_VARIABLE = 0x01;   // glyph start offsets in a table
constexpr uint8_t GUI_FONT_ALIASED = 0x04;    // 4 bits per pixel glyphs

// Variable-width fonts point at (last - first + 2) glyph start offsets in
// pixels; fixed-width fonts keep the glyph width in the same field.
union GuiFontOffsets {
    const uint16_t* table;
    uintptr_t fixedWidth;
};

// The glyphs of all characters lie side by side in one strip of `height`
// rows of `bytesPerRow` bytes; 1-bit glyphs are most significant bit first.
struct GuiFont {
    uint8_t type;
    uint8_t ascent;
    uint8_t descent;
    uint8_t height;
    uint16_t bytesPerRow;
    uint16_t first;
    uint16_t last;
    GuiFontOffsets offsets;
    const GuiFont* next;
    const uint8_t* data;

    bool Holds(unsigned c) const { return c >= first && c <= last; }
    // The first font of the chain from this one on that holds c, null for none.
    const GuiFont* FontFor(unsigned c) const {
        for (const GuiFont* f = this; f; f = f->next)
            if (f->Holds(c)) return f;
        return nullptr;
    }
    // Start of glyph c in pixels and its width; c must be held.
    int GlyphStart(unsigned c) const {
        if (type & GUI_FONT_VARIABLE) return offsets.table[c - first];
        return int((c - first) * offsets.fixedWidth);
    }
    int GlyphWidth(unsigned c) const {
        if (type & GUI_FONT_VARIABLE) return offsets.table[c - first + 1] - offsets.table[c - first];
        return int(offsets.fixedWidth);
    }
};

// ---- bitmaps --------------------------------------------------------------------
constexpr uint8_t GUI_BMP_RLE = 0x01;          // rows of run-length packets
constexpr uint8_t GUI_BMP_DRIVER = 0x02;       // made by the screen driver
constexpr uint8_t GUI_BMP_TRANSPARENT = 0x10;  // has a transparent colour
constexpr uint8_t GUI_BMP_ALPHA = 0x80;        // 32-bit pixels carry alpha

// Pixel data as the screen driver draws it (rows of width pixels, no
// padding; the result is always a 0x00RRGGBB word on the screen):
// - fewer than 24 bits per pixel: one palette index byte per pixel; with
//   GUI_BMP_TRANSPARENT the index equal to transparentColor is not drawn;
// - 24 bits: byte triples red, green, blue;
// - 32 bits: native 0x00RRGGBB words; with GUI_BMP_TRANSPARENT the word 1 is
//   not drawn; with GUI_BMP_ALPHA the words are 0xRRGGBBAA and a pixel is
//   drawn (opaque) when its alpha is 128 or more;
// - GUI_BMP_RLE: each row a sequence of packets, a count byte n < 0x80 then
//   one pixel repeated n + 1 times, or n >= 0x80 then (n & 0x7F) + 1 pixels;
//   a pixel is an index byte (8 bits per pixel; index 255 is transparent
//   with GUI_BMP_TRANSPARENT) or 4 bytes alpha, red, green, blue (any other
//   depth; blended by alpha with GUI_BMP_ALPHA, and red, green, blue
//   0, 0, 1 not drawn with GUI_BMP_TRANSPARENT).
struct GuiBitmap {
    uint8_t flags;
    uint8_t bitsPerPixel;
    uint16_t width;
    uint16_t height;
    uint32_t transparentColor;
    uint8_t* data;
};

// ---- saved screen area -----------------------------------------------------------
// Filled by GuiScreen::Capture, put back by GuiScreen::Restore. The capture
// owns its pixel buffer: it is freed by Release() or the destructor.
struct GuiCapture {
    GuiRect rect;
    GuiBitmap bitmap{};
    uint32_t capacity = 0;   // bytes of the pixel buffer
    int valid = 0;

    GuiCapture() = default;
    GuiCapture(const GuiCapture&) = delete;
    GuiCapture& operator=(const GuiCapture&) = delete;
    ~GuiCapture() { Release(); }

    GuiPoint Point() const { return GuiPoint{rect.left, rect.top}; }
    void MoveTo(int x, int y) { rect.MoveTo(x, y); }
    // Makes room for size bytes; the buffer only grows. False when memory
    // runs out (the capture then has no buffer).
    bool Realloc(uint32_t size);
    void Release();
};

// ---- scroll information -------------------------------------------------------------
struct GuiScrollInfo {
    int32_t minimum;
    int32_t maximum;
    int32_t current;
    int32_t step;
    int32_t visible;
};

// ---- viewport record ------------------------------------------------------------------
// One visible piece of a viewport owner's area, kept by the drawing surface.
// Records come in blocks of 32; blockStart is 1 in the first of a block.
struct GuiViewport {
    GuiRect rect;
    GuiViewport* next;
    uint32_t blockStart;
};
