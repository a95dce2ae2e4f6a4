// The calibration data page: the fixed layout of the named calibration
// parameters that a calibration tool downloads into the working page.
//
// Parameters are always read at their reference-page address plus the active
// page offset (seramActiveOffset), so that a page switch takes effect at once;
// the accessors below do exactly that. A new parameter is appended before the
// spare area (and the spare area shrunk by its size), so that stored pages of
// an older layout keep their values.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

constexpr size_t CAL_EPK_OFFSET = 32;
constexpr size_t CAL_EPK_LEN = 33;
constexpr uint32_t CAL_PAGE_MAGIC = 0x54563943;   // "TV9C"

struct CalPage {
    // --- header ---------------------------------------------------------------
    uint32_t magic;                  // CAL_PAGE_MAGIC
    uint16_t layoutVersion;
    uint16_t reserved0;
    char dataSetName[24];
    char EPK[CAL_EPK_LEN];           // identification string, offset 32
    uint8_t reserved1[3];            // aligns the parameters to 4

    // --- system and logging --------------------------------------------------
    uint16_t PCODE;                  // project code
    uint16_t DATADELAY;              // lap-trigger data delay, ms
    uint8_t OUTINGCTR_MODE;          // 1 = test-bench mode
    uint8_t OUTINGCTR_MODE_TESTBENCH_RESET;
    uint8_t MEAS_APP_DEBUG;          // 1 = logger FIFO debug lines
    uint8_t LOGGING2_TARGET_PARTITION;
    uint8_t FILEFRAGMENTATION_SIZE;  // MiB, 0 = none
    uint8_t reserved2;
    uint16_t FILEFRAGMENTATION_TIME; // s, 0 = none
    uint16_t ECU_TYPE;
    uint32_t DEVICE_CONFIG;
    uint32_t MEAS_MAXFILECNT_PART1;
    uint32_t MEAS_MAXFILECNT_PART2;

    // --- CAN ------------------------------------------------------------------
    int8_t CfgMat_CanVersion;        // below 5: CAN set up from these parameters
    uint8_t reserved3;
    uint16_t reserved_can[3];        // formerly single-interface rate limit and start delay

    // --- display brightness curves (y over an ascending x row, percent) -------
    float CL_DISP_BRIGHT_BG[6];
    float CL_DISP_BRIGHT_BG_row_[6];
    float CL_DISP_BRIGHT_COLSAT[8];
    float CL_DISP_BRIGHT_COLSAT_row_[8];
    float CL_DISP_BRIGHT_LED_RED[11];
    float CL_DISP_BRIGHT_LED_RED_row_[11];
    float CL_DISP_BRIGHT_LED_GREEN[11];
    float CL_DISP_BRIGHT_LED_GREEN_row_[11];
    float CL_DISP_BRIGHT_LED_BLUE[11];
    float CL_DISP_BRIGHT_LED_BLUE_row_[11];

    // --- device network debug outputs ---------------------------------------
    uint8_t VIRARI_DBG_PID_1;        // PIDs whose network counters are published, 0 = none
    uint8_t VIRARI_DBG_PID_2;
    uint8_t VIRARI_DBG_PING_PID;     // PID to ping, 0 = off
    uint8_t VIRARI_DBG_PING_FREQ;    // 1: every 100 ms, 2: every 10 ms, else none

    uint8_t spare[1020];             // room for parameters of later layouts

