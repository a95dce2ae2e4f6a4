// Pictures decoded the way the display's image container decodes them and
// drawn by the frame-buffer driver: every colour type must reach the screen
// in the colours libpng decodes, and the bitmaps are the caller's to free.
#include "gui/image/gui_png.h"
#include "gui/draw/l24logi.h"
#include "gui/image/test_png_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

using pngtest::PngKind;

namespace {

constexpr uint32_t kBackground = 0x00123456;

// The image container's sequence: keep alpha, 24-bit output, no conversion.
GuiBitmap* DecodeLikeDisplay(GuiPngConvert& conv, const std::vector<uint8_t>& file) {
    conv.SetKeepAlpha(true);
    conv.SetSystemPalette(nullptr, 1600);
    conv.SetModeFlags(0);
    conv.SetInputBuffer(file.data(), uint32_t(file.size()));
    if (conv.ReadImage(1) != 1) return nullptr;
    return conv.GetBitmapPointer(0);
}

// What the screen must show at picture pixel i: the colour, or the
// background where the alpha is below one half (the driver draws alpha
// pictures opaque or not at all).
uint32_t Expected(const pngtest::Decoded& ref, size_t i) {
    const uint8_t* p = &ref.pixels[i * size_t(ref.channels)];
    if (ref.channels == 4 && p[3] < 128) return kBackground;
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

}  // namespace

TEST(PngDisplay, EveryColourTypeDrawsInLibpngColours) {
    L24logi screen(GuiRect(0, 0, 1023, 479));
    const GuiRect all(0, 0, 1023, 479);
    const GuiPoint at{101, 40};
    struct K { int type; std::vector<int> depths; bool trns; };
    int freedByHand = 0;
    for (K k : {K{PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}, true}, K{PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}, true},
                K{PNG_COLOR_TYPE_RGB, {8, 16}, true}, K{PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}, false},
                K{PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}, false}}) {
        for (int depth : k.depths) {
            for (int variant = 0; variant < 4; variant++) {
                PngKind s;
                s.colorType = k.type;
                s.depth = depth;
                s.trns = variant & 1;
                s.interlace = variant & 2;
                if (s.trns && !k.trns) continue;
                // Odd widths leave partial bytes at the row ends of packed pictures.
                s.width = s.interlace ? 13 : 37;
                s.height = s.interlace ? 130 : 21;
                SCOPED_TRACE("type " + std::to_string(s.colorType) + " depth " + std::to_string(depth) +
                             (s.trns ? " tRNS" : "") + (s.interlace ? " interlaced" : ""));
                const std::vector<uint8_t> file = pngtest::MakePng(s);
                const pngtest::Decoded ref = pngtest::LibpngDecode(file, true);
                ASSERT_TRUE(ref.ok);

                auto conv = std::make_unique<GuiPngConvert>(0);
                GuiBitmap* b = DecodeLikeDisplay(*conv, file);
                ASSERT_NE(b, nullptr);
                std::fill_n(gbVMemory, 1024 * 480, kBackground);
                screen.BitmapView(at, b, all);

                int wrong = 0, outside = 0;
                for (int y = 0; y < 480; y++) {
                    for (int x = 0; x < 1024; x++) {
                        const uint32_t got = gbVMemory[size_t(y) * 1024 + size_t(x)];
                        const int px = x - at.x, py = y - at.y;
                        if (px < 0 || py < 0 || px >= int(s.width) || py >= int(s.height))
                            outside += got != kBackground;
                        else
                            wrong += got != Expected(ref, size_t(py) * s.width + size_t(px));
                    }
                }
                EXPECT_EQ(wrong, 0) << "pixels drawn in other colours than libpng's";
                EXPECT_EQ(outside, 0) << "pixels drawn outside the picture";

                // The bitmap belongs to the caller: freed by hand or through
                // DestroyImages, the converter's destructor must leave it alone.
                if (freedByHand++ % 2 == 0) {
                    delete[] b->data;
                    delete b;
                } else {
                    conv->DestroyImages();
                    EXPECT_EQ(conv->GetBitmapPointer(0), nullptr);
                }
                conv.reset();
            }
        }
    }
}
