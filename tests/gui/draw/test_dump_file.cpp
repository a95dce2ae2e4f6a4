// Screen dump files, the boot logo, layer registers and the flush service.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gui/draw/scrndrv.h"
#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "platform/syslog_reader.h"
#include "log_capture.h"

namespace {

uint32_t* Fb() { return scrndrvFrameBuffer(); }

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// A dump image built by hand: counts, palette, runs, packed indexes.
std::vector<uint8_t> Image(const std::vector<uint32_t>& pal, const std::vector<std::pair<uint16_t, uint32_t>>& runs,
                           int bits, long dataBytes = -1)
{
    const size_t d = dataBytes >= 0 ? size_t(dataBytes) : (runs.size() * size_t(bits) + 7) / 8;
    std::vector<uint8_t> out(12 + 4 * pal.size() + 2 * runs.size() + d, 0);
    const uint32_t head[3] = {uint32_t(pal.size()), uint32_t(runs.size()), uint32_t(d)};
    std::memcpy(out.data(), head, 12);
    if (!pal.empty()) std::memcpy(out.data() + 12, pal.data(), 4 * pal.size());
    uint8_t* r = out.data() + 12 + 4 * pal.size();
    uint8_t* data = r + 2 * runs.size();
    for (size_t i = 0; i < runs.size(); ++i) {
        std::memcpy(r + 2 * i, &runs[i].first, 2);
        for (int b = 0; b < bits; ++b)
            if (runs[i].second >> b & 1) {
                size_t pos = i * size_t(bits) + size_t(b);
                if (pos / 8 < d) data[pos / 8] |= uint8_t(1 << (pos % 8));
            }
    }
    return out;
}

}  // namespace

class DumpFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/gui_dump_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        savedFolder = host::deviceFolder();
        host::setDeviceFolder(dir);
        if (syslogx_readerRunning()) syslogx_readerStop();
        scrndrvResetForTest();
        takeLogTexts();
        std::fill_n(Fb(), SCRNDRV_FB_WIDTH * SCRNDRV_FB_HEIGHT, 0u);
    }
    void TearDown() override {
        scrndrvResetForTest();
        host::screenStop();   // the frames flushed here are written to this folder first
        host::setDeviceFolder(savedFolder);
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    // Fills the visible area row by row with colour (x, y).
    template <class F>
    void FillVisible(F&& colour) {
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) Fb()[y * 1024 + x] = colour(x, y);
    }
    std::vector<uint32_t> Visible() const {
        std::vector<uint32_t> v;
        for (int y = 0; y < 480; ++y) v.insert(v.end(), Fb() + y * 1024, Fb() + y * 1024 + 640);
        return v;
    }

    std::string dir, savedFolder;
};

TEST_F(DumpFileTest, OneColourIsFiveRunsWithoutIndexBits)
{
    ASSERT_EQ(scrndrvSetColor(0x123456), 0);
    const std::string path = dir + "/one.dmp";
    ASSERT_EQ(scrndrvDumpImg(path.c_str()), 0);
    auto f = ReadAll(path);
    ASSERT_EQ(f.size(), 12u + 4 + 2 * 5);
    EXPECT_EQ(U32(f, 0), 1u);
    EXPECT_EQ(U32(f, 4), 5u);
    EXPECT_EQ(U32(f, 8), 0u);
    EXPECT_EQ(U32(f, 12), 0x123456u);
    const uint16_t want[5] = {65535, 65535, 65535, 65535, uint16_t(640 * 480 - 4 * 65535)};
    EXPECT_EQ(std::memcmp(f.data() + 16, want, sizeof want), 0);
}

TEST_F(DumpFileTest, DumpsRoundTripWithTwoAndThreeIndexBits)
{
    struct Case { int colours; uint32_t bits; };
    for (Case c : {Case{3, 2}, Case{4, 2}, Case{5, 3}}) {
        // Bands of 7 pixels that run across row ends.
        FillVisible([&](int x, int y) { return uint32_t(0x010101 * ((y * 640 + x) / 7 % c.colours)); });
        for (int x = 640; x < 1024; ++x) Fb()[x] = 0xEEEEEE;   // invisible: not part of a dump
        const std::vector<uint32_t> before = Visible();
        const std::string path = dir + "/round.dmp";
        ASSERT_EQ(scrndrvDumpImg(path.c_str()), 0);
        auto f = ReadAll(path);
        const uint32_t runs = (640 * 480 + 6) / 7;
        EXPECT_EQ(U32(f, 0), uint32_t(c.colours));
        EXPECT_EQ(U32(f, 4), runs);
        EXPECT_EQ(U32(f, 8), (runs * c.bits + 7) / 8);
        EXPECT_EQ(f.size(), 12 + 4 * size_t(c.colours) + 2 * size_t(runs) + (runs * c.bits + 7) / 8);
        // Colour indexes are packed from bit 0 up: runs 0, 1, 2 use 0, 1, 2.
        const uint8_t* data = f.data() + 12 + 4 * c.colours + 2 * runs;
        EXPECT_EQ(scrndrvGetColorIdx(0, c.bits, data), 0u);
        EXPECT_EQ(scrndrvGetColorIdx(c.bits, c.bits, data), 1u);
        EXPECT_EQ(scrndrvGetColorIdx(2 * c.bits, c.bits, data), 2u);

        std::fill_n(Fb(), 1024 * 480, 0x777777u);
        ASSERT_EQ(scrndrvLoadImg(path.c_str()), 0);
        EXPECT_EQ(Visible(), before) << c.colours << " colours";
        EXPECT_EQ(Fb()[700], 0x777777u);
    }
}

