// Shell: splitting lines, dispatching commands, capturing their output and the
// socket bridge.
#include "platform/shell.h"
#include "platform/stop_budget.h"

#include "platform_fixture.h"

#include "host/os/os_internal.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <future>
#include <thread>
#include <mutex>
#include <new>
#include <vector>

// A disk that holds up the unlink of one path: while gHeldUnlink names it,
// an unlink of it, in this process or in one forked from it, waits until
// the test releases the disk (a word in memory that both share). Every
// other unlink goes through as it came.
std::atomic<const char*> gHeldUnlink{nullptr};
std::atomic<int>* gDiskReleased = nullptr;
extern "C" int unlink(const char* path) {
    const char* held = gHeldUnlink.load();
    if (held && strcmp(path, held) == 0)
        while (!gDiskReleased->load()) usleep(1000);
    return static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, 0));
}

namespace {

std::vector<std::string> gArgs;

int recordArgs(int argc, char** argv) {
    gArgs.assign(argv, argv + argc);
    EXPECT_EQ(argv[argc], nullptr);
    return argc;
}

int printer(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) printf("%s|", argv[i]);
    printf("\n");
    return 7;
}

int gCountCalls = 0;
int counter(int, char**) { return ++gCountCalls; }

// The order in which lines of several clients ran: each "t_rec <word>" adds
// its word (the shell's task runs them, the test reads them).
std::mutex gRecMx;
std::vector<std::string> gRecorded;
int record(int argc, char** argv) {
    std::lock_guard<std::mutex> lk(gRecMx);
    gRecorded.push_back(argc > 1 ? argv[1] : "");
    return 0;
}
std::vector<std::string> recorded() {
    std::lock_guard<std::mutex> lk(gRecMx);
    return gRecorded;
}

// "t_wait" stands for a command that waits for the disk: it prints, waits
// off the shell's turn until the test opens the gate, and prints again.
std::mutex gGateMx;
std::condition_variable gGateCv;
bool gGateOpen = false;
bool gWaitBegan = false;
bool gWaitEnded = false;
int gWaitsBegun = 0;
int gWaitsEnded = 0;
std::vector<TASK_ID> gGateTasks;   // the tasks that ran it
int waitForGate(int, char**) {
    {
        std::lock_guard<std::mutex> lk(gGateMx);
        gGateTasks.push_back(taskIdSelf());
    }
    printf("before the wait\n");
    const bool ok = shell_waitOffTurn([] {
        std::unique_lock<std::mutex> lk(gGateMx);
        gWaitBegan = true;
        ++gWaitsBegun;
        gGateCv.notify_all();
        gGateCv.wait(lk, [] { return gGateOpen; });
        return true;
    });
    printf("after the wait\n");
    std::lock_guard<std::mutex> lk(gGateMx);
    gWaitEnded = true;
    ++gWaitsEnded;
    gGateCv.notify_all();
    return ok ? 3 : -1;
}
void openGate() {
    std::lock_guard<std::mutex> lk(gGateMx);
    gGateOpen = true;
    gGateCv.notify_all();
}

int bigAnswer(int, char**) {
    printf("%s\n", std::string(4000, 'x').c_str());
    return 0;
}

int connectShell() {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", shell_socketPath().c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// t_count registered, the shell started and a client connected to it (*fd),
// with no call counted yet.
void startCountingClient(int* fd) {
    ASSERT_NE(msd_shellAddCommand("t_count", counter), 0);
    ASSERT_EQ(shell_start(false), 1);
    shell_acceptLines();
    *fd = connectShell();
    ASSERT_GE(*fd, 0);
    gCountCalls = 0;
}

// Reads until `count` result lines ("value = ...") have arrived, or the
// time-out passes.
std::string readAnswer(int fd, int timeoutMs, int count = 1) {
    std::string answer;
    char buf[4096];
    while (true) {
        int done = 0;
        for (size_t v = answer.find("value = "); v != std::string::npos; v = answer.find("value = ", v + 1))
            done += answer.find('\n', v) != std::string::npos;
        if (done >= count) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        answer.append(buf, static_cast<size_t>(n));
    }
    return answer;
}

std::vector<std::string> split(const char* line) {
    std::vector<std::string> w;
    std::string err;
    EXPECT_TRUE(shell_splitLine(line, &w, &err)) << line;
    return w;
}

// Everything the shell sends until it ends the connection.
std::string readToEnd(int fd) {
    std::string answer;
    char buf[256];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) answer.append(buf, static_cast<size_t>(n));
    return answer;
}

}  // namespace

