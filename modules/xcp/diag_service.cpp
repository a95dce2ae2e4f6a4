#include "xcp/diag_service.h"

#include <cstring>

#include "platform/syslogx.h"

namespace {
// Both buffers belong to the XCP receive task, which runs the services and the
// memory-transfer commands one at a time.
uint8_t diagUploadBuffer[DIAG_UPLOAD_BUFFER_SIZE];
uint8_t diagDownloadBuffer[DIAG_DOWNLOAD_BUFFER_SIZE];
uint8_t gFloodUnknown = 0;

bool inBuffer(uint32_t address, uint32_t length, uint32_t start, uint32_t size) {
    return address >= start && uint64_t(address) + length < uint64_t(start) + size;
}
}  // namespace

int diagService(uint16_t serviceId, const uint8_t*, uint32_t* answerAddr, uint8_t* result1, uint8_t* result2,
                uint32_t* downloadAddr) {
    *answerAddr = 0;
    *result1 = 0;
    *result2 = 0;
    *downloadAddr = 0;
    // No service is served yet: identification, error memory and clock
    // services come with the time service.
    SYSLOGX_FLOOD(gFloodUnknown, 147, "diagService(): %x is an not supported service id!", unsigned(serviceId));
    return 1;
}

bool diagService_addrInUplBuf(uint32_t address, uint32_t length) {
    return inBuffer(address, length, DIAG_UPLOAD_BUFFER_ADDR, DIAG_UPLOAD_BUFFER_SIZE);
}

bool diagService_addrInDwnBuf(uint32_t address, uint32_t length) {
    return inBuffer(address, length, DIAG_DOWNLOAD_BUFFER_ADDR, DIAG_DOWNLOAD_BUFFER_SIZE);
}

void diagService_readUplBuf(void* dst, uint32_t address, uint32_t length) {
    std::memcpy(dst, diagUploadBuffer + (address - DIAG_UPLOAD_BUFFER_ADDR), length);
}

void diagService_writeDwnBuf(uint32_t address, const void* src, uint32_t length) {
    std::memcpy(diagDownloadBuffer + (address - DIAG_DOWNLOAD_BUFFER_ADDR), src, length);
}
