// NVRAM front end (persistence, cut lengths, init guard), boot counter and the
// error memory (set, clear, state, readout, events, persistence).
#include "platform/error_mgr.h"
#include "platform/nvram.h"
#include "platform/time_step.h"
#include "platform/timebase.h"
#include "host/kernel/kernel_internal.h"

#include "platform_fixture.h"

#include <vector>

class Nvram : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        nvram_resetForTest();
        error_mgr_resetForTest();
        nvram_dbs_init();
    }
    void TearDown() override {
        error_mgr_resetForTest();
        nvram_resetForTest();
        PlatformTest::TearDown();
    }
    // What a new process sees after a power cut: nothing pending is written.
    void powerCut() {
        host::detail::resetNvram();
        nvram_resetForTest();
        error_mgr_resetForTest();
        nvram_dbs_init();
    }
    // What a new process on the same device folder would see.
    void restart() {
        host::nvramReload();
        nvram_resetForTest();
        error_mgr_resetForTest();
        nvram_dbs_init();
    }
};

TEST_F(Nvram, ReadsAreRejectedBeforeInit) {
    nvram_resetForTest();
    uint8_t b = 0;
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_DISPLAY_PAGE, 0, &b, 1), -1);
    EXPECT_TRUE(logContains(takeLogTexts(), "nvram_dbs_read: request rejected init not done, id 8 idx 0"));
}

TEST_F(Nvram, ValuesSurviveARestartAndCopiesAreSeparate) {
    uint8_t lof0[6] = {1, 2, 3, 4, 5, 6}, lof1[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(nvram_dbs_write(NVRAM_ID_LAPOUTFRA, 0, lof0, 6), 6);
    EXPECT_EQ(nvram_dbs_write(NVRAM_ID_LAPOUTFRA, 1, lof1, 6), 6);
    uint8_t page = 4;
    EXPECT_EQ(nvram_dbs_write(NVRAM_ID_DISPLAY_PAGE, 0, &page, 1), 1);
    // the lap stack is addressed entry by entry through the copy index
    uint8_t entry[6] = {0x12, 0, 1, 2, 3, 4};
    EXPECT_EQ(nvram_dbs_write(NVRAM_ID_LAPSTACK, 255, entry, 6), 6);
    EXPECT_EQ(nvram_dbs_write(NVRAM_ID_LAPSTACK, 256, entry, 6), -1);
    restart();
    uint8_t e[6] = {};
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_LAPSTACK, 255, e, 6), 6);
    EXPECT_EQ(e[0], 0x12);
    EXPECT_EQ(e[5], 4);
    uint8_t got[6] = {};
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_LAPOUTFRA, 0, got, 6), 6);
    EXPECT_EQ(std::vector<uint8_t>(got, got + 6), std::vector<uint8_t>(lof0, lof0 + 6));
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_LAPOUTFRA, 1, got, 6), 6);
    EXPECT_EQ(got[0], 9);
    uint8_t p = 0;
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_DISPLAY_PAGE, 0, &p, 1), 1);
    EXPECT_EQ(p, 4);
}

TEST_F(Nvram, OverlongRequestsAreCutAndLogged) {
    uint8_t big[16] = {7, 7, 7};
    EXPECT_EQ(nvram_dbs_write(NVRAM_ID_ABS_LAP, 0, big, sizeof big), 2);
    EXPECT_TRUE(logContains(takeLogTexts(), "nvram_dbs_write: VOZ try to write more bytes than allowed"));
    uint8_t out[16];
    memset(out, 0xEE, sizeof out);
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_ABS_LAP, 0, out, sizeof out), 2);
    EXPECT_TRUE(logContains(takeLogTexts(), "nvram_dbs_read: VOZ requested more bytes than allowed"));
    EXPECT_EQ(out[1], 7);
    EXPECT_EQ(out[2], 0xEE);   // nothing beyond the element
}

TEST_F(Nvram, MissingElementsNullBuffersAndBadCopies) {
    uint8_t b = 0;
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_DISPLAY_BRIGHTNESS, 0, &b, 1), -1);   // never written
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_DISPLAY_BRIGHTNESS, 0, nullptr, 1), 0);
    EXPECT_EQ(nvram_dbs_write(NVRAM_ID_DISPLAY_BRIGHTNESS, 0, nullptr, 1), -1);
    EXPECT_EQ(nvram_dbs_write(NVRAM_ID_DISPLAY_BRIGHTNESS, 5, &b, 1), -1);   // one copy only
}

