// Records and helpers shared by the parts of the XCP master.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/os/os.h"
#include "measurement/calparams.h"
#include "measurement/gateway.h"
#include "measurement/start_condition.h"
#include "platform/can_front.h"
#include "xcp/master/xcpmr.h"

constexpr unsigned XCPMR_ODT_MAX_ENTRIES = 255;
constexpr unsigned XCPMR_ODT_BYTES_CAN = 7;     // 8-byte frame less the PID
constexpr unsigned XCPMR_ODT_BYTES_UDP = 247;
constexpr unsigned XCPMR_DAQ_LIST_SLOTS = 16;
constexpr unsigned XCPMR_MEAS_PAIRS = 128;
constexpr unsigned XCPMR_PID_MAP = 252;
constexpr unsigned XCPMR_CAN_RX_IDS = 33;
constexpr unsigned XCPMR_QUEUE_MSGS = 128;
constexpr unsigned XCPMR_PACKET_MAX = 256;      // one packet of a UDP datagram
constexpr int XCPMR_ANSWER_TICKS = 110;        // wait for an answer, system clock ticks
constexpr unsigned XCPMR_MAX_TIMEOUTS = 3;

// Send states.
enum : uint32_t {
    XS_INIT = 0, XS_STOP = 1, XS_IDLE = 2, XS_CONNECT = 3, XS_GET_STATUS = 4, XS_PROC_INFO = 5,
    XS_SET_PTR = 6, XS_WRITE_DAQ = 7, XS_DISCONNECT_STOP = 8, XS_DISCONNECT_START = 9, XS_FREE_DAQ = 10,
    XS_ALLOC_DAQ = 11, XS_ALLOC_ODT = 12, XS_ALLOC_ENTRY = 13, XS_LIST_MODE = 14, XS_START_LIST = 15,
    XS_CLOCK_START = 16, XS_SYNCH = 17, XS_KEEPALIVE = 18, XS_CLOCK_RESYNC = 19, XS_STATES = 20,
};
// Results of the send machine.
constexpr int XSM_GO_ON = 0;
constexpr int XSM_WAIT = 100;
constexpr int XSM_IDLE = -1;

// Tags of the instance task's queue.
enum : uint32_t { XT_ANSWER = 0, XT_START = 1, XT_KEEPALIVE = 2, XT_RESYNC = 3, XT_STOP = 4 };

struct XcpmrTaskMsg {
    uint32_t tag;
    uint32_t len;                     // bytes of the packet
    uint8_t packet[XCPMR_PACKET_MAX];
};

// One value of an ODT: its channel, size and place in the ODT's data.
struct XcpmrEntry {
    uint16_t channel;
    uint8_t size;
    uint8_t offset;
};

struct XcpmrOdt {
    XcpmrEntry entries[XCPMR_ODT_MAX_ENTRIES];
    uint8_t bytesUsed = 0;
    uint8_t entryCount = 0;
};

struct XcpmrInstance;

struct XcpmrDaq {
    // Linked measurement lists, under the master's list mutex.
    meas_master_list* lists[XCPMR_DAQ_LIST_SLOTS] = {};
    uint32_t listIds[XCPMR_DAQ_LIST_SLOTS] = {};
    uint32_t canId = 0;
    std::atomic<uint32_t> timeStamp{0};   // of the current cycle, 0.1 ms
    XcpmrInstance* inst = nullptr;
    std::vector<XcpmrOdt> odts;           // ODT_NUM of them
    uint16_t prescaler = 0;
    uint16_t listNo = 0;                  // DAQ list number on the slave
    uint8_t daqId = 0;
    uint8_t row = 0;
    uint8_t evtChan = 0;
    uint8_t odtCap = 0;
    uint8_t odtsInUse = 0;
    uint8_t firstOdt = 0;
    std::atomic<uint8_t> active{0};
    std::atomic<uint8_t> firstPid{0};
};

// Answer to GET_DAQ_PROCESSOR_INFO.
struct XcpmrProcInfo {
    uint8_t pid = 0;
    uint8_t properties = 0;
    uint16_t maxDaq = 0;
    uint16_t maxEventChannel = 0;
    uint8_t minDaq = 0;
    uint8_t keyByte = 0;
};

