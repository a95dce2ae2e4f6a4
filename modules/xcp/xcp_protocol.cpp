// The slave's protocol layer: connection state, the command processor and the
// session commands. Memory transfer, paging and DAQ commands have files of
// their own.
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

#include "measurement/calparams.h"
#include "platform/appman.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"
#include "xcp/xcp_errno.h"
#include "xcp/xcp_eth.h"
#include "xcp/xcp_internal.h"
#include "xcp/xcp_slave.h"

xcpHandle xcpConnections[XCP_MAX_CONNECTIONS];
std::atomic<unsigned> xcp_cp_num{0};
std::atomic<uint8_t> xcp_pid{0};
std::atomic<uint8_t> xcp_no_reconnect_flag{0};
std::atomic<uint8_t> xcp_shutdown_now_flag{0};
std::atomic<uint8_t> xcp_comms_reset_is_active{0};

namespace {

constexpr uint8_t kProtocolLayerVersion = 1;
constexpr uint8_t kTransportLayerVersion = 1;
constexpr uint8_t kDriverVersion = 0x10;
constexpr uint32_t kKeepAliveSeconds = 4;
constexpr const char* kIdAsciiText = "VOZ";
// Where the description file of the device can be found (GET_ID type 3).
constexpr const char* kIdDescriptionUrl = "http://tav9.local/description/tav9.a2l";

std::atomic<uint32_t (*)()> gTimeSource{nullptr};

// Raster calls (xcpSendDAQ, xcp_100ms) in progress. A call counts itself
// before it reads the connection count; xcpTerminate zeroes the count and
// then waits for these, so no raster still holds a connection whose
// transport, queue or mutex it frees.
std::atomic<int> gRasterCalls{0};
struct RasterCall {
    RasterCall() { ++gRasterCalls; }
    ~RasterCall() { --gRasterCalls; }
    RasterCall(const RasterCall&) = delete;
    RasterCall& operator=(const RasterCall&) = delete;
};
uint8_t gFloodConnect = 0, gFloodConnected = 0, gFloodDisconnected = 0, gFloodError = 0, gFloodSource = 0;

// ---- session commands ---------------------------------------------------------------
int answerConnect(xcpHandle* c, XcpAnswer* a) {
    xcpAnswerOk(a, {c->resource, c->commModeBasic, uint8_t(XCP_MAX_CTO), uint8_t(XCP_MAX_DTO & 0xFF),
                    uint8_t(XCP_MAX_DTO >> 8), kProtocolLayerVersion, kTransportLayerVersion});
    return XCP_ANSWER;
}

int cmdConnect(xcpHandle* c, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    if (xcp_no_reconnect_flag == 1) return XCP_NO_ANSWER;
    if (cmd[1] != 0) {
        SYSLOGX_FLOOD(gFloodConnect, 147, "XCP Connect: User defined mode not supported");
        return XCP_NO_ANSWER;
    }
    xcpEthTakeMaster(c);
    xcpConnect(c);
    return answerConnect(c, a);
}

int cmdDisconnect(xcpHandle* c, const uint8_t*, unsigned, XcpAnswer* a) {
    xcpAnswerOk(a);
    xcpSendCto(c, a->data, a->length);
    xcpDisconnect(c);
    return XCP_NO_ANSWER;
}

int cmdGetStatus(xcpHandle* c, const uint8_t*, unsigned, XcpAnswer* a) {
    uint16_t id = c->sessionConfigId;
    xcpAnswerOk(a, {c->sessionStatus.load(), 0, 0, uint8_t(id), uint8_t(id >> 8)});
    xcpSendCto(c, a->data, a->length);
    xcpMasterPresentStartTimer(c);
    return XCP_NO_ANSWER;
}

int cmdSynch(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*) { return ERR_CMD_SYNCH; }

int cmdGetCommModeInfo(xcpHandle* c, const uint8_t*, unsigned, XcpAnswer* a) {
    xcpAnswerOk(a, {0, c->commModeOptional, 0, 0, 0, 0, kDriverVersion});
    return XCP_ANSWER;
}

int cmdGetId(xcpHandle*, const uint8_t* cmd, unsigned, XcpAnswer* a) {
    const char* text = "";
    size_t len = 0;
    char epk[CAL_EPK_LEN + 1];
    switch (cmd[1]) {
    case 0: text = kIdAsciiText; len = strlen(text); break;
    case 1: seramCopyEPK(epk, sizeof epk); text = epk; len = strlen(text); break;
    case 2: case 4: break;
    case 3: text = kIdDescriptionUrl; len = strlen(text); break;
    default: return ERR_OUT_OF_RANGE;
    }
    if (len > XCP_MAX_CTO - 8) len = XCP_MAX_CTO - 8;
    xcpAnswerOk(a, {1, 0, 0});
    le_put32(a->data + 4, uint32_t(len));
    std::memcpy(a->data + 8, text, len);
    a->length = 8 + unsigned(len);
    return XCP_ANSWER;
}

int cmdUnknown(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*) { return ERR_CMD_UNKNOWN; }

// ---- the command table ------------------------------------------------------------------
// Each served command with the bytes its fixed fields take; a shorter packet
// is refused before the handler runs.
struct CommandRow {
    XcpCommandFn fn;
    uint8_t minLength;
};

struct CommandTable {
    CommandRow rows[256];
    CommandTable() {
        for (auto& r : rows) r = {cmdUnknown, 1};
        rows[CC_CONNECT] = {cmdConnect, 2};
        rows[CC_DISCONNECT] = {cmdDisconnect, 1};
        rows[CC_GET_STATUS] = {cmdGetStatus, 1};
        rows[CC_SYNCH] = {cmdSynch, 1};
        rows[CC_GET_COMM_MODE_INFO] = {cmdGetCommModeInfo, 1};
        rows[CC_GET_ID] = {cmdGetId, 2};
        rows[CC_SET_REQUEST] = {xcpCmdSetRequest, 4};
        rows[CC_SET_MTA] = {xcpCmdSetMta, 8};
        rows[CC_UPLOAD] = {xcpCmdUpload, 2};
        rows[CC_SHORT_UPLOAD] = {xcpCmdShortUpload, 8};
        rows[CC_BUILD_CHECKSUM] = {xcpCmdBuildChecksum, 8};
        rows[CC_USER_CMD] = {xcpCmdUserCmd, 4};
        rows[CC_DOWNLOAD] = {xcpCmdDownload, 2};
        rows[CC_SHORT_DOWNLOAD] = {xcpCmdShortDownload, 8};
        rows[CC_SET_CAL_PAGE] = {xcpCmdSetCalPage, 4};
        rows[CC_GET_CAL_PAGE] = {xcpCmdGetCalPage, 3};
        rows[CC_GET_PAG_PROCESSOR_INFO] = {xcpCmdGetPagProcessorInfo, 1};
        rows[CC_GET_SEGMENT_INFO] = {xcpCmdGetSegmentInfo, 4};
        rows[CC_GET_PAGE_INFO] = {xcpCmdGetPageInfo, 4};
        rows[CC_SET_SEGMENT_MODE] = {xcpCmdSetSegmentMode, 3};
        rows[CC_GET_SEGMENT_MODE] = {xcpCmdGetSegmentMode, 3};
        rows[CC_COPY_CAL_PAGE] = {xcpCmdCopyCalPage, 5};
        rows[CC_SET_DAQ_PTR] = {xcpCmdSetDaqPtr, 6};
        rows[CC_WRITE_DAQ] = {xcpCmdWriteDaq, 8};
        rows[CC_SET_DAQ_LIST_MODE] = {xcpCmdSetDaqListMode, 8};
        rows[CC_START_STOP_DAQ_LIST] = {xcpCmdStartStopDaqList, 4};
        rows[CC_START_STOP_SYNCH] = {xcpCmdStartStopSynch, 2};
        rows[CC_GET_DAQ_CLOCK] = {xcpCmdGetDaqClock, 1};
        rows[CC_GET_DAQ_PROCESSOR_INFO] = {xcpCmdGetDaqProcessorInfo, 1};
        rows[CC_GET_DAQ_RESOLUTION_INFO] = {xcpCmdGetDaqResolutionInfo, 1};
        rows[CC_GET_DAQ_LIST_INFO] = {xcpCmdGetDaqListInfo, 4};
        rows[CC_GET_DAQ_EVENT_INFO] = {xcpCmdGetDaqEventInfo, 4};
        rows[CC_FREE_DAQ] = {xcpCmdFreeDaq, 1};
        rows[CC_ALLOC_DAQ] = {xcpCmdAllocDaq, 4};
        rows[CC_ALLOC_ODT] = {xcpCmdAllocOdt, 5};
        rows[CC_ALLOC_ODT_ENTRY] = {xcpCmdAllocOdtEntry, 6};
    }
};
const CommandTable kTable;

void sendResult(xcpHandle* c, uint8_t code, int result, XcpAnswer* a) {
    if (result == XCP_NO_ANSWER) return;
    if (result != XCP_ANSWER) {
        SYSLOGX_FLOOD(gFloodError, 147, "XCP Command %s: Error %s", xcpCommandCodeToString(code),
                      xcpErrorCodeToString(uint8_t(result)));
        a->data[0] = XCP_PID_ERR;
        a->data[1] = uint8_t(result);
        a->length = 2;
    }
    xcpSendCto(c, a->data, a->length);
}

void stateDisconnected(xcpHandle* c, const uint8_t* pkt, unsigned len) {
    if (pkt[0] != CC_CONNECT || xcp_no_reconnect_flag == 1) return;
    if (len < kTable.rows[CC_CONNECT].minLength) return;   // not a CONNECT a tool sends
    XcpAnswer a;
    sendResult(c, CC_CONNECT, cmdConnect(c, pkt, len, &a), &a);
}

void stateConnected(xcpHandle* c, const uint8_t* pkt, unsigned len) {
    const uint8_t code = pkt[0];
    // a session belongs to the master that opened it; only a CONNECT may take it over
    if (code != CC_CONNECT && !xcpEthFromMaster(c)) {
        SYSLOGX_FLOOD(gFloodSource, 147, "XCP Command %s ignored: not from the connected master",
                      xcpCommandCodeToString(code));
        return;
    }
    const CommandRow& row = kTable.rows[code];
    XcpAnswer a;
    int result = len < row.minLength ? int(ERR_CMD_SYNTAX) : row.fn(c, pkt, len, &a);
    sendResult(c, code, result, &a);
}

}  // namespace

