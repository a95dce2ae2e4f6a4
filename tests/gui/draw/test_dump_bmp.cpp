// The screen as a Windows BMP image, read back by a reader written here from
// the BMP layout.
#include <cstring>
#include <memory>
#include <vector>

#include "gui/draw/test_draw_fixture.h"

namespace {

struct Bmp {
    bool ok = false;
    uint32_t fileSize = 0, dataOffset = 0, headerSize = 0, imageSize = 0, coloursUsed = 0;
    int32_t width = 0, height = 0;
    uint16_t planes = 0, bpp = 0;
    uint32_t compression = 0;
    std::vector<uint32_t> pixels;   // top row first, 0x00RRGGBB
};

uint32_t le(const unsigned char* p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

Bmp ReadBmp(const unsigned char* b, size_t size)
{
    Bmp m;
    if (size < 54 || b[0] != 'B' || b[1] != 'M') return m;
    m.fileSize = le(b + 2, 4);
    m.dataOffset = le(b + 10, 4);
    m.headerSize = le(b + 14, 4);
    m.width = int32_t(le(b + 18, 4));
    m.height = int32_t(le(b + 22, 4));
    m.planes = uint16_t(le(b + 26, 2));
    m.bpp = uint16_t(le(b + 28, 2));
    m.compression = le(b + 30, 4);
    m.imageSize = le(b + 34, 4);
    m.coloursUsed = le(b + 46, 4);
    if (m.bpp != 32 || m.width <= 0 || m.height <= 0) return m;
    const size_t stride = size_t(m.width) * 4;
    if (m.dataOffset + stride * size_t(m.height) > size) return m;
    m.pixels.resize(size_t(m.width) * size_t(m.height));
    for (int row = 0; row < m.height; ++row) {   // stored bottom-up
        const unsigned char* s = b + m.dataOffset + stride * size_t(m.height - 1 - row);
        for (int x = 0; x < m.width; ++x) {
            const unsigned char* p = s + 4 * x;   // blue, green, red, reserved
            m.pixels[size_t(row) * size_t(m.width) + size_t(x)] = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        }
    }
    m.ok = true;
    return m;
}

}  // namespace

TEST_F(DrawTest, ScreenDumpAsBmpEqualsTheFrameBuffer)
{
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 1024; ++x) gbVMemory[y * 1024 + x] = uint32_t((x * 7) << 16 | (y * 3) << 8 | (x ^ y)) & 0xFFFFFF;
    unsigned long size = 0;
    GuiRect area(0, 0, 639, 479);
    std::unique_ptr<unsigned char[]> buf(screen->DumpWindowsBitmap(&size, area));
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(size, 54u + 640u * 480u * 4u);
    Bmp m = ReadBmp(buf.get(), size);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.fileSize, size);
    EXPECT_EQ(m.dataOffset, 54u);
    EXPECT_EQ(m.headerSize, 40u);
    EXPECT_EQ(m.width, 640);
    EXPECT_EQ(m.height, 480);
    EXPECT_EQ(m.planes, 1);
    EXPECT_EQ(m.compression, 0u);
    EXPECT_EQ(m.imageSize, 640u * 480u * 4u);
    EXPECT_EQ(m.coloursUsed, 0u);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) ASSERT_EQ(m.pixels[size_t(y) * 640 + size_t(x)], Px(x, y)) << x << "," << y;
    // The bottom screen row is the first stored row.
    EXPECT_EQ(le(buf.get() + 54, 4), Px(0, 479));
}

TEST_F(DrawTest, BmpOfAnOddAreaAndOfTheDisplayRequest)
{
    gbVMemory[2 * 1024 + 1] = 0xFF8000;
    unsigned int size = 0;
    std::unique_ptr<unsigned char[]> buf(screen->DumpWindowsBitmap(&size, GuiRect(1, 2, 3, 3)));
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(size, 54u + 2 * 12);   // rows of 3 words, no padding needed
    Bmp m = ReadBmp(buf.get(), size);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.pixels[0], 0xFF8000u);
    // The display asks for (1, 1)-(640, 480): the screen ends at row 479.
    std::unique_ptr<unsigned char[]> full(screen->DumpWindowsBitmap(&size, GuiRect(1, 1, 640, 480)));
    ASSERT_NE(full, nullptr);
    m = ReadBmp(full.get(), size);
    EXPECT_EQ(m.height, 479);
    EXPECT_EQ(m.width, 640);
    EXPECT_EQ(m.pixels[1 * 640 + 0], 0xFF8000u);   // screen (1, 2)
    // Nothing of the area on the screen: no image.
    unsigned long none = 7;
    GuiRect off(2000, 0, 2100, 10);
    EXPECT_EQ(screen->DumpWindowsBitmap(&none, off), nullptr);
    EXPECT_EQ(none, 0u);
}
