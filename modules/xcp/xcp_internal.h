// The connection record of the XCP slave and what its parts share.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>

#include "host/os/os.h"
#include "measurement/seram.h"
#include "xcp/xcp_codes.h"

struct XcpEth;

// ---- calibration paging --------------------------------------------------------------
struct XcpPage {
    uint8_t number;
    uint8_t properties;
    uint32_t start;        // virtual address
    uint32_t size;
};

struct XcpSegment {
    uint8_t number;
    uint8_t pageCount;     // MAX_PAGES
    uint8_t ecuPage;       // page active for the ECU
    uint8_t xcpPage;       // page active for XCP
    uint8_t mode;          // bit 0 FREEZE
    uint8_t addrExtension;
    uint32_t start;        // virtual address of the reference page
    uint32_t length;
    uint8_t compression;
    uint8_t encryption;
    uint8_t maxMapping;
    XcpPage* pages;
};

struct XcpPaging {
    uint8_t maxSegment;
    uint8_t properties;    // PAG_PROPERTIES
    XcpSegment* segments;
};

constexpr uint8_t XCP_PAG_FREEZE_SUPPORTED = 0x01;
constexpr uint8_t XCP_SEGMENT_FREEZE = 0x01;

// ---- data acquisition -----------------------------------------------------------------
constexpr unsigned XCP_MAX_DAQ = 4;
constexpr unsigned XCP_MAX_EVENT_CHANNEL = 4;
constexpr unsigned XCP_DTO_HEADER_FIRST = 7;   // ODT, list (u16), time stamp (u32)
constexpr unsigned XCP_DTO_HEADER = 3;          // ODT, list (u16)

struct XcpOdtEntry {
    uint8_t index;
    uint32_t address;       // as given by the tool, own PID in bits 24-31
    uint8_t extension;
    uint8_t size;
    uint8_t bitOffset;
    SeramMeasHandle handle;
};

struct XcpOdt {
    uint8_t number;
    uint8_t entryCount;
    uint16_t bytesUsed;
    XcpOdtEntry* entries;
};

enum XcpRunState : uint32_t { DAQ_STOPPED = 0, DAQ_RUNNING_STATE = 1, DAQ_SELECTED = 2 };

struct XcpDaqList {
    uint16_t number;
    uint8_t odtCount;
    uint8_t priority;
    uint8_t prescaler;
    uint8_t prescalerCounter;
    uint8_t mode;           // kept as given
    uint32_t runState;
    XcpOdt* odts;
};

struct XcpEvent {
    uint8_t properties;
    uint8_t maxDaqList;
    uint8_t reserved;
    uint8_t timeCycle;
    uint8_t timeUnit;
    uint8_t priority;
    XcpDaqList* list;       // attached list, nullptr when none
};

struct XcpDaqPtr {
    uint16_t list;
    uint8_t odt;
    uint8_t entry;
};

enum XcpAllocState : uint8_t { ALLOC_NONE = 0, ALLOC_LISTS = 1, ALLOC_ODTS = 2, ALLOC_ENTRIES = 3 };

struct XcpDaqProcessor {
    uint16_t maxEventChannel;
    uint16_t maxDaq;
    uint8_t minDaq;
    uint8_t properties;
    uint8_t keyByte;
    uint8_t granularityDaq;
    uint8_t maxEntrySizeDaq;
    uint8_t granularityStim;
    uint8_t maxEntrySizeStim;
    uint8_t timestampMode;
    uint16_t timestampTicks;
    XcpEvent events[XCP_MAX_EVENT_CHANNEL];
    uint16_t listCount;
    uint8_t allocState;
    XcpDaqList* lists[XCP_MAX_DAQ];
    XcpDaqPtr ptr;
};

// ---- the connection --------------------------------------------------------------------
enum XcpConnState : uint32_t { XCP_DISCONNECTED = 0, XCP_CONNECTED = 2 };

constexpr uint8_t XCP_RESOURCE_CALPAG = 0x01;
constexpr uint8_t XCP_RESOURCE_DAQ = 0x04;
constexpr uint8_t XCP_SESSION_STORE_CAL_REQ = 0x01;
constexpr uint8_t XCP_SESSION_DAQ_RUNNING = 0x40;

struct xcpHandle;
using XcpCommandProcessor = int (*)(xcpHandle* c, const uint8_t* datagram, unsigned length);

