// The PNG reader against libpng on a 640 x 480 RGB and RGBA picture (the
// display's size), both decoding from memory to 8-bit samples.
#include "gui/image/gui_png.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <cstring>
#include <vector>

namespace {

void Append(png_structp png, png_bytep data, png_size_t len) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + len);
}
void NoFlush(png_structp) {}

// A dashboard-like picture: gradients, flat areas and some texture.
std::vector<uint8_t> MakePicture(int channels) {
    const uint32_t w = 640, h = 480;
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, Append, NoFlush);
    png_set_IHDR(png, info, w, h, 8, channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(w * uint32_t(channels));
    for (uint32_t y = 0; y < h; y++) {
        for (uint32_t x = 0; x < w; x++) {
            uint8_t* p = &row[x * uint32_t(channels)];
            bool panel = (x / 80 + y / 60) % 2 == 0;
            p[0] = panel ? uint8_t(x * 255 / w) : 30;
            p[1] = panel ? uint8_t(y * 255 / h) : uint8_t(((x * 7) ^ (y * 13)) & 0x3F);
            p[2] = uint8_t((x + y) / 5);
            if (channels == 4) p[3] = uint8_t(x < 320 ? 255 : (y * 2) & 0xFF);
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
    auto file = MakePicture(int(state.range(0)));
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
}

void BM_Libpng(benchmark::State& state) {
    auto file = MakePicture(int(state.range(0)));
    std::vector<uint8_t> pixels(640 * 480 * size_t(state.range(0)));
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
        std::vector<png_bytep> rows(480);
        for (int y = 0; y < 480; y++) rows[size_t(y)] = pixels.data() + size_t(y) * 640 * size_t(state.range(0));
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

}  // namespace

BENCHMARK(BM_GuiPng)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Libpng)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
