// CAN front end: receive and transmit registrations over the kernel-side CAN
// service, and the poll that hands received frames to their callbacks.
#pragma once

#include <cstdint>

constexpr int CAN_MAX_REQUESTS = 800;

// Receive callback: (user word, CAN identifier, identifier format, length
// word = payload length | frame flags << 8, data bytes (up to 64)).
using CanRxFunc = void (*)(void* user, uint32_t id, uint8_t format, uint32_t lenFlags,
                           const uint8_t* data);

// Records the request and registers the identifier with the kernel side;
// 0 on success, 1 (logged) on failure.
int canRegisterRxFunc(unsigned interface, uint8_t format, uint32_t id, CanRxFunc fn, void* user);
// Transmit handle 0..799, or -1 (logged). Format 0: standard identifier,
// otherwise extended; fdf and brs select CAN FD and bit-rate switching.
int canRegisterTxFunc(unsigned interface, uint8_t format, uint32_t id, uint8_t fdf, uint8_t brs);
// Sends one frame of a registered transmit message; failures are logged with
// flood limiting.
void canTxMsg(int handle, uint8_t dlc, const uint8_t* data);
// Drains the receive queue "/msgQ_RX_Can_<RtpIndex>" and calls the callbacks
// (on the 1 ms raster task).
void canPoll_1ms();
// Payload length of a data length code (0..15); 0 for other codes.
unsigned canDLC2length(unsigned dlc);
// Number of CAN interfaces of the board.
int pinConfig_getCANmaxIntf();
// Sets the bit rates of an interface and starts it; 1 on success, 0 (logged).
int canStartController(unsigned interface, uint32_t nominal, uint32_t data);

// Forgets all registrations (tests).
void canFront_resetForTest();

// A configured identifier word: bit 31 set marks a 29-bit identifier, else
// the low 11 bits count; the format to register it with (0xFF extended, 0 standard).
inline uint32_t getCanId(uint32_t cfg) { return (cfg & 0x80000000u) ? (cfg & 0x1FFFFFFFu) : (cfg & 0x7FFu); }
inline uint8_t getCanFormat(uint32_t cfg) { return (cfg & 0x80000000u) ? 0xFF : 0; }
