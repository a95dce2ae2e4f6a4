// XCP on UDP: the framing {u16 LEN, u16 CTR, packet} (little-endian), the
// receive task that hands each command to the protocol layer, and the
// transmit task that numbers and sends answers at once and packs DTOs into
// datagrams of at most 255 bytes.
//
// Every answer, DTO, flush and reset passes through the connection's one
// transmit queue, which fixes their order; only the transmit task writes the
// socket and touches the counters and the packing buffer.
#pragma once

#include <cstdint>

#include "xcp/xcp_codes.h"

struct xcpHandle;

// The unit of the transmit queue (268 bytes).
enum XcpTxType : uint32_t { XCP_TX_CTO = 0, XCP_TX_DTO = 1, XCP_TX_FLUSH = 2, XCP_TX_RESET = 3 };
constexpr unsigned XCP_TX_PACKET_MAX = 256;
struct XcpTxMsg {
    uint32_t type;
    uint32_t length;                                   // packet length
    uint8_t frame[XCP_FRAME_HEADER + XCP_TX_PACKET_MAX];   // LEN and CTR (set by the transmit task), packet
    uint8_t* packet() { return frame + XCP_FRAME_HEADER; }
};
static_assert(sizeof(XcpTxMsg) == 268);
constexpr unsigned XCP_TX_MSG_HEADER = sizeof(XcpTxMsg) - XCP_TX_PACKET_MAX;
constexpr int XCP_TX_QUEUE_DEPTH = 100;

// Biggest datagram the receive task takes: frame header and MAX_CTO.
constexpr unsigned XCP_RX_DATAGRAM_MAX = XCP_FRAME_HEADER + XCP_MAX_CTO;

// Creates the transmit queue. 0 success, 1 failure (logged).
int xcpQueueInit(xcpHandle* c);
void xcpQueueDelete(xcpHandle* c);
// Sets up the transport of the connection and starts its receive task, which
// opens and binds the socket (ipv4 in host byte order, 0 = any) and starts the
// transmit task. 0 success, 1 failure (logged).
int xcpEthInit(xcpHandle* c, uint32_t ipv4, uint16_t port);
// Ends both tasks, closes the socket and frees the transport (tests).
void xcpEthStop(xcpHandle* c);

// Queues an answer, error or event packet (type 0, sent at once). 1 queued,
// 0 failed (logged).
int xcpTxFrame(xcpHandle* c, XcpTxMsg* msg);
// Queues a DTO of packetLength bytes without waiting; true when queued. The
// transmit task sends it after the next xcpEthSendQueued (one wake for the
// DTOs of a whole event); answers and control messages wake it themselves.
bool xcpEthQueueDto(xcpHandle* c, XcpTxMsg* msg, unsigned packetLength);
void xcpEthSendQueued(xcpHandle* c);
// Queue a flush of the packed DTOs, or a reset of both counters to 1 and of
// the packing buffer. Always 0.
int xcpEthDtoFlush(xcpHandle* c);
int xcpEthReset(xcpHandle* c);
// r100ms: the packed DTOs go out before the next DTO is added.
void xcpEth_100ms(xcpHandle* c);

// The connected master is the source of the CONNECT that opened the session:
// answers and DTOs go only there, and commands from other sources are not
// taken while a session is open.
// True when the datagram being processed came from the connected master.
bool xcpEthFromMaster(xcpHandle* c);
// The source of the datagram being processed becomes the connected master;
// the reset queued next redirects the transmit task to it.
void xcpEthTakeMaster(xcpHandle* c);
