// Names of the XCP command and error codes for the log.
#include "xcp/xcp_codes.h"

namespace {
// Command names from 0xC8 (index 0) to 0xFF.
constexpr const char* kCommands[0x38] = {
    "PROGRAM_VERIFY",        // C8
    "PROGRAM_MAX",           // C9
    "PROGRAM_NEXT",          // CA
    "PROGRAM_FORMAT",        // CB
    "PROGRAM_PREPARE",       // CC
    "GET_SECTOR_INFO",       // CD
    "GET_PGM_PROCESSOR_INFO",// CE
    "PROGRAM_RESET",         // CF
    "PROGRAM",               // D0
    "PROGRAM_CLEAR",         // D1
    "PROGRAM_START",         // D2
    "ALLOC_ODT_ENTRY",       // D3
    "ALLOC_ODT",             // D4
    "ALLOC_DAQ",             // D5
    "FREE_DAQ",              // D6
    "GET_DAQ_EVENT_INFO",    // D7
    "GET_DAQ_LIST_INFO",     // D8
    "GET_DAQ_RESOLUTION_INFO",// D9
    "GET_DAQ_PROCESSOR_INFO",// DA
    "READ_DAQ",              // DB
    "GET_DAQ_CLOCK",         // DC
    "START_STOP_SYNCH",      // DD
    "START_STOP_DAQ_LIST",   // DE
    "GET_DAQ_LIST_MODE",     // DF
    "SET_DAQ_LIST_MODE",     // E0
    "WRITE_DAQ",             // E1
    "SET_DAQ_PTR",           // E2
    "CLEAR_DAQ_LIST",        // E3
    "COPY_CAL_PAGE",         // E4
    "GET_SEGMENT_MODE",      // E5
    "SET_SEGMENT_MODE",      // E6
    "GET_PAGE_INFO",         // E7
    "GET_SEGMENT_INFO",      // E8
    "GET_PAG_PROCESSOR_INFO",// E9
    "GET_CAL_PAGE",          // EA
    "SET_CAL_PAGE",          // EB
    "MODIFY_BITS",           // EC
    "SHORT_DOWNLOAD",        // ED
    "DOWNLOAD_MAX",          // EE
    "DOWNLOAD_NEXT",         // EF
    "DOWNLOAD",              // F0
    "USER_CMD",              // F1
    "TRANSPORT_LAYER_CMD",   // F2
    "BUILD_CHECKSUM",        // F3
    "SHORT_UPLOAD",          // F4
    "UPLOAD",                // F5
    "SET_MTA",               // F6
    "UNLOCK",                // F7
    "GET_SEED",              // F8
    "SET_REQUEST",           // F9
    "GET_ID",                // FA
    "GET_COMM_MODE_INFO",    // FB
    "SYNCH",                 // FC
    "GET_STATUS",            // FD
    "DISCONNECT",            // FE
    "CONNECT",               // FF
};
}  // namespace

const char* xcpCommandCodeToString(uint8_t code) {
    return code >= 0xC8 ? kCommands[code - 0xC8] : "UNKNOWN";
}

const char* xcpErrorCodeToString(uint8_t code) {
    switch (code) {
    case ERR_CMD_SYNCH: return "CMD_SYNCH";
    case ERR_CMD_BUSY: return "CMD_BUSY";
    case ERR_DAQ_ACTIVE: return "DAQ_ACTIVE";
    case ERR_PGM_ACTIVE: return "PGM_ACTIVE";
    case ERR_CMD_UNKNOWN: return "CMD_UNKNOWN";
    case ERR_CMD_SYNTAX: return "CMD_SYNTAX";
    case ERR_OUT_OF_RANGE: return "OUT_OF_RANGE";
    case ERR_WRITE_PROTECTED: return "WRITE_PROTECTED";
    case ERR_ACCESS_DENIED: return "ACCESS_DENIED";
    case ERR_ACCESS_LOCKED: return "ACCESS_LOCKED";
    case ERR_PAGE_NOT_VALID: return "PAGE_NOT_VALID";
    case ERR_MODE_NOT_VALID: return "MODE_NOT_VALID";
    case ERR_SEGMENT_NOT_VALID: return "SEGMENT_NOT_VALID";
    case ERR_SEQUENCE: return "SEQUENCE";
    case ERR_DAQ_CONFIG: return "DAQ_CONFIG";
    case ERR_MEMORY_OVERFLOW: return "MEMORY_OVERFLOW";
    case ERR_GENERIC: return "GENERIC";
    case ERR_VERIFY: return "VERIFY";
    case 0xFF: return "OK";
    default: return "UNKNOWN";
    }
}
