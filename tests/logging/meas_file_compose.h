// Composes measurement files in memory the way the file writers lay them out.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "logging/format/meas_file.h"
#include "logging/format/meas_frame.h"

struct ComposedFile {
    std::vector<uint8_t> bytes;

    void header(const MeasFileHeaderInfo& info) {
        uint8_t h[MEAS_FILE_HEADER_LEN];
        meas_file_buildHeader(h, info);
        append(h, sizeof h);
    }
    void descriptor(uint8_t id, uint32_t recordLength) {
        uint8_t d[MEAS_FILE_BLOCKDESC_LEN];
        meas_file_putBlockDescriptor(d, id, recordLength);
        append(d, sizeof d);
    }
    void meta(uint8_t type, const std::vector<uint8_t>& payload) {
        uint8_t h[MEAS_FILE_METAHEAD_LEN];
        meas_file_putMetaHead(h, type, uint32_t(payload.size()));
        append(h, sizeof h);
        append(payload.data(), payload.size());
    }
    // Client configuration, initial time stamp and car id, as every file opens.
    void opening(uint32_t initTs, const char* carId) {
        meta(MEAS_META_CLIENTCFG, {'<', 'q', 'o', 'v', '/', '>'});
        std::vector<uint8_t> ts(4);
        be_put32(ts.data(), initTs);
        meta(MEAS_META_INIT_TS, ts);
        std::vector<uint8_t> car(MEAS_META_CARID_LEN, 0);
        car[1] = 1;
        car[3] = 1;
        std::strncpy(reinterpret_cast<char*>(car.data() + 4), carId, 31);
        meta(MEAS_META_CARID, car);
    }
    // Recodes the frame and appends what MeasFrame_get hands out.
    void frame(MeasFrame* f, uint8_t blockId, uint32_t recordLength) {
        MeasFrame_recode_for_V5_V6(f, recordLength, nullptr, nullptr);
        uint8_t* buf = nullptr;
        uint32_t len = 0, plain = 0, packed = 0;
        MeasFrame_get(f, blockId, &buf, &len, &plain, &packed);
        append(buf, len);
        std::free(buf);
    }
    void append(const void* p, size_t n) {
        auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
};

// A record: big-endian time stamp followed by the values.
inline std::vector<uint8_t> makeRecord(uint32_t ts, const std::vector<uint8_t>& values) {
    std::vector<uint8_t> r(4);
    be_put32(r.data(), ts);
    r.insert(r.end(), values.begin(), values.end());
    return r;
}
