// Image conversion: nearest colours, remapping and dithering of decoded
// pictures, transparency, resizing, run-length coding and rotation.
#include "gui/image/gui_png.h"
#include "gui/image/test_png_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using pngtest::PngBuilder;

namespace {

// A converter that produces one bitmap from given pixel rows in its
// internal format, for the whole-bitmap passes.
class RowsConvert : public GuiImageConvert {
public:
    RowsConvert() : GuiImageConvert(7) {}
    int ReadImage(int) override { return 0; }
    GuiBitmap* Add(int depth, int width, const std::vector<uint8_t>& pixels, int alpha = 0) {
        SetInternalBitsPix(depth, alpha);
        GuiBitmap* b = AddNewBitmapToList(uint32_t(pixels.size()));
        std::copy(pixels.begin(), pixels.end(), b->data);
        b->width = uint16_t(width);
        b->height = uint16_t(pixels.size() / size_t(GetStride(width, depth, alpha)));
        CountNewBitmap();
        return b;
    }
};

const uint8_t kGrays4[] = {0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255};

std::vector<uint8_t> Bytes(const GuiImageConvert& c, unsigned n = 0) {
    GuiBitmap* b = c.GetBitmapPointer(n);
    return b ? std::vector<uint8_t>(b->data, b->data + c.GetDataSize(n)) : std::vector<uint8_t>{};
}

}  // namespace

TEST(ImageConvert, ImageTypeAndStrides) {
    const uint8_t png[] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0};
    const uint8_t jfif[] = {0, 0, 0, 0, 0, 0, 'J', 'F'};
    EXPECT_EQ(GuiImageConvert::GetImageType(png, 8), 4);
    EXPECT_EQ(GuiImageConvert::GetImageType(reinterpret_cast<const uint8_t*>("BM"), 2), 1);
    EXPECT_EQ(GuiImageConvert::GetImageType(reinterpret_cast<const uint8_t*>("GIF89a"), 6), 2);
    EXPECT_EQ(GuiImageConvert::GetImageType(jpeg, 4), 3);
    EXPECT_EQ(GuiImageConvert::GetImageType(jfif, 8), 3);
    EXPECT_EQ(GuiImageConvert::GetImageType(jfif, 6), 0);  // never reads past the data
    EXPECT_EQ(GuiImageConvert::GetImageType(nullptr, 0), 0);

    EXPECT_EQ(GuiImageConvert::GetStride(9, 1, 0), 2);
    EXPECT_EQ(GuiImageConvert::GetStride(5, 2, 0), 2);
    EXPECT_EQ(GuiImageConvert::GetStride(3, 4, 0), 2);
    EXPECT_EQ(GuiImageConvert::GetStride(3, 8, 1), 6);
    EXPECT_EQ(GuiImageConvert::GetStride(3, 16, 0), 6);
    EXPECT_EQ(GuiImageConvert::GetStride(3, 16, 1), 12);  // word, 0, alpha
    EXPECT_EQ(GuiImageConvert::GetStride(3, 24, 1), 12);
}

TEST(ImageConvert, NearestColour) {
    RowsConvert c;
    EXPECT_EQ(c.LookupBestColor(GuiPixel(1, 2, 3)), 0);  // no palette
    const uint8_t pal[] = {0, 0, 0, 10, 10, 10, 20, 20, 20, 10, 10, 10};
    c.SetSystemPalette(pal, 4);
    EXPECT_EQ(c.GetOutputDepth(), 2);
    EXPECT_EQ(c.LookupBestColor(GuiPixel(5, 5, 5)), 0);    // ties go to the lower index
    EXPECT_EQ(c.LookupBestColor(GuiPixel(10, 10, 10)), 1); // exact, not the later duplicate
    EXPECT_EQ(c.LookupBestColor(GuiPixel(200, 0, 0)), 2);
    c.SetSystemPalette(nullptr, 650);
    EXPECT_EQ(c.GetOutputDepth(), 16);
    c.SetSystemPalette(nullptr, 1600);
    EXPECT_EQ(c.GetOutputDepth(), 24);
    c.SetSystemPalette(nullptr, 100);
    EXPECT_EQ(c.GetOutputDepth(), 8);
}