TEST_F(DumpFileTest, EveryPixelADifferentColourNeedsNineteenBitsPerRun)
{
    FillVisible([](int x, int y) { return uint32_t(y * 640 + x) * 37u & 0xFFFFFF; });
    const std::vector<uint32_t> before = Visible();
    const std::string path = dir + "/photo.dmp";
    ASSERT_EQ(scrndrvDumpImg(path.c_str()), 0);
    auto f = ReadAll(path);
    EXPECT_EQ(U32(f, 0), 640u * 480u);
    EXPECT_EQ(U32(f, 8), (640u * 480u * 19 + 7) / 8);
    std::fill_n(Fb(), 1024 * 480, 0u);
    ASSERT_EQ(scrndrvLoadImg(path.c_str()), 0);
    EXPECT_EQ(Visible(), before);
}

TEST_F(DumpFileTest, CorruptDumpsAreRefusedAndLeaveTheScreen)
{
    const std::vector<uint32_t> pal = {0xFF0000, 0x00FF00, 0x0000FF};
    const std::string path = dir + "/bad.dmp";
    auto good = Image(pal, {{60000, 0}, {60000, 1}, {60000, 2}}, 2);
    std::fill_n(Fb(), 1024 * 480, 0x777777u);

    std::vector<std::vector<uint8_t>> bad;
    bad.push_back(std::vector<uint8_t>(good.begin(), good.end() - 1));                 // truncated data
    bad.push_back(std::vector<uint8_t>(good.begin(), good.begin() + 8));               // no counts
    bad.push_back(Image(pal, {{60000, 0}, {60000, 1}, {60000, 2}}, 2, 0));              // no index data
    bad.push_back(Image(pal, {{60000, 0}, {60000, 3}}, 2));                            // index 3 of 3 colours
    bad.push_back(Image({}, {{60000, 0}}, 0));                                         // no palette
    auto huge = good;
    const uint32_t lots = 0x40000000;
    std::memcpy(huge.data() + 4, &lots, 4);                                            // run count beyond the file
    bad.push_back(huge);
    for (size_t i = 0; i < bad.size(); ++i) {
        std::fill_n(Fb(), 1024 * 480, 0x777777u);
        WriteAll(path, bad[i]);
        EXPECT_EQ(scrndrvLoadImg(path.c_str()), -1) << "case " << i;
        EXPECT_EQ(Fb()[0], 0x777777u) << "case " << i;
    }
    EXPECT_EQ(scrndrvLoadImg((dir + "/missing.dmp").c_str()), -1);
    EXPECT_GE(countContaining(takeLogTexts(), "scrndrvLoadImg(): Failed to read dump file"), 1);

    WriteAll(path, good);
    scrn_dump_t d{};
    ASSERT_EQ(scrndrvReadDump(path.c_str(), &d), 0);
    EXPECT_EQ(d.palCount, 3u);
    EXPECT_EQ(d.runs[2], 60000);
    EXPECT_EQ(scrndrvReadDump(path.c_str(), &d), 0);   // frees the old arrays
    scrndrvFreeDump(&d);
    EXPECT_EQ(scrndrvReadDump(path.c_str(), nullptr), -1);
    ASSERT_EQ(scrndrvLoadImg(path.c_str()), 0);
    EXPECT_EQ(Fb()[0], 0xFF0000u);
    EXPECT_EQ(Fb()[(60000 / 640) * 1024 + 60000 % 640], 0x00FF00u);
    // The runs end before the screen does: the rest stays.
    EXPECT_EQ(Fb()[479 * 1024 + 639], 0x777777u);
}

