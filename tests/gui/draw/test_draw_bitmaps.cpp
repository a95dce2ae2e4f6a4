// Bitmaps of every depth, plain and run-length coded, drawing into bitmaps
// and scaling.
#include <cstring>
#include <vector>

#include "gui/draw/test_draw_fixture.h"

namespace {

GuiBitmap Make(uint8_t flags, uint8_t bpp, int w, int h, std::vector<uint8_t>& px, uint32_t transparent = 0)
{
    return GuiBitmap{flags, bpp, uint16_t(w), uint16_t(h), transparent, px.data()};
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words)
{
    std::vector<uint8_t> v(words.size() * 4);
    std::memcpy(v.data(), words.begin(), v.size());
    return v;
}

}  // namespace

TEST_F(DrawTest, PaletteBitmapUsesRedGreenBlueEntries)
{
    // Entries 12, 10, 9 of the default palette are pure red, green, blue.
    std::vector<uint8_t> px = {12, 10, 9, 255};
    GuiBitmap b = Make(GUI_BMP_TRANSPARENT, 8, 2, 2, px, 255);
    Paint(root, [&] { screen->Bitmap(root, GuiPoint{10, 20}, &b, 0); });
    EXPECT_EQ(Px(10, 20), 0xFF0000u);
    EXPECT_EQ(Px(11, 20), 0x00FF00u);
    EXPECT_EQ(Px(10, 21), 0x0000FFu);
    EXPECT_EQ(Px(11, 21), kUntouched);
}

TEST_F(DrawTest, TrueColourBitmaps)
{
    std::vector<uint8_t> rgb = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    GuiBitmap b24 = Make(0, 24, 2, 1, rgb);
    auto words = Words({0x00ABCDEF, 1, 0x00000002});
    GuiBitmap b32 = Make(0, 32, 3, 1, words);
    GuiBitmap b32t = Make(GUI_BMP_TRANSPARENT, 32, 3, 1, words);
    auto alpha = Words({0x11223380, 0x1122337F, 0xAABBCCFF});
    GuiBitmap ba = Make(GUI_BMP_ALPHA, 32, 3, 1, alpha);
    Paint(root, [&] {
        screen->Bitmap(root, GuiPoint{0, 0}, &b24, 0);
        screen->Bitmap(root, GuiPoint{0, 1}, &b32, 0);
        screen->Bitmap(root, GuiPoint{0, 2}, &b32t, 0);
        screen->Bitmap(root, GuiPoint{0, 3}, &ba, 0);
    });
    EXPECT_EQ(Px(0, 0), 0x112233u);
    EXPECT_EQ(Px(1, 0), 0x445566u);
    EXPECT_EQ(Px(0, 1), 0xABCDEFu);
    EXPECT_EQ(Px(1, 1), 1u);
    EXPECT_EQ(Px(1, 2), kUntouched);   // 1 is the transparent word
    EXPECT_EQ(Px(2, 2), 2u);
    EXPECT_EQ(Px(0, 3), 0x112233u);
    EXPECT_EQ(Px(1, 3), kUntouched);   // alpha below one half
    EXPECT_EQ(Px(2, 3), 0xAABBCCu);
}

TEST_F(DrawTest, NewTransparentBitmapLeavesTheScreenAlone)
{
    GuiBitmap* b = screen->CreateBitmap(30, 20, 1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->bitsPerPixel, 32);
    EXPECT_EQ(b->flags, GUI_BMP_DRIVER | GUI_BMP_TRANSPARENT);
    Paint(root, [&] { screen->Bitmap(root, GuiPoint{5, 5}, b, 0); });
    EXPECT_EQ(Changed(), 0);
    screen->DestroyBitmap(b);
    EXPECT_EQ(screen->CreateBitmap(0, 5, 0), nullptr);
}

