// Shell bridge of the host: one task reads command lines from standard input,
// another serves the Unix socket "shell.sock" of the device folder. Both poll
// with a short time-out so that shell_stop can end them.
//
// Both tasks start with the socket open but take no line before
// shell_acceptLines: what arrives earlier waits in the pipe or the socket
// (a socket client is accepted, its lines are read later).
//
// Socket clients never wait for one another: their sockets do not block,
// the clients' lines run in turn, one line of each client with lines waiting
// per round, each answer is queued per client and sent as the client reads,
// and a client that lets more than kMaxPendingOutput bytes of answers pile up
// is dropped. Each line's command runs on a task of its own: one that waits
// off the shell's turn (for the disk, shell_waitOffTurn) holds only its
// client, the turns go on meanwhile. shell_stop closes every connection once
// the commands running have finished and their answers are sent (the lines
// not yet run are not run).
#include "platform/shell.h"

#include "platform/log_file.h"
#include "platform/stop_budget.h"
#include "platform/stop_remove.h"
#include "platform/syslogx.h"
#include "host/kernel/kernel.h"
#include "host/os/os.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace {

constexpr int kPollMs = 100;
// A shell task pauses a tick after each line it runs, and standard input
// after each read as well: clients that flood the socket with commands, or an
// input that never ends, take only a small part of the processor, and the
// tasks below the shell's priority (the log reader) keep running.
constexpr int kLinePauseTicks = 1;
// How long the stop waits for the tasks to finish the commands they run.
constexpr unsigned kStopWaitMs = 5000;
// What the rest of the stop keeps of its budget after the shell's wait: the
// logger's flush (950 ms), its halt, the NVRAM and the end.
constexpr unsigned kStopAfterShellMs = 3000;
// How long the stop waits for its socket's file to go (a busy disk holds
// an unlink up).
constexpr unsigned kStopRemoveWaitMs = 500;
// How long the stop sends the answers its clients are owed (within kStopWaitMs).
constexpr uint64_t kStopSendTicks = 1000;
constexpr size_t kMaxClients = 8;
constexpr size_t kMaxPendingOutput = 256 * 1024;
// How often a task that waits for shell_acceptLines looks again.
constexpr int kIntakeWaitTicks = 10;

std::mutex gCtlMx;
std::atomic<bool> gStop{false};
std::atomic<bool> gTakeLines{false};
TASK_ID gStdinTask = nullptr;
TASK_ID gSockTask = nullptr;
int gListenFd = -1;
std::string gBindName;

// Cuts a byte stream into lines. A line longer than kShellMaxLine or
// holding a NUL byte (which would end it early for the command parser, and
// run only its first part) is refused whole: onRefused is called once with
// the reason and the rest of it, up to its newline, is dropped.
class LineSplitter {
public:
    template <class OnLine, class OnRefused>
    void feed(const char* data, size_t n, OnLine onLine, OnRefused onRefused) {
        for (size_t i = 0; i < n; ++i) {
            char c = data[i];
            if (c == '\n') {
                if (!refused_) onLine(buf_);
                buf_.clear();
                refused_ = false;
            } else if (!refused_) {
                const char* why = c == '\0' ? nulText() : buf_.size() >= kShellMaxLine ? overlongText() : nullptr;
                if (why) {
                    refused_ = true;
                    buf_.clear();
                    onRefused(why);
                } else {
                    buf_ += c;
                }
            }
        }
    }
    // At the end of standard input: the last line without its newline.
    template <class OnLine>
    void finish(OnLine onLine) {
        if (!refused_ && !buf_.empty()) onLine(buf_);
        buf_.clear();
        refused_ = false;
    }
    // At the end of a connection: the line begun is dropped, it may have
    // been cut anywhere. The number of its characters received.
    size_t drop() {
        size_t n = refused_ ? 0 : buf_.size();
        buf_.clear();
        refused_ = false;
        return n;
    }

private:
    static const char* overlongText() {
        static const std::string text =
            "shell: line longer than " + std::to_string(kShellMaxLine) + " characters refused\n";
        return text.c_str();
    }
    static const char* nulText() { return "shell: line with a NUL byte refused\n"; }

    std::string buf_;
    bool refused_ = false;
};