TEST_F(DumpFileTest, DumpImageInMemoryIsCheckedAgainstItsSize)
{
    auto img = Image({0x1, 0x2}, {{10, 1}}, 1);
    scrn_dump_t d{};
    EXPECT_EQ(scrndrvInitDumpByMem(&d, img.data(), img.data() + 11), 0);
    EXPECT_EQ(scrndrvInitDumpByMem(&d, img.data(), img.data() + img.size() - 1), 0);
    EXPECT_EQ(scrndrvInitDumpByMem(nullptr, img.data(), img.data() + img.size()), 0);
    EXPECT_EQ(scrndrvInitDumpByMem(&d, img.data() + 4, img.data()), 0);
    ASSERT_EQ(scrndrvInitDumpByMem(&d, img.data(), img.data() + img.size()), 1);
    EXPECT_EQ(d.palCount, 2u);
    EXPECT_EQ(d.runCount, 1u);
    EXPECT_EQ(d.runs[0], 10);
    EXPECT_EQ(scrndrvIndexBits(1), 0u);
    EXPECT_EQ(scrndrvIndexBits(2), 1u);
    EXPECT_EQ(scrndrvIndexBits(5), 3u);
    EXPECT_EQ(scrndrvIndexBits(256), 8u);
    EXPECT_EQ(scrndrvGetColorIdx(5, 0, nullptr), 0u);
}

TEST_F(DumpFileTest, BootLogoIsFetchedOnceDrawnAndShown)
{
    WriteAll(dir + "/bootlogo.bin", Image({0x000000, 0xABCDEF}, {{640, 0}, {1280, 1}}, 1));
    ASSERT_EQ(scrndrvInit(), 0);
    uint8_t* logo = nullptr;
    uint32_t size = 0;
    scrndrvGetBootLogo(&logo, &size);
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(size, 12u + 8 + 4 + 1);
    EXPECT_EQ(Fb()[0], 0u);
    EXPECT_EQ(Fb()[1 * 1024 + 5], 0xABCDEFu);
    EXPECT_EQ(Fb()[2 * 1024 + 639], 0xABCDEFu);
    EXPECT_EQ(scrndrvLayerRegister(1), 3u);
    EXPECT_EQ(countContaining(takeLogTexts(), "Loading screen dump: 2 pal, 2 run, 1 data, 1 bits"), 1);

    scrndrvResetForTest();
    std::remove((dir + "/bootlogo.bin").c_str());
    EXPECT_EQ(scrndrvInit(), -1);
    scrndrvGetBootLogo(&logo, nullptr);
    EXPECT_EQ(logo, nullptr);
    EXPECT_EQ(countContaining(takeLogTexts(), "scrndrvInit(): error getting boot logo size"), 1);
}

TEST_F(DumpFileTest, LayersAndTheFloodLimitOfBadLayers)
{
    scrndrvLayerEnable(4);
    EXPECT_EQ(scrndrvLayerRegister(4), 3u);
    scrndrvLayerDisable(4);
    EXPECT_EQ(scrndrvLayerRegister(4), 0u);
    takeLogTexts();
    for (int i = 0; i < 15; ++i) scrndrvLayerEnable(5);
    // Equal consecutive messages are folded by the log service: 13 reports
    // arrive as one message and its repeat count, then the one warning,
    // which names the message.
    auto log = takeLogTexts();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "scrndrvLayerEnable(): unexpected layer 5");
    EXPECT_EQ(countContaining(log, "repeated 12 times"), 1);
    EXPECT_EQ(log[2], "Flooding suspicion! Syslogx message \"scrndrvLayerEnable(): unexpected layer 5\" will be "
                      "suppressed in future");
}

TEST_F(DumpFileTest, FlushHandsTheVisibleFrameToTheScreenService)
{
    std::vector<uint32_t> got;
    int w = 0, h = 0;
    host::setScreenSink([&](const uint32_t* px, int width, int height, int stride) {
        w = width;
        h = height;
        got.assign(px, px + size_t(stride) * (height - 1) + width);
    });
    const uint64_t frames = host::screenFrameNumber();
    Fb()[479 * 1024 + 639] = 0x00C0FFEE;
    EXPECT_EQ(scrndrvFlush(), 0);
    EXPECT_EQ(scrndrvWaitFlush(), 0);
    host::setScreenSink(nullptr);
    EXPECT_EQ(host::screenFrameNumber(), frames + 1);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(got.back(), 0x00C0FFEEu);
}

// A dump is never written through a link: the file it leads to stays as it
// was, and the link too.
TEST_F(DumpFileTest, ADumpIsNotWrittenThroughALink)
{
    const std::string target = dir + "/theirs.txt", path = dir + "/linked.dmp";
    {
        std::FILE* f = std::fopen(target.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("not a dump\n", f);
        std::fclose(f);
    }
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    EXPECT_EQ(scrndrvDumpImg(path.c_str()), -1);
    auto f = ReadAll(target);
    EXPECT_EQ(std::string(f.begin(), f.end()), "not a dump\n");
    struct stat st;
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}
