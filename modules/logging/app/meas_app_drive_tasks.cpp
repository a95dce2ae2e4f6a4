// Tasks for what the logging raster sees but must not do itself, as it looks
// at drives (a USB drive's arrival, a split with its search for free names):
// a slow drive must not stall the raster. The shutdown waits a while for
// those still running, and none starts after that until the raster entries
// are made again.
#include "logging/app/meas_app_internal.h"
#include "logging/drives/drive_task_set.h"
#include "platform/syslogx.h"

namespace {

// How long the logging's shutdown waits for the tasks still running (their
// splits and copies go before the stop); one stuck at a drive stays.
constexpr int kEndWaitMs = 1000;

// The tasks started; the shutdown closes the set.
DriveTaskSet gTasks;

}  // namespace

bool meas_app_driveTask(const char* name, const char* what, std::function<void()> body) {
    const DriveTaskSet::Start outcome = gTasks.start(name, std::move(body));
    // logged outside the set's lock: a full log queue may hold the caller a while
    if (outcome == DriveTaskSet::Start::Closed)
        syslogx(150, "meas_app_driveTask(): the logging has ended, %s is not made", what);
    if (outcome == DriveTaskSet::Start::Failed)
        syslogx(147, "meas_app_driveTask(): start of %s task failed, %s is not made", name, what);
    return outcome == DriveTaskSet::Start::Started;
}

void meas_app_endDriveTasks() {
    const auto running = gTasks.close();
    const uint64_t until = tickGet() + uint64_t(kEndWaitMs) * sysClkRateGet() / 1000;
    for (const DriveTaskSet::Running& t : running) {
        const uint64_t now = tickGet();
        if (taskWait(t.id, now < until ? int(until - now) : NO_WAIT) != OK)
            syslogx(148, "meas_app_endDriveTasks(): %s still waits for a drive at the stop: what it makes may not be "
                         "made",
                    t.name);
    }
}

void meas_app_allowDriveTasks() { gTasks.open(); }