TEST(ShellSplit, WordsQuotesAndEscapes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split("  display   1 \t 2\r\n"), (V{"display", "1", "2"}));
    EXPECT_EQ(split("setvar \"a b\" 'c \"d\"' x\"y z\"w"), (V{"setvar", "a b", "c \"d\"", "xy zw"}));
    EXPECT_EQ(split("cmd \"q\\\"uote\" \"back\\\\slash\" \"\""), (V{"cmd", "q\"uote", "back\\slash", ""}));
    EXPECT_EQ(split(""), V{});
    EXPECT_EQ(split(nullptr), V{});
    std::vector<std::string> w{"stale"};
    std::string err;
    EXPECT_FALSE(shell_splitLine("cmd \"open", &w, &err));
    EXPECT_TRUE(w.empty());
    EXPECT_EQ(err, "unclosed quote");
}

using Shell = PlatformTest;

TEST_F(Shell, DispatchCallsTheCommandWithArgv) {
    ASSERT_NE(msd_shellAddCommand("t_args", recordArgs), 0);
    EXPECT_EQ(shell_runLine("t_args one \"two three\""), 3);
    EXPECT_EQ(gArgs, (std::vector<std::string>{"t_args", "one", "two three"}));
    EXPECT_EQ(shell_runLine("   "), 0);

    std::string out;
    EXPECT_EQ(shell_runLineCapture("no_such_cmd 1", &out), -1);
    EXPECT_EQ(out, "shell: unknown command 'no_such_cmd'\n");
    EXPECT_EQ(shell_runLineCapture("t_args \"open", &out), -1);
    EXPECT_NE(out.find("unclosed quote"), std::string::npos);

    EXPECT_EQ(msd_shellAddCommand(nullptr, recordArgs), 0);
    EXPECT_EQ(msd_shellAddCommand("", recordArgs), 0);
    EXPECT_EQ(msd_shellAddCommand("bad name", recordArgs), 0);
    EXPECT_EQ(msd_shellAddCommand("t_null", nullptr), 0);
    // Registering again replaces the function.
    ASSERT_NE(msd_shellAddCommand("t_args", printer), 0);
    EXPECT_EQ(shell_runLineCapture("t_args a b", &out), 7);
    EXPECT_EQ(out, "a|b|\n");
}

// The output is captured in memory: a host whose temporary directory is
// read-only gives a socket client the whole answer. The shell runs in a mount
// namespace of the thread that starts it, with /tmp read-only there but for
// the device folder below it (the socket lives there).
TEST_F(Shell, OutputIsCapturedWithoutTheHostsTemporaryDirectory) {
    ASSERT_NE(msd_shellAddCommand("t_print", printer), 0);
    std::string direct, answer, why;
    int rc = 0;
    std::thread inOwnMounts([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount("/tmp", "/tmp", nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
            mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            why = std::strerror(errno);
            return;
        }
        const int probe = open("/tmp", O_TMPFILE | O_RDWR, 0600);
        if (probe >= 0 || errno != EROFS) {
            if (probe >= 0) close(probe);
            why = "/tmp is still writable";
            return;
        }
        rc = shell_runLineCapture("t_print a \"b c\"", &direct);
        // the socket's tasks are started here, and so share these mounts
        if (shell_start(false) != 1) return;
        shell_acceptLines();
        const int fd = connectShell();
        if (fd >= 0) {
            const std::string line = "t_print x\n";
            if (write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
                shutdown(fd, SHUT_WR);
                answer = readToEnd(fd);
            }
            close(fd);
        }
        shell_stop();
    });
    inOwnMounts.join();
    if (!why.empty()) GTEST_SKIP() << "no read-only /tmp can be mounted here: " << why;
    EXPECT_EQ(rc, 7);
    EXPECT_EQ(direct, "a|b c|\n");
    EXPECT_EQ(answer, "x|\nvalue = 7 = 0x7\n");
}

