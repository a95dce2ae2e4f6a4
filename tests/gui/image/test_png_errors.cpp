// The PNG reader on hand-made and damaged files: what it rejects, what it
// skips, transparency, and truncated or corrupt data failing cleanly.
#include "gui/image/gui_png.h"
#include "gui/image/test_png_files.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

struct Decode {
    int ok;
    std::vector<uint8_t> pixels;
    GuiPixel trans;
    bool hasTrans;
    uint32_t mode;
};

Decode Read(const std::vector<uint8_t>& file, bool keepAlpha = true) {
    GuiPngConvert conv(0);
    conv.SetKeepAlpha(keepAlpha);
    conv.SetSystemPalette(nullptr, 1600);
    conv.SetInputBuffer(file.data(), uint32_t(file.size()));
    Decode d{conv.ReadImage(1), {}, conv.GetTransColor(), conv.HasTransparency(), conv.GetModeFlags()};
    if (GuiBitmap* b = conv.GetBitmapPointer(0)) d.pixels = pngtest::RgbaBytes(b->data, conv.GetDataSize(0), b->bitsPerPixel);
    EXPECT_EQ(d.ok == 1, conv.GetBitmapPointer(0) != nullptr);
    conv.DestroyImages();
    return d;
}

std::vector<uint8_t> Palette(int n) {
    std::vector<uint8_t> p;
    for (int i = 0; i < n; i++) p.insert(p.end(), {uint8_t(i * 10), uint8_t(i * 20), uint8_t(i * 30)});
    return p;
}

const std::vector<std::vector<uint8_t>> kRows2x2 = {{0, 1}, {5, 2}};

}  // namespace

TEST(PngErrors, HeaderChecks) {
    auto good = pngtest::PngBuilder().Ihdr(2, 2, 8, 3).Chunk("PLTE", Palette(8)).Idat(kRows2x2).Iend().bytes;
    EXPECT_EQ(Read(good).ok, 1);

    auto noSig = good;
    noSig[1] = 'Q';
    EXPECT_EQ(Read(noSig).ok, 0);
    EXPECT_EQ(Read(std::vector<uint8_t>(good.begin(), good.begin() + 5)).ok, 0);
    EXPECT_EQ(Read({}).ok, 0);

    auto ihdr12 = pngtest::PngBuilder().Chunk("IHDR", {0, 0, 0, 2, 0, 0, 0, 2, 8, 3, 0, 0}).Idat(kRows2x2).Iend().bytes;
    EXPECT_EQ(Read(ihdr12).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(0, 2, 8, 0).Idat(kRows2x2).bytes).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 2, 3, 0).Idat(kRows2x2).bytes).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 2, 8, 1).Idat(kRows2x2).bytes).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 2, 8, 5).Idat(kRows2x2).bytes).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 2, 16, 3).Chunk("PLTE", Palette(8)).Idat(kRows2x2).bytes).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 2, 4, 2).Idat(kRows2x2).bytes).ok, 0);
    // Sides beyond 16 bits or huge products never reach an allocation.
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(70000, 1, 8, 0).Idat(kRows2x2).bytes).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(0x80000000u, 1, 8, 0).Idat(kRows2x2).bytes).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(65535, 65535, 16, 6).Idat(kRows2x2).bytes).ok, 0);
    // A second IHDR, image data before IHDR, IEND before the data.
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 2, 8, 0).Ihdr(2, 2, 8, 0).Idat(kRows2x2).bytes).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Idat(kRows2x2).bytes).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 2, 8, 0).Iend().bytes).ok, 0);
    // A chunk longer than the file.
    auto longChunk = pngtest::PngBuilder().Ihdr(2, 2, 8, 0).bytes;
    pngtest::PngBuilder::Put32(longChunk, 1000);
    longChunk.insert(longChunk.end(), {'t', 'E', 'X', 't', 1, 2, 3});
    EXPECT_EQ(Read(longChunk).ok, 0);
}

