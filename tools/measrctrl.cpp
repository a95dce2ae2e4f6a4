// measrctrl: a logging remote-control client, in the place of the kernel-side
// service that forwards a desktop tool's connect and disconnect.
//
//   measrctrl [-t SECONDS] FOLDER CODE [IPV4]
//
// Sends the 5-byte command CODE (hex, e.g. e1 or 0xE1) with the client
// address IPV4 (0.0.0.0 when none is given: the connects e0, e1 and d1 need
// one) to the device running in FOLDER (the one that holds the folder's
// lock, whatever the folder was named at its start) and waits up
// to SECONDS (default 30) for its turn and for the device to take the
// command. A command the device did not take in that time is taken back:
// "not taken: nothing done". The codes that the device answers (d1, e0, e1,
// e2) then wait for the 5-byte reply and print "reply 0xNN" ("taken, no
// reply: it may be done" when the device went away or let its time for an
// answer pass: it may have carried the command out); the others print
// "sent". Exit status: 0 reply 0x00 or sent, 1 any other reply, 2 not taken,
// 3 usage, no device running in FOLDER or its queues cannot be opened, 4
// taken and no reply.
//
// The device has one command queue and one reply queue, one message deep
// each, and a reply does not say whom it is for. So the clients take turns:
// each holds an exclusive flock on "rctrl.lock" in the device folder from
// before it sends until the device took its command and, for a command with
// a reply, until it took that reply. Once the device took such a command the
// reply is owed to this client alone, so an interrupt or the end of SECONDS
// does not end the wait for it: the device answers within its own limits.
// Only a client that is killed leaves a reply owed; it noted that in
// rctrl.lock once its command was in the queue, and the next client waits
// for that reply and discards it (or finds that it can no longer come)
// before it sends.
#include <arpa/inet.h>
#include <fcntl.h>
#include <mqueue.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "host/kernel/kernel.h"