std::string resultText(int rc) {
    char tail[64];
    snprintf(tail, sizeof tail, "value = %d = 0x%x\n", rc, static_cast<unsigned>(rc));
    return tail;
}

// What a command printed, for the terminal: bytes a line took from the input
// (an escape sequence, a byte that is no UTF-8) are written as "\xHH", as in
// the log, so that the input cannot drive the terminal; the newlines stay.
void printForTerminal(const std::string& text) {
    std::string out;
    for (size_t pos = 0; pos < text.size();) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        out += logLineText(text.substr(pos, nl - pos).c_str());
        if (nl < text.size()) out += '\n';
        pos = nl + 1;
    }
    fputs(out.c_str(), stdout);
    fflush(stdout);
}

// Until shell_acceptLines, or the stop if it comes first.
void waitForIntake() {
    while (!gStop.load() && !gTakeLines.load()) taskDelay(kIntakeWaitTicks);
}

// Standard input may be a file or a pipe that never ends (`yes lof_get |
// tav9 1`, /dev/zero): its lines run no faster than the socket's (a tick's
// pause after each), a read of bytes that hold no line (/dev/zero) is paused
// the same way, and the stop is seen between two lines.
void stdinBody() {
    LineSplitter lines;
    char chunk[512];
    auto run = [](const std::string& line) {
        if (gStop.load()) return;   // the rest of the input is not run
        std::string out;
        shell_runLineCapture(line.c_str(), &out);
        printForTerminal(out);
        taskDelay(kLinePauseTicks);
    };
    auto refuse = [](const char* why) {
        fputs(why, stdout);
        fflush(stdout);
    };
    waitForIntake();
    while (!gStop.load()) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        int r = poll(&p, 1, kPollMs);
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        lines.feed(chunk, static_cast<size_t>(n), run, refuse);
        taskDelay(kLinePauseTicks);
    }
    if (!gStop.load()) lines.finish(run);
    // End of input: the socket goes on serving. The task stays until
    // shell_stop, so that its id stays valid for the stop.
    while (!gStop.load()) taskDelay(kPollMs);
}

// A line a socket client sent, or the refusal of one, waiting for its turn.
struct Pending {
    std::string line;
    const char* refusal = nullptr;   // set: the line was refused, this is why
};

// A line's command, run by a task of its own. The socket task waits for it
// until it finished or went off the shell's turn; then the turns go on, and
// its answer is taken once it finished.
struct LineRun {
    std::mutex mx;
    std::condition_variable cv;
    bool offTurn = false;
    bool finished = false;
    std::string answer;
    int rc = 0;
};

// Wakes the socket task's poll when a command that went off its turn has
// finished. Shared with the commands' tasks, which may outlive the socket
// task (the stop leaves one behind that does not finish).
struct Wake {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    Wake() = default;
    Wake(const Wake&) = delete;
    Wake& operator=(const Wake&) = delete;
    ~Wake() {
        if (fd >= 0) close(fd);
    }
    void ring() const {
        const uint64_t one = 1;
        if (fd >= 0) (void)!write(fd, &one, sizeof one);
    }
    void clear() const {
        uint64_t n;
        if (fd >= 0) (void)!read(fd, &n, sizeof n);
    }
};

struct Client {
    int fd = -1;
    LineSplitter lines;
    std::deque<Pending> pending;   // read, not yet run; read on once empty
    std::string out;               // answers not yet taken by the client
    bool inputEnded = false;       // closed once its lines ran and the answers are out
    bool gone = false;             // the answers cannot be sent any more
    uint64_t lastHeard = 0;        // tick of its connection or of its last bytes
    std::shared_ptr<LineRun> running;   // its command that went off its turn

    bool done() const { return inputEnded && pending.empty() && out.empty() && !running; }
    // Waits for nothing of the shell: no line read or sent, no answer owed.
    bool idle() const {
        int waiting = 0;
        return pending.empty() && out.empty() && !inputEnded && !running && ioctl(fd, FIONREAD, &waiting) == 0 &&
               waiting == 0;
    }
};

// Sends what the socket takes now. A client that went away still has the
// lines it sent before run (as a command file piped into the socket expects);
// its answers are dropped.
void flushSome(Client& c) {
    while (!c.gone && !c.out.empty()) {
        ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {
            c.gone = true;
            break;
        }
        c.out.erase(0, static_cast<size_t>(n));
    }
    if (c.gone) c.out.clear();
}

