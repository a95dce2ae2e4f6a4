// Session handling of the XCP slave as a tool sees it over UDP.
#include <chrono>
#include <cstring>
#include <thread>

#include "measurement/calparams.h"
#include "xcp/xcp_socket.h"
#include "xcp_fixture.h"

using namespace std::chrono_literals;

TEST_F(XcpSlaveTest, OnlyConnectModeZeroOpensASessionAndItsAnswerStartsTheCounters) {
    // not connected: nothing but CONNECT is answered, and no user-defined mode
    master->connect();   // wait until the socket is up, then start again
    ASSERT_EQ(master->command({0xFE}), kOk);
    EXPECT_TRUE(master->command({0xFD}, 200).empty());
    EXPECT_TRUE(master->command({0xFF, 0x01}, 200).empty());
    EXPECT_EQ(xcpConnectionGetState(0), 0u);

    XcpFrame f;
    ASSERT_TRUE(master->commandFrame({0xFF, 0x00}, &f));
    EXPECT_EQ(f.packet, (Bytes{0xFF, 0x05, 0x80, 0xFF, 0xFF, 0x00, 0x01, 0x01}));
    EXPECT_EQ(f.ctr, 1);
    ASSERT_TRUE(master->commandFrame({0xFD}, &f));
    EXPECT_EQ(f.ctr, 2);
    EXPECT_EQ(xcpConnectionGetState(0), 2u);
    EXPECT_EQ(xcpConnectionGetState(1), 3u);
    // a new CONNECT in the session numbers from 1 again
    ASSERT_TRUE(master->commandFrame({0xFF, 0x00}, &f));
    EXPECT_EQ(f.ctr, 1);
}

TEST_F(XcpSlaveTest, IdentificationAndSessionCommands) {
    connect();
    Bytes epk = master->command({0xFA, 1});
    std::string expect(seramGetEPKPtr(), strnlen(seramGetEPKPtr(), CAL_EPK_LEN));
    ASSERT_EQ(epk.size(), 8 + expect.size());
    EXPECT_EQ(rdLe32(epk, 4), expect.size());
    EXPECT_EQ(std::string(epk.begin() + 8, epk.end()), expect);
    EXPECT_EQ(master->command({0xFA, 0}), (Bytes{0xFF, 1, 0, 0, 3, 0, 0, 0, 'V', 'O', 'Z'}));
    EXPECT_EQ(master->command({0xFA, 5}), errorAnswer(0x22));
    EXPECT_EQ(master->command({0xFC}), errorAnswer(0x00));
    EXPECT_EQ(master->command({0xFB}), (Bytes{0xFF, 0, 0, 0, 0, 0, 0, 0x10}));
    EXPECT_EQ(master->command({0xFD}), (Bytes{0xFF, 0, 0, 0, 0, 0}));
    // commands the slave does not serve
    for (uint8_t code : {0xF8, 0xF7, 0xF2, 0xEF, 0xEE, 0xEC, 0xE3, 0xDF, 0xDB, 0xD2, 0x01})
        EXPECT_EQ(master->command({code, 0, 0, 0, 0, 0, 0, 0}), errorAnswer(0x20)) << int(code);
}

TEST_F(XcpSlaveTest, CommandsShorterThanTheirFieldsAreRefusedWithoutTouchingMemory) {
    connect();
    useWorkingPage();
    const uint32_t at = kPidBits | 0x100;
    ASSERT_EQ(master->command(XcpTestMaster::shortDownload(at, Bytes(16, 0xAB))), kOk);
    ASSERT_EQ(master->command(XcpTestMaster::setMta(at)), kOk);
    // DOWNLOAD and SHORT_DOWNLOAD announcing more bytes than the datagram carries
    EXPECT_EQ(master->command({0xF0, 8, 1, 2}), errorAnswer(0x21));
    EXPECT_EQ(master->command({0xED, 8, 0, 0, 0x00, 0x01, 0, kPid, 1, 2}), errorAnswer(0x21));
    // fixed fields missing
    EXPECT_EQ(master->command({0xF6, 0, 0}), errorAnswer(0x21));
    EXPECT_EQ(master->command({0xF4, 4}), errorAnswer(0x21));
    EXPECT_EQ(master->command({0xE1, 0xFF, 4}), errorAnswer(0x21));
    // LEN beyond the datagram: only what arrived counts
    const uint8_t lying[] = {10, 0, 0, 0, 0xF0, 8, 1, 2};
    master->sendRaw(lying, sizeof lying);
    XcpFrame f;
    ASSERT_TRUE(master->nextCto(&f, 1000));
    EXPECT_EQ(f.packet, errorAnswer(0x21));
    // of two packets in one datagram only the first counts
    const uint8_t two[] = {1, 0, 0, 0, 0xFD, 2, 0, 1, 0, 0xFF, 0x00};
    master->sendRaw(two, sizeof two);
    ASSERT_TRUE(master->nextCto(&f, 1000));
    EXPECT_EQ(f.packet.size(), 6u);
    EXPECT_FALSE(master->nextCto(&f, 200));
    // a datagram without a packet gets no answer, only a log line
    const uint8_t stub[] = {1, 0};
    master->sendRaw(stub, sizeof stub);
    EXPECT_FALSE(master->nextCto(&f, 200));
    EXPECT_TRUE(logContains(takeLogTexts(), "holds no XCP packet"));

    EXPECT_EQ(master->command(XcpTestMaster::shortUpload(16, at)), [] {
        Bytes b{0xFF};
        b.insert(b.end(), 16, 0xAB);
        return b;
    }());
}

