// The GUI library's deflate codec: zlib-format streams (RFC 1950 wrapper
// around RFC 1951 deflate data) under entry points of their own.
//
// The deflating, inflating and checksums are the system's zlib; what the
// codec adds is its own stream record (no allocator fields, 32-bit
// counters) and a compressor whose output buffer grows by itself: the
// caller may start with no buffer at all and takes the finished buffer from
// `outputBuffer` (release it with delete[]). A buffer the caller puts into
// `outputBuffer` must come from new[]: it is released when the compressor
// moves to a larger one.
#pragma once

#include <cstdint>

// Result codes (zlib's values).
constexpr int PZIP_OK = 0;
constexpr int PZIP_STREAM_END = 1;
constexpr int PZIP_NEED_DICT = 2;
constexpr int PZIP_STREAM_ERROR = -2;
constexpr int PZIP_DATA_ERROR = -3;
constexpr int PZIP_MEM_ERROR = -4;
constexpr int PZIP_BUF_ERROR = -5;
constexpr int PZIP_VERSION_ERROR = -6;

// Flush values.
constexpr int PZIP_NO_FLUSH = 0;
constexpr int PZIP_PARTIAL_FLUSH = 1;
constexpr int PZIP_FINISH = 4;

// Parameters.
constexpr int PZIP_DEFAULT_COMPRESSION = -1;
constexpr int PZIP_DEFLATED = 8;
constexpr int PZIP_FILTERED = 1;
constexpr int PZIP_HUFFMAN_ONLY = 2;
constexpr int PZIP_DEFAULT_STRATEGY = 0;

// Data type guess of the compressor.
constexpr uint32_t PZIP_BINARY = 0;
constexpr uint32_t PZIP_TEXT = 1;
constexpr uint32_t PZIP_UNKNOWN = 2;

#define PZIP_VERSION "1.0"

struct PzipStream {
    const uint8_t* nextIn;     // next input byte
    uint32_t availIn;          // bytes available at nextIn
    uint32_t totalIn;          // bytes read so far
    uint8_t* outputBuffer;     // start of the (compressor-owned) output buffer
    uint8_t* nextOut;          // next output byte
    uint32_t availOut;         // free bytes at nextOut
    uint32_t totalOut;         // bytes written so far
    const char* msg;           // last error text or null
    void* state;               // internal state of the codec
    uint32_t dataType;         // compressor's guess: binary or text
    uint32_t adler;            // Adler-32 of the uncompressed data
};

// The init functions compare recordSize with sizeof(PzipStream) of this build
// so that a caller compiled with a different record layout is refused.
int PzipDeflateInit(PzipStream* strm, int level, int method, int windowBits, int memLevel,
                    int strategy, const char* version, int recordSize);
int PzipDeflate(PzipStream* strm, int flush);
int PzipDeflateEnd(PzipStream* strm);
int PzipDeflateReset(PzipStream* strm);

int PzipInflateInit(PzipStream* strm, int windowBits, const char* version, int recordSize);
int PzipInflate(PzipStream* strm, int flush);
int PzipInflateEnd(PzipStream* strm);
int PzipInflateReset(PzipStream* strm);

// CRC-32 (reflected, polynomial 0xEDB88320) and Adler-32, continued from crc
// or adler; a null buffer returns the start value (0 and 1).
uint32_t PzipCrc32(uint32_t crc, const uint8_t* buf, uint32_t len);
uint32_t PzipAdler32(uint32_t adler, const uint8_t* buf, uint32_t len);

// Convenience forms that pass this build's record size.
inline int PzipDeflateInitDefault(PzipStream* strm, int level) {
    return PzipDeflateInit(strm, level, PZIP_DEFLATED, 15, 8, PZIP_DEFAULT_STRATEGY, PZIP_VERSION,
                           int(sizeof(PzipStream)));
}
inline int PzipInflateInitDefault(PzipStream* strm) {
    return PzipInflateInit(strm, 15, PZIP_VERSION, int(sizeof(PzipStream)));
}
