// Fuzzes the measurement file reader behind "measdump". Inputs whose first
// byte is 0 get a correct header CRC first, so that the fuzzer reaches the
// frames and metadata.
#include <cstdint>
#include <string>
#include <vector>

#include "logging/meas_file.h"
#include "logging/meas_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> buf(data, data + size);
    if (size >= MEAS_FILE_HEADER_LEN && buf[0] == 0) meas_put_be16(buf.data() + 20, meas_file_headerCrc(buf.data()));
    MeasFileContent content;
    std::string error;
    meas_file_read(buf.data(), buf.size(), content, error);
    std::map<uint8_t, MeasFileBlockLayout> layouts{{1, {4, 1, 1, 1}}, {2, {2, 0, 0, 3}}};
    meas_file_read(buf.data(), buf.size(), content, error, &layouts);
    return 0;
}