TEST_F(Nvram, BootCounterRisesOncePerStart) {
    ASSERT_EQ(base_boot_count_init(), 1);
    uint32_t first = base_boot_count_get();
    EXPECT_EQ(first, 1u);
    restart();
    ASSERT_EQ(base_boot_count_init(), 1);
    EXPECT_EQ(base_boot_count_get(), first + 1);
}

// The count is on the disk once it is told: a cut right after it never
// hands the same count to the next start.
TEST_F(Nvram, BootCounterIsOnTheDiskWhenItIsCounted) {
    ASSERT_EQ(base_boot_count_init(), 1);
    const uint32_t first = base_boot_count_get();
    powerCut();
    ASSERT_EQ(base_boot_count_init(), 1);
    EXPECT_EQ(base_boot_count_get(), first + 1);
    powerCut();
    ASSERT_EQ(base_boot_count_init(), 1);
    EXPECT_EQ(base_boot_count_get(), first + 2);
}

TEST_F(Nvram, AnnotationIsKeptAcrossARestart) {
    nvramst_init();
    EXPECT_STREQ(ecu_annotation_info, "");
    snprintf(ecu_annotation_info, sizeof ecu_annotation_info, "car 7 test rig");
    ASSERT_EQ(nvramst_storeAnnotation(), 1);
    memset(ecu_annotation_info, 0, sizeof ecu_annotation_info);
    restart();
    nvramst_init();
    EXPECT_STREQ(ecu_annotation_info, "car 7 test rig");

}

// ---- error memory ----------------------------------------------------------

namespace {

struct SeenEvent {
    uint32_t id, ts, duration;
    uint8_t kind, severity;
    std::string name, text;
};
std::vector<SeenEvent> gEvents;

void recordEvent(uint32_t id, uint32_t ts, uint32_t duration, uint8_t kind, uint8_t severity, const char* name,
                 const char* text) {
    gEvents.push_back({id, ts, duration, kind, severity, name, text});
}

struct Entry {
    uint16_t path;
    uint8_t type, state;
    uint32_t ts;
    uint16_t count, flag;
};

std::vector<Entry> readEntries() {
    uint8_t buf[ERRMGR_MAX_ENTRIES * ERRMGR_ENTRY_SIZE];
    int n = error_mgr_get_data(buf, sizeof buf);
    std::vector<Entry> out;
    for (int i = 0; i + 12 <= n; i += 12) {
        const uint8_t* p = buf + i;
        out.push_back({static_cast<uint16_t>(p[0] | p[1] << 8), p[2], p[3],
                       static_cast<uint32_t>(p[4] | p[5] << 8 | p[6] << 16 | static_cast<uint32_t>(p[7]) << 24),
                       static_cast<uint16_t>(p[8] | p[9] << 8), static_cast<uint16_t>(p[10] | p[11] << 8)});
    }
    return out;
}

uint8_t state() {
    uint8_t s = 0xFF;
    error_mgr_get_state(&s);
    return s;
}

}  // namespace

class ErrorMgr : public Nvram {
protected:
    void SetUp() override {
        Nvram::SetUp();
        gEvents.clear();
        error_mgr_init();
        error_mgr_setEventHook(recordEvent);
    }
};

TEST_F(ErrorMgr, SetAndClearSendOpenAndClosingEvents) {
    EXPECT_EQ(state(), 0);
    EXPECT_EQ(error_mgr_set(ERRMGR_PATH_DISPLAY, ERRMGR_TYPE_PAGE_TIMEOUT, 0), 0);
    EXPECT_EQ(state(), 2);
    ASSERT_EQ(gEvents.size(), 1u);
    EXPECT_EQ(gEvents[0].id, 0x01000000u + 490);
    EXPECT_EQ(gEvents[0].duration, 0xFFFFFFFFu);
    EXPECT_EQ(gEvents[0].kind, 3);
    EXPECT_EQ(gEvents[0].severity, 3);
    EXPECT_EQ(gEvents[0].name, "DISPLAY");
    EXPECT_EQ(gEvents[0].text, "Page channel timeout");

    // Raising the same error again counts it but opens no second event.
    error_mgr_set(ERRMGR_PATH_DISPLAY, ERRMGR_TYPE_PAGE_TIMEOUT, 0);
    EXPECT_EQ(gEvents.size(), 1u);

    EXPECT_EQ(error_mgr_clear(ERRMGR_PATH_DISPLAY), 0);
    ASSERT_EQ(gEvents.size(), 2u);
    EXPECT_EQ(gEvents[1].id, gEvents[0].id);
    EXPECT_EQ(gEvents[1].ts, gEvents[0].ts);
    EXPECT_NE(gEvents[1].duration, 0xFFFFFFFFu);
    EXPECT_EQ(state(), 1);   // kept, but no longer active

    // Clearing what is not active sends nothing.
    error_mgr_clear(ERRMGR_PATH_DISPLAY);
    error_mgr_clear(ERRMGR_PATH_CAN_IN);
    EXPECT_EQ(gEvents.size(), 2u);

    auto e = readEntries();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].path, 490);
    EXPECT_EQ(e[0].type, 21);
    EXPECT_EQ(e[0].state & 1, 0);
    EXPECT_EQ(e[0].count, 2);
    EXPECT_EQ(e[0].ts, gEvents[0].ts);
}

