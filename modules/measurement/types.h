// Data types and measurement addresses shared by every consumer of measured
// values.
#pragma once

#include <cstdint>

// Data type of a channel as the XML configurations name it; 0 = no channel.
enum TypeEnum_t : uint16_t {
    TE_NONE = 0,
    TE_UINT8 = 1,
    TE_SINT8 = 2,
    TE_UINT16 = 3,
    TE_SINT16 = 4,
    TE_UINT32 = 5,
    TE_SINT32 = 6,
    TE_FLOAT = 7,
    TE_BOOL = 8,
};

// Element type codes of the values in a FIFO slot of a measurement list.
enum GwElemType : uint8_t {
    GW_INT8 = 0,
    GW_UINT8 = 1,
    GW_INT16 = 2,
    GW_UINT16 = 3,
    GW_INT32 = 4,
    GW_UINT32 = 5,
    GW_FLOAT32 = 6,
    GW_BOOL8 = 7,
    GW_TYPE_INVALID = 255,
};

// Size in bytes of a value of the type (0 for TYPE_NONE and unknown codes).
inline unsigned typeSize(TypeEnum_t t) {
    switch (t) {
    case TE_UINT8: case TE_SINT8: case TE_BOOL: return 1;
    case TE_UINT16: case TE_SINT16: return 2;
    case TE_UINT32: case TE_SINT32: case TE_FLOAT: return 4;
    default: return 0;
    }
}

// 32-bit measurement address: PID in bits 24..31 (0 = this device), class in
// bits 18..23, virtual channel in bits 8..17, subchannel in bits 0..7. Outside
// the special classes bits 0..23 are an offset into the calibration memory.
using measaddr_t = uint32_t;

constexpr unsigned MEASADDR_CLASS_XCPMR = 28;
constexpr unsigned MEASADDR_CLASS_CCPMR = 29;
constexpr unsigned MEASADDR_CLASS_AWM = 31;
constexpr uint32_t MEASADDR_CALMEM_LIMIT = 0x800000;

inline unsigned MEASADDR_PID(measaddr_t a) { return a >> 24; }
inline unsigned MEASADDR_CLASS(measaddr_t a) { return (a >> 18) & 0x3F; }
inline unsigned VC_NUM(measaddr_t a) { return (a >> 8) & 0x3FF; }
inline unsigned SC_NUM(measaddr_t a) { return a & 0xFF; }
inline uint32_t MEASADDR_OFFSET(measaddr_t a) { return a & 0xFFFFFF; }
