// Command table and line dispatch of the target shell.
#include "platform/shell.h"

#include "platform/appman.h"
#include "platform/syslogx.h"
#include "host/kernel/kernel.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>

namespace {

constexpr size_t kMaxCommands = 256;
constexpr size_t kMaxNameLen = 63;

std::mutex gTableMx;
// "help" is there from the start: it lists what the modules registered.
std::map<std::string, ShellFunc>& table() {
    static std::map<std::string, ShellFunc> t{{"help", shell_help}};
    return t;
}

// One command at a time: commands are not written to run concurrently, and
// the capture of stdout is process-wide. A command gives the lock up only
// for a wait of its own (shell_waitOffTurn).
std::recursive_mutex gRunMx;
// How deep this thread holds gRunMx: a command that runs another line holds
// it twice, and does not give it up in a wait.
thread_local int tRunDepth = 0;

struct RunHold {
    RunHold() : lk(gRunMx) { ++tRunDepth; }
    ~RunHold() { --tRunDepth; }
    std::unique_lock<std::recursive_mutex> lk;
};

// Temporarily points file descriptor 1 at an anonymous file in memory, so
// that a command's output is captured without any folder of the host (its
// temporary directory may be read-only or full). Where the capture cannot be
// made, the output goes on to the process's standard output and the answer
// says so.
class StdoutCapture {
public:
    StdoutCapture() {
        fflush(stdout);
        mem_ = memfd_create("shell_output", MFD_CLOEXEC);
        if (mem_ < 0) {
            fail(errno);
            return;
        }
        saved_ = dup(STDOUT_FILENO);
        if (saved_ < 0) {
            fail(errno);
            return;
        }
        take();
    }
    ~StdoutCapture() {
        end(nullptr);
        if (mem_ >= 0) close(mem_);
        if (saved_ >= 0) close(saved_);
    }
    // Gives stdout back for a while, and takes it again: what the command
    // prints after goes on in the same capture.
    void pause() {
        if (!held_) return;
        fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        held_ = false;
    }
    void resume() {
        if (!used_ || failure_) return;
        fflush(stdout);
        take();
    }
    // Gives stdout back; *out (when given) gets what was captured, and a
    // line naming the cause when (some of) the output could not be. The
    // errno of that cause, 0 when all of it was captured.
    int end(std::string* out) {
        if (held_) {
            fflush(stdout);
            dup2(saved_, STDOUT_FILENO);
            held_ = false;
        }
        if (out && used_) readBack(out);
        used_ = false;
        if (out && failure_) {
            *out += "shell: the output of this command could not be captured (";
            *out += strerror(failure_);
            *out += "): it went to the device's standard output\n";
        }
        const int failure = failure_;
        failure_ = 0;
        return failure;
    }

private:
    void take() {
        held_ = dup2(mem_, STDOUT_FILENO) >= 0;
        if (held_)
            used_ = true;
        else
            fail(errno);
    }
    void fail(int err) {
        if (!failure_) failure_ = err ? err : EIO;
    }
    void readBack(std::string* out) {
        char buf[4096];
        for (off_t at = 0;;) {
            const ssize_t n = pread(mem_, buf, sizeof buf, at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                fail(errno);
                return;
            }
            if (n == 0) return;
            out->append(buf, static_cast<size_t>(n));
            at += n;
        }
    }

    int mem_ = -1;
    int saved_ = -1;
    bool held_ = false;   // stdout points at mem_ now
    bool used_ = false;   // ... or did, so that mem_ holds output
    int failure_ = 0;   // errno of the first step that failed, 0 if none
};

// The line this thread runs under shell_runLineCapture: what a wait off the
// turn gives up and takes again.
struct RunningLine {
    RunHold* hold;
    StdoutCapture* capture;
    const std::function<void()>* offTurn;
};
thread_local RunningLine* tRunning = nullptr;

int runLineHeld(const char* line);

}  // namespace

std::vector<std::string> shell_commandNames() {
    std::vector<std::string> names;
    std::lock_guard<std::mutex> lk(gTableMx);
    for (const auto& entry : table()) names.push_back(entry.first);
    return names;
}