TEST_F(ErrorMgr, EventPathsAndDirectCodesSendNoEvents) {
    error_mgr_set(EVENTSOURCE, ERRMGR_TYPE_EVENT_OVERLOAD, 0);
    error_mgr_set(EVENTLOGGING, ERRMGR_TYPE_EVENT_OVERLOAD, 0);
    error_mgr_set(0x1234, 5, 0);
    error_mgr_set(510, 5, 0);
    error_mgr_clear(EVENTSOURCE);
    error_mgr_clear(0x1234);
    error_mgr_clear(510);
    EXPECT_TRUE(gEvents.empty());
    EXPECT_EQ(readEntries().size(), 4u);
    EXPECT_EQ(state(), 2);
    error_mgr_set(509, 5, 0);   // the last path that still reports
    ASSERT_EQ(gEvents.size(), 1u);
    EXPECT_EQ(gEvents[0].id, 0x01000000u + 509);
}

TEST_F(ErrorMgr, ReadoutOnlyWholeEntriesThatFit) {
    for (unsigned p = 0; p < 5; ++p) error_mgr_set(ERRMGR_PATH_CAN01 + p, 29, p);
    uint8_t buf[64];
    memset(buf, 0xAA, sizeof buf);
    EXPECT_EQ(error_mgr_get_data(buf, 30), 24);
    EXPECT_EQ(buf[24], 0xAA);
    EXPECT_EQ(error_mgr_get_data(buf, 11), 0);
    EXPECT_EQ(error_mgr_get_data(nullptr, 100), 0);
    uint8_t v[4] = {};
    EXPECT_EQ(error_mgr_get_version(v), 1);
    EXPECT_EQ(v[0], 1);
}

TEST_F(ErrorMgr, FullMemoryLosesNewPathsWithoutHarm) {
    for (unsigned p = 0; p < ERRMGR_MAX_ENTRIES + 5; ++p) error_mgr_set(1000 + p, 1, 0);
    EXPECT_EQ(readEntries().size(), ERRMGR_MAX_ENTRIES);
    EXPECT_TRUE(logContains(takeLogTexts(), "error_mgr_set: error memory full"));
    error_mgr_set(1000, 2, 0);   // known paths still update
    EXPECT_EQ(readEntries()[0].type, 2);
}

TEST_F(ErrorMgr, ClearAllClosesOpenEventsAndEmpties) {
    error_mgr_set(ERRMGR_PATH_CAN_IN, 15, 0);
    error_mgr_set(ERRMGR_PATH_SYSTEM, ERRMGR_TYPE_LAPTRIGGER_MASTER, 0);
    error_mgr_clear(ERRMGR_PATH_SYSTEM);
    gEvents.clear();
    error_mgr_clear_all();
    EXPECT_EQ(state(), 0);
    ASSERT_EQ(gEvents.size(), 1u);
    EXPECT_EQ(gEvents[0].name, "CAN-IN");
}

TEST_F(ErrorMgr, EntriesSurviveARestartThroughTheStore) {
    error_mgr_set(ERRMGR_PATH_CAN_OUT, 3, 7);
    error_mgr_set(ERRMGR_PATH_USB, 4, 0);
    error_mgr_clear(ERRMGR_PATH_USB);
    auto before = readEntries();
    ASSERT_EQ(error_mgr_store(), 1);
    restart();
    EXPECT_EQ(state(), 0);
    error_mgr_init();
    auto after = readEntries();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].path, before[i].path);
        EXPECT_EQ(after[i].type, before[i].type);
        EXPECT_EQ(after[i].state, before[i].state);
        EXPECT_EQ(after[i].flag, before[i].flag);
    }
    EXPECT_EQ(state(), 2);
}

