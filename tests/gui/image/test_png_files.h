// PNG files for the reader tests, written with libpng in memory, and the
// reference decode by libpng with the transformations that give what the
// reader produces without conversion: 8-bit red, green, blue samples (16-bit
// samples by their high byte), plus alpha for images with an alpha channel
// or a tRNS chunk.
#pragma once

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <vector>

namespace pngtest {

struct PngKind {
    uint32_t width = 16;
    uint32_t height = 16;
    int colorType = PNG_COLOR_TYPE_RGB;
    int depth = 8;
    bool interlace = false;
    bool trns = false;
    size_t idatSize = 8192;  // compression buffer: small values give many IDAT chunks
    int filters = PNG_ALL_FILTERS;  // one PNG_FILTER_* forces that filter on every row
};

inline int Channels(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
    }
}

// Sample c of pixel (x, y) at the given depth: a mix of gradients and noise
// so every filter type is worth choosing somewhere.
inline uint32_t SampleAt(const PngKind& s, uint32_t x, uint32_t y, int c) {
    uint32_t max = (1u << s.depth) - 1;
    uint32_t v = (x * 37 + y * 11 + uint32_t(c) * 101 + ((x ^ y) * 2654435761u >> 7)) ;
    if ((x / 4 + y / 3) % 3 == 0) v = x * 8 + uint32_t(c) * 50;  // smooth areas
    if (s.colorType == PNG_COLOR_TYPE_PALETTE) return v % 23 % (max + 1);  // not every index has a colour
    if (s.depth == 16) return (v * 7919u) & 0xFFFF;
    return v & max;
}

inline void WriteData(png_structp png, png_bytep data, png_size_t len) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + len);
}
inline void FlushData(png_structp) {}