// PID map entry: bit 24 used, bits 16-23 ODT, bits 0-15 index into daqs.
// Written by the instance task, read by the receive paths.
inline uint32_t xcpmrPidEntry(unsigned daq, unsigned odt) { return 1u << 24 | (odt & 0xFF) << 16 | (daq & 0xFFFF); }

using XcpmrSendFn = int (*)(XcpmrInstance* h, const uint8_t* packet, unsigned len);

struct XcpmrInstance {
    MSG_Q_ID queue = nullptr;
    std::atomic<uint32_t> msgCount{0};
    std::atomic<uint32_t> sendFailCount{0};
    // Tick counts of the 10 ms control (r10ms only).
    unsigned errRestartTicks = 0;
    unsigned keepAliveTicks = 0;
    unsigned clockTicks = 100;
    std::atomic<int32_t> tsOffset{0};
    // Send machine (instance task only).
    std::atomic<uint32_t> sendState{XS_IDLE};   // read by the 10 ms control
    uint32_t nextState = XS_IDLE;
    uint8_t daqCursor = 0, odtCursor = 0, entryCursor = 0;
    uint8_t nextDaq = 0, nextOdt = 0, nextEntry = 0;   // cursors once the answer is in
    // Transport.
    uint8_t transport = 0;                  // 0 UDP, 1 CAN
    int sock = -1;
    sockaddr_in slave{};
    uint16_t udpCtr = 0;
    std::vector<uint8_t> rxDatagram;        // UDP datagram being split
    size_t rxPos = 0, rxLen = 0;
    int canTx = -1;
    uint8_t canIntf = 0;
    uint32_t canRxIds[XCPMR_CAN_RX_IDS] = {};
    uint8_t canRxCount = 0;
    XcpmrSendFn send = nullptr;
    std::vector<std::unique_ptr<XcpmrDaq>> daqs;
    std::vector<uint16_t> listToDaq;        // slave DAQ list number -> index into daqs
    // Start condition.
    uint32_t condList = 0;
    std::atomic<int32_t> condValue{0};
    std::atomic<uint8_t> condValid{0};
    uint8_t condConfigured = 0;
    uint8_t condSize = 0;
    float tsFactor = 1.0f;
    std::atomic<uint16_t> noDataTicks{0};
    uint8_t instance = 0;
    uint8_t timeoutCount = 0;
    uint8_t ignoreTimeout = 0;
    uint8_t answerCount = 0;
    uint8_t bigEndian = 0;
    uint8_t nDaq = 0;
    uint8_t nDaqOdt = 0;
    uint8_t tsSize = 0;
    uint8_t tsUsed = 0;
    std::atomic<uint8_t> keyByte{0};        // DAQ_KEY_BYTE in force for the DTOs
    XcpmrProcInfo info;
    std::atomic<uint32_t> pidMap[XCPMR_PID_MAP] = {};
    // Tasks.
    TASK_ID task = nullptr;
    TASK_ID rxTask = nullptr;
    std::atomic<bool> ending{false};
};

// ---- state shared by the parts ---------------------------------------------------
// Published once an instance is fully built; read by the gateway's hooks and
// the receive paths.
extern std::atomic<XcpmrInstance*> xcpmr_handle[XCPMR_INSTANCES];
extern std::atomic<uint32_t> xcpmr_dropCount;
extern std::atomic<uint32_t> xcpmr_rejectCount;
extern std::atomic<uint32_t> xcpmr_measerr;

// Calibration parameters at reference address + active offset.
inline const CalPage& xcpmrCal() { return calActive(); }

// ---- helpers ------------------------------------------------------------------------
// Swaps the 4 bytes when the slave is big-endian.
uint32_t adr_conv(uint32_t value, int bigEndian);
// The low 16 bits, swapped when the slave is big-endian.
uint16_t word_conv(uint32_t value, int bigEndian);

// ---- channel data (xcpmr_data.cpp) ----------------------------------------------------
// Allocates the slots and counters in the signal page (once) and names them.
bool xcpmr_data_alloc();
void xcpmr_data_ini();
void xcpmr_data_10ms();
uint8_t* xcpmr_slot(unsigned channel);        // channel below 1000
void xcpmr_set_status(unsigned instance, uint8_t status);
void xcpmr_set_timestamp_state(unsigned instance, uint8_t state);
void xcpmr_set_wander(unsigned instance, int32_t wander);
// Forgets the slots (the signal page's room goes with the next seram_init).
void xcpmr_data_release();
// The time source: application time in ms and the local time stamp (0.1 ms).
uint32_t xcpmr_appl_ms();
uint32_t xcpmr_local_ts();
void xcpmr_setClock(uint32_t (*applMs)(), uint32_t (*localTs)());

