// Compressor: zlib's deflate behind the codec's entry points, with an output
// buffer that grows by itself so that a caller may start without one.
#include "gui/image/pzip.h"
#include "gui/image/pzip_zlib.h"

#include <cstring>
#include <new>

using namespace pzip;

// Longest stored block of the deflate format.
constexpr uint32_t kMaxStored = 65535;

struct DeflateInternalState {
    StateHeader header;
    z_stream z;
    bool started;   // zlib has had a call (and written the stream header)
    bool finished;  // the stream end has been reported
    // Level 0 collects whole stored blocks here (see CompressStored).
    uint8_t* storedBuf;
    uint32_t storedLen;
};

namespace {

DeflateInternalState* StateOf(PzipStream* strm) {
    return static_cast<DeflateInternalState*>(StateOfKind(strm, kDeflateKind));
}

// The reserve added when the output buffer grows: 1024 bytes, doubled for
// every bit of the output so far above bit 9, so the number of moves grows
// with the logarithm of the output.
uint32_t GrowthReserve(uint32_t totalOut) {
    uint32_t reserve = 1024;
    for (uint32_t t = totalOut >> 10; t != 0; t >>= 1) reserve <<= 1;
    return reserve;
}

// Moves the output into a larger codec-owned buffer with room for the
// pending bytes plus the reserve. Returns false when no larger buffer could
// be had; the output then stays as it is and only what fits is written.
bool GrowOutput(PzipStream* strm, uint32_t pending) {
    uint32_t written = 0;
    if (strm->outputBuffer != nullptr && strm->nextOut != nullptr && strm->nextOut >= strm->outputBuffer)
        written = uint32_t(strm->nextOut - strm->outputBuffer);
    uint64_t size = uint64_t(written) + pending + GrowthReserve(strm->totalOut);
    if (size > 0xFFFFFFFFull) return false;
    auto* fresh = new (std::nothrow) uint8_t[size];
    if (fresh == nullptr) return false;
    if (written) std::memcpy(fresh, strm->outputBuffer, written);
    delete[] strm->outputBuffer;
    strm->outputBuffer = fresh;
    strm->nextOut = fresh + written;
    strm->availOut = uint32_t(size - written);
    return true;
}

uint32_t PendingBytes(DeflateInternalState* s) {
    unsigned pending = 0;
    int bits = 0;
    if (deflatePending(&s->z, &pending, &bits) != Z_OK) return 0;
    return pending + (bits != 0 ? 1 : 0);
}

void FreeState(PzipStream* strm) {
    auto* s = static_cast<DeflateInternalState*>(strm->state);
    delete[] s->storedBuf;
    delete s;
    strm->state = nullptr;
}

// Runs zlib's deflate on in/n into the record's output until zlib wants more
// input or has finished, growing the output whenever it is full and output
// still waits. With `room`, the output is first grown to at least that many
// free bytes besides what zlib holds back. in/n are advanced by what zlib
// took; the record's input side is the caller's business.
int Compress(PzipStream* strm, DeflateInternalState* s, int flush, const uint8_t*& in, uint32_t& n,
             uint32_t room) {
    int ret = PZIP_OK;
    bool called = false;
    for (;;) {
        uint32_t pending = PendingBytes(s);
        bool waits = !s->started || pending != 0 || n != 0 || (flush == PZIP_FINISH && !s->finished);
        // zlib takes no call without room for output.
        if (waits && (strm->availOut == 0 || strm->availOut < pending + room) &&
            !GrowOutput(strm, pending + room) && called)
            return ret;
        s->z.next_in = const_cast<Bytef*>(in);
        s->z.avail_in = n;
        s->z.next_out = strm->nextOut;
        s->z.avail_out = strm->availOut;
        ret = deflate(&s->z, flush);
        if (ret == Z_OK || ret == Z_STREAM_END) s->started = true;
        in = s->z.next_in;
        n = s->z.avail_in;
        FromZlibOutput(strm, &s->z);
        called = true;
        if (ret == Z_STREAM_END) s->finished = true;
        if (ret != Z_OK || strm->availOut != 0) return ret;
        if (PendingBytes(s) == 0 && n == 0 && !(flush == PZIP_FINISH && !s->finished)) return ret;
    }
}

// Takes up to len bytes of the record's input into buf.
uint32_t TakeInput(PzipStream* strm, uint8_t* buf, uint32_t len) {
    if (len > strm->availIn) len = strm->availIn;
    if (len == 0) return 0;
    std::memcpy(buf, strm->nextIn, len);
    strm->adler = PzipAdler32(strm->adler, buf, len);
    strm->nextIn += len;
    strm->availIn -= len;
    strm->totalIn += len;
    return len;
}

// Level 0. zlib cuts stored blocks by the output space and the input pieces
// at hand, so its blocks would depend on how the caller feeds the stream.
// Here every block but the last holds 65535 bytes whatever the pieces: the
// input is collected into whole blocks, a full block is held back until
// more input shows it is not the last, and each block goes to zlib in one
// call with room for all of it, as zlib does in one call over all the data.
int CompressStored(PzipStream* strm, DeflateInternalState* s, int flush) {
    const uint32_t blockRoom = kMaxStored + 16;  // block header, zlib header, trailer
    if (!s->started) {
        // The stream header comes out on the first call, as at other levels.
        const uint8_t* none = nullptr;
        uint32_t n = 0;
        int ret = Compress(strm, s, PZIP_NO_FLUSH, none, n, 0);
        if (ret != PZIP_OK) return ret;
    }
    for (;;) {
        if (s->storedLen == kMaxStored && strm->availIn != 0) {
            const uint8_t* in = s->storedBuf;
            uint32_t n = s->storedLen;
            int ret = Compress(strm, s, PZIP_NO_FLUSH, in, n, blockRoom);
            if (ret != PZIP_OK || n != 0) return ret;
            s->storedLen = 0;
        }
        if (strm->availIn == 0) break;
        s->storedLen += TakeInput(strm, s->storedBuf + s->storedLen, kMaxStored - s->storedLen);
    }
    if (flush != PZIP_FINISH) return PZIP_OK;
    const uint8_t* in = s->storedBuf;
    uint32_t n = s->storedLen;
    uint32_t adler = strm->adler;
    int ret = Compress(strm, s, PZIP_FINISH, in, n, blockRoom);
    strm->adler = adler;  // counted when taken
    if (n == 0) s->storedLen = 0;
    return ret;
}

}  // namespace

