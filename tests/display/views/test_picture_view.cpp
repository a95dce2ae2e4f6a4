// Pictures: PNG parts of a file read once, shared by equal elements, shown
// with their frame; missing, short and oversized pictures.
#include <zlib.h>

#include <string>
#include <vector>

#include "display/views/cimage_container.h"
#include "display/views/cpicture.h"
#include "display_view_fixture.h"
#include "log_capture.h"

namespace {

constexpr uint32_t kFrame = 0xE0E000, kBack = 0x000060;

void Put32(std::string& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s += char(v >> (8 * i));
}

void Chunk(std::string& png, const char* type, const std::string& data) {
    Put32(png, uint32_t(data.size()));
    std::string body = std::string(type, 4) + data;
    png += body;
    Put32(png, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// An RGB picture of w x h whose pixel (x, y) is colourAt(x, y).
template <class F>
std::string MakePng(int w, int h, F colourAt) {
    std::string raw;
    for (int y = 0; y < h; ++y) {
        raw += char(0);   // no filter
        for (int x = 0; x < w; ++x) {
            const uint32_t c = colourAt(x, y);
            raw += char(c >> 16), raw += char(c >> 8), raw += char(c);
        }
    }
    uLongf zlen = compressBound(uLong(raw.size()));
    std::vector<Bytef> z(zlen);
    compress(z.data(), &zlen, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()));
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    Put32(ihdr, uint32_t(w));
    Put32(ihdr, uint32_t(h));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "IDAT", std::string(reinterpret_cast<char*>(z.data()), zlen));
    Chunk(png, "IEND", "");
    return png;
}

uint32_t Checker(int x, int y) { return ((x + y) & 1) ? 0x00FF00 : 0xFF00FF; }

display_elem_s Picture(const char* file, uint32_t ofs, uint32_t len, StyleType_t style) {
    display_elem_s e{};
    XmlInitPictureElement(&e);
    e.pos_x = 200, e.pos_y = 150, e.size_x = 80, e.size_y = 60;
    picture_elem_s& p = e.picture;
    std::snprintf(p.pic.filename, sizeof p.pic.filename, "%s", file);
    p.pic.ofs = ofs;
    p.pic.len = len;
    p.deco_middle.style = style;
    p.deco_middle.BorderFGCol = Rgb(kFrame);
    p.deco_middle.BorderBGCol = Rgb(kBack);
    return e;
}

page_s PageOf(display_elem_s* elems, int n) {
    page_s p{};
    XmlInitPage(&p);
    p.used = 1;
    for (int i = n - 1; i >= 0; --i) {
        elems[i].next = p.elements;
        p.elements = &elems[i];
    }
    p.count = uint16_t(n);
    return p;
}

class PictureView : public DisplayViewTest {
protected:
    void SetUp() override {
        DisplayViewTest::SetUp();
        png = MakePng(12, 8, Checker);
        other = MakePng(3, 3, [](int, int) { return 0x0000FFu; });
        // Two pictures in one file, behind a header of their own.
        writeFile("cfg/pics.bin", std::string(37, 'x') + png + other + "trailer");
        takeLogTexts();
    }
    display_s* Config(display_elem_s* elems, int n) {
        cfg = display_s{};
        XmlInitDisplay(&cfg);
        cfg.page_count = 1;
        cfg.pages[0] = PageOf(elems, n);
        return &cfg;
    }
    std::string png, other;
    display_s cfg{};
};

TEST_F(PictureView, PictureAtAnOffsetShowsWithItsFrameAndDuplicatesShareOneBitmap) {
    const uint32_t len = uint32_t(png.size());
    display_elem_s e[3] = {Picture("cfg:/pics.bin", 37, len, STYLE_SINGLE_LINE),
                           Picture("cfg:/pics.bin", 37, len, STYLE_NONE),
                           Picture("cfg:/pics.bin", 37 + len, uint32_t(other.size()), STYLE_NONE)};
    CImageContainer images(Config(e, 3));
    ASSERT_NE(images.files, nullptr);
    EXPECT_EQ(images.files->next, nullptr);   // one file record with two images
    ASSERT_NE(images.files->images, nullptr);
    ASSERT_NE(images.files->images->next, nullptr);
    EXPECT_EQ(images.files->images->next->next, nullptr);
    GuiBitmap* first = images.getImage(&e[0].picture.pic);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(images.getImage(&e[1].picture.pic), first);
    GuiBitmap* third = images.getImage(&e[2].picture.pic);
    ASSERT_NE(third, nullptr);
    EXPECT_NE(third, first);
    EXPECT_EQ(first->width, 12);
    EXPECT_TRUE(logContains(takeLogTexts(), "CImageContainer: successfully converted 2 pictures"));

    auto* v = new CPicture(page->mOuter, &e[0], first, page, GST_FRAME_NONE);
    page->Add(v, 1);
    const int x0 = 200, y0 = 150;
    // Background, the frame of width 2 inset by 5, the image at (16, 16).
    EXPECT_EQ(Pixel(x0 + 1, y0 + 1), kBack);
    EXPECT_EQ(Pixel(x0 + 5, y0 + 30), kFrame);
    EXPECT_EQ(Pixel(x0 + 6, y0 + 30), kFrame);
    EXPECT_EQ(Pixel(x0 + 7, y0 + 30), kBack);
    EXPECT_EQ(Pixel(x0 + 74, y0 + 30), kFrame);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) ASSERT_EQ(Pixel(x0 + 16 + x, y0 + 16 + y), Checker(x, y)) << x << "," << y;
    EXPECT_EQ(Pixel(x0 + 28, y0 + 16), kBack);
    EXPECT_EQ(CountColour(v->mOuter, 0xFF0000), 0);
}

