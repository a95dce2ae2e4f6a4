// Named queues that other processes reach: names scoped by the device folder,
// messages both ways between the registry handle and a plain POSIX opener,
// unlink on reset, a blocked task unwound by its delete, and the format
// service's answers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <mqueue.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/device_fixture.h"
#include "host/kernel/kernel.h"
#include "host/os/os.h"

using ProcessQueues = DeviceFolderTest;

TEST_F(ProcessQueues, NamesAreScopedByTheFolderAndOnlyForTheKernelQueues) {
    const std::string a = host::processQueueName(dir, "/MeasAppRCTRL_RX");
    EXPECT_EQ(a.rfind("/tav9-", 0), 0u);
    EXPECT_NE(a.find("-MeasAppRCTRL_RX"), std::string::npos);
    EXPECT_EQ(a.find('/', 1), std::string::npos);   // one slash only, as POSIX wants
    EXPECT_EQ(host::processQueueName(dir + "/", "/MeasAppRCTRL_RX"), a);
    EXPECT_EQ(host::processQueueName(dir + "/./", "/MeasAppRCTRL_RX"), a);
    ASSERT_EQ(mkdir((dir + "/cfg").c_str(), 0755), 0);
    EXPECT_NE(host::processQueueName(dir + "/cfg", "/MeasAppRCTRL_RX"), a);
    EXPECT_EQ(host::processQueueName(dir, "/syslogq"), "");
    EXPECT_EQ(host::processQueueName(dir + "/gone", "/MeasAppRCTRL_RX"), "");   // no folder, no queue
}

