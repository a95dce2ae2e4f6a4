// CAN input: configured receive messages decoded into the value slots
// memory_canin[0..999] of the signal page.
//
// The configuration tables are filled once at start-up (from "cfg:/CAN.xml"
// or from calibration parameters) and compiled by CanIn_init into byte
// commands per message; the CAN front end then calls CanInRx_msg for every
// received frame on the 1 ms raster task, and CanIn_supervisor_1ms replaces
// values that were not received within their time-out on the same task.
#pragma once

#include <cstdint>

constexpr unsigned CANIN_MAILBOXES = 128;
constexpr unsigned CANIN_SIGNALS = 1000;
constexpr uint32_t CANIN_INTF_UNUSED = 0xFF;
constexpr uint32_t CAN_ID_UNUSED = 0xFFFFFFFFu;
constexpr uint32_t CAN_ID_EXTENDED = 0x80000000u;   // bit 31 of a configured identifier
constexpr uint32_t CANIN_MSG_UNUSED = 0xFFFF;
constexpr uint32_t CANIN_NO_TIMEOUT = 0xFFFF;
constexpr unsigned CAN_MAX_PAYLOAD = 64;

enum CanInValueKind : uint32_t { CANIN_SIGNED = 0, CANIN_UNSIGNED = 1, CANIN_FLOAT = 2 };
enum CanInRcType : uint32_t { CANIN_SIG = 0, CANIN_MUX = 1, CANIN_MSIG = 2 };

struct CanInMailBox {
    uint32_t intf;     // CAN interface; CANIN_INTF_UNUSED = mailbox unused
    uint32_t canId;    // bit 31 set: extended identifier
    uint8_t fdf;       // CAN FD flag of the file (kept, not used by decoding)
};

struct CanInSignal {
    uint32_t msgIdx;        // mailbox index; CANIN_MSG_UNUSED = signal unused
    uint32_t sBit;          // little-endian: LSB position; big-endian: MSB position
    uint32_t len;           // bits, 1..64
    uint32_t valueKind;     // CanInValueKind
    uint32_t bigEndian;
    uint32_t RCType;        // CanInRcType
    uint32_t RCValue;       // row of a multiplexed signal
    uint32_t timeout;       // ms; CANIN_NO_TIMEOUT = not supervised
    uint32_t timeoutValue;  // replacement value, also the value before the first frame
};

extern CanInMailBox CanInMailBoxConf[CANIN_MAILBOXES];
extern CanInSignal CanInSignalConf[CANIN_SIGNALS];

// All mailboxes and signals unused.
void CanIn_initConfig();
// Fills the tables from the CfgMat_CanIn_* calibration parameters.
void CanIn_CfgMat_configure();
// Compiles the tables and registers the messages with the CAN front end.
// 0 on success (also for an empty configuration), 1 on a configuration
// error, lack of memory or a refused registration (each logged).
uint16_t CanIn_init();
// Receive callback of every configured message (user = its compiled record).
void CanInRx_msg(void* user, uint32_t id, uint8_t format, uint32_t lenFlags, const uint8_t* data);
// Age counting and replacement values; last in every 1 ms tick.
void CanIn_supervisor_1ms();

// Bytes a field of len bits at start bit sBit touches (little-endian view).
unsigned cmd_len(uint32_t sBit, uint32_t len);
// True once CanIn_init succeeded or found an empty configuration.
bool CanIn_initialized();
// Drops the compiled configuration and the tables (tests).
void CanIn_resetForTest();