void xcpAnswerOk(XcpAnswer* a, std::initializer_list<uint8_t> rest) {
    a->data[0] = XCP_PID_RES;
    unsigned i = 1;
    for (uint8_t b : rest) a->data[i++] = b;
    a->length = i;
}

int xcpSendCto(xcpHandle* c, const uint8_t* packet, unsigned length) {
    XcpTxMsg msg;
    if (length > XCP_MAX_CTO) length = XCP_MAX_CTO;
    msg.length = length;
    std::memcpy(msg.packet(), packet, length);
    std::memset(msg.packet() + length, 0, XCP_TX_PACKET_MAX - length);
    std::memset(msg.frame, 0, XCP_FRAME_HEADER);
    return xcpTxFrame(c, &msg);
}

uint32_t xcpTimestamp() {
    uint32_t (*fn)() = gTimeSource.load(std::memory_order_relaxed);
    return fn ? fn() : time_getTimestamp();
}

void xcp_setTimeSource(uint32_t (*now)()) { gTimeSource = now; }

void xcpProtocolReset(xcpHandle* c) {
    static uint8_t floodTake = 0, floodGive = 0;
    if (semTake(c->daqMutex, WAIT_FOREVER) != OK) {
        SYSLOGX_FLOOD(floodTake, 147, "xcpProtocolReset: could not take daq semaphore (%s)", xcpErrnoText(errno).c_str());
        return;
    }
    c->state = XCP_DISCONNECTED;
    c->sessionStatus = 0;
    c->daq.allocState = ALLOC_NONE;
    if (semGive(c->daqMutex) != OK)
        SYSLOGX_FLOOD(floodGive, 147, "xcpProtocolReset: could not give daq semaphore (%s)", xcpErrnoText(errno).c_str());
}

