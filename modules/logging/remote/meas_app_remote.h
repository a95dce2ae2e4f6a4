// Logging remote control: desktop tools on the vehicle network connect
// through a service of the kernel side, which forwards each connect and
// disconnect as a 5-byte command into "/MeasAppRCTRL_RX" and waits for a
// 5-byte reply on "/MeasAppRCTRL_TX". The commands become requests to the
// logging application; a client that stopped logging is watched by ping, and
// when it is gone logging is restarted (or re-initialised) without it.
#pragma once

#include <cstddef>
#include <cstdint>

// Command codes (byte 0 of a command; bytes 1-4 the client's IPv4 address in
// network order).
enum : uint8_t {
    RCTRL_FLASH = 0xD1,
    RCTRL_STATUS_CLR = 0xD2,
    RCTRL_STATUS_SET = 0xD3,
    RCTRL_PELVAR_CONNECT = 0xE0,
    RCTRL_VELMARIX_CONNECT = 0xE1,
    RCTRL_TRANSFER_CONNECT = 0xE2,
    RCTRL_PELVAR_DISCONNECT = 0xED,
    RCTRL_VELMARIX_DISCONNECT = 0xEE,
    RCTRL_TRANSFER_DISCONNECT = 0xEF,
};
constexpr size_t RCTRL_MSG_SIZE = 5;
constexpr uint8_t MEAS_REPLY_OK = 0x00;
constexpr uint8_t MEAS_REPLY_ERROR = 0xFF;

// Clears the supervision state and starts the tasks "r_rCtrlLost" and
// "r_rCtrlLisQ"; 1 on success, 0 when a task could not be started.
int meas_app_remote_ini();
// Ends both tasks and closes the queues (shutdown, tests).
void meas_app_remote_exit();

// Requests: 1 when accepted (or nothing to do), 0 when refused because
// another request is pending (or, for a start, there is no measurement);
// refusal, when given, then gets the reason, a text for the shell
// ("<why>, start refused ..."). A start while a stop is still being carried
// out is accepted and follows it. Addresses are IPv4 in network order (the
// bytes as they stand in the command), 0 = none.
int meas_app_remoteinit(const char** refusal = nullptr);
// "meas init" from the shell: as meas_app_remoteinit, but not held back by the
// lock that the shell's own destroy sets.
int meas_app_shellinit();
int meas_app_remotedestroy(uint32_t address, const char** refusal = nullptr);
int meas_app_remotestart(const char** refusal = nullptr);
int meas_app_remotestop(uint32_t address, const char** refusal = nullptr);
int meas_app_remoteTransfer(uint32_t address);
int meas_app_remotefaststop();

// 1 while the request is still being carried out.
int meas_app_remotedestroy_busy();
int meas_app_remotestop_busy();
int meas_app_remoteTransferBusy();

// Flags of the logging application's state word.
uint8_t meas_app_get_remotectrl_remotestart_lock();
uint8_t meas_app_get_remotestop_active();

// The XCP slave tells whether a calibration tool is connected: a client seen
// by the XCP slave is not lost, whatever ping says.
void meas_app_remote_setXcpMasterPresent(uint8_t (*present)());
// The address being watched (0: none), for the shell and tests.
uint32_t meas_app_remote_watchedAddress();

// One command as the listener serves it: the reply byte, or -1 for commands
// without a reply. Waits until the request is carried out.
int remotectrl_serveCommand(const uint8_t* cmd, size_t length);
