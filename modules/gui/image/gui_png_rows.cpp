// PNG reader: inflating the image data row by row across IDAT chunks,
// undoing the row filters and stepping through the Adam7 passes.
#include "gui/image/gui_png.h"

#include "gui/image/gui_png_state.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The Paeth predictor of the PNG standard for left a, above b, upper-left c:
// of a, b and c the one nearest to a + b - c, ties going to a, then b. The
// three distances are taken in their shortened forms |b - c|, |a - c| and
// |a + b - 2c|, and the choice is made without branches, since in the row
// loops each result feeds the next pixel.
inline uint8_t Paeth(int a, int b, int c) {
    int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    int nearBc = pb <= pc ? b : c;
    return uint8_t(pa <= pb && pa <= pc ? a : nearBc);
}

// Paeth over rows of 1-byte pixels (palette and gray). Each byte waits for
// the one before it, so everything that does not depend on the left
// neighbour (the distance to the upper-left, the sums with above and
// upper-left) is worked out beside that chain, and only the distances to
// the left neighbour and the final choice lie on it.
void UnpaethBytes(uint8_t* d, const uint8_t* p, uint32_t len) {
    int a = d[0], c = p[0];
    for (uint32_t i = 1; i < len; i++) {
        int b = p[i], x = d[i];
        int q = b - c;
        int pa = std::abs(q);
        int withB = (x + b) & 0xFF, withC = (x + c) & 0xFF;
        int t = a - c;
        int pb = std::abs(t), pc = std::abs(t + q);
        int r = pb <= pc ? withB : withC;
        if (pa <= pb && pa <= pc) r = (x + a) & 0xFF;
        d[i] = uint8_t(r);
        a = r;
        c = b;
    }
}

// Paeth over rows of N-byte pixels, N from 2 to 4: the bytes of a pixel are
// independent, so each keeps its left and upper-left neighbour in a register
// and the N chains run side by side.
template <uint32_t N>
void UnpaethPixels(uint8_t* d, const uint8_t* p, uint32_t len) {
    int a[N], c[N];
#pragma GCC unroll 4
    for (uint32_t k = 0; k < N; k++) {
        a[k] = d[k];
        c[k] = p[k];
    }
    for (uint32_t i = N; i + N <= len; i += N) {
#pragma GCC unroll 4
        for (uint32_t k = 0; k < N; k++) {
            int b = p[i + k];
            a[k] = uint8_t(d[i + k] + Paeth(a[k], b, c[k]));
            d[i + k] = uint8_t(a[k]);
            c[k] = b;
        }
    }
}

// Undoes the filter of one row (row[0] is the filter type) against the
// previous row of the same pass; bpp is the bytes per complete pixel.
void Unfilter(uint8_t* row, const uint8_t* prev, uint32_t len, uint32_t bpp) {
    uint8_t* d = row + 1;
    const uint8_t* p = prev + 1;
    if (bpp > len) bpp = len;
    switch (row[0]) {
    case 0:
        break;
    case 1:
        for (uint32_t i = bpp; i < len; i++) d[i] = uint8_t(d[i] + d[i - bpp]);
        break;
    case 2:
        for (uint32_t i = 0; i < len; i++) d[i] = uint8_t(d[i] + p[i]);
        break;
    case 3:
        for (uint32_t i = 0; i < bpp; i++) d[i] = uint8_t(d[i] + (p[i] >> 1));
        for (uint32_t i = bpp; i < len; i++) d[i] = uint8_t(d[i] + ((d[i - bpp] + p[i]) >> 1));
        break;
    case 4:
        for (uint32_t i = 0; i < bpp; i++) d[i] = uint8_t(d[i] + p[i]);
        // Rows hold whole pixels whenever a pixel has more than one byte.
        switch (bpp) {
        case 1: UnpaethBytes(d, p, len); break;
        case 2: UnpaethPixels<2>(d, p, len); break;
        case 3: UnpaethPixels<3>(d, p, len); break;
        case 4: UnpaethPixels<4>(d, p, len); break;
        default:
            for (uint32_t i = bpp; i < len; i++) d[i] = uint8_t(d[i] + Paeth(d[i - bpp], p[i], p[i - bpp]));
        }
        break;
    default:
        // Unknown filter: the row is taken as it is.
        row[0] = 0;
        break;
    }
}

}  // namespace