TEST(PngErrors, PaletteChunks) {
    auto withPlte = [](const std::vector<uint8_t>& plte) {
        return pngtest::PngBuilder().Ihdr(2, 2, 8, 3).Chunk("PLTE", plte).Idat(kRows2x2).Iend().bytes;
    };
    EXPECT_EQ(Read(withPlte(Palette(256))).ok, 1);
    std::vector<uint8_t> p769(769, 1), p10(10, 1);
    EXPECT_EQ(Read(withPlte(p769)).ok, 0);
    EXPECT_EQ(Read(withPlte(p10)).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 2, 8, 3).Chunk("PLTE", Palette(8)).Chunk("PLTE", Palette(8)).Idat(kRows2x2).bytes).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 2, 8, 3).Idat(kRows2x2).bytes).ok, 0);  // palette image without PLTE
    // Gray image: a PLTE is skipped; unknown ancillary chunks are skipped,
    // unknown critical ones fail the file.
    auto gray = pngtest::PngBuilder().Ihdr(2, 2, 8, 0).Chunk("PLTE", Palette(2)).Chunk("tEXt", {'a', 0, 'b'}).Idat(kRows2x2).bytes;
    Decode d = Read(gray);
    ASSERT_EQ(d.ok, 1);
    EXPECT_EQ(d.pixels, (std::vector<uint8_t>{0, 0, 0, 1, 1, 1, 5, 5, 5, 2, 2, 2}));
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 2, 8, 0).Chunk("ABCD", {1}).Idat(kRows2x2).bytes).ok, 0);
}

TEST(PngErrors, Transparency) {
    // Index 5 has alpha 0: the transparent index, and alpha 0 in the picture.
    std::vector<uint8_t> alpha = {255, 255, 255, 255, 255, 0, 255, 255};
    auto file = pngtest::PngBuilder().Ihdr(2, 2, 8, 3).Chunk("PLTE", Palette(8)).Chunk("tRNS", alpha).Idat(kRows2x2).Iend().bytes;
    Decode d = Read(file);
    ASSERT_EQ(d.ok, 1);
    EXPECT_TRUE(d.hasTrans);
    EXPECT_EQ(d.trans.red, 5);
    EXPECT_EQ(d.mode & GUI_IMG_TRANS_INDEX, GUI_IMG_TRANS_INDEX);
    EXPECT_EQ(d.pixels, (std::vector<uint8_t>{0, 0, 0, 255, 10, 20, 30, 255, 50, 100, 150, 0, 20, 40, 60, 255}));

    // Longer than the palette: ignored; with a damaged CRC: ignored.
    std::vector<uint8_t> nine(9, 0);
    Decode longer = Read(pngtest::PngBuilder().Ihdr(2, 2, 8, 3).Chunk("PLTE", Palette(8)).Chunk("tRNS", nine).Idat(kRows2x2).bytes);
    ASSERT_EQ(longer.ok, 1);
    EXPECT_FALSE(longer.hasTrans);
    EXPECT_EQ(longer.pixels.size(), 12u);  // no alpha channel
    Decode damaged = Read(pngtest::PngBuilder().Ihdr(2, 2, 8, 3).Chunk("PLTE", Palette(8)).Chunk("tRNS", alpha, true).Idat(kRows2x2).bytes);
    ASSERT_EQ(damaged.ok, 1);
    EXPECT_FALSE(damaged.hasTrans);

    // Gray sample 2 and RGB sample (1, 2, 3) as transparent colours.
    Decode g = Read(pngtest::PngBuilder().Ihdr(2, 2, 8, 0).Chunk("tRNS", {0, 2}).Idat(kRows2x2).bytes);
    ASSERT_EQ(g.ok, 1);
    EXPECT_EQ(g.trans, GuiPixel(2, 2, 2));
    EXPECT_EQ(g.pixels[15], 0);  // pixel (1, 1) is 2
    EXPECT_EQ(g.pixels[3], 255);
    Decode rgb = Read(pngtest::PngBuilder().Ihdr(1, 1, 8, 2).Chunk("tRNS", {0, 1, 0, 2, 0, 3}).Idat({{1, 2, 3}}).bytes);
    ASSERT_EQ(rgb.ok, 1);
    EXPECT_EQ(rgb.trans, GuiPixel(1, 2, 3));
    EXPECT_EQ(rgb.pixels, (std::vector<uint8_t>{1, 2, 3, 0}));  // left out when drawn
    Decode wrongLength = Read(pngtest::PngBuilder().Ihdr(1, 1, 8, 2).Chunk("tRNS", {0, 1}).Idat({{1, 2, 3}}).bytes);
    ASSERT_EQ(wrongLength.ok, 1);
    EXPECT_FALSE(wrongLength.hasTrans);
}

