// Events between tasks as the tests see them: the command task runs, every
// message sent to the other devices is caught at the network transport and
// every one served here at the handler of command 0x1500.
#pragma once

#include <mutex>
#include <vector>

#include "logging/events/event_record.h"
#include "logging/events/event_service.h"
#include "logging/events/event_signals.h"
#include "logging/logging_fixture.h"
#include "measurement/comint.h"
#include "platform/appman.h"

struct SentEvent {
    uint16_t len, src, dst;
    uint32_t id, ts, duration;
    uint8_t kind, severity;
    std::string name, text;
};

inline SentEvent decodeEvent(const ci_msg_t* m) {
    SentEvent e{};
    e.len = ci_get_len(m);
    e.src = ci_get_src(m);
    e.dst = ci_get_dst(m);
    const uint8_t* p = m->payload;
    e.id = be_get32(p);
    e.ts = be_get32(p + 4);
    e.duration = be_get32(p + 8);
    e.kind = p[12];
    e.severity = p[13];
    const char* n = reinterpret_cast<const char*>(p + 16);
    e.name = n;
    e.text = n + e.name.size() + 1;
    return e;
}

class EventsTest : public LoggingTest {
public:
    static inline std::mutex mx;
    static inline std::vector<SentEvent> network, local;

protected:
    static constexpr uint16_t kPid = 1;

    void SetUp() override {
        LoggingTest::SetUp();
        app_pid = kPid;
        comint_set_own_pid(kPid);
        {
            std::lock_guard<std::mutex> lk(mx);
            network.clear();
            local.clear();
        }
        static const comint_transport t = {
            [](const ci_msg_t* m) {
                std::lock_guard<std::mutex> lk(mx);
                network.push_back(decodeEvent(m));
                return 1;
            },
            nullptr};
        comint_set_transport(&t);
        ci_register_command(CI_CMD_EVENT, [](ci_msg_t* m) {
            std::lock_guard<std::mutex> lk(mx);
            local.push_back(decodeEvent(m));
            return 1;
        });
        ASSERT_EQ(comint_init(), 1);
        eventSignals() = EventSignals{};
        takeLogTexts();
    }
    void TearDown() override {
        comint_shutdown();
        comint_set_transport(nullptr);
        eventlogging_service_resetForTest();
        LoggingTest::TearDown();
    }

    std::vector<SentEvent> sentToNetwork() {
        std::lock_guard<std::mutex> lk(mx);
        return network;
    }
    // Waits until the command task has served n events here.
    std::vector<SentEvent> servedHere(size_t n) {
        for (int i = 0; i < 2000; ++i) {
            {
                std::lock_guard<std::mutex> lk(mx);
                if (local.size() >= n) return local;
            }
            taskDelay(1);
        }
        std::lock_guard<std::mutex> lk(mx);
        return local;
    }
    // Whether the error memory holds the path as active.
    static bool errorActive(unsigned path) {
        uint8_t buf[ERRMGR_MAX_ENTRIES * ERRMGR_ENTRY_SIZE];
        const int n = error_mgr_get_data(buf, sizeof buf);
        for (int i = 0; i + int(ERRMGR_ENTRY_SIZE) <= n; i += int(ERRMGR_ENTRY_SIZE))
            if ((buf[i] | buf[i + 1] << 8) == int(path)) return buf[i + 3] & 1;
        return false;
    }
    static uint32_t raiseCount(unsigned path) {
        uint8_t buf[ERRMGR_MAX_ENTRIES * ERRMGR_ENTRY_SIZE];
        const int n = error_mgr_get_data(buf, sizeof buf);
        for (int i = 0; i + int(ERRMGR_ENTRY_SIZE) <= n; i += int(ERRMGR_ENTRY_SIZE))
            if ((buf[i] | buf[i + 1] << 8) == int(path)) return uint32_t(buf[i + 8] | buf[i + 9] << 8);
        return 0;
    }
};
