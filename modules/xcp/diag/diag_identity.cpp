// Identification texts of the diagnostic services: product designation and
// car id (also written into every measurement file).
#include <cstring>

#include "platform/nvram.h"
#include "xcp/diag/diag_service.h"

namespace {
constexpr char kProduct[] = "TAV9";
}

void diagService_GetProductName(char* buffer, size_t size) {
    if (buffer) std::strncpy(buffer, kProduct, size);
}

void diagService_GetCarId(char* buffer, size_t size) {
    if (!buffer || size == 0) return;
    const size_t configured = strnlen(carid_voz_info, sizeof carid_voz_info);
    if (configured) {
        const size_t n = configured < size - 1 ? configured : size - 1;
        std::memcpy(buffer, carid_voz_info, n);
        buffer[n] = 0;
        return;
    }
    size_t at = strnlen(kProduct, size - 1);
    std::memcpy(buffer, kProduct, at);
    buffer[at] = 0;
    if (size - at < 2) return;
    char serial[16];
    nvramst_get_serialNumber(serial);
    buffer[at++] = '_';
    for (size_t i = 0; i < sizeof serial && serial[i] && serial[i] != ' ' && at < size - 1; ++i)
        buffer[at++] = serial[i];
    buffer[at] = 0;
}