// Where no capture can be made (no file descriptor left), the command still
// runs, and its answer and the log say where its output went.
TEST(ShellCaptureDeathTest, AnOutputThatCannotBeCapturedIsNamed) {
#if defined(__SANITIZE_ADDRESS__)
    // the undefined-behaviour checks look at memory through a pipe: with no
    // descriptor left they call every object broken
    GTEST_SKIP() << "the sanitizer's checks need the descriptors this test takes away";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            msd_shellAddCommand("t_print", printer);
            takeLogTexts();   // the log's queue is open before the limit
            const int lowest = dup(STDERR_FILENO);   // the lowest descriptor free
            close(lowest);
            rlimit lim{};
            getrlimit(RLIMIT_NOFILE, &lim);
            lim.rlim_cur = static_cast<rlim_t>(lowest);
            setrlimit(RLIMIT_NOFILE, &lim);
            std::string out;
            const int rc = shell_runLineCapture("t_print x", &out);
            fprintf(stderr, "rc %d: %s", rc, out.c_str());
            for (const auto& text : takeLogTexts()) fprintf(stderr, "log: %s\n", text.c_str());
            fflush(stderr);
            _exit(0);
        },
        testing::ExitedWithCode(0),
        "rc 7: shell: the output of this command could not be captured \\(Too many open files\\): "
        "it went to the device's standard output\n"
        "log: shell: the output of 't_print x' could not be captured \\(Too many open files\\): "
        "it went to the device's standard output\n");
}

