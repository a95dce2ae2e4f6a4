// PNG output of the screen through Debian's libpng, written to a temporary
// file and renamed into place so that an image viewer never sees half a file.
// Speed over size: libpng reads the 0x00RRGGBB words in place (as B, G, R and
// a filler byte), rows go unfiltered and zlib runs at its fastest level; a
// display frame of large flat areas still packs well.
#include "host/screen/screen_png.h"

#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/kernel/kernel_internal.h"

namespace host::detail {

namespace {

// What went wrong inside libpng, for the words of the failure: the system's
// error of the write that failed, or else libpng's own message. Plain data:
// it outlives the longjmp out of libpng.
struct PngFailure {
    FILE* file;
    int error;          // errno of the failed write or flush, 0 when none
    char message[128];  // libpng's message, "" when none
};

PngFailure* failureOf(png_structp png) { return static_cast<PngFailure*>(png_get_error_ptr(png)); }

// libpng's own handler prints on stderr for every frame; the caller says a
// failure once instead.
[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
    PngFailure* failure = failureOf(png);
    if (failure && !failure->message[0]) std::snprintf(failure->message, sizeof failure->message, "%s", message);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

void writeData(png_structp png, png_bytep data, size_t length) {
    PngFailure* failure = static_cast<PngFailure*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, failure->file) != length) {
        failure->error = errno;
        png_error(png, "write error");
    }
}

void flushData(png_structp png) {
    PngFailure* failure = static_cast<PngFailure*>(png_get_io_ptr(png));
    if (std::fflush(failure->file) != 0) {
        failure->error = errno;
        png_error(png, "write error");
    }
}

// libpng reports errors by longjmp; keep everything with a destructor out of
// the function that calls setjmp.
bool writeRows(PngFailure* failure, png_bytep* rows, int width, int height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, onPngError, onPngWarning);
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
    png_set_write_fn(png, failure, writeData, flushData);
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

bool failed(std::string* problem, const std::string& path, const std::string& why) {
    if (problem) *problem = path + " cannot be written (" + why + ")";
    return false;
}

}  // namespace

bool writeScreenPng(const std::string& path, const uint32_t* pixels, int width, int height, std::string* problem) {
    if (!pixels || width <= 0 || height <= 0) return failed(problem, path, "no frame");
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixel words are read as B, G, R, 0 bytes");
    std::vector<png_bytep> rows(height);
    for (int y = 0; y < height; ++y)
        rows[y] = reinterpret_cast<png_bytep>(const_cast<uint32_t*>(pixels + static_cast<size_t>(y) * width));
    std::string tmp = path + ".tmp";
    // made anew: what stands at the name (a FIFO, a link) is never written into
    const int fd = createFileAnew(tmp);
    if (fd < 0) return failed(problem, path, tmp + " cannot be made: " + std::strerror(errno));
    FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        const int cause = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        return failed(problem, path, std::strerror(cause));
    }
    PngFailure failure{f, 0, ""};
    const bool encoded = writeRows(&failure, rows.data(), width, height);
    const bool closed = std::fclose(f) == 0;
    const int closeCause = errno;
    if (!encoded || !closed) {
        std::remove(tmp.c_str());
        if (failure.error) return failed(problem, path, std::strerror(failure.error));
        if (!closed) return failed(problem, path, std::strerror(closeCause));
        return failed(problem, path, failure.message[0] ? failure.message : "the encoder failed");
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const int cause = errno;
        std::remove(tmp.c_str());
        return failed(problem, path, std::string("cannot be renamed into place: ") + std::strerror(cause));
    }
    return true;
}

}  // namespace host::detail