TEST(ImageConvert, RgbaWithKeepAlpha) {
    // Converted on request: 24-bit blue, green, red, alpha bytes. Without
    // conversion: the screen driver's 32-bit 0xRRGGBBAA words.
    auto file = PngBuilder().Ihdr(2, 1, 8, 6).Idat({{10, 20, 30, 40, 50, 60, 70, 80}}).Iend().bytes;
    for (uint32_t mode : {0u, GUI_IMG_REMAP, GUI_IMG_DITHER}) {
        GuiPngConvert c(0);
        c.SetKeepAlpha(true);
        c.SetSystemPalette(nullptr, 1600);
        c.SetModeFlags(mode);
        c.SetInputBuffer(file.data(), uint32_t(file.size()));
        ASSERT_EQ(c.ReadImage(1), 1);
        GuiBitmap* b = c.GetBitmapPointer(0);
        EXPECT_EQ(b->flags & GUI_BMP_ALPHA, GUI_BMP_ALPHA);
        if (mode == 0) {
            EXPECT_EQ(b->bitsPerPixel, 32);
            uint32_t w[2];
            std::memcpy(w, b->data, 8);
            EXPECT_EQ(w[0], 0x0A141E28u);
            EXPECT_EQ(w[1], 0x323C4650u);
            GuiPixel p = c.GetULCColor();  // reads back
            EXPECT_EQ(p, GuiPixel(10, 20, 30));
            EXPECT_EQ(p.alpha, 40);
        } else {
            EXPECT_EQ(b->bitsPerPixel, 24);
            EXPECT_EQ(Bytes(c), (std::vector<uint8_t>{30, 20, 10, 40, 70, 60, 50, 80}));
        }
        // The caller owns the bitmap: it outlives the converter.
        c.DestroyImages();
    }
}

TEST(ImageConvert, RemapToSystemPaletteWithTransparency) {
    // 2-bit gray picture with sample 1 transparent, remapped to a 4-entry
    // gray system palette at 2 bits: transparency forces one byte per pixel.
    auto file = PngBuilder().Ihdr(4, 2, 2, 0).Chunk("tRNS", {0, 1}).Idat({{0x1B}, {0xE4}}).Iend().bytes;
    GuiPngConvert c(0);
    c.SetSystemPalette(kGrays4, 4);
    c.SetModeFlags(GUI_IMG_REMAP);
    c.SetInputBuffer(file.data(), uint32_t(file.size()));
    ASSERT_EQ(c.ReadImage(1), 1);
    GuiBitmap* b = c.GetBitmapPointer(0);
    EXPECT_EQ(b->bitsPerPixel, 8);
    EXPECT_EQ(b->flags & (GUI_BMP_TRANSPARENT | GUI_BMP_GRAY), GUI_BMP_TRANSPARENT | GUI_BMP_GRAY);
    EXPECT_EQ(b->transparentColor, 255u);
    // Rows 0 1 2 3 and 3 2 1 0 with level 1 transparent.
    EXPECT_EQ(Bytes(c), (std::vector<uint8_t>{0, 255, 2, 3, 3, 2, 255, 0}));
    c.DestroyImages();

    // Without transparency the indexes are packed at 2 bits.
    auto plain = PngBuilder().Ihdr(4, 1, 8, 2).Idat({{0, 0, 0, 90, 80, 85, 160, 170, 180, 250, 255, 240}}).Iend().bytes;
    GuiPngConvert p(0);
    p.SetSystemPalette(kGrays4, 4);
    p.SetModeFlags(GUI_IMG_REMAP);
    p.SetInputBuffer(plain.data(), uint32_t(plain.size()));
    ASSERT_EQ(p.ReadImage(1), 1);
    EXPECT_EQ(p.GetBitmapPointer(0)->bitsPerPixel, 2);
    EXPECT_EQ(Bytes(p), (std::vector<uint8_t>{0x1B}));
    p.DestroyImages();
}