TEST_F(Shell, SocketClientGetsTheOutputOfEachLine) {
    ASSERT_NE(msd_shellAddCommand("t_print", printer), 0);
    ASSERT_EQ(shell_start(false), 1);
    shell_acceptLines();
    EXPECT_TRUE(shell_running());

    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = shell_socketPath();
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // Two lines in one write, the second split over two writes.
    std::string req = "t_print x \"y z\"\nt_pr";
    ASSERT_EQ(write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
    ASSERT_EQ(write(fd, "int q\nnope\n", 11), 11);
    shutdown(fd, SHUT_WR);
    const std::string answer = readToEnd(fd);
    close(fd);
    EXPECT_EQ(answer,
              "x|y z|\nvalue = 7 = 0x7\n"
              "q|\nvalue = 7 = 0x7\n"
              "shell: unknown command 'nope'\nvalue = -1 = 0xffffffff\n");

    shell_stop();
    EXPECT_FALSE(shell_running());
    EXPECT_NE(access(path.c_str(), F_OK), 0);   // socket removed
    // Stopping twice and starting again work.
    shell_stop();
    ASSERT_EQ(shell_start(false), 1);
    EXPECT_EQ(access(path.c_str(), F_OK), 0);
    shell_stop();
}

TEST_F(Shell, HelpListsTheRegisteredCommands) {
    ASSERT_NE(msd_shellAddCommand("t_print", printer), 0);
    std::string out;
    EXPECT_EQ(shell_runLineCapture("help", &out), 0);
    EXPECT_EQ(out.rfind("commands:\n", 0), 0u) << out;
    EXPECT_NE(out.find("  help: this list\n"), std::string::npos);
    EXPECT_NE(out.find("  t_print\n"), std::string::npos);
    // the device's own commands say what they take and do
    ASSERT_NE(msd_shellAddCommand("lof_set", printer), 0);
    EXPECT_EQ(shell_runLineCapture("help", &out), 0);
    EXPECT_NE(out.find("  lof_set LAP OUTING: "), std::string::npos) << out;
    // extra words print the usage and nothing else
    EXPECT_EQ(shell_runLineCapture("help me", &out), -1);
    EXPECT_EQ(out, "usage: help\n");
}

TEST_F(Shell, OverlongLineIsRefusedWholeAndNothingOfItRuns) {
    int fd = -1;
    ASSERT_NO_FATAL_FAILURE(startCountingClient(&fd));
    // the tail of the long line is a command of its own, were it cut
    std::string req = "t_count " + std::string(1529, 'A') + " t_count\n";
    for (size_t off = 0; off < req.size(); off += 700)   // over several writes
        ASSERT_GT(write(fd, req.data() + off, std::min<size_t>(700, req.size() - off)), 0);
    ASSERT_EQ(write(fd, "t_count\n", 8), 8);
    std::string answer = readAnswer(fd, 5000, 2);
    close(fd);
    EXPECT_EQ(answer,
              "shell: line longer than 1024 characters refused\nvalue = -1 = 0xffffffff\n"
              "value = 1 = 0x1\n");
    EXPECT_EQ(gCountCalls, 1);
    shell_stop();
}

// A NUL byte would end the line early and run its first part: the line is
// refused whole, wherever the NUL stands, and the next line runs.
TEST_F(Shell, LineWithANulByteIsRefusedWholeAndNothingOfItRuns) {
    int fd = -1;
    ASSERT_NO_FATAL_FAILURE(startCountingClient(&fd));
    static const char req[] = "t_count\0stop\n\0t_count\nt_count \0 junk\n" "t_count\0";
    ASSERT_EQ(write(fd, req, sizeof req - 1), ssize_t(sizeof req - 1));
    // the last line, split over two writes, then a sound one
    ASSERT_EQ(write(fd, " t_count\nt_count\n", 17), 17);
    std::string answer = readAnswer(fd, 5000, 5);
    close(fd);
    const std::string refused = "shell: line with a NUL byte refused\nvalue = -1 = 0xffffffff\n";
    EXPECT_EQ(answer, refused + refused + refused + refused + "value = 1 = 0x1\n");
    EXPECT_EQ(gCountCalls, 1);
    shell_stop();
}

// The end of a connection is not the end of a line: a client cut off in the
// middle of one (were it "meas stop now", its first words would run) has
// sent no command.
TEST_F(Shell, ALineCutOffByTheEndOfItsConnectionDoesNotRun) {
    int fd = -1;
    ASSERT_NO_FATAL_FAILURE(startCountingClient(&fd));
    ASSERT_EQ(write(fd, "t_count\nt_count", 15), 15);
    shutdown(fd, SHUT_WR);
    // the connection ends once the answer of the whole line is out
    const std::string answer = readToEnd(fd);
    close(fd);
    EXPECT_EQ(answer, "value = 1 = 0x1\n");
    EXPECT_EQ(gCountCalls, 1);
    EXPECT_TRUE(logContains(takeLogTexts(), "shell: a line without its newline (7 characters) not run, its client closed"));
    shell_stop();
}

TEST_F(Shell, ClientThatDoesNotReadBlocksNeitherOthersNorTheStop) {
    ASSERT_NE(msd_shellAddCommand("t_big", bigAnswer), 0);
    ASSERT_NE(msd_shellAddCommand("t_print", printer), 0);
    ASSERT_EQ(shell_start(false), 1);
    shell_acceptLines();
    int greedy = connectShell();
    ASSERT_GE(greedy, 0);
    fcntl(greedy, F_SETFL, O_NONBLOCK);
    // far more answers than the socket and the bridge hold for one client
    std::string lines;
    for (int i = 0; i < 400; ++i) lines += "t_big\n";
    size_t sent = 0;
    for (int tries = 0; tries < 200 && sent < lines.size(); ++tries) {
        ssize_t n = send(greedy, lines.data() + sent, lines.size() - sent, MSG_NOSIGNAL);
        if (n > 0) sent += static_cast<size_t>(n);
        else usleep(10000);
    }
    int other = connectShell();
    ASSERT_GE(other, 0);
    ASSERT_EQ(write(other, "t_print ok\n", 11), 11);
    EXPECT_EQ(readAnswer(other, 3000), "ok|\nvalue = 7 = 0x7\n");
    close(other);
    // the greedy client is dropped once its answers pile up: its socket
    // ends after what was queued
    bool dropped = false;
    for (int i = 0; i < 1000 && !dropped; ++i) {
        dropped = logContains(takeLogTexts(), "shell: client dropped, it does not read its answers");
        if (!dropped) usleep(10000);
    }
    EXPECT_TRUE(dropped);
    size_t got = 0;
    char buf[65536];
    bool ended = false;
    for (int i = 0; i < 500 && !ended; ++i) {
        pollfd p{greedy, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        ssize_t n = read(greedy, buf, sizeof buf);
        if (n > 0) got += static_cast<size_t>(n);
        else if (n == 0 || errno != EAGAIN) ended = true;
    }
    EXPECT_TRUE(ended);
    EXPECT_LT(got, 400u * 4000u);
    close(greedy);

    // a client that is connected and silent does not hold up the stop
    int idle = connectShell();
    ASSERT_GE(idle, 0);
    shell_stop();
    EXPECT_FALSE(shell_running());
    char c;
    EXPECT_LE(read(idle, &c, 1), 0);
    close(idle);
}

// Lines sent before the bridge takes lines wait, the end of their
// connection too, and then run in their order; a stop before that runs none.
TEST_F(Shell, LinesWaitForTheBridgeToTakeThem) {
    ASSERT_NE(msd_shellAddCommand("t_count", counter), 0);
    ASSERT_EQ(shell_start(false), 1);
    gCountCalls = 0;
    int early = connectShell();
    ASSERT_GE(early, 0);
    ASSERT_EQ(write(early, "t_count\nt_count\n", 16), 16);
    shutdown(early, SHUT_WR);
    // the task has had time to take the lines, were it free to
    EXPECT_EQ(readAnswer(early, 300), "");
    EXPECT_EQ(gCountCalls, 0);
    shell_acceptLines();
    EXPECT_EQ(readToEnd(early), "value = 1 = 0x1\nvalue = 2 = 0x2\n");
    close(early);
    shell_stop();

    ASSERT_EQ(shell_start(false), 1);   // holds its lines again
    int held = connectShell();
    ASSERT_GE(held, 0);
    ASSERT_EQ(write(held, "t_count\n", 8), 8);
    shell_stop();
    EXPECT_FALSE(shell_running());
    EXPECT_EQ(readToEnd(held), "");
    close(held);
    EXPECT_EQ(gCountCalls, 2);
}

// A client that sends many lines at once takes turns with the others: a
// line another client sends meanwhile runs after a few of the first one's,
// not after all it sent.
TEST_F(Shell, ClientsTakeTurnsLineByLine) {
    ASSERT_NE(msd_shellAddCommand("t_rec", record), 0);
    ASSERT_EQ(shell_start(false), 1);
    shell_acceptLines();
    int flood = connectShell(), other = connectShell();
    ASSERT_GE(flood, 0);
    ASSERT_GE(other, 0);
    std::string lines;
    for (int i = 0; i < 500; ++i) lines += "t_rec a\n";   // 4000 bytes: one read
    ASSERT_EQ(write(flood, lines.data(), lines.size()), ssize_t(lines.size()));
    for (int i = 0; i < 1000 && recorded().empty(); ++i) usleep(10000);   // the flood runs
    const size_t before = recorded().size();
    ASSERT_GT(before, 0u);
    ASSERT_EQ(write(other, "t_rec b\n", 8), 8);
    EXPECT_EQ(readAnswer(other, 10000), "value = 0 = 0x0\n");
    const std::vector<std::string> order = recorded();
    const size_t at = size_t(std::find(order.begin(), order.end(), "b") - order.begin());
    ASSERT_LT(at, order.size());
    EXPECT_LT(at - before, 5u) << "the flood's lines before the other's: " << at - before;
    close(flood);
    close(other);
    shell_stop();
}

// A folder where the socket belongs cannot be bound over: it is named as
// what it is (not as an address in use) and left as it is.
TEST_F(Shell, AFolderInPlaceOfTheSocketIsNamed) {
    const std::string path = shell_socketPath();
    std::filesystem::create_directory(path);
    takeLogTexts();
    EXPECT_EQ(shell_start(false), 0);
    EXPECT_FALSE(shell_running());
    const std::vector<std::string> log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "shell.sock is a folder, the socket shell is not started"))
        << ::testing::PrintToString(log);
    EXPECT_FALSE(logContains(log, "Address already in use"));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    shell_stop();
}

