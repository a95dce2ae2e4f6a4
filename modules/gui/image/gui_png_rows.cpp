// PNG reader: inflating the image data row by row across IDAT chunks,
// undoing the row filters and stepping through the Adam7 passes.
#include "gui/image/gui_png.h"

#include "gui/image/gui_png_state.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

inline uint8_t Paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return uint8_t(a);
    if (pb <= pc) return uint8_t(b);
    return uint8_t(c);
}

// Undoes the filter of one row (row[0] is the filter type) against the
// previous row of the same pass; bpp is the bytes per complete pixel.
void Unfilter(uint8_t* row, const uint8_t* prev, uint32_t len, uint32_t bpp) {
    uint8_t* d = row + 1;
    const uint8_t* p = prev + 1;
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
        for (uint32_t i = 0; i < bpp && i < len; i++) d[i] = uint8_t(d[i] + (p[i] >> 1));
        for (uint32_t i = bpp; i < len; i++) d[i] = uint8_t(d[i] + ((d[i - bpp] + p[i]) >> 1));
        break;
    case 4:
        for (uint32_t i = 0; i < bpp && i < len; i++) d[i] = uint8_t(d[i] + p[i]);
        for (uint32_t i = bpp; i < len; i++) d[i] = uint8_t(d[i] + Paeth(d[i - bpp], p[i], p[i - bpp]));
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
    r->rowNumber = 0;
    r->pass = 0;
    if (r->interlace) {
        r->iwidth = PngPassPixels(r->width, 0);
        r->numRows = PngPassRows(r->height, 0);
    } else {
        r->iwidth = r->width;
        r->numRows = r->height;
    }
    delete[] r->rowBuf;
    delete[] r->prevRow;
    size_t size = size_t(r->rowBytes) + 1 + 8;
    r->rowBuf = new (std::nothrow) uint8_t[size]();
    r->prevRow = new (std::nothrow) uint8_t[size]();
    r->flags |= PNG_FLAG_ROW_INIT;
}

// Refills the inflate input from the current IDAT chunk, moving on to the
// next IDAT chunk when this one is used up. 0 when the data end or another
// chunk follows.
int GuiPngConvert::FeedInflate() {
    ReadState* r = mRead;
    while (r->idatLeft == 0) {
        if (CrcFinish(true) < 0) return 0;
        uint32_t length;
        if (!ReadChunkHeader(&length)) return 0;
        if (std::memcmp(r->chunkName, "IDAT", 4) != 0) {
            r->mode |= PNG_AFTER_IDAT;
            return 0;
        }
        r->idatLeft = length;
    }
    uint32_t n = r->idatLeft < kPngInputBuffer ? r->idatLeft : kPngInputBuffer;
    if (!CrcRead(r->inBuf, n)) return 0;
    r->idatLeft -= n;
    r->zs.nextIn = r->inBuf;
    r->zs.availIn = n;
    return 1;
}

// Reads the next row of the image (or of the current pass) into destination
// (its row bytes); 0 when the data are damaged or end early.
int GuiPngConvert::ReadRow(uint8_t* destination) {
    ReadState* r = mRead;
    if (!(r->flags & PNG_FLAG_ROW_INIT)) ReadStartRow();
    if (r->rowBuf == nullptr || r->prevRow == nullptr) return 0;
    if (r->flags & PNG_FLAG_ZSTREAM_ENDED) return 0;
    uint32_t passRowBytes = uint32_t((uint64_t(r->pixelDepth) * r->iwidth + 7) / 8);

    r->zs.nextOut = r->rowBuf;
    r->zs.availOut = passRowBytes + 1;
    do {
        if (r->zs.availIn == 0 && !FeedInflate()) return 0;
        int ret = PzipInflate(&r->zs, PZIP_PARTIAL_FLUSH);
        if (ret == PZIP_STREAM_END) {
            if (r->zs.availOut != 0 || r->zs.availIn != 0 || r->idatLeft != 0) return 0;
            r->flags |= PNG_FLAG_ZSTREAM_ENDED;
            break;
        }
        if (ret != PZIP_OK) return 0;
    } while (r->zs.availOut != 0);

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
    if (++r->rowNumber < r->numRows) return 1;
    if (r->interlace) {
        r->rowNumber = 0;
        std::memset(r->prevRow, 0, size_t(r->rowBytes) + 1);
        while (++r->pass < 7) {
            r->iwidth = PngPassPixels(r->width, r->pass);
            r->numRows = PngPassRows(r->height, r->pass);
            if (r->iwidth != 0 && r->numRows != 0) return 1;
        }
    }
    if (!(r->flags & PNG_FLAG_ZSTREAM_ENDED)) {
        uint8_t extra;
        r->zs.nextOut = &extra;
        r->zs.availOut = 1;
        for (;;) {
            if (r->zs.availIn == 0 && !FeedInflate()) return 0;
            int ret = PzipInflate(&r->zs, PZIP_PARTIAL_FLUSH);
            if (r->zs.availOut == 0) return 0;  // more pixels than the image has
            if (ret == PZIP_STREAM_END) {
                if (r->zs.availIn != 0 || r->idatLeft != 0) return 0;
                break;
            }
            if (ret != PZIP_OK) return 0;
        }
        r->flags |= PNG_FLAG_ZSTREAM_ENDED;
    }
    PzipInflateReset(&r->zs);
    r->mode |= PNG_AFTER_IDAT;
    return 1;
}
