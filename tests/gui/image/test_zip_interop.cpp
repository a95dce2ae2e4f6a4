// The codec against zlib: streams made here inflate with zlib and are byte
// for byte what zlib makes; zlib's streams inflate here; checksums agree;
// chunked calls give what one call gives.
#include "gui/image/gui_zip.h"
#include "gui/image/pzip.h"
#include "gui/image/test_zip_corpus.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

using ziptest::Corpus;

namespace {

std::vector<uint8_t> PzipCompress(const std::vector<uint8_t>& in, int level, size_t chunk = 0) {
    PzipStream s{};
    EXPECT_EQ(PzipDeflateInit(&s, level, PZIP_DEFLATED, 15, 8, PZIP_DEFAULT_STRATEGY, PZIP_VERSION,
                              int(sizeof(PzipStream))),
              PZIP_OK);
    int ret = PZIP_OK;
    size_t pos = 0;
    if (chunk == 0) chunk = in.size() + 1;
    do {
        size_t n = std::min(chunk, in.size() - pos);
        s.nextIn = in.data() + pos;
        s.availIn = uint32_t(n);
        pos += n;
        ret = PzipDeflate(&s, pos == in.size() ? PZIP_FINISH : PZIP_NO_FLUSH);
        EXPECT_TRUE(ret == PZIP_OK || ret == PZIP_STREAM_END) << ret;
        EXPECT_EQ(s.availIn, 0u);
    } while (ret == PZIP_OK && ret != PZIP_STREAM_END);
    std::vector<uint8_t> out(s.outputBuffer, s.outputBuffer + s.totalOut);
    delete[] s.outputBuffer;
    EXPECT_EQ(PzipDeflateEnd(&s), PZIP_OK);
    return out;
}

std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& in, int level) {
    uLongf len = compressBound(uLong(in.size()));
    std::vector<uint8_t> out(len);
    EXPECT_EQ(compress2(out.data(), &len, in.data(), uLong(in.size()), level), Z_OK);
    out.resize(len);
    return out;
}

std::vector<uint8_t> ZlibUncompress(const std::vector<uint8_t>& in, size_t size) {
    std::vector<uint8_t> out(size + 1);
    uLongf len = uLongf(out.size());
    EXPECT_EQ(uncompress(out.data(), &len, in.data(), uLong(in.size())), Z_OK);
    out.resize(len);
    return out;
}

// Inflates with input and output handed over inStep and outStep bytes at a time.
std::vector<uint8_t> PzipInflateSteps(const std::vector<uint8_t>& in, size_t inStep, size_t outStep, int* result) {
    PzipStream s{};
    EXPECT_EQ(PzipInflateInitDefault(&s), PZIP_OK);
    std::vector<uint8_t> out;
    std::vector<uint8_t> buf(outStep);
    size_t pos = 0;
    int ret = PZIP_OK;
    for (int idle = 0; idle < 3 && ret == PZIP_OK;) {
        size_t n = std::min(inStep, in.size() - pos);
        s.nextIn = in.data() + pos;
        s.availIn = uint32_t(n);
        s.nextOut = buf.data();
        s.availOut = uint32_t(outStep);
        ret = PzipInflate(&s, PZIP_NO_FLUSH);
        pos += n - s.availIn;
        size_t got = outStep - s.availOut;
        out.insert(out.end(), buf.begin(), buf.begin() + long(got));
        if (ret == PZIP_BUF_ERROR) ret = PZIP_OK, idle++;
        else if (got || n - s.availIn) idle = 0;
    }
    *result = ret;
    PzipInflateEnd(&s);
    return out;
}

}  // namespace

TEST(ZipInterop, EveryLevelMatchesZlibBytesAndRoundTrips) {
    for (const auto& sample : Corpus()) {
        for (int level = 0; level <= 9; level++) {
            SCOPED_TRACE(sample.name + " level " + std::to_string(level));
            std::vector<uint8_t> ours = PzipCompress(sample.data, level);
            EXPECT_EQ(ZlibUncompress(ours, sample.data.size()), sample.data);
            EXPECT_TRUE(ours == ZlibCompress(sample.data, level)) << "output differs from zlib's";

            std::vector<uint8_t> theirs = ZlibCompress(sample.data, level);
            uint32_t len = 0;
            ASSERT_EQ(GuiUnzip(nullptr, &len, theirs.data(), uint32_t(theirs.size())), 0);
            ASSERT_EQ(len, sample.data.size());
            std::vector<uint8_t> back(len + 1);
            len = uint32_t(back.size());
            ASSERT_EQ(GuiUnzip(back.data(), &len, theirs.data(), uint32_t(theirs.size())), 0);
            back.resize(len);
            EXPECT_EQ(back, sample.data);
        }
    }
}