TEST_F(XcpSlaveTest, AStrayDatagramNeitherActsOnTheSessionNorRedirectsIt) {
    connect();
    useWorkingPage();
    XcpTestMaster stray(port);
    const uint32_t at = kPidBits | 0x200;
    EXPECT_TRUE(stray.command(XcpTestMaster::shortDownload(at, {1, 2, 3, 4}), 300).empty());
    EXPECT_TRUE(stray.command({0xFE}, 300).empty());
    EXPECT_EQ(xcpConnectionGetState(0), 2u);
    XcpFrame f;
    EXPECT_FALSE(master->nextCto(&f, 100));   // nothing was answered to the master either
    Bytes back = master->command(XcpTestMaster::shortUpload(4, at));
    ASSERT_EQ(back.size(), 5u);
    EXPECT_NE(Bytes(back.begin() + 1, back.end()), (Bytes{1, 2, 3, 4}));
    EXPECT_TRUE(logContains(takeLogTexts(), "not from the connected master"));
    // a CONNECT of another tool takes the session over
    ASSERT_EQ(stray.connect().size(), 8u);
    EXPECT_EQ(stray.command({0xFD}).size(), 6u);
    EXPECT_TRUE(master->command({0xFD}, 200).empty());
}

TEST_F(XcpSlaveTest, MasterPresentFallsFourSecondsAfterTheLastGetStatus) {
    connect();
    EXPECT_EQ(xcpMasterPresent(), 0);
    auto presentSoon = [] {   // the timer starts right after the answer is queued
        for (int i = 0; i < 100 && !xcpMasterPresent(); ++i) std::this_thread::sleep_for(1ms);
        return xcpMasterPresent();
    };
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(master->command({0xFD}).size(), 6u);
        EXPECT_EQ(presentSoon(), 1);
        std::this_thread::sleep_for(1s);
    }
    ASSERT_EQ(master->command({0xFD}).size(), 6u);
    auto last = std::chrono::steady_clock::now();
    EXPECT_EQ(presentSoon(), 1);
    std::this_thread::sleep_for(3500ms);
    EXPECT_EQ(xcpMasterPresent(), 1);
    while (xcpMasterPresent() && std::chrono::steady_clock::now() - last < 6s) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(xcpMasterPresent(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - last, 3900ms);   // the timer starts just before the answer arrives
    EXPECT_EQ(xcpConnectionGetState(0), 2u);   // the session stays
    // the timer logs just after it clears the flag
    bool logged = false;
    for (int i = 0; i < 100 && !logged; ++i) {
        logged = logContains(takeLogTexts(), "XCP: TIMEOUT on instance number 0");
        if (!logged) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(logged);
}

TEST_F(XcpSlaveTest, WithTheForcedDisconnectSwitchTheTimeOutEndsTheSession) {
    xcp_activate_xcp_comms_reset(1);
    connect();
    ASSERT_EQ(master->command({0xFD}).size(), 6u);
    auto t0 = std::chrono::steady_clock::now();
    while (xcpConnectionGetState(0) == 2u && std::chrono::steady_clock::now() - t0 < 6s)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(xcpConnectionGetState(0), 0u);
    EXPECT_EQ(xcpMasterPresent(), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "XCP: Force Disconnect"));
    EXPECT_TRUE(master->command({0xFD}, 200).empty());
}

TEST_F(XcpSlaveTest, ShutdownTerminatesTheSessionAndIgnoresEverythingAfter) {
    connect();
    xcp_shutdown_now();
    XcpFrame f;
    ASSERT_TRUE(master->nextCto(&f, 1000));
    EXPECT_EQ(f.packet, (Bytes{0xFD, 0x07, 'R', 'E', 'S', 'E', 'T'}));
    EXPECT_TRUE(master->command({0xFD}, 200).empty());
    EXPECT_TRUE(master->command({0xFF, 0}, 200).empty());
}

TEST(XcpSocketRegistry, TenSocketsAtMostAndOnlyRecordedOnesClose) {
    xcpSocket reg;
    int fds[xcpSocket::kMaxSockets];
    for (int& fd : fds) ASSERT_GE(fd = reg.get_socket(AF_INET, SOCK_DGRAM, 0), 0);
    EXPECT_EQ(reg.get_socket(AF_INET, SOCK_DGRAM, 0), -1);
    errno = 0;
    EXPECT_EQ(reg.close_socket(12345), -1);
    EXPECT_EQ(errno, 9);
    EXPECT_EQ(reg.close_socket(fds[3]), 0);
    EXPECT_EQ(reg.count(), xcpSocket::kMaxSockets - 1);
    EXPECT_EQ(reg.close_socket(fds[3]), -1);
    int again = reg.get_socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_GE(again, 0);
    // the rest are closed when the registry goes
}