// Clients that connect and never send do not lock the shell: with every
// place taken, the one idle longest makes room for a new client, which is
// answered; one that is busy keeps its place.
TEST_F(Shell, IdleClientsMakeRoomForANewOne) {
    ASSERT_NE(msd_shellAddCommand("t_print", printer), 0);
    ASSERT_EQ(shell_start(false), 1);
    shell_acceptLines();
    std::vector<int> idle;
    for (int i = 0; i < 8; ++i) {
        idle.push_back(connectShell());
        ASSERT_GE(idle.back(), 0);
        // each is heard once before the next comes: their idle times differ
        ASSERT_EQ(write(idle.back(), "t_print x\n", 10), 10);
        ASSERT_EQ(readAnswer(idle.back(), 3000), "x|\nvalue = 7 = 0x7\n");
    }
    // the last one speaks again: the first is the one idle longest
    ASSERT_EQ(write(idle.back(), "t_print y\n", 10), 10);
    ASSERT_EQ(readAnswer(idle.back(), 3000), "y|\nvalue = 7 = 0x7\n");
    int late = connectShell();
    ASSERT_GE(late, 0);
    ASSERT_EQ(write(late, "t_print ok\n", 11), 11);
    EXPECT_EQ(readAnswer(late, 3000), "ok|\nvalue = 7 = 0x7\n");
    // the first client's connection was ended for it
    std::string said;
    char buf[256];
    for (ssize_t n = 1; n > 0;) {
        pollfd p{idle.front(), POLLIN, 0};
        if (poll(&p, 1, 3000) <= 0) break;
        if ((n = read(idle.front(), buf, sizeof buf)) > 0) said.append(buf, size_t(n));
    }
    EXPECT_EQ(said, "shell: connection closed, idle while another client waited\n");
    for (size_t i = 1; i < idle.size(); ++i) {
        pollfd p{idle[i], POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 0), 0) << "client " << i << " was closed";
    }
    EXPECT_TRUE(logContains(takeLogTexts(), "shell: an idle client closed to make room for a new one"));
    close(late);
    for (int fd : idle) close(fd);
    shell_stop();
}

