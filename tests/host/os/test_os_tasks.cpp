// Tasks, semaphores and message queues: time-outs, deletion of blocked tasks,
// the named registry.
#include "host/os/os.h"
#include "host/os/os_internal.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

namespace {

TEST(HostTasks, SpawnRecordsAndEnds) {
    std::atomic<int> ran{0};
    TASK_ID seen = nullptr;
    std::string name;
    TASK_ID t = taskSpawn("tWorker", 120, VX_FP_TASK, 0x4000, [&] {
        seen = taskIdSelf();
        name = taskName(nullptr);
        ran = 1;
    });
    ASSERT_NE(t, TASK_ID_ERROR);
    ASSERT_EQ(taskWait(t, WAIT_FOREVER), OK);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(seen, t);
    EXPECT_EQ(name, "tWorker");
    EXPECT_EQ(hostos::liveTaskCount(), 0u);
}

TEST(HostTasks, ForeignThreadHasIdentity) {
    TASK_ID me = taskIdSelf();
    ASSERT_NE(me, nullptr);
    EXPECT_EQ(taskIdSelf(), me);
    EXPECT_STREQ(taskName(nullptr), "");
    EXPECT_EQ(taskDelete(me), ERROR);   // the runner's thread cannot be unwound
    EXPECT_EQ(taskDelay(1), OK);
}

void entryWithArg(intptr_t arg) { *reinterpret_cast<std::atomic<int>*>(arg) = 7; }

TEST(HostTasks, EntryPointGetsFullPointerArgument) {
    std::atomic<int> v{0};
    TASK_ID t = taskSpawn("tArg", 100, 0, 0, entryWithArg, reinterpret_cast<intptr_t>(&v));
    ASSERT_EQ(taskWait(t, WAIT_FOREVER), OK);
    EXPECT_EQ(v, 7);
}

// A deleted task is unwound out of each kind of blocking call, runs its
// destructors, and taskDelete returns after the thread has ended.
TEST(HostTasks, DeleteUnwindsBlockedTasks) {
    SEM_ID sem = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
    MSG_Q_ID q = msgQCreate(4, 16, MSG_Q_FIFO);
    std::atomic<int> unwound{0};
    struct Mark {
        std::atomic<int>& n;
        ~Mark() { ++n; }
    };
    std::atomic<int> started{0};
    TASK_ID a = taskSpawn("tSem", 100, 0, 0, [&] { Mark m{unwound}; ++started; semTake(sem, WAIT_FOREVER); });
    TASK_ID b = taskSpawn("tQ", 100, 0, 0, [&] {
        Mark m{unwound};
        ++started;
        char buf[16];
        msgQReceive(q, buf, sizeof buf, WAIT_FOREVER);
    });
    TASK_ID c = taskSpawn("tDly", 100, 0, 0, [&] { Mark m{unwound}; ++started; taskDelay(1000000); });
    TASK_ID d = taskSpawn("tSelf", 100, 0, 0, [&] {
        Mark m{unwound};
        taskDelete(taskIdSelf());
        ADD_FAILURE() << "taskDelete of self returned";
    });
    while (started < 3) taskDelay(1);
    EXPECT_EQ(taskDelete(a), OK);
    EXPECT_EQ(taskDelete(b), OK);
    EXPECT_EQ(taskDelete(c), OK);
    EXPECT_EQ(taskWait(d, WAIT_FOREVER), OK);
    EXPECT_EQ(unwound, 4);
    EXPECT_EQ(taskDelete(a), ERROR);   // already gone
    EXPECT_EQ(hostos::liveTaskCount(), 0u);
    // the objects still work after their waiters were unwound
    EXPECT_EQ(semGive(sem), OK);
    EXPECT_EQ(semTake(sem, NO_WAIT), OK);
    semDelete(sem);
    msgQDelete(q);
}

// A task blocked in a system call of its own, outside every wait of the OS
// layer, can only be unwound once the call is back: its delete stops waiting
// for it after a while (or at its deadline) instead of holding the deleter
// for good, and the task ends at its next wait.
TEST(HostTasks, DeleteOfATaskStuckInASystemCallDoesNotHoldTheDeleter) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::atomic<int> unwound{0}, started{0};
    struct Mark {
        std::atomic<int>& n;
        ~Mark() { ++n; }
    };
    TASK_ID t = taskSpawn("tStuck", 100, 0, 0, [&] {
        Mark m{unwound};
        ++started;
        char c;
        (void)!read(fds[0], &c, 1);
        taskDelay(1000000);   // the delete unwinds it here
    });
    ASSERT_NE(t, TASK_ID_ERROR);
    while (!started) taskDelay(1);
    // a delete with a deadline returns by it
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(taskDeleteWithin(t, 100 * sysClkRateGet() / 1000), ERROR);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
    auto deleted = std::async(std::launch::async, [t] { return taskDelete(t); });
    const bool returned = deleted.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    ASSERT_EQ(write(fds[1], "x", 1), 1);   // the call comes back in any case
    EXPECT_TRUE(returned) << "taskDelete waited for a task stuck in read()";
    EXPECT_EQ(deleted.get(), ERROR);        // not ended yet when it returned
    for (int i = 0; i < 30000 && hostos::liveTaskCount() != 0; ++i) taskDelay(1);
    EXPECT_EQ(hostos::liveTaskCount(), 0u);
    EXPECT_EQ(unwound, 1);
    close(fds[0]);
    close(fds[1]);
}

