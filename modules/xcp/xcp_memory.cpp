// Memory-transfer commands: the calibration memory (and the diagnostic
// buffers) read and written through the memory transfer address (MTA).
//
// A tool addresses the reference-page addresses with this device's PID in
// bits 24-31; inside the calibration segment an address reaches whichever
// page is active for the ECU. A refused transfer never moves the MTA, and no
// byte beyond what the command carries is ever written.
#include <cerrno>

#include "measurement/seram.h"
#include "platform/syslogx.h"
#include "xcp/diag/diag_service.h"
#include "xcp/xcp_internal.h"

namespace {

constexpr unsigned kShortDownloadMax = XCP_MAX_CTO - 8;   // 247
constexpr unsigned kDownloadMax = 0xFE;                   // n must stay below
constexpr uint8_t kUserCmdDiag = 0x20;
constexpr uint8_t kChecksumCrc16Ccitt = 0x08;

uint8_t gFloodExt = 0, gFloodPid = 0, gFloodRead = 0, gFloodShortUpload = 0, gFloodUserSub = 0,
        gFloodUserService = 0;

// Reads n bytes at the address; XCP_ANSWER or ERR_ACCESS_LOCKED.
int readMem(uint32_t address, uint8_t* dst, uint32_t n) {
    if (diagService_addrInUplBuf(address, n)) {
        diagService_readUplBuf(dst, address, n);
        return XCP_ANSWER;
    }
    if (!seramReadMemory(dst, address, n)) {
        SYSLOGX_FLOOD(gFloodRead, 147,
                      "xcpReadMem(): address locked error returned by seramReadMemory(): 'to' address: 0x%x, "
                      "'from' address: 0x%x, size: 0x%x",
                      0u, address, n);
        return ERR_ACCESS_LOCKED;
    }
    return XCP_ANSWER;
}

// Writes n bytes at the address; XCP_ANSWER or ERR_ACCESS_DENIED.
int writeMem(uint32_t address, const uint8_t* src, uint32_t n) {
    if (diagService_addrInDwnBuf(address, n)) {
        diagService_writeDwnBuf(address, src, n);
        return XCP_ANSWER;
    }
    return seramDownload(address, src, n) ? XCP_ANSWER : ERR_ACCESS_DENIED;
}

// Upload of n bytes at the address into the answer {0xFF, data}.
int uploadInto(uint32_t address, uint32_t n, XcpAnswer* a) {
    int r = readMem(address, a->data + 1, n);
    if (r != XCP_ANSWER) return r;
    a->data[0] = XCP_PID_RES;
    a->length = 1 + n;
    return XCP_ANSWER;
}

}  // namespace

uint32_t xcpConLocalToGlobal(uint32_t local) { return (uint32_t(xcp_pid.load()) << 24) | (local & 0xFFFFFF); }

int xcpValidateMTA_Address(uint8_t extension, uint32_t address) {
    if (extension != 0) {
        SYSLOGX_FLOOD(gFloodExt, 147,
                      "xcpValidateMTA_Address(): Address-Extension not supported: address_extension: 0x%x, virtual "
                      "address (with PID): 0x%x",
                      unsigned(extension), address);
        return ERR_OUT_OF_RANGE;
    }
    if ((address >> 24) != xcp_pid.load()) {
        SYSLOGX_FLOOD(gFloodPid, 147, "xcpValidateMTA_Address(): PID not valid: 0x%x, virtual address (with PID): 0x%x",
                      address >> 24, address);
        return ERR_OUT_OF_RANGE;
    }
    return XCP_ANSWER;
}

int xcpAddressConv(xcpHandle* c, uint8_t extension, uint32_t address, uint32_t* local) {
    int r = xcpValidateMTA_Address(extension, address);
    if (r != XCP_ANSWER) return r;
    uint32_t a = address & 0xFFFFFF;
    if (c->paging) {
        const XcpSegment& s = c->paging->segments[0];
        if (a >= s.start && a - s.start < s.length) a = s.pages[s.ecuPage].start + (a - s.start);
    }
    *local = a;
    return XCP_ANSWER;
}