// A command that waits (for the disk) off the shell's turn holds only its
// own client: another client's line runs and is answered meanwhile, the
// waiting client's next line waits for its answer, and what the command
// printed before and after the wait reaches its client alone. The stop
// finishes such a command before the shell ends.
TEST_F(Shell, ACommandWaitingOffItsTurnHoldsOnlyItsClient) {
    ASSERT_NE(msd_shellAddCommand("t_wait", waitForGate), 0);
    ASSERT_NE(msd_shellAddCommand("t_print", printer), 0);
    ASSERT_NE(msd_shellAddCommand("t_rec", record), 0);
    {
        std::lock_guard<std::mutex> lk(gGateMx);
        gGateOpen = gWaitEnded = false;
    }
    ASSERT_EQ(shell_start(false), 1);
    shell_acceptLines();
    int a = connectShell(), b = connectShell();
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_EQ(write(a, "t_wait\nt_rec a-next\n", 20), 20);
    ASSERT_EQ(write(b, "t_print ok\n", 11), 11);
    EXPECT_EQ(readAnswer(b, 5000), "ok|\nvalue = 7 = 0x7\n");
    EXPECT_EQ(readAnswer(a, 200), "");   // still waiting
    const std::vector<std::string> ran = recorded();
    EXPECT_EQ(std::find(ran.begin(), ran.end(), "a-next"), ran.end()) << "a line of the waiting client ran";
    openGate();
    EXPECT_EQ(readAnswer(a, 5000, 2), "before the wait\nafter the wait\nvalue = 3 = 0x3\nvalue = 0 = 0x0\n");

    // the stop finishes a command that waits off its turn
    {
        std::lock_guard<std::mutex> lk(gGateMx);
        gGateOpen = gWaitBegan = gWaitEnded = false;
    }
    ASSERT_EQ(write(b, "t_wait\n", 7), 7);
    {
        std::unique_lock<std::mutex> lk(gGateMx);
        ASSERT_TRUE(gGateCv.wait_for(lk, std::chrono::seconds(10), [] { return gWaitBegan; }));
    }
    std::thread opener([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        openGate();
    });
    shell_stop();
    opener.join();
    EXPECT_FALSE(shell_running());
    std::lock_guard<std::mutex> lk(gGateMx);
    EXPECT_TRUE(gWaitEnded);
    close(a);
    close(b);
}