TEST(ZipInterop, GuiZipIsDefaultLevelOfZlib) {
    for (const auto& sample : Corpus()) {
        uint8_t* out = nullptr;
        uint32_t len = 0;
        ASSERT_EQ(GuiZip(&out, &len, sample.data.data(), uint32_t(sample.data.size())), 0);
        std::vector<uint8_t> ours(out, out + len);
        delete[] out;
        EXPECT_EQ(ours, ZlibCompress(sample.data, Z_DEFAULT_COMPRESSION)) << sample.name;
    }
}

TEST(ZipInterop, OtherParametersMatchZlib) {
    const auto& text = Corpus()[0].data;
    struct P { int level, wbits, mem, strategy; };
    for (P p : {P{6, 9, 1, 0}, P{9, 10, 9, 0}, P{1, 8, 2, 0}, P{6, 15, 8, 1}, P{6, 15, 8, 2}, P{4, 12, 5, 1}}) {
        SCOPED_TRACE(std::to_string(p.level) + "/" + std::to_string(p.wbits) + "/" + std::to_string(p.mem) + "/" +
                     std::to_string(p.strategy));
        PzipStream s{};
        ASSERT_EQ(PzipDeflateInit(&s, p.level, 8, p.wbits, p.mem, p.strategy, PZIP_VERSION, int(sizeof s)), 0);
        s.nextIn = text.data();
        s.availIn = uint32_t(text.size());
        ASSERT_EQ(PzipDeflate(&s, PZIP_FINISH), PZIP_STREAM_END);
        std::vector<uint8_t> ours(s.outputBuffer, s.outputBuffer + s.totalOut);
        EXPECT_EQ(s.adler, adler32(1, text.data(), uInt(text.size())));
        EXPECT_EQ(s.dataType, PZIP_TEXT);
        delete[] s.outputBuffer;
        PzipDeflateEnd(&s);

        z_stream z{};
        ASSERT_EQ(deflateInit2(&z, p.level, Z_DEFLATED, p.wbits, p.mem, p.strategy), Z_OK);
        std::vector<uint8_t> theirs(deflateBound(&z, uLong(text.size())));
        z.next_in = const_cast<Bytef*>(text.data());
        z.avail_in = uInt(text.size());
        z.next_out = theirs.data();
        z.avail_out = uInt(theirs.size());
        ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
        theirs.resize(z.total_out);
        deflateEnd(&z);
        EXPECT_TRUE(ours == theirs);
    }
}

TEST(ZipInterop, ChunkedCallsEqualOneCall) {
    for (const auto& sample : Corpus()) {
        if (sample.data.size() > 300000) continue;  // the 1 MiB sample takes long byte by byte
        for (int level : {0, 1, 6, 9}) {
            SCOPED_TRACE(sample.name + " level " + std::to_string(level));
            std::vector<uint8_t> whole = PzipCompress(sample.data, level);
            EXPECT_EQ(PzipCompress(sample.data, level, 7), whole);
            EXPECT_EQ(PzipCompress(sample.data, level, 65536), whole);
            for (auto [inStep, outStep] : {std::pair<size_t, size_t>{1, 1}, {3, 5}, {1000, 1}, {5, 70000}}) {
                int ret = 0;
                EXPECT_EQ(PzipInflateSteps(whole, inStep, outStep, &ret), sample.data);
                EXPECT_EQ(ret, PZIP_STREAM_END);
            }
        }
    }
}

TEST(ZipInterop, ChecksumsEqualZlibs) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(PzipCrc32(0, abc, 3), 0x352441C2u);
    EXPECT_EQ(PzipAdler32(1, abc, 3), 0x024D0127u);
    EXPECT_EQ(PzipCrc32(0, nullptr, 0), 0u);
    EXPECT_EQ(PzipAdler32(0, nullptr, 0), 1u);
    for (const auto& sample : Corpus()) {
        const uint8_t* p = sample.data.data();
        uint32_t n = uint32_t(sample.data.size());
        EXPECT_EQ(PzipCrc32(0, p, n), crc32(0, p, n)) << sample.name;
        EXPECT_EQ(PzipAdler32(1, p, n), adler32(1, p, n)) << sample.name;
        // Continued over uneven pieces (the unrolled paths and their tails).
        uint32_t c = 0, a = 1;
        for (uint32_t pos = 0, step = 1; pos < n; pos += step, step = step * 2 + 1) {
            uint32_t k = std::min(step, n - pos);
            c = PzipCrc32(c, p + pos, k);
            a = PzipAdler32(a, p + pos, k);
        }
        EXPECT_EQ(c, crc32(0, p, n));
        EXPECT_EQ(a, adler32(1, p, n));
    }
    std::vector<uint8_t> ff(100000, 0xFF);  // largest sums before the modulus
    EXPECT_EQ(PzipAdler32(0xFFF0FFF0u, ff.data(), uint32_t(ff.size())),
              adler32(0xFFF0FFF0u, ff.data(), uInt(ff.size())));
}
