// CCP master internals shared by its source files, the tests and the
// benchmark: instance, DAQ-list and ODT records, the queues' message
// layouts and the steps of start-up, protocol and data acquisition.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "can/ccpmaster/ccpmr.h"
#include "host/os/os.h"
#include "measurement/calparams.h"
#include "measurement/gateway.h"
#include "measurement/start_condition.h"
#include "platform/can_front.h"
#include "measurement/meas_master.h"

constexpr unsigned CCPMR_ODT_BYTES = 7;        // data bytes of a DAQ message behind the PID
constexpr unsigned CCPMR_DAQ_LINKS = 16;       // measurement lists per DAQ list
constexpr unsigned CCPMR_MEAS_LINKS = 128;     // measurement lists in all
constexpr unsigned CCPMR_QUEUE_DEPTH = 128;
constexpr int CCPMR_ANSWER_WAIT = 25;          // ticks (+10) the instance task waits for an answer
constexpr unsigned CCPMR_ERRWAIT_CYCLES = 100; // 10 ms cycles in status 6
constexpr unsigned CCPMR_KEEPALIVE_CYCLES = 200;
constexpr unsigned CCPMR_DAQ_WATCHDOG_CYCLES = 100;

// Command codes.
enum : uint8_t {
    CCP_CONNECT = 0x01,
    CCP_START_STOP = 0x06,
    CCP_DISCONNECT = 0x07,
    CCP_SET_S_STATUS = 0x0C,
    CCP_GET_S_STATUS = 0x0D,
    CCP_GET_DAQ_SIZE = 0x14,
    CCP_SET_DAQ_PTR = 0x15,
    CCP_WRITE_DAQ = 0x16,
    CCP_CRM = 0xFF,          // command return message
    CCP_EVENT = 0xFE,        // event message
};

// MODE flags.
enum : uint8_t {
    CCPMR_MODE_CONNECT = 0x01,
    CCPMR_MODE_S_STATUS = 0x02,
    CCPMR_MODE_KEEPALIVE = 0x04,
    CCPMR_MODE_DAQ_WATCHDOG = 0x08,
};

// Instance queue message (12 bytes): an answer, or a request of the supervisor.
enum : uint32_t { CCPMR_MSG_ANSWER = 0, CCPMR_MSG_START = 1, CCPMR_MSG_KEEPALIVE = 2, CCPMR_MSG_STOP = 3 };
struct CcpQueueMsg {
    uint32_t type;
    uint8_t data[8];
};
static_assert(sizeof(CcpQueueMsg) == 12);

// DAQ task message (16 bytes): the DAQ list by its configuration index (never
// a pointer), the reception time stamp and the DAQ message.
struct CcpDaqMsg {
    uint8_t daq;
    uint8_t len;
    uint16_t reserved;
    uint32_t timeStamp;
    uint8_t data[8];
};
static_assert(sizeof(CcpDaqMsg) == 16);

// One ODT: where each data byte of its DAQ message goes.
struct CcpOdt {
    uint8_t* dest[CCPMR_ODT_BYTES];     // byte addresses in ccpmr_measdata
    uint16_t chan[CCPMR_ODT_BYTES];     // channels in the order of their bytes
    uint8_t used = 0;                   // bytes used, at most 7
    uint8_t nchan = 0;
};

struct CcpMaster;
struct CcpDaqList;

// A measurement list linked to a DAQ list: its record in the measurement
// manager and its values as (channel, size) in slot order.
struct CcpListLink {
    struct Value {
        uint16_t chan;
        uint8_t size;
    };
    CcpDaqList* daq = nullptr;          // null: the link is free
    uint32_t listId = 0;
    meas_master_list* rec = nullptr;
    std::vector<Value> values;
    unsigned bytes = 0;                 // slot bytes: time stamp and values
};

struct CcpDaqList {
    CcpListLink* lists[CCPMR_DAQ_LINKS] = {};   // linked measurement lists (under gLinkMx)
    uint32_t canIdWord = 0;             // as configured (bit 31: extended), sent to the slave
    uint32_t canId = 0;
    uint8_t canFormat = 0;
    CcpMaster* master = nullptr;
    uint32_t cycleStamp = 0;            // time stamp of the cycle's first ODT (DAQ task)
    CcpOdt* odt = nullptr;              // odtReserved records
    uint16_t prescaler = 1;
    uint8_t ptrElem = 0, ptrOdt = 0;    // configuration pointer (instance task)
    uint8_t daqNo = 0;                  // the slave's DAQ list number
    uint8_t cfgIndex = 0;               // d
    uint8_t evtChan = 0;
    uint8_t odtReserved = 0;            // ODTs configured
    uint8_t odtUsedCfg = 0;             // ODTs holding channels
    std::atomic<uint8_t> odtCount{0};   // ODTs the slave offers, at most odtReserved
    std::atomic<uint8_t> odtUsed{0};    // ODTs in use for this session
    std::atomic<uint8_t> firstPid{0};
    std::atomic<bool> started{false};
};

