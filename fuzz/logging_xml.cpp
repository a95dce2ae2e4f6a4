// Fuzzes the XML logging configuration reader: the input up to its first NUL
// is the configuration, the rest (when present) the unchecked file.
#include <cstdint>
#include <string>

#include "logging/config/meas_app_xml_load.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t nul = input.find('\0');
    std::string text = input.substr(0, nul);
    std::string unchecked = nul == std::string::npos ? "" : input.substr(nul + 1);
    MEASConfiguration* cfg = meas_app_xml_load(0, text.c_str(), nul == std::string::npos ? nullptr : unchecked.c_str());
    meas_app_free_MEASConfiguration(cfg);
    return 0;
}
