// DiraDir2 state without its tasks: this device's PID and address set by
// hand, presence messages built here and handed to the receiver directly,
// channels over socket pairs.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "measurement/routing.h"
#include "platform/byteorder.h"
#include "virari/DiraDir2/bc2_internal.h"
#include "virari/DiraDir2/bc_socket.h"

// Waits (at most 2 s) until a counter that another task raises reaches n.
inline bool waitCount(const std::atomic<int>& counter, int n) {
    for (int i = 0; i < 2000 && counter < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return counter >= n;
}

class Bc2Test : public ::testing::Test {
protected:
    static constexpr uint16_t kOwn = 5, kPeer = 9;

    void SetUp() override {
        takeLogTexts();
        BC2_shutdown();
        routing_init(kOwn);
        comint_set_own_pid(kOwn);
        dynkomm_init(0x42);
        bc2_state& s = bc2();
        s.ownPid = kOwn;
        s.ownAddr = inet_addr("10.1.0.1");
        s.offset = 0;
        s.stop = false;
        s.ciMask = pidBit(kOwn);
        s.dkMask = pidBit(kOwn);
    }
    void TearDown() override {
        for (int fd : fds) close(fd);
        BC2_shutdown();
        dynkomm_init(0x42);
    }

    struct Presence {
        uint16_t pid = kPeer;
        const char* ip = "10.1.0.9";
        uint32_t seq = 1;
        uint16_t version = BC2_VERSION;
        uint16_t offset = 0;
        uint64_t detect = 0, ci = 0, dk = 0;
        uint32_t unit = 0, boot = 0;   // 0: a device that sends no unit id
    };
    static std::vector<uint8_t> message(const Presence& p) {
        std::vector<uint8_t> m(BC2_MSG_SIZE, 0);
        uint32_t a = inet_addr(p.ip);
        std::memcpy(m.data() + PM_ADDR, &a, 4);
        be_put16(m.data() + PM_PID, p.pid);
        be_put32(m.data() + PM_TIMEOUT, BC2_HOST_TIMEOUT_MS);
        be_put32(m.data() + PM_UNIT_ID, p.unit);
        be_put32(m.data() + PM_BOOT, p.boot);
        be_put64(m.data() + PM_DETECT, p.detect);
        be_put64(m.data() + PM_CI_MASK, p.ci | pidBit(p.pid));
        be_put64(m.data() + PM_DK_MASK, p.dk | pidBit(p.pid));
        be_put32(m.data() + PM_PERIOD, BC2_PERIOD_MS);
        be_put32(m.data() + PM_SEQ, p.seq);
        be_put16(m.data() + PM_VERSION, p.version);
        be_put16(m.data() + PM_OFFSET, p.offset);
        return m;
    }
    static bool receive(const Presence& p) {
        auto m = message(p);
        sockaddr_in from{};
        return bc2_presence_receive(m.data(), m.size(), from);
    }

    // A channel to the peer whose socket is one end of a stream pair; the
    // other end is returned. nonBlocking: the channel's end is non-blocking
    // before any sender can find it, so that a peer end nobody reads never
    // holds a sender.
    int channelPair(int type, bc2_channel** out, bool nonBlocking = false) {
        receive(Presence{});
        bc2_channel* c = BC2_create_channel_config(&bc2().hosts[kPeer], type);
        int sv[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        fds.push_back(sv[0]);
        fds.push_back(sv[1]);
        if (nonBlocking) {
            EXPECT_EQ(fcntl(sv[0], F_SETFL, fcntl(sv[0], F_GETFL) | O_NONBLOCK), 0);
        }
        c->sock = sv[0];
        *out = c;
        return sv[1];
    }

    // Bytes the peer end holds now, without waiting.
    static std::vector<uint8_t> pending(int fd) {
        std::vector<uint8_t> out;
        uint8_t buf[4096];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) out.insert(out.end(), buf, buf + n);
        return out;
    }

    std::vector<int> fds;
};