inline std::vector<uint8_t> MakePng(const PngKind& s) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, WriteData, FlushData);
    png_set_compression_buffer_size(png, s.idatSize);
    png_set_IHDR(png, info, s.width, s.height, s.depth, s.colorType,
                 s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (s.colorType == PNG_COLOR_TYPE_PALETTE) {
        std::vector<png_color> pal(size_t(1) << s.depth);
        for (size_t i = 0; i < pal.size(); i++)
            pal[i] = png_color{uint8_t(i * 53 + 7), uint8_t(255 - i * 31), uint8_t(i * i * 5)};
        if (pal.size() > 23) pal.resize(23);  // indexes stay below 23
        png_set_PLTE(png, info, pal.data(), int(pal.size()));
        if (s.trns) {
            uint8_t alpha[6] = {255, 128, 0, 200, 0, 10};
            png_set_tRNS(png, info, alpha, pal.size() < 6 ? int(pal.size()) : 6, nullptr);
        }
    } else if (s.trns) {
        png_color_16 c{};
        PngKind probe = s;
        c.gray = uint16_t(SampleAt(probe, 3, 2, 0));
        c.red = uint16_t(SampleAt(probe, 3, 2, 0));
        c.green = uint16_t(SampleAt(probe, 3, 2, 1));
        c.blue = uint16_t(SampleAt(probe, 3, 2, 2));
        png_set_tRNS(png, info, nullptr, 0, &c);
    }
    png_set_filter(png, 0, s.filters);
    png_write_info(png, info);
    if (s.depth == 16) png_set_swap(png);  // rows below are little-endian words

    int channels = Channels(s.colorType);
    size_t rowBytes = (size_t(s.width) * size_t(channels) * size_t(s.depth) + 7) / 8;
    std::vector<std::vector<uint8_t>> rows(s.height, std::vector<uint8_t>(rowBytes, 0));
    for (uint32_t y = 0; y < s.height; y++) {
        for (uint32_t x = 0; x < s.width; x++) {
            for (int c = 0; c < channels; c++) {
                uint32_t v = SampleAt(s, x, y, c);
                size_t n = size_t(x) * size_t(channels) + size_t(c);
                if (s.depth == 16) {
                    rows[y][2 * n] = uint8_t(v);
                    rows[y][2 * n + 1] = uint8_t(v >> 8);
                } else if (s.depth == 8) {
                    rows[y][n] = uint8_t(v);
                } else {
                    size_t bit = n * size_t(s.depth);
                    rows[y][bit / 8] |= uint8_t(v << (8 - s.depth - bit % 8));
                }
            }
        }
    }
    std::vector<png_bytep> ptrs;
    for (auto& r : rows) ptrs.push_back(r.data());
    png_write_image(png, ptrs.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

struct ReadCursor {
    const std::vector<uint8_t>* data;
    size_t pos;
};

inline void ReadData(png_structp png, png_bytep out, png_size_t len) {
    auto* c = static_cast<ReadCursor*>(png_get_io_ptr(png));
    if (c->pos + len > c->data->size()) png_error(png, "short");
    std::memcpy(out, c->data->data() + c->pos, len);
    c->pos += len;
}

struct Decoded {
    bool ok = false;
    uint32_t width = 0, height = 0;
    int channels = 0;  // 3 or 4
    std::vector<uint8_t> pixels;
};

// libpng's reading as the reader's 24-bit result (keepAlpha as the display sets it).
inline Decoded LibpngDecode(const std::vector<uint8_t>& file, bool keepAlpha = true) {
    Decoded d;
    ReadCursor cursor{&file, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return Decoded{};
    }
    png_set_read_fn(png, &cursor, ReadData);
    png_read_info(png, info);
    int type = png_get_color_type(png, info);
    bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_set_strip_16(png);
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    bool alpha = keepAlpha && (type == PNG_COLOR_TYPE_GRAY_ALPHA || type == PNG_COLOR_TYPE_RGB_ALPHA || trns);
    if (alpha && trns) png_set_tRNS_to_alpha(png);
    if (!alpha && ((type & PNG_COLOR_MASK_ALPHA) || trns)) png_set_strip_alpha(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    d.width = png_get_image_width(png, info);
    d.height = png_get_image_height(png, info);
    d.channels = png_get_channels(png, info);
    size_t rowBytes = png_get_rowbytes(png, info);
    d.pixels.assign(rowBytes * d.height, 0);
    std::vector<png_bytep> ptrs;
    for (uint32_t y = 0; y < d.height; y++) ptrs.push_back(d.pixels.data() + y * rowBytes);
    png_read_image(png, ptrs.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    d.ok = true;
    return d;
}

// A PNG file built chunk by chunk with correct CRCs (unless told otherwise).
struct PngBuilder {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kSignature, kSignature + 8);

    static void Put32(std::vector<uint8_t>& v, uint32_t x) {
        v.insert(v.end(), {uint8_t(x >> 24), uint8_t(x >> 16), uint8_t(x >> 8), uint8_t(x)});
    }
    PngBuilder& Chunk(const char* name, const std::vector<uint8_t>& data, bool badCrc = false) {
        Put32(bytes, uint32_t(data.size()));
        std::vector<uint8_t> body(name, name + 4);
        body.insert(body.end(), data.begin(), data.end());
        bytes.insert(bytes.end(), body.begin(), body.end());
        Put32(bytes, uint32_t(crc32(0, body.data(), uInt(body.size()))) ^ (badCrc ? 1u : 0u));
        return *this;
    }
    PngBuilder& Ihdr(uint32_t w, uint32_t h, int depth, int type, int interlace = 0) {
        std::vector<uint8_t> d;
        Put32(d, w);
        Put32(d, h);
        d.insert(d.end(), {uint8_t(depth), uint8_t(type), 0, 0, uint8_t(interlace)});
        return Chunk("IHDR", d);
    }
    // Image data from unfiltered rows (filter byte 0 added), split in pieces.
    PngBuilder& Idat(const std::vector<std::vector<uint8_t>>& rows, size_t pieces = 1) {
        std::vector<uint8_t> raw;
        for (const auto& r : rows) {
            raw.push_back(0);
            raw.insert(raw.end(), r.begin(), r.end());
        }
        uLongf len = compressBound(uLong(raw.size()));
        std::vector<uint8_t> z(len);
        compress(z.data(), &len, raw.data(), uLong(raw.size()));
        z.resize(len);
        size_t step = (z.size() + pieces - 1) / pieces;
        for (size_t pos = 0; pos < z.size(); pos += step)
            Chunk("IDAT", std::vector<uint8_t>(z.begin() + long(pos), z.begin() + long(std::min(z.size(), pos + step))));
        return *this;
    }
    PngBuilder& Iend() { return Chunk("IEND", {}); }
};

// Bitmap pixels as bytes red, green, blue (, alpha): 32-bit bitmaps hold
// native 0xRRGGBBAA words.
inline std::vector<uint8_t> RgbaBytes(const uint8_t* data, size_t size, int bitsPerPixel) {
    if (bitsPerPixel != 32) return std::vector<uint8_t>(data, data + size);
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 4 <= size; i += 4) {
        uint32_t w;
        std::memcpy(&w, data + i, 4);
        out.insert(out.end(), {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)});
    }
    return out;
}

}  // namespace pngtest
