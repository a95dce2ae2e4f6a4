// What both halves of the codec share: the deflate format's code counts and
// fixed tables, and the header that tells a compressor's state from a
// decompressor's.
#pragma once

#include "gui/image/pzip.h"

#include <cstdint>

namespace pzip {

constexpr int kLengthCodes = 29;
constexpr int kDCodes = 30;
constexpr int kBlCodes = 19;
constexpr int kMaxBits = 15;  // longest literal/length or distance code

// Extra bits of the length and distance codes.
constexpr uint8_t kLengthExtraBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kDistExtraBits[kDCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which the code lengths of the code-length code are sent.
constexpr uint8_t kBlOrder[kBlCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// First member of both codec states, so that a stream handed to the wrong
// half of the codec is recognised before its state is interpreted.
struct StateHeader {
    PzipStream* strm;
    uint32_t kind;
};
constexpr uint32_t kDeflateKind = 0x44454631;  // "DEF1"
constexpr uint32_t kInflateKind = 0x494E4631;  // "INF1"

// Returns the state of strm when it is of the given kind, else null.
inline void* StateOfKind(PzipStream* strm, uint32_t kind) {
    if (strm == nullptr || strm->state == nullptr) return nullptr;
    auto* h = static_cast<StateHeader*>(strm->state);
    return h->strm == strm && h->kind == kind ? strm->state : nullptr;
}

}  // namespace pzip
