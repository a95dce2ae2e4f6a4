// Damaged streams, bad parameters and the one-call wrappers' edge cases:
// results and error texts as zlib gives them, never a crash.
#include "gui/image/gui_zip.h"
#include "gui/image/pzip.h"
#include "gui/image/test_zip_corpus.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> Compress(const std::vector<uint8_t>& in, int level) {
    uLongf len = compressBound(uLong(in.size()));
    std::vector<uint8_t> out(len);
    compress2(out.data(), &len, in.data(), uLong(in.size()), level);
    out.resize(len);
    return out;
}

struct Outcome {
    int ret;
    std::string msg;
    std::vector<uint8_t> out;
};

Outcome Ours(const std::vector<uint8_t>& in, size_t room) {
    PzipStream s{};
    PzipInflateInitDefault(&s);
    std::vector<uint8_t> out(room);
    s.nextIn = in.data();
    s.availIn = uint32_t(in.size());
    s.nextOut = out.data();
    s.availOut = uint32_t(room);
    int ret = PzipInflate(&s, PZIP_FINISH);
    out.resize(s.totalOut);
    Outcome o{ret, s.msg ? s.msg : "", out};
    PzipInflateEnd(&s);
    return o;
}

Outcome Zlib(const std::vector<uint8_t>& in, size_t room) {
    z_stream z{};
    inflateInit(&z);
    std::vector<uint8_t> out(room);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(room);
    int ret = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    Outcome o{ret, z.msg ? z.msg : "", out};
    inflateEnd(&z);
    return o;
}

void ExpectSameAsZlib(const std::vector<uint8_t>& in, size_t room) {
    Outcome a = Ours(in, room);
    Outcome b = Zlib(in, room);
    ASSERT_EQ(a.ret, b.ret) << "zlib says: " << b.msg << ", we say: " << a.msg;
    EXPECT_EQ(a.msg, b.msg);
    if (a.ret == Z_STREAM_END) {
        EXPECT_EQ(a.out, b.out);
    }
}

}  // namespace

TEST(ZipErrors, HandMadeDamageGivesZlibCodeAndText) {
    std::vector<uint8_t> good = Compress(ziptest::TextSample(5000, 1), 6);
    struct Case { const char* what; std::vector<uint8_t> data; };
    std::vector<Case> cases;
    auto patched = [&](size_t at, uint8_t v) { auto d = good; d[at] = v; return d; };
    cases.push_back({"header check", patched(1, uint8_t(good[1] + 1))});
    cases.push_back({"method", {0x79, 0x9C - 0x1D + 0x1D}});  // CM 9
    cases.push_back({"window size", {0x88, 0x1C}});         // CINFO 8 (64 KiB)
    cases.push_back({"preset dictionary", {0x78, 0xBB, 0, 0, 0, 1, 3, 0}});
    cases.push_back({"block type 3", {0x78, 0x9C, 0x07}});
    cases.push_back({"stored lengths", {0x78, 0x01, 0x01, 0x05, 0x00, 0x00, 0x00}});
    cases.push_back({"data check", patched(good.size() - 1, uint8_t(good.back() ^ 1))});
    cases.push_back({"truncated", std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2))});
    cases.push_back({"only header", {0x78, 0x9C}});
    cases.push_back({"empty", {}});
    // Fixed block: literal 'a', then a match of distance 2 with only one byte written.
    cases.push_back({"too far back", {0x78, 0x9C, 0x4B, 0x04, 0x02, 0x00}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectSameAsZlib(c.data, 100000);
    }
}

TEST(ZipErrors, RandomDamageBehavesLikeZlib) {
    std::mt19937 rng(42);
    const auto& corpus = ziptest::Corpus();
    for (int round = 0; round < 3000; round++) {
        const auto& sample = corpus[size_t(round) % 4];
        std::vector<uint8_t> data(sample.data.begin(), sample.data.begin() + long(std::min<size_t>(sample.data.size(), 3000)));
        std::vector<uint8_t> z = Compress(data, int(rng() % 10));
        int flips = 1 + int(rng() % 3);
        for (int i = 0; i < flips; i++) z[rng() % z.size()] ^= uint8_t(1u << (rng() % 8));
        if (rng() % 4 == 0) z.resize(rng() % z.size());
        SCOPED_TRACE(round);
        ExpectSameAsZlib(z, data.size() + 100);
        ExpectSameAsZlib(z, data.size() / 2);
        if (HasFatalFailure()) return;
    }
}

TEST(ZipErrors, RandomBytesNeverCrash) {
    std::mt19937 rng(9);
    for (int round = 0; round < 2000; round++) {
        std::vector<uint8_t> junk(rng() % 400);
        for (auto& b : junk) b = uint8_t(rng());
        if (junk.size() >= 2) {  // a valid header, so the block decoders see the junk
            junk[0] = 0x78;
            junk[1] = 0x9C;
        }
        ExpectSameAsZlib(junk, 5000);
        uint32_t len = 0;
        EXPECT_NE(GuiUnzip(nullptr, &len, junk.data(), uint32_t(junk.size())), 1);
    }
}

