// Fuzzes the measurement file reader behind "measdump". Inputs whose first
// byte is 0 get a sound header first (fixed bytes and CRC, their own
// counters), so that the fuzzer reaches the frames and metadata.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "logging/format/meas_file.h"
#include "logging/format/meas_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> buf(data, data + size);
    if (size >= MEAS_FILE_HEADER_LEN && buf[0] == 0) {
        // a sound header (fixed bytes and CRC), so that the fuzzer reaches the body
        const uint8_t* h = buf.data();
        MeasFileHeaderInfo info;
        info.pcode = be_get16(h + 24);
        info.lap = be_get16(h + 26);
        info.outing = be_get16(h + 28);
        info.fragment = be_get16(h + 30);
        info.numBlocks = h[32];
        info.measIdx = h[33];
        std::memcpy(info.bcdDate, h + 34, 6);
        info.absLap = be_get16(h + 40);
        meas_file_buildHeader(buf.data(), info);
    }
    MeasFileContent content;
    std::string error;
    meas_file_read(buf.data(), buf.size(), content, error);
    std::map<uint8_t, MeasFileBlockLayout> layouts{{1, {4, 1, 1, 1}}, {2, {2, 0, 0, 3}}};
    meas_file_read(buf.data(), buf.size(), content, error, &layouts);
    return 0;
}
