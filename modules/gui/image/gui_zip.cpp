// One-call wrappers around the deflate codec.
#include "gui/image/gui_zip.h"

#include "gui/image/pzip.h"

#include <memory>
#include <new>

int GuiZip(uint8_t** out, uint32_t* outLength, const uint8_t* input, uint32_t inputLength) {
    if (out == nullptr || outLength == nullptr || (input == nullptr && inputLength != 0)) return PZIP_STREAM_ERROR;
    PzipStream strm{};
    int ret = PzipDeflateInitDefault(&strm, PZIP_DEFAULT_COMPRESSION);
    if (ret != PZIP_OK) return ret;
    strm.nextIn = input;
    strm.availIn = inputLength;
    strm.outputBuffer = nullptr;  // the compressor grows its own buffer
    strm.nextOut = nullptr;
    strm.availOut = 0;
    ret = PzipDeflate(&strm, PZIP_FINISH);
    if (ret == PZIP_STREAM_END) {
        *out = strm.outputBuffer;
        *outLength = strm.totalOut;
        strm.outputBuffer = nullptr;
        ret = PZIP_OK;
    } else {
        delete[] strm.outputBuffer;
        if (ret == PZIP_OK) ret = PZIP_BUF_ERROR;
    }
    PzipDeflateEnd(&strm);
    return ret;
}

int GuiUnzip(uint8_t* out, uint32_t* length, const uint8_t* input, uint32_t inputLength) {
    if (length == nullptr || (input == nullptr && inputLength != 0)) return PZIP_STREAM_ERROR;
    PzipStream strm{};
    int ret = PzipInflateInitDefault(&strm);
    if (ret != PZIP_OK) return ret;
    strm.nextIn = input;
    strm.availIn = inputLength;
    if (out != nullptr) {
        strm.nextOut = out;
        strm.availOut = *length;
        ret = PzipInflate(&strm, PZIP_FINISH);
    } else {
        // Measure only: run through a small scratch buffer.
        constexpr uint32_t kScratch = 8192;
        std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[kScratch]);
        if (!scratch) {
            PzipInflateEnd(&strm);
            return PZIP_MEM_ERROR;
        }
        do {
            strm.nextOut = scratch.get();
            strm.availOut = kScratch;
            ret = PzipInflate(&strm, PZIP_NO_FLUSH);
        } while (ret == PZIP_OK);
    }
    if (ret == PZIP_STREAM_END) {
        *length = strm.totalOut;
        return PzipInflateEnd(&strm);
    }
    PzipInflateEnd(&strm);
    return ret == PZIP_OK ? PZIP_BUF_ERROR : ret;
}
