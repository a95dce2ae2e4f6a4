// The log record, folding of repeats, flood limiting, the threshold and the
// reader that writes the log file.
#include "platform/log_file.h"
#include "platform/syslog_reader.h"
#include "platform/syslogx.h"

#include "platform_fixture.h"

#include "host/os/os_internal.h"
#include "host/tmpfs_mount.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

using Syslogx = PlatformTest;

namespace {
// Waits up to a minute for the condition.
bool waitUntil(const std::function<bool()>& cond);
}  // namespace

TEST_F(Syslogx, RecordCarriesLevelDeviceTagAndCutMessage) {
    syslogx_setDeviceSuffix("_1");
    syslogx(150, "hello %d", 42);
    std::string longText(300, 'x');
    syslogx(147, "%s", longText.c_str());
    auto recs = takeLogRecords();
    syslogx_setDeviceSuffix("");
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].level, 150);
    EXPECT_EQ(std::string(recs[0].device), "TAV9_VOZ_1");
    EXPECT_EQ(recordText(recs[0]), "hello 42");
    // Tag: five digits of milliseconds, a blank, the thread's name.
    std::string tag(recs[0].tag);
    ASSERT_GT(tag.size(), 6u);
    EXPECT_EQ(tag[5], ' ');
    EXPECT_EQ(tag.find_first_not_of("0123456789"), 5u);
    EXPECT_NEAR(static_cast<double>(recs[0].time), static_cast<double>(host::rtcGetUnixMs() / 1000), 5.0);
    // 200 characters fill the field completely.
    EXPECT_EQ(recordText(recs[1]), std::string(200, 'x'));
}

TEST_F(Syslogx, EqualMessagesAreFoldedPerThread) {
    for (int i = 0; i < 5; ++i) syslogx(150, "same");
    syslogx(150, "other");
    auto t = takeLogTexts();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0], "same");
    EXPECT_EQ(t[1], "Last message repeated 4 times.");
    EXPECT_EQ(t[2], "other");

    // A different level is a different message.
    syslogx(150, "lvl");
    syslogx(151, "lvl");
    EXPECT_EQ(takeLogTexts().size(), 2u);

    // Another thread's equal message is not folded into this one's.
    syslogx(150, "shared");
    std::thread([] { syslogx(150, "shared"); }).join();
    EXPECT_EQ(takeLogTexts(), (std::vector<std::string>{"shared", "shared"}));
}

TEST_F(Syslogx, AtMost99RepeatsAreFoldedIntoOneNote) {
    for (int i = 0; i < 150; ++i) syslogx(148, "burst");
    syslogx(148, "end");
    auto t = takeLogTexts();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0], "burst");
    EXPECT_EQ(t[1], "Last message repeated 99 times.");
    EXPECT_EQ(t[2], "Last message repeated 50 times.");
    EXPECT_EQ(t[3], "end");
}

TEST_F(Syslogx, ThreadEndReportsPendingRepeats) {
    std::thread([] {
        syslogx(150, "tail");
        syslogx(150, "tail");
        syslogx(150, "tail");
    }).join();
    EXPECT_EQ(takeLogTexts(), (std::vector<std::string>{"tail", "Last message repeated 2 times."}));
}

TEST_F(Syslogx, ThresholdComparesSeverityOnly) {
    syslogx_setThreshold(3);
    syslogx(150, "info dropped");     // severity 6
    syslogx(147, "error kept");       // severity 3
    syslogx(3, "plain error kept");   // facility 0
    syslogx_setThreshold(7);
    EXPECT_EQ(takeLogTexts(), (std::vector<std::string>{"error kept", "plain error kept"}));
}

// The warning names the message the limit holds back first, not where it
// is kept; a long one is cut so that the warning keeps its end.
TEST_F(Syslogx, FloodCounterWarnsOnceWithTheMessageAndThenStaysSilent) {
    uint8_t counter = 0;
    for (int i = 0; i < 30; ++i) SYSLOGX_FLOOD(counter, 147, "flood %d", i);
    auto t = takeLogTexts();
    ASSERT_EQ(t.size(), 14u);
    EXPECT_EQ(t[12], "flood 12");
    EXPECT_EQ(t[13], "Flooding suspicion! Syslogx message \"flood 13\" will be suppressed in future");
    EXPECT_EQ(counter, 14);
    syslogx_reportHeld();
    EXPECT_TRUE(takeLogTexts().empty()) << "a line on no loss is not counted";

    uint8_t longSite = 13;
    const std::string text(190, 'y');
    SYSLOGX_FLOOD(longSite, 147, "%s", text.c_str());
    t = takeLogTexts();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0], "Flooding suspicion! Syslogx message \"" + std::string(117, 'y') +
                        "...\" will be suppressed in future");
}

