// Diagnostic services behind the XCP user command: numbered services leave
// their answer in an answer buffer that the tool reads with UPLOAD, or arm a
// write whose data the tool puts into a download buffer with DOWNLOAD and
// then executes with service 0x8020.
//
// The buffers sit at transfer addresses outside the calibration memory; the
// memory-transfer commands recognise them by their ranges. All services run
// on the XCP receive task, one at a time; the buffers belong to that task.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/timebase.h"

constexpr uint32_t DIAG_UPLOAD_BUFFER_ADDR = 0x00E00000;
constexpr uint32_t DIAG_UPLOAD_BUFFER_SIZE = 1024;
constexpr uint32_t DIAG_DOWNLOAD_BUFFER_ADDR = 0x00E10000;
constexpr uint32_t DIAG_DOWNLOAD_BUFFER_SIZE = 256;

// Service ids.
enum : uint16_t {
    DIAG_INTERFACE_VERSION = 0x8000,
    DIAG_PRODUCT_NAME = 0x8001,
    DIAG_PART_NUMBER = 0x8002,
    DIAG_SERIAL_NUMBER = 0x8003,
    DIAG_EPK = 0x8004,
    DIAG_EPK_2 = 0x8005,
    DIAG_EMPTY = 0x8006,
    DIAG_LIFE_TIME = 0x8007,
    DIAG_EPK_CARID = 0x8008,
    DIAG_MAX_TEMPERATURE = 0x8009,
    DIAG_ERRMEM = 0x800A,
    DIAG_ERRMEM_STATE = 0x800B,
    DIAG_ERRMEM_VERSION = 0x800C,
    DIAG_MAXFILES_PART1 = 0x8010,
    DIAG_MAXFILES_PART2 = 0x8011,
    DIAG_MAXFILES_USB = 0x8018,
    DIAG_WRITE = 0x8020,
    DIAG_ERRMEM_CLEAR = 0x8040,
    DIAG_RTC_READ = 0x808B,
    DIAG_SET_DATE_TIME = 0x808C,
};

// Runs a service. All four outputs are set to 0 first; answerAddr is the
// transfer address of the answer, result1 the number of answer bytes (4 for
// an armed clock write), result2 0, downloadAddr the transfer address of an
// armed write's data. 0 success, 1 failure (unknown service or a failed
// write), which leaves buffers and armed write as they were.
int diagService(uint16_t serviceId, const uint8_t* params, uint32_t* answerAddr, uint8_t* result1,
                uint8_t* result2, uint32_t* downloadAddr);
// Executes the armed write on the download buffer; 1 success, 0 failure.
int diagService_write(const uint8_t* downloadBuffer);

// Receiver of a date set by a tool: the time service, which hands it to
// every device. Installed by the wiring; its result is that of the write.
using DiagTimeSink = int (*)(const date_t* date);
void diagService_setTimeSink(DiagTimeSink sink);

// The car id: the configured text, else "TAV9_" and the serial number up to
// its first blank; at most size - 1 characters and a terminating 0.
void diagService_GetCarId(char* buffer, size_t size);
// "TAV9", at most size characters, when the buffer is not null.
void diagService_GetProductName(char* buffer, size_t size);

// Whether [address, address + length) lies in a buffer.
bool diagService_addrInUplBuf(uint32_t address, uint32_t length);
bool diagService_addrInDwnBuf(uint32_t address, uint32_t length);
// Copy out of the answer buffer / into the download buffer at a transfer
// address inside it (callers check the range first).
void diagService_readUplBuf(void* dst, uint32_t address, uint32_t length);
void diagService_writeDwnBuf(uint32_t address, const void* src, uint32_t length);

// Accessors of the MIL state and the error monitor, kept for tools.
void diagService_getMilStateAddr(uint32_t value);
void diagService_getErrMonAddr(uint32_t count, const uint32_t words[4]);
uint32_t diagService_clrErrMon();

// Tests: forgets the armed write and the buffers.
void diagService_reset();