void xcpConnect(xcpHandle* c) {
    c->state = XCP_CONNECTED;
    xcpEthReset(c);   // before the answer: it carries counter 1
    xcpMasterPresentStopTimer(c);
    SYSLOGX_FLOOD(gFloodConnected, 150, "XCP: CONNECTED");
}

void xcpDisconnect(xcpHandle* c) {
    xcpProtocolReset(c);
    xcpMasterPresentStopTimer(c);
    xcpFreeDAQ(c);
    SYSLOGX_FLOOD(gFloodDisconnected, 150, "XCP: DISCONNECTED");
}

int xcpProtocolLayerInit(xcpHandle* c, uint32_t instance) {
    c->daqMutex = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (!c->daqMutex) {
        syslogx(147, "xcpDAQMutexInit(): semMCreate request failed for cpNum %u", unsigned(instance));
        return 1;
    }
    c->instance = instance;
    c->commandProcessor = xcpCommandProcessor;
    c->resource = instance == 0 ? (XCP_RESOURCE_CALPAG | XCP_RESOURCE_DAQ) : XCP_RESOURCE_DAQ;
    c->commModeBasic = 0x80;
    c->commModeOptional = 0x00;
    c->sessionConfigId = 0;
    c->keepAliveTimer = nullptr;
    c->keepAliveTimerError = false;
    c->masterPresent = 0;
    c->mta = 0;
    c->mtaExtension = 0;
    xcpDaqInitConstants(c);
    xcpProtocolReset(c);
    if (c->resource & XCP_RESOURCE_CALPAG) {
        if (xcpPagingInit(c) != 0) return 1;
        // every start of the process runs on the reference page
        xcpSetCalPage(c, 0, 0, 0x83);
    }
    c->keepAliveTimeout = kKeepAliveSeconds;
    return xcpQueueInit(c);
}

