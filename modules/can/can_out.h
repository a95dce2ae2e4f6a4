// CAN output: up to 128 messages composed of measured values, constants,
// multiplexor rows, a counter and a checksum, sent in a raster's period or on
// an edge of an event signal, with a rate limit and a start delay per
// interface.
//
// The tables are filled once at start-up (from "cfg:/CAN.xml" or from
// calibration parameters); CanOut_init compiles them into packing records,
// subscribes the values at the measurement gateway and registers the
// transmit messages. The raster tasks then call CanOut_send_message with
// their raster index, the 10 ms task CanOut_event_message before it.
#pragma once

#include <cstdint>

#include "measurement/types.h"

constexpr unsigned CANOUT_INTERFACES = 2;
constexpr unsigned CANOUT_MAILBOXES = 128;
constexpr unsigned CANOUT_ENTRIES = 400;
constexpr uint32_t CANOUT_INTF_UNUSED = 0xFF;
constexpr uint32_t CANOUT_MSG_UNUSED = 0xFFFF;
constexpr int32_t CANOUT_EVENT_BASED = -1;

enum CanOutKind : uint32_t {
    CANOUT_SIGNAL = 0,
    CANOUT_MUX = 1,
    CANOUT_MSIGNAL = 2,
    CANOUT_COUNTER = 3,
    CANOUT_CHECKSUM = 4,
    CANOUT_CONSTANT = 5,
    CANOUT_MCONSTANT = 6,
};

struct CanOutIntf {
    float rateLimt;        // messages per ms, 0 = no limit
    uint16_t startDelay;   // ms after the application start before sending
};

struct CanOutMailBox {
    uint32_t intf;         // CANOUT_INTF_UNUSED = unused
    uint32_t canId;        // bit 31 set: extended identifier
    uint8_t canDlc;
    uint8_t length;        // payload bytes of canDlc
    uint8_t fdf, brs;
    int32_t event;         // raster index, CANOUT_EVENT_BASED for an event message
    // event description (event messages)
    uint8_t edge;          // 0 rising, 1 falling, 2 both
    measaddr_t evAddr;     // 0 or 0xFFFFFFFF: none
    uint32_t evMask;
    uint8_t evType;        // gateway element type
    int32_t quant[6];      // quant_a .. quant_f
};

struct CanOutSignal {
    uint32_t kind;         // CanOutKind
    uint32_t msgIdx;       // CANOUT_MSG_UNUSED = unused
    measaddr_t addr;       // PID in bits 24..31
    uint8_t dataType;      // gateway element type of the value
    uint16_t sBit;
    uint8_t len;
    uint8_t bigEndian, isSigned, isFloat;
    uint32_t mask;         // 0: the whole value
    float fact, offs;      // raw = (value - offs) / fact
    uint8_t rightShift;
    uint32_t RCValue;
    uint32_t constant;     // kinds 5 and 6
    uint8_t chkType;       // kind 4
    uint64_t chkSumByteMask;
    uint16_t start, end;   // kind 3
};

extern CanOutIntf CanOutIntfConf[CANOUT_INTERFACES];
extern CanOutMailBox CanOutMailBoxConf[CANOUT_MAILBOXES];
extern CanOutSignal CanOutSignalConf[CANOUT_ENTRIES];

// All messages and entries unused, no rate limit, no start delay.
void CanOut_initConfig();
// Fills the tables from the CfgMat_CanOut_* calibration parameters.
void CanOut_CfgMat_configure();
// Compiles, subscribes and registers; 0 on success, 1 on a configuration
// error or lack of memory (logged).
int CanOut_init();
// Composes and sends the messages of a periodic raster (0..9); returns 1.
int CanOut_send_message(int raster);
// Sends the event messages whose event bit changed (10 ms task).
void CanOut_event_message();
// Nothing is sent afterwards.
void CanOut_stop();

// Checksum of type over the bytes 0..len-1 named by byteMask (bit i = byte i;
// bytes from 32 on never count, byte 31 also for any bit of the upper word).
uint8_t canOut_calcChksum(uint8_t type, uint64_t byteMask, unsigned len, const uint8_t* buf);
// Frames sent per interface since CanOut_init.
uint32_t CanOut_sentCount(unsigned intf);
// Ends the gateway lists and forgets the compiled configuration (tests).
void CanOut_resetForTest();
