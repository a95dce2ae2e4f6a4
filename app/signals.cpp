#include "signals.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

#include "platform/stop_priority.h"

namespace {

// Ctrl-C, kill, a terminal that closes or a lost remote session (SIGHUP),
// Ctrl-\ (SIGQUIT): each ends the device in its orderly shutdown, so that
// the measurement files are closed whole and the shell socket goes.
constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// SIGHUP ignored from the start (nohup) asks the device to outlive its
// terminal: it stays ignored. Set before any thread exists.
bool gKeepHangupIgnored = false;

bool watched(int sig) { return !(sig == SIGHUP && gKeepHangupIgnored); }

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kTerminationSignals)
        if (watched(sig)) sigaddset(&set, sig);
    return set;
}

}  // namespace

void signals_blockTermination() {
    struct sigaction hangup {};
    gKeepHangupIgnored = sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler == SIG_IGN;
    // Blocked before their action is set back: a signal that comes in
    // between then stays pending instead of ending the process at once.
    sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // a shell starts background jobs with SIGINT and SIGQUIT ignored: take
    // them back, the watcher waits for them
    for (int sig : kTerminationSignals)
        if (watched(sig)) signal(sig, SIG_DFL);
    signal(SIGPIPE, SIG_IGN);
}

void signals_startWatcher(void (*onSignal)()) {
    std::thread([onSignal] {
        // taken at once, whatever the device's tasks do: the stop's budget
        // counts from here
        stopPriority_raiseSelf("stopSignals");
        sigset_t set = terminationSignals();
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) == 0) onSignal();
        }
    }).detach();
}