// A line on lost records is written each time: never folded into a repeat
// note (the note of what was folded before it comes first), and whatever the
// threshold. The flag is no part of the level.
TEST_F(Syslogx, LossLinesAreNeverFoldedNorHeldByTheThreshold) {
    syslogx(150, "before");
    syslogx(150, "before");
    for (int i = 0; i < 3; ++i) syslogx(147 | SYSLOGX_LOSS, "m01: record at 0x1234 refused");
    syslogx(147, "m01: record at 0x1234 refused");   // the same, no loss line: written once more, not folded
    syslogx_setThreshold(3);
    syslogx(148 | SYSLOGX_LOSS, "warning on a loss");
    syslogx(148, "warning on nothing lost");
    syslogx_setThreshold(7);
    auto recs = takeLogRecords();
    std::vector<std::string> t;
    for (const auto& r : recs) t.push_back(recordText(r));
    EXPECT_EQ(t, (std::vector<std::string>{"before", "Last message repeated 1 times.",
                                           "m01: record at 0x1234 refused", "m01: record at 0x1234 refused",
                                           "m01: record at 0x1234 refused", "m01: record at 0x1234 refused",
                                           "warning on a loss"}));
    ASSERT_EQ(recs.size(), 7u);
    EXPECT_EQ(recs[2].level, 147);
    EXPECT_EQ(recs[6].level, 148);
}

// Past the flood limit a line on lost records is counted, not dropped: the
// log reader logs the count with the last line it counts within about a
// second, although no later line of the site comes; a line on no loss at the
// same time stays suppressed as before.
TEST_F(Syslogx, LossLinesPastTheFloodLimitAreCountedAndTheCountIsLoggedSoon) {
    ASSERT_EQ(syslogx_readerStart(0), 1);
    uint8_t loss = 0, other = 0;
    for (int i = 0; i < 30; ++i) {
        SYSLOGX_FLOOD(loss, 147 | SYSLOGX_LOSS, "BFSWriter: 'meas:/A%07d.001' dropped", i);
        SYSLOGX_FLOOD(other, 147, "noise %d", i);
    }
    const std::string counted = "syslogx: 17 lines held back by the flood limit, the last: BFSWriter: "
                                "'meas:/A0000029.001' dropped";
    const bool logged = waitUntil([&] { return readFile("log.txt").find(counted) != std::string::npos; });
    syslogx_readerStop();
    const std::string log = readFile("log.txt");
    EXPECT_TRUE(logged) << log;
    EXPECT_NE(log.find("BFSWriter: 'meas:/A0000012.001' dropped"), std::string::npos);
    EXPECT_NE(log.find("Flooding suspicion! Syslogx message \"BFSWriter: 'meas:/A0000013.001' dropped\" will be "
                       "held back and counted in future"),
              std::string::npos);
    EXPECT_NE(log.find("Flooding suspicion! Syslogx message \"noise 13\" will be suppressed in future"),
              std::string::npos);
    EXPECT_EQ(log.find("noise 14"), std::string::npos);
    EXPECT_EQ(log.find("lines held back by the flood limit, the last: noise"), std::string::npos);

    // what comes later is counted anew, and said before the reader stops
    for (int i = 0; i < 2; ++i) SYSLOGX_FLOOD(loss, 147 | SYSLOGX_LOSS, "BFSWriter: 'meas:/B%d.001' dropped", i);
    ASSERT_EQ(syslogx_readerStart(0), 1);
    syslogx_readerStop();
    EXPECT_NE(readFile("log.txt").find("syslogx: 2 lines held back by the flood limit, the last: BFSWriter: "
                                       "'meas:/B1.001' dropped"),
              std::string::npos);
}

// A line on lost records that finds the log queue full is counted with its
// text, not among the records dropped, and said once there is room.
TEST_F(Syslogx, LossLineThatFindsTheQueueFullIsCountedWithItsText) {
    for (int i = 0; i < kSyslogQueueDepth; ++i) syslogx(150, "fill %d", i);
    const unsigned dropped = syslogx_droppedCount();
    syslogx(147 | SYSLOGX_LOSS, "event of pid 0x12 dropped");
    syslogx(147 | SYSLOGX_LOSS, "event of pid 0x13 dropped");
    EXPECT_EQ(syslogx_droppedCount(), dropped);
    EXPECT_FALSE(syslogx_reportHeld()) << "no room yet: kept";
    // a reader that stops at once says the count once it has made room
    ASSERT_EQ(syslogx_readerStart(0), 1);
    syslogx_readerStop();
    const std::string log = readFile("log.txt");
    EXPECT_NE(log.find("fill 1023"), std::string::npos);
    EXPECT_NE(log.find("syslogx: 2 lines held back by a full log queue, the last: event of pid 0x13 dropped"),
              std::string::npos);
}

