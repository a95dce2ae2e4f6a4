// Calibration paging: one segment (the calibration dataset) with the reference
// page 0 and the working page 1, page switching and copying, and the request
// that stores the working page as the new reference page and ends the process.
#include <cstring>
#include <new>

#include "awm/awm.h"
#include "measurement/seram.h"
#include "platform/startup.h"
#include "platform/syslogx.h"
#include "xcp/xcp_internal.h"

namespace {

constexpr uint8_t kMaxSegment = 1;
constexpr uint8_t kMaxPages = 2;
constexpr uint8_t kPageReference = 0;
constexpr uint8_t kPageWorking = 1;
// ECU access with XCP, XCP read access with ECU
constexpr uint8_t kRefPageProperties = 0x0A;
// ECU access with XCP, XCP read and write access with ECU
constexpr uint8_t kWorkPageProperties = 0x2A;
constexpr uint8_t kModeEcu = 0x01;
constexpr uint8_t kModeXcp = 0x02;
constexpr uint8_t kSetRequestStoreCal = 0x01;

uint8_t gFloodCopy = 0;

// XCP_PAG0 with its segment and page tables (one instance with CAL/PAG).
struct PagingTables {
    XcpPaging pag;
    XcpSegment segment;
    XcpPage pages[kMaxPages];
};

// XCP_ANSWER when segment and page exist, else the error of the sibling commands.
int checkSegment(const xcpHandle* c, uint8_t segment) {
    return segment < c->paging->maxSegment ? XCP_ANSWER : ERR_SEGMENT_NOT_VALID;
}
int checkPage(const xcpHandle* c, uint8_t segment, uint8_t page) {
    int r = checkSegment(c, segment);
    if (r != XCP_ANSWER) return r;
    return page < c->paging->segments[segment].pageCount ? XCP_ANSWER : ERR_PAGE_NOT_VALID;
}

int copyCalPage(xcpHandle* c, uint8_t srcSeg, uint8_t srcPage, uint8_t dstSeg, uint8_t dstPage) {
    const XcpPage& src = c->paging->segments[srcSeg].pages[srcPage];
    const XcpPage& dst = c->paging->segments[dstSeg].pages[dstPage];
    if (!seramCopyPage(dst.start, src.start, src.size)) {
        SYSLOGX_FLOOD(gFloodCopy, 147,
                      "xcpCopyCalPage(): seramCopyPage returned FALSE: address from 0x%x, address to: 0x%x size: 0x%x",
                      src.start, dst.start, src.size);
        return ERR_ACCESS_DENIED;
    }
    return XCP_ANSWER;
}

// A good store ends the process, so that the stored page takes effect at
// the next start. After a failed one (its cause is logged by the store) the
// device stays up with the working page as it was and a tool may connect
// again and store again: ending now would lose the calibration that is in
// memory only.
void xcpStoreCalReqCallback(int result, uint32_t instance) {
    syslogx(150, "xcpStoreCalReqCallback called, result is 0x%08x", unsigned(result));
    if (instance < XCP_MAX_CONNECTIONS) xcpConnections[instance].sessionStatus &= uint8_t(~XCP_SESSION_STORE_CAL_REQ);
    if (result == 1) {
        taskDelay(sysClkRateGet());
        startPostrun();
        return;
    }
    for (const auto& c : xcpConnections)
        if (c.sessionStatus & XCP_SESSION_STORE_CAL_REQ) return;   // another store still ends the process
    // a shutdown that began meanwhile keeps its own refusal of new sessions
    if (xcp_shutdown_now_flag != 1) xcp_no_reconnect_flag = 0;
    syslogx(148, "xcpStoreCalReqCallback: calibration not stored, the device stays up with its working page");
}

int xcpStoreCalReq(xcpHandle* c) {
    if (!c->paging || !(c->paging->segments[0].mode & XCP_SEGMENT_FREEZE)) return ERR_OUT_OF_RANGE;
    awm_man_stop();
    c->sessionStatus |= XCP_SESSION_STORE_CAL_REQ;
    xcp_no_reconnect_flag = 1;
    int r = copyCalPage(c, 0, kPageWorking, 0, kPageReference);
    if (r != XCP_ANSWER) return r;
    if (seramCopyRefToFlashpage(xcpStoreCalReqCallback, c->instance) != 1) {
        // no store runs: the request is not pending and the tool must hear so
        c->sessionStatus &= uint8_t(~XCP_SESSION_STORE_CAL_REQ);
        return ERR_GENERIC;
    }
    return XCP_ANSWER;
}

}  // namespace

int xcpPagingInit(xcpHandle* c) {
    auto* t = new (std::nothrow) PagingTables;
    if (!t) return 1;
    t->pages[0] = {kPageReference, kRefPageProperties, seramGetVirtualRefpageAddr(), seramGetRefpageSize()};
    t->pages[1] = {kPageWorking, kWorkPageProperties, seramGetVirtualWorkpageAddr(), seramGetWorkpageSize()};
    t->segment = {0, kMaxPages, 0, 0, 0, 0, seramGetVirtualRefpageAddr(), seramGetRefpageSize(), 0, 0, 0, t->pages};
    t->pag = {kMaxSegment, XCP_PAG_FREEZE_SUPPORTED, &t->segment};
    c->paging = &t->pag;
    return 0;
}

