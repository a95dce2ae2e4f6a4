// PNG reader: signature, chunk loop and the header chunks IHDR, PLTE, tRNS.
#include "gui/image/gui_png.h"

#include "gui/image/gui_png_state.h"

#include <cstring>
#include <new>

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool NameIs(const uint8_t* name, const char* want) { return std::memcmp(name, want, 4) == 0; }

}  // namespace

GuiPngConvert::GuiPngConvert(uint32_t identifier) : GuiImageConvert(identifier) { mImageType = 4; }

GuiPngConvert::~GuiPngConvert() { DestroyReadStruct(); }

int GuiPngConvert::IsValid() {
    uint8_t sig[8];
    return ConsumeImageInput(sig, 8) == 8 && std::memcmp(sig, kSignature, 8) == 0;
}

int GuiPngConvert::InitializeStructures() { return CreateReadStruct() && mRead != nullptr; }

int GuiPngConvert::CreateReadStruct() {
    DestroyReadStruct();
    auto* r = new (std::nothrow) ReadState;
    if (r == nullptr) return 0;
    r->inputBuffer = new (std::nothrow) uint8_t[kPngInputBuffer];
    if (r->inputBuffer == nullptr || PzipInflateInitDefault(&r->stream) != PZIP_OK) {
        delete[] r->inputBuffer;
        delete r;
        return 0;
    }
    r->streamReady = true;
    mRead = r;
    return 1;
}

void GuiPngConvert::DestroyReadStruct() {
    if (mRead == nullptr) return;
    if (mRead->streamReady) PzipInflateEnd(&mRead->stream);
    delete[] mRead->inputBuffer;
    delete[] mRead->rowBuf;
    delete[] mRead->prevRow;
    delete mRead;
    mRead = nullptr;
}

int GuiPngConvert::ReadImage(int) {
    DestroyReadStruct();
    DropUncountedBitmaps();
    // Settings that belong to the previous picture.
    mMode &= ~(GUI_IMG_TRANS_RGB | GUI_IMG_TRANS_INDEX);
    mGray = false;
    mState = 0;

    int ok = 0;
    if (mLocalPalette != nullptr && IsValid() && CreateReadStruct() && ReadPngHeader()) {
        SendState(4);
        if (mMode & GUI_IMG_RESIZE) {
            ok = mTargetWidth >= 1 && mTargetHeight >= 1 && ReadPngDataToSize();
        } else {
            ok = ReadPngData();
        }
    }
    DestroyReadStruct();
    if (!ok) {
        DropUncountedBitmaps();
        return 0;
    }
    CountNewBitmap();
    SendState(0x30);
    return 1;
}

// ---- CRC-checked input ------------------------------------------------------------------------
int GuiPngConvert::CrcRead(uint8_t* buffer, uint32_t n) {
    if (ConsumeImageInput(buffer, n) != n) return 0;
    mRead->crc = PzipCrc32(mRead->crc, buffer, n);
    return 1;
}

int GuiPngConvert::CrcSkip(uint32_t n) {
    while (n > 0) {
        uint32_t k = n < kPngInputBuffer ? n : kPngInputBuffer;
        if (!CrcRead(mRead->inputBuffer, k)) return 0;
        n -= k;
    }
    return 1;
}

// Reads the chunk's CRC. Returns -1 when it is missing, 1 when the chunk
// must be discarded (an ancillary chunk with a wrong CRC), else 0. A wrong
// CRC of a critical chunk is tolerated unless the flags ask otherwise.
int GuiPngConvert::CrcFinish(bool critical) {
    uint8_t b[4];
    if (ConsumeImageInput(b, 4) != 4) return -1;
    bool bad = GuiPngGetUint32(b) != mRead->crc;
    if (!bad) return 0;
    if (critical) return (mRead->flags & kPngCrcFailCritical) ? 1 : 0;
    return (mRead->flags & kPngCrcKeepAncillary) ? 0 : 1;
}

// Reads a chunk's length and name (restarting the CRC); 0 when the input
// ends or the chunk claims more bytes than are left.
int GuiPngConvert::ReadChunkHeader(uint32_t* length) {
    uint8_t hdr[8];
    if (ConsumeImageInput(hdr, 8) != 8) return 0;
    uint32_t len = GuiPngGetUint32(hdr);
    if (len > 0x7FFFFFFFu) return 0;
    uint32_t left = mInLength - uint32_t(mInPos - mInStart);
    if (uint64_t(len) + 4 > left) return 0;
    std::memcpy(mRead->chunkName, hdr + 4, 4);
    mRead->crc = PzipCrc32(0, hdr + 4, 4);
    *length = len;
    return 1;
}

// ---- chunk loop up to the image data ----------------------------------------------------------
int GuiPngConvert::ReadPngHeader() {
    for (;;) {
        uint32_t length;
        if (!ReadChunkHeader(&length)) return 0;
        const uint8_t* name = mRead->chunkName;
        int ok;
        if (NameIs(name, "IHDR")) {
            ok = HandleIHDR(length);
        } else if (NameIs(name, "PLTE")) {
            ok = HandlePLTE(length);
        } else if (NameIs(name, "tRNS")) {
            ok = HandleTRNS(length);
        } else if (NameIs(name, "IDAT")) {
            if (!(mRead->mode & kPngHeaderSeen)) return 0;
            if (mRead->colorType == 3 && !(mRead->mode & kPngPaletteSeen)) return 0;
            mRead->chunkDataLeft = length;
            mRead->mode |= kPngInImageData;
            return 1;
        } else if (NameIs(name, "IEND")) {
            return 0;  // no image data
        } else {
            ok = HandleUnknown(length);
        }
        if (!ok) return 0;
    }
}

