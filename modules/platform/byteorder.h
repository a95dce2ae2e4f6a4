// Big-endian access to byte buffers: everything on the device network (command
// headers, FIFO time stamps and values) and the fields of the measurement and
// configuration files are big-endian; memory is little-endian.
#pragma once

#include <cstdint>
#include <cstring>

inline void be_put16(void* p, uint16_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = uint8_t(v >> 8);
    b[1] = uint8_t(v);
}
inline void be_put32(void* p, uint32_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = uint8_t(v >> 24);
    b[1] = uint8_t(v >> 16);
    b[2] = uint8_t(v >> 8);
    b[3] = uint8_t(v);
}
inline uint16_t be_get16(const void* p) {
    auto* b = static_cast<const uint8_t*>(p);
    return uint16_t((b[0] << 8) | b[1]);
}
inline uint32_t be_get32(const void* p) {
    auto* b = static_cast<const uint8_t*>(p);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}
inline void be_putf(void* p, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    be_put32(p, v);
}
inline float be_getf(const void* p) {
    uint32_t v = be_get32(p);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}
