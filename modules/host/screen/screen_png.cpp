// PNG output of the screen through Debian's libpng, written to a temporary
// file and renamed into place so that an image viewer never sees half a file.
// Speed over size: libpng reads the 0x00RRGGBB words in place (as B, G, R and
// a filler byte), rows go unfiltered and zlib runs at its fastest level; a
// display frame of large flat areas still packs well.
#include "host/screen/screen_png.h"

#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "host/kernel/kernel_internal.h"

namespace host::detail {

namespace {

// libpng reports errors by longjmp; keep everything with a destructor out of
// the function that calls setjmp.
bool writeRows(FILE* f, png_bytep* rows, int width, int height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // the words are little-endian 0x00RRGGBB: bytes B, G, R, 0
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool writeScreenPng(const std::string& path, const uint32_t* pixels, int width, int height) {
    if (!pixels || width <= 0 || height <= 0) return false;
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixel words are read as B, G, R, 0 bytes");
    std::vector<png_bytep> rows(height);
    for (int y = 0; y < height; ++y)
        rows[y] = reinterpret_cast<png_bytep>(const_cast<uint32_t*>(pixels + static_cast<size_t>(y) * width));
    std::string tmp = path + ".tmp";
    // made anew: what stands at the name (a FIFO, a link) is never written into
    const int fd = createFileAnew(tmp);
    if (fd < 0) return false;
    FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    }
    bool ok = writeRows(f, rows.data(), width, height);
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace host::detail
