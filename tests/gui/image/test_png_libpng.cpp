// The PNG reader against libpng on generated files of every colour type and
// depth, with and without tRNS, interlaced and not.
#include "gui/image/gui_png.h"
#include "gui/image/test_png_files.h"

#include <gtest/gtest.h>

#include <string>

using pngtest::PngKind;

namespace {

struct Result {
    int ok = 0;
    GuiBitmap bitmap{};
    std::vector<uint8_t> pixels;
};

// Reads a file the way the display does: keep alpha, 24-bit, no conversion.
Result Read(const std::vector<uint8_t>& file, bool keepAlpha = true, uint32_t mode = 0) {
    Result r;
    GuiPngConvert conv(0);
    conv.SetKeepAlpha(keepAlpha);
    conv.SetSystemPalette(nullptr, 1600);
    conv.SetModeFlags(mode);
    conv.SetInputBuffer(file.data(), uint32_t(file.size()));
    r.ok = conv.ReadImage(1);
    if (GuiBitmap* b = conv.GetBitmapPointer(0)) {
        r.bitmap = *b;
        r.pixels = pngtest::RgbaBytes(b->data, conv.GetDataSize(0), b->bitsPerPixel);
        r.bitmap.data = nullptr;
    }
    conv.DestroyImages();
    return r;
}

std::string Name(const PngKind& s) {
    return "type " + std::to_string(s.colorType) + " depth " + std::to_string(s.depth) + (s.trns ? " tRNS" : "") +
           (s.interlace ? " interlaced" : "") + " " + std::to_string(s.width) + "x" + std::to_string(s.height);
}

std::vector<PngKind> AllKinds() {
    std::vector<PngKind> all;
    struct K { int type; std::vector<int> depths; bool trns; };
    for (K k : {K{PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}, true}, K{PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}, true},
                K{PNG_COLOR_TYPE_RGB, {8, 16}, true}, K{PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}, false},
                K{PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}, false}}) {
        for (int depth : k.depths) {
            for (bool trns : {false, true}) {
                if (trns && !k.trns) continue;
                for (bool interlace : {false, true}) {
                    PngKind s;
                    s.colorType = k.type;
                    s.depth = depth;
                    s.trns = trns;
                    s.interlace = interlace;
                    all.push_back(s);
                }
            }
        }
    }
    return all;
}

}  // namespace

TEST(PngLibpng, EveryKindDecodesAsLibpngDoes) {
    // Odd sizes leave partial bytes at row ends and empty Adam7 passes.
    const std::pair<uint32_t, uint32_t> sizes[] = {{37, 21}, {1, 1}, {3, 2}, {8, 8}, {5, 130}};
    for (PngKind s : AllKinds()) {
        for (auto [w, h] : sizes) {
            s.width = w;
            s.height = h;
            SCOPED_TRACE(Name(s));
            std::vector<uint8_t> file = pngtest::MakePng(s);
            ASSERT_FALSE(file.empty());
            pngtest::Decoded ref = pngtest::LibpngDecode(file);
            ASSERT_TRUE(ref.ok);
            Result got = Read(file);
            ASSERT_EQ(got.ok, 1);
            EXPECT_EQ(got.bitmap.width, w);
            EXPECT_EQ(got.bitmap.height, h);
            EXPECT_EQ(got.bitmap.bitsPerPixel, ref.channels == 4 ? 32 : 24);
            EXPECT_EQ((got.bitmap.flags & GUI_BMP_ALPHA) != 0, ref.channels == 4);
            EXPECT_EQ((got.bitmap.flags & GUI_BMP_GRAY) != 0,
                      s.colorType == PNG_COLOR_TYPE_GRAY || s.colorType == PNG_COLOR_TYPE_GRAY_ALPHA);
            EXPECT_TRUE(got.pixels == ref.pixels) << "pixels differ from libpng's";
        }
    }
}

TEST(PngLibpng, EveryFilterAtEveryPixelSize) {
    // Each filter forced on every row, for pixels of 1 to 8 bytes and packed
    // pixels, so every unfiltering path meets smooth areas (Paeth ties) and noise.
    struct K { int type, depth; };
    for (K k : {K{PNG_COLOR_TYPE_PALETTE, 4}, K{PNG_COLOR_TYPE_GRAY, 8}, K{PNG_COLOR_TYPE_GRAY_ALPHA, 8},
                K{PNG_COLOR_TYPE_RGB, 8}, K{PNG_COLOR_TYPE_RGB_ALPHA, 8}, K{PNG_COLOR_TYPE_RGB, 16},
                K{PNG_COLOR_TYPE_RGB_ALPHA, 16}}) {
        for (int filter : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH}) {
            PngKind s;
            s.colorType = k.type;
            s.depth = k.depth;
            s.width = 41;
            s.height = 13;
            s.filters = filter;
            SCOPED_TRACE(Name(s) + " filter " + std::to_string(filter));
            std::vector<uint8_t> file = pngtest::MakePng(s);
            pngtest::Decoded ref = pngtest::LibpngDecode(file);
            ASSERT_TRUE(ref.ok);
            Result got = Read(file);
            ASSERT_EQ(got.ok, 1);
            EXPECT_TRUE(got.pixels == ref.pixels) << "pixels differ from libpng's";
        }
    }
}

TEST(PngLibpng, WithoutKeepAlphaTheAlphaIsDropped) {
    for (PngKind s : AllKinds()) {
        s.width = 19;
        s.height = 7;
        SCOPED_TRACE(Name(s));
        std::vector<uint8_t> file = pngtest::MakePng(s);
        pngtest::Decoded ref = pngtest::LibpngDecode(file, false);
        Result got = Read(file, false);
        ASSERT_EQ(got.ok, 1);
        EXPECT_EQ(ref.channels, 3);
        EXPECT_EQ(got.bitmap.flags & GUI_BMP_ALPHA, 0);
        EXPECT_TRUE(got.pixels == ref.pixels);
    }
}

TEST(PngLibpng, InterlacedEqualsPlainAndSplitDataEqualsWhole) {
    for (PngKind s : AllKinds()) {
        if (s.interlace) continue;
        s.width = 23;
        s.height = 17;
        SCOPED_TRACE(Name(s));
        Result plain = Read(pngtest::MakePng(s));
        s.interlace = true;
        Result interlaced = Read(pngtest::MakePng(s));
        s.idatSize = 7;  // dozens of IDAT chunks of 7 bytes
        Result split = Read(pngtest::MakePng(s));
        ASSERT_EQ(plain.ok, 1);
        ASSERT_EQ(interlaced.ok, 1);
        ASSERT_EQ(split.ok, 1);
        EXPECT_TRUE(plain.pixels == interlaced.pixels);
        EXPECT_TRUE(split.pixels == interlaced.pixels);
    }
}