TEST_F(Syslogx, FullQueueDropsWithoutBlocking) {
    unsigned before = syslogx_droppedCount();
    for (int i = 0; i < kSyslogQueueDepth + 20; ++i) syslogx(150, "fill %d", i);
    EXPECT_EQ(syslogx_droppedCount() - before, 20u);
    auto t = takeLogTexts();
    ASSERT_EQ(t.size(), static_cast<size_t>(kSyslogQueueDepth));
    EXPECT_EQ(t.back(), "fill 1023");
}

TEST_F(Syslogx, ReaderWritesQueuedAndLaterRecordsInOrder) {
    syslogx(150, "before reader");
    ASSERT_EQ(syslogx_readerStart(0), 1);
    std::thread([] {
        pthread_setname_np(pthread_self(), "foreign");
        syslogx(150, "from a foreign thread");
    }).join();
    for (int i = 0; i < 50; ++i) syslogx(151, "line %d", i);
    syslogx_flush();
    std::string log = readFile("log.txt");
    syslogx_readerStop();
    EXPECT_FALSE(syslogx_readerRunning());
    size_t a = log.find("before reader");
    size_t b = log.find("foreign: from a foreign thread");
    size_t c = log.find("line 49");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_NE(log.find("TAV9_VOZ <151>"), std::string::npos);

    // With the reader stopped, a flush writes the queued records itself.
    syslogx(150, "after reader");
    syslogx_flush();
    EXPECT_NE(readFile("log.txt").find("after reader"), std::string::npos);
    EXPECT_TRUE(takeLogRecords().empty());
}

// The log file stays bounded: past its size it becomes log.1.txt (the one
// before goes) and a new log.txt begins; no record is lost on the way.
TEST_F(Syslogx, LogFilePastItsSizeIsRenamedAndANewOneBegins) {
    constexpr long kLimit = 4096;
    ASSERT_EQ(syslogx_readerStart(0, kLimit), 1);
    auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
    int n = 0;
    while (readFile("log.1.txt").empty() && n < 1000) {
        syslogx(150, "record %04d of the first file", n++);
        if (n % 10 == 0) syslogx_flush();
    }
    syslogx_flush();
    std::string first = readFile("log.1.txt"), now = readFile("log.txt");
    ASSERT_FALSE(first.empty());
    EXPECT_GE(long(first.size()), kLimit);
    EXPECT_LT(long(first.size()), kLimit + 400);   // the record that passed the size was the last
    EXPECT_EQ(lines(first) + lines(now), n);
    EXPECT_NE(first.find("record 0000 "), std::string::npos);
    char last[32];
    snprintf(last, sizeof last, "record %04d ", n - 1);
    EXPECT_NE((first + now).find(last), std::string::npos);

    // the next pass: the first file goes
    for (int i = 0; i < 200; ++i) syslogx(150, "record %04d of the second file", i);
    syslogx_flush();
    syslogx_readerStop();
    EXPECT_EQ(readFile("log.1.txt").find("of the first file"), std::string::npos);
    EXPECT_LT(long(readFile("log.txt").size()), kLimit);
    EXPECT_NE((readFile("log.1.txt") + readFile("log.txt")).find("record 0199 of the second file"), std::string::npos);
}

// log.txt stays text: bytes below 0x20 but the tab, DEL and bytes that are
// no UTF-8 (a lone or cut sequence, an overlong form, a surrogate) are
// written as escapes; UTF-8 characters and backslashes stay as they are.
TEST_F(Syslogx, RawBytesReachTheLogFileAsEscapes) {
    ASSERT_EQ(syslogx_readerStart(0, 0), 1);
    syslogx(150, "raw \x01\x1b[2J\tx\x7f \xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80 \xff\xc3 \xe2\x82 "
                 "\xed\xa0\x80 \xc0\xaf \xf4\x90\x80\x80 c:\\x two\nlines end");
    syslogx_flush();
    syslogx_readerStop();
    const std::string log = readFile("log.txt");
    EXPECT_NE(log.find("raw \\x01\\x1b[2J\tx\\x7f \xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80 \\xff\\xc3 \\xe2\\x82 "
                       "\\xed\\xa0\\x80 \\xc0\\xaf \\xf4\\x90\\x80\\x80 c:\\x two\\x0alines end\n"),
              std::string::npos)
        << log;
}