int msd_shellAddCommand(const char* name, ShellFunc fn) {
    if (!name || !*name || !fn || strlen(name) > kMaxNameLen) {
        syslogx(147, "msd_shellAddCommand: invalid command '%s'", name ? name : "(null)");
        return 0;
    }
    for (const char* p = name; *p; ++p) {
        if (*p == ' ' || *p == '\t' || *p == '"' || *p == '\'') {
            syslogx(147, "msd_shellAddCommand: invalid command '%s'", name);
            return 0;
        }
    }
    {
        std::lock_guard<std::mutex> lk(gTableMx);
        auto& t = table();
        if (t.size() >= kMaxCommands && !t.count(name)) {
            syslogx(147, "msd_shellAddCommand: too many commands, '%s' not added", name);
            return 0;
        }
        t[name] = fn;
    }
    host::rtpSyscall(RtpIndex, reinterpret_cast<intptr_t>(name), 0, 0, 0, 0, 0, 0, host::SC_SHELL_REGISTER);
    return 1;
}

bool shell_splitLine(const char* line, std::vector<std::string>* words, std::string* error) {
    words->clear();
    if (!line) return true;
    const char* p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
        if (!*p) return true;
        std::string w;
        while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') {
            if (*p == '"' || *p == '\'') {
                char q = *p++;
                while (*p && *p != q) {
                    // Inside double quotes a backslash keeps the next character.
                    if (q == '"' && *p == '\\' && (p[1] == '"' || p[1] == '\\')) ++p;
                    w += *p++;
                }
                if (!*p) {
                    if (error) *error = "unclosed quote";
                    words->clear();
                    return false;
                }
                ++p;   // closing quote
            } else {
                w += *p++;
            }
        }
        words->push_back(std::move(w));
    }
}

bool shell_parseLong(const char* text, long lo, long hi, long* out) {
    if (!text || !*text || !out) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

int shell_runLine(const char* line) {
    RunHold hold;
    return runLineHeld(line);
}

namespace {

int runLineHeld(const char* line) {
    std::vector<std::string> words;
    std::string error;
    if (!shell_splitLine(line, &words, &error)) {
        printf("shell: %s in: %s\n", error.c_str(), line);
        return -1;
    }
    if (words.empty()) return 0;
    ShellFunc fn = nullptr;
    {
        std::lock_guard<std::mutex> lk(gTableMx);
        auto it = table().find(words[0]);
        if (it != table().end()) fn = it->second;
    }
    if (!fn) {
        printf("shell: unknown command '%s'\n", words[0].c_str());
        return -1;
    }
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int rc = fn(static_cast<int>(words.size()), argv.data());
    fflush(stdout);
    return rc;
}

}  // namespace

int shell_runLineCapture(const char* line, std::string* output, const std::function<void()>& offTurn) {
    if (output) output->clear();
    int rc = 0;
    int failure = 0;
    {
        RunHold hold;
        StdoutCapture cap;
        RunningLine me{&hold, &cap, &offTurn};
        RunningLine* const outer = tRunning;
        tRunning = &me;
        rc = runLineHeld(line);
        tRunning = outer;
        failure = cap.end(output);
    }
    // logged after the shell's turn is given up: a full log queue may wait
    if (failure)
        syslogx(147, "shell: the output of '%s' could not be captured (%s): it went to the device's standard output",
                line ? line : "", strerror(failure));
    return rc;
}

bool shell_waitOffTurn(const std::function<bool()>& wait) {
    RunningLine* const r = tRunning;
    if (!r || tRunDepth != 1) return wait();
    // given up here, taken again however the wait ends
    struct OffTurn {
        RunningLine* line;
        explicit OffTurn(RunningLine* l) : line(l) {
            line->capture->pause();
            tRunning = nullptr;
            --tRunDepth;
            line->hold->lk.unlock();
        }
        ~OffTurn() {
            line->hold->lk.lock();
            ++tRunDepth;
            tRunning = line;
            line->capture->resume();
        }
        OffTurn(const OffTurn&) = delete;
        OffTurn& operator=(const OffTurn&) = delete;
    } off(r);
    if (*r->offTurn) (*r->offTurn)();
    return wait();
}