    // --- CAN input and output (used when CfgMat_CanVersion is below 5) -------------
    // Kept behind the spare area: the tables are larger than the spare room.
    float CanOut_rate_limit[2];             // messages per ms per interface, 0 = no limit
    uint16_t CanOut_startdelay[2];          // ms after the start before sending
    uint8_t CfgMat_CanIn_Mb_CanIntf[128];   // 0xFF = mailbox unused
    uint32_t CfgMat_CanIn_Mb_CanID[128];    // bit 31 = extended identifier
    uint16_t CfgMat_CanIn_Ch_MsgInd[1000];  // 0xFFFF = signal unused
    uint8_t CfgMat_CanIn_Ch_data_pos[1000];
    uint8_t CfgMat_CanIn_Ch_RZ_type[1000];
    uint16_t CfgMat_CanIn_Ch_data_format[1000];  // bits 0-5 length, 6 signed, 7 float, 8 big-endian
    uint16_t CfgMat_CanIn_Ch_timeout_ms[1000];   // 0xFFFF = not supervised
    uint32_t CfgMat_CanIn_Ch_RZ_value[1000];
    uint32_t CfgMat_CanIn_Ch_timeout_value[1000];
    uint32_t CfgMat_CanOut_Mb_CanID[128];
    uint8_t CfgMat_CanOut_Mb_CanIntf[128];  // 0xFF = message unused
    uint8_t CfgMat_CanOut_Mb_CanDlc[128];
    int16_t CfgMat_CanOut_Mb_Event[128];    // raster index, -1 = on an event
    uint32_t CfgMat_CanOut_Mb_Event_address[128];
    uint32_t CfgMat_CanOut_Mb_Event_mask[128];
    uint8_t CfgMat_CanOut_Mb_Event_data_type[128];
    uint8_t CfgMat_CanOut_Mb_Event_edge[128];   // 0 rising, 1 falling, 2 both
    float CfgMat_CanOut_Mb_Event_quant_a[128];
    float CfgMat_CanOut_Mb_Event_quant_b[128];
    float CfgMat_CanOut_Mb_Event_quant_c[128];
    float CfgMat_CanOut_Mb_Event_quant_d[128];
    float CfgMat_CanOut_Mb_Event_quant_e[128];
    float CfgMat_CanOut_Mb_Event_quant_f[128];
    uint16_t CfgMat_CanOut_Mb_CounterStart[128];
    uint16_t CfgMat_CanOut_Mb_CounterEnd[128];
    uint8_t CfgMat_CanOut_Mb_ChksumType[128];
    uint8_t CfgMat_CanOut_Mb_ChksumMask[128];   // bit i = byte i of the first 8
    uint16_t CfgMat_CanOut_Ch_MsgInd[400];  // 0xFFFF = entry unused
    uint16_t CfgMat_CanOut_Ch_data_format[400];  // bits 0-5 length, 6 signed, 7 float, 8 big-endian
    uint16_t CfgMat_CanOut_Ch_data_pos[400];     // bits 0-5 start bit, 6-11 right shift
    uint8_t CfgMat_CanOut_Ch_RZ_type[400];
    uint8_t CfgMat_CanOut_Ch_data_type[400];
    uint32_t CfgMat_CanOut_Ch_RZ_value[400];
    uint32_t CfgMat_CanOut_Ch_address[400];
    uint32_t CfgMat_CanOut_Ch_mask[400];
    float CfgMat_CanOut_Ch_fact[400];
    float CfgMat_CanOut_Ch_offs[400];

