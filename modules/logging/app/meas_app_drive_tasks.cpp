// Tasks for what the logging raster sees but must not do itself, as it looks
// at drives (a USB drive's arrival, a split with its search for free names):
// a slow drive must not stall the raster. The shutdown waits a while for
// those still running, and none starts after that until the raster entries
// are made again.
#include "logging/app/meas_app_internal.h"
#include "platform/syslogx.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

// How long the logging's shutdown waits for the tasks still running (their
// splits and copies go before the stop); one stuck at a drive stays.
constexpr int kEndWaitMs = 1000;

struct Started {
    TASK_ID id;
    const char* name;
};

// The tasks started. The lock is held for the look at the list only, never
// across a wait: the raster that starts them takes it too.
std::mutex gTasksMx;
std::vector<Started> gTasks;
bool gTasksEnded = false;

}  // namespace

bool meas_app_driveTask(const char* name, const char* what, std::function<void()> body) {
    enum { STARTED, ENDED, FAILED } outcome = STARTED;
    {
        std::lock_guard<std::mutex> lk(gTasksMx);
        if (gTasksEnded) {
            outcome = ENDED;
        } else {
            // the ids of those that ended by themselves go (an id is never reused)
            gTasks.erase(std::remove_if(gTasks.begin(), gTasks.end(),
                                        [](const Started& t) { return taskWait(t.id, NO_WAIT) == OK; }),
                         gTasks.end());
            TASK_ID t = taskSpawn(name, 160, VX_FP_TASK, 20480, std::move(body));
            if (t) gTasks.push_back({t, name});
            else outcome = FAILED;
        }
    }
    // logged outside the lock: a full log queue may hold the caller a while
    if (outcome == ENDED) syslogx(150, "meas_app_driveTask(): the logging has ended, %s is not made", what);
    if (outcome == FAILED) syslogx(147, "meas_app_driveTask(): start of %s task failed, %s is not made", name, what);
    return outcome == STARTED;
}

void meas_app_endDriveTasks() {
    std::vector<Started> running;
    {
        std::lock_guard<std::mutex> lk(gTasksMx);
        gTasksEnded = true;
        running.swap(gTasks);
    }
    const uint64_t until = tickGet() + uint64_t(kEndWaitMs) * sysClkRateGet() / 1000;
    for (const Started& t : running) {
        const uint64_t now = tickGet();
        if (taskWait(t.id, now < until ? int(until - now) : NO_WAIT) != OK)
            syslogx(148, "meas_app_endDriveTasks(): %s still waits for a drive at the stop: what it makes may not be "
                         "made",
                    t.name);
    }
}

void meas_app_allowDriveTasks() {
    std::lock_guard<std::mutex> lk(gTasksMx);
    gTasksEnded = false;
}
