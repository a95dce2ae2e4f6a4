// Fuzzes the binary logging configuration loader. Inputs whose first byte is
// odd get a correct header CRC first, so that the fuzzer reaches the tables.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "logging/config/meas_app_load.h"
#include "platform/crc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto* buf = static_cast<uint8_t*>(std::malloc(size + 1));
    if (!buf) return 0;
    std::memcpy(buf, data, size);
    buf[size] = 0;
    if (size >= 72 && (buf[0] & 1)) {
        const size_t tail = buf[17] == 3 || (buf[1] & 1) ? 52 : 46;
        uint16_t crc = crc16_ccitt_lsb_accu(buf, 18, 0xFFFF);
        crc = crc16_ccitt_lsb_accu(buf + 20, tail, crc);
        buf[18] = uint8_t(crc >> 8);
        buf[19] = uint8_t(crc);
    }
    MEASConfiguration* cfg = meas_app_load(0, buf, size);
    if (cfg) {
        std::free(buf);
        meas_app_free_MEASConfiguration(cfg);
    }
    return 0;
}
