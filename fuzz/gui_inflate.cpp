// Fuzz target: the inflater on arbitrary bytes, in one call and streamed
// with small buffers; both must agree.
#include "gui/image/gui_zip.h"
#include "gui/image/pzip.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t step = 1 + data[0] % 17;
    const uint8_t* in = data + 1;
    uint32_t len = uint32_t(size - 1);

    std::vector<uint8_t> whole(1 << 16);
    PzipStream a{};
    PzipInflateInitDefault(&a);
    a.nextIn = in;
    a.availIn = len;
    a.nextOut = whole.data();
    a.availOut = uint32_t(whole.size());
    int ra = PzipInflate(&a, PZIP_FINISH);
    whole.resize(a.totalOut);
    PzipInflateEnd(&a);

    std::vector<uint8_t> streamed;
    PzipStream b{};
    PzipInflateInitDefault(&b);
    uint8_t buf[17];
    uint32_t pos = 0;
    int rb = PZIP_OK;
    while (rb == PZIP_OK && streamed.size() < (1 << 16)) {
        uint32_t n = uint32_t(step < len - pos ? step : len - pos);
        b.nextIn = in + pos;
        b.availIn = n;
        b.nextOut = buf;
        b.availOut = uint32_t(step);
        rb = PzipInflate(&b, PZIP_NO_FLUSH);
        pos += n - b.availIn;
        streamed.insert(streamed.end(), buf, buf + (step - b.availOut));
    }
    PzipInflateEnd(&b);
    // Data errors are found at the same place however the data arrive.
    if (ra == PZIP_STREAM_END && streamed.size() <= whole.size() &&
        (rb != PZIP_STREAM_END ||
         (!streamed.empty() && std::memcmp(streamed.data(), whole.data(), streamed.size()) != 0)))
        std::abort();
    if (ra == PZIP_DATA_ERROR && rb == PZIP_STREAM_END) std::abort();

    uint32_t measured = 0;
    GuiUnzip(nullptr, &measured, in, len);
    return 0;
}