// The id of a task that ended stays its own: tasks spawned after it (which
// may reuse its memory) get other ids, and waiting on it returns at once
// instead of waiting on whichever task took its place.
TEST(HostTasks, EndedTaskIdIsNeverReused) {
    std::atomic<bool> done{false};
    SEM_ID go = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
    TASK_ID early = taskSpawn("tEarly", 100, 0, 0, [&] {
        semTake(go, WAIT_FOREVER);
        done = true;
    });
    ASSERT_NE(early, TASK_ID_ERROR);
    // a name read while the task runs stays readable after its record is
    // freed: callers log it once the task is gone
    const char* earlyName = taskName(early);
    semGive(go);
    while (!done) taskDelay(1);
    taskDelay(5);   // let its thread finish, so the next spawn reaps it

    SEM_ID hold = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
    std::vector<TASK_ID> later;
    for (int i = 0; i < 20; ++i) {
        later.push_back(taskSpawn("tLater", 100, 0, 0, [&] { semTake(hold, WAIT_FOREVER); }));
        EXPECT_NE(later.back(), early) << "spawn " << i << " reused the ended task's id";
    }
    EXPECT_EQ(taskWait(early, 200), OK);
    EXPECT_EQ(taskWait(early, WAIT_FOREVER), OK);   // and again: still nothing to wait for
    EXPECT_EQ(taskDelete(early), ERROR);            // an ended task cannot be deleted
    EXPECT_STREQ(taskName(early), "");
    EXPECT_STREQ(earlyName, "tEarly");
    semDelete(go);

    for (TASK_ID t : later) EXPECT_EQ(taskDelete(t), OK);
    semDelete(hold);
    EXPECT_EQ(hostos::liveTaskCount(), 0u);
}

TEST(HostTasks, WaitOnIdNeverIssuedFails) {
    EXPECT_EQ(taskWait(nullptr, 10), ERROR);
    EXPECT_EQ(taskWait(reinterpret_cast<TASK_ID>(~uintptr_t{0} - 15), 10), ERROR);
}