// Characters that show nothing or turn the text around (a byte-order mark
// in a name taken from a file, zero-width and direction marks, C1 controls)
// are written as the escapes of their bytes too, so that a name is seen as
// it is; other characters stay.
TEST(LogLineText, InvisibleCharactersAreEscaped) {
    EXPECT_EQ(logLineText("line 7: \xef\xbb\xbft_water"), "line 7: \\xef\\xbb\\xbft_water");
    EXPECT_EQ(logLineText("a\xe2\x80\x8b" "b \xe2\x80\xae" "cba \xc2\x85 \xc2\xad \xe2\x81\xa0"),
              "a\\xe2\\x80\\x8bb \\xe2\\x80\\xaecba \\xc2\\x85 \\xc2\\xad \\xe2\\x81\\xa0");
    EXPECT_EQ(logLineText("\xc2\xa0\xc3\xa4\xe2\x80\x94\xe2\x82\xac\xf0\x9f\x98\x80"),
              "\xc2\xa0\xc3\xa4\xe2\x80\x94\xe2\x82\xac\xf0\x9f\x98\x80");
}

// Records dropped from a full queue are said in one line, once, after the
// first record that finds room again. The note never takes a record's slot:
// with one slot free the record goes in and the note waits for more room.
TEST_F(Syslogx, DroppedRecordsAreSaidOnceTheQueueHasRoom) {
    for (int i = 0; i < kSyslogQueueDepth + 20; ++i) syslogx(150, "fill %d", i);
    HostMsgQ* q = syslogx_queue();
    SyslogRecord r;
    for (int freed = 0; freed < 3; ++freed) {
        ASSERT_EQ(msgQReceive(q, &r, sizeof r, NO_WAIT), static_cast<long>(sizeof r));
        syslogx(150, "finds room %d", freed);
    }
    syslogx(150, "no room");
    auto t = takeLogTexts();
    ASSERT_EQ(t.size(), static_cast<size_t>(kSyslogQueueDepth));
    EXPECT_EQ(std::vector<std::string>(t.end() - 3, t.end()),
              (std::vector<std::string>{"finds room 0", "finds room 1", "finds room 2"}));
    syslogx(150, "room again");
    syslogx(150, "and more");
    EXPECT_EQ(takeLogTexts(), (std::vector<std::string>{"room again",
                                                         "syslogx: 21 log records dropped, the log queue was full",
                                                         "and more"}));
}

// In the orderly shutdown a record waits for room in a full queue instead of
// being dropped: the lines that tell how the run ended reach the log.
TEST_F(Syslogx, ShutdownLinesWaitForRoomInAFullQueue) {
    for (int i = 0; i < kSyslogQueueDepth; ++i) syslogx(150, "fill %d", i);
    const unsigned dropped = syslogx_droppedCount();
    syslogx_waitForRoom(10000, 10000);
    std::atomic<bool> logging{false};
    std::thread shutdownTask([&] {
        logging = true;
        for (int i = 0; i < 3; ++i) syslogx(150, "rtpShutdown: line %d", i);
    });
    while (!logging) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // the log reader's part: take records until the last line came
    std::vector<std::string> got;
    HostMsgQ* q = syslogx_queue();
    SyslogRecord r;
    while ((got.empty() || got.back() != "rtpShutdown: line 2") &&
           msgQReceive(q, &r, sizeof r, 5 * sysClkRateGet()) == static_cast<long>(sizeof r))
        got.push_back(recordText(r));
    shutdownTask.join();
    syslogx_waitForRoom(0, 0);
    ASSERT_EQ(got.size(), static_cast<size_t>(kSyslogQueueDepth + 3));
    EXPECT_EQ(got[kSyslogQueueDepth], "rtpShutdown: line 0");
    EXPECT_EQ(syslogx_droppedCount(), dropped);
}

// The shutdown's waits for room are bounded as a whole: once the total is
// spent, a record that finds the queue full is dropped at once, so a reader
// that makes no room holds the stopping tasks up no longer than that.
TEST_F(Syslogx, ShutdownWaitsForRoomAreBoundedAsAWhole) {
    for (int i = 0; i < kSyslogQueueDepth; ++i) syslogx(150, "fill %d", i);
    const unsigned dropped = syslogx_droppedCount();
    syslogx_waitForRoom(600000, 300);   // one record alone could wait ten minutes
    std::vector<std::thread> tasks;
    for (int t = 0; t < 3; ++t)
        tasks.emplace_back([t] {
            for (int i = 0; i < 4; ++i) syslogx(150, "task %d stops, line %d", t, i);
        });
    for (auto& t : tasks) t.join();
    EXPECT_EQ(syslogx_droppedCount() - dropped, 12u);
    // the budget is spent, but the shutdown's own line still waits for room
    std::thread reader([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SyslogRecord r;
        msgQReceive(syslogx_queue(), &r, sizeof r, WAIT_FOREVER);
    });
    syslogx(150, "rtpShutdown: done");
    reader.join();
    syslogx_waitForRoom(0, 0);
    EXPECT_EQ(syslogx_droppedCount() - dropped, 12u);
    EXPECT_EQ(takeLogTexts().back(), "rtpShutdown: done");
}