void GuiPngConvert::ReadStartRow() {
    ReadState* r = mRead;
    r->passRow = 0;
    r->pass = 0;
    if (r->interlace) {
        r->passPixels = PngPassPixels(r->width, 0);
        r->passRows = PngPassRows(r->height, 0);
    } else {
        r->passPixels = r->width;
        r->passRows = r->height;
    }
    delete[] r->rowBuf;
    delete[] r->prevRow;
    size_t size = size_t(r->rowBytes) + 1 + 8;
    r->rowBuf = new (std::nothrow) uint8_t[size]();
    r->prevRow = new (std::nothrow) uint8_t[size]();
    r->flags |= kPngRowsStarted;
}

// Refills the inflate input from the current IDAT chunk, moving on to the
// next IDAT chunk when this one is used up. 0 when the data end or another
// chunk follows.
int GuiPngConvert::FeedInflate() {
    ReadState* r = mRead;
    while (r->chunkDataLeft == 0) {
        if (CrcFinish(true) < 0) return 0;
        uint32_t length;
        if (!ReadChunkHeader(&length)) return 0;
        if (std::memcmp(r->chunkName, "IDAT", 4) != 0) {
            r->mode |= kPngAfterImageData;
            return 0;
        }
        r->chunkDataLeft = length;
    }
    uint32_t n = r->chunkDataLeft < kPngInputBuffer ? r->chunkDataLeft : kPngInputBuffer;
    if (!CrcRead(r->inputBuffer, n)) return 0;
    r->chunkDataLeft -= n;
    r->stream.nextIn = r->inputBuffer;
    r->stream.availIn = n;
    return 1;
}

// Reads the next row of the image (or of the current pass) into destination
// (its row bytes); 0 when the data are damaged or end early.
int GuiPngConvert::ReadRow(uint8_t* destination) {
    ReadState* r = mRead;
    if (!(r->flags & kPngRowsStarted)) ReadStartRow();
    if (r->rowBuf == nullptr || r->prevRow == nullptr) return 0;
    if (r->flags & kPngDataEnded) return 0;
    uint32_t passRowBytes = uint32_t((uint64_t(r->pixelDepth) * r->passPixels + 7) / 8);

    r->stream.nextOut = r->rowBuf;
    r->stream.availOut = passRowBytes + 1;
    do {
        if (r->stream.availIn == 0 && !FeedInflate()) return 0;
        int ret = PzipInflate(&r->stream, PZIP_PARTIAL_FLUSH);
        if (ret == PZIP_STREAM_END) {
            if (r->stream.availOut != 0 || r->stream.availIn != 0 || r->chunkDataLeft != 0) return 0;
            r->flags |= kPngDataEnded;
            break;
        }
        if (ret != PZIP_OK) return 0;
    } while (r->stream.availOut != 0);

    Unfilter(r->rowBuf, r->prevRow, passRowBytes, (r->pixelDepth + 7u) / 8u);
    if (destination) std::memcpy(destination, r->rowBuf + 1, passRowBytes);
    uint8_t* t = r->prevRow;
    r->prevRow = r->rowBuf;
    r->rowBuf = t;
    return ReadFinishRow();
}

// Counts the row; moves to the next non-empty pass; after the last row
// makes sure the compressed data end exactly with the image.
int GuiPngConvert::ReadFinishRow() {
    ReadState* r = mRead;
    if (++r->passRow < r->passRows) return 1;
    if (r->interlace) {
        r->passRow = 0;
        std::memset(r->prevRow, 0, size_t(r->rowBytes) + 1);
        while (++r->pass < 7) {
            r->passPixels = PngPassPixels(r->width, r->pass);
            r->passRows = PngPassRows(r->height, r->pass);
            if (r->passPixels != 0 && r->passRows != 0) return 1;
        }
    }
    if (!(r->flags & kPngDataEnded)) {
        uint8_t extra;
        r->stream.nextOut = &extra;
        r->stream.availOut = 1;
        for (;;) {
            if (r->stream.availIn == 0 && !FeedInflate()) return 0;
            int ret = PzipInflate(&r->stream, PZIP_PARTIAL_FLUSH);
            if (r->stream.availOut == 0) return 0;  // more pixels than the image has
            if (ret == PZIP_STREAM_END) {
                if (r->stream.availIn != 0 || r->chunkDataLeft != 0) return 0;
                break;
            }
            if (ret != PZIP_OK) return 0;
        }
        r->flags |= kPngDataEnded;
    }
    PzipInflateReset(&r->stream);
    r->mode |= kPngAfterImageData;
    return 1;
}
