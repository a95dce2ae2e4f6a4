// Hand-over between the codec's stream record and zlib's.
#include "gui/image/pzip_zlib.h"

#include <cstddef>
#include <new>

namespace pzip {

namespace {

voidpf Allocate(voidpf, uInt items, uInt size) {
    return new (std::nothrow) uint8_t[size_t(items) * size_t(size)];
}

void Release(voidpf, voidpf address) { delete[] static_cast<uint8_t*>(address); }

}  // namespace

void UseOwnAllocator(z_stream* z) {
    z->zalloc = Allocate;
    z->zfree = Release;
    z->opaque = nullptr;
}

void FromZlibOutput(PzipStream* strm, const z_stream* z) {
    if (strm->nextOut != nullptr) strm->totalOut += uint32_t(z->next_out - strm->nextOut);
    strm->nextOut = z->next_out;
    strm->availOut = z->avail_out;
    strm->msg = z->msg;
    strm->dataType = uint32_t(z->data_type);
}

}  // namespace pzip