void xcpPagingFree(xcpHandle* c) {
    // the tables were made as one block whose first member is XCP_PAG0
    delete reinterpret_cast<PagingTables*>(c->paging);
    c->paging = nullptr;
}

int xcpSetCalPage(xcpHandle* c, uint8_t segment, uint8_t page, uint8_t mode) {
    XcpSegment& s = c->paging->segments[segment];
    if (mode & kModeEcu) {
        uint32_t start = s.pages[page].start;
        if (start == seramGetVirtualRefpageAddr()) seramSetRefpageActive();
        else if (start == seramGetVirtualWorkpageAddr()) seramSetWorkpageActive();
        else return ERR_PAGE_NOT_VALID;
        s.ecuPage = page;
    }
    if (mode & kModeXcp) s.xcpPage = page;
    return XCP_ANSWER;   // bit 7 (all segments): there is only one
}

int xcpCmdSetRequest(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    if (cmd[1] != kSetRequestStoreCal) return ERR_OUT_OF_RANGE;
    if (c->sessionStatus & XCP_SESSION_STORE_CAL_REQ) return ERR_CMD_BUSY;
    c->sessionConfigId = le_get16(cmd + 2);
    int r = xcpStoreCalReq(c);
    if (r != XCP_ANSWER) return r;
    xcpAnswerOk(a);
    return XCP_ANSWER;
}

int xcpCmdSetCalPage(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    if (!(c->resource & XCP_RESOURCE_CALPAG)) return ERR_GENERIC;
    int r = checkPage(c, cmd[2], cmd[3]);
    if (r == XCP_ANSWER) r = xcpSetCalPage(c, cmd[2], cmd[3], cmd[1]);
    if (r == XCP_ANSWER) xcpAnswerOk(a);
    return r;
}

int xcpCmdGetCalPage(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    if (!(c->resource & XCP_RESOURCE_CALPAG)) return ERR_GENERIC;
    int r = checkSegment(c, cmd[2]);
    if (r != XCP_ANSWER) return r;
    const XcpSegment& s = c->paging->segments[cmd[2]];
    if (cmd[1] == kModeEcu) xcpAnswerOk(a, {0, 0, s.ecuPage});
    else if (cmd[1] == kModeXcp) xcpAnswerOk(a, {0, 0, s.xcpPage});
    else return ERR_MODE_NOT_VALID;
    return XCP_ANSWER;
}

int xcpCmdGetPagProcessorInfo(xcpHandle* c, const uint8_t*, unsigned, XcpAnswer* a) {
    if (!c->paging) return ERR_GENERIC;
    xcpAnswerOk(a, {c->paging->maxSegment, c->paging->properties});
    return XCP_ANSWER;
}

int xcpCmdGetSegmentInfo(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    if (!c->paging) return ERR_GENERIC;
    int r = checkSegment(c, cmd[2]);
    if (r != XCP_ANSWER) return r;
    const XcpSegment& s = c->paging->segments[cmd[2]];
    if (cmd[1] == 0) {
        xcpAnswerOk(a, {0, 0, 0});
        le_put32(a->data + 4, cmd[3] == 0 ? xcpConLocalToGlobal(s.start) : s.length);
        a->length = 8;
    } else if (cmd[1] == 1) {
        xcpAnswerOk(a, {s.pageCount, s.addrExtension, s.maxMapping, s.compression, s.encryption});
    } else {
        return ERR_OUT_OF_RANGE;
    }
    return XCP_ANSWER;
}

int xcpCmdGetPageInfo(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    if (!c->paging) return ERR_GENERIC;
    int r = checkPage(c, cmd[2], cmd[3]);
    if (r != XCP_ANSWER) return r;
    xcpAnswerOk(a, {0, c->paging->segments[cmd[2]].pages[cmd[3]].properties, 0});
    return XCP_ANSWER;
}

int xcpCmdSetSegmentMode(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    if (!c->paging) return ERR_GENERIC;
    int r = checkSegment(c, cmd[2]);
    if (r != XCP_ANSWER) return r;
    c->paging->segments[cmd[2]].mode = cmd[1];
    xcpAnswerOk(a);
    return XCP_ANSWER;
}

int xcpCmdGetSegmentMode(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    if (!c->paging) return ERR_GENERIC;
    int r = checkSegment(c, cmd[2]);
    if (r != XCP_ANSWER) return r;
    xcpAnswerOk(a, {0, c->paging->segments[cmd[2]].mode});
    return XCP_ANSWER;
}

int xcpCmdCopyCalPage(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    if (!c->paging) return ERR_GENERIC;
    int r = checkPage(c, cmd[1], cmd[2]);
    if (r == XCP_ANSWER) r = checkPage(c, cmd[3], cmd[4]);
    if (r != XCP_ANSWER) return r;
    if (cmd[3] == 0 && cmd[4] == kPageReference) return ERR_WRITE_PROTECTED;
    r = copyCalPage(c, cmd[1], cmd[2], cmd[3], cmd[4]);
    if (r == XCP_ANSWER) xcpAnswerOk(a);
    return r;
}