// A thread that ends never waits for room: its folded repeats are noted
// without waiting (dropped and counted when the queue is full), also for a
// task deleted during the shutdown's wait, where a wait would throw the
// delete out of the thread's end.
TEST_F(Syslogx, AThreadEndingWithFoldedRepeatsNeverWaitsForRoom) {
    SEM_ID folded = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
    SEM_ID never = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
    TASK_ID task = taskSpawn("r_folding", 100, 0, 0, [&] {
        for (int i = 0; i < 3; ++i) syslogx(150, "task repeats");
        semGive(folded);
        semTake(never, WAIT_FOREVER);   // deleted here
    });
    ASSERT_NE(task, TASK_ID_ERROR);
    std::mutex mx;
    std::condition_variable cv;
    bool threadFolded = false, threadEnds = false;
    std::thread plain([&] {
        for (int i = 0; i < 3; ++i) syslogx(150, "thread repeats");
        std::unique_lock<std::mutex> lk(mx);
        threadFolded = true;
        cv.notify_all();
        cv.wait(lk, [&] { return threadEnds; });
    });
    ASSERT_EQ(semTake(folded, WAIT_FOREVER), OK);
    {
        std::unique_lock<std::mutex> lk(mx);
        cv.wait(lk, [&] { return threadFolded; });
    }
    for (int i = 0; i < kSyslogQueueDepth; ++i) syslogx(150, "fill %d", i);
    const unsigned dropped = syslogx_droppedCount();
    syslogx_waitForRoom(600000, 600000);   // nobody reads: a wait would outlast the test
    EXPECT_EQ(taskDelete(task), OK);
    {
        std::lock_guard<std::mutex> lk(mx);
        threadEnds = true;
        cv.notify_all();
    }
    plain.join();
    syslogx_waitForRoom(0, 0);
    EXPECT_EQ(syslogx_droppedCount() - dropped, 2u);
    semDelete(folded);
    semDelete(never);
}