TEST_F(DrawTest, RunLengthPaletteBitmap)
{
    // 6 x 3: row 0 a run of 4 x index 12 then 2 literals; row 1 a run of 6
    // transparent pixels; row 2 literals 9, 255, 10 and a run of 3 x 15.
    std::vector<uint8_t> rle = {3, 12, 0x81, 10, 9, 5, 255, 0x82, 9, 255, 10, 2, 15};
    GuiBitmap b = Make(GUI_BMP_RLE | GUI_BMP_TRANSPARENT, 8, 6, 3, rle);
    Paint(root, [&] { screen->Bitmap(root, GuiPoint{100, 100}, &b, 0); });
    EXPECT_EQ(Count(GuiRect(100, 100, 103, 100), 0xFF0000), 4);
    EXPECT_EQ(Px(104, 100), 0x00FF00u);
    EXPECT_EQ(Px(105, 100), 0x0000FFu);
    EXPECT_EQ(Count(GuiRect(100, 101, 105, 101), kUntouched), 6);
    EXPECT_EQ(Px(100, 102), 0x0000FFu);
    EXPECT_EQ(Px(101, 102), kUntouched);
    EXPECT_EQ(Px(102, 102), 0x00FF00u);
    EXPECT_EQ(Count(GuiRect(103, 102, 105, 102), 0xFFFFFF), 3);

    // Clipped to the lower right: rows above are decoded and skipped.
    std::fill_n(gbVMemory, 1024 * 480, kUntouched);
    Paint(root, GuiRect(104, 102, 200, 200), [&] { screen->Bitmap(root, GuiPoint{100, 100}, &b, 0); });
    EXPECT_EQ(Changed(), 2);
    EXPECT_EQ(Px(104, 102), 0xFFFFFFu);
}

TEST_F(DrawTest, RunLengthTrueColourBitmapWithAlphaAndTransparency)
{
    // 4 x 1: a run of 2 of (alpha 128, 0xFF, 0x00, 0x80), then the
    // transparent pixel (0, 0, 1) once and one literal opaque blue.
    std::vector<uint8_t> rle = {1, 128, 0xFF, 0x00, 0x80, 0x81, 0, 0, 0, 1, 255, 0, 0, 0xFF};
    GuiBitmap b = Make(GUI_BMP_RLE | GUI_BMP_ALPHA | GUI_BMP_TRANSPARENT, 32, 4, 1, rle);
    std::fill_n(gbVMemory, 1024 * 480, 0x00000000u);
    Paint(root, [&] { screen->Bitmap(root, GuiPoint{0, 0}, &b, 0); });
    EXPECT_EQ(Px(0, 0), 0x7F0040u);   // half of 0xFF, 0, 0x80 over black
    EXPECT_EQ(Px(1, 0), 0x7F0040u);
    EXPECT_EQ(Px(2, 0), 0u);
    EXPECT_EQ(Px(3, 0), 0x0000FEu);   // alpha 255 leaves 1/256 of black
    GuiBitmap opaque = Make(GUI_BMP_RLE, 32, 4, 1, rle);
    Paint(root, [&] { screen->Bitmap(root, GuiPoint{0, 1}, &opaque, 0); });
    EXPECT_EQ(Px(0, 1), 0xFF0080u);
    EXPECT_EQ(Px(2, 1), 0x000001u);
}

TEST_F(DrawTest, BitmapsPartlyOffTheScreenAndTiled)
{
    GuiBitmap* b = screen->CreateBitmap(8, 8, 0);
    std::fill_n(reinterpret_cast<uint32_t*>(b->data), 64, 0x00FF00u);
    Paint(root, [&] {
        screen->Bitmap(root, GuiPoint{-4, -4}, b, 0);
        screen->Bitmap(root, GuiPoint{1020, 476}, b, 0);
    });
    EXPECT_EQ(Count(GuiRect(0, 0, 3, 3), 0x00FF00), 16);
    EXPECT_EQ(Count(GuiRect(1020, 476, 1023, 479), 0x00FF00), 16);
    EXPECT_EQ(Changed(), 32);

    std::fill_n(gbVMemory, 1024 * 480, kUntouched);
    GuiThing* t = AddPlain(root, GuiRect(0, 0, 1023, 479));
    Paint(root, [&] { screen->BitmapFill(t, GuiRect(100, 100, 119, 109), b); });
    EXPECT_EQ(Count(GuiRect(100, 100, 119, 109), 0x00FF00), 200);
    EXPECT_EQ(Changed(), 200);
    EXPECT_EQ(t->mClip, GuiRect(0, 0, 1023, 479));
    screen->DestroyBitmap(b);
}