namespace {

// The codes the device acts on (it logs any other and does nothing), with
// what --help says of each: the one list that --help, the refusal of a code
// and the sending read.
struct Code {
    unsigned char value;
    bool answered;       // the device replies once it has carried the command out
    bool needsAddress;   // a connect: the device watches the tool by its address
    const char* what;
};

constexpr Code kCodes[] = {
    {0xE1, true, true, "analysis tool connects: logging stops (its files are closed) and IPV4\n"
                       "      is watched; the reply comes once the stop is done"},
    {0xEE, false, false, "analysis tool disconnects: logging starts again"},
    {0xE0, true, true, "configuration tool connects: logging stops and its measurements are\n"
                       "      destroyed until ed sets them up again; IPV4 is watched; the reply\n"
                       "      comes once that is done"},
    {0xED, false, false, "configuration tool disconnects: the measurements are set up anew\n"
                         "      from their configuration"},
    {0xD1, true, true, "flash request: sets status bits 0x3000000 of the status LED, clears\n"
                       "      the error memory, then as e0 (with its reply)"},
    {0xD2, false, false, "clears status bit 0x2000000"},
    {0xD3, false, false, "sets status bit 0x4000000"},
    {0xE2, true, false, "transfer tool connects: the running measurement is read out (reply)"},
    {0xEF, false, false, "transfer tool disconnects: the read-out request is cleared"},
};

// The entry of a code, nullptr for one the device does not act on.
const Code* findCode(unsigned long value) {
    for (const Code& c : kCodes)
        if (c.value == value) return &c;
    return nullptr;
}

std::string hexByte(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
    return text;
}

constexpr const char* kUsageHead =
    "usage: measrctrl [-t SECONDS] FOLDER CODE [IPV4]\n"
    "Sends the logging remote-control command CODE (hex) with the client address\n"
    "IPV4 to the device running in FOLDER (the folder that holds its shell.sock),\n"
    "as a desktop tool's connect or disconnect reaches the device. e0, e1 and d1\n"
    "need the tool's IPv4 address (the device watches the tool by it and takes\n"
    "0.0.0.0 for its own shell); the other codes go without one. The codes:\n";

constexpr const char* kUsageTail =
    "A watched address that stops answering pings gets logging restarted (after\n"
    "e1) or set up anew (after e0, d1) at the fifth failed ping.\n"
    "Waits up to SECONDS (default 30) for its turn (clients take turns, holding\n"
    "FOLDER/rctrl.lock) and for the device to take the command; a command the\n"
    "device did not take by then, or before an interrupt, is taken back and\n"
    "\"not taken: nothing done\" printed. d1, e0, e1 and e2 are answered: once the\n"
    "device took the command, waits for its reply however long the device takes\n"
    "(at most 30 s; an interrupt does not end this wait) and prints \"reply 0xNN\"\n"
    "(0x00 done, 0xFF refused or not done in time), or \"taken, no reply: it may\n"
    "be done\" when none came (the device went away or let its time pass,\n"
    "perhaps after it carried the command out). The other codes print \"sent\"\n"
    "once the device took them.\n"
    "Exit status: 0 reply 0x00 or sent, 1 another reply, 2 not taken (nothing\n"
    "done), 3 a wrong argument (named), no folder or no device, 4 taken but no\n"
    "reply (it may be done).\n";

// The device answers a command it took within this: it tries a request for
// a second at most, waits at most 20 s for it to be done, and its reply waits
// at most 2 s for room in the reply queue.
constexpr int64_t kAnswerWithinNs = 30'000'000'000;
// How often a wait looks at the queues, the device and the interrupt.
constexpr int64_t kSliceNs = 10'000'000;

volatile sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

// A call of the wrong shape: what is wrong, and the short usage.
int misuse(const std::string& what) {
    std::fprintf(stderr, "measrctrl: %s\nusage: measrctrl [-t SECONDS] FOLDER CODE [IPV4] (measrctrl --help says "
                         "more)\n", what.c_str());
    return 3;
}

// An option where FOLDER, CODE or IPV4 belong: "" when there is none.
std::string misplacedOption(int argc, char** argv, int from) {
    for (int j = from; j < argc; ++j) {
        const std::string word = argv[j];
        if (word.size() < 2 || word[0] != '-') continue;
        if (word == "-t")
            return from > 1 && std::strcmp(argv[1], "-t") == 0
                       ? "-t is given twice: once is enough, before FOLDER"
                       : "-t SECONDS goes before FOLDER: measrctrl -t SECONDS FOLDER CODE [IPV4]";
        if (word == "--help" || word == "-h") return word + " goes alone: measrctrl " + word;
        return "unknown option '" + word + "': the only one is -t SECONDS, before FOLDER (a folder whose name "
               "begins with '-' is given as ./" + word + ")";
    }
    return "";
}

// What stands at FOLDER/rctrl.lock where the turn file should be, and what to do.
std::string lockFileProblem(const std::string& path, int cause) {
    const std::string kind = host::fileProblemToWrite(path);
    if (!kind.empty() && kind != "not found" && kind.rfind("cannot", 0) != 0)
        return path + " " + kind + ": the clients take turns by a lock on a plain file there; remove it and "
               "measrctrl makes the file anew";
    return path + " cannot be opened (" + std::strerror(cause) +
           "): the clients take turns by a lock on that file; measrctrl needs to make or write it";
}

// A wrong argument, named with what it should be.
int wrongArgument(const char* what, const char* given, const char* should) {
    std::fprintf(stderr, "measrctrl: %s '%s' is %s; measrctrl --help says more\n", what, given, should);
    return 3;
}

// The full usage, the codes from their list.
std::string usage() {
    std::string text = kUsageHead;
    for (const Code& c : kCodes) text += "  " + hexByte(c.value) + "  " + c.what + "\n";
    return text + kUsageTail;
}

// What a refused CODE is told: the codes the device knows.
std::string knownCodes() {
    std::string text = "the device knows";
    for (const Code& c : kCodes) text += " " + hexByte(c.value);
    return text + " (measrctrl --help says what each does)";
}

int64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The absolute CLOCK_REALTIME time that the queue calls take, ns from now.
timespec realIn(int64_t ns) {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    ns += t.tv_nsec;
    t.tv_sec += time_t(ns / 1'000'000'000);
    t.tv_nsec = long(ns % 1'000'000'000);
    return t;
}

void nap() {
    const timespec t{0, long(kSliceNs)};
    nanosleep(&t, nullptr);   // an interrupt ends it early: the caller looks
}

// Which queue object a name stands for: a device that restarts makes its
// queues anew, and one that stops removes them.
struct Identity {
    unsigned long long dev = 0, ino = 0;
    bool operator==(const Identity&) const = default;
};

bool identify(mqd_t d, Identity& id) {
    struct stat st{};
    if (fstat(int(d), &st) != 0) return false;
    id = {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
    return true;
}

// The device's two queues as this client sees them.
class Device {
public:
    ~Device() {
        if (rx_ != mqd_t(-1)) mq_close(rx_);
        if (tx_ != mqd_t(-1)) mq_close(tx_);
    }
    // False with errno and the name that failed when the device is not there.
    bool open(const std::string& folder, std::string& failed) {
        rxName_ = host::processQueueName(folder, "/MeasAppRCTRL_RX");
        txName_ = host::processQueueName(folder, "/MeasAppRCTRL_TX");
        // the command queue also for reading: a command the device did not
        // take is taken back
        rx_ = mq_open(rxName_.c_str(), O_RDWR | O_CLOEXEC);
        if (rx_ == mqd_t(-1)) {
            failed = rxName_;
            return false;
        }
        tx_ = mq_open(txName_.c_str(), O_RDONLY | O_CLOEXEC);
        if (tx_ == mqd_t(-1) || !identify(tx_, id_)) {
            failed = txName_;
            return false;
        }
        mq_attr attr{};
        mq_getattr(rx_, &attr);
        commandSize_ = size_t(attr.mq_msgsize > 0 ? attr.mq_msgsize : 5);
        mq_getattr(tx_, &attr);
        reply_.resize(size_t(attr.mq_msgsize > 0 ? attr.mq_msgsize : 5));
        return true;
    }
    const Identity& identity() const { return id_; }

    // True while the device that made the queues this client opened runs.
    bool stillThere() const {
        mqd_t d = mq_open(txName_.c_str(), O_RDONLY | O_CLOEXEC);
        if (d == mqd_t(-1)) return errno != ENOENT;
        Identity now;
        const bool same = !identify(d, now) || now == id_;
        mq_close(d);
        return same;
    }

    // Puts the command in unless the queue stays full for a slice: 1 in, 0 full, -1 failed (errno).
    int send(const uint8_t* cmd, size_t n) {
        const timespec end = realIn(kSliceNs);
        if (mq_timedsend(rx_, reinterpret_cast<const char*>(cmd), n, 0, &end) == 0) return 1;
        return errno == ETIMEDOUT || errno == EINTR ? 0 : -1;
    }
    int commandsWaiting() const {
        mq_attr attr{};
        return mq_getattr(rx_, &attr) == 0 ? int(attr.mq_curmsgs) : 0;
    }
    // Takes back a command the device has not taken. Only the client whose
    // turn it is sends, so what is there is its own (or a killed one's).
    bool takeBack() {
        std::vector<char> buf(commandSize_);
        const timespec now = realIn(0);
        return mq_timedreceive(rx_, buf.data(), buf.size(), nullptr, &now) >= 0;
    }
    // A reply within a slice: its first byte, or -1.
    int reply() {
        const timespec end = realIn(kSliceNs);
        const ssize_t n = mq_timedreceive(tx_, reply_.data(), reply_.size(), nullptr, &end);
        return n >= 1 ? uint8_t(reply_[0]) : -1;
    }
    // Replies waiting now are owed to no client that still waits.
    void discardReplies() {
        const timespec now = realIn(0);
        while (mq_timedreceive(tx_, reply_.data(), reply_.size(), nullptr, &now) >= 0) {}
    }

private:
    std::string rxName_, txName_;
    mqd_t rx_ = mqd_t(-1), tx_ = mqd_t(-1);
    Identity id_;
    size_t commandSize_ = 5;
    std::vector<char> reply_;
};

// A reply the device owes to the client whose turn it was: noted in the
// lock file, so that the next client knows of it when that one was killed.
struct Owed {
    bool present = false;
    int64_t since = 0;   // CLOCK_MONOTONIC ns at the send
    Identity queue;      // the reply queue it will come in
};

// This client's turn at the device's queues, held until it is destroyed (also
// when the client is killed: the lock goes with the process).
class Turn {
public:
    ~Turn() {
        if (fd_ >= 0) ::close(fd_);
    }
    // Waits for the turn until the deadline or an interrupt: 1 got it, 0 did
    // not, -1 the lock file cannot be used (errno).
    int take(const std::string& folder, int64_t deadline) {
        fd_ = ::open((folder + "/rctrl.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
        if (fd_ < 0) return -1;
        struct stat st{};
        if (::fstat(fd_, &st) != 0) return -1;
        if (!S_ISREG(st.st_mode)) {
            errno = EINVAL;   // the note of an owed reply needs a plain file
            return -1;
        }
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return 1;
            if (errno != EWOULDBLOCK && errno != EINTR) return -1;
            if (interrupted || nowNs() >= deadline) return 0;
            nap();
        }
    }
    // What the client before left owed; anything else in the file is no note.
    Owed owed() const {
        char text[128] = {};
        Owed o;
        unsigned long long dev = 0, ino = 0;
        long long since = 0;
        if (::pread(fd_, text, sizeof text - 1, 0) > 0 &&
            std::sscanf(text, "owed %lld %llu %llu", &since, &dev, &ino) == 3)
            o = {true, since, {dev, ino}};
        return o;
    }
    void noteOwed(const Identity& queue) {
        char text[128];
        const int n = std::snprintf(text, sizeof text, "owed %lld %llu %llu\n", static_cast<long long>(nowNs()),
                                    queue.dev, queue.ino);
        // written over what is there, then cut: never an empty file between
        if (::pwrite(fd_, text, size_t(n), 0) != n || ::ftruncate(fd_, n) != 0)
            std::fprintf(stderr, "measrctrl: rctrl.lock: %s\n", std::strerror(errno));
    }
    void clearOwed() {
        if (::ftruncate(fd_, 0) != 0) std::fprintf(stderr, "measrctrl: rctrl.lock: %s\n", std::strerror(errno));
    }

private:
    int fd_ = -1;
};

// Deals with what the client before this one left: a reply owed to a killed
// client is waited for and discarded, unless it can no longer come (its
// command is still there to take back, the device restarted, or the device's
// time for it has passed). False when the deadline or an interrupt came first.
bool settleEarlier(Turn& turn, Device& device, int64_t deadline) {
    const Owed o = turn.owed();
    if (o.present) {
        // a device that restarted owes nothing; a command still there never reached it
        bool settled = !(o.queue == device.identity()) || device.takeBack();
        while (!settled) {
            settled = device.reply() >= 0 || !device.stillThere() || nowNs() - o.since >= kAnswerWithinNs;
            if (!settled && (interrupted || nowNs() >= deadline)) return false;
        }
        turn.clearOwed();
    }
    device.discardReplies();
    return true;
}

// Sends the command and waits until the device took it: 1 taken, 0 the
// deadline or an interrupt came first (the command is not left behind), -1
// the queue failed (errno). A command with a reply is noted as owed in the
// turn `owes` as soon as it is in the device's queue: from then on a kill
// may leave its reply to the next client, never before (a client killed
// while the queue was still full owes nothing).
int sendTaken(Device& device, const uint8_t* cmd, size_t n, int64_t deadline, Turn* owes) {
    for (;;) {
        const int in = device.send(cmd, n);
        if (in < 0) return -1;
        if (in > 0) break;
        // a device that stopped or started anew takes nothing from the queue it left
        if (interrupted || nowNs() >= deadline || !device.stillThere()) return 0;
    }
    if (owes) owes->noteOwed(device.identity());
    while (device.commandsWaiting() > 0) {
        if (interrupted || nowNs() >= deadline || !device.stillThere()) return device.takeBack() ? 0 : 1;
        nap();
    }
    return 1;
}

// The reply to a command the device took: its byte, or -1 when the device
// went away or its time for an answer passed.
int awaitReply(Device& device) {
    const int64_t begin = nowNs();
    bool told = false;
    for (;;) {
        const int r = device.reply();
        if (r >= 0) return r;
        if (interrupted && !told) {
            std::fprintf(stderr, "measrctrl: interrupted: waiting for the reply to the command the device took\n");
            told = true;
        }
        if (nowNs() - begin >= kAnswerWithinNs || !device.stillThere()) return -1;
    }
}

void catchInterrupts() {
    struct sigaction sa{};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;   // no restart: a wait ends early and looks
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
}

// Exit statuses of the two ends without a reply: a command never taken
// left the device untouched; one taken may have been carried out.
constexpr int kExitNotTaken = 2;
constexpr int kExitNoReply = 4;

int notTaken() {
    std::printf("not taken: nothing done\n");
    return kExitNotTaken;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    double wait = 30;
    int i = 1;
    if (i < argc && std::strcmp(argv[i], "-t") == 0) {
        if (i + 1 >= argc) return misuse("-t needs SECONDS");
        char* end;
        wait = std::strtod(argv[i + 1], &end);
        if (*end || end == argv[i + 1] || !(wait >= 0 && wait <= 1e6))
            return wrongArgument("-t", argv[i + 1], "no number of seconds from 0 to 1000000");
        i += 2;
    }
    if (const std::string option = misplacedOption(argc, argv, i); !option.empty()) return misuse(option);
    if (argc - i == 0) return misuse("FOLDER and CODE are missing");
    if (argc - i == 1) return misuse(std::string("CODE is missing after FOLDER '") + argv[i] + "'");
    if (argc - i > 3) return misuse(std::string("one argument too many: '") + argv[i + 3] + "' after IPV4");
    const std::string folder = argv[i];
    char* end;
    const unsigned long value = std::strtoul(argv[i + 1], &end, 16);
    if (*end || end == argv[i + 1] || value > 0xFF) {
        std::fprintf(stderr, "measrctrl: CODE '%s' is no hex byte such as e1 or 0xE1: %s\n", argv[i + 1],
                     knownCodes().c_str());
        return 3;
    }
    const Code* code = findCode(value);
    if (!code) {
        std::fprintf(stderr, "measrctrl: unknown code %s: %s\n", argv[i + 1], knownCodes().c_str());
        return 3;
    }
    in_addr addr{};
    if (argc - i == 3 && inet_pton(AF_INET, argv[i + 2], &addr) != 1)
        return wrongArgument("IPV4", argv[i + 2], "no IPv4 address such as 192.168.1.20");
    if (code->needsAddress && addr.s_addr == 0) {
        std::fprintf(stderr, "measrctrl: %s needs the tool's IPv4 address (measrctrl FOLDER %s IPV4): the device "
                             "watches the tool by it and takes 0.0.0.0 for its own shell\n", argv[i + 1], argv[i + 1]);
        return 3;
    }
    if (folder.empty()) return misuse("FOLDER is empty: name the device's folder (run/device for scripts/run)");
    struct stat st{};
    if (::stat(folder.c_str(), &st) != 0) {
        std::fprintf(stderr, "measrctrl: no folder %s: %s\n", folder.c_str(), std::strerror(errno));
        return 3;
    }
    if (!S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "measrctrl: %s is no folder (FOLDER is the device's folder, which holds its "
                             "shell.sock)\n", folder.c_str());
        return 3;
    }

    // The device that runs in the folder holds a lock on it, whatever the
    // folder was named at its start; a folder made where a running device's
    // folder was before a rename has none (and nothing is written into it).
    if (host::deviceRunningIn(folder) == 0) {
        std::fprintf(stderr, "measrctrl: no device runs in %s (start one there, with scripts/run or tav9 in that "
                             "folder)\n", folder.c_str());
        return 3;
    }

    catchInterrupts();
    const int64_t deadline = nowNs() + int64_t(wait * 1e9);
    Device device;
    std::string failed;
    if (!device.open(folder, failed)) {
        std::fprintf(stderr, "measrctrl: no device listening in %s (%s: %s): its remote control is not up\n",
                     folder.c_str(), failed.c_str(), std::strerror(errno));
        return 3;
    }
    Turn turn;
    const int got = turn.take(folder, deadline);
    if (got < 0) {
        std::fprintf(stderr, "measrctrl: %s\n", lockFileProblem(folder + "/rctrl.lock", errno).c_str());
        return 3;
    }
    if (got == 0) {
        std::fprintf(stderr, "measrctrl: %s\n", interrupted ? "interrupted" : "another client kept its turn");
        return notTaken();
    }
    if (!settleEarlier(turn, device, deadline)) {
        std::fprintf(stderr, "measrctrl: %s\n",
                     interrupted ? "interrupted" : "the device still owes a killed client its reply");
        return notTaken();
    }

    uint8_t cmd[5] = {code->value};
    std::memcpy(cmd + 1, &addr.s_addr, 4);
    const int taken = sendTaken(device, cmd, sizeof cmd, deadline, code->answered ? &turn : nullptr);
    if (taken <= 0) {
        if (taken < 0) std::fprintf(stderr, "measrctrl: sending the command failed: %s\n", std::strerror(errno));
        turn.clearOwed();
        if (taken < 0) return 3;
        if (interrupted) std::fprintf(stderr, "measrctrl: interrupted\n");
        return notTaken();
    }
    if (!code->answered) {
        std::printf("sent\n");
        return 0;
    }
    const int reply = awaitReply(device);
    turn.clearOwed();
    if (reply < 0) {
        std::printf("taken, no reply: it may be done\n");
        return kExitNoReply;
    }
    std::printf("reply 0x%02X\n", reply);
    return reply == 0 ? 0 : 1;
}