// A folder renamed while its device runs keeps its queues; a new folder at
// its old name gets queues of its own: a client at the old name never
// reaches the device that runs in the renamed folder, nor takes its queues.
TEST_F(ProcessQueues, ARenamedFolderKeepsItsQueuesAndANewOneAtItsNameHasOthers) {
    const std::string folder = dir + "/d", moved = dir + "/d2";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    host::setDeviceFolder(folder);
    MSG_Q_ID q = msgQOpen("/MeasAppRCTRL_RX", 1, 5, MSG_Q_FIFO, OM_CREATE);
    ASSERT_NE(q, nullptr);
    const std::string name = host::processQueueName(folder, "/MeasAppRCTRL_RX");
    ASSERT_EQ(rename(folder.c_str(), moved.c_str()), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    EXPECT_EQ(host::processQueueName(moved, "/MeasAppRCTRL_RX"), name);
    const std::string fresh = host::processQueueName(folder, "/MeasAppRCTRL_RX");
    EXPECT_NE(fresh, name);
    // (the new folder may have the inode of a folder some killed device ran
    // in and left its queues behind: those are not this test's)
    mq_unlink(fresh.c_str());
    // a device of the new folder makes and removes queues of its own
    host::setDeviceFolder(folder);
    MSG_Q_ID other = msgQOpen("/MeasAppRCTRL_RX", 1, 5, MSG_Q_FIFO, OM_CREATE);
    ASSERT_NE(other, nullptr);
    msgQClose(other);
    EXPECT_EQ(msgQUnlink("/MeasAppRCTRL_RX"), OK);
    mqd_t first = mq_open(name.c_str(), O_RDWR);
    EXPECT_NE(first, mqd_t(-1)) << "the new folder's device took the renamed folder's queue";
    if (first != mqd_t(-1)) mq_close(first);
    msgQClose(q);
    host::setDeviceFolder(moved);
    EXPECT_EQ(msgQUnlink("/MeasAppRCTRL_RX"), OK);
    host::setDeviceFolder(dir);
}

// The device that runs in a folder holds its lock, whatever the folder is
// named now; a removed folder is said once.
TEST_F(ProcessQueues, TheDeviceOfAFolderIsKnownByItsLockAndItsRemovalSaidOnce) {
    const std::string folder = dir + "/d", moved = dir + "/d2";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    EXPECT_EQ(host::deviceRunningIn(folder), 0);
    host::setDeviceFolder(folder);
    std::string why;
    ASSERT_TRUE(host::lockDeviceFolder(&why)) << why;
    ASSERT_EQ(rename(folder.c_str(), moved.c_str()), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    EXPECT_EQ(host::deviceRunningIn(moved), long(getpid()));
    EXPECT_EQ(host::deviceRunningIn(folder), 0);
    EXPECT_EQ(host::deviceFolderGone(), "");   // renamed, not gone
    std::filesystem::remove_all(moved);
    const std::string gone = host::deviceFolderGone();
    EXPECT_EQ(gone.rfind("the device folder " + folder + " is gone (removed, or moved to another file system): "
                         "the device runs on without it", 0), 0u) << gone;
    EXPECT_EQ(host::deviceFolderGone(), "");
    host::setDeviceFolder(dir);
}

// A btrfs file system on a loop-mounted image inside the test's folder,
// with a subvolume: it gives each subvolume's files a device number of their
// own. Left unmade (with the reason) where the host cannot mount one.
class LoopBtrfs {
public:
    explicit LoopBtrfs(const std::string& dir) : mnt_(dir + "/mnt") {
        const std::string img = dir + "/btrfs.img";
        if (geteuid() != 0) {
            why_ = "mounting a file system needs root";
            return;
        }
        if (std::system("command -v mkfs.btrfs >/dev/null 2>&1") != 0) {
            why_ = "mkfs.btrfs is not installed (Debian: btrfs-progs)";
            return;
        }
        std::filesystem::create_directory(mnt_);
        { std::ofstream make(img); }
        std::filesystem::resize_file(img, 300u << 20);
        if (std::system(("mkfs.btrfs -q '" + img + "' >/dev/null 2>&1").c_str()) != 0) {
            why_ = "mkfs.btrfs failed";
            return;
        }
        if (std::system(("mount -o loop '" + img + "' '" + mnt_ + "' >/dev/null 2>&1").c_str()) != 0) {
            why_ = "the host does not let a loop device be mounted here";
            return;
        }
        mounted_ = true;
        if (std::system(("btrfs subvolume create '" + mnt_ + "/sub' >/dev/null 2>&1").c_str()) != 0)
            why_ = "no subvolume could be made";
    }
    ~LoopBtrfs() {
        if (mounted_) std::system(("umount '" + mnt_ + "'").c_str());
    }
    const std::string& why() const { return why_; }
    const std::string& mount() const { return mnt_; }

private:
    std::string mnt_, why_;
    bool mounted_ = false;
};

// A device is found by its lock on any file system: here by a process of its
// own in a btrfs subvolume and at the top of that file system, whose device
// numbers the kernel's table of locks does not show as stat does.
TEST_F(ProcessQueues, TheDeviceOfAFolderIsFoundOnAnotherFileSystemToo) {
    LoopBtrfs fs(dir);
    if (!fs.why().empty()) GTEST_SKIP() << "no btrfs to test on: " << fs.why();
    for (const std::string& folder : {fs.mount() + "/sub", fs.mount() + "/top"}) {
        std::filesystem::create_directories(folder);
        EXPECT_EQ(host::deviceRunningIn(folder), 0) << folder;
        int locked[2], release[2];
        ASSERT_EQ(pipe(locked), 0);
        ASSERT_EQ(pipe(release), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(locked[0]);
            close(release[1]);
            host::setDeviceFolder(folder);
            std::string why;
            const char ok = host::lockDeviceFolder(&why) ? 1 : 0;
            char c;
            if (write(locked[1], &ok, 1) == 1) (void)!read(release[0], &c, 1);
            _exit(0);
        }
        close(locked[1]);
        close(release[0]);
        char ok = 0;
        EXPECT_EQ(read(locked[0], &ok, 1), 1);
        EXPECT_EQ(ok, 1) << folder;
        EXPECT_EQ(host::deviceRunningIn(folder), long(child)) << folder;
        close(release[1]);   // the child ends, and its locks with it
        close(locked[0]);
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(host::deviceRunningIn(folder), 0) << folder;
    }
}

TEST_F(ProcessQueues, AnotherOpenerSeesTheMessagesBothWaysAndTheQueueGoesAtReset) {
    MSG_Q_ID q = msgQOpen("/MeasAppRCTRL_RX", 1, 5, MSG_Q_FIFO, OM_CREATE);
    ASSERT_NE(q, nullptr);
    const std::string name = host::processQueueName(dir, "/MeasAppRCTRL_RX");
    mqd_t other = mq_open(name.c_str(), O_RDWR);
    ASSERT_NE(other, mqd_t(-1));
    const char in[5] = {char(0xE1), 127, 0, 0, 1};
    ASSERT_EQ(mq_send(other, in, 5, 0), 0);
    uint8_t got[8] = {};
    EXPECT_EQ(msgQReceive(q, got, sizeof got, 100), 5);
    EXPECT_EQ(std::memcmp(got, in, 5), 0);
    EXPECT_EQ(msgQNumMsgs(q), 0);
    // one slot: a second message waits for room, then gives up
    EXPECT_EQ(msgQSend(q, "abcde", 5, NO_WAIT, MSG_PRI_NORMAL), OK);
    EXPECT_EQ(msgQSend(q, "fghij", 5, 30, MSG_PRI_NORMAL), ERROR);
    EXPECT_EQ(msgQSend(q, "too long", 8, NO_WAIT, MSG_PRI_NORMAL), ERROR);
    char out[5];
    EXPECT_EQ(mq_receive(other, out, 5, nullptr), 5);
    EXPECT_EQ(std::memcmp(out, "abcde", 5), 0);
    EXPECT_EQ(msgQReceive(q, got, sizeof got, 20), ERROR);   // time-out
    mq_close(other);
    msgQClose(q);
    host::resetForTest();
    EXPECT_EQ(mq_open(name.c_str(), O_RDWR), mqd_t(-1));
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(ProcessQueues, LeftoversOfAKilledProcessAreReplacedAndAMissingQueueIsNotMade) {
    EXPECT_EQ(msgQOpen("/MeasAppFormat", 0, 0, MSG_Q_FIFO, 0), nullptr);
    const std::string name = host::processQueueName(dir, "/MeasAppRCTRL_TX");
    mq_attr attr{};
    attr.mq_maxmsg = 1;
    attr.mq_msgsize = 5;
    mqd_t old = mq_open(name.c_str(), O_RDWR | O_CREAT, 0600, &attr);
    ASSERT_NE(old, mqd_t(-1));
    ASSERT_EQ(mq_send(old, "stale", 5, 0), 0);
    mq_close(old);
    MSG_Q_ID q = msgQOpen("/MeasAppRCTRL_TX", 1, 5, MSG_Q_FIFO, OM_CREATE);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(msgQNumMsgs(q), 0);
    msgQClose(q);
}

// The queues' marks lie in the host's marks folder, none in the device
// folder; what stands at a mark's name or among the notes of an earlier
// build is never waited on, and a link in the notes folder's place is not
// followed.
TEST_F(ProcessQueues, MarksLieOutsideTheFolderAndAFifoAmongThemOrTheNotesIsNeverWaitedOn) {
    const std::string notes = dir + "/mqueues";
    ASSERT_EQ(mkdir(notes.c_str(), 0755), 0);
    const std::string name = host::processQueueName(dir, "/MeasAppRCTRL_RX");
    ASSERT_EQ(mkdir((dir + "/gone").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/gone2").c_str(), 0755), 0);
    const std::string stray = host::processQueueName(dir + "/gone", "/MeasAppFormat");
    const std::string strayNote = notes + stray;
    ASSERT_EQ(mkfifo(strayNote.c_str(), 0600), 0);
    MSG_Q_ID q = msgQOpen("/MeasAppRCTRL_RX", 1, 5, MSG_Q_FIFO, OM_CREATE);
    ASSERT_NE(q, nullptr);
    EXPECT_NE(access((notes + name).c_str(), F_OK), 0) << "a note in the device folder";
    const std::string marks = "/dev/shm/tav9-marks/mq-";
    const std::string mark = marks + name.substr(6, 16);
    struct stat st{};
    const bool marked = lstat(mark.c_str(), &st) == 0;
    EXPECT_TRUE(marked && S_ISREG(st.st_mode)) << mark;
    const std::string strayMark = marks + host::processQueueName(dir + "/gone2", "/MeasAppFormat").substr(6, 16);
    if (marked) {
        ASSERT_EQ(mkfifo(strayMark.c_str(), 0600), 0);
    }
    msgQClose(q);
    host::unlinkProcessQueues();   // the sweeps pass the FIFOs by
    EXPECT_NE(access(mark.c_str(), F_OK), 0) << "the mark outlives its queues";
    if (marked) {
        EXPECT_EQ(unlink(strayMark.c_str()), 0) << "a FIFO among the marks taken for one";
    }
    EXPECT_EQ(unlink(strayNote.c_str()), 0);
    host::unlinkProcessQueues();
    EXPECT_NE(access(notes.c_str(), F_OK), 0) << "the empty notes folder stays";

    const std::string elsewhere = dir + "/gone";
    ASSERT_EQ(symlink(elsewhere.c_str(), notes.c_str()), 0);
    q = msgQOpen("/MeasAppRCTRL_RX", 1, 5, MSG_Q_FIFO, OM_CREATE);
    ASSERT_NE(q, nullptr);
    msgQClose(q);
    EXPECT_EQ(msgQUnlink("/MeasAppRCTRL_RX"), OK);
    host::unlinkProcessQueues();
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
}

// A device killed, and its folder removed (a test's): the next start in any
// folder removes its queues, while those of a device that runs stay.
TEST_F(ProcessQueues, AKilledDevicesQueuesGoAtTheNextStartInAnyFolderAndALiveOnesStay) {
    const char* const kQueues[] = {"/MeasAppFormat", "/MeasAppFormatAck", "/MeasAppRCTRL_RX", "/MeasAppRCTRL_TX"};
    const std::string folder = dir + "/killed";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    int made[2], hold[2];
    ASSERT_EQ(pipe(made), 0);
    ASSERT_EQ(pipe(hold), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(60);   // never outlives a test that failed to kill it
        close(made[0]);
        close(hold[1]);
        host::setDeviceFolder(folder);
        char all = 1;
        for (const char* q : kQueues)
            if (!msgQOpen(q, 4, 17, MSG_Q_FIFO, OM_CREATE)) all = 0;
        char c;
        if (write(made[1], &all, 1) == 1) (void)!read(hold[0], &c, 1);
        _exit(0);
    }
    close(made[1]);
    close(hold[0]);
    char all = 0;
    EXPECT_EQ(read(made[0], &all, 1), 1);
    EXPECT_EQ(all, 1);
    auto present = [&] {
        int n = 0;
        for (const char* q : kQueues) {
            const mqd_t m = mq_open(host::processQueueName(folder, q).c_str(), O_RDONLY);
            if (m != mqd_t(-1)) {
                ++n;
                mq_close(m);
            }
        }
        return n;
    };
    std::vector<std::string> names;
    for (const char* q : kQueues) names.push_back(host::processQueueName(folder, q));
    host::unlinkProcessQueues();   // a start in this test's folder
    EXPECT_EQ(present(), 4) << "a running device's queues removed";

    kill(child, SIGKILL);
    EXPECT_EQ(waitpid(child, nullptr, 0), child);
    close(made[0]);
    close(hold[1]);
    std::filesystem::remove_all(folder);
    host::unlinkProcessQueues();
    for (const std::string& n : names) {
        const mqd_t m = mq_open(n.c_str(), O_RDONLY);
        EXPECT_EQ(m, mqd_t(-1)) << n << " outlived its killed device";
        if (m != mqd_t(-1)) {
            mq_close(m);
            mq_unlink(n.c_str());
        }
    }
}

TEST_F(ProcessQueues, ADeletedTaskLeavesItsBlockedReceive) {
    MSG_Q_ID q = msgQOpen("/MeasAppRCTRL_RX", 1, 5, MSG_Q_FIFO, OM_CREATE);
    ASSERT_NE(q, nullptr);
    std::atomic<bool> returned{false};
    TASK_ID t = taskSpawn("r_qwait", 100, 0, 8192, [&] {
        uint8_t b[5];
        msgQReceive(q, b, sizeof b, WAIT_FOREVER);
        returned = true;
    });
    ASSERT_NE(t, nullptr);
    taskDelay(30);
    EXPECT_EQ(taskDelete(t), OK);
    EXPECT_FALSE(returned.load());
    msgQClose(q);
}

TEST_F(ProcessQueues, TheFormatServiceAnswersEveryRequestWithItself) {
    host::startFormatService();
    MSG_Q_ID tx = msgQOpen("/MeasAppFormat", 0, 0, MSG_Q_FIFO, 0);
    MSG_Q_ID rx = msgQOpen("/MeasAppFormatAck", 0, 0, MSG_Q_FIFO, 0);
    ASSERT_NE(tx, nullptr);
    ASSERT_NE(rx, nullptr);
    uint8_t req[17] = {3, 'm', 'e', 'a', 's', ':'};
    ASSERT_EQ(msgQSend(tx, req, sizeof req, NO_WAIT, MSG_PRI_NORMAL), OK);
    uint8_t ack[17] = {};
    EXPECT_EQ(msgQReceive(rx, ack, sizeof ack, 2000), 17);
    EXPECT_EQ(std::memcmp(ack, req, 17), 0);
    auto served = host::formatRequestsServed();
    ASSERT_EQ(served.size(), 1u);
    EXPECT_EQ(served[0], std::vector<uint8_t>(req, req + 17));
    msgQClose(tx);
    msgQClose(rx);
    host::stopFormatService();
}

// A stop does not wait on the disk for the service: a request it cannot
// finish within the stop's wait is left to it and named.
namespace {
std::atomic<bool> sizeAsked{false}, sizeHeld{false};
uint32_t heldSize(const char*, uint8_t) {
    sizeAsked = true;
    while (sizeHeld) taskDelay(5);
    return 0;
}
}  // namespace

TEST_F(ProcessQueues, AStopLeavesTheFormatServiceInItsWriteAndNamesIt) {
    ASSERT_EQ(::mkdir((dir + "/meas").c_str(), 0755), 0);
    sizeHeld = true;
    host::startFormatService(heldSize);
    MSG_Q_ID tx = msgQOpen("/MeasAppFormat", 0, 0, MSG_Q_FIFO, 0);
    ASSERT_NE(tx, nullptr);
    uint8_t req[17] = {3, 'm', 'e', 'a', 's', ':'};
    ASSERT_EQ(msgQSend(tx, req, sizeof req, NO_WAIT, MSG_PRI_NORMAL), OK);
    ASSERT_TRUE([] {
        for (int i = 0; i < 2000 && !sizeAsked; ++i) taskDelay(5);
        return sizeAsked.load();
    }());
    std::string left;
    EXPECT_FALSE(host::stopFormatService(50, &left));
    EXPECT_EQ(left, "the write of drive_format.cfg recording meas: as formatted");
    sizeHeld = false;   // the service ends after its write
    EXPECT_TRUE(host::stopFormatService(10000, &left));
    msgQClose(tx);
}

// A device killed in this folder while it had another identity (it was moved
// to another file system and back since): its queues, noted in the folder,
// are removed at the next start there.
TEST_F(ProcessQueues, TheQueuesOfAKilledDeviceNotedInTheFolderAreRemovedAtTheNextStart) {
    ASSERT_EQ(mkdir((dir + "/cfg").c_str(), 0755), 0);
    const std::string name = host::processQueueName(dir + "/cfg", "/MeasAppRCTRL_RX");
    mq_attr attr{};
    attr.mq_maxmsg = 1;
    attr.mq_msgsize = 5;
    mqd_t q = mq_open(name.c_str(), O_RDWR | O_CREAT, 0600, &attr);
    ASSERT_NE(q, mqd_t(-1));
    mq_close(q);
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);   // its PID is free now
    ASSERT_EQ(mkdir((dir + "/mqueues").c_str(), 0755), 0);
    const std::string note = dir + "/mqueues" + name;
    FILE* f = std::fopen(note.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "%ld\n", long(child));
    std::fclose(f);
    host::unlinkProcessQueues();
    EXPECT_EQ(mq_open(name.c_str(), O_RDWR), mqd_t(-1));
    EXPECT_NE(access(note.c_str(), F_OK), 0);
}