int GuiPngConvert::HandleIHDR(uint32_t length) {
    ReadState* r = mRead;
    if ((r->mode & kPngHeaderSeen) || length != 13) return 0;
    uint8_t b[13];
    if (!CrcRead(b, 13)) return 0;
    if (CrcFinish(true) != 0) return 0;
    uint32_t width = GuiPngGetUint32(b), height = GuiPngGetUint32(b + 4);
    uint8_t depth = b[8], type = b[9], interlace = b[12];
    // Bitmap sides are 16-bit: larger pictures cannot be shown.
    if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return 0;
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return 0;
    if (type != 0 && type != 2 && type != 3 && type != 4 && type != 6) return 0;
    if ((type == 3 && depth > 8) || ((type == 2 || type == 4 || type == 6) && depth < 8)) return 0;
    if (b[10] != 0 || b[11] != 0 || interlace > 1) return 0;

    r->width = width;
    r->height = height;
    r->bitDepth = depth;
    r->colorType = type;
    r->interlace = interlace;
    r->channels = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
    r->pixelDepth = uint8_t(r->channels * depth);
    r->rowBytes = uint32_t((uint64_t(r->pixelDepth) * width + 7) / 8);
    r->mode |= kPngHeaderSeen;

    std::memset(mLocalPalette, 0, size_t(mLocalCapacity) * 3);
    mLocalCount = 0;
    mGray = type == 0 || type == 4;
    if (mGray) {
        // Gray levels as a palette: 2, 4, 16 or 256 evenly spaced levels.
        int bits = depth <= 4 ? depth : 8;
        int levels = 1 << bits;
        for (int i = 0; i < levels; i++) {
            uint8_t v = uint8_t(i * 255 / (levels - 1));
            mLocalPalette[3 * i] = mLocalPalette[3 * i + 1] = mLocalPalette[3 * i + 2] = v;
        }
        mLocalCount = levels;
    }
    switch (type) {
    case 0: SetInternalBitsPix(depth <= 4 ? depth : 8, 0); break;
    case 2: SetInternalBitsPix(24, 0); break;
    case 3: SetInternalBitsPix(depth, 0); break;
    case 4: SetInternalBitsPix(8, 1); break;
    default: SetInternalBitsPix(24, 1); break;
    }
    return 1;
}

int GuiPngConvert::HandlePLTE(uint32_t length) {
    ReadState* r = mRead;
    if (!(r->mode & kPngHeaderSeen)) return 0;
    if ((r->mode & kPngInImageData) || r->colorType != 3) return CrcSkip(length) && CrcFinish(false) >= 0;
    if (r->mode & kPngPaletteSeen) return 0;
    if (length % 3 != 0 || length > 768) return 0;
    uint8_t pal[768];
    if (!CrcRead(pal, length)) return 0;
    if (CrcFinish(true) != 0) return 0;
    std::memcpy(mLocalPalette, pal, length);
    mLocalCount = int(length / 3);
    r->mode |= kPngPaletteSeen;
    r->flags |= kPngPaletteRead;
    return 1;
}

int GuiPngConvert::HandleTRNS(uint32_t length) {
    ReadState* r = mRead;
    if (!(r->mode & kPngHeaderSeen)) return 0;
    bool skip = (r->mode & kPngInImageData) || r->transSeen;
    if (r->colorType == 3) {
        // At most one alpha byte per palette entry.
        if ((r->mode & kPngPaletteSeen) && length > uint32_t(mLocalCount)) skip = true;
        if (length == 0 || length > 256) skip = true;
    } else if (r->colorType == 0) {
        if (length != 2) skip = true;
    } else if (r->colorType == 2) {
        if (length != 6) skip = true;
    } else {
        skip = true;
    }
    if (skip) return CrcSkip(length) && CrcFinish(false) >= 0;

    uint8_t b[256];
    if (!CrcRead(b, length)) return 0;
    int crc = CrcFinish(false);
    if (crc < 0) return 0;
    if (crc > 0) return 1;  // damaged: the table is ignored

    if (r->colorType == 3) {
        std::memcpy(r->paletteAlpha, b, length);
        r->transCount = int(length);
        r->flags |= kPngOwnsTransparency;
        for (uint32_t i = 0; i < length; i++) {
            if (b[i] == 0) {
                SetTransColor(int(i));
                break;
            }
        }
    } else {
        // Samples of 16-bit images are compared by their high byte, as the
        // decoded pixels carry it; smaller depths by their gray level.
        auto level = [&](uint16_t s) -> int32_t {
            if (r->bitDepth == 16) return s >> 8;
            if (r->bitDepth == 8) return s & 0xFF;
            uint32_t max = (1u << r->bitDepth) - 1;
            return int32_t((s & max) * 255 / max);
        };
        if (r->colorType == 0) {
            r->transparentGray = GuiPngGetUint16(b);
            int32_t g = level(r->transparentGray);
            SetTransColor(GuiPixel(g, g, g));
        } else {
            for (int k = 0; k < 3; k++) r->transparentRgb[k] = GuiPngGetUint16(b + 2 * k);
            const uint16_t* rgb = r->transparentRgb;
            SetTransColor(GuiPixel(level(rgb[0]), level(rgb[1]), level(rgb[2])));
        }
        r->transCount = 1;
    }
    r->transSeen = true;
    return 1;
}

// Ancillary chunks are skipped; a critical chunk this reader does not know
// (before the image data) cannot be read past safely, so the file fails.
int GuiPngConvert::HandleUnknown(uint32_t length) {
    ReadState* r = mRead;
    if (r->mode & kPngInImageData) r->mode |= kPngAfterImageData;
    if (!(r->chunkName[0] & 0x20)) return 0;
    return CrcSkip(length) && CrcFinish(false) >= 0;
}
