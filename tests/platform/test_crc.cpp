// Checksums against bitwise reference implementations and the published
// check values over "123456789".
#include "platform/crc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

const char kCheck[] = "123456789";

uint16_t refMsb16(const uint8_t* p, size_t n, uint16_t crc, uint16_t poly) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint16_t>(p[i] << 8);
        for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ poly) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

template <class T>
T refLsb(const uint8_t* p, size_t n, T crc, T poly) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? static_cast<T>((crc >> 1) ^ poly) : static_cast<T>(crc >> 1);
    }
    return crc;
}

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    uint32_t x = 12345;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return v;
}

}  // namespace

TEST(Crc, PublishedCheckValues) {
    EXPECT_EQ(crc16_ccitt(kCheck, 9), 0x29B1);                       // CCITT-FALSE
    EXPECT_EQ(crc16_ibm_accu(kCheck, 9, 0), 0xBB3D);                 // ARC
    EXPECT_EQ(crc16_ccitt_lsb_accu(kCheck, 9, 0xFFFF), 0x6F91);      // MCRF4XX
    EXPECT_EQ(crc16_ccitt_lsb_accu(kCheck, 9, 0), 0x2189);           // KERMIT register
    EXPECT_EQ(~crc32_update(0xFFFFFFFFu, kCheck, 9), 0xCBF43926u);   // CRC-32
}

TEST(Crc, TablesMatchBitwiseReferenceOnAllLengths) {
    auto data = pattern(300);
    for (size_t n : {size_t(0), size_t(1), size_t(2), size_t(7), size_t(64), size_t(255), size_t(300)}) {
        const uint8_t* p = data.data();
        EXPECT_EQ(crc16_ccitt(p, n), refMsb16(p, n, 0xFFFF, 0x1021)) << n;
        EXPECT_EQ(crc16_ibm_accu(p, n, 0x1234), refLsb<uint16_t>(p, n, 0x1234, 0xA001)) << n;
        EXPECT_EQ(crc16_ccitt_lsb_accu(p, n, 0xFFFF), refLsb<uint16_t>(p, n, 0xFFFF, 0x8408)) << n;
        EXPECT_EQ(crc32_update(0xFFFFFFFFu, p, n), refLsb<uint32_t>(p, n, 0xFFFFFFFFu, 0xEDB88320u)) << n;
        EXPECT_EQ(crc32_bsd(p, n), refLsb<uint32_t>(p, n, 0, 0xEDB88320u)) << n;
    }
}

TEST(Crc, AccumulatingFunctionsContinueAcrossPieces) {
    // The measurement file header and the dataset check run the CRC over
    // separate ranges, continuing from the previous result.
    auto data = pattern(100);
    uint16_t whole = crc16_ccitt_lsb_accu(data.data(), 100, 0xFFFF);
    uint16_t part = crc16_ccitt_lsb_accu(data.data(), 37, 0xFFFF);
    EXPECT_EQ(crc16_ccitt_lsb_accu(data.data() + 37, 63, part), whole);
    uint16_t ibm = crc16_ibm_accu(data.data(), 50, 0);
    EXPECT_EQ(crc16_ibm_accu(data.data() + 50, 50, ibm), crc16_ibm_accu(data.data(), 100, 0));
    uint32_t c = crc32_update(0, data.data(), 10);
    EXPECT_EQ(crc32_update(c, data.data() + 10, 90), crc32_bsd(data.data(), 100));
}

TEST(Crc, EmptyOrNullInputKeepsStartValue) {
    EXPECT_EQ(crc16_ccitt(nullptr, 10), 0xFFFF);
    EXPECT_EQ(crc16_ibm_accu(nullptr, 10, 0xBEEF), 0xBEEF);
    EXPECT_EQ(crc16_ccitt_lsb_accu(kCheck, 0, 0x1234), 0x1234);
    EXPECT_EQ(crc32_bsd(nullptr, 5), 0u);
}
