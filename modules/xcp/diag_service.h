// Diagnostic services behind the XCP user command: numbered services leave
// their answer in an answer buffer that the tool reads with UPLOAD, or arm a
// write whose data the tool puts into a download buffer with DOWNLOAD.
//
// The buffers sit at transfer addresses outside the calibration memory; the
// memory-transfer commands recognise them by their ranges.
#pragma once

#include <cstdint>

constexpr uint32_t DIAG_UPLOAD_BUFFER_ADDR = 0x00E00000;
constexpr uint32_t DIAG_UPLOAD_BUFFER_SIZE = 1024;
constexpr uint32_t DIAG_DOWNLOAD_BUFFER_ADDR = 0x00E10000;
constexpr uint32_t DIAG_DOWNLOAD_BUFFER_SIZE = 256;

// Runs a service. All four outputs are set to 0 first; answerAddr is the
// transfer address of the answer, result1 the number of answer bytes, result2
// 0, downloadAddr the transfer address of an armed write's data. 0 success,
// 1 failure (unknown service or a failed write).
int diagService(uint16_t serviceId, const uint8_t* params, uint32_t* answerAddr, uint8_t* result1,
                uint8_t* result2, uint32_t* downloadAddr);

// Whether [address, address + length) lies in a buffer (the end stays below
// the buffer's end).
bool diagService_addrInUplBuf(uint32_t address, uint32_t length);
bool diagService_addrInDwnBuf(uint32_t address, uint32_t length);
// Copy out of the answer buffer / into the download buffer at a transfer
// address inside it (callers check the range first).
void diagService_readUplBuf(void* dst, uint32_t address, uint32_t length);
void diagService_writeDwnBuf(uint32_t address, const void* src, uint32_t length);
