// Logging remote control: commands as the kernel-side service forwards them,
// the requests they make of the logging application, the replies, and the
// supervision of a client that stopped logging.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <mqueue.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <future>
#include <thread>

#include "host/kernel/kernel.h"
#include "host/bus/ping.h"
#include "logging/app/meas_app.h"
#include "logging/app/meas_runtime.h"
#include "logging/config/cfg_system.h"
#include "logging/remote/meas_app_remote.h"
#include "logging/remote/remote_state.h"
#include "logging/logging_fixture.h"
#include "measurement/signalpage.h"
#include "platform/io.h"

namespace {

std::atomic_ref<uint8_t> req(uint8_t& f) { return std::atomic_ref<uint8_t>(f); }

class MeasRemote : public LoggingTest {
protected:
    void SetUp() override {
        LoggingTest::SetUp();
        s = signalPage();
        for (uint8_t* f : {&s->meas_app_startreq, &s->meas_app_stopreq, &s->meas_app_reinitreq,
                           &s->meas_app_hstinitreq, &s->meas_app_destroyreq, &s->meas_app_blkstopreq,
                           &s->meas_app_faststopreq, &s->meas_app_running, &s->meas_app_remoteread})
            req(*f).store(0);
        cfg_system.loggingActive = 1;
        ASSERT_EQ(meas_app_remote_ini(), 1);
    }
    void TearDown() override {
        meas_app_remote_exit();
        meas_clearKeepingLocks(meas[0]);
        cfg_system.loggingActive = 0;
        LoggingTest::TearDown();
    }
    // A measurement exists: a start has something to start (its locks stay
    // for the life of the process).
    static void measurementExists() {
        if (!meas[0].condLock) meas[0].condLock = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
        meas[0].stateFlags = 1;
    }
    static std::array<uint8_t, 5> cmd(uint8_t code, const char* ip = "0.0.0.0") {
        std::array<uint8_t, 5> c{code};
        in_addr a{};
        inet_pton(AF_INET, ip, &a);
        std::memcpy(c.data() + 1, &a.s_addr, 4);
        return c;
    }
    static uint32_t ip(const char* text) {
        in_addr a{};
        inet_pton(AF_INET, text, &a);
        return a.s_addr;
    }
    // The device's remote-control queues as a client program opens them, the
    // reply queue also for writing; waits for the listener to make them.
    std::pair<mqd_t, mqd_t> clientQueues() {
        mqd_t rx = mqd_t(-1), tx = mqd_t(-1);
        waitFor([&] {
            if (rx == mqd_t(-1)) rx = mq_open(host::processQueueName(dir, "/MeasAppRCTRL_RX").c_str(), O_WRONLY);
            if (tx == mqd_t(-1)) tx = mq_open(host::processQueueName(dir, "/MeasAppRCTRL_TX").c_str(), O_RDWR);
            return rx != mqd_t(-1) && tx != mqd_t(-1);
        }, 5000);
        return {rx, tx};
    }
    // Waits up to ms for cond.
    template <class F>
    static bool waitFor(F cond, int ms) {
        for (int i = 0; i < ms / 5; ++i) {
            if (cond()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return cond();
    }
    SignalPage* s = nullptr;
};

}  // namespace

TEST_F(MeasRemote, WithLoggingInactiveAConnectIsRepliedWithoutTouchingTheRequests) {
    // the configuration is read once at start-up, before the tasks run
    meas_app_remote_exit();
    cfg_system.loggingActive = 0;
    ASSERT_EQ(meas_app_remote_ini(), 1);
    // through the queues, as a separate program sends it
    auto [rx, tx] = clientQueues();
    ASSERT_NE(rx, mqd_t(-1));
    ASSERT_NE(tx, mqd_t(-1));
    auto c = cmd(RCTRL_PELVAR_CONNECT, "127.0.0.1");
    ASSERT_EQ(mq_send(rx, reinterpret_cast<const char*>(c.data()), 5, 0), 0);
    char reply[5] = {1, 1, 1, 1, 1};
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += 5;
    ASSERT_EQ(mq_timedreceive(tx, reply, 5, nullptr, &until), 5);
    EXPECT_EQ(std::string(reply, 5), std::string(5, '\0'));
    EXPECT_EQ(req(s->meas_app_stopreq).load(), 0);
    EXPECT_EQ(req(s->meas_app_destroyreq).load(), 0);
    mq_close(rx);
    mq_close(tx);
}

// A reply that nobody took fills the one-deep reply queue (its client went
// away): the listener gives up sending the next reply after a while, says so,
// and goes on taking commands.
TEST_F(MeasRemote, AReplyThatCannotGoInIsGivenUpAndTheNextCommandIsTaken) {
    auto [rx, tx] = clientQueues();
    ASSERT_NE(rx, mqd_t(-1));
    ASSERT_NE(tx, mqd_t(-1));
    meas_led_clr_status(0x4000000);
    takeLogTexts();
    const char orphan[5] = {0, 0, 0, 0, 0};
    ASSERT_EQ(mq_send(tx, orphan, sizeof orphan, 0), 0);
    auto c = cmd(RCTRL_TRANSFER_CONNECT, "127.0.0.1");   // nothing to do: replied at once
    ASSERT_EQ(mq_send(rx, reinterpret_cast<const char*>(c.data()), 5, 0), 0);
    std::vector<std::string> log;
    EXPECT_TRUE(waitFor([&] {
        for (auto& l : takeLogTexts()) log.push_back(l);
        return logContains(log, "remotectrl_listenQueue(): sending reply error (");
    }, 20000)) << "the listener still waits to send its reply";
    c = cmd(RCTRL_STATUS_SET);
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += 5;
    ASSERT_EQ(mq_timedsend(rx, reinterpret_cast<const char*>(c.data()), 5, 0, &until), 0);
    EXPECT_TRUE(waitFor([] { return (meas_led_get_status() & 0x4000000) != 0; }, 20000));
    // the reply that could not go in is not sent later in place of another
    char reply[5];
    clock_gettime(CLOCK_REALTIME, &until);
    EXPECT_EQ(mq_timedreceive(tx, reply, sizeof reply, nullptr, &until), 5);
    clock_gettime(CLOCK_REALTIME, &until);
    EXPECT_EQ(mq_timedreceive(tx, reply, sizeof reply, nullptr, &until), -1);
    mq_close(rx);
    mq_close(tx);
}

TEST_F(MeasRemote, AStopWhileADestroyIsPendingIsTriedAHundredTimesThenFails) {
    req(s->meas_app_destroyreq).store(1);
    takeLogTexts();
    auto c = cmd(RCTRL_VELMARIX_CONNECT, "127.0.0.1");
    EXPECT_EQ(remotectrl_serveCommand(c.data(), c.size()), MEAS_REPLY_ERROR);
    auto log = takeLogTexts();
    EXPECT_TRUE(logged(log, "remotectrl_listenQueue() Velmarix connected"));
    EXPECT_TRUE(logged(log, "remotectrl_listenQueue() meas_app_remotestop failed #100"));
    EXPECT_EQ(req(s->meas_app_stopreq).load(), 0);
    EXPECT_EQ(meas_app_remote_watchedAddress(), 0u);
}

// Refusals that end in an accepted request are no failure: nothing says so.
// The pending destroy refuses the stop and the read-out until another task
// clears it, a few ticks into the tries.
TEST_F(MeasRemote, ARequestAcceptedAfterRefusalsLogsNoFailure) {
    req(s->meas_app_running).store(1);
    for (const auto& [code, name] : {std::pair{RCTRL_TRANSFER_CONNECT, "RaziDereravuZiri"},
                                     std::pair{RCTRL_VELMARIX_CONNECT, "Velmarix"}}) {
        req(s->meas_app_stopreq).store(0);
        req(s->meas_app_destroyreq).store(1);
        takeLogTexts();
        auto c = cmd(code, "127.0.0.1");
        auto reply = std::async(std::launch::async, [&] { return remotectrl_serveCommand(c.data(), c.size()); });
        std::vector<std::string> log;
        ASSERT_TRUE(waitFor([&] {
            for (auto& l : takeLogTexts()) log.push_back(l);
            return logged(log, std::string("remotectrl_listenQueue() ") + name + " connected");
        }, 5000));
        // the tries go on a tick apart
        const uint64_t began = tickGet();
        while (tickGet() - began < 5) taskDelay(1);
        req(s->meas_app_destroyreq).store(0);
        if (code == RCTRL_VELMARIX_CONNECT) {
            // nothing carries the stop out here: done once it is requested
            ASSERT_TRUE(waitFor([&] { return req(s->meas_app_stopreq).load() == 1; }, 5000));
            req(s->meas_app_stopreq).store(0);
        }
        EXPECT_EQ(reply.get(), MEAS_REPLY_OK) << name;
        for (auto& l : takeLogTexts()) log.push_back(l);
        EXPECT_FALSE(logContains(log, "meas_app_remotestop failed")) << ::testing::PrintToString(log);
        EXPECT_FALSE(logContains(log, "meas_app_remoteTransferBegin failed")) << ::testing::PrintToString(log);
    }
}

// A stop that is accepted but never done (here nothing carries it out) is
// answered all the same, with an error, in time for the tool still waiting.
TEST_F(MeasRemote, AStopThatIsNeverDoneIsAnsweredWithAnError) {
    req(s->meas_app_running).store(1);
    takeLogTexts();
    auto c = cmd(RCTRL_VELMARIX_CONNECT);
    EXPECT_EQ(remotectrl_serveCommand(c.data(), c.size()), MEAS_REPLY_ERROR);
    EXPECT_EQ(req(s->meas_app_stopreq).load(), 1);   // requested, still pending
    EXPECT_TRUE(logged(takeLogTexts(), "remotectrl_listenQueue() request 0xE1 not done after 20 s: replying MEAS_REPLY_ERROR"));
}

TEST_F(MeasRemote, StatusCommandsAndUnknownOrShortCommandsGetNoReply) {
    meas_led_set_status(0x2000000);
    auto c = cmd(RCTRL_STATUS_CLR);
    EXPECT_EQ(remotectrl_serveCommand(c.data(), c.size()), -1);
    EXPECT_EQ(meas_led_get_status() & 0x2000000, 0u);
    c = cmd(RCTRL_STATUS_SET);
    EXPECT_EQ(remotectrl_serveCommand(c.data(), c.size()), -1);
    EXPECT_EQ(meas_led_get_status() & 0x4000000, 0x4000000u);
    takeLogTexts();
    c = cmd(0x42);
    EXPECT_EQ(remotectrl_serveCommand(c.data(), c.size()), -1);
    EXPECT_EQ(remotectrl_serveCommand(c.data(), 3), -1);
    auto log = takeLogTexts();
    EXPECT_TRUE(logged(log, "remotectrl_listenQueue() received unknown command 0x42"));
    EXPECT_TRUE(logged(log, "remotectrl_listenQueue() error receiving command line: short command"));
}

TEST_F(MeasRemote, ADestroyFromTheShellLocksTheInitUntilAClientStops) {
    EXPECT_EQ(meas_app_remotedestroy(0), 1);
    EXPECT_EQ(req(s->meas_app_stopreq).load(), 1);
    EXPECT_EQ(req(s->meas_app_destroyreq).load(), 1);
    EXPECT_EQ(meas_app_remotedestroy(0), 0);   // still pending
    req(s->meas_app_stopreq).store(0);
    req(s->meas_app_destroyreq).store(0);
    takeLogTexts();
    EXPECT_EQ(meas_app_remoteinit(), 0);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_remoteinit: failed 000"));
    EXPECT_EQ(meas_app_remotestop(0), 1);      // clears the locks
    req(s->meas_app_stopreq).store(0);
    EXPECT_EQ(meas_app_remoteinit(), 1);
    EXPECT_EQ(req(s->meas_app_reinitreq).load(), 1);
}

TEST_F(MeasRemote, TheShellsOwnInitFollowsItsDestroy) {
    char meas[] = "meas", destroy[] = "destroy", init[] = "init";
    char* destroyArgs[] = {meas, destroy};
    char* initArgs[] = {meas, init};
    measCommandFunc(2, destroyArgs);
    EXPECT_EQ(req(s->meas_app_destroyreq).load(), 1);
    measCommandFunc(2, initArgs);   // refused while the destroy is pending
    EXPECT_EQ(req(s->meas_app_reinitreq).load(), 0);
    req(s->meas_app_stopreq).store(0);
    req(s->meas_app_destroyreq).store(0);
    measCommandFunc(2, initArgs);
    EXPECT_EQ(req(s->meas_app_reinitreq).load(), 1);
}

TEST_F(MeasRemote, AStopIsRepliedWhenDoneAndTheClientIsWatchedUntilItDisconnects) {
    if (ping("127.0.0.1", 1, PING_OPT_SILENT) != OK) GTEST_SKIP() << "no ICMP echo on this host";
    measurementExists();
    req(s->meas_app_running).store(1);
    auto c = cmd(RCTRL_VELMARIX_CONNECT, "127.0.0.1");
    auto reply = std::async(std::launch::async, [&] { return remotectrl_serveCommand(c.data(), c.size()); });
    // the logging raster's part: carry out the stop
    ASSERT_TRUE(waitFor([&] { return req(s->meas_app_stopreq).load() == 1; }, 2000));
    EXPECT_EQ(meas_app_remote_watchedAddress(), ip("127.0.0.1"));
    EXPECT_EQ(reply.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    req(s->meas_app_stopreq).store(0);
    req(s->meas_app_running).store(0);
    EXPECT_EQ(reply.get(), MEAS_REPLY_OK);
    ASSERT_TRUE(waitFor([] { return (meas_app_get_flags() & MEAS_FLAG_REMOTESTOP_ACTIVE) != 0; }, 2000));
    // the client answers: logging stays stopped
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    EXPECT_EQ(req(s->meas_app_startreq).load(), 0);
    EXPECT_EQ(meas_app_remote_watchedAddress(), ip("127.0.0.1"));
    // its disconnect starts logging and ends the watch
    takeLogTexts();
    c = cmd(RCTRL_VELMARIX_DISCONNECT, "127.0.0.1");
    EXPECT_EQ(remotectrl_serveCommand(c.data(), c.size()), -1);
    EXPECT_EQ(req(s->meas_app_startreq).load(), 1);
    EXPECT_EQ(meas_app_remote_watchedAddress(), 0u);
    EXPECT_EQ(meas_app_get_flags() & MEAS_FLAG_REMOTESTOP_ACTIVE, 0u);
    auto log = takeLogTexts();
    EXPECT_TRUE(logged(log, "remotectrl_listenQueue() Velmarix disconnected"));
    EXPECT_TRUE(logged(log, "meas_app_remotestart: 208"));
    for (const auto& l : log) EXPECT_EQ(l.find("remote lost"), std::string::npos) << l;
}

TEST_F(MeasRemote, ATransferNeedsRunningLogging) {
    takeLogTexts();
    EXPECT_EQ(meas_app_remoteTransfer(ip("127.0.0.1")), 1);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_remotedatatransfer: nothing to do bc meas app not running."));
    req(s->meas_app_running).store(1);
    auto c = cmd(RCTRL_TRANSFER_CONNECT, "127.0.0.1");
    EXPECT_EQ(remotectrl_serveCommand(c.data(), c.size()), MEAS_REPLY_OK);
    EXPECT_EQ(req(s->meas_app_remoteread).load(), 1);
    c = cmd(RCTRL_TRANSFER_DISCONNECT);
    EXPECT_EQ(remotectrl_serveCommand(c.data(), c.size()), -1);
    EXPECT_EQ(req(s->meas_app_remoteread).load(), 0);
}

// The shell's init lifts the lock a destroy from the shell set, and only that
// one: a client's destroy that lifts it at the same time (it watches the
// client and re-initialises when it is lost) keeps it lifted, also when the
// shell's init is refused.
TEST_F(MeasRemote, TheShellsInitNeverPutsBackALockAClientsDestroyLiftedMeanwhile) {
    meas_app_remote_exit();   // no supervision acting on the lock meanwhile
    RemoteState& r = remoteState();
    std::atomic<bool> done{false};
    std::barrier sync(2);
    std::thread shell([&] {
        for (;;) {
            sync.arrive_and_wait();
            if (done) return;
            meas_app_shellinit();
            sync.arrive_and_wait();
        }
    });
    unsigned relocked = 0;
    for (int i = 0; i < 60000; ++i) {
        r.initLock = 1;   // the shell destroyed; a request is pending
        req(s->meas_app_hstinitreq).store(1);
        req(s->meas_app_stopreq).store(0);
        req(s->meas_app_destroyreq).store(0);
        sync.arrive_and_wait();
        for (int spin = 0; spin < i % 3000; ++spin) std::atomic_signal_fence(std::memory_order_seq_cst);
        // after a varying while: lands anywhere in the shell's init
        const int accepted = meas_app_remotedestroy(ip("127.0.0.1"));
        sync.arrive_and_wait();
        EXPECT_EQ(accepted, 1);
        relocked += r.initLock.load() != 0;
    }
    done = true;
    sync.arrive_and_wait();
    shell.join();
    EXPECT_EQ(relocked, 0u);
}