int xcpCmdSetMta(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    uint32_t local;
    int r = xcpAddressConv(c, cmd[3], le_get32(cmd + 4), &local);
    if (r != XCP_ANSWER) return r;
    c->mta = local;
    c->mtaExtension = cmd[3];
    xcpAnswerOk(a);
    return XCP_ANSWER;
}

int xcpCmdUpload(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    uint32_t n = cmd[1];
    if (n >= XCP_MAX_CTO) return ERR_OUT_OF_RANGE;
    int r = uploadInto(c->mta, n, a);
    if (r == XCP_ANSWER) c->mta += n;
    return r;
}

int xcpCmdShortUpload(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    uint32_t n = cmd[1], local;
    int r = xcpAddressConv(c, cmd[3], le_get32(cmd + 4), &local);
    if (r != XCP_ANSWER) return r;
    if (n >= XCP_MAX_CTO) {
        SYSLOGX_FLOOD(gFloodShortUpload, 147, "xcpShortUpload(): size out of range of CTO: size: 0x%x, MAX_CTO: 0x%x",
                      n, XCP_MAX_CTO);
        return ERR_OUT_OF_RANGE;
    }
    r = uploadInto(local, n, a);
    if (r == XCP_ANSWER) c->mta = local + n;
    return r;
}

int xcpCmdBuildChecksum(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    uint32_t size = le_get32(cmd + 4);
    if (!seramVirtualAddrRangeIsReadAccessAllowed(c->mta, size)) return ERR_OUT_OF_RANGE;
    uint16_t crc = seramBuildChksum(c->mta, size);
    c->mta += size;
    xcpAnswerOk(a, {kChecksumCrc16Ccitt, 0, 0});
    le_put32(a->data + 4, crc);
    a->length = 8;
    return XCP_ANSWER;
}

int xcpCmdDownload(xcpHandle* c, const uint8_t* cmd, unsigned len, XcpAnswer* a) {
    if (!(c->resource & XCP_RESOURCE_CALPAG)) return ERR_GENERIC;
    uint32_t n = cmd[1];
    if (n >= kDownloadMax) return ERR_OUT_OF_RANGE;
    if (len < 2 + n) return ERR_CMD_SYNTAX;   // the datagram does not carry n bytes
    int r = writeMem(c->mta, cmd + 2, n);
    if (r != XCP_ANSWER) return r;
    c->mta += n;
    xcpAnswerOk(a);
    return XCP_ANSWER;
}

int xcpCmdShortDownload(xcpHandle* c, const uint8_t* cmd, unsigned len, XcpAnswer* a) {
    if (!(c->resource & XCP_RESOURCE_CALPAG)) return ERR_GENERIC;
    uint32_t n = cmd[1], local;
    int r = xcpAddressConv(c, cmd[3], le_get32(cmd + 4), &local);
    if (r != XCP_ANSWER) return r;
    if (n > kShortDownloadMax) return ERR_OUT_OF_RANGE;
    if (len < 8 + n) return ERR_CMD_SYNTAX;
    r = writeMem(local, cmd + 8, n);
    if (r != XCP_ANSWER) return r;
    c->mta = local + n;
    xcpAnswerOk(a);
    return XCP_ANSWER;
}

int xcpCmdUserCmd(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    if (cmd[1] != kUserCmdDiag) {
        SYSLOGX_FLOOD(gFloodUserSub, 147, "xcpStateConnected(): diagService() sub_command %#x not supported",
                      unsigned(cmd[1]));
        return ERR_CMD_SYNTAX;
    }
    uint16_t service = le_get16(cmd + 2);
    uint32_t answerAddr, downloadAddr;
    uint8_t r1, r2;
    if (diagService(service, cmd + 4, &answerAddr, &r1, &r2, &downloadAddr) != 0) {
        SYSLOGX_FLOOD(gFloodUserService, 147,
                      "xcpStateConnected(): diagService() with serviceNumber %#x returned an error", unsigned(service));
        return ERR_CMD_SYNTAX;
    }
    c->mta = downloadAddr ? downloadAddr : answerAddr;
    xcpAnswerOk(a, {r1, r2});
    return XCP_ANSWER;
}