int xcpCommandProcessor(xcpHandle* c, const uint8_t* datagram, unsigned length) {
    if (xcp_shutdown_now_flag == 1 || length <= XCP_FRAME_HEADER) return 0;
    const uint8_t* pkt = datagram + XCP_FRAME_HEADER;
    unsigned len = length - XCP_FRAME_HEADER;
    switch (c->state.load()) {
    case XCP_DISCONNECTED: stateDisconnected(c, pkt, len); break;
    case XCP_CONNECTED: stateConnected(c, pkt, len); break;
    default: xcpProtocolReset(c); break;
    }
    return 0;
}

int xcpInitializeOn(uint32_t ipv4) {
    xcp_no_reconnect_flag = 0;
    xcp_shutdown_now_flag = 0;
    xcp_pid = AppMan_getPID();
    uint16_t port = AppMan_getXCPPort();
    xcpHandle* c = &xcpConnections[0];
    if (xcpProtocolLayerInit(c, 0) != 0) return 1;
    if (xcpEthInit(c, ipv4, port) != 0) return 1;
    ++xcp_cp_num;
    return 0;
}

int xcpInitialize() { return xcpInitializeOn(INADDR_ANY); }

unsigned xcpConnectionCount() { return xcp_cp_num; }

uint8_t xcpMasterPresent() { return xcpConnections[0].masterPresent; }

uint32_t xcpConnectionGetState(unsigned instance) {
    return instance < xcp_cp_num ? xcpConnections[instance].state.load() : 3u;
}

void xcp_activate_xcp_comms_reset(int flag) { xcp_comms_reset_is_active = flag == 1; }

void xcp_shutdown_now() {
    xcp_no_reconnect_flag = 1;
    xcp_shutdown_now_flag = 1;
    static const uint8_t kTerminated[7] = {XCP_PID_EV, XCP_EV_SESSION_TERMINATED, 'R', 'E', 'S', 'E', 'T'};
    for (unsigned i = 0; i < xcp_cp_num; ++i) {
        xcpHandle* c = &xcpConnections[i];
        if (c->state != XCP_CONNECTED) continue;
        xcpSendCto(c, kTerminated, sizeof kTerminated);
        xcpStartStopSynch(c, 0);
    }
}

void xcpTerminate() {
    unsigned n = xcp_cp_num.exchange(0);
    while (gRasterCalls > 0) taskDelay(1);
    for (unsigned i = 0; i < XCP_MAX_CONNECTIONS; ++i) {
        xcpHandle* c = &xcpConnections[i];
        if (i < n || c->transport) xcpEthStop(c);
        xcpMasterPresentDeleteTimer(c);
        if (c->daqMutex) {
            xcpFreeDAQ(c);
            semDelete(c->daqMutex);
            c->daqMutex = nullptr;
        }
        xcpQueueDelete(c);
        xcpPagingFree(c);
        c->state = XCP_DISCONNECTED;
        c->sessionStatus = 0;
        c->masterPresent = 0;
    }
    xcp_no_reconnect_flag = 0;
    xcp_shutdown_now_flag = 0;
    xcp_comms_reset_is_active = 0;
}

void xcp_100ms() {
    RasterCall call;
    for (unsigned i = 0; i < xcp_cp_num; ++i) xcpEth_100ms(&xcpConnections[i]);
}

void xcpSendDAQ(int event) {
    RasterCall call;
    for (unsigned i = 0; i < xcp_cp_num; ++i) xcpSendCpDAQ(&xcpConnections[i], event);
}