TEST_F(PictureView, MissingShortAndUnreadablePicturesShowTheRedCrossInGhostColours) {
    const uint32_t len = uint32_t(png.size());
    display_elem_s e[3] = {Picture("cfg:/missing.png", 0, 100, STYLE_SINGLE_LINE),
                           Picture("cfg:/pics.bin", 37, 100000, STYLE_NONE),   // past the end
                           Picture("cfg:/pics.bin", 38, len, STYLE_NONE)};    // not a PNG there
    CImageContainer images(Config(e, 3));
    for (auto& el : e) EXPECT_EQ(images.getImage(&el.picture.pic), nullptr);
    const auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "CImageContainer: could not read picture cfg:/pics.bin 37 0"));
    EXPECT_FALSE(logContains(log, "missing.png"));   // a file that does not open is silent

    auto* v = new CPicture(page->mOuter, &e[0], nullptr, page, GST_FRAME_NONE);
    page->Add(v, 1);
    const int x0 = 200, y0 = 150;
    EXPECT_EQ(Pixel(x0 + 1, y0 + 1), (kBack >> 1) & 0x7F7F7F);
    EXPECT_EQ(Pixel(x0 + 5, y0 + 30), (kFrame >> 1) & 0x7F7F7F);
    EXPECT_EQ(Pixel(x0 + 16, y0 + 17), 0xFF0000u);   // the cross starts at (m, m + 1)
    EXPECT_GT(CountColour(v->mOuter, 0xFF0000), 80);
}

TEST_F(PictureView, OversizedAndEmptyPicturesAreSafe) {
    display_elem_s big = Picture("cfg:/pics.bin", 37, uint32_t(png.size()), STYLE_DOUBLE_LINE);
    big.pos_x = 600, big.pos_y = 400, big.size_x = 65535, big.size_y = 65535;
    auto* v = new CPicture(page->mOuter, &big, nullptr, page, GST_FRAME_NONE);
    ASSERT_NE(v->pictureBitmap, nullptr);
    EXPECT_LE(v->pictureBitmap->width, GuiThing::mpScreen->Width());
    EXPECT_LE(v->pictureBitmap->height, GuiThing::mpScreen->Height());
    page->Add(v, 1);

    display_elem_s none = Picture("cfg:/pics.bin", 37, uint32_t(png.size()), STYLE_NONE);
    none.size_x = 0;
    auto* w = new CPicture(page->mOuter, &none, nullptr, page, GST_FRAME_NONE);
    EXPECT_EQ(w->pictureBitmap, nullptr);
    page->Add(w, 1);
    w->Draw();
}

TEST_F(PictureView, SecondFramesShareTheirSidesOrTopAndAResetPictureShowsR) {
    const uint32_t len = uint32_t(png.size());
    display_elem_s top = Picture("cfg:/pics.bin", 37, len, STYLE_SINGLE_TOP);
    display_elem_s side = Picture("cfg:/pics.bin", 37, len, STYLE_SINGLE_SIDE);
    side.pos_x = 400;
    top.picture.vis_mode = VIS_LIMIT_RESETABLE;
    auto* a = new CPicture(page->mOuter, &top, nullptr, page, GST_FRAME_NONE);
    auto* b = new CPicture(page->mOuter, &side, nullptr, page, GST_FRAME_NONE);
    page->Add(a, 1);
    page->Add(b, 1);
    const uint32_t ghostFrame = (kFrame >> 1) & 0x7F7F7F;
    // single top: a second outline inset by 9 left and right, 5 top and bottom.
    EXPECT_EQ(Pixel(200 + 9, 150 + 30), ghostFrame);
    EXPECT_EQ(Pixel(200 + 40, 150 + 9), (kBack >> 1) & 0x7F7F7F);
    // single side: inset by 5 left and right, 9 top and bottom.
    EXPECT_EQ(Pixel(400 + 40, 150 + 9), ghostFrame);
    EXPECT_EQ(Pixel(400 + 9, 150 + 30), (kBack >> 1) & 0x7F7F7F);

    a->setElemResetFlag(1);
    GuiThing::mpScreen->Invalidate(a->mOuter);
    a->Draw();
    EXPECT_GT(CountColour(GuiRect(200, 150, 220, 180), 0xFFFFFF), 10);   // "R" black on white
    a->forceUpdate();
    GuiThing::mpScreen->Invalidate(a->mOuter);
    a->Draw();
    EXPECT_EQ(CountColour(GuiRect(200, 150, 220, 180), 0xFFFFFF), 0);
}

TEST_F(PictureView, VisibilityAddsAndRemovesThePictureOnItsPage) {
    display_elem_s e = Picture("cfg:/pics.bin", 37, uint32_t(png.size()), STYLE_NONE);
    e.picture.vis_mode = VIS_LIMIT;
    e.picture.vis_in = ChannelOf("gear", TE_SINT8);
    auto* v = new CPicture(page->mOuter, &e, nullptr, page, GST_FRAME_NONE);
    Connect(v, &e);
    Start();
    EXPECT_EQ(v->mpParent, nullptr);
    signalPage()->gear = 2;
    Tick();
    EXPECT_EQ(v->update(), 2);
    EXPECT_EQ(v->mpParent, page);
    EXPECT_EQ(v->update(), 0);
    signalPage()->gear = 0;
    Tick();
    EXPECT_EQ(v->update(), 2);
    EXPECT_EQ(v->mpParent, nullptr);
    EXPECT_EQ(Pixel(210, 160), kPageColour);
    delete v;
}

}  // namespace