namespace {

// Points the process's stderr (descriptor 2) somewhere else for a while.
class StderrTo {
public:
    explicit StderrTo(int fd) : saved_(dup(STDERR_FILENO)) { dup2(fd, STDERR_FILENO); }
    ~StderrTo() {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

bool waitUntil(const std::function<bool()>& cond) {
    for (int i = 0; i < 60000; ++i) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return cond();
}

}  // namespace

// Records dropped from a full queue are said before the reader stops, also
// when no record came after them to carry the note.
TEST_F(Syslogx, DroppedRecordsAreSaidBeforeTheReaderStops) {
    for (int i = 0; i < kSyslogQueueDepth + 5; ++i) syslogx(150, "fill %d", i);
    ASSERT_EQ(syslogx_readerStart(0), 1);
    syslogx_readerStop();
    const std::string log = readFile("log.txt");
    EXPECT_NE(log.find("fill 1023"), std::string::npos);
    EXPECT_NE(log.find("syslogx: 5 log records dropped, the log queue was full"), std::string::npos);
}

// A log.txt that is no plain file (here a FIFO, with a reader that never
// reads) is named on stderr and not written: nothing waits on it, neither the
// reader nor a flush nor the stop, and the FIFO stays as it is.
TEST_F(Syslogx, LogFileThatIsAFifoIsNamedAndNotUsed) {
    makeFifo("log.txt");
    const std::string fifo = dir + "/log.txt";
    const int never = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);   // opened, never read
    ASSERT_GE(never, 0);
    FILE* err = tmpfile();
    ASSERT_NE(err, nullptr);
    bool inTime;
    {
        StderrTo redirect(fileno(err));
        auto done = std::async(std::launch::async, [] {
            EXPECT_EQ(syslogx_readerStart(0), 1);
            for (int i = 0; i < 2000; ++i) syslogx(150, "line %d that would fill the FIFO", i);
            syslogx_flush();
            syslogx_readerStop();
        });
        inTime = done.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        // a writer of the FIFO would wait for room: make room until it is back
        char buf[4096];
        while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            while (read(never, buf, sizeof buf) > 0) {
            }
        done.get();
    }
    close(never);
    EXPECT_TRUE(inTime) << "the log waited on the FIFO";
    struct stat st;
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    rewind(err);
    char text[1024] = {};
    EXPECT_GT(fread(text, 1, sizeof text - 1, err), 0u);
    fclose(err);
    EXPECT_NE(std::string(text).find(fifo + " is a FIFO"), std::string::npos) << text;
}

// A reader stuck in a write (here to a stderr nobody reads) is given up by
// the stop within the time it is given, and the stop writes what is still
// queued to log.txt itself, the note of the records dropped meanwhile too.
TEST_F(Syslogx, StopGivesUpAStuckReaderAndWritesTheQueueItself) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    // a full pipe whose writer blocks
    fcntl(p[1], F_SETFL, O_NONBLOCK);
    char fill[4096] = {};
    while (write(p[1], fill, sizeof fill) > 0) {
    }
    fcntl(p[1], F_SETFL, 0);
    const size_t tasksBefore = hostos::liveTaskCount();
    bool inTime;
    {
        StderrTo redirect(p[1]);
        ASSERT_EQ(syslogx_readerStart(3), 1);
        syslogx(3, "an error the reader copies to stderr");
        EXPECT_TRUE(waitUntil([&] { return readFile("log.txt").find("copies to stderr") != std::string::npos; }));
        for (int i = 0; i < kSyslogQueueDepth + 5; ++i) syslogx(150, "queued %d behind the stuck reader", i);
        // within a stop's budget: the reader is given up in time for it
        const auto before = std::chrono::steady_clock::now();
        auto stopped = std::async(std::launch::async, [] { return syslogx_readerStopWithin(1500); });
        inTime = stopped.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(2500))
            << "the stop took longer than its budget";
        // the reader's write comes back in any case; drain until the stop is
        // back and the reader has ended
        fcntl(p[0], F_SETFL, O_NONBLOCK);
        auto drained = [&] {
            while (read(p[0], fill, sizeof fill) > 0) {
            }
            return stopped.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready &&
                   hostos::liveTaskCount() <= tasksBefore;
        };
        EXPECT_TRUE(waitUntil(drained));
        EXPECT_TRUE(stopped.get()) << "the queue was written by the stop";
    }
    close(p[0]);
    close(p[1]);
    EXPECT_TRUE(inTime) << "the stop waited for the stuck reader";
    EXPECT_FALSE(syslogx_readerRunning());
    const std::string log = readFile("log.txt");
    EXPECT_NE(log.find("queued 0 behind the stuck reader"), std::string::npos);
    EXPECT_NE(log.find("queued 1023 behind the stuck reader"), std::string::npos);
    EXPECT_NE(log.find("syslogx: 5 log records dropped, the log queue was full"), std::string::npos);
    EXPECT_LT(log.find("queued 1023 behind"), log.find("5 log records dropped"));
}

namespace {

std::string stderrText(FILE* err) {
    rewind(err);
    std::string text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, err)) > 0;) text.append(buf, n);
    return text;
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

// A log.txt removed while the reader writes it (a log rotation, a person
// tidying up) is seen, and the log goes on in a new log.txt that says so;
// one replaced by another file goes on in that file; the size limit still
// turns the new file into log.1.txt.
TEST_F(Syslogx, LogFileRemovedOrReplacedWhileInUseGoesOnInTheFileAtItsName) {
    constexpr long kLimit = 4096;
    ASSERT_EQ(syslogx_readerStart(0, kLimit), 1);
    syslogx(150, "into the first file");
    syslogx_flush();
    ASSERT_EQ(::unlink((dir + "/log.txt").c_str()), 0);
    int n = 0;   // each record differs: equal ones in a row are folded
    // records keep coming; within a while a new log.txt takes them
    ASSERT_TRUE(waitUntil([&] {
        syslogx(150, "after the removal %d", ++n);
        syslogx_flush();
        return readFile("log.txt").find("after the removal") != std::string::npos;
    }));
    std::string log = readFile("log.txt");
    EXPECT_NE(log.find("log.txt was removed while in use: the log goes on in a new one"), std::string::npos) << log;
    EXPECT_EQ(log.find("into the first file"), std::string::npos);

    writeFile("other.txt", "put there by hand\n");
    ASSERT_EQ(::rename((dir + "/other.txt").c_str(), (dir + "/log.txt").c_str()), 0);
    ASSERT_TRUE(waitUntil([&] {
        syslogx(150, "after the replacement %d", ++n);
        syslogx_flush();
        return readFile("log.txt").find("after the replacement") != std::string::npos;
    }));
    log = readFile("log.txt");
    EXPECT_EQ(log.rfind("put there by hand\n", 0), 0u) << log;
    EXPECT_NE(log.find("log.txt was replaced while in use"), std::string::npos) << log;

    for (int i = 0; i < 1000 && readFile("log.1.txt").empty(); ++i) {
        syslogx(150, "record %03d towards the size limit", i);
        syslogx_flush();
    }
    syslogx(150, "the last record");
    syslogx_flush();
    syslogx_readerStop();
    EXPECT_EQ(readFile("log.1.txt").rfind("put there by hand\n", 0), 0u);
    EXPECT_NE(readFile("log.txt").find("the last record"), std::string::npos);
}