TEST(ImageConvert, DitheringKeepsTheMeanColour) {
    // Flat colour (100, 100, 100) to 5-6-5: plain remapping gives (96, 100, 96)
    // everywhere, dithering mixes neighbouring levels to the right mean.
    RowsConvert c;
    std::vector<uint8_t> flat(32 * 32 * 3, 100);
    c.Add(24, 32, flat);
    c.SetSystemPalette(nullptr, 650);
    ASSERT_EQ(c.DitherBitmap(), 1);
    GuiBitmap* b = c.GetBitmapPointer(0);
    ASSERT_EQ(b->bitsPerPixel, 16);
    long sum[3] = {};
    for (int i = 0; i < 32 * 32; i++) {
        uint32_t v = b->data[2 * i] | b->data[2 * i + 1] << 8;
        sum[0] += (v >> 8) & 0xF8;
        sum[1] += (v >> 3) & 0xFC;
        sum[2] += (v << 3) & 0xF8;
    }
    // Without dithering the means would be 96, 100, 96.
    for (long s : sum) EXPECT_NEAR(double(s) / 1024.0, 100.0, 2.0);
    // The finished bitmap reads back through the 16-bit reader.
    GuiPixel p = c.GetULCColor();
    EXPECT_TRUE(std::abs(p.red - 100) <= 8 && std::abs(p.green - 100) <= 4 && std::abs(p.blue - 100) <= 8);
    c.DestroyImages();

    RowsConvert none;
    none.Add(24, 2, std::vector<uint8_t>(6, 1));
    none.SetSystemPalette(nullptr, 1600);
    EXPECT_EQ(none.DitherBitmap(), 0);
    none.DestroyImages();
}

TEST(ImageConvert, ResizeToTarget) {
    // 4 x 2 colour picture doubled to 8 x 4 with 24-bit RGB output.
    std::vector<std::vector<uint8_t>> rows = {{1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4}, {5, 5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8}};
    auto file = PngBuilder().Ihdr(4, 2, 8, 2).Idat(rows).Iend().bytes;
    GuiPngConvert c(0);
    c.SetSystemPalette(nullptr, 1600);
    c.SetModeFlags(GUI_IMG_RESIZE | GUI_IMG_REMAP | GUI_IMG_RGB_ORDER);
    c.SetTargetSize(8, 4);
    c.SetInputBuffer(file.data(), uint32_t(file.size()));
    ASSERT_EQ(c.ReadImage(1), 1);
    GuiBitmap* b = c.GetBitmapPointer(0);
    ASSERT_EQ(b->width, 8);
    ASSERT_EQ(b->height, 4);
    std::vector<uint8_t> got = Bytes(c);
    ASSERT_EQ(got.size(), 8u * 4u * 3u);
    // Columns step through the source as 0 1 1 2 2 3 3 3 (never past its end).
    const int sourceX[8] = {0, 1, 1, 2, 2, 3, 3, 3};
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++) EXPECT_EQ(got[size_t(y * 24 + x * 3)], 1 + sourceX[x] + 4 * (y / 2)) << x << "," << y;
    c.DestroyImages();

    GuiPngConvert bad(0);
    bad.SetModeFlags(GUI_IMG_RESIZE);
    bad.SetTargetSize(0, 4);
    bad.SetInputBuffer(file.data(), uint32_t(file.size()));
    EXPECT_EQ(bad.ReadImage(1), 0);
}

TEST(ImageConvert, InterlacedConversionIsRefusedAndReported) {
    pngtest::PngKind s;
    s.interlace = true;
    auto file = pngtest::MakePng(s);
    static uint32_t lastState;
    lastState = 0;
    GuiPngConvert c(0x12345);
    c.SetIdleCallback([](uint32_t id, uint32_t state, GuiImageConvert*) {
        EXPECT_EQ(id, 0x2345u);
        lastState = state;
    });
    c.SetModeFlags(GUI_IMG_REMAP);
    c.SetInputBuffer(file.data(), uint32_t(file.size()));
    EXPECT_EQ(c.ReadImage(1), 0);
    EXPECT_STREQ(c.GetLastMessage(), "Unsupported Image Type");
    EXPECT_EQ(lastState & GUI_IMG_STATE_ERROR, GUI_IMG_STATE_ERROR);
    EXPECT_EQ(c.GetBitmapPointer(0), nullptr);
}

