// XCP on UDP for the master: every packet travels behind a 4-byte header
// {u16 LEN, u16 CTR} (little-endian); one datagram may carry several packets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/io.h"
#include "platform/syslogx.h"
#include "xcp/master/xcpmr_internal.h"
#include "xcp/xcp_codes.h"

namespace {
constexpr size_t kDatagramMax = 65507;
std::atomic<uint8_t> gFloodSend{0}, gFloodRecv{0}, gFloodRunt{0}, gFloodLong{0};
}  // namespace

bool xcpmr_UdpInit(XcpmrInstance* h, uint32_t address, uint16_t port) {
    add_subnet(address);   // a slave outside the own subnet needs an address in its subnet
    try {
        h->rxDatagram.assign(kDatagramMax, 0);
    } catch (const std::bad_alloc&) {
        syslogx(147, "xcpmr_UdpInit(): calloc() failed");
        return false;
    }
    h->sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (h->sock < 0) {
        syslogx(139, "xcpmr_UdpInit(): Failed to create datagram socket");
        return false;
    }
    h->slave = sockaddr_in{};
    h->slave.sin_family = AF_INET;
    h->slave.sin_addr.s_addr = htonl(address);
    h->slave.sin_port = htons(port);
    h->rxPos = h->rxLen = 0;
    return true;
}

void xcpmr_UdpClose(XcpmrInstance* h) {
    if (h->sock >= 0) close(h->sock);
    h->sock = -1;
}

int xcpmr_UdpSendPacket(XcpmrInstance* h, const uint8_t* packet, unsigned len) {
    uint8_t frame[XCP_FRAME_HEADER + XCPMR_PACKET_MAX];
    if (len > XCPMR_PACKET_MAX) return -1;
    frame[0] = uint8_t(len);
    frame[1] = uint8_t(len >> 8);
    frame[2] = uint8_t(h->udpCtr);
    frame[3] = uint8_t(h->udpCtr >> 8);
    std::memcpy(frame + XCP_FRAME_HEADER, packet, len);
    const long frameLen = long(XCP_FRAME_HEADER + len);
    const ssize_t n = sendto(h->sock, frame, size_t(frameLen), 0, reinterpret_cast<const sockaddr*>(&h->slave),
                             sizeof h->slave);
    if (n != frameLen) {
        SYSLOGX_FLOOD(gFloodSend, 139, "xcpmr_UdpSendPacket(): send() failed with frameLen %ld and error %s",
                      frameLen, strerror(errno));
        return -1;
    }
    ++h->udpCtr;   // only a complete send counts
    return 0;
}

int xcpmr_UdpReceivePacket(XcpmrInstance* h, uint8_t* buf) {
    if (h->rxPos >= h->rxLen) {
        h->rxPos = h->rxLen = 0;
        // MSG_TRUNC gives the datagram's real length: a longer one is dropped whole
        const ssize_t n = recv(h->sock, h->rxDatagram.data(), h->rxDatagram.size(), MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
            SYSLOGX_FLOOD(gFloodRecv, 139, "xcpmr_UdpReceivePacket(): recv() failed with error %s", strerror(errno));
            return -1;
        }
        if (size_t(n) > h->rxDatagram.size()) {
            ++xcpmr_dropCount;
            SYSLOGX_FLOOD(gFloodLong, 147 | SYSLOGX_LOSS, "xcpmr_UdpReceivePacket(): datagram of %zd bytes dropped", n);
            return 0;
        }
        h->rxLen = size_t(n);
    }
    const uint8_t* d = h->rxDatagram.data() + h->rxPos;
    const size_t left = h->rxLen - h->rxPos;
    const unsigned len = left >= XCP_FRAME_HEADER ? unsigned(d[0] | d[1] << 8) : 0;
    if (left < XCP_FRAME_HEADER || len > left - XCP_FRAME_HEADER) {
        SYSLOGX_FLOOD(gFloodRunt, 147, "xcpmr_UdpReceivePacket(): runt header");
        h->rxPos = h->rxLen;   // the rest of the datagram cannot be split
        return 0;
    }
    h->rxPos += XCP_FRAME_HEADER + len;
    if (len > XCPMR_PACKET_MAX) {   // longer than a queue message: dropped, not cut
        ++xcpmr_dropCount;
        SYSLOGX_FLOOD(gFloodLong, 147 | SYSLOGX_LOSS, "xcpmr_UdpReceivePacket(): packet of %u bytes dropped", len);
        return 0;
    }
    std::memcpy(buf, d + XCP_FRAME_HEADER, len);
    return int(len);
}