// A full drive: the log file keeps whole lines only; the lines it refused
// are written once it has room again (a line that names lost data must not
// be lost with it), those past what is kept are counted in their place, and
// the refusal is said on stderr once.
TEST_F(Syslogx, FullDriveLeavesWholeLinesAndKeepsTheRecordsItRefused) {
    TmpfsMount drive(dir, "256k");
    if (!drive.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    FILE* err = tmpfile();
    ASSERT_NE(err, nullptr);
    // more than the 64 KiB kept while the drive refuses
    constexpr int kRecords = 1000;
    auto name = [](int i) { return "record " + std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i) + " of"; };
    std::string log;
    {
        StderrTo redirect(fileno(err));
        ASSERT_EQ(syslogx_readerStart(7), 1);
        syslogx(150, "record 000 of %d, on a drive with room", kRecords);
        syslogx_flush();
        drive.fill("filler");
        // log.txt has the rest of its first block; the records go in tens
        for (int i = 1; i < kRecords; ++i) {
            syslogx(150, "record %03d of %d, %s", i, kRecords, std::string(60, 'x').c_str());
            if (i % 10 == 0) syslogx_flush();
        }
        syslogx_flush();
        log = readFile("log.txt");
        drive.empty("filler");
        syslogx(150, "room again");
        syslogx_flush();
        syslogx_readerStop();
    }
    const std::string err2 = stderrText(err);
    fclose(err);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n') << "a line cut off at the end";
    const size_t written = countOf(log, "\n");
    EXPECT_EQ(countOf(log, " record "), written) << "lines glued into each other:\n" << log;
    ASSERT_LT(written, size_t(kRecords)) << "the drive never filled";
    // the rest of its last block took the lines that fit (less than a line
    // is left), while the others were kept
    EXPECT_LT((4096 - log.size() % 4096) % 4096, 200u) << "room for whole lines left unused";

    // the records refused are there in their order, up to what is kept; the
    // rest is counted in their place, before the line that came after them
    const std::string all = readFile("log.txt");
    int kept = 0;
    size_t at = 0;
    while (kept < kRecords) {
        const size_t p = all.find(name(kept));
        if (p == std::string::npos) break;
        EXPECT_GE(p, at) << name(kept) << " out of its order";
        at = p;
        ++kept;
    }
    EXPECT_GT(size_t(kept), written + 100) << "the refused records were not kept";
    ASSERT_LT(kept, kRecords) << "more was kept than is bounded";
    for (int i = kept; i < kRecords; ++i) EXPECT_EQ(all.find(name(i)), std::string::npos) << name(i);
    const std::string said = "log: " + std::to_string(kRecords - kept) +
                             " log records could not be written (" + std::strerror(ENOSPC) + ")";
    const size_t saidAt = all.find(said);
    ASSERT_NE(saidAt, std::string::npos) << all.substr(log.size());
    EXPECT_GT(saidAt, at);
    EXPECT_LT(saidAt, all.find("room again"));
    EXPECT_EQ(countOf(err2, "log.txt cannot be written (" + std::string(std::strerror(ENOSPC)) + ")"), 1u)
        << err2;
}