    // --- CCP master --------------------------------------------------------------------
    // Two instances (one slave each), 20 DAQ lists, 200 channels. Kept behind
    // the spare area like the CAN tables: the block is larger than the spare room.
    uint8_t CfgMat_CcpMr_CANINT[2];          // CAN interface, 0xFF = instance off
    uint8_t CfgMat_CcpMr_BIGENDIAN[2];       // slave byte order: 0 Intel, else Motorola
    uint8_t CfgMat_CcpMr_ACTIVE[2];
    uint8_t CfgMat_CcpMr_MODE[2];            // bit 0 CONNECT/DISCONNECT, 1 SET_S_STATUS,
                                             // 2 GET_S_STATUS keep-alive, 3 DAQ watchdog
    uint32_t CfgMat_CcpMr_CMD_CANID[2];      // bit 31 = extended identifier
    uint32_t CfgMat_CcpMr_CMDRET_CANID[2];
    uint16_t CfgMat_CcpMr_STATIONADDRESS[2];
    uint16_t CfgMat_CcpMr_STARTDELAY[2];     // ms after the application start
    uint32_t CfgMat_CcpMr_Cond1_Adr[2];      // measurement address, 0xFFFFFFFF = none
    uint32_t CfgMat_CcpMr_Cond2_Adr[2];
    uint32_t CfgMat_CcpMr_Cond1_Val[2];
    uint32_t CfgMat_CcpMr_Cond2_Val[2];
    int8_t CfgMat_CcpMr_Cond1_size[2];       // bytes; the sign is dropped
    int8_t CfgMat_CcpMr_Cond2_size[2];
    uint8_t CfgMat_CcpMr_Cond1_Op[2];        // 0 <, 1 <=, 2 >, 3 >=, 4 ==, 5 !=, else true
    uint8_t CfgMat_CcpMr_Cond2_Op[2];
    uint8_t CfgMat_CcpMr_CondComb_Op[2];     // 0 AND, 1 OR, 2 XOR, else condition 1 alone
    uint8_t reserved_ccpmr[2];
    uint8_t CfgMat_CcpMr_DAQ_MRID[20];       // instance of the DAQ list
    uint8_t CfgMat_CcpMr_DAQ_ID[20];         // the slave's DAQ list number
    uint8_t CfgMat_CcpMr_DAQ_ODT_NUM[20];    // ODTs reserved
    uint8_t CfgMat_CcpMr_DAQ_EVT_CHAN[20];
    uint16_t CfgMat_CcpMr_DAQ_EVT_PRESC[20];
    uint32_t CfgMat_CcpMr_DAQ_CANID[20];     // identifier of the slave's DAQ messages
    uint32_t CfgMat_CcpMr_CHAN_ADR[200];     // address in the slave
    uint8_t CfgMat_CcpMr_CHAN_ADEXTR[200];
    uint8_t CfgMat_CcpMr_CHAN_SIZE[200];     // 1, 2 or 4
    uint8_t CfgMat_CcpMr_CHAN_DAQ[200];      // DAQ list index
    uint8_t reserved_ccpmr_chan[200];
    uint32_t CfgMat_CcpMr_CHAN_TIMEOUT[200]; // ms, 0xFFFFFFFF = none
    uint32_t CfgMat_CcpMr_CHAN_DEFAULT[200];

    // --- XCP master (per instance 0-7, DAQ row 0-31, channel 0-999) ---------------------
    // Kept behind the CAN tables: the channel tables are larger than the spare room.
    uint8_t CfgMat_XcpMr_ACTIVE[8];          // 255 no instance, 0 built but not started, else started
    uint8_t CfgMat_XcpMr_TransportLayer[8];  // 0 UDP, 1 CAN
    uint8_t CfgMat_XcpMr_BIGENDIAN[8];       // non-zero: the slave is big-endian
    uint8_t CfgMat_XcpMr_CANINTF[8];
    uint32_t CfgMat_XcpMr_UDP_ADDRESS[8];    // IPv4 address of the slave (0x7F000001 = 127.0.0.1)
    uint16_t CfgMat_XcpMr_UDP_PORT[8];
    uint16_t CfgMat_XcpMr_STARTDELAY[8];     // ms after the application start
    uint32_t CfgMat_XcpMr_CMD_CANID[8];      // bit 31: 29-bit identifier
    uint32_t CfgMat_XcpMr_CMDRET_CANID[8];
    uint32_t CfgMat_XcpMr_Cond_Adr[8];       // start-condition value, 0xFFFFFFFF none
    int8_t CfgMat_XcpMr_Cond_size[8];        // 1, 2 or 4 (a negative size counts by its magnitude)
    uint8_t CfgMat_XcpMr_Cond_Op[8];         // 0 <, 1 <=, 2 >, 3 >=, 4 ==, 5 !=, else always
    uint8_t CfgMat_XcpMr_TIMESTAMP_SIZE[8];  // 0, 1, 2 or 4 bytes
    uint8_t CfgMat_XcpMr_TIMESTAMP_RESOLUTION[8];   // XCP time unit 0-12
    int32_t CfgMat_XcpMr_Cond_Val[8];
    uint32_t CfgMat_XcpMr_TIMESTAMP_TICKS[8];       // ticks per unit, not 0
    uint8_t CfgMat_XcpMr_DAQ_MRID[32];       // instance of the row, 255 unused
    uint8_t CfgMat_XcpMr_DAQ_ID[32];
    uint8_t CfgMat_XcpMr_DAQ_ODT_NUM[32];
    uint8_t CfgMat_XcpMr_DAQ_EVT_CHAN[32];
    uint32_t CfgMat_XcpMr_DAQ_CANID[32];     // CAN id of the row's DTOs (CAN only)
    uint16_t CfgMat_XcpMr_DAQ_EVT_PRESC[32];
    uint8_t CfgMat_XcpMr_CHAN_DAQ[1000];     // DAQ row of the channel, 255 unused
    uint8_t CfgMat_XcpMr_CHAN_ADEXTR[1000];
    uint8_t CfgMat_XcpMr_CHAN_SIZE[1000];    // 1, 2 or 4
    uint32_t CfgMat_XcpMr_CHAN_ADR[1000];    // address of the value in the slave
    uint32_t CfgMat_XcpMr_CHAN_DEFAULT[1000];   // value at start and after a time-out
    uint32_t CfgMat_XcpMr_CHAN_TIMEOUT[1000];   // ms, 0xFFFFFFFF never
};
static_assert(offsetof(CalPage, EPK) == CAL_EPK_OFFSET, "EPK must sit at offset 32");

