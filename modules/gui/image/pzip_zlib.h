// What both halves of the codec share: the record-to-zlib hand-over and the
// header that tells a compressor's state from a decompressor's.
//
// The codec keeps its own stream record (no allocator fields, 32-bit
// counters) and its own state behind it; the deflating and inflating are
// zlib's. Each call hands the record's buffers to the zlib stream inside the
// state and takes zlib's progress back into the record afterwards.
#pragma once

#include "gui/image/pzip.h"

#include <zlib.h>

#include <cstdint>

namespace pzip {

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

// Sets up z so that zlib takes its memory with the ordinary allocation
// operators, as the rest of the codec does.
void UseOwnAllocator(z_stream* z);

// After a zlib call whose output went to the record's nextOut: the output
// position and count, the data type and the message. The record counts in
// 32 bits of its own; zlib's counters are not used.
void FromZlibOutput(PzipStream* strm, const z_stream* z);

}  // namespace pzip