// A nearly full drive still takes the whole lines that fit: the lines the
// log kept go in as far as they fit, the rest stays kept, in order.
TEST_F(Syslogx, NearlyFullDriveTakesTheKeptLinesThatFit) {
    TmpfsMount drive(dir, "64k");
    if (!drive.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    FILE* err = tmpfile();
    ASSERT_NE(err, nullptr);
    std::string held;
    {
        StderrTo redirect(fileno(err));
        LogFile f(dir + "/log.txt", dir + "/log.1.txt", 1 << 20);
        ASSERT_TRUE(f.open());
        f.write("first");
        f.flush();
        drive.fill("filler");
        // more than is written in one go: the first write is cut short
        for (int i = 0; i < 200; ++i) f.write(("line " + std::to_string(i) + " " + std::string(50, 'y')).c_str());
        f.flush();
        held = readFile("log.txt");
        drive.empty("filler");
        f.flush();
    }
    fclose(err);
    EXPECT_LT((4096 - held.size() % 4096) % 4096, 60u) << "room for whole lines left unused";
    EXPECT_EQ(held.back(), '\n');
    const std::string all = readFile("log.txt");
    EXPECT_EQ(all.rfind(held, 0), 0u);
    size_t at = 0;
    for (int i = 0; i < 200; ++i) {
        const size_t p = all.find("line " + std::to_string(i) + " ");
        ASSERT_NE(p, std::string::npos) << i;
        EXPECT_GT(p, at);
        at = p;
    }
    EXPECT_EQ(countOf(all, "\n"), 201u);
}

// A link where log.txt belongs is never written through, neither one found
// at the start nor one put in place of the file while the reader writes it:
// it is named on stderr, as a FIFO there is, and the file it leads to stays
// as it was. Once it is gone a new log.txt begins.
TEST_F(Syslogx, LogFileThatIsALinkIsNamedAndNotWrittenThrough) {
    const std::string elsewhere = dir + "/elsewhere.txt";   // stands for a file in another folder
    writeFile("elsewhere.txt", "not the log's\n");
    const std::string log = dir + "/log.txt";
    ASSERT_EQ(::symlink(elsewhere.c_str(), log.c_str()), 0);
    FILE* err = tmpfile();
    ASSERT_NE(err, nullptr);
    {
        StderrTo redirect(fileno(err));
        ASSERT_EQ(syslogx_readerStart(0), 1);
        syslogx(150, "a record at the start");
        syslogx_flush();
        EXPECT_EQ(readFile("elsewhere.txt"), "not the log's\n");

        // the link goes: a new log.txt begins and says why
        ASSERT_EQ(::unlink(log.c_str()), 0);
        int n = 0;
        ASSERT_TRUE(waitUntil([&] {
            syslogx(150, "once the link is gone %d", ++n);
            syslogx_flush();
            return readFile("log.txt").find("once the link is gone") != std::string::npos;
        }));
        EXPECT_NE(readFile("log.txt").find("is written again: the records before reached stderr only (it was a link)"),
                  std::string::npos)
            << readFile("log.txt");

        // log.txt replaced by a link while in use
        ASSERT_EQ(::unlink(log.c_str()), 0);
        ASSERT_EQ(::symlink(elsewhere.c_str(), log.c_str()), 0);
        ASSERT_TRUE(waitUntil([&] {
            syslogx(150, "after the link came %d", ++n);
            syslogx_flush();
            return countOf(stderrText(err), log + " is a link: the log is not written") >= 2;
        }));
        for (int i = 0; i < 20; ++i) syslogx(150, "more after the link %d", i);
        syslogx_flush();
        syslogx_readerStop();
    }
    const std::string said = stderrText(err);
    fclose(err);
    EXPECT_EQ(readFile("elsewhere.txt"), "not the log's\n");
    struct stat st;
    ASSERT_EQ(lstat(log.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(countOf(said, log + " is a link: the log is not written"), 2u) << said;
}

// A rotation that fails (a folder where log.1.txt belongs) keeps log.txt as
// it is, names the cause on stderr, and writes it no further: the log stays
// bounded. Once the folder is gone the rotation is made and a new log.txt
// begins.
TEST_F(Syslogx, FailedRotationKeepsTheLogAndSaysWhy) {
    constexpr long kLimit = 4096;
    ASSERT_TRUE(std::filesystem::create_directory(dir + "/log.1.txt"));
    FILE* err = tmpfile();
    ASSERT_NE(err, nullptr);
    int n = 0;
    std::string kept;
    {
        StderrTo redirect(fileno(err));
        ASSERT_EQ(syslogx_readerStart(0, kLimit), 1);
        ASSERT_TRUE(waitUntil([&] {
            syslogx(150, "record %04d towards the limit", n++);
            syslogx_flush();
            return stderrText(err).find("cannot be renamed") != std::string::npos;
        }));
        kept = readFile("log.txt");
        for (int i = 0; i < 50; ++i) syslogx(150, "record %04d past the limit", n++);
        syslogx_flush();
        EXPECT_EQ(readFile("log.txt"), kept) << "written past its limit";
        std::filesystem::remove(dir + "/log.1.txt");
        ASSERT_TRUE(waitUntil([&] {
            syslogx(150, "record %04d once the folder is gone", n++);
            syslogx_flush();
            return readFile("log.txt").find("once the folder is gone") != std::string::npos;
        }));
        syslogx_readerStop();
    }
    const std::string said = stderrText(err);
    fclose(err);
    EXPECT_GE(long(kept.size()), kLimit);
    EXPECT_NE(kept.find("record 0000 towards the limit"), std::string::npos);
    EXPECT_EQ(readFile("log.1.txt"), kept);
    EXPECT_EQ(countOf(said, "log.txt is at its limit and cannot be renamed to " + dir + "/log.1.txt (" +
                                std::strerror(EISDIR) + "): the log is not written"),
              1u)
        << said;
    EXPECT_EQ(said.find("starts again"), std::string::npos) << said;
}
