// The evaluation-module scheduler's run state.
#include <atomic>

#include "awm/awm.h"
#include "measurement/seram.h"

namespace {
std::atomic<int> gRunning{0};
}

void awm_man_stop() { gRunning = 0; }
int awm_man_running() { return gRunning; }

void awm_man_start() {
    // A download to the active page's start stops the scheduler again.
    seramSetAwmHooks(awm_man_stop, nullptr);
    gRunning = 1;
}

void softSchedSyncTo100ms(uint32_t) {}