// A start condition on a measured value, fed by a gateway list.
struct CcpCond {
    uint32_t list = 0;                  // gateway list handle
    std::atomic<uint32_t> value{0};
    std::atomic<bool> valid{false};
    uint8_t size = 0;
};

struct CcpMaster {
    MSG_Q_ID queue = nullptr;
    std::atomic<uint32_t> queued{0}, lost{0};   // queue messages sent and dropped
    unsigned errWait = 0;               // 10 ms cycles in status 6 (supervisor)
    unsigned keepAlive = 0;             // 10 ms cycles since the last keep-alive (supervisor)
    SEM_ID startSem = nullptr;
    CcpDaqList* daq = nullptr;
    unsigned nDaq = 0;
    int txHandle = -1;
    CcpCond cond[2];
    bool condConfigured[2] = {false, false};
    uint16_t stationAddr = 0;
    std::atomic<uint16_t> daqWatchdog{0};
    unsigned instance = 0;
    unsigned errCount = 0;              // failed attempts in a row (instance task)
    unsigned daqIdx = 0;                // DAQ list being configured
    std::atomic<uint8_t> state{3}, next{3};
    bool waitDisconnect = false;
    uint8_t ctr = 0;                    // command counter
    bool bigEndian = false;
    uint8_t canIntf = 0;
    std::atomic<uint8_t> status{CCPMR_ST_READY};
    TASK_ID task = nullptr;
    uint8_t floodRx = 0, floodDaq = 0, floodTask = 0;

    // A calibration tool may change it at any time (one atomic byte).
    uint8_t mode() const { return calLoad(calActive().CfgMat_CcpMr_MODE[instance]); }
};

// ---- shared state ------------------------------------------------------------------
extern CcpMaster* ccpmr_handle[CCPMR_INSTANCES];
// DAQ records by configuration index d (null: not configured).
extern CcpDaqList* ccpmr_daqByIndex[CCPMR_DAQS];
extern uint32_t ccpmr_measdata[CCPMR_CHANNELS];
extern std::atomic<uint32_t> ccpmr_timeout[CCPMR_CHANNELS];
extern std::atomic<uint32_t> ccpmr_measerr;
extern std::mutex ccpmr_linkMx;   // the measurement list links

// ---- value slots (ccpmr_data.cpp) ------------------------------------------------
void ccpmr_data_ini();
void ccpmr_data_10ms();
void ccpmr_reset_timeout(unsigned chan);
// Publishes an instance's status in the signal page.
void ccpmr_setStatus(CcpMaster* m, uint8_t status);

// ---- configuration (ccpmr_config.cpp) ---------------------------------------------
// Builds the ODTs of a DAQ list from its channels; false (logged) when a
// channel finds no room.
bool daq_init(CcpDaqList* d, bool bigEndian);
// Record, CAN bindings and DAQ records of an instance; false (logged) on failure.
bool ccpmr_handler_ini(CcpMaster* m);

// ---- protocol (ccpmr_statemachine.cpp) --------------------------------------------
// 0 go on at once, CCPMR_ANSWER_WAIT wait for an answer, -1 idle.
int ccpmr_statemachine_send(CcpMaster* m);
// 1 when the answer moved the state machine on (run it), 0 when it was
// ignored or refused (logged; the pending command then times out).
int ccpmr_statemachine_receive(CcpMaster* m, const uint8_t* msg);

// ---- tasks and CAN callbacks (ccpmr_task.cpp, ccpmr_daq.cpp) ------------------------
int ccpmrTaskCreate(CcpMaster* m);
// False when the task was given up in a system call: the instance is kept.
bool ccpmrTaskDelete(CcpMaster* m);
int ccpmrDaqTaskCreate();
// False when the task was given up in a system call: its queue and the
// DAQ lists are kept.
bool ccpmrDaqTaskDelete();
void ccpmr_RxHandler(void* user, uint32_t id, uint8_t format, uint32_t lenFlags, const uint8_t* data);
void ccpmr_DaqHandler(void* user, uint32_t id, uint8_t format, uint32_t lenFlags, const uint8_t* data);
// Stores one DAQ message of the DAQ list; on its last ODT serves the linked
// measurement lists (DAQ task).
void ccpmr_daq_store(CcpDaqList* d, const CcpDaqMsg& msg);
// Messages the DAQ handler could not queue.
uint32_t ccpmr_daqLost();

// ---- supervisor and start conditions (ccpmr_supervisor.cpp) --------------------------
int ccpmr_meas_ini();
void ccpmr_meas_end();

// ---- measurement lists (ccpmr_measlist.cpp) -------------------------------------------
extern CcpListLink meas_daq_mem[CCPMR_MEAS_LINKS];
int ccpmr_checkMeasList(const uint32_t* elems, unsigned lenBytes, void** daq, int byteSwap);
meas_master_unlink_fn ccpmr_measlist_create(uint32_t listId, void* daq);
void ccpmr_measlist_destroy(uint32_t listId);
// Writes one slot into every measurement list linked to the DAQ list whose
// prescaler is due (DAQ task, after the DAQ list's last ODT).
void ccpmr_serve_lists(CcpDaqList* d);
// Releases every link (shutdown).
void ccpmr_measlist_reset();
