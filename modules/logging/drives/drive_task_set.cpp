#include "logging/drives/drive_task_set.h"

#include <algorithm>

DriveTaskSet::Start DriveTaskSet::start(const char* name, std::function<void()> body) {
    std::lock_guard<std::mutex> lk(mx_);
    if (closed_) return Start::Closed;
    // an id is never reused: one that ended is gone for good
    tasks_.erase(std::remove_if(tasks_.begin(), tasks_.end(),
                                [](const Running& t) { return taskWait(t.id, NO_WAIT) == OK; }),
                 tasks_.end());
    TASK_ID t = taskSpawn(name, 160, VX_FP_TASK, 20480, std::move(body));
    if (!t) return Start::Failed;
    tasks_.push_back({t, name});
    return Start::Started;
}

std::vector<DriveTaskSet::Running> DriveTaskSet::close() {
    std::lock_guard<std::mutex> lk(mx_);
    closed_ = true;
    std::vector<Running> running;
    running.swap(tasks_);
    return running;
}

void DriveTaskSet::open() {
    std::lock_guard<std::mutex> lk(mx_);
    closed_ = false;
}