struct xcpHandle {
    uint32_t instance;
    XcpEth* transport;
    MSG_Q_ID txQueue;
    XcpCommandProcessor commandProcessor;
    std::atomic<uint32_t> state;
    uint8_t resource;
    uint8_t commModeBasic;
    uint8_t commModeOptional;
    std::atomic<uint8_t> sessionStatus;
    uint16_t sessionConfigId;
    uint32_t keepAliveTimeout;        // seconds
    TIMER_ID keepAliveTimer;
    std::atomic<uint8_t> masterPresent;
    bool keepAliveTimerError;
    SEM_ID daqMutex;
    XcpDaqProcessor daq;
    uint32_t mta;
    uint8_t mtaExtension;
    XcpPaging* paging;
};

constexpr unsigned XCP_MAX_CONNECTIONS = 1;
extern xcpHandle xcpConnections[XCP_MAX_CONNECTIONS];
extern std::atomic<unsigned> xcp_cp_num;
extern std::atomic<uint8_t> xcp_pid;
extern std::atomic<uint8_t> xcp_no_reconnect_flag;
extern std::atomic<uint8_t> xcp_shutdown_now_flag;
extern std::atomic<uint8_t> xcp_comms_reset_is_active;

// ---- command handlers --------------------------------------------------------------------
// A handler answers into the buffer and returns XCP_ANSWER, XCP_NO_ANSWER or
// an error code (0x00 to 0xFF) that becomes the answer {0xFE, code}.
constexpr int XCP_ANSWER = 0x100;
constexpr int XCP_NO_ANSWER = 0x101;

struct XcpAnswer {
    uint8_t data[XCP_MAX_CTO + 1];
    unsigned length;
};

using XcpCommandFn = int (*)(xcpHandle* c, const uint8_t* cmd, unsigned len, XcpAnswer* a);

// Fills the answer with {0xFF, bytes...}.
void xcpAnswerOk(XcpAnswer* a, std::initializer_list<uint8_t> rest = {});

// Protocol (xcp_protocol.cpp)
int xcpProtocolLayerInit(xcpHandle* c, uint32_t instance);
int xcpCommandProcessor(xcpHandle* c, const uint8_t* datagram, unsigned length);
void xcpConnect(xcpHandle* c);
void xcpDisconnect(xcpHandle* c);
void xcpProtocolReset(xcpHandle* c);
// Puts a CTO packet into the transmit queue; 1 queued, 0 lost (logged).
int xcpSendCto(xcpHandle* c, const uint8_t* packet, unsigned length);
uint32_t xcpTimestamp();

// Address check and conversion of SET_MTA, SHORT_UPLOAD, SHORT_DOWNLOAD and
// WRITE_DAQ (xcp_memory.cpp): XCP_ANSWER with the local address, or an error.
int xcpValidateMTA_Address(uint8_t extension, uint32_t address);
int xcpAddressConv(xcpHandle* c, uint8_t extension, uint32_t address, uint32_t* local);
uint32_t xcpConLocalToGlobal(uint32_t local);

// Keep-alive (xcp_keepalive.cpp)
void xcpMasterPresentStartTimer(xcpHandle* c);
void xcpMasterPresentStopTimer(xcpHandle* c);
void xcpMasterPresentDeleteTimer(xcpHandle* c);

// Paging (xcp_paging.cpp)
int xcpPagingInit(xcpHandle* c);
void xcpPagingFree(xcpHandle* c);
int xcpSetCalPage(xcpHandle* c, uint8_t segment, uint8_t page, uint8_t mode);

// Data acquisition (xcp_daq.cpp)
void xcpDaqInitConstants(xcpHandle* c);
// Releases every list; with the mutex held by the caller when locked is true.
int xcpFreeDAQ(xcpHandle* c);
int xcpStartStopSynch(xcpHandle* c, uint8_t mode);
void xcpSendCpDAQ(xcpHandle* c, int event);

// Command handlers, one per served command.
int xcpCmdSetMta(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdUpload(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdShortUpload(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdBuildChecksum(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdDownload(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdShortDownload(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdUserCmd(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdSetRequest(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdSetCalPage(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdGetCalPage(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdGetPagProcessorInfo(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdGetSegmentInfo(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdGetPageInfo(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdSetSegmentMode(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdGetSegmentMode(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdCopyCalPage(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdGetDaqProcessorInfo(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdGetDaqResolutionInfo(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdGetDaqListInfo(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdGetDaqEventInfo(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdFreeDaq(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdAllocDaq(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdAllocOdt(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdAllocOdtEntry(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdSetDaqPtr(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdWriteDaq(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdSetDaqListMode(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdStartStopDaqList(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdStartStopSynch(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
int xcpCmdGetDaqClock(xcpHandle*, const uint8_t*, unsigned, XcpAnswer*);