TEST_F(DrawTest, DrawingIntoABitmap)
{
    GuiBitmap* b = screen->CreateBitmap(10, 10, 0);
    const int before = giCriticalNesting;
    screen->BeginDraw(root, b);
    EXPECT_TRUE(screen->DrawingIntoBitmap());
    screen->Rectangle(root, GuiRect(-5, -5, 4, 4), GuiColor{0, 0xFF0000, GUI_COLOR_FILL}, 0);
    screen->Line(root, 0, 9, 20, 9, GuiColor{0x0000FF, 0, 0}, 1);
    screen->EndDraw(b);
    EXPECT_EQ(giCriticalNesting, before);
    EXPECT_EQ(screen->DrawNesting(), 0);
    EXPECT_EQ(Changed(), 0);
    auto* px = reinterpret_cast<uint32_t*>(b->data);
    EXPECT_EQ(px[0], 0xFF0000u);
    EXPECT_EQ(px[4 * 10 + 4], 0xFF0000u);
    EXPECT_EQ(px[4 * 10 + 5], 1u);
    EXPECT_EQ(px[9 * 10 + 9], 0x0000FFu);

    // Moving content inside the bitmap moves the bitmap's own pixels.
    screen->BeginDraw(root, b);
    EXPECT_EQ(screen->RectMove(root, GuiRect(0, 0, 4, 4), GuiRect(0, 0, 9, 9), 5, 0), 1);
    screen->EndDraw(b);
    EXPECT_EQ(px[0 * 10 + 5], 0xFF0000u);
    EXPECT_EQ(px[4 * 10 + 9], 0xFF0000u);
    EXPECT_EQ(Changed(), 0);
    EXPECT_EQ(giCriticalNesting, before);

    // A bitmap without pixels, or of another depth, is not drawn into and
    // the pair leaves the lock as it was.
    GuiBitmap empty{0, 32, 10, 10, 0, nullptr};
    std::vector<uint8_t> small(4);
    GuiBitmap eight{0, 8, 2, 2, 0, small.data()};
    for (GuiBitmap* target : {&empty, &eight}) {
        screen->BeginDraw(root, target);
        EXPECT_FALSE(screen->DrawingIntoBitmap());
        screen->EndDraw(target);
        EXPECT_EQ(giCriticalNesting, before);
    }
    EXPECT_EQ(small, std::vector<uint8_t>(4, 0));
    screen->DestroyBitmap(b);
}

TEST_F(DrawTest, ResizeImageRepeatsOrSamplesPixels)
{
    GuiBitmap* src = screen->CreateBitmap(4, 4, 0);
    auto* s = reinterpret_cast<uint32_t*>(src->data);
    for (int i = 0; i < 16; ++i) s[i] = uint32_t(i + 0x100);
    GuiBitmap* up = screen->ResizeImage(src, 8, 8);
    ASSERT_NE(up, nullptr);
    auto* u = reinterpret_cast<uint32_t*>(up->data);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(u[y * 8 + x], s[(y / 2) * 4 + x / 2]) << x << "," << y;

    GuiBitmap* big = screen->CreateBitmap(8, 8, 0);
    auto* g = reinterpret_cast<uint32_t*>(big->data);
    for (int i = 0; i < 64; ++i) g[i] = uint32_t(i);
    GuiBitmap* down = screen->ResizeImage(big, 4, 4);
    auto* d = reinterpret_cast<uint32_t*>(down->data);
    const int pick[4] = {0, 2, 5, 7};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(d[y * 4 + x], uint32_t(pick[y] * 8 + pick[x]));
    EXPECT_EQ(screen->ResizeImage(src, 0, 3), nullptr);
    for (GuiBitmap* b : {src, up, big, down}) screen->DestroyBitmap(b);
}
