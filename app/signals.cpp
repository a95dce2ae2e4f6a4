#include "signals.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace {

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void signals_blockTermination() {
    // a shell starts background jobs with SIGINT ignored; take it back
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void signals_startWatcher(void (*onSignal)()) {
    std::thread([onSignal] {
        sigset_t set = terminationSignals();
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) == 0) onSignal();
        }
    }).detach();
}
