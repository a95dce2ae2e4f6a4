#include "platform/crc.h"

#include <array>

namespace {

// Tables built at compile time from the polynomials.
constexpr std::array<uint16_t, 256> msbTable16(uint16_t poly) {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i << 8);
        for (int b = 0; b < 8; ++b)
            c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ poly : (c << 1));
        t[i] = c;
    }
    return t;
}

template <class T>
constexpr std::array<T, 256> lsbTable(T poly) {
    std::array<T, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        T c = static_cast<T>(i);
        for (int b = 0; b < 8; ++b) c = static_cast<T>((c & 1) ? (c >> 1) ^ poly : (c >> 1));
        t[i] = c;
    }
    return t;
}

constexpr auto kCcitt = msbTable16(0x1021);
constexpr auto kIbm = lsbTable<uint16_t>(0xA001);
constexpr auto kCcittLsb = lsbTable<uint16_t>(0x8408);
constexpr auto kCrc32 = lsbTable<uint32_t>(0xEDB88320u);

template <class T>
T lsbRun(const std::array<T, 256>& table, T crc, const void* data, size_t len) {
    const auto* p = static_cast<const uint8_t*>(data);
    if (!p) return crc;
    for (size_t i = 0; i < len; ++i) crc = static_cast<T>((crc >> 8) ^ table[(crc ^ p[i]) & 0xFF]);
    return crc;
}

}  // namespace

uint16_t crc16_ccitt(const void* data, size_t len) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint16_t crc = 0xFFFF;
    if (!p) return crc;
    for (size_t i = 0; i < len; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ kCcitt[((crc >> 8) ^ p[i]) & 0xFF]);
    return crc;
}

uint16_t crc16_ibm_accu(const void* data, size_t len, uint16_t start) {
    return lsbRun(kIbm, start, data, len);
}

uint16_t crc16_ccitt_lsb_accu(const void* data, size_t len, uint16_t start) {
    return lsbRun(kCcittLsb, start, data, len);
}

uint32_t crc32_update(uint32_t crc, const void* data, size_t len) {
    return lsbRun(kCrc32, crc, data, len);
}

uint32_t crc32_bsd(const void* data, size_t len) { return crc32_update(0, data, len); }
