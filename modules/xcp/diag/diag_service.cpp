// The diagnostic services: answers into the answer buffer, the armed
// date-and-time write and the buffer ranges of the memory-transfer commands.
#include "xcp/diag/diag_service.h"

#include <cmath>
#include <cstring>

#include "measurement/calparams.h"
#include "measurement/seram.h"
#include "measurement/signalpage.h"
#include "platform/byteorder.h"
#include "platform/error_mgr.h"
#include "platform/nvram.h"
#include "platform/syslogx.h"
#include "xcp/xcp_codes.h"

namespace {

constexpr char kInterfaceVersion[] = "1.8";
constexpr size_t kMaxAnswer = 255;   // what result byte 1 can say

uint8_t diagUploadBuffer[DIAG_UPLOAD_BUFFER_SIZE];
uint8_t diagDownloadBuffer[DIAG_DOWNLOAD_BUFFER_SIZE];
uint32_t diagWriteCMDActive = 0;   // stays armed after it was executed
DiagTimeSink gTimeSink = nullptr;
uint8_t gFloodUnknown = 0;

uint32_t diagMilState = 0;
uint32_t diagErrMonEntries = 0;
uint32_t diagErrMon[4] = {};
uint32_t diagClrErrMonFlg = 0;

bool inBuffer(uint32_t address, uint32_t length, uint32_t start, uint32_t size) {
    return address >= start && uint64_t(address) + length <= uint64_t(start) + size;
}

size_t epk() {
    char s[CAL_EPK_LEN + 1];
    seramCopyEPK(s, sizeof s);
    const size_t n = strlen(s);
    std::memcpy(diagUploadBuffer, s, n);
    return n;
}

size_t epkAndCarId() {
    size_t n = epk();
    diagUploadBuffer[n++] = '\n';
    diagService_GetCarId(reinterpret_cast<char*>(diagUploadBuffer + n), kMaxAnswer - n);
    diagUploadBuffer[kMaxAnswer] = 0;
    return strnlen(reinterpret_cast<const char*>(diagUploadBuffer), kMaxAnswer);
}

uint8_t maxTemperatureByte() {
    float t = 0;
    nvramst_get_maxTECU(&t);
    const float v = std::round(t + 40.0f);
    return v <= 0 || !std::isfinite(v) ? 0 : uint8_t(uint32_t(std::fmin(v, 4294967295.0f)));
}

// Runs a service that answers into the answer buffer: its length, or -1
// for a service that is not one of these.
int answer(uint16_t id) {
    uint8_t* b = diagUploadBuffer;
    switch (id) {
    case DIAG_INTERFACE_VERSION: std::memcpy(b, kInterfaceVersion, sizeof kInterfaceVersion); return 4;
    case DIAG_PRODUCT_NAME: diagService_GetProductName(reinterpret_cast<char*>(b), 5); b[4] = 0; return 5;
    case DIAG_PART_NUMBER: nvramst_get_partNumber(reinterpret_cast<char*>(b)); return 16;
    case DIAG_SERIAL_NUMBER: nvramst_get_serialNumber(reinterpret_cast<char*>(b)); return 16;
    case DIAG_EPK:
    case DIAG_EPK_2: return int(epk());
    case DIAG_LIFE_TIME: {
        uint32_t life = 0;
        nvramst_get_lifeTime(&life);
        le_put32(b, life);
        return 4;
    }
    case DIAG_EPK_CARID: return int(epkAndCarId());
    case DIAG_MAX_TEMPERATURE: b[0] = maxTemperatureByte(); return 1;
    // Whole entries only, as many as the one-byte length can count.
    case DIAG_ERRMEM: return error_mgr_get_data(b, kMaxAnswer);
    case DIAG_ERRMEM_STATE: {
        uint8_t st = 0;
        error_mgr_get_state(&st);
        b[0] = st;
        return 1;
    }
    case DIAG_ERRMEM_VERSION: {
        uint8_t v[DIAG_UPLOAD_BUFFER_SIZE];
        int n = error_mgr_get_version(v);
        n = n < 0 ? 0 : n > int(kMaxAnswer) ? int(kMaxAnswer) : n;
        std::memcpy(b, v, size_t(n));
        return n;
    }
    case DIAG_MAXFILES_PART1: be_put32(b, calLoad(signalPage()->meas_maxFileCnt_part1)); return 4;
    case DIAG_MAXFILES_PART2: be_put32(b, calLoad(signalPage()->meas_maxFileCnt_part2)); return 4;
    case DIAG_MAXFILES_USB: be_put32(b, calLoad(signalPage()->meas_maxFileCnt_usb)); return 4;
    case DIAG_ERRMEM_CLEAR: error_mgr_clear_all(); b[0] = 0; return 0;
    case DIAG_RTC_READ: {
        struct timespec now;
        clock_devicetime(&now);
        be_put32(b, uint32_t(now.tv_sec));
        return 4;
    }
    default: return -1;
    }
}

}  // namespace

int diagService(uint16_t id, const uint8_t*, uint32_t* answerAddr, uint8_t* result1, uint8_t* result2,
                uint32_t* downloadAddr) {
    *answerAddr = 0;
    *result1 = 0;
    *result2 = 0;
    *downloadAddr = 0;
    switch (id) {
    case DIAG_EMPTY: return 0;
    case DIAG_WRITE:
        return diagService_write(diagDownloadBuffer) ? 0 : 1;
    case DIAG_SET_DATE_TIME:
        diagWriteCMDActive = DIAG_SET_DATE_TIME;
        *result1 = 4;
        *downloadAddr = DIAG_DOWNLOAD_BUFFER_ADDR;
        return 0;
    default: break;
    }
    const int n = answer(id);
    if (n < 0) {
        SYSLOGX_FLOOD(gFloodUnknown, 147, "diagService(): %x is an not supported service id!", unsigned(id));
        return 1;
    }
    *answerAddr = DIAG_UPLOAD_BUFFER_ADDR;
    *result1 = uint8_t(n);
    return 0;
}

int diagService_write(const uint8_t* data) {
    if (diagWriteCMDActive != DIAG_SET_DATE_TIME || !data) return 0;
    struct timespec t{time_t(be_get32(data)), 0};
    date_t d{};
    if (!conv_time_to_date(&t, &d)) return 0;
    syslogx(150, "DIAG_SERVICE_SET_DATE_TIME: RTC set to %.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d", d.day, d.month, d.year,
            d.hour, d.minute, d.second, d.millisecond);
    if (!gTimeSink) {
        syslogx(147, "DIAG_SERVICE_SET_DATE_TIME: no time service to take the date");
        return 0;
    }
    return gTimeSink(&d) ? 1 : 0;
}

void diagService_setTimeSink(DiagTimeSink sink) { gTimeSink = sink; }

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

void diagService_getMilStateAddr(uint32_t value) { diagMilState = value; }

void diagService_getErrMonAddr(uint32_t count, const uint32_t words[4]) {
    diagErrMonEntries = count;
    if (words) std::memcpy(diagErrMon, words, sizeof diagErrMon);
}

uint32_t diagService_clrErrMon() {
    const uint32_t f = diagClrErrMonFlg;
    diagClrErrMonFlg = 0;
    return f;
}

void diagService_reset() {
    diagWriteCMDActive = 0;
    std::memset(diagUploadBuffer, 0, sizeof diagUploadBuffer);
    std::memset(diagDownloadBuffer, 0, sizeof diagDownloadBuffer);
}