// Commands stuck at the stop, one on standard input and one on the socket:
// the shell's tasks get one wait together out of the stop's budget (what
// is left after the steps that come later), not a wait each in turn; both
// are named as left behind.
TEST_F(Shell, TheStopGivesStuckCommandsOneWaitTogether) {
    ASSERT_NE(msd_shellAddCommand("t_wait", waitForGate), 0);
    {
        std::lock_guard<std::mutex> lk(gGateMx);
        gGateOpen = false;
        gWaitsBegun = gWaitsEnded = 0;
        gGateTasks.clear();
    }
    const size_t tasksBefore = hostos::liveTaskCount();
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    const int savedStdin = dup(STDIN_FILENO);
    ASSERT_EQ(dup2(in[0], STDIN_FILENO), STDIN_FILENO);
    ASSERT_EQ(shell_start(true), 1);
    shell_acceptLines();
    int client = connectShell();
    ASSERT_GE(client, 0);
    ASSERT_EQ(write(client, "t_wait\n", 7), 7);
    ASSERT_EQ(write(in[1], "t_wait\n", 7), 7);
    {
        std::unique_lock<std::mutex> lk(gGateMx);
        ASSERT_TRUE(gGateCv.wait_for(lk, std::chrono::seconds(10), [] { return gWaitsBegun == 2; }));
    }
    // a budget of 4 s leaves the shell 1 s: the rest keeps 3 s
    stopBudget_setLimit(4000);
    stopBudget_begin();
    const auto before = std::chrono::steady_clock::now();
    shell_stop();
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before).count();
    stopBudget_setLimit(0);
    EXPECT_LT(took, 1800) << "the shell's tasks were waited for one after the other";
    EXPECT_FALSE(shell_running());
    const auto texts = takeLogTexts();
    EXPECT_TRUE(logContains(texts, "shell: task r_shellSock does not finish its command, left behind"));
    EXPECT_TRUE(logContains(texts, "shell: task r_shellStdin does not finish its command, left behind"));
    // the commands left behind end once their wait does
    openGate();
    {
        std::unique_lock<std::mutex> lk(gGateMx);
        EXPECT_TRUE(gGateCv.wait_for(lk, std::chrono::seconds(10), [] { return gWaitsEnded == 2; }));
    }
    // the stop left them behind: they are joined here once they have ended
    std::vector<TASK_ID> tasks;
    {
        std::lock_guard<std::mutex> lk(gGateMx);
        tasks = gGateTasks;
    }
    for (TASK_ID t : tasks) EXPECT_EQ(taskWait(t, 10 * sysClkRateGet()), OK);
    // the shell's own tasks end too, once their commands have (joined here,
    // not at the process's exit)
    for (int i = 0; i < 1000 && hostos::liveTaskCount() > tasksBefore; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_LE(hostos::liveTaskCount(), tasksBefore);
    dup2(savedStdin, STDIN_FILENO);
    close(savedStdin);
    close(in[0]);
    close(in[1]);
    close(client);
}

// The stop removes its socket's file, but an unlink that a busy disk holds
// up does not hold up the stop: it waits for it within a bound, and the
// file goes once the disk lets it.
TEST_F(Shell, TheStopIsNotHeldUpByItsSocketsRemoval) {
    ASSERT_EQ(shell_start(false), 1);
    shell_acceptLines();
    const std::string path = shell_socketPath();
    ASSERT_EQ(access(path.c_str(), F_OK), 0);
    void* shared = mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    gDiskReleased = new (shared) std::atomic<int>(0);
    gHeldUnlink = path.c_str();
    auto stop = std::async(std::launch::async, [] { shell_stop(); });
    const bool returned = stop.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    gDiskReleased->store(1);   // the disk lets the unlinks go, this process's or a child's
    stop.wait();
    EXPECT_TRUE(returned) << "the stop waited for the disk";
    EXPECT_FALSE(shell_running());
    for (int i = 0; i < 1000 && access(path.c_str(), F_OK) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(access(path.c_str(), F_OK), 0) << "the socket's file stayed";
    gHeldUnlink = nullptr;
    gDiskReleased = nullptr;
    munmap(shared, sizeof(std::atomic<int>));
    const auto texts = takeLogTexts();
    EXPECT_TRUE(logContains(texts, "is held up by its disk: left to a process of its own after 500 ms"));
}