// Reads what the client sent into its pending lines.
void readInput(Client& c) {
    char chunk[4096];
    ssize_t n = read(c.fd, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n > 0) {
        c.lastHeard = tickGet();
        c.lines.feed(
            chunk, static_cast<size_t>(n), [&c](const std::string& line) { c.pending.push_back({line, nullptr}); },
            [&c](const char* why) { c.pending.push_back({std::string(), why}); });
        return;
    }
    // the end of a connection is not the end of a line: a line runs only
    // once its newline has arrived
    if (size_t cut = c.lines.drop())
        syslogx(148, "shell: a line without its newline (%zu characters) not run, its client closed", cut);
    c.inputEnded = true;
}

// The answer of the client's command that went off its turn, once it has
// finished.
void collect(Client& c) {
    const std::shared_ptr<LineRun> run = c.running;
    if (!run) return;
    std::lock_guard<std::mutex> lk(run->mx);
    if (!run->finished) return;
    c.out += run->answer;
    c.out += resultText(run->rc);
    c.running.reset();
}

// Runs the line on a task of its own and waits until its command finished
// or went off the shell's turn (then it is the client's running one).
void runLine(Client& c, const std::string& line, const std::shared_ptr<Wake>& wake) {
    auto run = std::make_shared<LineRun>();
    TASK_ID t = taskSpawn("r_shellSock", 200, 0, 0x8000, std::function<void()>([run, wake, line] {
        std::string answer;
        const int rc = shell_runLineCapture(line.c_str(), &answer, [&run] {
            std::lock_guard<std::mutex> lk(run->mx);
            run->offTurn = true;
            run->cv.notify_all();
        });
        {
            std::lock_guard<std::mutex> lk(run->mx);
            run->answer = std::move(answer);
            run->rc = rc;
            run->finished = true;
            run->cv.notify_all();
        }
        wake->ring();
    }));
    if (!t) {   // no task to be had: the line runs here, holding the turns
        std::string answer;
        const int rc = shell_runLineCapture(line.c_str(), &answer);
        c.out += answer;
        c.out += resultText(rc);
        return;
    }
    std::unique_lock<std::mutex> lk(run->mx);
    run->cv.wait(lk, [&run] { return run->finished || run->offTurn; });
    if (run->finished) {
        c.out += run->answer;
        c.out += resultText(run->rc);
    } else {
        c.running = run;
    }
}

// The client's turn: its next line runs (refusals before it are answered on
// the way), unless its command before still waits off its turn. False when
// the client is to be closed now.
bool serveTurn(Client& c, const std::shared_ptr<Wake>& wake) {
    collect(c);
    while (!c.running && !c.pending.empty() && !gStop.load()) {   // stopped: the lines still to come are not run
        Pending next = std::move(c.pending.front());
        c.pending.pop_front();
        if (next.refusal) {
            c.out += next.refusal + resultText(-1);
            continue;
        }
        runLine(c, next.line, wake);
        taskDelay(kLinePauseTicks);
        break;
    }
    if (c.out.size() > kMaxPendingOutput) {
        syslogx(148, "shell: client dropped, it does not read its answers");
        return false;
    }
    flushSome(c);
    return !c.done();
}

// At the stop: the answers the clients have not taken yet are sent as they
// read, for at most kStopSendTicks; a client that does not read them does not
// hold up the stop.
void sendOwedAnswers(Client* clients, size_t n) {
    const uint64_t begin = tickGet();
    for (;;) {
        pollfd p[kMaxClients];
        size_t waiting = 0;
        for (size_t i = 0; i < n; ++i) {
            flushSome(clients[i]);
            const bool owed = !clients[i].out.empty() && !clients[i].gone;
            p[i] = {owed ? clients[i].fd : -1, POLLOUT, 0};
            waiting += owed;
        }
        const uint64_t spent = tickGet() - begin;
        if (!waiting || spent >= kStopSendTicks) return;
        if (poll(p, n, static_cast<int>(kStopSendTicks - spent)) < 0 && errno != EINTR) return;
    }
}

