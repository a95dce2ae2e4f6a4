// Protocol constants of XCP (ASAM XCP 1.x) as this slave uses them: packet
// identifiers, command codes, error codes and the sizes of its packets.
#pragma once

#include <cstdint>

constexpr unsigned XCP_MAX_CTO = 255;
constexpr unsigned XCP_MAX_DTO = 255;
constexpr unsigned XCP_FRAME_HEADER = 4;   // u16 LEN, u16 CTR, little-endian

// Packet identifiers of slave-to-master CTOs.
constexpr uint8_t XCP_PID_RES = 0xFF;
constexpr uint8_t XCP_PID_ERR = 0xFE;
constexpr uint8_t XCP_PID_EV = 0xFD;

constexpr uint8_t XCP_EV_SESSION_TERMINATED = 0x07;

// Command codes.
enum XcpCommand : uint8_t {
    CC_CONNECT = 0xFF,
    CC_DISCONNECT = 0xFE,
    CC_GET_STATUS = 0xFD,
    CC_SYNCH = 0xFC,
    CC_GET_COMM_MODE_INFO = 0xFB,
    CC_GET_ID = 0xFA,
    CC_SET_REQUEST = 0xF9,
    CC_GET_SEED = 0xF8,
    CC_UNLOCK = 0xF7,
    CC_SET_MTA = 0xF6,
    CC_UPLOAD = 0xF5,
    CC_SHORT_UPLOAD = 0xF4,
    CC_BUILD_CHECKSUM = 0xF3,
    CC_TRANSPORT_LAYER_CMD = 0xF2,
    CC_USER_CMD = 0xF1,
    CC_DOWNLOAD = 0xF0,
    CC_DOWNLOAD_NEXT = 0xEF,
    CC_DOWNLOAD_MAX = 0xEE,
    CC_SHORT_DOWNLOAD = 0xED,
    CC_MODIFY_BITS = 0xEC,
    CC_SET_CAL_PAGE = 0xEB,
    CC_GET_CAL_PAGE = 0xEA,
    CC_GET_PAG_PROCESSOR_INFO = 0xE9,
    CC_GET_SEGMENT_INFO = 0xE8,
    CC_GET_PAGE_INFO = 0xE7,
    CC_SET_SEGMENT_MODE = 0xE6,
    CC_GET_SEGMENT_MODE = 0xE5,
    CC_COPY_CAL_PAGE = 0xE4,
    CC_CLEAR_DAQ_LIST = 0xE3,
    CC_SET_DAQ_PTR = 0xE2,
    CC_WRITE_DAQ = 0xE1,
    CC_SET_DAQ_LIST_MODE = 0xE0,
    CC_GET_DAQ_LIST_MODE = 0xDF,
    CC_START_STOP_DAQ_LIST = 0xDE,
    CC_START_STOP_SYNCH = 0xDD,
    CC_GET_DAQ_CLOCK = 0xDC,
    CC_READ_DAQ = 0xDB,
    CC_GET_DAQ_PROCESSOR_INFO = 0xDA,
    CC_GET_DAQ_RESOLUTION_INFO = 0xD9,
    CC_GET_DAQ_LIST_INFO = 0xD8,
    CC_GET_DAQ_EVENT_INFO = 0xD7,
    CC_FREE_DAQ = 0xD6,
    CC_ALLOC_DAQ = 0xD5,
    CC_ALLOC_ODT = 0xD4,
    CC_ALLOC_ODT_ENTRY = 0xD3,
};

// Error codes of an error packet {0xFE, code}.
enum XcpError : uint8_t {
    ERR_CMD_SYNCH = 0x00,
    ERR_CMD_BUSY = 0x10,
    ERR_DAQ_ACTIVE = 0x11,
    ERR_PGM_ACTIVE = 0x12,
    ERR_CMD_UNKNOWN = 0x20,
    ERR_CMD_SYNTAX = 0x21,
    ERR_OUT_OF_RANGE = 0x22,
    ERR_WRITE_PROTECTED = 0x23,
    ERR_ACCESS_DENIED = 0x24,
    ERR_ACCESS_LOCKED = 0x25,
    ERR_PAGE_NOT_VALID = 0x26,
    ERR_MODE_NOT_VALID = 0x27,
    ERR_SEGMENT_NOT_VALID = 0x28,
    ERR_SEQUENCE = 0x29,
    ERR_DAQ_CONFIG = 0x2A,
    ERR_MEMORY_OVERFLOW = 0x30,
    ERR_GENERIC = 0x31,
    ERR_VERIFY = 0x32,
};

// Standard names for log lines: "CONNECT", "OUT_OF_RANGE", ...; "OK" for error
// code 0xFF, "UNKNOWN" for codes without a name.
const char* xcpCommandCodeToString(uint8_t code);
const char* xcpErrorCodeToString(uint8_t code);

inline void le_put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void le_put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline uint16_t le_get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t le_get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