// ---- channel packing (xcpmr_pack.cpp) ---------------------------------------------------
bool daq_init(XcpmrInstance* h, XcpmrDaq* daq);
bool daq_add_chan(XcpmrInstance* h, XcpmrDaq* daq, unsigned channel);

// ---- state machines (xcpmr_send.cpp, xcpmr_receive.cpp) -------------------------------------
int xcpmr_statemachine_send(XcpmrInstance* h);
// XRM_* below.
int xcpmr_statemachine_receive(XcpmrInstance* h, const uint8_t* packet, unsigned len);
constexpr int XRM_IGNORED = 0;   // no positive answer: nothing changed
constexpr int XRM_GO_ON = 1;     // answered, run the send machine
constexpr int XRM_DONE = 2;      // answered, nothing more to send
constexpr int XRM_ERROR = 3;     // the slave refused the command
constexpr int XRM_STRAY = 4;     // an answer while none was awaited

// ---- DTOs (xcpmr_dto.cpp) ------------------------------------------------------------------
// What the DAQ task gets of a DTO.
struct XcpmrDaqMsg {
    uint8_t instance;
    uint8_t odt;
    uint16_t daq;         // index into the instance's DAQ records
    uint32_t timeStamp;   // of the DAQ cycle, 0.1 ms
    uint16_t len;
    uint8_t data[XCPMR_PACKET_MAX];
};
// Identifies a DTO's DAQ and ODT and checks both against the configuration;
// false (counted as rejected) for a DTO that names none or is too short.
bool xcpmr_decode_dto(XcpmrInstance* h, const uint8_t* p, unsigned len, bool fromCan, XcpmrDaqMsg* out);
// Sorts one packet from the slave: CTOs to the instance task, DTOs to the DAQ
// task. fromCan: received on a CAN id (DTOs then carry no slave time stamp
// and are taken in every state).
void xcpmr_packet(XcpmrInstance* h, const uint8_t* p, unsigned len, bool fromCan);
int xcpmrDaqTaskCreate();
void xcpmrDaqTaskEnd();
// Writes an ODT's values into their slots (the DAQ task's work, also used by
// the benchmark).
void xcpmr_store_odt(const XcpmrInstance* h, const XcpmrOdt& odt, const uint8_t* data);
// Serves the DAQ's linked lists after its last ODT.
void xcpmr_serve_lists(XcpmrDaq* daq);

// ---- measurement lists and start condition (xcpmr_meas.cpp) ---------------------------------
XcpmrDaq* get_daq_handle_by_index(unsigned channel);
void xcpmr_meas_ini();
void xcpmr_meas_end();
void xcpmr_meas_lock();
void xcpmr_meas_unlock();

// ---- transports (xcpmr_udp.cpp, xcpmr_can.cpp) ----------------------------------------------
bool xcpmr_UdpInit(XcpmrInstance* h, uint32_t address, uint16_t port);
int xcpmr_UdpSendPacket(XcpmrInstance* h, const uint8_t* packet, unsigned len);
// The next packet of the slave into buf (room XCPMR_PACKET_MAX); its length,
// 0 when the datagram held nothing usable, -1 when the receive failed.
int xcpmr_UdpReceivePacket(XcpmrInstance* h, uint8_t* buf);
void xcpmr_UdpClose(XcpmrInstance* h);
bool xcpmr_CanInit(XcpmrInstance* h);
bool xcpmr_CanDaqInit(XcpmrInstance* h, XcpmrDaq* daq);
int xcpmr_CanSendPacket(XcpmrInstance* h, const uint8_t* packet, unsigned len);

// ---- tasks (xcpmr_task.cpp) -------------------------------------------------------------------
int xcpmrTaskCreate(XcpmrInstance* h);
int xcpmrTplRxTaskCreate(XcpmrInstance* h);
// Queues a message for the instance task without waiting; false when the
// queue is full: the message is dropped, counted and logged with the
// caller's text (one %s for the error) and flood counter.
bool xcpmr_post(XcpmrInstance* h, uint32_t tag, const uint8_t* packet, unsigned len, const char* failText,
                std::atomic<uint8_t>& flood);