int PzipDeflateReset(PzipStream* strm) {
    DeflateInternalState* s = StateOf(strm);
    if (s == nullptr) return PZIP_STREAM_ERROR;
    int ret = deflateReset(&s->z);
    if (ret != Z_OK) return ret;
    s->started = false;
    s->finished = false;
    s->storedLen = 0;
    strm->totalIn = strm->totalOut = 0;
    strm->msg = nullptr;
    strm->dataType = PZIP_UNKNOWN;
    strm->adler = uint32_t(s->z.adler);
    return PZIP_OK;
}

int PzipDeflateInit(PzipStream* strm, int level, int method, int windowBits, int memLevel, int strategy,
                    const char* version, int recordSize) {
    if (version == nullptr || recordSize != int(sizeof(PzipStream))) return PZIP_VERSION_ERROR;
    if (strm == nullptr) return PZIP_STREAM_ERROR;
    strm->msg = nullptr;
    strm->state = nullptr;
    if (level == PZIP_DEFAULT_COMPRESSION) level = 6;
    // zlib knows more strategies and window forms than the codec offers.
    if (memLevel < 1 || memLevel > 9 || method != PZIP_DEFLATED || windowBits < 8 || windowBits > 15 ||
        level < 0 || level > 9 || strategy < 0 || strategy > PZIP_HUFFMAN_ONLY)
        return PZIP_STREAM_ERROR;

    auto* s = new (std::nothrow) DeflateInternalState{};
    if (s == nullptr) return PZIP_MEM_ERROR;
    s->header = {strm, kDeflateKind};
    if (level == 0) {
        s->storedBuf = new (std::nothrow) uint8_t[kMaxStored];
        if (s->storedBuf == nullptr) {
            delete s;
            strm->msg = "insufficient memory";
            return PZIP_MEM_ERROR;
        }
    }
    UseOwnAllocator(&s->z);
    int ret = deflateInit2(&s->z, level, Z_DEFLATED, windowBits, memLevel, strategy);
    if (ret != Z_OK) {
        strm->msg = s->z.msg;
        delete[] s->storedBuf;
        delete s;
        return ret;
    }
    strm->state = s;
    return PzipDeflateReset(strm);
}

int PzipDeflate(PzipStream* strm, int flush) {
    DeflateInternalState* s = StateOf(strm);
    if (s == nullptr || (flush != PZIP_NO_FLUSH && flush != PZIP_FINISH)) return PZIP_STREAM_ERROR;
    if (strm->availIn != 0 && strm->nextIn == nullptr) {
        strm->msg = "stream error";
        return PZIP_STREAM_ERROR;
    }
    if (s->finished) {
        // As zlib answers a finished stream, whatever room the output has.
        if (flush != PZIP_FINISH) {
            strm->msg = "stream error";
            return PZIP_STREAM_ERROR;
        }
        if (strm->availIn != 0) {
            strm->msg = "buffer error";
            return PZIP_BUF_ERROR;
        }
        return PZIP_STREAM_END;
    }
    if (s->storedBuf != nullptr) return CompressStored(strm, s, flush);
    const uint8_t* in = strm->nextIn;
    uint32_t n = strm->availIn;
    int ret = Compress(strm, s, flush, in, n, 0);
    strm->totalIn += strm->availIn - n;
    strm->nextIn = in;
    strm->availIn = n;
    strm->adler = uint32_t(s->z.adler);
    return ret;
}

int PzipDeflateEnd(PzipStream* strm) {
    DeflateInternalState* s = StateOf(strm);
    if (s == nullptr) return PZIP_STREAM_ERROR;
    int ret = deflateEnd(&s->z);
    FreeState(strm);
    return ret;
}