// An entry raised before a step of the time (a slave takes its master's
// time) and cleared after it: its open event is closed at the step and
// opened again in the new time, so that no event spans two time bases. One
// raised in an earlier run was stamped in that run's time: its clearing is
// said now, with no duration.
TEST_F(ErrorMgr, AnEventOpenAcrossATimeStepIsClosedAtTheStepAndOpenedAgain) {
    time_stepResetForTest();
    error_mgr_set(ERRMGR_PATH_TELEMETRY, 5, 0);
    error_mgr_set(ERRMGR_PATH_USB, 4, 0);
    error_mgr_clear(ERRMGR_PATH_USB);
    ASSERT_EQ(gEvents.size(), 3u);
    const uint32_t raised = gEvents[0].ts;
    time_stepNote(raised + 50, 1000);
    time_stepNote(raised + 60 - 259000, 1010);   // 25.9 s back
    ASSERT_EQ(gEvents.size(), 5u) << "only the open one is moved";
    EXPECT_EQ(gEvents[3].name, "TELEMETRY");
    EXPECT_EQ(gEvents[3].ts, raised);
    EXPECT_EQ(gEvents[3].duration, 50u);
    EXPECT_EQ(gEvents[4].ts, raised + 60 - 259000);
    EXPECT_EQ(gEvents[4].duration, 0xFFFFFFFFu);
    error_mgr_clear(ERRMGR_PATH_TELEMETRY);
    ASSERT_EQ(gEvents.size(), 6u);
    EXPECT_EQ(gEvents[5].ts, gEvents[4].ts);
    EXPECT_GE(int32_t(gEvents[5].duration), 0);
    EXPECT_EQ(readEntries()[0].ts, gEvents[4].ts) << "the raise is the new time's";

    error_mgr_set(ERRMGR_PATH_CAN_OUT, 3, 0);
    ASSERT_EQ(error_mgr_store(), 1);
    restart();
    error_mgr_init();
    gEvents.clear();
    error_mgr_setEventHook(recordEvent);
    time_stepNote(1000, 2000);
    time_stepNote(500000, 2010);   // this run's first sync
    EXPECT_TRUE(gEvents.empty()) << "nothing of an earlier run is open in this one";
    error_mgr_clear(ERRMGR_PATH_CAN_OUT);
    ASSERT_EQ(gEvents.size(), 1u);
    EXPECT_EQ(gEvents[0].duration, 0u);
    EXPECT_LE(int32_t(time_getTimestamp() - gEvents[0].ts), 10000);
}

TEST_F(ErrorMgr, BrokenStoredImageIsDiscarded) {
    uint8_t junk[40];
    memset(junk, 0x5A, sizeof junk);
    ASSERT_GT(nvram_dbs_write(NVRAM_ID_ERROR_MEMORY, 0, junk, sizeof junk), 0);
    error_mgr_init();
    EXPECT_EQ(state(), 0);
    // A correct version with more entries than the memory holds.
    junk[0] = 1;
    junk[1] = ERRMGR_MAX_ENTRIES + 1;
    nvram_dbs_write(NVRAM_ID_ERROR_MEMORY, 0, junk, sizeof junk);
    error_mgr_init();
    EXPECT_EQ(state(), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "stored error memory broken"));
    junk[1] = 3;
    nvram_dbs_write(NVRAM_ID_ERROR_MEMORY, 0, junk, sizeof junk);
    error_mgr_init();
    EXPECT_EQ(readEntries().size(), 3u);
}

// The store writes behind its callers: a write is taken, and a disk that
// refuses it is logged at the next change or flush, once per cause.
TEST_F(Nvram, UnreadableFileStartsOnDefaultsAndFailedWritesAreLoggedOncePerCause) {
    // nvram.bin is a folder: reading it must not throw, storing must fail
    std::filesystem::create_directory(dir + "/nvram.bin");
    restart();
    EXPECT_TRUE(logContains(takeLogTexts(), "nvram_dbs_init: nvram.bin is a folder, starting with an empty database"));
    uint32_t count = 0;
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_BOOT_COUNTER, 0, &count, 4), -1);
    takeLogTexts();
    // counted all the same, and said not to be stored
    EXPECT_EQ(base_boot_count_init(), 0);
    EXPECT_EQ(base_boot_count_get(), 1u);
    std::vector<std::string> log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "base_boot_count_init: boot counter 1 not stored"), 1);
    uint8_t page = 2;
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(nvram_dbs_write(NVRAM_ID_DISPLAY_PAGE, 0, &page, 1), 1);
        EXPECT_FALSE(nvram_dbs_flush());
    }
    for (auto& l : takeLogTexts()) log.push_back(l);
    EXPECT_EQ(countContaining(log, "changes not stored: nvram.bin: Is a directory"), 1);
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_DISPLAY_PAGE, 0, &page, 1), 1);   // kept in memory

    // a working store re-arms the message (another cause, as repeats of a
    // line are folded by the log)
    std::filesystem::remove(dir + "/nvram.bin");
    EXPECT_TRUE(nvram_dbs_flush());
    host::setDeviceFolder(dir + "/missing");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(nvram_dbs_write(NVRAM_ID_DISPLAY_PAGE, 0, &page, 1), 1);
        EXPECT_FALSE(nvram_dbs_flush());
    }
    host::nvramReload();   // the writer ends before the folder comes back
    host::setDeviceFolder(dir);
    EXPECT_EQ(countContaining(takeLogTexts(), "changes not stored: nvram.bin.tmp: No such file or directory"), 1);
}