// Fills a page with the defaults of the dataset.
void calPageDefaults(CalPage* page);

// The calibration page as seen at reference address + active offset. Its
// values are read with calLoad, never plainly (see below).
const CalPage& calActive();
// Virtual (calibration memory) address of a parameter in the reference page;
// use as `calRefAddr(offsetof(CalPage, PCODE))`.
uint32_t calRefAddr(size_t memberOffset);

// The one way to read a calibration value: a page copy (a store), a page
// switch or a download may write the calibration memory at any moment, byte
// by byte with atomic stores, while the tasks read it every cycle. A value
// of 1, 2, 4 or 8 bytes (a float too) is one relaxed atomic load, so it is
// never caught half written; a table caught halfway through a copy may still
// mix old and new values, as on the car.
template <typename T>
inline T calLoad(const T& field) {
    static_assert(std::is_trivially_copyable_v<T> &&
                      (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8),
                  "a calibration value is a word; tables are read with calLoadTable");
    if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
        return __atomic_load_n(&field, __ATOMIC_RELAXED);
    } else {
        using Word = std::conditional_t<sizeof(T) == 1, uint8_t,
                     std::conditional_t<sizeof(T) == 2, uint16_t,
                     std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
        return std::bit_cast<T>(__atomic_load_n(reinterpret_cast<const Word*>(&field), __ATOMIC_RELAXED));
    }
}

// A table (a curve, its row) copied value by value, each one whole.
template <typename T, size_t N>
inline void calLoadTable(T (&out)[N], const T (&field)[N]) {
    for (size_t i = 0; i < N; ++i) out[i] = calLoad(field[i]);
}

// Bytes of the calibration memory (a text such as the EPK), each loaded
// atomically; the text may mix old and new bytes while a copy runs.
inline void calLoadBytes(void* dst, const void* src, size_t len) {
    auto* d = static_cast<uint8_t*>(dst);
    const auto* s = static_cast<const uint8_t*>(src);
    for (size_t i = 0; i < len; ++i) d[i] = __atomic_load_n(s + i, __ATOMIC_RELAXED);
}

inline uint16_t PCODE() { return calLoad(calActive().PCODE); }
inline uint16_t DATADELAY() { return calLoad(calActive().DATADELAY); }
inline uint8_t OUTINGCTR_MODE() { return calLoad(calActive().OUTINGCTR_MODE); }
inline uint8_t FILEFRAGMENTATION_SIZE() { return calLoad(calActive().FILEFRAGMENTATION_SIZE); }
inline uint16_t FILEFRAGMENTATION_TIME() { return calLoad(calActive().FILEFRAGMENTATION_TIME); }
inline uint8_t MEAS_APP_DEBUG() { return calLoad(calActive().MEAS_APP_DEBUG); }