void socketBody(int listenFd) {
    Client clients[kMaxClients];
    size_t nClients = 0;
    const auto wake = std::make_shared<Wake>();
    auto drop = [&](size_t i) {
        close(clients[i].fd);
        clients[i] = std::move(clients[nClients - 1]);
        clients[nClients - 1] = Client{};
        --nClients;
    };
    while (!gStop.load()) {
        // Before shell_acceptLines new clients are accepted but not heard:
        // their lines, even the end of their connection, wait in the socket.
        const bool taking = gTakeLines.load();
        bool linesWaiting = false;
        constexpr size_t kFirst = 2;   // the listening socket, the wake, then the clients
        pollfd p[kFirst + kMaxClients];
        p[0] = {listenFd, POLLIN, 0};
        p[1] = {wake->fd, POLLIN, 0};
        const size_t nPoll = taking ? nClients : 0;
        for (size_t i = 0; i < nPoll; ++i) {
            Client& c = clients[i];
            linesWaiting |= !c.pending.empty() && !c.running;
            // a client's next lines are read once those read before have run
            short ev = c.inputEnded || !c.pending.empty() ? 0 : POLLIN;
            if (!c.out.empty() && !c.gone) ev |= POLLOUT;
            // nothing to wait for (a client that waits for its command): its
            // hang-up would wake the poll again and again
            p[kFirst + i] = {ev ? c.fd : -1, ev, 0};
        }
        int r = poll(p, kFirst + nPoll, linesWaiting ? 0 : taking ? kPollMs : kIntakeWaitTicks);
        if (r < 0 && errno != EINTR) break;
        if (r < 0) continue;
        if (p[1].revents & POLLIN) wake->clear();
        // Clients first, from the back, so that indexes stay valid while closing.
        for (size_t i = nPoll; i-- > 0;) {
            Client& c = clients[i];
            short rev = p[kFirst + i].revents;
            if (rev & POLLOUT) flushSome(c);
            if (rev & POLLIN) {
                readInput(c);
            } else if ((rev & (POLLHUP | POLLERR)) && c.pending.empty()) {
                // the peer is gone and nothing of it is left to read
                c.inputEnded = c.gone = true;
                c.out.clear();
            }
            const bool keep = c.pending.empty() && !c.running ? !c.done() : serveTurn(c, wake);
            if (!keep) drop(i);
        }
        if (p[0].revents & POLLIN) {
            int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                // Full: the client idle longest makes room, so that clients
                // that connect and never send cannot lock the others out.
                // Before the shell takes lines none is heard, so none is idle.
                if (nClients == kMaxClients && taking) {
                    size_t longest = kMaxClients;
                    for (size_t i = 0; i < nClients; ++i)
                        if (clients[i].idle() &&
                            (longest == kMaxClients ||
                             static_cast<int64_t>(clients[i].lastHeard - clients[longest].lastHeard) < 0))
                            longest = i;
                    if (longest < kMaxClients) {
                        const char closing[] = "shell: connection closed, idle while another client waited\n";
                        (void)!send(clients[longest].fd, closing, sizeof closing - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                        syslogx(148, "shell: an idle client closed to make room for a new one");
                        drop(longest);
                    }
                }
                if (nClients < kMaxClients) {
                    clients[nClients].fd = fd;
                    clients[nClients++].lastHeard = tickGet();
                } else {
                    const char busy[] = "shell: too many connections\n";
                    (void)!send(fd, busy, sizeof busy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                    close(fd);
                }
            }
        }
    }
    // the commands that went off their turn are finished before the shell
    // ends (the stop leaves behind one that takes too long), and each client
    // gets the answers it is owed before it is closed
    for (size_t i = 0; i < nClients; ++i) {
        if (const std::shared_ptr<LineRun> run = clients[i].running) {
            std::unique_lock<std::mutex> lk(run->mx);
            run->cv.wait(lk, [&run] { return run->finished; });
        }
        collect(clients[i]);
    }
    sendOwedAnswers(clients, nClients);
    for (size_t i = 0; i < nClients; ++i) close(clients[i].fd);
    while (!gStop.load()) taskDelay(kPollMs);
}

// The process runs in its device folder, so the socket is bound by its
// relative name there: a long folder path does not matter, and a folder
// renamed meanwhile keeps its socket. Elsewhere (tests with a folder of their
// own) it takes the full path.
std::string bindName() { return host::inDeviceFolder("shell.sock"); }

// Removes the socket at name; anything else there (a file, a link, a
// folder someone put there) is not the shell's and stays.
void removeSocketFile(const std::string& name) {
    struct stat st;
    if (lstat(name.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(name.c_str());
}

int openSocket(const std::string& name) {
    sockaddr_un addr{};
    if (name.size() >= sizeof addr.sun_path) {
        syslogx(147, "shell: socket path too long: %s", name.c_str());
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        syslogx(147, "shell: socket failed: %s", strerror(errno));
        return -1;
    }
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, name.c_str(), name.size() + 1);
    removeSocketFile(name);   // a socket left by an earlier run
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
        // what was not taken away (a folder, a link, a file) is named as what it is
        const int cause = errno;
        std::string what = cause == EADDRINUSE ? host::fileProblemToWrite(name) : "";
        if (cause == EADDRINUSE && what.empty()) what = "is a file";
        if (what.rfind("is a", 0) != 0 || what == "is a socket")
            syslogx(147, "shell: cannot open %s: %s", name.c_str(), strerror(cause));
        else
            syslogx(147, "shell: %s %s, the socket shell is not started", name.c_str(), what.c_str());
        close(fd);
        return -1;
    }
    return fd;
}

// The tasks see gStop within one poll period (or after the command they
// run) and return. False for one still in its command at `until`: it is
// left behind (it runs nothing more), so that a command that hangs does not
// hold up the shutdown for good. The tasks share the one wait.
bool endTask(TASK_ID& t, std::chrono::steady_clock::time_point until) {
    if (!t) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    const long ms = left.count() > 0 ? static_cast<long>(left.count()) : 0;
    const bool ended = taskWait(t, static_cast<int>(ms * sysClkRateGet() / 1000)) == OK;
    if (!ended) syslogx(148, "shell: task %s does not finish its command, left behind", taskName(t));
    t = nullptr;
    return ended;
}

}  // namespace

