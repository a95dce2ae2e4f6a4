// Decompressor: zlib's inflate behind the codec's entry points. Results and
// error texts are zlib's.
#include "gui/image/pzip.h"
#include "gui/image/pzip_zlib.h"

#include <new>

using namespace pzip;

namespace {

struct InflateState {
    StateHeader header;
    z_stream z;
};

InflateState* StateOf(PzipStream* strm) {
    return static_cast<InflateState*>(StateOfKind(strm, kInflateKind));
}

}  // namespace

int PzipInflateInit(PzipStream* strm, int windowBits, const char* version, int recordSize) {
    if (version == nullptr || recordSize != int(sizeof(PzipStream))) return PZIP_VERSION_ERROR;
    if (strm == nullptr) return PZIP_STREAM_ERROR;
    strm->msg = nullptr;
    strm->state = nullptr;
    // Only zlib-wrapped streams: zlib's raw and gzip forms are not offered.
    if (windowBits < 8 || windowBits > 15) return PZIP_STREAM_ERROR;
    auto* st = new (std::nothrow) InflateState{};
    if (st == nullptr) return PZIP_MEM_ERROR;
    st->header = {strm, kInflateKind};
    UseOwnAllocator(&st->z);
    int ret = inflateInit2(&st->z, windowBits);
    if (ret != Z_OK) {
        strm->msg = st->z.msg;
        delete st;
        return ret;
    }
    strm->state = st;
    return PzipInflateReset(strm);
}

int PzipInflateReset(PzipStream* strm) {
    InflateState* st = StateOf(strm);
    if (st == nullptr) return PZIP_STREAM_ERROR;
    int ret = inflateReset(&st->z);
    if (ret != Z_OK) return ret;
    strm->totalIn = strm->totalOut = 0;
    strm->msg = nullptr;
    strm->adler = uint32_t(st->z.adler);
    return PZIP_OK;
}

int PzipInflateEnd(PzipStream* strm) {
    InflateState* st = StateOf(strm);
    if (st == nullptr) return PZIP_STREAM_ERROR;
    int ret = inflateEnd(&st->z);
    delete st;
    strm->state = nullptr;
    return ret;
}

int PzipInflate(PzipStream* strm, int flush) {
    InflateState* st = StateOf(strm);
    if (st == nullptr) return PZIP_STREAM_ERROR;
    z_stream& z = st->z;
    z.next_in = const_cast<Bytef*>(strm->nextIn);
    z.avail_in = strm->availIn;
    z.next_out = strm->nextOut;
    z.avail_out = strm->availOut;
    int ret = inflate(&z, flush);
    if (strm->nextIn != nullptr) strm->totalIn += uint32_t(z.next_in - strm->nextIn);
    strm->nextIn = z.next_in;
    strm->availIn = z.avail_in;
    FromZlibOutput(strm, &z);
    strm->adler = uint32_t(z.adler);
    return ret;
}
