// Command interface: messages between tasks and devices, served by the task
// "r_Comint" which dispatches those addressed to this device by command code
// and forwards the others by the routing table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byteorder.h"

constexpr size_t CI_HEADER_SIZE = 20;
constexpr size_t CI_MAX_PAYLOAD = 492;
constexpr uint16_t CI_PID_ALL = 0xFFFE;
constexpr int CI_ROUTING_ERROR = 101;

// Command codes served by the measurement core.
constexpr uint16_t CI_CMD_BOUNCE = 0x0105;
constexpr uint16_t CI_CMD_BOUNCE_RETURN = 0x0106;
constexpr uint16_t CI_CMD_RETURN_FUNC = 0x0107;
constexpr uint16_t CI_CMD_MEASLIST_ADDR = 0x0500;
constexpr uint16_t CI_CMD_MEASLIST_REPLY = 0x0501;
constexpr uint16_t CI_CMD_MEASLIST_NAMES = 0x0510;

// The message: a 20-byte big-endian header and the payload. The header words
// are kept as raw bytes; use the accessors.
struct ci_msg_t {
    uint8_t hdr[CI_HEADER_SIZE];
    uint8_t payload[CI_MAX_PAYLOAD];
};
static_assert(sizeof(ci_msg_t) == 512);

inline uint16_t ci_get_len(const ci_msg_t* m) { return be_get16(m->hdr + 2); }
inline uint16_t ci_get_src(const ci_msg_t* m) { return be_get16(m->hdr + 4); }
inline uint16_t ci_get_dst(const ci_msg_t* m) { return be_get16(m->hdr + 6); }
inline uint32_t ci_get_magic(const ci_msg_t* m) { return be_get32(m->hdr + 8); }
inline uint32_t ci_get_listid(const ci_msg_t* m) { return be_get32(m->hdr + 12); }
inline uint16_t ci_get_cmd(const ci_msg_t* m) { return be_get16(m->hdr + 16); }
inline void ci_set_len(ci_msg_t* m, uint16_t v) { be_put16(m->hdr + 2, v); }
inline void ci_set_src(ci_msg_t* m, uint16_t v) { be_put16(m->hdr + 4, v); }
inline void ci_set_dst(ci_msg_t* m, uint16_t v) { be_put16(m->hdr + 6, v); }
inline void ci_set_magic(ci_msg_t* m, uint32_t v) { be_put32(m->hdr + 8, v); }
inline void ci_set_listid(ci_msg_t* m, uint32_t v) { be_put32(m->hdr + 12, v); }
inline void ci_set_cmd(ci_msg_t* m, uint16_t v) { be_put16(m->hdr + 16, v); }
// Clears the header and sets the usual fields (source = own PID).
void ci_init_msg(ci_msg_t* m, uint16_t cmd, uint16_t dst, uint16_t payloadLen);

// Own PID for the command interface (set from app_pid at start-up).
void comint_set_own_pid(uint16_t pid);
uint16_t comint_own_pid();

// Creates the queue and starts "r_Comint" (priority 73); 1 on success.
int comint_init();
void comint_shutdown();

// Sends a message: mode 1 or the own PID as destination queue it for
// "r_Comint" (which routes it on, or for 0xFFFE sends it to all other devices
// and then serves it here); mode 0 with destination 0xFFFE sends it to all
// other devices and then queues a copy for this one; other destinations go by
// the routing kind (2 network, 3 local socket; any other kind fails).
// Non-zero on success, 0 on failure (routing error reported).
int comint_put_cmd(void* msg, int mode);
// Copies header and payload (at most 492 bytes) into the command queue.
int comint_queue_cmd(const void* msg);

// Handler of a command code; returns 1 when served.
using ci_handler_fn = int (*)(ci_msg_t* msg);
// Registers the handler of a code (a later registration replaces it); 1.
int ci_register_command(uint16_t code, ci_handler_fn fn);
// Dispatches a message addressed to this device; 0 for an unknown code (logged).
int ci_serve_command(ci_msg_t* msg);

// Transports of the device network, installed by it: sending to all other
// devices, over DiraDir2 to one device, and over the local socket. Without a
// transport, sending to all reaches nobody (and succeeds), sending to one fails.
struct comint_transport {
    int (*put_eth)(const ci_msg_t* msg);
    int (*put_locSock)(const ci_msg_t* msg);
};
void comint_set_transport(const comint_transport* t);
int comint_put_eth(const ci_msg_t* msg);
int comint_put_locSock(const ci_msg_t* msg);

// Completion handles: 32-bit values a requester puts into a command so that the
// answer (0x0106 / 0x0107) finds its routine. One-shot: the handle is released
// after its call. 0 when none is free.
using ci_completion_fn = void (*)(void* ctx, ci_msg_t* msg);
uint32_t ci_completion_register(ci_completion_fn fn, void* ctx);
void ci_completion_release(uint32_t handle);
// Calls and releases a handle; 0 when it is unknown.
int ci_completion_call(uint32_t handle, ci_msg_t* msg);