std::string shell_socketPath() {
    const std::string& dir = host::deviceFolder();
    return dir.empty() ? std::string("shell.sock") : dir + "/shell.sock";
}

int shell_start(bool readStdin) {
    std::lock_guard<std::mutex> lk(gCtlMx);
    if (gSockTask || gStdinTask) return 1;
    gStop.store(false);
    gTakeLines.store(false);
    gBindName = bindName();
    gListenFd = openSocket(gBindName);
    if (gListenFd >= 0) {
        int fd = gListenFd;
        gSockTask = taskSpawn("r_shellSock", 200, 0, 0x8000, std::function<void()>([fd] { socketBody(fd); }));
        if (!gSockTask) syslogx(147, "shell: task r_shellSock not started");
    }
    if (readStdin) {
        gStdinTask = taskSpawn("r_shellStdin", 200, 0, 0x8000, std::function<void()>(stdinBody));
        if (!gStdinTask) syslogx(147, "shell: task r_shellStdin not started");
    }
    if (!gSockTask && gListenFd >= 0) {
        close(gListenFd);
        removeSocketFile(gBindName);
        gListenFd = -1;
    }
    return (gSockTask || gStdinTask) ? 1 : 0;
}

void shell_acceptLines() { gTakeLines.store(true); }

void shell_stop() {
    std::lock_guard<std::mutex> lk(gCtlMx);
    gStop.store(true);
    // the commands under way get one wait together, out of the stop's
    // budget: the logger's flush and halt and the end come after it
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(stopBudget_waitMs(kStopWaitMs, kStopAfterShellMs));
    const bool sockEnded = endTask(gSockTask, until);
    endTask(gStdinTask, until);
    // the socket a task left behind may still poll keeps its descriptor;
    // the removal of its file waits for the disk in a process of its own
    if (sockEnded && gListenFd >= 0) {
        close(gListenFd);
        stopRemove_socket(gBindName, stopBudget_waitMs(kStopRemoveWaitMs, kStopAfterShellMs));
        gListenFd = -1;
    }
}

bool shell_running() {
    std::lock_guard<std::mutex> lk(gCtlMx);
    return gSockTask || gStdinTask;
}
