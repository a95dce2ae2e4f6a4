// The PNG reader against libpng on 640 x 480 pictures (the display's size),
// both decoding from memory: RGB and RGBA, palette at 8 and 4 bits and 8-bit
// gray. Our reader brings palette and gray pictures to true colour for the
// screen; libpng is measured once doing the same (its palette and gray
// expansion) and once handing out the raw indexes and levels.
#include "gui/image/gui_png.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kWidth = 640, kHeight = 480;

enum Kind { kRgb, kRgba, kPalette8, kPalette4, kGray8, kKinds };
const char* const kKindNames[kKinds] = {"rgb", "rgba", "palette8", "palette4", "gray8"};

void Append(png_structp png, png_bytep data, png_size_t len) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + len);
}
void NoFlush(png_structp) {}

// A dashboard-like picture: gradients, flat panels and some texture.
void Colour(uint32_t x, uint32_t y, uint8_t* p) {
    bool panel = (x / 80 + y / 60) % 2 == 0;
    p[0] = panel ? uint8_t(x * 255 / kWidth) : 30;
    p[1] = panel ? uint8_t(y * 255 / kHeight) : uint8_t(((x * 7) ^ (y * 13)) & 0x3F);
    p[2] = uint8_t((x + y) / 5);
    p[3] = uint8_t(x < 320 ? 255 : (y * 2) & 0xFF);
}

std::vector<uint8_t> MakePicture(Kind kind) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, Append, NoFlush);
    static const int types[kKinds] = {PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_PALETTE,
                                      PNG_COLOR_TYPE_PALETTE, PNG_COLOR_TYPE_GRAY};
    int depth = kind == kPalette4 ? 4 : 8;
    png_set_IHDR(png, info, kWidth, kHeight, depth, types[kind], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (kind == kPalette8 || kind == kPalette4) {
        png_color palette[256];
        for (int i = 0; i < 256; i++) palette[i] = {uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3 + 40)};
        png_set_PLTE(png, info, palette, kind == kPalette4 ? 16 : 256);
    }
    png_write_info(png, info);
    std::vector<uint8_t> row(kWidth * 4);
    for (uint32_t y = 0; y < kHeight; y++) {
        std::memset(row.data(), 0, row.size());
        for (uint32_t x = 0; x < kWidth; x++) {
            uint8_t c[4];
            Colour(x, y, c);
            switch (kind) {
            case kRgb: std::memcpy(&row[3 * x], c, 3); break;
            case kRgba: std::memcpy(&row[4 * x], c, 4); break;
            case kPalette8: row[x] = uint8_t(c[0] / 4 + c[1] / 2 + c[2] / 8); break;
            case kPalette4: row[x / 2] |= uint8_t(((c[0] ^ c[1]) >> 4) << (x % 2 ? 0 : 4)); break;
            default: row[x] = uint8_t((c[0] + c[1] + c[2]) / 3); break;
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

struct Cursor {
    const std::vector<uint8_t>* data;
    size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t len) {
    auto* c = static_cast<Cursor*>(png_get_io_ptr(png));
    if (c->pos + len > c->data->size()) png_error(png, "short");
    std::memcpy(out, c->data->data() + c->pos, len);
    c->pos += len;
}

void BM_GuiPng(benchmark::State& state) {
    auto file = MakePicture(Kind(state.range(0)));
    for (auto _ : state) {
        GuiPngConvert conv(0);
        conv.SetKeepAlpha(true);
        conv.SetSystemPalette(nullptr, 1600);
        conv.SetInputBuffer(file.data(), uint32_t(file.size()));
        if (conv.ReadImage(1) != 1) state.SkipWithError("decode");
        benchmark::DoNotOptimize(conv.GetBitmapPointer(0));
        conv.DestroyImages();
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.SetLabel(kKindNames[state.range(0)]);
}

// range(1): 1 = expand palette and gray to RGB as our reader does, 0 = raw.
void BM_Libpng(benchmark::State& state) {
    auto file = MakePicture(Kind(state.range(0)));
    const bool expand = state.range(1) != 0;
    std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 4);
    for (auto _ : state) {
        Cursor cursor{&file, 0};
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            state.SkipWithError("libpng");
            png_destroy_read_struct(&png, &info, nullptr);
            break;
        }
        png_set_read_fn(png, &cursor, ReadFromMemory);
        png_read_info(png, info);
        if (expand) {
            png_set_palette_to_rgb(png);
            png_set_gray_to_rgb(png);
        }
        png_read_update_info(png, info);
        size_t stride = png_get_rowbytes(png, info);
        std::vector<png_bytep> rows(kHeight);
        for (uint32_t y = 0; y < kHeight; y++) rows[y] = pixels.data() + size_t(y) * stride;
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.SetLabel(std::string(kKindNames[state.range(0)]) + (expand ? "" : " raw"));
}

}  // namespace

BENCHMARK(BM_GuiPng)->DenseRange(kRgb, kGray8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Libpng)
    ->Args({kRgb, 1})
    ->Args({kRgba, 1})
    ->Args({kPalette8, 1})
    ->Args({kPalette4, 1})
    ->Args({kGray8, 1})
    ->Args({kPalette8, 0})
    ->Args({kPalette4, 0})
    ->Args({kGray8, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
