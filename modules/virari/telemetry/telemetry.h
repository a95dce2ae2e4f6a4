// Telemetry to the radio modem: a compact binary frame of the telemetry
// measurement's values, sent on the serial line "/tyCo/0" or by UDP, and a
// JSON status line exchanged with the modem once a second.
#pragma once

#include <cstddef>
#include <cstdint>

#include "logging/config/meas_config.h"
#include "logging/app/meas_runtime.h"

// The telemetry settings taken over at start, plus the word the start sets.
struct TeleConfig {
    TeleInfo info;
    uint32_t active;
};

// Values of telemetry_state.
enum TeleState : uint8_t {
    TELE_STATE_NOT_STARTED = 0,
    TELE_STATE_SENDING_RW37 = 1,
    TELE_STATE_MODEM_BUSY = 2,
    TELE_STATE_SENDING_GSM = 3,
    TELE_STATE_UDP_NO_SOCKET = 4,
    TELE_STATE_SENDING_UDP = 5,
    TELE_STATE_INACTIVE = 6,
};

// Measurable variables of the telemetry (in the signal page once published).
struct TeleSignals {
    uint32_t tele_modem_plmn;
    uint32_t tele_modem_cid;
    uint16_t tele_fastblock_dt;
    uint16_t tele_slowblock_dt;
    uint16_t tele_data_rate;
    uint16_t tele_data_rate_kBit;
    uint16_t tele_modem_ethIn;
    uint16_t tele_modem_ethOut;
    uint16_t tele_modem_serIn;
    uint16_t tele_modem_serOut;
    uint16_t tele_modem_wanIn;
    uint16_t tele_modem_wanOut;
    uint8_t telemetry_state;
    uint8_t telemetry_active;
    uint8_t tele_modem_band;
    uint8_t tele_modem_cpuLoad;
    uint8_t tele_modem_ping;
    int8_t tele_modem_rsrp;
};
// The variables (the signal page's copy once published, a private one before).
TeleSignals& teleSignals();
// Takes room in the signal page and names the variables in the catalogue.
int tele_publishSignals();

// Process start: both outputs to none, spawns the frame task "r_tele".
void tele_app_ini();
// Measurement start of the telemetry measurement m02: 1 when the telemetry
// is configured and running, else 0.
int tele_app_start(meas_t* m);
// Stops sending and clears the telemetry's state variables; closes the UDP
// socket and "/tyCo/0" opened by the start.
void tele_app_stop();
// Runs the frame function; its next period in ms, 1000 when there is none.
int tele_func();
// Builds and sends one frame; the next period in ms.
int korvaTele_func();

// Frames that could not be written to "/tyCo/0" when they were due (the
// line did not drain) and were dropped; counts from the process start.
uint32_t tele_serialFramesDropped();

// Ends the telemetry's tasks and closes everything they opened (process end
// and tests).
void tele_app_exit();

// Ports of the JSON exchange with the modem: status to the modem's port
// 10001, answers received on the device's port 10002. Tests may move them.
constexpr uint16_t TELE_JSON_TX_PORT = 10001;
constexpr uint16_t TELE_JSON_RX_PORT = 10002;
void tele_setJsonPortsForTest(uint16_t txPort, uint16_t rxPort);

// Frame layout and period formulas, shared by the builder and the start.
constexpr unsigned TELE_HEADER_LEN = 6;
constexpr unsigned TELE_TIMESTAMP_LEN = 4;
constexpr unsigned TELE_CRC_LEN = 2;
constexpr unsigned TELE_MAX_L = 255;   // the length field is one byte
// Value bytes of one block (record size without its time stamp).
uint32_t tele_blockValueBytes(const MeasBlock* b);
// Value bytes of all blocks of a slot table entry.
uint32_t tele_slotValueBytes(unsigned slot);
// Serial period: transmission time of the frame at the baud rate plus the
// pause and 2 ms, at least 40 ms.
int tele_serialPeriod(uint32_t frameLenWithCrc, uint32_t baud, uint8_t pause);
// UDP period from the configured data rate (bits per ms), at least 10 ms;
// 1000 when the data rate is 0.
int tele_udpPeriod(uint32_t fastValueBytes, uint32_t slowValueBytes, uint32_t slowIds, uint32_t dataRate);

// Clamps.
int32_t limit_int(int32_t value, int32_t low, int32_t high);
uint32_t limit_uint(uint32_t value, uint32_t low, uint32_t high);
