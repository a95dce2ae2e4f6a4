// PNG reader: decodes a PNG picture held in memory into one GuiBitmap
// through the image converter.
//
// Without conversion (mode flags 0) the bitmap is in true colour as the
// screen driver draws it: 24 bits per pixel (red, green, blue bytes) or,
// when keep-alpha is set and the picture has alpha (an alpha channel, or a
// tRNS chunk), 32 bits per pixel of native
// 0xRRGGBBAA words with flag 0x80. Palette and gray pictures are expanded
// through their palette, so they draw in their true colours. 16-bit samples
// keep their high byte. With conversion (dither, remap or resize) the
// decoded rows go through the converter to its output format.
#pragma once

#include "gui/image/gui_image_convert.h"
#include "gui/image/pzip.h"
#include "platform/byteorder.h"

#include <cstdint>

class GuiPngConvert : public GuiImageConvert {
public:
    explicit GuiPngConvert(uint32_t identifier);
    ~GuiPngConvert() override;

    // Decodes the input buffer; 1 on success (the bitmap is counted and
    // available through GetBitmapPointer), 0 on any failure.
    int ReadImage(int unused) override;
    int IsValid();
    int InitializeStructures();

    static uint32_t GuiPngGetUint32(const uint8_t* p) { return be_get32(p); }
    static uint16_t GuiPngGetUint16(const uint8_t* p) { return be_get16(p); }

    // Largest pixel buffer a picture may need (its sides are 16-bit anyway).
    static constexpr uint64_t kMaxBitmapBytes = 256ull << 20;

    struct ReadState;

private:
    int CreateReadStruct();
    void DestroyReadStruct();
    int ReadPngHeader();
    int HandleIHDR(uint32_t length);
    int HandlePLTE(uint32_t length);
    int HandleTRNS(uint32_t length);
    int HandleUnknown(uint32_t length);
    int ReadChunkHeader(uint32_t* length);
    int CrcRead(uint8_t* buffer, uint32_t n);
    int CrcSkip(uint32_t n);
    int CrcFinish(bool critical);
    int ReadRow(uint8_t* destination);
    void ReadStartRow();
    int ReadFinishRow();
    int FeedInflate();
    void ConvertRawToGui(const uint8_t* raw, uint8_t* dst, uint32_t pixels);
    void ExpandRow(const uint8_t* raw, const uint8_t* internal, uint8_t* dst, uint32_t pixels, bool alpha);
    bool ExpandsToRgb() const;
    bool ExpandsByTable() const;
    void BuildExpandTable(bool alpha);
    bool ExpandedAlpha() const;
    int ReadPngData();
    int ReadPngDataToSize();

    ReadState* mRead = nullptr;
};
