// The kernel side's disk-format service: the logging asks it at boot to
// reformat a drive whose directory size differs from the configured one and
// waits for the answer. A host folder has no directory of fixed size and its
// files belong to the user: the drive is recorded as formatted for the size
// asked for (so its statistics answer that size from now on, also after a
// restart) and the request is answered at once; no file is touched. A size
// that cannot be recorded is told with the file it failed on.
#include "host/kernel/kernel.h"
#include "host/os/os.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace host {

namespace {

constexpr size_t kRequestSize = 17;
constexpr int kQueueDepth = 4;
constexpr int kPollTicks = 50;   // the stop flag is seen this often

std::mutex mx;
std::condition_variable ended;
std::thread worker;
bool running = false;          // the worker is in its loop (under mx)
std::string busyWith;          // the write it does now, "" between requests (under mx)
std::atomic<bool> stopping{false};
std::vector<std::vector<uint8_t>> served;
constexpr uint32_t kEntriesPerUnit = 340;
constexpr size_t kDriveNameMax = 16;

// Records the drive of a request as formatted for its size; a size that
// cannot be recorded is told (the drive keeps the size it had, and the next
// boot asks again).
void format(const uint8_t* req, size_t len, FormatSizeSource sizeOf, FormatFailureSink onFailure) {
    if (len < kRequestSize || req[0] == 0) return;
    char drive[kDriveNameMax + 1] = {};
    std::memcpy(drive, req + 1, kDriveNameMax);   // zero-padded, not always terminated
    if (!driveAvailable(drive)) return;
    const std::string what = "the write of drive_format.cfg recording " + std::string(drive) + " as formatted";
    {
        std::lock_guard<std::mutex> lk(mx);
        busyWith = what;
    }
    const uint32_t asked = sizeOf ? sizeOf(drive, req[0]) : 0;
    const uint32_t size = asked ? asked : req[0] * kEntriesPerUnit;
    {
        std::lock_guard<std::mutex> lk(mx);
        busyWith = what + " for " + std::to_string(size) + " entries";
    }
    std::string why;
    const bool recorded = setDriveDirectorySize(drive, size, &why);
    {
        std::lock_guard<std::mutex> lk(mx);
        busyWith.clear();
    }
    if (recorded) return;
    if (onFailure)
        onFailure(drive, size, why.c_str());
    else
        std::fprintf(stderr, "format service: %s not recorded as formatted for %u entries: %s\n", drive,
                     unsigned(size), why.c_str());
}

void serve(MSG_Q_ID requests, MSG_Q_ID answers, FormatSizeSource sizeOf, FormatFailureSink onFailure) {
    uint8_t buf[kRequestSize];
    while (!stopping.load()) {
        long n = msgQReceive(requests, buf, sizeof buf, kPollTicks);
        if (n <= 0) continue;
        format(buf, size_t(n), sizeOf, onFailure);
        {
            std::lock_guard<std::mutex> lk(mx);
            served.emplace_back(buf, buf + n);
        }
        msgQSend(answers, buf, static_cast<size_t>(n), 1000, MSG_PRI_NORMAL);
    }
    msgQClose(requests);
    msgQClose(answers);
    std::lock_guard<std::mutex> lk(mx);
    running = false;
    ended.notify_all();
}

}  // namespace

void startFormatService(FormatSizeSource sizeOf, FormatFailureSink onFailure) {
    std::lock_guard<std::mutex> lk(mx);
    if (worker.joinable()) return;
    MSG_Q_ID requests = msgQOpen("/MeasAppFormat", kQueueDepth, kRequestSize, MSG_Q_FIFO, OM_CREATE);
    MSG_Q_ID answers = msgQOpen("/MeasAppFormatAck", kQueueDepth, kRequestSize, MSG_Q_FIFO, OM_CREATE);
    if (!requests || !answers) {
        if (requests) msgQClose(requests);
        if (answers) msgQClose(answers);
        return;
    }
    served.clear();
    stopping = false;
    running = true;
    worker = std::thread(serve, requests, answers, sizeOf, onFailure);
}

bool stopFormatService(unsigned limitMs, std::string* left) {
    std::unique_lock<std::mutex> lk(mx);
    stopping = true;
    if (!ended.wait_for(lk, std::chrono::milliseconds(limitMs), [] { return !running; })) {
        // The disk holds the write up: the worker is left to it and the
        // process ends without it (its request stays unanswered).
        if (left) *left = busyWith.empty() ? "a request" : busyWith;
        if (worker.joinable()) worker.detach();
        return false;
    }
    std::thread t = std::move(worker);
    lk.unlock();
    if (t.joinable()) t.join();   // it has left its loop: no wait
    return true;
}

void stopFormatService() {
    std::thread t;
    {
        std::lock_guard<std::mutex> lk(mx);
        stopping = true;
        t = std::move(worker);
    }
    if (t.joinable()) t.join();
}

std::vector<std::vector<uint8_t>> formatRequestsServed() {
    std::lock_guard<std::mutex> lk(mx);
    return served;
}

}  // namespace host
