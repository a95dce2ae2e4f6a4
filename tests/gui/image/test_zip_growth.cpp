// The compressor's self-growing output: GuiZip must finish whatever length
// the input has, including lengths where a block fills the buffer exactly.
#include "gui/image/gui_zip.h"
#include "gui/image/pzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

namespace {

// Noise-like bytes from a linear congruential generator: compresses only a
// little, so the output lengths come close to every buffer size.
std::vector<uint8_t> LcgBytes(uint32_t n) {
    std::vector<uint8_t> d(n);
    uint32_t x = 1;
    for (auto& b : d) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 23);
    }
    return d;
}

// GuiZip of the first n bytes inflates with zlib back to them; false with
// a message otherwise.
::testing::AssertionResult ZipsAndInflates(const std::vector<uint8_t>& data, uint32_t n) {
    uint8_t* out = nullptr;
    uint32_t len = 0;
    int ret = GuiZip(&out, &len, data.data(), n);
    if (ret != 0) return ::testing::AssertionFailure() << "GuiZip of " << n << " bytes gives " << ret;
    std::vector<uint8_t> back(n + 1);
    uLongf backLen = uLongf(back.size());
    int z = uncompress(back.data(), &backLen, out, len);
    delete[] out;
    if (z != Z_OK || backLen != n || !std::equal(data.begin(), data.begin() + n, back.begin()))
        return ::testing::AssertionFailure() << "zlib does not get the " << n << " bytes back (" << z << ")";
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(ZipGrowth, EveryLengthFinishes) {
    const auto data = LcgBytes(70000);
    EXPECT_TRUE(ZipsAndInflates(data, 1019));  // filled its buffer exactly once
    for (uint32_t n = 0; n <= 6000; n++) ASSERT_TRUE(ZipsAndInflates(data, n));
    for (uint32_t n = 6001; n <= 70000; n += 173) ASSERT_TRUE(ZipsAndInflates(data, n));
    // Around the reserve steps, where the buffer sizes double.
    for (uint32_t edge : {8192u, 16384u, 32768u, 65535u, 65536u})
        for (uint32_t n = edge - 40; n <= edge + 40; n++) ASSERT_TRUE(ZipsAndInflates(data, n));
}

TEST(ZipGrowth, StreamedWithCallerBufferAndEveryLevel) {
    // The caller starts with a small buffer of its own (from new[]) or none,
    // feeds uneven pieces (the first one empty); the compressor moves to
    // larger buffers as it goes.
    const auto data = LcgBytes(40000);
    for (int level = 0; level <= 9; level++) {
        SCOPED_TRACE(level);
        PzipStream s{};
        ASSERT_EQ(PzipDeflateInitDefault(&s, level), PZIP_OK);
        if (level % 2 == 0) {
            s.outputBuffer = new uint8_t[16];
            s.nextOut = s.outputBuffer;
            s.availOut = 16;
        }
        ASSERT_EQ(PzipDeflate(&s, PZIP_NO_FLUSH), PZIP_OK);
        EXPECT_EQ(s.totalOut, 2u);  // the stream header
        int ret = PZIP_OK;
        for (uint32_t pos = 0, step = 1; ret == PZIP_OK; step = step * 3 + 1) {
            uint32_t n = std::min<uint32_t>(step, uint32_t(data.size()) - pos);
            s.nextIn = data.data() + pos;
            s.availIn = n;
            pos += n;
            ret = PzipDeflate(&s, pos == data.size() ? PZIP_FINISH : PZIP_NO_FLUSH);
            ASSERT_EQ(s.availIn, 0u);
            if (pos < data.size()) {
                ASSERT_EQ(ret, PZIP_OK);
            }
        }
        ASSERT_EQ(ret, PZIP_STREAM_END);
        // A finished stream says so again, and refuses more input.
        s.availOut = 0;
        EXPECT_EQ(PzipDeflate(&s, PZIP_FINISH), PZIP_STREAM_END);
        s.nextIn = data.data();
        s.availIn = 1;
        EXPECT_EQ(PzipDeflate(&s, PZIP_NO_FLUSH), PZIP_STREAM_ERROR);
        EXPECT_EQ(PzipDeflate(&s, PZIP_FINISH), PZIP_BUF_ERROR);
        s.availIn = 0;
        EXPECT_EQ(s.totalIn, data.size());
        EXPECT_EQ(s.adler, adler32(1, data.data(), uInt(data.size())));
        std::vector<uint8_t> expect(compressBound(uLong(data.size())));
        uLongf len = uLongf(expect.size());
        compress2(expect.data(), &len, data.data(), uLong(data.size()), level);
        expect.resize(len);
        EXPECT_EQ(std::vector<uint8_t>(s.outputBuffer, s.outputBuffer + s.totalOut), expect);
        delete[] s.outputBuffer;
        EXPECT_EQ(PzipDeflateEnd(&s), PZIP_OK);
    }
}