TEST_F(Nvram, ElementWithBothSlotsDamagedIsLoggedAsDamaged) {
    uint8_t a[2] = {1, 1}, b[2] = {2, 2};
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_ABS_LAP, 0, a, 2), 2);
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_ABS_LAP, 0, b, 2), 2);
    ASSERT_TRUE(nvram_dbs_flush());
    // flip the last data byte of both records (each record ends with its data)
    std::string f = readFile("nvram.bin");
    ASSERT_EQ(f.size(), 2u * 16u);
    f[15] ^= 0x55;
    f[31] ^= 0x55;
    writeFile("nvram.bin", f);
    restart();
    takeLogTexts();
    uint8_t out[2];
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_ABS_LAP, 0, out, 2), -1);
    EXPECT_TRUE(logContains(takeLogTexts(), "nvram_dbs_read: NVRAM element 261 copy 0 damaged"));
    // an element never written is merely missing
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_DISPLAY_PAGE, 0, out, 1), -1);
    EXPECT_FALSE(logContains(takeLogTexts(), "damaged"));
}

// A damaged nvram.bin (overwritten, emptied, cut, re-encoded) is said once,
// as a warning, with the number of entries that start on their defaults; a
// missing file is a first start and says nothing of damage.
TEST_F(Nvram, DamagedFileIsReportedOnceWithTheEntriesLost) {
    // every copy of every element of the fixed table but the error memory
    // and the annotation
    uint8_t six[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_LAPOUTFRA, 0, six, 6), 6);
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_LAPOUTFRA, 1, six, 6), 6);
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_LAPSTACK_COUNTERS, 0, six, 4), 4);
    for (unsigned i = 0; i < 256; ++i) ASSERT_EQ(nvram_dbs_write(NVRAM_ID_LAPSTACK, i, six, 6), 6);
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_DISPLAY_PAGE, 0, six, 1), 1);
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_DISPLAY_BRIGHTNESS, 0, six, 1), 1);
    ASSERT_EQ(base_boot_count_init(), 1);
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_ABS_LAP, 0, six, 2), 2);
    ASSERT_TRUE(nvram_dbs_flush());
    const std::string sound = readFile("nvram.bin");

    restart();
    EXPECT_TRUE(takeTextsAtSeverity(4).empty());

    std::filesystem::remove(dir + "/nvram.bin");
    restart();
    EXPECT_TRUE(takeTextsAtSeverity(4).empty()) << "a missing file is a first start";

    std::string utf16;
    for (char c : sound) utf16 += std::string{c, '\0'};
    // the fixed table holds 265 entries (the lap stack's 256 among them)
    const struct {
        const char* what;
        std::string content;
        const char* says;
    } cases[] = {
        {"garbage", std::string(4000, 'x'), "nvram.bin damaged (4000 of 4000 bytes unreadable), 265 entries back to their defaults"},
        {"empty", "", "nvram.bin damaged (empty), 265 entries back to their defaults"},
        // cut inside the last record: the absolute lap counter (id 261) is lost
        {"cut", sound.substr(0, sound.size() - 1), "(15 of 5241 bytes unreadable), 3 entries back to their defaults"},
        {"UTF-16", utf16, "entries back to their defaults"},
    };
    for (const auto& c : cases) {
        writeFile("nvram.bin", c.content);
        restart();
        uint32_t boots = 0;
        nvram_dbs_read(NVRAM_ID_BOOT_COUNTER, 0, &boots, 4);
        base_boot_count_init();
        nvram_dbs_flush();   // before the next case puts its file in place
        std::vector<std::string> w = takeTextsAtSeverity(4);
        ASSERT_EQ(w.size(), 1u) << c.what;
        EXPECT_NE(w[0].find("nvram_dbs_init: "), std::string::npos) << w[0];
        EXPECT_NE(w[0].find(c.says), std::string::npos) << c.what << ": " << w[0];
    }
}