TEST(ZipErrors, ParametersAndRecordSize) {
    PzipStream s{};
    EXPECT_EQ(PzipDeflateInit(&s, 6, 8, 15, 8, 0, PZIP_VERSION, 44), PZIP_VERSION_ERROR);
    EXPECT_EQ(PzipInflateInit(&s, 15, PZIP_VERSION, 44), PZIP_VERSION_ERROR);
    EXPECT_EQ(PzipDeflateInit(nullptr, 6, 8, 15, 8, 0, PZIP_VERSION, int(sizeof s)), PZIP_STREAM_ERROR);
    EXPECT_EQ(PzipInflateInit(nullptr, 15, PZIP_VERSION, int(sizeof s)), PZIP_STREAM_ERROR);
    struct P { int level, method, wbits, mem, strategy; };
    for (P p : {P{10, 8, 15, 8, 0}, P{-2, 8, 15, 8, 0}, P{6, 7, 15, 8, 0}, P{6, 8, 7, 8, 0}, P{6, 8, 16, 8, 0},
                P{6, 8, 15, 0, 0}, P{6, 8, 15, 10, 0}, P{6, 8, 15, 8, 3}}) {
        EXPECT_EQ(PzipDeflateInit(&s, p.level, p.method, p.wbits, p.mem, p.strategy, PZIP_VERSION, int(sizeof s)),
                  PZIP_STREAM_ERROR);
    }
    EXPECT_EQ(PzipInflateInit(&s, 16, PZIP_VERSION, int(sizeof s)), PZIP_STREAM_ERROR);
    EXPECT_EQ(PzipDeflateInit(&s, -1, 8, 15, 8, 0, PZIP_VERSION, int(sizeof s)), PZIP_OK);
    EXPECT_EQ(PzipInflate(&s, 0), PZIP_STREAM_ERROR);  // a compressor is no decompressor
    EXPECT_EQ(PzipDeflateEnd(&s), PZIP_OK);
    EXPECT_EQ(PzipDeflate(&s, 0), PZIP_STREAM_ERROR);  // ended
    EXPECT_EQ(PzipInflateEnd(&s), PZIP_STREAM_ERROR);
}

TEST(ZipErrors, InflateWindowSmallerThanStream) {
    // A decompressor set up for a 512-byte window refuses a 32 KiB stream.
    auto z = Compress(ziptest::TextSample(1000, 2), 6);
    PzipStream s{};
    ASSERT_EQ(PzipInflateInit(&s, 9, PZIP_VERSION, int(sizeof s)), PZIP_OK);
    std::vector<uint8_t> out(2000);
    s.nextIn = z.data();
    s.availIn = uint32_t(z.size());
    s.nextOut = out.data();
    s.availOut = uint32_t(out.size());
    EXPECT_EQ(PzipInflate(&s, PZIP_FINISH), PZIP_DATA_ERROR);
    EXPECT_STREQ(s.msg, "invalid window size");
    // After a reset the same stream is taken again from the start.
    ASSERT_EQ(PzipInflateReset(&s), PZIP_OK);
    EXPECT_EQ(s.totalIn, 0u);
    PzipInflateEnd(&s);
}

TEST(ZipWrappers, EdgeCases) {
    uint8_t* out = nullptr;
    uint32_t len = 0;
    ASSERT_EQ(GuiZip(&out, &len, nullptr, 0), 0);
    const uint8_t emptyStream[] = {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
    ASSERT_EQ(len, 8u);
    EXPECT_EQ(std::memcmp(out, emptyStream, 8), 0);
    delete[] out;

    std::vector<uint8_t> data = ziptest::TextSample(20000, 5);
    ASSERT_EQ(GuiZip(&out, &len, data.data(), uint32_t(data.size())), 0);
    std::vector<uint8_t> packed(out, out + len);
    delete[] out;

    uint32_t size = 0;
    EXPECT_EQ(GuiUnzip(nullptr, &size, packed.data(), uint32_t(packed.size())), 0);
    EXPECT_EQ(size, 20000u);

    std::vector<uint8_t> buf(20000);
    size = 19999;
    EXPECT_EQ(GuiUnzip(buf.data(), &size, packed.data(), uint32_t(packed.size())), PZIP_BUF_ERROR);
    EXPECT_EQ(size, 19999u);
    size = 20000;
    EXPECT_EQ(GuiUnzip(buf.data(), &size, packed.data(), uint32_t(packed.size())), 0);
    EXPECT_EQ(buf, data);

    size = 0;
    EXPECT_EQ(GuiUnzip(nullptr, &size, packed.data(), uint32_t(packed.size() - 3)), PZIP_BUF_ERROR);
    packed[packed.size() / 2] ^= 0x10;
    EXPECT_EQ(GuiUnzip(nullptr, &size, packed.data(), uint32_t(packed.size())), PZIP_DATA_ERROR);
}