TEST(ImageConvert, RunLengthCoding) {
    RowsConvert c;
    c.SetSystemPalette(nullptr, 100);  // 8-bit output
    std::vector<uint8_t> row(200, 9);
    std::vector<uint8_t> out(400);
    ASSERT_EQ(c.RleEncode(row.data(), out.data(), 200), 4);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4), (std::vector<uint8_t>{0x7F, 9, 0x47, 9}));
    const uint8_t lit[] = {1, 2, 3};
    ASSERT_EQ(c.RleEncode(lit, out.data(), 3), 4);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4), (std::vector<uint8_t>{0x82, 1, 2, 3}));
    const uint8_t mixed[] = {4, 5, 5, 5, 5, 6};
    ASSERT_EQ(c.RleEncode(mixed, nullptr, 6), 6);  // measuring only
    ASSERT_EQ(c.RleEncode(mixed, out.data(), 6), 6);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 6), (std::vector<uint8_t>{0x80, 4, 3, 5, 0x80, 6}));

    // 16-bit output: 16-bit counts, runs up to 32000 pixels.
    c.SetSystemPalette(nullptr, 650);
    std::vector<uint8_t> wide(2 * 40000, 0xAB);
    ASSERT_EQ(c.RleEncode(wide.data(), out.data(), 40000), 8);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 8),
              (std::vector<uint8_t>{0xFF, 0x7C, 0xAB, 0xAB, 0x3F, 0x1F, 0xAB, 0xAB}));

    // Whole bitmaps: coded when smaller, or when forced.
    RowsConvert b;
    b.SetSystemPalette(nullptr, 100);
    std::vector<uint8_t> runs(4 * 50, 3), noise(4 * 8);
    for (size_t i = 0; i < noise.size(); i++) noise[i] = uint8_t(i * 7);
    b.Add(8, 50, runs);
    b.Add(8, 8, noise);
    ASSERT_EQ(b.RleEncode(0), 1);
    EXPECT_EQ(b.GetBitmapPointer(0)->flags & GUI_BMP_RLE, GUI_BMP_RLE);
    EXPECT_EQ(b.GetDataSize(0), 8u);
    EXPECT_EQ(b.GetBitmapPointer(1)->flags & GUI_BMP_RLE, 0);
    ASSERT_EQ(b.RleEncode(1), 1);
    EXPECT_EQ(b.GetBitmapPointer(1)->flags & GUI_BMP_RLE, GUI_BMP_RLE);
    EXPECT_EQ(b.GetDataSize(1), 4u * 9u);
    b.DestroyImages();
}

TEST(ImageConvert, RotateAndFlip) {
    RowsConvert c;
    c.Add(8, 3, {1, 2, 3, 4, 5, 6});  // 3 x 2
    c.RotateImages(90, 0, 0);
    GuiBitmap* b = c.GetBitmapPointer(0);
    EXPECT_EQ(b->width, 2);
    EXPECT_EQ(b->height, 3);
    EXPECT_EQ(Bytes(c), (std::vector<uint8_t>{4, 1, 5, 2, 6, 3}));
    c.RotateImages(270, 0, 0);
    EXPECT_EQ(Bytes(c), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    c.RotateImages(0, 1, 1);
    EXPECT_EQ(Bytes(c), (std::vector<uint8_t>{6, 5, 4, 3, 2, 1}));
    c.RotateImages(45, 1, 0);  // not a quarter turn: unchanged
    EXPECT_EQ(Bytes(c), (std::vector<uint8_t>{6, 5, 4, 3, 2, 1}));
    c.DestroyImages();
}