TEST(HostSemaphores, BinaryCountingTimeouts) {
    SEM_ID b = semBCreate(0, SEM_FULL);
    EXPECT_EQ(semTake(b, NO_WAIT), OK);
    EXPECT_EQ(semTake(b, NO_WAIT), ERROR);
    EXPECT_EQ(semTake(b, 5), ERROR);
    semGive(b);
    semGive(b);   // binary: stays 1
    EXPECT_EQ(semCount(b), 1);
    semDelete(b);

    SEM_ID c = semCCreate(0, 2);
    semGive(c);
    EXPECT_EQ(semCount(c), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(semTake(c, NO_WAIT), OK);
    EXPECT_EQ(semTake(c, 2), ERROR);
    semDelete(c);
    EXPECT_EQ(semTake(nullptr, NO_WAIT), ERROR);
    EXPECT_EQ(semGive(nullptr), ERROR);
}

TEST(HostSemaphores, MutexIsRecursiveAndOwned) {
    SEM_ID m = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    EXPECT_EQ(semTake(m, NO_WAIT), OK);
    EXPECT_EQ(semTake(m, NO_WAIT), OK);
    EXPECT_EQ(semCount(m), -1);
    STATUS other = OK;
    STATUS otherGive = OK;
    TASK_ID t = taskSpawn("tOther", 100, 0, 0, [&] {
        other = semTake(m, 3);
        otherGive = semGive(m);
    });
    taskWait(t, WAIT_FOREVER);
    EXPECT_EQ(other, ERROR);
    EXPECT_EQ(otherGive, ERROR);
    semGive(m);
    semGive(m);
    t = taskSpawn("tOther2", 100, 0, 0, [&] { other = semTake(m, NO_WAIT); semGive(m); });
    taskWait(t, WAIT_FOREVER);
    EXPECT_EQ(other, OK);
    semDelete(m);
}

TEST(HostSemaphores, WakesWaiterAcrossTasks) {
    SEM_ID s = semBCreate(0, SEM_EMPTY);
    STATUS got = ERROR;
    TASK_ID t = taskSpawn("tWait", 100, 0, 0, [&] { got = semTake(s, WAIT_FOREVER); });
    semGive(s);
    ASSERT_EQ(taskWait(t, WAIT_FOREVER), OK);
    EXPECT_EQ(got, OK);
    semDelete(s);
}

TEST(HostSemaphores, DeleteReleasesWaiterWithError) {
    SEM_ID s = semBCreate(0, SEM_EMPTY);
    std::atomic<int> got{1};
    TASK_ID t = taskSpawn("tWait", 100, 0, 0, [&] { got = semTake(s, WAIT_FOREVER); });
    for (;;) {   // until the task waits inside semTake
        std::lock_guard<std::mutex> lk(s->mx);
        if (s->waiters == 1) break;
    }
    semDelete(s);
    ASSERT_EQ(taskWait(t, WAIT_FOREVER), OK);
    EXPECT_EQ(got, ERROR);
}

TEST(HostMsgQ, OrderUrgentCutAndFull) {
    MSG_Q_ID q = msgQCreate(3, 8, MSG_Q_FIFO);
    EXPECT_EQ(msgQSend(q, "a", 1, NO_WAIT, MSG_PRI_NORMAL), OK);
    EXPECT_EQ(msgQSend(q, "bb", 2, NO_WAIT, MSG_PRI_NORMAL), OK);
    EXPECT_EQ(msgQSend(q, "U", 1, NO_WAIT, MSG_PRI_URGENT), OK);
    EXPECT_EQ(msgQNumMsgs(q), 3);
    EXPECT_EQ(msgQSend(q, "x", 1, 3, MSG_PRI_NORMAL), ERROR);   // full
    EXPECT_EQ(msgQSend(q, "123456789", 9, NO_WAIT, MSG_PRI_NORMAL), ERROR);   // too long
    char buf[8] = {};
    EXPECT_EQ(msgQReceive(q, buf, sizeof buf, NO_WAIT), 1);
    EXPECT_EQ(buf[0], 'U');
    EXPECT_EQ(msgQReceive(q, buf, sizeof buf, NO_WAIT), 1);
    EXPECT_EQ(buf[0], 'a');
    std::memset(buf, 0, sizeof buf);
    EXPECT_EQ(msgQReceive(q, buf, 1, NO_WAIT), 1);   // cut to the buffer
    EXPECT_EQ(buf[0], 'b');
    EXPECT_EQ(buf[1], 0);
    EXPECT_EQ(msgQReceive(q, buf, sizeof buf, 2), ERROR);
    EXPECT_EQ(msgQNumMsgs(q), 0);
    msgQDelete(q);
}

// A slot that frees up goes to a sender that waits for room, not to one that
// comes later and does not wait: a flood of such sends cannot keep a waiting
// message out for its whole wait.
TEST(HostMsgQ, AFreedSlotGoesToTheSenderThatWaits) {
    MSG_Q_ID q = msgQCreate(2, 8, MSG_Q_FIFO);
    EXPECT_EQ(msgQSend(q, "a", 1, NO_WAIT, MSG_PRI_NORMAL), OK);
    EXPECT_EQ(msgQSend(q, "b", 1, NO_WAIT, MSG_PRI_NORMAL), OK);
    std::atomic<STATUS> waited{-2};
    std::thread sender([&] { waited = msgQSend(q, "W", 1, 10000, MSG_PRI_NORMAL); });
    auto senderWaits = [q] {
        std::lock_guard<std::mutex> lk(q->mx);
        return q->waiters == 1;
    };
    for (int i = 0; i < 30000 && !senderWaits(); ++i) taskDelay(1);
    ASSERT_TRUE(senderWaits());
    char buf[8] = {};
    EXPECT_EQ(msgQReceive(q, buf, sizeof buf, NO_WAIT), 1);
    EXPECT_EQ(msgQSend(q, "n", 1, NO_WAIT, MSG_PRI_NORMAL), ERROR);   // the waiter's slot
    EXPECT_EQ(msgQSend(q, "u", 1, NO_WAIT, MSG_PRI_URGENT), ERROR);
    sender.join();
    EXPECT_EQ(waited, OK);
    EXPECT_EQ(msgQReceive(q, buf, sizeof buf, NO_WAIT), 1);
    EXPECT_EQ(buf[0], 'b');
    EXPECT_EQ(msgQReceive(q, buf, sizeof buf, NO_WAIT), 1);
    EXPECT_EQ(buf[0], 'W');
    // with the waiter served, a send that does not wait finds room again
    EXPECT_EQ(msgQSend(q, "n", 1, NO_WAIT, MSG_PRI_NORMAL), OK);
    msgQDelete(q);
}

TEST(HostMsgQ, PointerWordsSurviveTheQueue) {
    MSG_Q_ID q = msgQCreate(2, sizeof(MsgWord) * 2, 0);
    int target = 5;
    MsgWord out[2];
    out[0].u64 = 1;
    out[1].ptr = &target;
    TASK_ID t = taskSpawn("tSend", 100, 0, 0, [&] { msgQSend(q, out, sizeof out, WAIT_FOREVER, 0); });
    MsgWord in[2];
    ASSERT_EQ(msgQReceive(q, in, sizeof in, WAIT_FOREVER), static_cast<long>(sizeof in));
    taskWait(t, WAIT_FOREVER);
    EXPECT_EQ(in[1].ptr, &target);
    msgQDelete(q);
}

TEST(HostNamed, OpenCloseUnlink) {
    EXPECT_EQ(semOpen("/tst_sem", SEM_TYPE_BINARY, 0, 0, 0), nullptr);
    SEM_ID a = semOpen("/tst_sem", SEM_TYPE_BINARY, 0, 0, OM_CREATE);
    SEM_ID b = semOpen("/tst_sem", SEM_TYPE_BINARY, 1, 0, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    semGive(a);
    EXPECT_EQ(semTake(b, NO_WAIT), OK);
    EXPECT_EQ(semClose(a), OK);
    EXPECT_EQ(semClose(b), OK);
    EXPECT_EQ(semOpen("/tst_sem", SEM_TYPE_BINARY, 0, 0, 0), a);   // still named
    EXPECT_EQ(semUnlink("/tst_sem"), OK);
    EXPECT_EQ(semOpen("/tst_sem", SEM_TYPE_BINARY, 0, 0, 0), nullptr);
    EXPECT_EQ(semClose(a), OK);   // last opener frees it
    EXPECT_EQ(semUnlink("/tst_sem"), ERROR);

    MSG_Q_ID q = msgQOpen("/tst_q", 4, 4, 0, OM_CREATE);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(msgQOpen("/tst_q", 1, 1, 0, 0), q);
    msgQSend(q, "abcd", 4, NO_WAIT, 0);
    EXPECT_EQ(msgQNumMsgs(msgQOpen("/tst_q", 0, 0, 0, 0)), 1);
    EXPECT_EQ(msgQUnlink("/tst_q"), OK);
    EXPECT_EQ(msgQOpen("/tst_q", 0, 0, 0, 0), nullptr);
    msgQClose(q);
    msgQClose(q);
    EXPECT_EQ(msgQClose(q), OK);
}

}  // namespace

namespace {

struct TimerProbe {
    SEM_ID fired = semCCreate(0, 0);
    std::atomic<int> count{0};
    int deleteAt = 0;   // the routine deletes its own timer at this count
};

void onTimer(TIMER_ID t, intptr_t arg) {
    auto* p = reinterpret_cast<TimerProbe*>(arg);
    if (++p->count == p->deleteAt) timerDelete(t);
    semGive(p->fired);
}

TEST(HostTimers, OneShotPeriodicCancelAndSelfDelete) {
    TimerProbe probe;
    TIMER_ID t = timerCreate();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(timerConnect(t, nullptr, 0), ERROR);
    ASSERT_EQ(timerConnect(t, onTimer, reinterpret_cast<intptr_t>(&probe)), OK);
    ASSERT_EQ(timerArm(t, 2, 0), OK);
    ASSERT_EQ(semTake(probe.fired, WAIT_FOREVER), OK);
    EXPECT_EQ(probe.count, 1);
    ASSERT_EQ(timerArm(t, 1, 1), OK);   // periodic
    for (int i = 0; i < 3; ++i) ASSERT_EQ(semTake(probe.fired, WAIT_FOREVER), OK);
    EXPECT_EQ(timerCancel(t), OK);
    int after = probe.count;
    while (semTake(probe.fired, NO_WAIT) == OK) {
    }
    EXPECT_LE(probe.count - after, 1);   // at most one expiry was already running
    EXPECT_EQ(timerDelete(t), OK);

    TimerProbe self;
    self.deleteAt = 2;
    TIMER_ID u = timerCreate();
    timerConnect(u, onTimer, reinterpret_cast<intptr_t>(&self));
    timerArm(u, 1, 1);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(semTake(self.fired, WAIT_FOREVER), OK);
    EXPECT_EQ(semTake(self.fired, 20), ERROR);   // the timer deleted itself
    EXPECT_EQ(self.count, 2);
    semDelete(probe.fired);
    semDelete(self.fired);
}

}  // namespace