TEST(PngErrors, ImageDataChecks) {
    // Too little data for the rows, extra data after them, a row that is not
    // inflatable: all fail rather than give a half picture.
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 3, 8, 0).Idat(kRows2x2).bytes).ok, 0);
    EXPECT_EQ(Read(pngtest::PngBuilder().Ihdr(2, 1, 8, 0).Idat(kRows2x2).bytes).ok, 0);
    auto file = pngtest::PngBuilder().Ihdr(2, 2, 8, 0).Idat(kRows2x2, 3).Iend().bytes;
    EXPECT_EQ(Read(file).ok, 1);
    auto broken = file;
    broken[8 + 25 + 8 + 2] ^= 0xFF;  // first byte of the deflate data after the zlib header
    EXPECT_EQ(Read(broken).ok, 0);
    // Another chunk between the IDAT chunks ends the data early.
    auto rows = std::vector<std::vector<uint8_t>>(40, std::vector<uint8_t>(40, 7));
    auto split = pngtest::PngBuilder().Ihdr(40, 40, 8, 0).Idat(rows, 2).bytes;
    EXPECT_EQ(Read(split).ok, 1);
    auto interrupted = pngtest::PngBuilder().Ihdr(40, 40, 8, 0).bytes;
    auto idats = pngtest::PngBuilder().Idat(rows, 2).bytes;
    size_t firstLen = (size_t(idats[8]) << 24 | size_t(idats[9]) << 16 | size_t(idats[10]) << 8 | idats[11]) + 12;
    interrupted.insert(interrupted.end(), idats.begin() + 8, idats.begin() + 8 + long(firstLen));
    auto text = pngtest::PngBuilder().Chunk("tEXt", {'a', 0}).bytes;
    interrupted.insert(interrupted.end(), text.begin() + 8, text.end());
    interrupted.insert(interrupted.end(), idats.begin() + 8 + long(firstLen), idats.end());
    EXPECT_EQ(Read(interrupted).ok, 0);
}

TEST(PngErrors, TruncatedAndCorruptFilesFailCleanly) {
    pngtest::PngKind s;
    s.width = 33;
    s.height = 19;
    s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    s.idatSize = 300;
    auto file = pngtest::MakePng(s);
    // Every cut inside the image data fails; cuts after it (IEND) do not matter.
    size_t iend = file.size() - 12;
    for (size_t n = 0; n < iend; n++) {
        std::vector<uint8_t> cut(file.begin(), file.begin() + long(n));
        ASSERT_EQ(Read(cut).ok, 0) << n;
    }
    std::mt19937 rng(1);
    for (int round = 0; round < 3000; round++) {
        s.colorType = std::vector<int>{0, 2, 3, 4, 6}[size_t(round) % 5];
        s.depth = s.colorType == 3 || s.colorType == 0 ? 1 << (round / 5 % 4) : 8 << (round / 5 % 2);
        s.interlace = round % 3 == 0;
        auto f = pngtest::MakePng(s);
        for (int k = 0; k < 1 + round % 4; k++) f[8 + rng() % (f.size() - 8)] ^= uint8_t(1u << (rng() % 8));
        Decode d = Read(f);
        if (d.ok) {
            EXPECT_LE(d.pixels.size(), size_t(33 * 19 * 4));
        }
    }
}
