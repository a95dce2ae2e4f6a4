// Table-driven checksums used by the configuration, logging and network code.
#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16, polynomial 0x1021 most significant bit first, start 0xFFFF, no
// final XOR ("123456789" gives 0x29B1).
uint16_t crc16_ccitt(const void* data, size_t len);

// Reflected CRC-16, polynomial 0xA001, continued from start (start 0 over
// "123456789" gives 0xBB3D).
uint16_t crc16_ibm_accu(const void* data, size_t len, uint16_t start);

// Reflected CRC-16, polynomial 0x8408 (0x1021 reflected), least significant
// bit first, continued from start, no final XOR (start 0xFFFF over
// "123456789" gives 0x6F91).
uint16_t crc16_ccitt_lsb_accu(const void* data, size_t len, uint16_t start);

// Reflected CRC-32 register update, polynomial 0xEDB88320, without the
// inversions at start and end (the caller applies them where wanted).
uint32_t crc32_update(uint32_t crc, const void* data, size_t len);

// Reflected CRC-32, polynomial 0xEDB88320, start 0, no final XOR.
uint32_t crc32_bsd(const void* data, size_t len);
